#include "tests/support/app_desktop_sandbox.h"

#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "agent_core/app_wire_handler.h"
#include "tests/support/child_process.h"

namespace velopad::testing {
namespace {

namespace fs = std::filesystem;

// The environment with DISPLAY set to `display` or removed.
std::vector<std::string> environmentWithDisplay(const std::optional<std::string>& display) {
    auto entries = environmentWithout({"DISPLAY"});
    if (display) entries.push_back("DISPLAY=" + *display);
    return entries;
}

bool isGoneOrZombie(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    if (!stat) return true;
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    const auto close = text.rfind(')');
    return close != std::string::npos && close + 2 < text.size() && text[close + 2] == 'Z';
}

}  // namespace

AppDesktopSandbox::AppDesktopSandbox() {
    const fs::path root = sandbox_.root();
    fs::create_directories(userApplications());
    fs::create_directories(systemApplications(0));
    fs::create_directories(systemApplications(1));
    fs::create_directories(root / "records");
    sandbox_.setEnv("XDG_DATA_DIRS",
                    (root / "system-a").string() + ":" + (root / "system-b").string());
    sandbox_.setEnv("XDG_CONFIG_DIRS", (root / "config-dirs").string());
    sandbox_.setEnv("XDG_CURRENT_DESKTOP", std::nullopt);
    sandbox_.setEnv("DISPLAY", std::nullopt);
    sandbox_.setEnv("WAYLAND_DISPLAY", std::nullopt);
    sandbox_.setEnv("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + (root / "no-bus").string());
}

fs::path AppDesktopSandbox::userApplications() const {
    return sandbox_.dataHome() / "applications";
}

fs::path AppDesktopSandbox::systemApplications(int index) const {
    return sandbox_.root() / (index == 0 ? "system-a" : "system-b") / "applications";
}

void AppDesktopSandbox::writeEntry(const fs::path& applications, const std::string& id,
                                   const std::string& body) {
    writeTextFile(applications / (id + ".desktop"), body);
}

std::string AppDesktopSandbox::fakeAppEntry(const std::string& id, const std::string& name,
                                            const std::string& extraLines,
                                            const std::string& extraArguments) {
    // Each application gets its own copy of the program, so that /proc tells them apart.
    const fs::path program = programPath(id);
    fs::create_directories(program.parent_path());
    fs::copy_file(fakeAppPath(), program, fs::copy_options::overwrite_existing);
    std::ostringstream body;
    body << "[Desktop Entry]\nType=Application\nName=" << name << "\nExec=" << program.string()
         << " --record " << recordPath(id).string() << " --title " << fakeAppTitle(id)
         << (extraArguments.empty() ? "" : " ") << extraArguments << "\nIcon=" << id << "\n"
         << extraLines;
    return body.str();
}

fs::path AppDesktopSandbox::recordPath(const std::string& id) const {
    return sandbox_.root() / "records" / (id + ".started");
}

std::string AppDesktopSandbox::dbusAppEntry(const std::string& id, const std::string& name,
                                            const std::string& service) {
    const fs::path program = programPath(id);
    fs::create_directories(program.parent_path());
    fs::copy_file(fs::path(VELOPAD_BINARY_DIR) / "tests" / "dbus_app", program,
                  fs::copy_options::overwrite_existing);
    const std::string command = program.string() + " " + id + " " +
                                (service == "refuse" ? "refuse" : "accept") + " " +
                                recordPath(id).string();
    if (service != "none") {
        writeTextFile(sandbox_.dataHome() / "dbus-1" / "services" / (id + ".service"),
                      "[D-BUS Service]\nName=" + id + "\nExec=" + command + "\n");
    }
    return "[Desktop Entry]\nType=Application\nName=" + name + "\nExec=" + command +
           "\nDBusActivatable=true\n";
}

fs::path AppDesktopSandbox::programPath(const std::string& id) const {
    return sandbox_.root() / "bin" / id;
}

fs::path fakeAppPath() { return fs::path(VELOPAD_BINARY_DIR) / "tests" / "fake_app"; }

std::string fakeAppTitle(const std::string& id) { return "fake-window-" + id; }

std::optional<FakeAppRecord> waitForRecord(const fs::path& path,
                                           std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
        std::ifstream in(path);
        if (in) {
            FakeAppRecord record;
            std::string line;
            while (std::getline(in, line)) {
                if (line.starts_with("pid=")) record.pid = std::stoi(line.substr(4));
                if (line.starts_with("display=")) record.display = line.substr(8);
            }
            if (record.pid > 0) return record;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return std::nullopt;
}

pid_t spawnFakeApp(const std::vector<std::string>& arguments,
                   const std::optional<std::string>& display) {
    std::vector<std::string> argv{fakeAppPath().string()};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return spawnProcess(argv, {}, environmentWithDisplay(display));
}

void adoptOrphans() { ::prctl(PR_SET_CHILD_SUBREAPER, 1); }

void stopProcess(pid_t pid) {
    if (pid <= 0) return;
    ::kill(pid, SIGKILL);
    for (int attempt = 0; attempt < 500; ++attempt) {
        int status = 0;
        const pid_t reaped = ::waitpid(pid, &status, WNOHANG);
        if (reaped == pid || (reaped < 0 && errno == ECHILD && isGoneOrZombie(pid))) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

std::string commandOutput(const std::vector<std::string>& argv,
                          const std::optional<std::string>& display) {
    try {
        return runCapturingOutput(argv, "", environmentWithDisplay(display)).second;
    } catch (const std::exception&) {
        return {};
    }
}

namespace {
constexpr const char* appRequestId = "6F1D2C3B-4A59-4E8F-9D7C-1B2A3C4D5E6F";
}  // namespace

std::string appReply(test::IoThread& io, WorkspaceClient workspace, const std::string& type,
                     const std::string& bundleId) {
    const AppWireHandler wire{AppMessageHandler{AppLauncher{std::move(workspace)}}};
    const std::string payload =
        bundleId.empty() ? std::string("{}") : R"({"bundleId":")" + bundleId + R"("})";
    return io
        .run(wire.handle(R"({"id":")" + std::string(appRequestId) + R"(","payload":)" + payload +
                         R"(,"type":")" + type + R"("})"))
        .value_or("");
}

std::string appOk(const std::string& bundleId) {
    return R"({"id":")" + std::string(appRequestId) + R"(","payload":{"bundleId":")" + bundleId +
           R"("},"type":"app.ok"})";
}

std::string appError(const std::string& bundleId, const std::string& code,
                     const std::string& message) {
    return R"({"id":")" + std::string(appRequestId) + R"(","payload":{"bundleId":")" + bundleId +
           R"(","code":")" + code + R"(","message":")" + message + R"("},"type":"app.error"})";
}

}  // namespace velopad::testing

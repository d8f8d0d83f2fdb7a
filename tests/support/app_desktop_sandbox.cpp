#include "tests/support/app_desktop_sandbox.h"

#include <signal.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace velopad::testing {
namespace {

namespace fs = std::filesystem;

// The environment with DISPLAY set to `display` or removed.
std::vector<std::string> environmentWithDisplay(const std::optional<std::string>& display) {
    std::vector<std::string> entries;
    for (char** entry = environ; *entry; ++entry) {
        if (std::strncmp(*entry, "DISPLAY=", 8) != 0) entries.emplace_back(*entry);
    }
    if (display) entries.push_back("DISPLAY=" + *display);
    return entries;
}

std::vector<char*> pointers(std::vector<std::string>& texts) {
    std::vector<char*> result;
    for (auto& text : texts) result.push_back(text.data());
    result.push_back(nullptr);
    return result;
}

pid_t spawn(std::vector<std::string> argv, const std::optional<std::string>& display,
            posix_spawn_file_actions_t* actions) {
    auto environment = environmentWithDisplay(display);
    auto argvPointers = pointers(argv);
    auto environmentPointers = pointers(environment);
    pid_t pid = 0;
    const int error = posix_spawnp(&pid, argvPointers[0], actions, nullptr, argvPointers.data(),
                                   environmentPointers.data());
    if (error != 0) throw std::runtime_error("cannot start " + argv[0] + ": " + strerror(error));
    return pid;
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
    return spawn(std::move(argv), display, nullptr);
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
    int pipeEnds[2];
    if (::pipe(pipeEnds) != 0) return {};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, pipeEnds[0]);
    pid_t pid = 0;
    try {
        pid = spawn(argv, display, &actions);
    } catch (const std::exception&) {
        pid = 0;
    }
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeEnds[1]);
    std::string output;
    char buffer[4096];
    for (ssize_t n; (n = ::read(pipeEnds[0], buffer, sizeof buffer)) > 0;) output.append(buffer, n);
    ::close(pipeEnds[0]);
    if (pid > 0) ::waitpid(pid, nullptr, 0);
    return output;
}

}  // namespace velopad::testing

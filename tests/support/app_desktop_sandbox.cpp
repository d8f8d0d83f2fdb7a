#include "tests/support/app_desktop_sandbox.h"

#include "agent_core/app_wire_handler.h"

namespace velopad::testing {
namespace fs = std::filesystem;
namespace {

constexpr std::string_view kRequestId = "6F1D2C3B-4A59-4E8F-9D7C-1B2A3C4D5E6F";

// A copy of a helper program of its own for `id`, so that /proc tells the applications apart.
std::string copyProgram(const std::string& helper, const fs::path& copy) {
    fs::create_directories(copy.parent_path());
    fs::copy_file(fs::path(VELOPAD_BINARY_DIR) / "tests" / helper, copy,
                  fs::copy_options::overwrite_existing);
    return copy.string();
}

}  // namespace

AppDesktopSandbox::AppDesktopSandbox() {
    const fs::path root = sandbox_.root();
    for (const auto& folder : {userApplications(), systemApplications(0), systemApplications(1)})
        fs::create_directories(folder);
    fs::create_directories(root / "records");
    sandbox_.setEnv("XDG_DATA_DIRS",
                    (root / "system-a").string() + ":" + (root / "system-b").string());
    sandbox_.setEnv("XDG_CONFIG_DIRS", (root / "config-dirs").string());
    for (const char* name : {"XDG_CURRENT_DESKTOP", "DISPLAY", "WAYLAND_DISPLAY"})
        sandbox_.setEnv(name, std::nullopt);
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
    return "[Desktop Entry]\nType=Application\nName=" + name +
           "\nExec=" + copyProgram("fake_app", programPath(id)) + " --record " +
           recordPath(id).string() + " --title " + fakeAppTitle(id) +
           (extraArguments.empty() ? "" : " " + extraArguments) + "\nIcon=" + id + "\n" +
           extraLines;
}

std::string AppDesktopSandbox::dbusAppEntry(const std::string& id, const std::string& name,
                                            const std::string& service) {
    const std::string command = copyProgram("fake_app", programPath(id)) + " --dbus " + id +
                                " --record " + recordPath(id).string() +
                                (service == "refuse" ? " --refuse yes" : "");
    if (service != "none") {
        writeTextFile(sandbox_.dataHome() / "dbus-1" / "services" / (id + ".service"),
                      "[D-BUS Service]\nName=" + id + "\nExec=" + command + "\n");
    }
    return "[Desktop Entry]\nType=Application\nName=" + name + "\nExec=" + command +
           "\nDBusActivatable=true\n";
}

fs::path AppDesktopSandbox::recordPath(const std::string& id) const {
    return sandbox_.root() / "records" / (id + ".started");
}

fs::path AppDesktopSandbox::programPath(const std::string& id) const {
    return sandbox_.root() / "bin" / id;
}

std::string appReply(test::IoThread& io, WorkspaceClient workspace, const std::string& type,
                     const std::string& bundleId) {
    const AppWireHandler wire{AppMessageHandler{AppLauncher{std::move(workspace)}}};
    const std::string payload = bundleId.empty() ? "{}" : R"({"bundleId":")" + bundleId + R"("})";
    return io
        .run(wire.handle(R"({"id":")" + std::string(kRequestId) + R"(","payload":)" + payload +
                         R"(,"type":")" + type + R"("})"))
        .value_or("");
}

std::string appOk(const std::string& bundleId) {
    return R"({"id":")" + std::string(kRequestId) + R"(","payload":{"bundleId":")" + bundleId +
           R"("},"type":"app.ok"})";
}

std::string appError(const std::string& bundleId, const std::string& code,
                     const std::string& message) {
    return R"({"id":")" + std::string(kRequestId) + R"(","payload":{"bundleId":")" + bundleId +
           R"(","code":")" + code + R"(","message":")" + message + R"("},"type":"app.error"})";
}

}  // namespace velopad::testing

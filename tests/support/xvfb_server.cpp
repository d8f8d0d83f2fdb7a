#include "tests/support/xvfb_server.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <vector>

#include "tests/support/app_test_processes.h"
#include "tests/support/child_process.h"

namespace velopad::testing {
namespace {

struct DisplayCloser {
    void operator()(Display* display) const { XCloseDisplay(display); }
};
using DisplayHandle = std::unique_ptr<Display, DisplayCloser>;

bool onPath(const std::string& program) {
    const char* path = std::getenv("PATH");
    std::string directories = path ? path : "/usr/bin:/bin";
    std::size_t start = 0;
    while (start <= directories.size()) {
        auto end = directories.find(':', start);
        if (end == std::string::npos) end = directories.size();
        const std::string candidate = directories.substr(start, end - start) + "/" + program;
        if (::access(candidate.c_str(), X_OK) == 0) return true;
        start = end + 1;
    }
    return false;
}

// This process's environment with DISPLAY replaced. The XDG search paths are dropped: tests
// point them at private folders, and openbox must find its configuration and theme in /etc and
// /usr/share (without a theme it quits).
std::vector<std::string> serviceEnvironment(const std::optional<std::string>& display) {
    auto entries = environmentWithout({"DISPLAY", "XDG_CONFIG_DIRS", "XDG_DATA_DIRS"});
    if (display) entries.push_back("DISPLAY=" + *display);
    return entries;
}

std::optional<unsigned long> windowProperty(Display* display, Window window, const char* name) {
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    std::optional<unsigned long> value;
    if (XGetWindowProperty(display, window, XInternAtom(display, name, False), 0, 1, False,
                           XA_WINDOW, &type, &format, &count, &after, &data) == Success &&
        data && count == 1 && format == 32) {
        value = *reinterpret_cast<unsigned long*>(data);
    }
    if (data) XFree(data);
    return value;
}

}  // namespace

bool XvfbServer::available(WindowManager windowManager) {
    return onPath("Xvfb") && (windowManager == WindowManager::none || onPath("openbox"));
}

XvfbServer::XvfbServer(WindowManager windowManager) {
    int pipeEnds[2];
    if (::pipe2(pipeEnds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    // Only the write end goes to Xvfb: a duplicate without close-on-exec.
    const int writeEnd = ::fcntl(pipeEnds[1], F_DUPFD, 3);
    ::close(pipeEnds[1]);
    try {
        server_ = spawnProcess({"Xvfb", "-displayfd", std::to_string(writeEnd), "-screen", "0",
                                "640x480x24", "-nolisten", "tcp", "-noreset"},
                               {}, serviceEnvironment(std::nullopt));
        ::close(writeEnd);
        // Xvfb writes its display number once it accepts connections.
        display_ = ":" + readLineFrom(pipeEnds[0], std::chrono::seconds(10));
        ::close(pipeEnds[0]);
    } catch (...) {
        if (server_ <= 0) ::close(writeEnd);
        ::close(pipeEnds[0]);
        stop();
        throw;
    }
    if (windowManager == WindowManager::none) return;

    // openbox runs its --startup command once it manages windows; its root properties appear
    // earlier, and a window mapped in between may never be shown.
    const std::filesystem::path ready =
        std::filesystem::temp_directory_path() /
        ("velopad-openbox-ready-" + std::to_string(::getpid()) + "-" + display_.substr(1));
    std::filesystem::remove(ready);
    windowManager_ =
        spawnProcess({"openbox", "--sm-disable", "--startup", "touch " + ready.string()}, {},
                     serviceEnvironment(display_));
    const bool managing = waitUntil([&] {
        if (::waitpid(windowManager_, nullptr, WNOHANG) != 0) windowManager_ = -1;  // it ended
        return windowManager_ < 0 || std::filesystem::exists(ready);
    });
    if (managing && windowManager_ > 0) {
        std::filesystem::remove(ready);
        return;
    }
    stop();
    throw std::runtime_error("openbox did not take over the display");
}

XvfbServer::~XvfbServer() { stop(); }

void XvfbServer::stop() {
    stopChild(windowManager_);
    stopChild(server_);
}

std::optional<unsigned long> XvfbServer::activeWindow() const {
    DisplayHandle connection(XOpenDisplay(display_.c_str()));
    if (!connection) return std::nullopt;
    return windowProperty(connection.get(), DefaultRootWindow(connection.get()),
                          "_NET_ACTIVE_WINDOW");
}

unsigned long XvfbServer::focusedWindow() const {
    DisplayHandle connection(XOpenDisplay(display_.c_str()));
    if (!connection) return 0;
    Window focused = 0;
    int revert = 0;
    XGetInputFocus(connection.get(), &focused, &revert);
    return focused;
}

std::optional<unsigned long> XvfbServer::windowTitled(const std::string& title) const {
    const std::string output =
        commandOutput({"xdotool", "search", "--name", "^" + title + "$"}, display_);
    if (output.empty()) return std::nullopt;
    return std::stoul(output.substr(0, output.find('\n')));
}

}  // namespace velopad::testing

#include "tests/support/xvfb_server.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <thread>
#include <vector>

#include "tests/support/app_test_processes.h"
#include "tests/support/child_process.h"

namespace velopad::testing {
namespace {

using Clock = std::chrono::steady_clock;

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

// Reads the display number Xvfb writes once it accepts connections.
std::string readDisplayNumber(int fd, Clock::time_point deadline) {
    std::string text;
    while (text.find('\n') == std::string::npos) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        pollfd descriptor{fd, POLLIN, 0};
        if (left.count() <= 0 || ::poll(&descriptor, 1, static_cast<int>(left.count())) <= 0) {
            throw std::runtime_error("Xvfb did not report its display");
        }
        char buffer[32];
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n <= 0) throw std::runtime_error("Xvfb ended before reporting its display");
        text.append(buffer, static_cast<std::size_t>(n));
    }
    return text.substr(0, text.find('\n'));
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
    const auto deadline = Clock::now() + std::chrono::seconds(10);
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
        display_ = ":" + readDisplayNumber(pipeEnds[0], deadline);
        ::close(pipeEnds[0]);
    } catch (...) {
        ::close(writeEnd);
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
    while (Clock::now() < deadline) {
        if (::waitpid(windowManager_, nullptr, WNOHANG) != 0) {
            windowManager_ = 0;  // it ended (and is reaped)
            break;
        }
        if (std::filesystem::exists(ready)) {
            std::filesystem::remove(ready);
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    stop();
    throw std::runtime_error("openbox did not take over the display");
}

XvfbServer::~XvfbServer() { stop(); }

void XvfbServer::stop() {
    for (pid_t* pid : {&windowManager_, &server_}) {
        if (*pid <= 0) continue;
        ::kill(*pid, SIGTERM);
        ::waitpid(*pid, nullptr, 0);
        *pid = 0;
    }
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

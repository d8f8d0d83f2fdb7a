#include "app/stop_signals.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <system_error>

namespace velopad {
namespace {

// Written by the signal handler, read after the wake-up byte: async-signal-safe by design.
std::atomic<int> writeEnd{-1};
std::atomic<int> caughtSignal{0};
std::atomic<pid_t> sender{0};

void onStopSignal(int signal, siginfo_t* info, void*) {
    const int savedErrno = errno;
    int expected = 0;
    if (caughtSignal.compare_exchange_strong(expected, signal)) {
        sender = info ? info->si_pid : 0;
        const int fd = writeEnd.load();
        const char byte = 1;
        if (fd >= 0) [[maybe_unused]]
            auto written = ::write(fd, &byte, 1);
    }
    errno = savedErrno;
}

std::string processName(pid_t pid) {
    std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
    std::string name;
    std::getline(comm, name);
    return name;
}

std::string describe(int signal, pid_t from) {
    std::string text = signal == SIGINT ? "SIGINT" : "SIGTERM";
    if (from > 0) {
        text += " from process " + std::to_string(from);
        if (const auto name = processName(from); !name.empty()) text += " (" + name + ")";
    } else {
        text += " from the terminal or the kernel";
    }
    return text;
}

}  // namespace

StopSignals::StopSignals(Executor executor) : wakeup_(executor) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) {
        throw std::system_error(errno, std::generic_category(), "Could not watch for signals");
    }
    wakeup_.assign(fds[0]);
    writeEnd = fds[1];
    caughtSignal = 0;
    struct sigaction action {};
    action.sa_sigaction = onStopSignal;
    action.sa_flags = SA_SIGINFO | SA_RESTART;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
}

StopSignals::~StopSignals() {
    ::signal(SIGINT, SIG_DFL);
    ::signal(SIGTERM, SIG_DFL);
    const int fd = writeEnd.exchange(-1);
    if (fd >= 0) ::close(fd);
}

void StopSignals::asyncWait(std::function<void(const std::string&)> handler) {
    auto byte = std::make_shared<char>();
    wakeup_.async_read_some(
        asio::buffer(byte.get(), 1),
        [byte, handler = std::move(handler)](const boost::system::error_code& error, std::size_t) {
            if (error) return;  // cancelled
            handler(describe(caughtSignal.load(), sender.load()));
        });
}

void StopSignals::cancel() {
    boost::system::error_code ignored;
    wakeup_.cancel(ignored);
}

}  // namespace velopad

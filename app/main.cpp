// velopad-agent: turns a phone into a deck of keys for this computer.

#include <unistd.h>

#include <atomic>
#include <boost/asio/as_tuple.hpp>
#include <boost/asio/detached.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/posix/stream_descriptor.hpp>
#include <boost/asio/read_until.hpp>
#include <boost/asio/streambuf.hpp>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <istream>
#include <optional>
#include <thread>
#include <vector>

#include "app/agent.h"
#include "app/panel/program_paths.h"
#include "app/single_instance_guard.h"
#include "app/stop_signals.h"
#include "app/terminal/headless_front_end.h"

namespace {

using namespace velopad;

bool hasDisplay() {
    const char* x11 = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    return (x11 && *x11) || (wayland && *wayland);
}

// Reads command lines from standard input until it ends; the agent keeps running after that.
Task<void> readCommands(asio::posix::stream_descriptor& input, HeadlessFrontEnd& frontEnd) {
    asio::streambuf buffer(4096);
    for (;;) {
        auto [error, size] = co_await asio::async_read_until(input, buffer, '\n',
                                                             asio::as_tuple(asio::use_awaitable));
        if (error && size == 0) co_return;
        std::istream stream(&buffer);
        std::string line;
        std::getline(stream, line);
        frontEnd.command(line);
        if (error) co_return;
    }
}

int usage(std::ostream& out, int status) {
    out << "Usage: velopad-agent [--headless]\n"
           "  --headless   run in this terminal: print the PIN, the pairing URL and its QR code,\n"
           "               and read commands from standard input.\n"
        << HeadlessFrontEnd::helpText() << "\n";
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    bool headless = !hasDisplay();
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--headless") == 0) {
            headless = true;
        } else if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            return usage(std::cout, 0);
        } else {
            return usage(std::cerr, 2);
        }
    }
    const auto self = currentExecutable();
    const auto desktop = desktopProgramFor(self);
    if (!headless) {
        // The tray lives in its own program, so this one never loads Qt.
        if (desktop) {
            const std::string program = desktop->string();
            const std::string launcher = self.string();
            char* const arguments[] = {const_cast<char*>(program.c_str()),
                                       const_cast<char*>("--launcher"),
                                       const_cast<char*>(launcher.c_str()), nullptr};
            ::execv(program.c_str(), arguments);
            std::cout << "Could not start " << program << " (" << std::strerror(errno)
                      << "); running in the terminal.\n";
        } else {
            std::cout << "The desktop panel is not installed; running in the terminal.\n";
        }
    }
    std::signal(SIGPIPE, SIG_IGN);

    // Any other copy goes, in the terminal or on the desktop.
    std::vector<std::filesystem::path> copies{self};
    if (desktop) copies.push_back(*desktop);
    SingleInstanceGuard::enforceAll(copies, SingleInstanceGuard::defaultPort);

    // Declared first so that it outlives every strand of the agent.
    asio::io_context io(1);
    asio::thread_pool pool(4);
    Agent agent(io.get_executor(), pool);
    StopSignals signals(io.get_executor());
    std::string stopReason;
    asio::posix::stream_descriptor input(io);

    // Quitting closes the listener and every connection, then lets what is still in flight
    // finish; whatever has not finished after a few seconds (a long Shortcut, say) is abandoned.
    std::atomic<bool> drained = false;
    std::atomic<bool> abandoned = false;
    std::optional<std::jthread> watchdog;
    bool quitting = false;
    auto quit = [&] {
        if (quitting) return;
        quitting = true;
        boost::system::error_code ignored;
        signals.cancel();
        input.close(ignored);
        asio::co_spawn(io, agent.shutdown(), asio::detached);
        watchdog.emplace([&io, &drained, &abandoned] {
            for (int i = 0; i < 300 && !drained; ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            if (!drained) {
                abandoned = true;
                io.stop();
            }
        });
    };

    HeadlessFrontEnd frontEnd(agent.sharedViewModel(), std::cout, quit);
    agent.viewModel().observe([&frontEnd](const AgentViewState& state) { frontEnd.render(state); });

    signals.asyncWait([&](const std::string& description) {
        stopReason = description;
        quit();
    });

    boost::system::error_code inputError;
    input.assign(::dup(STDIN_FILENO), inputError);
    if (!inputError) {
        // Commands come in as lines; once standard input ends the agent simply keeps running.
        asio::co_spawn(io, readCommands(input, frontEnd), asio::detached);
    }  // standard input that cannot be watched (a file, /dev/null) carries no commands

    agent.start();
    io.run();
    drained = true;
    std::cout << "Velopad Agent stopped." << std::endl;
    if (!stopReason.empty()) std::cerr << "velopad-agent: stopped by " << stopReason << ".\n";
    if (abandoned) std::_Exit(0);  // work still in flight refers to the agent: leave it be
    pool.join();
    return 0;
}

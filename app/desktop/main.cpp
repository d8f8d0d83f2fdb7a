// velopad-agent-desktop: the agent with its tray item, panel and deck editor. Started by
// velopad-agent when there is a display.

#include <fcntl.h>
#include <unistd.h>

#include <QApplication>
#include <QSocketNotifier>
#include <QTimer>
#include <atomic>
#include <boost/asio/detached.hpp>
#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <chrono>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <thread>

#include "app/agent.h"
#include "app/desktop/desktop_shell.h"
#include "app/desktop/editor/deck_editor_window_presenter.h"
#include "app/desktop/fonts.h"
#include "app/panel/autostart_entry.h"
#include "app/panel/program_paths.h"
#include "app/single_instance_guard.h"

namespace {

using namespace velopad;

int signalPipe[2] = {-1, -1};

void onQuitSignal(int) {
    const char byte = 1;
    [[maybe_unused]] const auto written = ::write(signalPipe[1], &byte, 1);
}

// SIGTERM and SIGINT end the event loop through a pipe the GUI thread watches.
void catchQuitSignals() {
    if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
    struct sigaction action {};
    action.sa_handler = onQuitSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
}

}  // namespace

int main(int argc, char** argv) {
    std::filesystem::path launcher;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--launcher") == 0 && i + 1 < argc) launcher = argv[++i];
    }
    const auto self = currentExecutable();
    if (launcher.empty()) launcher = launcherProgramFor(self).value_or(self);

    std::signal(SIGPIPE, SIG_IGN);
    catchQuitSignals();
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Velopad Agent"));
    QApplication::setDesktopFileName(QStringLiteral("velopad-agent"));
    QApplication::setQuitOnLastWindowClosed(false);

    // Start-up order: type faces, other copies, then the agent with its store and view model.
    desktop::registerFonts();
    SingleInstanceGuard::enforceAll({self, launcher}, SingleInstanceGuard::defaultPort);

    // The agent runs on its own thread beside the Qt event loop.
    asio::io_context io(1);
    auto work = asio::make_work_guard(io);
    asio::thread_pool pool(4);
    auto agent = std::make_unique<Agent>(io.get_executor(), pool);
    std::atomic<bool> ioDone = false;
    std::thread ioThread([&io, &ioDone] {
        io.run();
        ioDone = true;
    });

    Agent* agentPointer = agent.get();
    auto editor = std::make_unique<desktop::DeckEditorWindowPresenter>(
        [agentPointer] { return agentPointer->deckEditorContext(); });
    bool quitting = false;
    std::atomic<bool> shutDown = false;
    desktop::DesktopShell* shellPointer = nullptr;
    const auto quit = [&] {
        if (quitting) return;
        quitting = true;
        editor->close();
        if (shellPointer) {
            shellPointer->panel().hide();
            if (auto* tray = shellPointer->trayItem()) tray->hide();
        }
        // The agent closes its listener and connections on its own thread; the window goes at
        // once, and the process ends as soon as that is done or the deadline passes.
        asio::co_spawn(io, agent->shutdown(), [&shutDown, &application](std::exception_ptr) {
            shutDown = true;
            QMetaObject::invokeMethod(&application, &QApplication::quit, Qt::QueuedConnection);
        });
        QTimer::singleShot(600, &application, &QApplication::quit);
    };

    desktop::DesktopShellActions actions;
    actions.editDeck = [&editor] { editor->show(); };
    actions.quit = quit;
    actions.isStartAtLoginEnabled = [] { return isAutostartEnabled(); };
    actions.setStartAtLogin = [launcher](bool enabled) { setAutostartEnabled(enabled, launcher); };
    desktop::DesktopShell shell(agent->sharedViewModel(), actions);
    shellPointer = &shell;

    QSocketNotifier quitSignals(signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&quitSignals, &QSocketNotifier::activated, &application, [&] {
        char buffer[16];
        while (::read(signalPipe[0], buffer, sizeof buffer) > 0) {
        }
        quit();
    });

    // The status and errors also go to standard output (the journal, when started by the
    // session), as the terminal front end words them.
    agent->viewModel().observe(
        [last = AgentViewState{}, first = true](const AgentViewState& state) mutable {
            if (first || state.statusText() != last.statusText())
                std::cout << "Status: " << state.statusText() << "\n";
            if (state.listenerError && state.listenerError != last.listenerError)
                std::cout << "Error: " << *state.listenerError << "\n";
            if (state.commandError && state.commandError != last.commandError)
                std::cout << "Error: " << *state.commandError << "\n";
            std::cout.flush();
            last = state;
            first = false;
        });
    agent->start();
    shell.start();
    application.exec();
    if (!quitting) quit();

    // Nothing of the agent may run once it is gone: wait for its thread to run dry, briefly.
    work.reset();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(300);
    while (!ioDone && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    if (!ioDone || !shutDown) {
        // Work still in flight (a long Shortcut, a phone mid-request) refers to the agent:
        // leave it be rather than wait.
        std::cout.flush();
        std::_Exit(0);
    }
    ioThread.join();
    editor.reset();  // the editor's windows refer to the agent's store
    shellPointer = nullptr;
    pool.join();
    agent.reset();
    return 0;
}

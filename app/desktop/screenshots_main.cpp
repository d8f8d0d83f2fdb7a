// velopad-desktop-screenshots <directory>: renders the tray panel in its typical states with the
// real widgets and writes one PNG per state into <directory>.

#include <QApplication>
#include <QDir>
#include <QTimer>
#include <QWindow>
#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <chrono>
#include <filesystem>
#include <iostream>
#include <string_view>
#include <thread>

#include "app/agent.h"
#include "app/desktop/editor/deck_editor_window_presenter.h"
#include "app/desktop/editor/library_list.h"
#include "app/desktop/fonts.h"
#include "app/desktop/panel_window.h"
#include "app/panel/menu_bar_panel_content.h"
#include "protocol/pairing_records.h"

namespace {

using namespace velopad;

AgentViewState unpaired() {
    AgentViewState state;
    state.currentPIN = "482915";
    state.bonjourServiceName = "Studio Desk";
    state.pairingQRString =
        PairingQRPayload{1, "Studio Desk", "Jd3kq0V5rTqg7mZb1xWc8yHn2LpA4sEf6uKoN9iGt0Q"}
            .pairingURL();
    state.isListenerRunning = true;
    return state;
}

AgentViewState paired() {
    AgentViewState state = unpaired();
    state.pairedDevices.push_back(PairedDevice{Uuid::random(), "Ana\u2019s iPhone", {"t"}, {}});
    state.hasConnectedPhone = true;
    return state;
}

// Waits while the event loop runs, so windows map and paint before they are captured.
void settle(int milliseconds) {
    QEventLoop loop;
    QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
    loop.exec();
}

AgentViewState failed() {
    AgentViewState state = unpaired();
    state.isListenerRunning = false;
    state.listenerError = "Port 9847 is already in use. Quit the other Velopad Agent first.";
    return state;
}

}  // namespace

// Milliseconds since `start`.
long long since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 start)
        .count();
}

// Spins the event loop until `done` or 20 s have passed.
template <class Predicate>
void spinUntil(Predicate done) {
    const auto start = std::chrono::steady_clock::now();
    while (!done() && since(start) < 20000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

// How long the panel and the editor take to appear, and the editor to list every application.
int timings(const QDir& scratch) {
    auto start = std::chrono::steady_clock::now();
    {
        desktop::PanelWindow panel;
        panel.render(menuBarPanelContent(unpaired()));
        panel.show();
        spinUntil([&] { return panel.windowHandle() && panel.windowHandle()->isExposed(); });
        QCoreApplication::processEvents();
        std::cout << "panel shown: " << since(start) << " ms\n";
    }
    asio::io_context io(1);
    auto work = asio::make_work_guard(io);
    asio::thread_pool pool(2);
    AgentConfig config;
    config.port = 0;
    config.advertise = false;
    config.decksPath = scratch.filePath(QStringLiteral(".timing-decks.json")).toStdString();
    auto agent = std::make_unique<Agent>(io.get_executor(), pool, config);
    std::thread ioThread([&io] { io.run(); });
    {
        desktop::DeckEditorWindowPresenter editor([&agent] { return agent->deckEditorContext(); });
        start = std::chrono::steady_clock::now();
        editor.show();
        spinUntil([&] {
            return editor.window() && editor.window()->windowHandle() &&
                   editor.window()->windowHandle()->isExposed();
        });
        QCoreApplication::processEvents();
        std::cout << "editor shown: " << since(start) << " ms\n";
        spinUntil([&] { return editor.window()->libraryModel().rowCount() >= 200; });
        std::cout << "editor lists " << editor.window()->libraryModel().rowCount()
                  << " applications: " << since(start) << " ms\n";
        editor.close();
    }
    work.reset();
    io.stop();
    ioThread.join();
    pool.join();
    std::filesystem::remove(*config.decksPath);
    return 0;
}

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    if (argc < 2) {
        std::cerr << "usage: velopad-desktop-screenshots <directory> [--timings]\n";
        return 2;
    }
    desktop::registerFonts();
    if (argc > 2 && std::string_view(argv[2]) == "--timings")
        return timings(QDir(QString::fromLocal8Bit(argv[1])));
    const QDir directory(QString::fromLocal8Bit(argv[1]));
    int written = 0;
    const std::pair<const char*, AgentViewState> states[] = {
        {"panel-unpaired.png", unpaired()},
        {"panel-paired.png", paired()},
        {"panel-failed.png", failed()},
    };
    for (const auto& [name, state] : states) {
        desktop::PanelWindow panel;
        panel.render(menuBarPanelContent(state));
        panel.move(40, 40);
        panel.show();
        settle(300);
        if (panel.grab().save(directory.filePath(QString::fromLatin1(name)))) ++written;
        panel.hide();
    }

    // The deck editor over a real agent (not listening) with its decks in a scratch file.
    {
        asio::io_context io(1);
        auto work = asio::make_work_guard(io);
        asio::thread_pool pool(2);
        AgentConfig config;
        config.port = 0;
        config.advertise = false;
        config.decksPath = directory.filePath(QStringLiteral(".decks.json")).toStdString();
        auto agent = std::make_unique<Agent>(io.get_executor(), pool, config);
        std::thread ioThread([&io] { io.run(); });
        {
            desktop::DeckEditorWindowPresenter editor(
                [&agent] { return agent->deckEditorContext(); });
            editor.show();
            settle(4000);  // the library scans applications and Shortcuts meanwhile
            if (editor.window() &&
                editor.window()->grab().save(directory.filePath(QStringLiteral("editor.png"))))
                ++written;
            editor.close();
            settle(200);
        }
        work.reset();
        io.stop();
        ioThread.join();
        pool.join();
        std::filesystem::remove(*config.decksPath);
    }

    std::cout << written << " screenshots written to " << argv[1] << "\n";
    return written == 4 ? 0 : 1;
}

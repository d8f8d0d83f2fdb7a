// velopad-desktop-screenshots <directory>: renders the tray panel in its typical states with the
// real widgets and writes one PNG per state into <directory>.

#include <QApplication>
#include <QDir>
#include <QTimer>
#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <filesystem>
#include <iostream>
#include <thread>

#include "app/agent.h"
#include "app/desktop/editor/deck_editor_window_presenter.h"
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

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    if (argc < 2) {
        std::cerr << "usage: velopad-desktop-screenshots <directory>\n";
        return 2;
    }
    desktop::registerFonts();
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

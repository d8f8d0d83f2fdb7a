// The real desktop program on a private X server and a private session bus: with a
// StatusNotifierWatcher on the bus it registers its tray item there and opens the panel when the
// item is activated; with no tray at all it opens the panel as an ordinary window at once.

#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusInterface>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <chrono>
#include <memory>

#include "qt_application.h"
#include "tests/support/agent_process.h"
#include "tests/support/avahi_test_services.h"
#include "tests/support/sandbox_fixture.h"
#include "tests/support/xvfb_server.h"

extern char** environ;

namespace velopad::test {
namespace {

using namespace std::chrono_literals;
using velopad::testing::onlyLoopbackInterfaces;
using velopad::testing::SandboxTest;
using velopad::testing::XvfbServer;

// A session dbus-daemon of the test's own, stopped by its PID.
class PrivateBus {
  public:
    explicit PrivateBus(const std::filesystem::path& socket) {
        int out[2];
        if (pipe(out) != 0) throw std::runtime_error("pipe");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        std::vector<std::string> argv{"dbus-daemon", "--session", "--nofork", "--print-address=1",
                                      "--address=unix:path=" + socket.string()};
        std::vector<char*> args;
        for (auto& arg : argv) args.push_back(arg.data());
        args.push_back(nullptr);
        const int error =
            posix_spawnp(&pid_, "dbus-daemon", &actions, nullptr, args.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        close(out[1]);
        if (error != 0) throw std::runtime_error("cannot start dbus-daemon");
        char c = 0;
        pollfd poller{out[0], POLLIN, 0};
        while (poll(&poller, 1, 5000) > 0 && read(out[0], &c, 1) == 1 && c != '\n') address_ += c;
        close(out[0]);
        if (address_.empty()) throw std::runtime_error("dbus-daemon printed no address");
    }
    ~PrivateBus() {
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
    }
    const std::string& address() const { return address_; }

  private:
    pid_t pid_ = -1;
    std::string address_;
};

// The part of org.kde.StatusNotifierWatcher a tray item talks to; records every registration.
class TestWatcher : public QDBusVirtualObject {
  public:
    QString introspect(const QString&) const override {
        return QStringLiteral(
            "<interface name=\"org.kde.StatusNotifierWatcher\">"
            "<method name=\"RegisterStatusNotifierItem\"><arg type=\"s\" "
            "direction=\"in\"/></method>"
            "<method name=\"RegisterStatusNotifierHost\"><arg type=\"s\" "
            "direction=\"in\"/></method>"
            "<property name=\"IsStatusNotifierHostRegistered\" type=\"b\" access=\"read\"/>"
            "<property name=\"ProtocolVersion\" type=\"i\" access=\"read\"/>"
            "<property name=\"RegisteredStatusNotifierItems\" type=\"as\" access=\"read\"/>"
            "</interface>");
    }

    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
        const QString member = message.member();
        if (member == QLatin1String("RegisterStatusNotifierItem")) {
            const QString service = message.arguments().value(0).toString();
            // An item may name itself by path only; then the sender is its service.
            items.push_back({service.startsWith(QLatin1Char('/')) ? message.service() : service,
                             message.service()});
            connection.send(message.createReply());
            return true;
        }
        if (member == QLatin1String("RegisterStatusNotifierHost")) {
            connection.send(message.createReply());
            return true;
        }
        if (member == QLatin1String("Get")) {
            const QString property = message.arguments().value(1).toString();
            QVariant value;
            if (property == QLatin1String("IsStatusNotifierHostRegistered")) value = true;
            if (property == QLatin1String("ProtocolVersion")) value = 0;
            if (property == QLatin1String("RegisteredStatusNotifierItems")) value = QStringList();
            connection.send(message.createReply(QVariant::fromValue(QDBusVariant(value))));
            return true;
        }
        if (member == QLatin1String("GetAll")) {
            QVariantMap all{{QStringLiteral("IsStatusNotifierHostRegistered"), true},
                            {QStringLiteral("ProtocolVersion"), 0}};
            connection.send(message.createReply(QVariant::fromValue(all)));
            return true;
        }
        return false;
    }

    struct Item {
        QString service;
        QString sender;
    };
    std::vector<Item> items;
};

template <class Predicate>
bool processEventsUntil(Predicate done, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done() && std::chrono::steady_clock::now() < deadline) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        usleep(10'000);
    }
    return done();
}

class TrayTest : public SandboxTest {
  protected:
    void SetUp() override {
        if (!onlyLoopbackInterfaces())
            GTEST_SKIP() << "runs only inside a private network namespace";
        if (!XvfbServer::available(XvfbServer::WindowManager::openbox))
            GTEST_SKIP() << "needs Xvfb and openbox";
        velopad::testing::qtApplication();
        xvfb = std::make_unique<XvfbServer>(XvfbServer::WindowManager::openbox);
        bus = std::make_unique<PrivateBus>(sandbox.runtimeDir() / "bus");
        sandbox.setEnv("DISPLAY", xvfb->display());
        sandbox.setEnv("WAYLAND_DISPLAY", std::nullopt);
        sandbox.setEnv("QT_QPA_PLATFORM", "xcb");
        sandbox.setEnv("DBUS_SESSION_BUS_ADDRESS", bus->address());
        sandbox.setEnv("DBUS_SYSTEM_BUS_ADDRESS",
                       "unix:path=" + (sandbox.root() / "no-bus").string());
        sandbox.setEnv("PULSE_SERVER", std::nullopt);
    }

    std::unique_ptr<XvfbServer> xvfb;
    std::unique_ptr<PrivateBus> bus;
};

TEST_F(TrayTest, RegistersItsItemWithTheWatcherAndOpensThePanelWhenActivated) {
    QDBusConnection connection = QDBusConnection::connectToBus(
        QString::fromStdString(bus->address()), QStringLiteral("watcher"));
    ASSERT_TRUE(connection.isConnected());
    TestWatcher watcher;
    ASSERT_TRUE(
        connection.registerVirtualObject(QStringLiteral("/StatusNotifierWatcher"), &watcher));
    ASSERT_TRUE(connection.registerService(QStringLiteral("org.kde.StatusNotifierWatcher")));

    AgentProcess agent(std::vector<std::string>{});
    ASSERT_TRUE(processEventsUntil([&] { return !watcher.items.empty(); }, 15s))
        << "no tray item registered\n"
        << agent.output();
    // The item is on the bus and calls itself Velopad Agent; no panel is open yet.
    const auto item = watcher.items.front();
    QDBusInterface properties(item.service, QStringLiteral("/StatusNotifierItem"),
                              QStringLiteral("org.freedesktop.DBus.Properties"), connection);
    const QDBusMessage title =
        properties.call(QStringLiteral("Get"), QStringLiteral("org.kde.StatusNotifierItem"),
                        QStringLiteral("Title"));
    ASSERT_EQ(title.type(), QDBusMessage::ReplyMessage) << title.errorMessage().toStdString();
    EXPECT_EQ(title.arguments().value(0).value<QDBusVariant>().variant().toString(),
              QStringLiteral("Velopad Agent"));
    EXPECT_FALSE(xvfb->windowTitled("Velopad Agent"));

    // A click on the item (the host calls Activate) opens the panel.
    QDBusInterface sni(item.service, QStringLiteral("/StatusNotifierItem"),
                       QStringLiteral("org.kde.StatusNotifierItem"), connection);
    sni.call(QStringLiteral("Activate"), 100, 10);
    EXPECT_TRUE(
        processEventsUntil([&] { return xvfb->windowTitled("Velopad Agent").has_value(); }, 10s))
        << agent.output();
    EXPECT_EQ(agent.terminate(5s), 0);
    connection.unregisterService(QStringLiteral("org.kde.StatusNotifierWatcher"));
    connection.unregisterObject(QStringLiteral("/StatusNotifierWatcher"));
    QDBusConnection::disconnectFromBus(QStringLiteral("watcher"));
}

TEST_F(TrayTest, WithoutAnyTrayThePanelOpensAsAWindowAtStart) {
    AgentProcess agent(std::vector<std::string>{});
    EXPECT_TRUE(
        processEventsUntil([&] { return xvfb->windowTitled("Velopad Agent").has_value(); }, 15s))
        << "the agent runs without any window or tray item\n"
        << agent.output();
    EXPECT_EQ(agent.terminate(5s), 0);
}

}  // namespace
}  // namespace velopad::test

// The real desktop program on a private X server and session bus, with and without a tray.

#include <gtest/gtest.h>

#include <QDBusConnection>
#include <QDBusInterface>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QTest>
#include <chrono>
#include <memory>

#include "qt_application.h"
#include "tests/support/child_process.h"
#include "tests/support/sandbox_fixture.h"
#include "tests/support/services.h"

namespace velopad::test {
namespace {

using namespace std::chrono_literals;
using velopad::testing::onlyLoopbackInterfaces;
using velopad::testing::SandboxTest;
using velopad::testing::XvfbServer;

// The part of org.kde.StatusNotifierWatcher a tray item talks to: it says a host is there and
// records the service of every item registered.
class TestWatcher : public QDBusVirtualObject {
  public:
    QString introspect(const QString&) const override {
        return QStringLiteral(
            "<interface name=\"org.kde.StatusNotifierWatcher\">"
            "<method name=\"RegisterStatusNotifierItem\"><arg type=\"s\" direction=\"in\"/>"
            "</method><property name=\"IsStatusNotifierHostRegistered\" type=\"b\" "
            "access=\"read\"/></interface>");
    }

    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
        if (message.member() == QLatin1String("RegisterStatusNotifierItem")) {
            const QString service = message.arguments().value(0).toString();
            // An item may name itself by path only; then the sender is its service.
            items.push_back(service.startsWith(QLatin1Char('/')) ? message.service() : service);
            connection.send(message.createReply());
            return true;
        }
        if (message.member() != QLatin1String("Get")) return false;
        connection.send(message.createReply(QVariant::fromValue(QDBusVariant(true))));
        return true;
    }

    QStringList items;
};

class TrayTest : public SandboxTest {
  protected:
    void SetUp() override {
        if (!onlyLoopbackInterfaces())
            GTEST_SKIP() << "runs only inside a private network namespace";
        if (!XvfbServer::available(XvfbServer::WindowManager::openbox))
            GTEST_SKIP() << "needs Xvfb and openbox";
        velopad::testing::qtApplication();
        xvfb = std::make_unique<XvfbServer>(XvfbServer::WindowManager::openbox);
        isolateFromTheDesktop(sandbox);
        bus = std::make_unique<velopad::testing::DBusSession>(sandbox);
        sandbox.setEnv("DISPLAY", xvfb->display());
        sandbox.setEnv("QT_QPA_PLATFORM", "xcb");
    }

    std::unique_ptr<XvfbServer> xvfb;
    std::unique_ptr<velopad::testing::DBusSession> bus;
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
    ASSERT_TRUE(QTest::qWaitFor([&] { return !watcher.items.empty(); }, 15000))
        << "no tray item registered\n"
        << agent.output();
    // The item is on the bus and calls itself Velopad Agent; no panel is open yet.
    QDBusInterface sni(watcher.items.front(), QStringLiteral("/StatusNotifierItem"),
                       QStringLiteral("org.kde.StatusNotifierItem"), connection);
    EXPECT_EQ(sni.property("Title").toString(), QStringLiteral("Velopad Agent"));
    EXPECT_FALSE(xvfb->windowTitled("Velopad Agent"));

    // A click on the item (the host calls Activate) opens the panel.
    sni.call(QStringLiteral("Activate"), 100, 10);
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return xvfb->windowTitled("Velopad Agent").has_value(); }, 10000))
        << agent.output();
    EXPECT_EQ(agent.terminate(5s), 0);
    QDBusConnection::disconnectFromBus(QStringLiteral("watcher"));
}

TEST_F(TrayTest, WithoutAnyTrayThePanelOpensAsAWindowAtStart) {
    AgentProcess agent(std::vector<std::string>{});
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return xvfb->windowTitled("Velopad Agent").has_value(); }, 15000))
        << "the agent runs without any window or tray item\n"
        << agent.output();
    EXPECT_EQ(agent.terminate(5s), 0);
}

}  // namespace
}  // namespace velopad::test

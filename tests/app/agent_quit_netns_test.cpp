// Quitting ends the real agent promptly in the state where it is busiest: its port is taken and a
// retry is pending. Both front ends: the terminal, and the desktop program under a private X
// server.

#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <filesystem>
#include <memory>

#include "tests/support/agent_process.h"
#include "tests/support/child_process.h"
#include "tests/support/sandbox_fixture.h"
#include "tests/support/services.h"
#include "tests/support/ws_client.h"

namespace velopad::test {
namespace {

using namespace std::chrono_literals;
using velopad::testing::onlyLoopbackInterfaces;
using velopad::testing::PortHolder;
using velopad::testing::SandboxTest;
using velopad::testing::XvfbServer;

struct FrontEnd {
    const char* name;
    bool desktop;
};

class AgentQuitTest : public SandboxTest, public ::testing::WithParamInterface<FrontEnd> {
  protected:
    void SetUp() override {
        if (!onlyLoopbackInterfaces())
            GTEST_SKIP() << "runs only inside a private network namespace";
        isolateFromTheDesktop(sandbox);
        if (GetParam().desktop) {
            if (!std::filesystem::exists(VELOPAD_BINARY_DIR "/app/velopad-agent-desktop"))
                GTEST_SKIP() << "this build has no desktop program";
            if (!XvfbServer::available(XvfbServer::WindowManager::openbox))
                GTEST_SKIP() << "needs Xvfb and openbox";
            xvfb = std::make_unique<XvfbServer>(XvfbServer::WindowManager::openbox);
            sandbox.setEnv("DISPLAY", xvfb->display());
        }
    }

    std::unique_ptr<XvfbServer> xvfb;

    // Sends SIGTERM; expects a clean exit within a second.
    void expectPromptQuit(AgentProcess& agent) {
        const auto sent = std::chrono::steady_clock::now();
        kill(agent.pid(), SIGTERM);
        const auto status = agent.waitForExit(3s);
        const auto took = std::chrono::steady_clock::now() - sent;
        ASSERT_TRUE(status) << "still running 3 s after SIGTERM\n" << agent.output();
        EXPECT_EQ(*status, 0) << agent.output();
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(took).count();
        RecordProperty("quit_ms", static_cast<int>(ms));
        EXPECT_LT(took, 1s) << ms << " ms";
    }

    std::vector<std::string> arguments() const {
        return GetParam().desktop ? std::vector<std::string>{}
                                  : std::vector<std::string>{"--headless"};
    }
};

TEST_P(AgentQuitTest, EndsWithinOneSecondWhileAPortConflictRetryIsPending) {
    PortHolder holder({.port = 9847});
    AgentProcess agent(arguments());
    const auto error = agent.waitForLine("Error: ", 15s);
    ASSERT_EQ(error, "Port 9847 is already in use. Quit the other Velopad Agent first.")
        << agent.output();
    // The retry after the conflict is now scheduled; quitting must not wait for it.
    expectPromptQuit(agent);
}

TEST_P(AgentQuitTest, EndsWithinOneSecondWithPhonesConnected) {
    AgentProcess agent(arguments());
    std::optional<std::string> status;
    do {
        status = agent.waitForLine("Status: ", 15s);
    } while (status && *status == "Starting\u2026");
    ASSERT_EQ(status, "Ready for iPhone") << agent.output();
    WsClient first(9847);
    WsClient second(9847);
    first.ping();
    second.ping();
    expectPromptQuit(agent);
    EXPECT_TRUE(first.closedByServer(1s));
}

INSTANTIATE_TEST_SUITE_P(FrontEnds, AgentQuitTest,
                         ::testing::Values(FrontEnd{"terminal", false}, FrontEnd{"desktop", true}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace velopad::test

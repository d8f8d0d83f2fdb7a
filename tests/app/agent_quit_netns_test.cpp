// Quitting ends the real agent promptly in the state where it is busiest: its port is taken and a
// retry is pending. Both front ends: the terminal, and the desktop program under a private X
// server.

#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>

#include "tests/support/agent_process.h"
#include "tests/support/avahi_test_services.h"
#include "tests/support/sandbox_fixture.h"
#include "tests/support/ws_client.h"
#include "tests/support/xvfb_server.h"

extern char** environ;

namespace velopad::test {
namespace {

using namespace std::chrono_literals;
using velopad::testing::onlyLoopbackInterfaces;
using velopad::testing::SandboxTest;
using velopad::testing::XvfbServer;

// Holds port 9847 the way another program would, until the end of the test.
class PortHolder {
  public:
    PortHolder() {
        int out[2];
        if (pipe(out) != 0) throw std::runtime_error("pipe");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        std::string path = VELOPAD_BINARY_DIR "/tests/port_holder";
        std::string port = "9847";
        char* argv[] = {path.data(), port.data(), nullptr};
        const int error = posix_spawn(&pid_, path.c_str(), &actions, nullptr, argv, environ);
        posix_spawn_file_actions_destroy(&actions);
        close(out[1]);
        FILE* reader = fdopen(out[0], "r");
        unsigned bound = 0;
        const bool started = error == 0 && fscanf(reader, "%u", &bound) == 1 && bound == 9847;
        fclose(reader);
        if (!started) throw std::runtime_error("port_holder did not take port 9847");
    }
    ~PortHolder() {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }

  private:
    pid_t pid_ = -1;
};

struct FrontEnd {
    const char* name;
    bool desktop;
};

class AgentQuitTest : public SandboxTest, public ::testing::WithParamInterface<FrontEnd> {
  protected:
    void SetUp() override {
        if (!onlyLoopbackInterfaces())
            GTEST_SKIP() << "runs only inside a private network namespace";
        sandbox.setEnv("WAYLAND_DISPLAY", std::nullopt);
        sandbox.setEnv("DBUS_SESSION_BUS_ADDRESS", std::nullopt);
        sandbox.setEnv("DBUS_SYSTEM_BUS_ADDRESS",
                       "unix:path=" + (sandbox.root() / "no-bus").string());
        sandbox.setEnv("PULSE_SERVER", std::nullopt);
        sandbox.setEnv("QT_QPA_PLATFORM", std::nullopt);
        if (GetParam().desktop) {
            if (!std::filesystem::exists(VELOPAD_BINARY_DIR "/app/velopad-agent-desktop"))
                GTEST_SKIP() << "this build has no desktop program";
            if (!XvfbServer::available(XvfbServer::WindowManager::openbox))
                GTEST_SKIP() << "needs Xvfb and openbox";
            xvfb = std::make_unique<XvfbServer>(XvfbServer::WindowManager::openbox);
            sandbox.setEnv("DISPLAY", xvfb->display());
        } else {
            sandbox.setEnv("DISPLAY", std::nullopt);
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
    PortHolder holder;
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

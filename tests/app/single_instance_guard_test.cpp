#include "app/single_instance_guard.h"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <string>

#include "tests/support/child_process.h"
#include "tests/support/sandbox_fixture.h"

namespace velopad {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

using testing::PortHolder;

bool bindable(std::uint16_t port) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    const int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    const bool ok = bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    close(fd);
    return ok;
}

class SingleInstanceGuardTest : public ::testing::Test {
  protected:
    // A private copy of the helper: its own inode, so each test decides what "the same
    // executable" is.
    std::filesystem::path installProgram(const std::string& name) {
        const auto target = sandbox_.root() / name;
        std::filesystem::copy_file(VELOPAD_BINARY_DIR "/tests/port_holder", target,
                                   std::filesystem::copy_options::overwrite_existing);
        std::filesystem::permissions(target, std::filesystem::perms::owner_all);
        return target;
    }

    testing::Sandbox sandbox_;
};

TEST_F(SingleInstanceGuardTest, TerminatesEveryOtherCopyAndWaitsForThePort) {
    const auto agent = installProgram("velopad-agent");
    PortHolder first({.program = agent});
    PortHolder second({.program = agent});
    PortHolder newest({.program = agent});  // the copy that enforces

    const auto start = Clock::now();
    SingleInstanceGuard::enforce(agent, first.port(), newest.pid());
    EXPECT_LT(Clock::now() - start, 1s);

    EXPECT_EQ(first.endingSignal(), SIGTERM);
    EXPECT_EQ(second.endingSignal(), SIGTERM);
    EXPECT_TRUE(bindable(first.port()));
    EXPECT_TRUE(newest.running());
}

TEST_F(SingleInstanceGuardTest, AnOlderCopyNeverEndsANewerOne) {
    const auto agent = installProgram("velopad-agent");
    PortHolder older({.program = agent});
    PortHolder newer({.program = agent});

    // Both start at nearly the same moment; the older one's guard runs last.
    SingleInstanceGuard::enforce(agent, older.port(), older.pid());

    EXPECT_TRUE(newer.running());
    EXPECT_TRUE(older.running());
}

TEST_F(SingleInstanceGuardTest, LeavesCopiesInOtherNetworkNamespacesAlone) {
    if (geteuid() != 0) GTEST_SKIP() << "a network namespace of its own needs root";
    const auto agent = installProgram("velopad-agent");
    PortHolder elsewhere(
        {.program = agent, .ownNetwork = true});  // a sandboxed copy: its port is not ours
    PortHolder older({.program = agent});
    PortHolder newest({.program = agent});

    SingleInstanceGuard::enforce(agent, older.port(), newest.pid());

    EXPECT_EQ(older.endingSignal(), SIGTERM);
    EXPECT_TRUE(elsewhere.running());
}

TEST_F(SingleInstanceGuardTest, KillsACopyThatIgnoresTheRequestToQuit) {
    const auto agent = installProgram("velopad-agent");
    PortHolder stubborn({.program = agent, .ignoreTerm = true});
    PortHolder newest({.program = agent});

    SingleInstanceGuard::enforce(agent, stubborn.port(), newest.pid());

    EXPECT_EQ(stubborn.endingSignal(), SIGKILL);
    EXPECT_TRUE(bindable(stubborn.port()));
}

TEST_F(SingleInstanceGuardTest, TerminatesACopyWhoseProgramWasReplacedSinceItStarted) {
    const auto agent = installProgram("velopad-agent");
    PortHolder old({.program = agent});
    std::filesystem::remove(agent);
    installProgram("velopad-agent");  // an update: a new file at the same path
    PortHolder updated({.program = agent});

    SingleInstanceGuard::enforce(agent, old.port(), updated.pid());

    EXPECT_EQ(old.endingSignal(), SIGTERM);
}

TEST_F(SingleInstanceGuardTest, LeavesOtherProgramsAloneAndDoesNotProbeWithoutACopy) {
    const auto agent = installProgram("velopad-agent");
    const auto other = installProgram("other-server");  // same bytes, another file
    PortHolder stranger({.program = other});

    const auto start = Clock::now();
    SingleInstanceGuard::enforce(agent, stranger.port());
    EXPECT_LT(Clock::now() - start, 1s) << "no copy: the busy port must not be waited for";
    EXPECT_TRUE(stranger.running());
    EXPECT_FALSE(bindable(stranger.port()));
}

TEST_F(SingleInstanceGuardTest, PortProbeWaitsAtMostTheGivenAttempts) {
    const auto other = installProgram("other-server");
    PortHolder busy({.program = other});

    auto start = Clock::now();
    SingleInstanceGuard::waitForPortRelease(3, busy.port());
    const auto waited = Clock::now() - start;
    EXPECT_GE(waited, 300ms);
    EXPECT_LT(waited, 1s);

    start = Clock::now();
    SingleInstanceGuard::waitForPortRelease(0, busy.port());
    EXPECT_LT(Clock::now() - start, 100ms) << "zero attempts probes once and ends";

    busy.endingSignal(true);
    start = Clock::now();
    SingleInstanceGuard::waitForPortRelease(50, busy.port());
    EXPECT_LT(Clock::now() - start, 100ms) << "a free port ends the wait at once";
}

TEST_F(SingleInstanceGuardTest, PortProbeEndsAtOnceWhenNoSocketCanBeMade) {
    const auto other = installProgram("other-server");
    PortHolder busy({.program = other});

    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // No descriptor above 2 may be opened: socket() fails with EMFILE.
        const rlimit limit{3, 3};
        setrlimit(RLIMIT_NOFILE, &limit);
        const auto start = Clock::now();
        SingleInstanceGuard::waitForPortRelease(50, busy.port());
        _exit(Clock::now() - start < 100ms ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
}  // namespace velopad

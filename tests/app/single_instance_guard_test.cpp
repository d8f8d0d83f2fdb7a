#include "app/single_instance_guard.h"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/sandbox_fixture.h"

namespace velopad {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// A running port_holder: a stand-in for an agent that owns a port.
class Holder {
  public:
    // With `ownNetwork` it runs in a network namespace of its own (through unshare), as an agent
    // in a container or a test sandbox does.
    Holder(const std::filesystem::path& program, bool ignoreTerm, bool ownNetwork = false) {
        int out[2];
        EXPECT_EQ(pipe(out), 0);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        std::string path = program.string();
        std::string zero = "0";
        std::string ignore = "ignore-term";
        std::string unshare = "/usr/bin/unshare";
        std::string network = "--net";
        std::string execute = "--";
        std::vector<char*> argv;
        if (ownNetwork) argv = {unshare.data(), network.data(), execute.data()};
        argv.insert(argv.end(), {path.data(), zero.data()});
        if (ignoreTerm) argv.push_back(ignore.data());
        argv.push_back(nullptr);
        EXPECT_EQ(posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ), 0);
        posix_spawn_file_actions_destroy(&actions);
        close(out[1]);
        FILE* reader = fdopen(out[0], "r");
        unsigned port = 0;
        EXPECT_EQ(fscanf(reader, "%u", &port), 1) << "port_holder did not start";
        fclose(reader);
        port_ = static_cast<std::uint16_t>(port);
    }
    ~Holder() {
        if (!reaped_) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }

    std::uint16_t port() const { return port_; }
    pid_t pid() const { return pid_; }

    bool running() {
        if (reaped_) return false;
        if (waitpid(pid_, &status_, WNOHANG) == 0) return true;
        reaped_ = true;
        return false;
    }

    void stop() {
        if (!reaped_) kill(pid_, SIGKILL);
        endingSignal();
    }

    // The signal that ended the holder, waiting for it to end.
    int endingSignal() {
        for (int i = 0; i < 500 && !reaped_; ++i) {
            if (waitpid(pid_, &status_, WNOHANG) == pid_) reaped_ = true;
            if (!reaped_) std::this_thread::sleep_for(10ms);
        }
        if (!reaped_) {
            ADD_FAILURE() << "the holder did not end";
            return -1;
        }
        return WIFSIGNALED(status_) ? WTERMSIG(status_) : 0;
    }

  private:
    pid_t pid_ = -1;
    std::uint16_t port_ = 0;
    int status_ = 0;
    bool reaped_ = false;
};

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
    Holder first(agent, false);
    Holder second(agent, false);
    Holder newest(agent, false);  // the copy that enforces

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
    Holder older(agent, false);
    Holder newer(agent, false);

    // Both start at nearly the same moment; the older one's guard runs last.
    SingleInstanceGuard::enforce(agent, older.port(), older.pid());

    EXPECT_TRUE(newer.running());
    EXPECT_TRUE(older.running());
}

TEST_F(SingleInstanceGuardTest, LeavesCopiesInOtherNetworkNamespacesAlone) {
    if (geteuid() != 0) GTEST_SKIP() << "a network namespace of its own needs root";
    const auto agent = installProgram("velopad-agent");
    Holder elsewhere(agent, false, true);  // a sandboxed copy: its port is not ours
    Holder older(agent, false);
    Holder newest(agent, false);

    SingleInstanceGuard::enforce(agent, older.port(), newest.pid());

    EXPECT_EQ(older.endingSignal(), SIGTERM);
    EXPECT_TRUE(elsewhere.running());
}

TEST_F(SingleInstanceGuardTest, KillsACopyThatIgnoresTheRequestToQuit) {
    const auto agent = installProgram("velopad-agent");
    Holder stubborn(agent, true);
    Holder newest(agent, false);

    SingleInstanceGuard::enforce(agent, stubborn.port(), newest.pid());

    EXPECT_EQ(stubborn.endingSignal(), SIGKILL);
    EXPECT_TRUE(bindable(stubborn.port()));
}

TEST_F(SingleInstanceGuardTest, TerminatesACopyWhoseProgramWasReplacedSinceItStarted) {
    const auto agent = installProgram("velopad-agent");
    Holder old(agent, false);
    std::filesystem::remove(agent);
    installProgram("velopad-agent");  // an update: a new file at the same path
    Holder updated(agent, false);

    SingleInstanceGuard::enforce(agent, old.port(), updated.pid());

    EXPECT_EQ(old.endingSignal(), SIGTERM);
}

TEST_F(SingleInstanceGuardTest, LeavesOtherProgramsAloneAndDoesNotProbeWithoutACopy) {
    const auto agent = installProgram("velopad-agent");
    const auto other = installProgram("other-server");  // same bytes, another file
    Holder stranger(other, false);

    const auto start = Clock::now();
    SingleInstanceGuard::enforce(agent, stranger.port());
    EXPECT_LT(Clock::now() - start, 1s) << "no copy: the busy port must not be waited for";
    EXPECT_TRUE(stranger.running());
    EXPECT_FALSE(bindable(stranger.port()));
}

TEST_F(SingleInstanceGuardTest, PortProbeWaitsAtMostTheGivenAttempts) {
    const auto other = installProgram("other-server");
    Holder busy(other, false);

    auto start = Clock::now();
    SingleInstanceGuard::waitForPortRelease(3, busy.port());
    const auto waited = Clock::now() - start;
    EXPECT_GE(waited, 300ms);
    EXPECT_LT(waited, 1s);

    start = Clock::now();
    SingleInstanceGuard::waitForPortRelease(0, busy.port());
    EXPECT_LT(Clock::now() - start, 100ms) << "zero attempts probes once and ends";

    busy.stop();
    start = Clock::now();
    SingleInstanceGuard::waitForPortRelease(50, busy.port());
    EXPECT_LT(Clock::now() - start, 100ms) << "a free port ends the wait at once";
}

TEST_F(SingleInstanceGuardTest, PortProbeEndsAtOnceWhenNoSocketCanBeMade) {
    const auto other = installProgram("other-server");
    Holder busy(other, false);

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

#include "app/single_instance_guard.h"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <csignal>
#include <string>

#include "tests/support/child_process.h"
#include "tests/support/sandbox_fixture.h"

namespace velopad {
namespace {

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

class SingleInstanceGuardTest : public testing::SandboxTest {
  protected:
    // A private copy of the helper: its own inode, so each test decides what "the same
    // executable" is.
    std::filesystem::path installProgram(const std::string& name) {
        const auto target = sandbox.root() / name;
        std::filesystem::remove(target);
        std::filesystem::copy_file(VELOPAD_BINARY_DIR "/tests/fake_app", target);
        std::filesystem::permissions(target, std::filesystem::perms::owner_all);
        return target;
    }
};

TEST_F(SingleInstanceGuardTest, EndsEveryOlderCopyAndWaitsForThePortButLeavesOtherPrograms) {
    const auto agent = installProgram("velopad-agent");
    PortHolder replaced({.program = agent});
    installProgram("velopad-agent");  // an update: a new file at the same path
    PortHolder first({.program = agent});
    PortHolder stubborn({.program = agent, .ignoreTerm = true});
    PortHolder stranger({.program = installProgram("other-server")});  // same bytes, other file
    PortHolder newest({.program = agent});                             // the copy that enforces

    SingleInstanceGuard::enforce(agent, stubborn.port(), newest.pid());

    EXPECT_EQ(replaced.endingSignal(), SIGTERM);
    EXPECT_EQ(first.endingSignal(), SIGTERM);
    EXPECT_EQ(stubborn.endingSignal(), SIGKILL);
    EXPECT_TRUE(bindable(stubborn.port()));
    EXPECT_TRUE(newest.running());
    EXPECT_TRUE(stranger.running());
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
    PortHolder elsewhere({.program = agent, .ownNetwork = true});  // its port is not ours
    PortHolder older({.program = agent});
    PortHolder newest({.program = agent});

    SingleInstanceGuard::enforce(agent, older.port(), newest.pid());

    EXPECT_EQ(older.endingSignal(), SIGTERM);
    EXPECT_TRUE(elsewhere.running());
}

}  // namespace
}  // namespace velopad

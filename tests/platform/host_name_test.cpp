#include "platform/linux/host_name.h"

#include <gtest/gtest.h>
#include <sched.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <cstring>
#include <filesystem>

#include "tests/support/sandbox_fixture.h"

namespace velopad {
namespace {

class HostNameTest : public testing::SandboxTest {
  protected:
    std::filesystem::path machineInfo_ = sandbox.root() / "machine-info";
};

// The pretty name with shell quoting undone; without one, the kernel's host name.
TEST_F(HostNameTest, ReadsPrettyHostNameWithShellQuotingOrFallsBackToTheHostName) {
    const std::pair<std::string, std::optional<std::string>> cases[] = {
        {"PRETTY_HOSTNAME=Studio\n", "Studio"},
        {"PRETTY_HOSTNAME='Büro \"Nord\"'\n", "Büro \"Nord\""},
        {"PRETTY_HOSTNAME=\"say \\\"hi\\\" \\\\ \\$HOME \\n\"\n", "say \"hi\" \\ $HOME \\n"},
        {"PRETTY_HOSTNAME=Lab\\ Mac' 'Pro\"  two\"   \n", "Lab Mac Pro  two"},
        {"  PRETTY_HOSTNAME = \"Spaced\"  \n", "Spaced"},
        {"PRETTY_HOSTNAME_EXTRA=Nope\nPRETTY_HOSTNAME=First\nPRETTY_HOSTNAME=Second", "Second"},
        {"PRETTY_HOSTNAME=Real\n# PRETTY_HOSTNAME=Hash\n;PRETTY_HOSTNAME=Wrong\n", "Real"},
        {"PRETTY_HOSTNAME=\"Unterminated quote\n", "Unterminated quote"},
        {"", std::nullopt},
        {"PRETTY_HOSTNAME=Old\nPRETTY_HOSTNAME=''\n", std::nullopt},
    };
    char kernelName[HOST_NAME_MAX + 1] = {};
    ASSERT_EQ(gethostname(kernelName, sizeof kernelName - 1), 0);
    ASSERT_NE(kernelName[0], 0);
    for (const auto& [file, expected] : cases) {
        testing::writeTextFile(machineInfo_, file);
        EXPECT_EQ(prettyHostName(machineInfo_), expected) << file;
        EXPECT_EQ(computerName(machineInfo_), expected.value_or(kernelName)) << file;
    }
    EXPECT_EQ(prettyHostName(sandbox.root() / "missing"), std::nullopt);
    EXPECT_EQ(computerName(sandbox.root() / "missing"), kernelName);
    EXPECT_EQ(systemHostName(), kernelName);
}

TEST_F(HostNameTest, UsesTheFallbackNameWithoutAnyHostName) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to give a child its own host name";
    for (const char* kernelName : {"", "(none)"}) {
        // A child in its own UTS namespace, so the machine's host name stays as it is.
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            if (unshare(CLONE_NEWUTS) != 0 || sethostname(kernelName, std::strlen(kernelName)) != 0)
                _exit(2);
            const bool fallback =
                !systemHostName() && computerName(sandbox.root() / "missing") == "Velopad Mac";
            _exit(fallback ? 0 : 1);
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
            << "host name \"" << kernelName << '"';
    }
}

}  // namespace
}  // namespace velopad

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
    void writeMachineInfo(const std::string& text) { testing::writeTextFile(machineInfo_, text); }

    static std::string kernelHostName() {
        char buffer[HOST_NAME_MAX + 1] = {};
        gethostname(buffer, sizeof buffer - 1);
        return buffer;
    }

    std::filesystem::path dir_ = sandbox.root();
    std::filesystem::path machineInfo_ = sandbox.root() / "machine-info";
};

struct PrettyCase {
    const char* file;
    const char* expected;
};

TEST_F(HostNameTest, ReadsPrettyHostNameWithShellQuoting) {
    const PrettyCase cases[] = {
        {"PRETTY_HOSTNAME=Studio\n", "Studio"},
        {"PRETTY_HOSTNAME=\"Anna's Laptop\"\n", "Anna's Laptop"},
        {"PRETTY_HOSTNAME='Büro \"Nord\"'\n", "Büro \"Nord\""},
        {"PRETTY_HOSTNAME=\"say \\\"hi\\\" \\\\ \\$HOME \\n\"\n", "say \"hi\" \\ $HOME \\n"},
        {"PRETTY_HOSTNAME=Anna\\'s\\ Laptop   \n", "Anna's Laptop"},
        {"PRETTY_HOSTNAME=Lab' 'Mac\"  two\"\n", "Lab Mac  two"},
        {"  PRETTY_HOSTNAME = \"Spaced\"  \n", "Spaced"},
        {"# PRETTY_HOSTNAME=Comment\n; "
         "PRETTY_HOSTNAME=Other\nCHASSIS=laptop\nPRETTY_HOSTNAME=Real\n",
         "Real"},
        {"PRETTY_HOSTNAME=First\nPRETTY_HOSTNAME=Second\n", "Second"},
        {"PRETTY_HOSTNAME_EXTRA=Nope\nPRETTY_HOSTNAME=Yes", "Yes"},
        {"PRETTY_HOSTNAME=\"Unterminated quote\n", "Unterminated quote"},
        {"PRETTY_HOSTNAME=\"Leading and trailing  \"\n", "Leading and trailing  "},
    };
    for (const auto& c : cases) {
        writeMachineInfo(c.file);
        EXPECT_EQ(prettyHostName(machineInfo_), std::optional<std::string>(c.expected)) << c.file;
        EXPECT_EQ(computerName(machineInfo_), c.expected) << c.file;
    }
}

TEST_F(HostNameTest, FallsBackToHostNameWithoutPrettyName) {
    const char* files[] = {
        "",
        "PRETTY_HOSTNAME=\n",
        "PRETTY_HOSTNAME=\"\"\n",
        "PRETTY_HOSTNAME=Old\nPRETTY_HOSTNAME=''\n",
        "CHASSIS=desktop\n# PRETTY_HOSTNAME=Commented\n",
    };
    const std::string host = kernelHostName();
    ASSERT_FALSE(host.empty());
    for (const char* file : files) {
        writeMachineInfo(file);
        EXPECT_EQ(prettyHostName(machineInfo_), std::nullopt) << file;
        EXPECT_EQ(computerName(machineInfo_), host) << file;
    }
    EXPECT_EQ(prettyHostName(dir_ / "missing"), std::nullopt);
    EXPECT_EQ(computerName(dir_ / "missing"), host);
    EXPECT_EQ(systemHostName(), host);
}

TEST_F(HostNameTest, KeepsVeryLongNamesUnchanged) {
    const std::string longName(300, 'x');
    writeMachineInfo("PRETTY_HOSTNAME=" + longName + "\n");
    EXPECT_EQ(computerName(machineInfo_), longName);
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
                !systemHostName() && computerName(dir_ / "missing") == "Velopad Mac";
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

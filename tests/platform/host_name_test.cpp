#include "platform/linux/host_name.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace velopad {
namespace {

class HostNameTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (std::filesystem::temp_directory_path() / "host-name-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
        machineInfo_ = dir_ / "machine-info";
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    void writeMachineInfo(const std::string& text) { std::ofstream(machineInfo_) << text; }

    static std::string kernelHostName() {
        char buffer[HOST_NAME_MAX + 1] = {};
        gethostname(buffer, sizeof buffer - 1);
        return buffer;
    }

    std::filesystem::path dir_;
    std::filesystem::path machineInfo_;
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
        {"# PRETTY_HOSTNAME=Comment\n; PRETTY_HOSTNAME=Other\nCHASSIS=laptop\nPRETTY_HOSTNAME=Real\n", "Real"},
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

}  // namespace
}  // namespace velopad

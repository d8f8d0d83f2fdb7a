// The "Start at login" switch writes and removes the session's autostart entry where the XDG
// Autostart rules look for it, naming the program so that the session can start it.

#include "app/panel/autostart_entry.h"

#include <gtest/gtest.h>

#include <fstream>

#include "app/storage/atomic_file.h"
#include "tests/support/sandbox_fixture.h"

namespace velopad {
namespace {

using velopad::testing::SandboxTest;

class AutostartEntryTest : public SandboxTest {};

TEST_F(AutostartEntryTest, PathFollowsXdgConfigHomeOrFallsBackToDotConfig) {
    struct Case {
        std::optional<std::string> xdgConfigHome;
        std::filesystem::path expected;
    };
    const Case cases[] = {
        {sandbox.configHome().string(), sandbox.configHome() / "autostart/velopad-agent.desktop"},
        {std::nullopt, sandbox.home() / ".config/autostart/velopad-agent.desktop"},
        {"", sandbox.home() / ".config/autostart/velopad-agent.desktop"},
        {"relative/config", sandbox.home() / ".config/autostart/velopad-agent.desktop"},
    };
    for (const auto& c : cases) {
        sandbox.setEnv("XDG_CONFIG_HOME", c.xdgConfigHome);
        EXPECT_EQ(autostartEntryPath(), c.expected) << c.xdgConfigHome.value_or("(unset)");
    }
}

TEST_F(AutostartEntryTest, SwitchingOnWritesAnEntryTheSessionStartsAndOffRemovesIt) {
    const auto entry = autostartEntryPath();
    EXPECT_FALSE(isAutostartEnabled());
    ASSERT_FALSE(std::filesystem::exists(entry.parent_path()));

    const std::filesystem::path program = "/opt/Velopad 100%/bin/velopad-agent";
    setAutostartEnabled(true, program);
    EXPECT_TRUE(isAutostartEnabled());
    const auto content = readWholeFile(entry).value_or("");
    EXPECT_EQ(content.rfind("[Desktop Entry]\n", 0), 0u) << content;
    EXPECT_NE(content.find("\nType=Application\n"), std::string::npos);
    // A path with a space is quoted, and its percent sign doubled, as desktop entries require.
    EXPECT_NE(content.find("\nExec=\"/opt/Velopad 100%%/bin/velopad-agent\"\n"), std::string::npos)
        << content;

    setAutostartEnabled(false, program);
    EXPECT_FALSE(std::filesystem::exists(entry));
    EXPECT_FALSE(isAutostartEnabled());
    setAutostartEnabled(false, program);  // already off: nothing to remove, no error
}

TEST_F(AutostartEntryTest, AnEntryHiddenOrSwitchedOffByTheDesktopCountsAsOff) {
    const auto entry = autostartEntryPath();
    for (const char* line : {"Hidden=true", "X-GNOME-Autostart-enabled=false"}) {
        setAutostartEnabled(true, "/usr/bin/velopad-agent");
        std::ofstream(entry, std::ios::app) << line << "\n";
        EXPECT_FALSE(isAutostartEnabled()) << line;
    }
}

}  // namespace
}  // namespace velopad

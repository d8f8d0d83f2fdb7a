// The velopad-shortcuts tool, run as the agent runs it, over a private XDG_DATA_HOME.

#include <gtest/gtest.h>

#include <filesystem>
#include <regex>

#include "platform/linux/posix_process_runner.h"
#include "tests/support/shortcut_test_support.h"

namespace velopad {
namespace {

using testing::ShortcutsSandbox;

constexpr const char* kId = "1B4E28BA-2FA1-11D2-883F-0016D3CCA427";

class ShortcutsToolTest : public ::testing::Test {
  protected:
    ProcessRunResult tool(std::vector<std::string> arguments) {
        PosixProcessRunner runner(io.executor());
        return io.run(runner.run(testing::shortcutsToolPath(), std::move(arguments), 10));
    }

    // Creates a Shortcut and returns its identifier.
    std::string create(const std::string& name, std::vector<std::string> command) {
        std::vector<std::string> arguments{"create", name, "--"};
        arguments.insert(arguments.end(), command.begin(), command.end());
        const ProcessRunResult result = tool(arguments);
        EXPECT_EQ(result.exitCode, 0) << result.stderrText;
        EXPECT_EQ(result.stdoutText.size(), 37U) << result.stdoutText;
        return result.stdoutText.substr(0, 36);
    }

    static std::string echoArgs() { return VELOPAD_BINARY_DIR "/tests/echo_args"; }

    test::IoThread io;
    ShortcutsSandbox sandbox;
};

TEST_F(ShortcutsToolTest, CreatesListsEditsRunsAndDeletes) {
    const std::string id = create("Morning (work) routine", {echoArgs(), "hi"});
    EXPECT_TRUE(std::regex_match(
        id, std::regex("[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}")));
    const std::string other = create("Alpha", {"true"});

    EXPECT_EQ(tool({"list", "--show-identifiers"}).stdoutText,
              "Alpha (" + other + ")\nMorning (work) routine (" + id + ")\n");
    EXPECT_EQ(tool({"list"}).stdoutText, "Alpha\nMorning (work) routine\n");
    EXPECT_EQ(tool({"run", id}), (ProcessRunResult{0, "[hi]\n", "", false}));

    EXPECT_EQ(tool({"edit", id, "--icon", "starred"}).exitCode, 0);
    EXPECT_EQ(tool({"edit", id, "--name", "New", "--", echoArgs(), "new", "two words"}).exitCode,
              0);
    EXPECT_EQ(tool({"rename", id, "Newest"}).exitCode, 0);
    EXPECT_EQ(tool({"edit", id}).exitCode, 64);
    EXPECT_EQ(tool({"list", "--show-identifiers"}).stdoutText,
              "Alpha (" + other + ")\nNewest (" + id + ")\n");
    EXPECT_EQ(tool({"run", id}).stdoutText, "[new]\n[two words]\n");
    const auto file = sandbox.shortcutsDirectory() / (id + ".desktop");
    EXPECT_NE(testing::readTextFile(file).find("\nIcon=starred\n"), std::string::npos);

    EXPECT_EQ(tool({"delete", id}).exitCode, 0);
    const ProcessRunResult notFound{66, "", "Shortcut not found\n", false};
    EXPECT_EQ(tool({"run", id}), notFound);
    EXPECT_EQ(tool({"rename", id, "X"}), notFound);
    EXPECT_EQ(tool({"list", "--show-identifiers"}).stdoutText, "Alpha (" + other + ")\n");
}

TEST_F(ShortcutsToolTest, KeepsEveryArgumentIntactThroughTheFile) {
    const std::vector<std::string> awkward = {"two words", "\"quoted\"",  "$HOME", "back\\slash",
                                              "%f",        "line\nbreak", "",      "-x"};
    std::vector<std::string> command{echoArgs()};
    command.insert(command.end(), awkward.begin(), awkward.end());
    EXPECT_EQ(tool({"run", create("Awkward", command)}).stdoutText,
              "[two words]\n[\"quoted\"]\n[$HOME]\n[back\\slash]\n[%f]\n[line\nbreak]\n[]\n[-x]\n");
}

TEST_F(ShortcutsToolTest, ExpandsFieldCodesOfAHandWrittenFile) {
    sandbox.writeShortcut(kId, "Coded", echoArgs() + " \"a b\" %F %u %i %c 5%% \"x\\\\\"y\" %k",
                          "Icon=my-icon\n");
    const std::string file =
        (sandbox.shortcutsDirectory() / (std::string(kId) + ".desktop")).string();
    EXPECT_EQ(tool({"run", kId}).stdoutText,
              "[a b]\n[--icon]\n[my-icon]\n[Coded]\n[5%]\n[x\"y]\n[" + file + "]\n");
}

TEST_F(ShortcutsToolTest, RunsInTheFilesFolderAndPassesOnTheCommandsOutcomeOrWhyItCannotRun) {
    const std::string home = sandbox.home().string();
    const std::tuple<std::string, std::string, ProcessRunResult> cases[] = {
        {"sh -c \"echo out; echo 'it broke' >&2; exit 7\"", "", {7, "out\n", "it broke\n", false}},
        {"sh -c \"kill -TERM \\\\$\\\\$\"",
         "",
         {143, "", "sh was ended by signal 15 (Terminated)\n", false}},
        {"/nonexistent/program",
         "",
         {127, "", "Could not run /nonexistent/program: No such file or directory\n", false}},
        {"\"unterminated",
         "",
         {1, "", "The Shortcut's command line is empty or malformed\n", false}},
        {"pwd", "Path=" + home + "\n", {0, home + "\n", "", false}},  // where the file says
    };
    for (const auto& [exec, extra, result] : cases) {
        sandbox.writeShortcut(kId, "Command", exec, extra);
        EXPECT_EQ(tool({"run", kId}), result) << exec;
    }
}

TEST_F(ShortcutsToolTest, ListsOnlyVisibleNamedShortcutsOnOneLineOfValidUtf8Each) {
    sandbox.writeShortcut(kId, "Two\\nLines", "true");
    sandbox.writeShortcut("00000000-0000-4000-8000-000000000001", "", "true");
    sandbox.writeShortcut("00000000-0000-4000-8000-000000000003", "Caf\xE9 \xFF\xC3(", "true");
    sandbox.writeShortcut("00000000-0000-4000-8000-000000000002", "Gone", "true", "Hidden=true\n");
    testing::writeTextFile(sandbox.shortcutsDirectory() / "notes.txt", "Name=Not a Shortcut\n");
    EXPECT_EQ(tool({"list", "--show-identifiers"}).stdoutText,
              "Caf\uFFFD \uFFFD\uFFFD( (00000000-0000-4000-8000-000000000003)\nTwo Lines (" +
                  std::string(kId) + ")\n");
}

TEST_F(ShortcutsToolTest, RefusesToRunWhatOtherUsersCanChange) {
    const auto marker = sandbox.root() / "ran";
    const std::string id = create("Mark", {"touch", marker.string()});
    const auto folder = sandbox.shortcutsDirectory();
    EXPECT_EQ(testing::permissionBits(folder), 0700U);
    const std::tuple<unsigned, unsigned, std::string> cases[] = {
        {0777, 0600, "The Shortcuts folder"}, {0700, 0622, "The Shortcut file"}};
    for (const auto& [folderMode, fileMode, refusal] : cases) {
        std::filesystem::permissions(folder, std::filesystem::perms(folderMode));
        std::filesystem::permissions(folder / (id + ".desktop"), std::filesystem::perms(fileMode));
        const ProcessRunResult result = tool({"run", id});
        EXPECT_EQ(result.exitCode, 77);
        EXPECT_EQ(
            result.stderrText.rfind("velopad-shortcuts: Refusing to run Shortcuts: " + refusal, 0),
            0U)
            << result.stderrText;
        EXPECT_NE(result.stderrText.find("chmod go-w"), std::string::npos);
        EXPECT_FALSE(std::filesystem::exists(marker));
    }
    std::filesystem::permissions(folder, std::filesystem::perms(0755));
    std::filesystem::permissions(folder / (id + ".desktop"), std::filesystem::perms(0644));
    EXPECT_EQ(tool({"run", id}).exitCode, 0);
    EXPECT_TRUE(std::filesystem::exists(marker));
}

TEST_F(ShortcutsToolTest, RefusesBadUsage) {
    for (const std::vector<std::string>& arguments :
         std::vector<std::vector<std::string>>{{}, {"list", "--bogus"}, {"create", "Name", "true"}})
        EXPECT_EQ(tool(arguments).exitCode, 64);
    EXPECT_EQ(
        tool({"create", "Two\nLines", "--", "true"}),
        (ProcessRunResult{1, "", "velopad-shortcuts: The name may not contain control characters\n",
                          false}));
    EXPECT_FALSE(std::filesystem::exists(sandbox.shortcutsDirectory()));
    EXPECT_EQ(tool({"list", "--show-identifiers"}), (ProcessRunResult{0, "", "", false}));
}

}  // namespace
}  // namespace velopad

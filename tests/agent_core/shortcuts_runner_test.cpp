#include "agent_core/shortcuts_runner.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <system_error>

#include "platform/linux/posix_process_runner.h"
#include "protocol/payloads.h"
#include "tests/support/shortcut_test_support.h"

namespace velopad {
namespace {

using testing::FakeProcessRunner;
using testing::IoHarness;
using testing::ShortcutsSandbox;

constexpr const char* kId = "1B4E28BA-2FA1-11D2-883F-0016D3CCA427";

struct Outcome {
    std::string code;  // "" for ok
    std::string message;

    friend bool operator==(const Outcome&, const Outcome&) = default;
    friend std::ostream& operator<<(std::ostream& out, const Outcome& outcome) {
        return out << "{" << outcome.code << ", " << outcome.message << "}";
    }
};

Outcome outcomeOf(const ShortcutRunResult& result) {
    if (!result.error) {
        return {};
    }
    return {std::string(rawValue(result.error->code)), result.error->message.value_or("<none>")};
}

struct ClassifyCase {
    const char* label;
    ProcessRunResult result;
    Outcome expected;
};

TEST(ShortcutsRunnerClassifyTest, SortsFinishedRunsIntoCodesAndMessages) {
    const std::vector<ClassifyCase> cases = {
        {"success", {0, "out", "", false}, {}},
        {"success with noise", {0, "", "warning: slow", false}, {}},
        {"not found",
         {1, "", "Error: Shortcut NOT FOUND\n", false},
         {"not_found", "Shortcut missing \u2014 replace it in Edit Deck."}},
        {"couldn't find",
         {1, "", "Couldn't find shortcut", false},
         {"not_found", "Shortcut missing \u2014 replace it in Edit Deck."}},
        {"does not exist",
         {4, "", "It Does Not Exist", false},
         {"not_found", "Shortcut missing \u2014 replace it in Edit Deck."}},
        {"cancelled",
         {1, "", "The user Cancelled the run", false},
         {"cancelled", "Needs permission or input on your Mac."}},
        {"terminated",
         {143, "", "", false},
         {"cancelled", "Needs permission or input on your Mac."}},
        {"not authorized",
         {1, "", "not authorized to send Apple events", false},
         {"cancelled", "Needs permission or input on your Mac."}},
        {"permission",
         {1, "", "Permission denied", false},
         {"cancelled", "Needs permission or input on your Mac."}},
        {"not allowed",
         {1, "", "Operation not allowed", false},
         {"cancelled", "Needs permission or input on your Mac."}},
        {"privacy",
         {1, "", "Blocked by PRIVACY settings", false},
         {"cancelled", "Needs permission or input on your Mac."}},
        {"not found wins over cancel",
         {1, "", "cancelled: file not found", false},
         {"not_found", "Shortcut missing \u2014 replace it in Edit Deck."}},
        {"empty failure", {1, "", "", false}, {"run_failed", "Could not run Shortcut on Mac."}},
        {"blank failure",
         {2, "", " \n\t", false},
         {"run_failed", "Could not run Shortcut on Mac."}},
        {"other failure",
         {2, "", "\n  Disk Full: try later \n", false},
         {"run_failed", "Disk Full: try later"}},
        {"time-out first",
         {143, "", "not found", true},
         {"timed_out", "Still waiting on your Mac \u2014 check for a dialog."}},
        {"time-out after exit 0",
         {0, "", "", true},
         {"timed_out", "Still waiting on your Mac \u2014 check for a dialog."}},
    };
    for (const ClassifyCase& c : cases) {
        SCOPED_TRACE(c.label);
        const ShortcutRunResult result = ShortcutsRunner::classify(kId, c.result);
        EXPECT_EQ(result.shortcutIdentifier, kId);
        EXPECT_EQ(outcomeOf(result), c.expected);
    }
}

TEST(ShortcutsRunnerClassifyTest, ShortensARunawayFailureText) {
    const std::string text = std::string(999, 'x') + "\u00e9" + std::string(5000, 'y');
    const auto result = ShortcutsRunner::classify(kId, {1, "", text, false});
    ASSERT_TRUE(result.error);
    EXPECT_EQ(result.error->message, std::string(999, 'x') + "\u2026");
}

class ShortcutsRunnerTest : public ::testing::Test {
  protected:
    Outcome run(const std::string& identifier, double timeout = 10) {
        const ShortcutsRunner runner(
            testing::shortcutsToolPath(),
            std::make_shared<PosixProcessRunner>(
                io.executor(),
                PosixProcessRunnerOptions{.killGrace = std::chrono::milliseconds(200)}),
            timeout);
        const ShortcutRunResult result = io.run(runner.run(identifier));
        EXPECT_EQ(result.shortcutIdentifier, identifier);
        return outcomeOf(result);
    }

    IoHarness io;
    ShortcutsSandbox sandbox;
};

TEST_F(ShortcutsRunnerTest, RunsAShortcutThroughTheTool) {
    sandbox.writeShortcut(kId, "Greet", "sh -c \"echo hello; echo noise >&2\"");
    EXPECT_EQ(run(kId), Outcome{});
}

TEST_F(ShortcutsRunnerTest, AnUnknownIdentifierIsNotFound) {
    sandbox.writeShortcut(kId, "Greet", "true");
    for (const std::string& identifier :
         {std::string("00000000-0000-0000-0000-000000000000"), std::string("-h"),
          std::string("--help"), std::string("../Shortcuts/") + kId, std::string("$(touch pwned)"),
          std::string("x; touch pwned"), std::string()}) {
        SCOPED_TRACE(identifier);
        EXPECT_EQ(run(identifier),
                  (Outcome{"not_found", "Shortcut missing \u2014 replace it in Edit Deck."}));
    }
    EXPECT_FALSE(std::filesystem::exists("pwned"));
}

TEST_F(ShortcutsRunnerTest, AShortcutStoppedBySigtermIsCancelled) {
    sandbox.writeShortcut(kId, "Stop", "sh -c \"kill -TERM \\\\$\\\\$\"");
    EXPECT_EQ(run(kId), (Outcome{"cancelled", "Needs permission or input on your Mac."}));
}

TEST_F(ShortcutsRunnerTest, APermissionRefusalIsCancelled) {
    sandbox.writeShortcut(
        kId, "Refused",
        "sh -c \"echo 'Permission to control System Events was refused' >&2; exit 1\"");
    EXPECT_EQ(run(kId), (Outcome{"cancelled", "Needs permission or input on your Mac."}));
}

TEST_F(ShortcutsRunnerTest, AFailingShortcutReportsItsStandardError) {
    sandbox.writeShortcut(kId, "Broken", "sh -c \"echo '  the printer is on fire ' >&2; exit 2\"");
    EXPECT_EQ(run(kId), (Outcome{"run_failed", "the printer is on fire"}));
    sandbox.writeShortcut(kId, "Quiet", "false");
    EXPECT_EQ(run(kId), (Outcome{"run_failed", "Could not run Shortcut on Mac."}));
}

TEST_F(ShortcutsRunnerTest, ACommandThatCannotBeExecutedFails) {
    sandbox.writeShortcut(kId, "Ghost", "/nonexistent/program --flag");
    EXPECT_EQ(run(kId), (Outcome{"run_failed",
                                 "Could not run /nonexistent/program: No such file or directory"}));
}

TEST_F(ShortcutsRunnerTest, AShortcutThatIgnoresTheTimeOutIsKilledAndTimedOut) {
    sandbox.writeShortcut(kId, "Stubborn", testing::testHelperPath("stubborn_child"));
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(run(kId, 1.0),
              (Outcome{"timed_out", "Still waiting on your Mac \u2014 check for a dialog."}));
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(4));
}

TEST_F(ShortcutsRunnerTest, FloodedOutputIsBoundedAndTheReplyStaysShort) {
    sandbox.writeShortcut(
        kId, "Chatty",
        "sh -c \"" + testing::testHelperPath("stubborn_child") + " flood 3000000; exit 1\"");
    const Outcome outcome = run(kId);
    EXPECT_EQ(outcome.code, "run_failed");
    EXPECT_EQ(outcome.message, std::string(1000, 'e') + "\u2026");
}

TEST(ShortcutsRunnerToolTest, AMissingToolFailsWithoutStartingAnything) {
    IoHarness io;
    const auto fake = std::make_shared<FakeProcessRunner>();
    const ShortcutsRunner runner("/nonexistent/velopad-shortcuts", fake);
    EXPECT_EQ(outcomeOf(io.run(runner.run(kId))),
              (Outcome{"run_failed", "The shortcuts CLI is not available on this Mac."}));
    EXPECT_TRUE(fake->calls.empty());
}

TEST(ShortcutsRunnerToolTest, PassesTheIdentifierAsOneArgumentWithTheTimeout) {
    IoHarness io;
    const auto fake = std::make_shared<FakeProcessRunner>(ProcessRunResult{0, "", "", false});
    const ShortcutsRunner runner(testing::shortcutsToolPath(), fake);
    EXPECT_TRUE(io.run(runner.run("a b; $(x)")).isOK());
    ASSERT_EQ(fake->calls.size(), 1U);
    EXPECT_EQ(fake->calls[0].executable, testing::shortcutsToolPath());
    EXPECT_EQ(fake->calls[0].arguments, (std::vector<std::string>{"run", "a b; $(x)"}));
    EXPECT_EQ(fake->calls[0].timeout, 25);
}

TEST(ShortcutsRunnerToolTest, ALaunchFailureBecomesRunFailedWithItsDescription) {
    IoHarness io;
    const auto fake = std::make_shared<FakeProcessRunner>();
    fake->failWith(std::make_exception_ptr(
        std::system_error(EACCES, std::generic_category(), "Could not start /opt/tool")));
    const ShortcutsRunner runner(testing::shortcutsToolPath(), fake);
    EXPECT_EQ(outcomeOf(io.run(runner.run(kId))),
              (Outcome{"run_failed", "Could not start /opt/tool: Permission denied"}));
}

}  // namespace
}  // namespace velopad

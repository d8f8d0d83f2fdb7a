#include "agent_core/shortcuts_runner.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>
#include <memory>
#include <system_error>

#include "agent_core/process_output.h"
#include "agent_core/shortcut_wire_handler.h"
#include "platform/linux/posix_process_runner.h"
#include "protocol/json_text.h"
#include "protocol/payloads.h"
#include "tests/support/child_process.h"
#include "tests/support/shortcut_test_support.h"

namespace velopad {
namespace {

using testing::FakeProcessRunner;
using testing::ShortcutsSandbox;

constexpr const char* kId = "1B4E28BA-2FA1-11D2-883F-0016D3CCA427";

using Outcome = std::pair<std::string, std::string>;  // code ("" for ok), message

Outcome outcomeOf(const ShortcutRunResult& result) {
    if (!result.error) return {};
    return {std::string(rawValue(result.error->code)), result.error->message.value_or("<none>")};
}

const Outcome kNotFound{"not_found", "Shortcut missing \u2014 replace it in Edit Deck."};
const Outcome kCancelled{"cancelled", "Needs permission or input on your Mac."};
const Outcome kTimedOut{"timed_out", "Still waiting on your Mac \u2014 check for a dialog."};
const Outcome kRunFailed{"run_failed", "Could not run Shortcut on Mac."};

TEST(ShortcutsRunnerClassifyTest, SortsFinishedRunsIntoCodesAndMessagesOfAtMostAThousandBytes) {
    const std::string x999(999, 'x'), a1000(1000, 'a');
    const std::pair<ProcessRunResult, Outcome> cases[] = {
        {{0, "out", "warning: slow", false}, {}},
        {{66, "", "Shortcut not found\n", false}, kNotFound},
        {{77, "", "velopad-shortcuts: Refusing to run Shortcuts: The Shortcuts folder /x\n", false},
         kCancelled},
        {{143, "", "", false}, kCancelled},  // the tool was stopped
        // The command's own words never pass for the tool's outcomes.
        {{66, "", "no input file\n", false}, {"run_failed", "no input file"}},
        {{77, "", "Denied", false}, {"run_failed", "Denied"}},
        {{143, "", "sh was ended by signal 15 (Terminated)\n", false},
         {"run_failed", "sh was ended by signal 15 (Terminated)"}},
        {{1, "", "", false}, kRunFailed},
        {{2, "", "\n  Disk Full \n", false}, {"run_failed", "Disk Full"}},
        {{143, "", "not found", true}, kTimedOut},  // a time-out first
        {{0, "", "", true}, kTimedOut},
        {{1, "", a1000, false}, {"run_failed", a1000}},
        {{1, "", a1000 + "b", false}, {"run_failed", a1000 + "\u2026"}},
        // No character is split.
        {{1, "", x999 + "\u00e9" + std::string(5000, 'y'), false}, {"run_failed", x999 + "\u2026"}},
    };
    for (const auto& [result, expected] : cases)
        EXPECT_EQ(outcomeOf(ShortcutsRunner::classify(kId, result)), expected) << result.stderrText;
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

    // An executable shell script in the sandbox.
    std::filesystem::path script(const std::string& name, const std::string& body) {
        const auto file = sandbox.root() / (name + ".sh");
        testing::writeTextFile(file, "#!/bin/sh\n" + body);
        std::filesystem::permissions(file, std::filesystem::perms(0700));
        return file;
    }

    test::IoThread io;
    ShortcutsSandbox sandbox;
};

// The one Shortcut leaves a mark when run: none of these identifiers may reach it, nor may a
// shell ever read them; its own identifier runs it.
TEST_F(ShortcutsRunnerTest, RunsOnlyTheShortcutItsIdentifierNames) {
    const auto mark = sandbox.root() / "ran";
    sandbox.writeShortcut(kId, "Mark", "touch " + mark.string());
    // A file beside the folder that a path-like identifier would otherwise reach.
    testing::writeTextFile(sandbox.shortcutsDirectory().parent_path() / "Outside.desktop",
                           testing::desktopEntry("Outside", "touch " + mark.string()));
    for (const std::string& identifier :
         {std::string("00000000-0000-0000-0000-000000000000"), std::string("--help"),
          std::string("Mark"), std::string("../Outside"), std::string("/") + kId,
          std::string(kId) + ".desktop", "x; touch " + mark.string(), std::string()}) {
        EXPECT_EQ(run(identifier), kNotFound) << identifier;
        EXPECT_FALSE(std::filesystem::exists(mark));
    }
    EXPECT_EQ(run("1b4e28ba-2fa1-11d2-883f-0016d3cca427"), Outcome{});  // in any letter case
    EXPECT_TRUE(std::filesystem::exists(mark));
}

TEST_F(ShortcutsRunnerTest, TheCommandRunsAwayFromTheAgentsTerminal) {
    const auto probe = script("probe",
                              "readlink /proc/self/fd/0 >&2\n"
                              "[ \"$(cut -d' ' -f6 /proc/$$/stat)\" = \"$$\" ] && "
                              "echo own-session >&2\nexit 3\n");
    sandbox.writeShortcut(kId, "Probe", probe.string());
    EXPECT_EQ(run(kId), (Outcome{"run_failed", "/dev/null\nown-session"}));
}

// A program the Shortcut leaves running lives on after the run has answered and after the time
// limit, still writing to the output it was given: its heartbeat file keeps growing.
TEST_F(ShortcutsRunnerTest, ProgramsAShortcutLeavesRunningOutliveTheRunAndTheTimeLimit) {
    const std::tuple<const char*, double, Outcome> cases[] = {
        {"loop &\necho $! > pid\nexit 0\n", 10, {}},
        {"echo $$ > pid\nloop\n", 1, kTimedOut},
    };
    const auto beats = sandbox.root() / "beats";
    const auto size = [&] { return std::filesystem::exists(beats) ? file_size(beats) : 0; };
    for (const auto& [body, timeout, expected] : cases) {
        std::filesystem::remove(beats);
        const auto program =
            script("survivor", "cd '" + sandbox.root().string() +
                                   "'\nloop() { while :; do echo beat; echo beat "
                                   ">&2; echo beat >> beats; sleep 0.05; done; }\n" +
                                   body);
        sandbox.writeShortcut(kId, "Survivor", program.string());
        EXPECT_EQ(run(kId, timeout), expected) << body;
        const auto atAnswer = size();
        EXPECT_TRUE(testing::waitUntil([&] { return size() > atAnswer + 50; }));
        EXPECT_EQ(::kill(std::stoi(testing::readTextFile(sandbox.root() / "pid")), SIGKILL), 0);
    }
}

TEST(ShortcutsRunnerToolTest, CallsTheToolWithTheIdentifierAsOneArgumentOrSaysWhyNot) {
    test::IoThread io;
    const auto fake = std::make_shared<FakeProcessRunner>(ProcessRunResult{0, "", "", false});
    EXPECT_EQ(outcomeOf(io.run(ShortcutsRunner("/nonexistent/velopad-shortcuts", fake).run(kId))),
              (Outcome{"run_failed", "The shortcuts CLI is not available on this Mac."}));
    EXPECT_TRUE(fake->calls.empty());

    const ShortcutsRunner runner(testing::shortcutsToolPath(), fake);
    EXPECT_TRUE(io.run(runner.run("a b; $(x)")).isOK());
    ASSERT_EQ(fake->calls.size(), 1U);
    EXPECT_EQ(fake->calls[0].executable, testing::shortcutsToolPath());
    EXPECT_EQ(fake->calls[0].arguments, (std::vector<std::string>{"run", "a b; $(x)"}));
    EXPECT_EQ(fake->calls[0].timeout, 25);

    fake->failWith(std::make_exception_ptr(
        std::system_error(EACCES, std::generic_category(), "Could not start /opt/tool")));
    EXPECT_EQ(outcomeOf(io.run(runner.run(kId))),
              (Outcome{"run_failed", "Could not start /opt/tool: Permission denied"}));
}

TEST(ShortcutWireHandlerTest, AnswersWithTheRequestsIdAndTheOutcomeAndIgnoresOtherTypes) {
    test::IoThread io;
    const auto handle = [&io](const std::string& bytes, ProcessRunResult result) {
        const ShortcutWireHandler handler(ShortcutMessageHandler(ShortcutsRunner(
            testing::shortcutsToolPath(), std::make_shared<FakeProcessRunner>(result))));
        return io.run(handler.handle(bytes));
    };
    const std::string request =
        R"({"type":"shortcut.run","id":"0a1b2c3d-4e5f-4a6b-8c7d-9e0f1a2b3c4d","payload":{)"
        R"("shortcutIdentifier":"S1","label":"Greet"}})";
    const std::string head = R"({"id":"0A1B2C3D-4E5F-4A6B-8C7D-9E0F1A2B3C4D","payload":{)";
    EXPECT_EQ(handle(request, {0, "", "", false}),
              head + R"("shortcutIdentifier":"S1"},"type":"shortcut.ok"})");
    EXPECT_EQ(handle(request, {66, "", "Shortcut not found", false}),
              head + R"("code":"not_found","message":"Shortcut missing — replace it in Edit )"
                     R"(Deck.","shortcutIdentifier":"S1"},"type":"shortcut.error"})");
    EXPECT_EQ(handle(R"({"type":"app.launch","id":"0a1b2c3d-4e5f-4a6b-8c7d-9e0f1a2b3c4d",)"
                     R"("payload":{"bundleId":"x"}})",
                     {}),
              std::nullopt);
    EXPECT_THROW(handle("not json", {}), DecodeError);
}

TEST(ProcessOutputBufferTest, KeepsOutputUpToTheLimitAndOnlyWholeUtf8AsText) {
    ProcessOutputBuffer buffer(8);
    buffer.append("abcde");
    EXPECT_FALSE(buffer.truncated());
    buffer.append("fghij");
    EXPECT_TRUE(buffer.truncated());
    EXPECT_EQ(buffer.bytes(), "abcdefgh");
    ProcessOutputBuffer split(5);
    split.append("abc\xE2\x80\x94xyz");  // the cut falls inside U+2014
    EXPECT_EQ(split.text(), "abc");
    for (const auto& [bytes, valid] : std::vector<std::pair<std::string, bool>>{
             {"caf\xC3\xA9 \xE2\x80\x94 \xF0\x9F\x8E\xB9", true},
             {"\xFF", false},
             {"\xC0\xAF", false},          // overlong "/"
             {"\xED\xA0\x80", false},      // surrogate
             {"\xF4\x90\x80\x80", false},  // above U+10FFFF
             {"ends in \xC3", false},
         }) {
        ProcessOutputBuffer buffer;
        buffer.append(bytes);
        EXPECT_EQ(buffer.text(), valid ? bytes : "") << bytes;
    }
}

}  // namespace
}  // namespace velopad

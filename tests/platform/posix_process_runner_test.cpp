#include "platform/linux/posix_process_runner.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <boost/asio/deferred.hpp>
#include <boost/asio/experimental/parallel_group.hpp>
#include <boost/asio/this_coro.hpp>
#include <chrono>
#include <fstream>
#include <system_error>
#include <tuple>

#include "tests/support/shortcut_test_support.h"

namespace velopad {
namespace {

using testing::IoHarness;
using testing::testHelperPath;

class PosixProcessRunnerTest : public ::testing::Test {
  protected:
    ProcessRunResult run(std::string executable, std::vector<std::string> arguments,
                         double timeout = 10, PosixProcessRunnerOptions options = {}) {
        PosixProcessRunner runner(io.executor(), options);
        return io.run(runner.run(std::move(executable), std::move(arguments), timeout));
    }

    IoHarness io;
};

TEST_F(PosixProcessRunnerTest, CollectsBothStreamsAndTheExitStatus) {
    const auto result = run("/bin/sh", {"-c", "printf 'out'; printf 'err' >&2; exit 3"});
    EXPECT_EQ(result, (ProcessRunResult{3, "out", "err", false}));
}

TEST_F(PosixProcessRunnerTest, PassesArgumentsUntouchedWithoutAShell) {
    const auto result =
        run(testHelperPath("stubborn_child"), {"echo-args", "a b", "$HOME", "'q'", "-x"});
    EXPECT_EQ(result.stdoutText, "[a b]\n[$HOME]\n['q']\n[-x]\n");
    EXPECT_EQ(result.exitCode, 0);
}

TEST_F(PosixProcessRunnerTest, ReportsADeathBySignalAs128PlusTheSignal) {
    EXPECT_EQ(run("/bin/sh", {"-c", "kill -TERM $$"}).exitCode, 143);
    EXPECT_EQ(run("/bin/sh", {"-c", "kill -KILL $$"}).exitCode, 137);
}

TEST_F(PosixProcessRunnerTest, TerminatesAChildThatOutlivesTheTimeout) {
    const auto started = std::chrono::steady_clock::now();
    const auto result = run("/bin/sh", {"-c", "echo waiting; exec sleep 30"}, 0.3);
    EXPECT_TRUE(result.timedOut);
    EXPECT_EQ(result.exitCode, 143);
    EXPECT_EQ(result.stdoutText, "waiting\n");
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
}

TEST_F(PosixProcessRunnerTest, KillsAChildThatIgnoresTheTerminationRequest) {
    const auto started = std::chrono::steady_clock::now();
    const auto result = run(testHelperPath("stubborn_child"), {}, 1.0,
                            {.killGrace = std::chrono::milliseconds(200)});
    EXPECT_TRUE(result.timedOut);
    EXPECT_EQ(result.exitCode, 137);  // SIGKILL
    EXPECT_EQ(result.stdoutText, "ready\n");
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
}

TEST_F(PosixProcessRunnerTest, DrainsLargeOutputAndKeepsOnlyTheBound) {
    const auto result =
        run(testHelperPath("stubborn_child"), {"flood", "3000000"}, 10, {.outputLimit = 1 << 20});
    EXPECT_EQ(result.exitCode, 0);  // never stalled on a full pipe
    EXPECT_FALSE(result.timedOut);
    EXPECT_EQ(result.stdoutText, std::string(1 << 20, 'o'));
    EXPECT_EQ(result.stderrText, std::string(1 << 20, 'e'));
}

TEST_F(PosixProcessRunnerTest, OutputThatIsNotUtf8BecomesEmptyText) {
    const auto result = run(testHelperPath("stubborn_child"), {"bad-utf8"});
    EXPECT_EQ(result.stdoutText, "");
    EXPECT_EQ(result.stderrText, "fine");
}

TEST_F(PosixProcessRunnerTest, DoesNotWaitForAGrandchildHoldingThePipes) {
    const auto started = std::chrono::steady_clock::now();
    const auto result = run(testHelperPath("stubborn_child"), {"orphan"});
    EXPECT_EQ(result, (ProcessRunResult{0, "parent done\n", "", false}));
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(3));
}

TEST_F(PosixProcessRunnerTest, FailsToStartWhatCannotBeExecuted) {
    testing::Sandbox sandbox;
    const auto notExecutable = sandbox.root() / "plain.txt";
    std::ofstream(notExecutable) << "hello\n";
    const auto noFormat = sandbox.root() / "garbage";
    std::ofstream(noFormat) << "\x01\x02\x03 not a program\n";
    ::chmod(noFormat.c_str(), 0755);

    for (const std::string& path :
         {std::string("/nonexistent/velopad-tool"), notExecutable.string(), noFormat.string(),
          sandbox.root().string()}) {
        SCOPED_TRACE(path);
        try {
            run(path, {"list"});
            ADD_FAILURE() << "started";
        } catch (const std::system_error& error) {
            EXPECT_NE(std::string(error.what()).find("Could not start " + path), std::string::npos)
                << error.what();
        }
    }
}

Task<std::tuple<ProcessRunResult, ProcessRunResult>> runTwo(ProcessRunning& runner,
                                                            std::string first, std::string second) {
    namespace experimental = asio::experimental;
    const Executor executor = co_await asio::this_coro::executor;
    // (No braced lists inside the co_await: GCC 12 cannot keep their arrays in the frame.)
    const std::string shell = "/bin/sh";
    std::vector<std::string> firstArguments{"-c", std::move(first)};
    std::vector<std::string> secondArguments{"-c", std::move(second)};
    auto results = co_await experimental::make_parallel_group(
                       asio::co_spawn(executor, runner.run(shell, std::move(firstArguments), 10),
                                      asio::deferred),
                       asio::co_spawn(executor, runner.run(shell, std::move(secondArguments), 10),
                                      asio::deferred))
                       .async_wait(experimental::wait_for_all(), asio::use_awaitable);
    co_return std::tuple{std::get<2>(results), std::get<4>(results)};
}

TEST_F(PosixProcessRunnerTest, RunsOverlapWithoutWaitingForEachOther) {
    PosixProcessRunner runner(io.executor());
    const auto started = std::chrono::steady_clock::now();
    const auto [first, second] = io.run(runTwo(runner, "sleep 0.5; echo a", "sleep 0.5; echo b"));
    EXPECT_EQ(first.stdoutText, "a\n");
    EXPECT_EQ(second.stdoutText, "b\n");
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(950));
}

}  // namespace
}  // namespace velopad

#include "platform/linux/posix_process_runner.h"

#include <gtest/gtest.h>

#include <boost/asio/deferred.hpp>
#include <boost/asio/experimental/parallel_group.hpp>
#include <boost/asio/this_coro.hpp>
#include <chrono>
#include <system_error>
#include <tuple>

#include "tests/support/shortcut_test_support.h"

namespace velopad {
namespace {

using namespace std::chrono_literals;
using testing::IoHarness;

class PosixProcessRunnerTest : public ::testing::Test {
  protected:
    ProcessRunResult run(std::string executable, std::vector<std::string> arguments,
                         double timeout = 10) {
        PosixProcessRunner runner(io.executor(), {.killGrace = 200ms, .outputLimit = 1 << 20});
        return io.run(runner.run(std::move(executable), std::move(arguments), timeout));
    }

    IoHarness io;
};

// Whole results of shell scripts; `within` bounds a run that must not wait for a sleeping child.
TEST_F(PosixProcessRunnerTest, CollectsStatusAndBoundedOutputAndStopsWhatOutlivesTheTimeout) {
    const struct {
        std::vector<std::string> arguments;
        ProcessRunResult expected;
        double timeout = 10;
        std::chrono::seconds within = 60s;
    } cases[] = {
        {{"-c", "printf 'out'; printf 'err' >&2; exit 3"}, {3, "out", "err", false}},
        // Arguments reach the program untouched.
        {{"-c", "printf '[%s]\\n' \"$@\"", "sh", "a b", "$HOME", "'q'", "-x"},
         {0, "[a b]\n[$HOME]\n['q']\n[-x]\n", "", false}},
        {{"-c", "kill -TERM $$"}, {143, "", "", false}},
        {{"-c", "kill -KILL $$"}, {137, "", "", false}},
        {{"-c", "printf '\\377\\376'; printf fine >&2"}, {0, "", "fine", false}},
        // The grandchild holds the pipes for 5 s; the run ends with its parent.
        {{"-c", "(sleep 5) & echo parent done"}, {0, "parent done\n", "", false}, 10, 3s},
        {{"-c", "echo waiting; exec sleep 30"}, {143, "waiting\n", "", true}, 0.3, 5s},
        // Ignores the termination request, so it is killed after the grace.
        {{"-c", "trap '' TERM; echo ready; exec sleep 60"}, {137, "ready\n", "", true}, 1, 5s},
        // Never stalls on a full pipe (whichever it reads first); keeps the bound of each stream.
        {{"-c",
          "head -c 3000000 /dev/zero | tr '\\0' o; head -c 3000000 /dev/zero | tr '\\0' e >&2"},
         {0, std::string(1 << 20, 'o'), std::string(1 << 20, 'e'), false}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments[1]);
        const auto started = std::chrono::steady_clock::now();
        EXPECT_EQ(run("/bin/sh", c.arguments, c.timeout), c.expected);
        EXPECT_LT(std::chrono::steady_clock::now() - started, c.within);
    }
}

TEST_F(PosixProcessRunnerTest, FailsToStartWhatCannotBeExecuted) {
    testing::Sandbox sandbox;
    testing::writeTextFile(sandbox.root() / "plain.txt", "hello\n");
    for (const std::string& path :
         {std::string("/nonexistent/velopad-tool"), (sandbox.root() / "plain.txt").string()}) {
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
                       asio::co_spawn(executor, runner.run(shell, std::move(firstArguments), 5),
                                      asio::deferred),
                       asio::co_spawn(executor, runner.run(shell, std::move(secondArguments), 5),
                                      asio::deferred))
                       .async_wait(experimental::wait_for_all(), asio::use_awaitable);
    co_return std::tuple{std::get<2>(results), std::get<4>(results)};
}

TEST_F(PosixProcessRunnerTest, RunsOverlapWithoutWaitingForEachOther) {
    // Each child waits for the other to have started: run one after the other, both time out.
    testing::Sandbox sandbox;
    const std::string a = (sandbox.root() / "a").string();
    const std::string b = (sandbox.root() / "b").string();
    PosixProcessRunner runner(io.executor());
    const auto [first, second] = io.run(
        runTwo(runner, "touch " + a + "; until [ -e " + b + " ]; do sleep 0.01; done; echo a",
               "touch " + b + "; until [ -e " + a + " ]; do sleep 0.01; done; echo b"));
    EXPECT_EQ(first, (ProcessRunResult{0, "a\n", "", false}));
    EXPECT_EQ(second, (ProcessRunResult{0, "b\n", "", false}));
}

}  // namespace
}  // namespace velopad

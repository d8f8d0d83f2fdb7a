#include "platform/linux/posix_process_runner.h"

#include <gtest/gtest.h>

#include <boost/asio/co_spawn.hpp>
#include <boost/asio/use_future.hpp>
#include <chrono>
#include <system_error>

#include "tests/support/shortcut_test_support.h"

namespace velopad {
namespace {

using namespace std::chrono_literals;

class PosixProcessRunnerTest : public ::testing::Test {
  protected:
    ProcessRunResult run(std::string executable, std::vector<std::string> arguments,
                         double timeout = 10) {
        PosixProcessRunner runner(io.executor(), {.killGrace = 200ms, .outputLimit = 1 << 20});
        return io.run(runner.run(std::move(executable), std::move(arguments), timeout));
    }

    test::IoThread io;
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

TEST_F(PosixProcessRunnerTest, RunsOverlapWithoutWaitingForEachOther) {
    // Each child waits for the other to have started: run one after the other, both time out.
    testing::Sandbox sandbox;
    const auto script = [&](const std::string& mine, const std::string& other) {
        return std::vector<std::string>{
            "-c", "touch " + (sandbox.root() / mine).string() + "; until [ -e " +
                      (sandbox.root() / other).string() + " ]; do sleep 0.01; done; echo " + mine};
    };
    PosixProcessRunner runner(io.executor());
    auto first =
        asio::co_spawn(io.executor(), runner.run("/bin/sh", script("a", "b"), 5), asio::use_future);
    EXPECT_EQ(io.run(runner.run("/bin/sh", script("b", "a"), 5)),
              (ProcessRunResult{0, "b\n", "", false}));
    EXPECT_EQ(first.get(), (ProcessRunResult{0, "a\n", "", false}));
}

}  // namespace
}  // namespace velopad

#include "platform/linux/posix_process_runner.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <boost/asio/as_tuple.hpp>
#include <boost/asio/deferred.hpp>
#include <boost/asio/experimental/parallel_group.hpp>
#include <boost/asio/posix/stream_descriptor.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/this_coro.hpp>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <exception>
#include <string_view>

#include "platform/linux/posix_process_runner_child.h"

namespace velopad {

namespace {

namespace experimental = asio::experimental;
using Descriptor = asio::posix::stream_descriptor;

constexpr auto asTuple = asio::as_tuple(asio::use_awaitable);

// One run's state; it lives in the frame of `supervise` and is touched only on its strand.
struct RunState {
    RunState(const Executor& executor, SpawnedChild spawned, std::size_t outputLimit)
        : child(std::move(spawned)),
          exitWatch(executor, child.takeExitDescriptor()),
          stdoutPipe(executor, child.takeStdoutDescriptor()),
          stderrPipe(executor, child.takeStderrDescriptor()),
          timer(executor),
          stdoutBuffer(outputLimit),
          stderrBuffer(outputLimit) {}

    SpawnedChild child;
    Descriptor exitWatch;
    Descriptor stdoutPipe;
    Descriptor stderrPipe;
    asio::steady_timer timer;
    ProcessOutputBuffer stdoutBuffer;
    ProcessOutputBuffer stderrBuffer;
    bool exited = false;
    bool timedOut = false;
};

std::chrono::steady_clock::duration toDuration(double seconds) {
    // A day is longer than any run we start; it also keeps the timer arithmetic in range.
    constexpr double longest = 24.0 * 60 * 60;
    if (!(seconds > 0)) {
        seconds = 0;
    }
    return std::chrono::duration_cast<std::chrono::steady_clock::duration>(
        std::chrono::duration<double>(std::min(seconds, longest)));
}

// Reads a pipe until end of stream, or until the child has ended and the reading is cancelled.
Task<void> drain(Descriptor& pipe, ProcessOutputBuffer& buffer, const bool& exited) {
    std::array<char, 16 * 1024> chunk{};
    while (!exited) {
        auto [error, count] = co_await pipe.async_read_some(asio::buffer(chunk), asTuple);
        buffer.append(std::string_view(chunk.data(), count));
        if (error) {
            co_return;
        }
    }
}

// Picks up what an ended child left in a pipe, without waiting for writers that live on.
void drainRemaining(Descriptor& pipe, ProcessOutputBuffer& buffer) {
    std::array<char, 16 * 1024> chunk{};
    for (;;) {
        const ssize_t count = ::read(pipe.native_handle(), chunk.data(), chunk.size());
        if (count > 0) {
            buffer.append({chunk.data(), static_cast<std::size_t>(count)});
        } else if (count < 0 && errno == EINTR) {
            continue;
        } else {
            return;
        }
    }
}

// True when the child ended before the timer fired.
Task<bool> exitBeforeTimer(RunState& state) {
    auto [order, exitError, timerError] =
        co_await experimental::make_parallel_group(
            state.exitWatch.async_wait(Descriptor::wait_read, asio::deferred),
            state.timer.async_wait(asio::deferred))
            .async_wait(experimental::wait_for_one(), asio::use_awaitable);
    co_return order[0] == 0 && !exitError;
}

Task<void> watchChild(RunState& state, double timeout, std::chrono::milliseconds killGrace) {
    state.timer.expires_after(toDuration(timeout));
    const bool endedInTime = co_await exitBeforeTimer(state);
    if (!endedInTime) {
        state.timedOut = true;
        state.child.signal(SIGTERM);
        state.timer.expires_after(killGrace);
        const bool endedInGrace = co_await exitBeforeTimer(state);
        if (!endedInGrace) {
            state.child.signal(SIGKILL);
            co_await state.exitWatch.async_wait(Descriptor::wait_read, asio::use_awaitable);
        }
    }
    state.exited = true;
    state.stdoutPipe.cancel();
    state.stderrPipe.cancel();
}

Task<ProcessRunResult> supervise(std::string executable, std::vector<std::string> arguments,
                                 double timeout, PosixProcessRunnerOptions options) {
    const Executor executor = co_await asio::this_coro::executor;
    RunState state(executor, SpawnedChild::spawn(executable, arguments), options.outputLimit);

    // Watch the child and drain both pipes at once; all three end once the child has ended.
    auto [order, watchError, stdoutError, stderrError] =
        co_await experimental::make_parallel_group(
            asio::co_spawn(executor, watchChild(state, timeout, options.killGrace), asio::deferred),
            asio::co_spawn(executor, drain(state.stdoutPipe, state.stdoutBuffer, state.exited),
                           asio::deferred),
            asio::co_spawn(executor, drain(state.stderrPipe, state.stderrBuffer, state.exited),
                           asio::deferred))
            .async_wait(experimental::wait_for_all(), asio::use_awaitable);
    for (const std::exception_ptr& error : {watchError, stdoutError, stderrError}) {
        if (error) {
            std::rethrow_exception(error);
        }
    }

    ProcessRunResult result;
    result.exitCode = state.child.reap();
    drainRemaining(state.stdoutPipe, state.stdoutBuffer);
    drainRemaining(state.stderrPipe, state.stderrBuffer);
    result.stdoutText = state.stdoutBuffer.text();
    result.stderrText = state.stderrBuffer.text();
    result.timedOut = state.timedOut;
    co_return result;
}

}  // namespace

PosixProcessRunner::PosixProcessRunner(Executor executor, PosixProcessRunnerOptions options)
    : executor_(std::move(executor)), options_(options) {}

Task<ProcessRunResult> PosixProcessRunner::run(std::string executable,
                                               std::vector<std::string> arguments, double timeout) {
    // Each run watches its child on a strand of its own, so its parts never race.
    co_return co_await asio::co_spawn(
        asio::make_strand(executor_),
        supervise(std::move(executable), std::move(arguments), timeout, options_),
        asio::use_awaitable);
}

}  // namespace velopad

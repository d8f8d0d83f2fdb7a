#pragma once
// The agent's concurrency vocabulary: actors own a strand; their operations are awaitables
// that run on that strand; blocking work runs on a thread pool and is awaited.

#include <boost/asio/any_io_executor.hpp>
#include <boost/asio/awaitable.hpp>
#include <boost/asio/co_spawn.hpp>
#include <boost/asio/strand.hpp>
#include <boost/asio/thread_pool.hpp>
#include <boost/asio/use_awaitable.hpp>
#include <functional>
#include <optional>
#include <type_traits>
#include <utility>

namespace velopad {

namespace asio = boost::asio;

using Executor = asio::any_io_executor;
using Strand = asio::strand<Executor>;

template <class T>
using Task = asio::awaitable<T>;

// Runs `operation` on `strand` and resumes the caller on its own executor afterwards.
template <class T>
Task<T> onStrand(const Strand& strand, Task<T> operation) {
    co_return co_await asio::co_spawn(strand, std::move(operation), asio::use_awaitable);
}

inline Task<void> onStrand(const Strand& strand, Task<void> operation) {
    co_await asio::co_spawn(strand, std::move(operation), asio::use_awaitable);
}

namespace detail {
// Runs `work` on `pool`, resumes on the caller's executor, rethrows what `work` threw.
Task<void> runOnPool(asio::thread_pool& pool, const std::function<void()>& work);
}  // namespace detail

// Runs blocking `work` on `pool` and resumes the caller on its own executor with the result.
// Exceptions thrown by `work` propagate to the caller.
template <class Work>
auto runBlocking(asio::thread_pool& pool, Work work) -> Task<std::invoke_result_t<Work&>> {
    using Result = std::invoke_result_t<Work&>;
    if constexpr (std::is_void_v<Result>) {
        const std::function<void()> run = [&work] { work(); };
        co_await detail::runOnPool(pool, run);
    } else {
        std::optional<Result> result;
        const std::function<void()> run = [&work, &result] { result.emplace(work()); };
        co_await detail::runOnPool(pool, run);
        co_return std::move(*result);
    }
}

}  // namespace velopad

// A note for every coroutine in this code base. GCC 12 miscompiles a few coroutine shapes,
// each seen here as a double free or a crash:
// - a lambda temporary with non-trivial captures (std::shared_ptr, std::string, containers)
//   inside a co_await expression: bind it to a named variable first,
//       auto work = [store] { store->clear(); };
//       co_await runBlocking(pool, std::move(work));
// - co_await inside a condition, a ?: or a braced initializer list: await into a local first;
// - co_return inside a try block around a co_await: set a local, co_return after the block.

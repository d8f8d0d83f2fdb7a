#pragma once
// The agent's concurrency vocabulary: actors own a strand; their operations are awaitables
// that run on that strand; blocking work runs on a thread pool and is awaited.

#include <boost/asio/any_io_executor.hpp>
#include <boost/asio/awaitable.hpp>
#include <boost/asio/co_spawn.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/strand.hpp>
#include <boost/asio/thread_pool.hpp>
#include <boost/asio/use_awaitable.hpp>

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

// Runs blocking `work` on `pool` and resumes the caller on its own executor with the result.
// Exceptions thrown by `work` propagate to the caller.
template <class Work>
auto runBlocking(asio::thread_pool& pool, Work work) -> Task<std::invoke_result_t<Work&>> {
    using Result = std::invoke_result_t<Work&>;
    co_return co_await asio::co_spawn(
        pool.get_executor(),
        [work = std::move(work)]() mutable -> Task<Result> { co_return work(); },
        asio::use_awaitable);
}

}  // namespace velopad

#pragma once
// The agent's concurrency vocabulary: actors own a strand; their operations are awaitables
// that run on that strand; blocking work runs on a thread pool and is awaited.

#include <boost/asio/any_io_executor.hpp>
#include <boost/asio/awaitable.hpp>
#include <boost/asio/async_result.hpp>
#include <boost/asio/co_spawn.hpp>
#include <boost/asio/dispatch.hpp>
#include <boost/asio/associated_executor.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/strand.hpp>
#include <boost/asio/thread_pool.hpp>
#include <boost/asio/use_awaitable.hpp>

#include <exception>
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

// Runs blocking `work` on `pool` and resumes the caller on its own executor with the result.
// Exceptions thrown by `work` propagate to the caller.
template <class Work>
auto runBlocking(asio::thread_pool& pool, Work work) -> Task<std::invoke_result_t<Work&>> {
    using Result = std::invoke_result_t<Work&>;
    if constexpr (std::is_void_v<Result>) {
        co_await asio::async_initiate<const asio::use_awaitable_t<>, void(std::exception_ptr)>(
            [&pool, &work](auto handler) {
                asio::post(pool, [&work, handler = std::move(handler)]() mutable {
                    std::exception_ptr error;
                    try {
                        work();
                    } catch (...) {
                        error = std::current_exception();
                    }
                    auto executor = asio::get_associated_executor(handler);
                    asio::dispatch(executor, [handler = std::move(handler), error]() mutable {
                        std::move(handler)(error);
                    });
                });
            },
            asio::use_awaitable);
    } else {
        std::optional<Result> result;
        co_await asio::async_initiate<const asio::use_awaitable_t<>, void(std::exception_ptr)>(
            [&pool, &work, &result](auto handler) {
                asio::post(pool, [&work, &result, handler = std::move(handler)]() mutable {
                    std::exception_ptr error;
                    try {
                        result.emplace(work());
                    } catch (...) {
                        error = std::current_exception();
                    }
                    auto executor = asio::get_associated_executor(handler);
                    asio::dispatch(executor, [handler = std::move(handler), error]() mutable {
                        std::move(handler)(error);
                    });
                });
            },
            asio::use_awaitable);
        co_return std::move(*result);
    }
}

}  // namespace velopad

// A note for every coroutine in this code base: GCC 12 destroys a lambda temporary that is
// created inside a co_await expression twice. A lambda whose captures have destructors
// (std::shared_ptr, std::string, containers) is therefore bound to a named variable first:
//     auto work = [store] { store->clear(); };
//     co_await runBlocking(pool, std::move(work));

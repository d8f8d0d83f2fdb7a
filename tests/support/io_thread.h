#pragma once
// An io_context running on its own thread with a pool for blocking work beside it, and a way to
// wait for a Task from a test body.

#include <atomic>
#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/thread_pool.hpp>
#include <boost/asio/use_future.hpp>
#include <chrono>
#include <future>
#include <stdexcept>
#include <thread>

#include "agent_core/async.h"

namespace velopad::test {

class IoThread {
  public:
    explicit IoThread(std::size_t poolThreads = 2)
        : work_(context_.get_executor()), pool_(poolThreads), thread_([this] { context_.run(); }) {}
    ~IoThread() { drain(); }

    // Lets pending operations finish (close sockets, cancel timers first), or stops the context
    // after `patience`. Call it before destroying what the coroutines use, and declare the
    // IoThread before those objects; the pool ends first, as a pool thread that has just handed
    // a result back still holds one of the context's strands for a moment.
    void drain(std::chrono::seconds patience = std::chrono::seconds(5)) {
        if (!thread_.joinable()) return;
        work_.reset();
        std::atomic<bool> done = false;
        std::thread watchdog([&] {
            const auto deadline = std::chrono::steady_clock::now() + patience;
            while (!done && std::chrono::steady_clock::now() < deadline) {
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
            if (!done) context_.stop();
        });
        pool_.join();
        thread_.join();
        done = true;
        watchdog.join();
    }

    Executor executor() { return context_.get_executor(); }
    asio::io_context& context() { return context_; }
    asio::thread_pool& pool() { return pool_; }

    // Runs the task on the io thread and waits for its result (rethrowing its exception).
    template <class T>
    T run(Task<T> task, std::chrono::seconds timeout = std::chrono::seconds(20)) {
        auto future = asio::co_spawn(context_, std::move(task), asio::use_future);
        if (future.wait_for(timeout) != std::future_status::ready) {
            throw std::runtime_error("task did not finish in time");
        }
        return future.get();
    }

  private:
    asio::io_context context_;
    asio::executor_work_guard<asio::io_context::executor_type> work_;
    asio::thread_pool pool_;
    std::thread thread_;
};

}  // namespace velopad::test

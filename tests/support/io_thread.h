#pragma once
// An io_context running on its own thread with a pool for blocking work beside it, and a way to
// wait for a Task from a test body.

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/thread_pool.hpp>
#include <boost/asio/use_future.hpp>
#include <chrono>
#include <future>
#include <stdexcept>

#include "agent_core/async.h"

namespace velopad::test {

class IoThread {
  public:
    explicit IoThread(std::size_t poolThreads = 2)
        : work_(context_.get_executor()),
          pool_(poolThreads),
          running_(std::async(std::launch::async, [this] { context_.run(); })) {}
    ~IoThread() { drain(); }

    // Lets pending operations finish (close sockets, cancel timers first), or stops the context
    // after `patience`. Call it before destroying what the coroutines use, and declare the
    // IoThread before those objects; the pool ends first, as a pool thread that has just handed
    // a result back still holds one of the context's strands for a moment.
    void drain(std::chrono::seconds patience = std::chrono::seconds(5)) {
        if (!running_.valid()) return;
        const auto deadline = std::chrono::steady_clock::now() + patience;
        work_.reset();
        pool_.join();
        if (running_.wait_until(deadline) != std::future_status::ready) context_.stop();
        running_.get();
    }

    Executor executor() { return context_.get_executor(); }
    asio::thread_pool& pool() { return pool_; }

    // Runs the task on the io thread and waits for its result (rethrowing its exception).
    template <class T>
    T run(Task<T> task, std::chrono::seconds timeout = std::chrono::seconds(20)) {
        auto future = asio::co_spawn(context_, std::move(task), asio::use_future);
        if (future.wait_for(timeout) != std::future_status::ready)
            throw std::runtime_error("task did not finish in time");
        return future.get();
    }

  private:
    asio::io_context context_;
    asio::executor_work_guard<asio::io_context::executor_type> work_;
    asio::thread_pool pool_;
    std::future<void> running_;
};

}  // namespace velopad::test

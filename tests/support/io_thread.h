#pragma once
// An io_context running on its own thread, and a way to wait for a Task from a test body.

#include "agent_core/async.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/executor_work_guard.hpp>

#include <chrono>
#include <future>
#include <stdexcept>
#include <thread>

namespace velopad::test {

class IoThread {
public:
    IoThread() : work_(context_.get_executor()), thread_([this] { context_.run(); }) {}
    ~IoThread() {
        work_.reset();
        context_.stop();
        thread_.join();
    }

    Executor executor() { return context_.get_executor(); }
    asio::io_context& context() { return context_; }

    // Runs the task on the io thread and waits for its result (rethrowing its exception).
    template <class T>
    T run(Task<T> task, std::chrono::seconds timeout = std::chrono::seconds(20)) {
        std::promise<T> promise;
        auto future = promise.get_future();
        asio::co_spawn(context_, std::move(task), [&promise](std::exception_ptr error, auto... value) {
            if (error) {
                promise.set_exception(error);
            } else {
                if constexpr (sizeof...(value) == 0) promise.set_value();
                else promise.set_value(std::move(value)...);
            }
        });
        if (future.wait_for(timeout) != std::future_status::ready) {
            throw std::runtime_error("task did not finish in time");
        }
        return future.get();
    }

private:
    asio::io_context context_;
    asio::executor_work_guard<asio::io_context::executor_type> work_;
    std::thread thread_;
};

}  // namespace velopad::test

#include "agent_core/async.h"

#include <boost/asio/associated_executor.hpp>
#include <boost/asio/async_result.hpp>
#include <boost/asio/dispatch.hpp>
#include <boost/asio/post.hpp>
#include <exception>

namespace velopad::detail {

Task<void> runOnPool(asio::thread_pool& pool, const std::function<void()>& work) {
    auto initiation = [&pool, &work](auto handler) {
        asio::post(pool, [&work, handler = std::move(handler)]() mutable {
            std::exception_ptr error;
            try {
                work();
            } catch (...) {
                error = std::current_exception();
            }
            // The exception travels whole to the caller's thread; this thread keeps no share
            // of it, so it is freed where it was last used.
            auto executor = asio::get_associated_executor(handler);
            asio::dispatch(executor,
                           [handler = std::move(handler), error = std::move(error)]() mutable {
                               std::move(handler)(std::move(error));
                           });
        });
    };
    co_await asio::async_initiate<const asio::use_awaitable_t<>, void(std::exception_ptr)>(
        initiation, asio::use_awaitable);
}

}  // namespace velopad::detail

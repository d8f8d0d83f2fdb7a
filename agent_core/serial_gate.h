#pragma once
// Lets one caller at a time through a section that awaits (for example, rendering on a thread
// pool), in the order they arrived. Use it only from one strand.

#include <boost/asio/experimental/channel.hpp>
#include <boost/system/error_code.hpp>

#include "agent_core/async.h"

namespace velopad {

class SerialGate {
  public:
    // Leaves the section when destroyed.
    class Pass {
      public:
        explicit Pass(SerialGate* gate) : gate_(gate) {}
        Pass(Pass&& other) noexcept : gate_(std::exchange(other.gate_, nullptr)) {}
        Pass(const Pass&) = delete;
        Pass& operator=(const Pass&) = delete;
        Pass& operator=(Pass&&) = delete;
        ~Pass() {
            if (gate_ != nullptr) {
                gate_->leave();
            }
        }

      private:
        SerialGate* gate_;
    };

    explicit SerialGate(const Strand& strand) : slot_(strand, 1) {}

    // Waits until every earlier caller has left, then enters.
    Task<Pass> enter() {
        co_await slot_.async_send(boost::system::error_code{}, asio::use_awaitable);
        co_return Pass(this);
    }

  private:
    void leave() {
        slot_.try_receive([](boost::system::error_code) {});
    }

    asio::experimental::channel<void(boost::system::error_code)> slot_;
};

}  // namespace velopad

#pragma once
// SIGINT and SIGTERM as a request to quit, with who sent it: a stop nobody asked for at the
// terminal then says which process asked for it ("SIGTERM from process 4242 (velopad-agent)").
// One instance per process; the handlers stay installed until it is destroyed.

#include <boost/asio/posix/stream_descriptor.hpp>
#include <functional>
#include <string>

#include "agent_core/async.h"

namespace velopad {

class StopSignals {
  public:
    explicit StopSignals(Executor executor);
    ~StopSignals();
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

    // Calls `handler` once, on the executor, when the first of the signals arrives.
    void asyncWait(std::function<void(const std::string& description)> handler);
    void cancel();

  private:
    asio::posix::stream_descriptor wakeup_;
};

}  // namespace velopad

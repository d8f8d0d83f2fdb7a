#pragma once
// The yardstick of the benchmarks: the simplest Beast WebSocket server, which echoes every
// message. Figures are reported as ratios to it, measured in the same run.

#include <boost/asio/ip/tcp.hpp>

#include "agent_core/async.h"

namespace velopad::bench {

// Accepts connections on `acceptor` until it is closed, echoing each one's messages.
Task<void> echoServer(asio::ip::tcp::acceptor& acceptor);

}  // namespace velopad::bench

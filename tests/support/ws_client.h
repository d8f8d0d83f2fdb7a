#pragma once
// A small blocking WebSocket client for tests: connects over loopback with chosen handshake
// headers, sends text frames and waits (with a time limit) for the next frame.

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace velopad::test {

class WsClient {
  public:
    using Headers = std::vector<std::pair<std::string, std::string>>;

    WsClient(std::uint16_t port, const Headers& headers = {});
    ~WsClient();

    void send(const std::string& text);
    void sendBinary(const std::string& bytes);
    void ping();
    // The next message, or none when nothing arrived in time or the connection ended.
    std::optional<std::string> receive(
        std::chrono::milliseconds timeout = std::chrono::milliseconds(2000));
    // True once the server has closed the connection (waits up to the timeout).
    bool closedByServer(std::chrono::milliseconds timeout = std::chrono::milliseconds(2000));
    // Pong control frames seen so far (they arrive while a receive is waiting).
    int pongsReceived() const;

    struct Impl;

  private:
    std::unique_ptr<Impl> impl_;
};

}  // namespace velopad::test

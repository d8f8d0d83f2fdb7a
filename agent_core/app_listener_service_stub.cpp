#include "agent_core/app_listener_service_stub.h"

#include <utility>

namespace velopad {

ListenerServiceStub::ListenerServiceStub(Executor executor, AppWireHandler appWireHandler)
    : strand_(asio::make_strand(std::move(executor))), appWireHandler_(std::move(appWireHandler)) {}

Task<std::optional<std::string>> ListenerServiceStub::route(std::string data) {
    co_return co_await onStrand(strand_, appWireHandler_.handle(std::move(data)));
}

}  // namespace velopad

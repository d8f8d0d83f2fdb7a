#pragma once
// A stand-alone entry point for the application path without the network listener: a
// serialised object that routes raw message bytes to one AppWireHandler.

#include <optional>
#include <string>

#include "agent_core/app_wire_handler.h"
#include "agent_core/async.h"

namespace velopad {

class ListenerServiceStub {
  public:
    ListenerServiceStub(Executor executor, AppWireHandler appWireHandler);

    // The same as AppWireHandler::handle, one call at a time.
    Task<std::optional<std::string>> route(std::string data);

    const AppWireHandler& appWireHandler() const { return appWireHandler_; }

  private:
    Strand strand_;
    AppWireHandler appWireHandler_;
};

}  // namespace velopad

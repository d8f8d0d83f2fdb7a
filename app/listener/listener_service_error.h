#pragma once

#include <stdexcept>
#include <string>

namespace velopad {

enum class ListenerServiceError { invalidPort, alreadyRunning };

class ListenerServiceException : public std::runtime_error {
  public:
    explicit ListenerServiceException(ListenerServiceError error)
        : std::runtime_error(error == ListenerServiceError::alreadyRunning
                                 ? "Listener is already running."
                                 : "The listening port is not valid."),
          error_(error) {}
    ListenerServiceError error() const { return error_; }

  private:
    ListenerServiceError error_;
};

}  // namespace velopad

#pragma once
// The agent in a terminal: prints the PIN, the pairing URL with its QR code and every status
// change, and takes the panel's commands as lines on standard input.

#include <functional>
#include <iosfwd>
#include <memory>
#include <string>

#include "app/agent_view_model.h"

namespace velopad {

class HeadlessFrontEnd {
  public:
    HeadlessFrontEnd(std::shared_ptr<AgentViewModel> viewModel, std::ostream& out,
                     std::function<void()> quit);

    // Prints what changed since the last state it saw.
    void render(const AgentViewState& state);

    // Carries out one command line; false for a line that is not a command.
    bool command(const std::string& line);

    static const char* helpText();

  private:
    std::shared_ptr<AgentViewModel> viewModel_;
    std::ostream& out_;
    std::function<void()> quit_;
    std::optional<AgentViewState> shown_;
};

}  // namespace velopad

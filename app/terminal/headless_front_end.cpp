#include "app/terminal/headless_front_end.h"

#include <map>
#include <ostream>

#include "app/pairing/pairing_qr.h"

namespace velopad {

HeadlessFrontEnd::HeadlessFrontEnd(std::shared_ptr<AgentViewModel> viewModel, std::ostream& out,
                                   std::function<void()> quit)
    : viewModel_(std::move(viewModel)), out_(out), quit_(std::move(quit)) {}

const char* HeadlessFrontEnd::helpText() {
    return "Commands: restart, unpair, show-code, hide-code, dismiss, push, quit";
}

void HeadlessFrontEnd::render(const AgentViewState& state) {
    const AgentViewState before = shown_.value_or(AgentViewState{});
    const bool first = !shown_;
    shown_ = state;

    if (first || state.currentPIN != before.currentPIN) out_ << "PIN: " << state.currentPIN << "\n";
    if (first || state.pairingQRString != before.pairingQRString) {
        out_ << "Pairing URL: " << state.pairingQRString << "\n";
        if (state.showsPairingBlock()) out_ << pairingQRForTerminal(state.pairingQRString);
    } else if (state.showsPairingBlock() && !before.showsPairingBlock()) {
        out_ << pairingQRForTerminal(state.pairingQRString);
    }
    if (first || state.showsPairingBlock() != before.showsPairingBlock() ||
        state.pairingStatusText() != before.pairingStatusText()) {
        out_ << "Pairing: "
             << (state.showsPairingBlock() ? state.pairingInstruction() : state.pairingStatusText())
             << "\n";
    }
    if (first || state.statusText() != before.statusText()) {
        out_ << "Status: " << state.statusText() << "\n";
    }
    if (state.listenerError && state.listenerError != before.listenerError) {
        out_ << "Error: " << *state.listenerError << "\n";
    }
    if (state.commandError && state.commandError != before.commandError) {
        out_ << "Error: " << *state.commandError << "\n";
    }
    if (state.shortcutCoachMessage && state.shortcutCoachMessage != before.shortcutCoachMessage) {
        out_ << "Hint: " << *state.shortcutCoachMessage << " (type \"dismiss\")\n";
    }
    if (state.advertisingNotice && state.advertisingNotice != before.advertisingNotice) {
        out_ << "Notice: " << *state.advertisingNotice << "\n";
    }
    out_.flush();
}

bool HeadlessFrontEnd::command(const std::string& line) {
    static const std::map<std::string, Task<void> (AgentViewModel::*)()> commands{
        {"restart", &AgentViewModel::restartListener},
        {"unpair", &AgentViewModel::unpair},
        {"show-code", &AgentViewModel::showPairingCode},
        {"hide-code", &AgentViewModel::hidePairingCode},
        {"dismiss", &AgentViewModel::dismissShortcutCoach},
        {"push", &AgentViewModel::pushDecks},
    };
    const auto begin = line.find_first_not_of(" \t\r");
    const auto end = line.find_last_not_of(" \t\r");
    const std::string word = begin == std::string::npos ? "" : line.substr(begin, end - begin + 1);
    if (word.empty()) return true;
    if (word == "quit") {
        quit_();
        return true;
    }
    const auto found = commands.find(word);
    if (found == commands.end()) {
        out_ << helpText() << "\n";
        out_.flush();
        return false;
    }
    viewModel_->post(found->second);
    return true;
}

}  // namespace velopad

#include "agent_core/shortcuts_runner.h"

#include <exception>
#include <string_view>
#include <utility>
#include <vector>

#include "agent_core/shortcut_text.h"
#include "agent_core/shortcuts_tool.h"

namespace velopad {

namespace {

constexpr const char* toolMissingMessage = "The shortcuts CLI is not available on this Mac.";
constexpr const char* timedOutMessage = "Still waiting on your Mac \u2014 check for a dialog.";
constexpr const char* notFoundMessage = "Shortcut missing \u2014 replace it in Edit Deck.";
constexpr const char* cancelledMessage = "Needs permission or input on your Mac.";
constexpr const char* runFailedMessage = "Could not run Shortcut on Mac.";

// The tool's exit status when the run was stopped by SIGTERM.
constexpr std::int32_t terminatedStatus = 143;

// A failure text travels to the phone to sit under a key; a runaway standard error (up to the
// runner's bound of a mebibyte) would only swell the reply past what a client accepts.
constexpr std::size_t longestFailureMessage = 1000;

std::string shortened(std::string_view text) {
    if (text.size() <= longestFailureMessage) {
        return std::string(text);
    }
    std::size_t end = longestFailureMessage;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) {
        --end;  // do not split a character
    }
    return std::string(text.substr(0, end)) + "\u2026";
}

// The tool's own outcomes: each has an exit status of its own and a fixed text on standard
// error. Everything else is the Shortcut's command speaking, whatever its words.
constexpr std::int32_t toolNotFoundStatus = 66;
constexpr std::int32_t toolRefusedStatus = 77;
constexpr std::string_view toolNotFoundText = "Shortcut not found";
constexpr std::string_view toolRefusedPrefix = "velopad-shortcuts: ";

ShortcutErrorCode classifyFailure(std::string_view trimmedStderr, std::int32_t exitCode) {
    if (exitCode == toolNotFoundStatus && trimmedStderr == toolNotFoundText) {
        return ShortcutErrorCode::notFound;
    }
    if (exitCode == toolRefusedStatus && trimmedStderr.starts_with(toolRefusedPrefix)) {
        return ShortcutErrorCode::cancelled;
    }
    // The tool itself was stopped (the command's own end by a signal is reported in words).
    if (exitCode == terminatedStatus && trimmedStderr.empty()) {
        return ShortcutErrorCode::cancelled;
    }
    return ShortcutErrorCode::runFailed;
}

Task<ShortcutRunResult> runWith(std::string executable, std::shared_ptr<ProcessRunning> runner,
                                double timeout, std::string shortcutIdentifier) {
    if (!isExecutableFile(executable)) {
        co_return ShortcutRunResult::failure(std::move(shortcutIdentifier),
                                             ShortcutErrorCode::runFailed, toolMissingMessage);
    }
    std::vector<std::string> arguments{"run", shortcutIdentifier};
    std::optional<ProcessRunResult> result;
    std::string launchFailure;
    try {
        result = co_await runner->run(executable, std::move(arguments), timeout);
    } catch (const std::exception& error) {
        launchFailure = error.what();
    }
    if (!result) {
        co_return ShortcutRunResult::failure(
            std::move(shortcutIdentifier), ShortcutErrorCode::runFailed,
            launchFailure.empty() ? runFailedMessage : launchFailure);
    }
    co_return ShortcutsRunner::classify(std::move(shortcutIdentifier), *result);
}

}  // namespace

ShortcutRunResult ShortcutRunResult::ok(std::string shortcutIdentifier) {
    return {std::move(shortcutIdentifier), std::nullopt};
}

ShortcutRunResult ShortcutRunResult::failure(std::string shortcutIdentifier, ShortcutErrorCode code,
                                             std::optional<std::string> message) {
    return {std::move(shortcutIdentifier), ShortcutRunError{code, std::move(message)}};
}

ShortcutsRunner::ShortcutsRunner(std::string executable, std::shared_ptr<ProcessRunning> runner,
                                 double timeout)
    : executable_(std::move(executable)), runner_(std::move(runner)), timeout_(timeout) {}

Task<ShortcutRunResult> ShortcutsRunner::run(std::string shortcutIdentifier) const {
    // The work holds copies, so it never reaches back into this object.
    return runWith(executable_, runner_, timeout_, std::move(shortcutIdentifier));
}

ShortcutRunResult ShortcutsRunner::classify(std::string shortcutIdentifier,
                                            const ProcessRunResult& result) {
    if (result.timedOut) {
        return ShortcutRunResult::failure(std::move(shortcutIdentifier),
                                          ShortcutErrorCode::timedOut, timedOutMessage);
    }
    if (result.exitCode == 0) {
        return ShortcutRunResult::ok(std::move(shortcutIdentifier));
    }
    const std::string_view trimmed = trimWhitespaceAndLineBreaks(result.stderrText);
    const ShortcutErrorCode code = classifyFailure(trimmed, result.exitCode);
    std::string message;
    switch (code) {
        case ShortcutErrorCode::notFound:
            message = notFoundMessage;
            break;
        case ShortcutErrorCode::cancelled:
            message = cancelledMessage;
            break;
        default:
            message = trimmed.empty() ? std::string(runFailedMessage) : shortened(trimmed);
            break;
    }
    return ShortcutRunResult::failure(std::move(shortcutIdentifier), code, std::move(message));
}

}  // namespace velopad

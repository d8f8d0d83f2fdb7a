#pragma once
// The payload records of the command, result, liveness, snapshot and icon messages, with their
// error codes. JSON keys are the field names; optional fields are left out when empty and read
// as absent when missing or `null`; unknown keys are ignored.

#include <map>
#include <nlohmann/json_fwd.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/deck_tile.h"
#include "protocol/wire_date.h"

namespace velopad {

// ---- error codes (travel as their raw strings) ----

enum class AppErrorCode { notFound, launchFailed, focusFailed, unauthorized };
enum class ActionErrorCode { unknown, failed, unauthorized };
enum class ShortcutErrorCode { notFound, runFailed, cancelled, timedOut, unauthorized };

std::string_view rawValue(
    AppErrorCode code);  // "not_found", "launch_failed", "focus_failed", "unauthorized"
std::string_view rawValue(ActionErrorCode code);  // "unknown", "failed", "unauthorized"
std::string_view rawValue(
    ShortcutErrorCode code);  // "not_found", "run_failed", "cancelled", "timed_out", "unauthorized"
std::optional<AppErrorCode> appErrorCodeFromRawValue(std::string_view text);
std::optional<ActionErrorCode> actionErrorCodeFromRawValue(std::string_view text);
std::optional<ShortcutErrorCode> shortcutErrorCodeFromRawValue(std::string_view text);

// ---- records ----

// No fields; written as {}. When read, the value under "payload" is not examined.
struct EmptyPayload {
    friend bool operator==(const EmptyPayload&, const EmptyPayload&) = default;
};

struct AppActionPayload {  // "app.launch", "app.focus"
    std::string bundleId;
    friend bool operator==(const AppActionPayload&, const AppActionPayload&) = default;
};

struct AppOKPayload {  // "app.ok"
    std::string bundleId;
    friend bool operator==(const AppOKPayload&, const AppOKPayload&) = default;
};

struct AppErrorPayload {  // "app.error"
    std::string bundleId;
    AppErrorCode code = AppErrorCode::notFound;
    std::optional<std::string> message;
    friend bool operator==(const AppErrorPayload&, const AppErrorPayload&) = default;
};

struct ActionRunPayload {  // "action.run"
    std::string actionId;
    friend bool operator==(const ActionRunPayload&, const ActionRunPayload&) = default;
};

struct ActionOKPayload {  // "action.ok"
    std::string actionId;
    friend bool operator==(const ActionOKPayload&, const ActionOKPayload&) = default;
};

struct ActionErrorPayload {  // "action.error"
    std::string actionId;
    ActionErrorCode code = ActionErrorCode::unknown;
    std::optional<std::string> message;
    friend bool operator==(const ActionErrorPayload&, const ActionErrorPayload&) = default;
};

struct ShortcutRunPayload {  // "shortcut.run"
    std::string shortcutIdentifier;
    std::optional<std::string> label;
    friend bool operator==(const ShortcutRunPayload&, const ShortcutRunPayload&) = default;
};

struct ShortcutOKPayload {  // "shortcut.ok"
    std::string shortcutIdentifier;
    friend bool operator==(const ShortcutOKPayload&, const ShortcutOKPayload&) = default;
};

struct ShortcutErrorPayload {  // "shortcut.error"
    std::string shortcutIdentifier;
    ShortcutErrorCode code = ShortcutErrorCode::notFound;
    std::optional<std::string> message;
    friend bool operator==(const ShortcutErrorPayload&, const ShortcutErrorPayload&) = default;
};

struct PingPayload {  // "ping"
    WireDate ts;
    friend bool operator==(const PingPayload&, const PingPayload&) = default;
};

struct PongPayload {            // "pong"
    WireDate ts;                // the ping's ts, copied
    std::optional<double> rtt;  // seconds, agent's now minus ts
    std::optional<std::vector<std::string>> runningBundleIds;
    friend bool operator==(const PongPayload&, const PongPayload&) = default;
};

struct AppIconRequestPayload {  // "app.icon.request"
    std::vector<std::string> bundleIds;
    friend bool operator==(const AppIconRequestPayload&, const AppIconRequestPayload&) = default;
};

struct AppIconPayload {  // "app.icon", one per icon
    std::string bundleId;
    std::string revision;
    std::string pngBase64;
    friend bool operator==(const AppIconPayload&, const AppIconPayload&) = default;
};

// One deck ("deck.snapshot", and the element of "decks.snapshot"). The list and the map are
// always written; missing on input they read as empty.
struct DeckSnapshotPayload {
    std::string deckId;
    std::string name;
    std::vector<DeckTile> tiles;
    std::vector<std::string> runningBundleIds;
    std::map<std::string, std::string> iconRevisions;
    friend bool operator==(const DeckSnapshotPayload&, const DeckSnapshotPayload&) = default;
};

struct DecksSnapshotPayload {  // "decks.snapshot"
    std::vector<DeckSnapshotPayload> decks;
    friend bool operator==(const DecksSnapshotPayload&, const DecksSnapshotPayload&) = default;
};

// ---- JSON forms (from_json throws DecodeError) ----

void to_json(nlohmann::json& json, const EmptyPayload& payload);
void from_json(const nlohmann::json& json, EmptyPayload& payload);
void to_json(nlohmann::json& json, const AppActionPayload& payload);
void from_json(const nlohmann::json& json, AppActionPayload& payload);
void to_json(nlohmann::json& json, const AppOKPayload& payload);
void from_json(const nlohmann::json& json, AppOKPayload& payload);
void to_json(nlohmann::json& json, const AppErrorPayload& payload);
void from_json(const nlohmann::json& json, AppErrorPayload& payload);
void to_json(nlohmann::json& json, const ActionRunPayload& payload);
void from_json(const nlohmann::json& json, ActionRunPayload& payload);
void to_json(nlohmann::json& json, const ActionOKPayload& payload);
void from_json(const nlohmann::json& json, ActionOKPayload& payload);
void to_json(nlohmann::json& json, const ActionErrorPayload& payload);
void from_json(const nlohmann::json& json, ActionErrorPayload& payload);
void to_json(nlohmann::json& json, const ShortcutRunPayload& payload);
void from_json(const nlohmann::json& json, ShortcutRunPayload& payload);
void to_json(nlohmann::json& json, const ShortcutOKPayload& payload);
void from_json(const nlohmann::json& json, ShortcutOKPayload& payload);
void to_json(nlohmann::json& json, const ShortcutErrorPayload& payload);
void from_json(const nlohmann::json& json, ShortcutErrorPayload& payload);
void to_json(nlohmann::json& json, const PingPayload& payload);
void from_json(const nlohmann::json& json, PingPayload& payload);
void to_json(nlohmann::json& json, const PongPayload& payload);
void from_json(const nlohmann::json& json, PongPayload& payload);
void to_json(nlohmann::json& json, const AppIconRequestPayload& payload);
void from_json(const nlohmann::json& json, AppIconRequestPayload& payload);
void to_json(nlohmann::json& json, const AppIconPayload& payload);
void from_json(const nlohmann::json& json, AppIconPayload& payload);
void to_json(nlohmann::json& json, const DeckSnapshotPayload& payload);
void from_json(const nlohmann::json& json, DeckSnapshotPayload& payload);
void to_json(nlohmann::json& json, const DecksSnapshotPayload& payload);
void from_json(const nlohmann::json& json, DecksSnapshotPayload& payload);

}  // namespace velopad

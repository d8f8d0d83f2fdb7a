#pragma once
// Calls on the user's D-Bus session bus, each over a connection of its own, so a bus that goes
// away never takes the agent with it (the shared GIO connection would end the process).
// Blocking: call from a worker thread.

#include <chrono>
#include <optional>
#include <string>
#include <variant>

namespace velopad {

struct BusCallError {
    std::string name;     // the D-Bus error name, e.g. "org.freedesktop.DBus.Error.ServiceUnknown"
    std::string message;  // its human-readable text, without GIO's "GDBus.Error:…" prefix
};

// The object path an application with a desktop-file ID exports (org.freedesktop.Application):
// "/" + the ID with "." replaced by "/" and "-" by "_" ("org.gnome.Maps" → "/org/gnome/Maps").
std::string applicationObjectPath(const std::string& desktopId);

// Whether a session bus can be reached at all (DBUS_SESSION_BUS_ADDRESS or the user's default).
bool sessionBusAvailable();

// Calls org.freedesktop.Application.Activate on `desktopId`'s bus name, starting the service
// if the bus knows how. Nothing on success; otherwise the error the call returned.
std::optional<BusCallError> activateApplication(
    const std::string& desktopId, std::chrono::milliseconds timeout = std::chrono::seconds(25));

}  // namespace velopad

#include "platform/linux/session_bus.h"

#include "platform/linux/gio_handles.h"
#include "platform/linux/session_bus_call.h"

namespace velopad {

std::string applicationObjectPath(const std::string& desktopId) {
    std::string path = "/" + desktopId;
    for (char& c : path) {
        if (c == '.') c = '/';
        if (c == '-') c = '_';
    }
    return path;
}

bool sessionBusAvailable() { return static_cast<bool>(connectSessionBus()); }

std::optional<BusCallError> activateApplication(const std::string& desktopId,
                                                std::chrono::milliseconds timeout) {
    const auto bus = connectSessionBus();
    if (!bus) return BusCallError{"org.freedesktop.DBus.Error.NoServer", "No session bus"};
    // No platform data: the application picks its own start-up notification.
    GVariant* parameters =
        g_variant_new("(@a{sv})", g_variant_new_array(G_VARIANT_TYPE("{sv}"), nullptr, 0));
    auto reply = callBus(bus.get(), desktopId, applicationObjectPath(desktopId),
                         "org.freedesktop.Application", "Activate", parameters, nullptr, timeout);
    if (auto* error = std::get_if<BusCallError>(&reply)) return std::move(*error);
    return std::nullopt;
}

}  // namespace velopad

#include "platform/linux/session_bus_call.h"

namespace velopad {

gio::Object<GDBusConnection> connectSessionBus() {
    gio::Text address(g_dbus_address_get_for_bus_sync(G_BUS_TYPE_SESSION, nullptr, nullptr));
    if (!address) return nullptr;
    return gio::Object<GDBusConnection>(g_dbus_connection_new_for_address_sync(
        address.get(),
        static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                          G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, nullptr));
}

std::variant<Variant, BusCallError> callBus(GDBusConnection* bus, const std::string& destination,
                                            const std::string& path, const char* interface,
                                            const char* method, GVariant* parameters,
                                            const GVariantType* replyType,
                                            std::chrono::milliseconds timeout) {
    if (!g_dbus_is_name(destination.c_str()) || !g_variant_is_object_path(path.c_str())) {
        if (parameters) g_variant_unref(g_variant_ref_sink(parameters));
        return BusCallError{"org.freedesktop.DBus.Error.InvalidArgs",
                            "Not a bus name or object path: " + destination};
    }
    GError* rawError = nullptr;
    GVariant* reply = g_dbus_connection_call_sync(
        bus, destination.c_str(), path.c_str(), interface, method, parameters, replyType,
        G_DBUS_CALL_FLAGS_NONE, static_cast<int>(timeout.count()), nullptr, &rawError);
    gio::Error error(rawError);
    if (reply) return Variant(reply);
    BusCallError failure;
    if (error) {
        failure.name = gio::takeString(g_dbus_error_get_remote_error(error.get()));
        g_dbus_error_strip_remote_error(error.get());
        failure.message = gio::toString(error->message);
    }
    if (failure.message.empty()) failure.message = "The call failed";
    return failure;
}

bool nameHasOwner(GDBusConnection* bus, const std::string& name) {
    auto reply = callBus(bus, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                         "org.freedesktop.DBus", "NameHasOwner", g_variant_new("(s)", name.c_str()),
                         G_VARIANT_TYPE("(b)"), std::chrono::seconds(5));
    auto* value = std::get_if<Variant>(&reply);
    if (!value) return false;
    gboolean owned = FALSE;
    g_variant_get(value->get(), "(b)", &owned);
    return owned;
}

}  // namespace velopad

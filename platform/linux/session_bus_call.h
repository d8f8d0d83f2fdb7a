#pragma once
// GIO-level helpers behind session_bus.h, shared by the bindings that talk to desktop services
// (private to the Linux bindings; include only from .cpp).

#include <gio/gio.h>

#include <chrono>
#include <string>
#include <variant>

#include "platform/linux/gio_handles.h"
#include "platform/linux/session_bus.h"

namespace velopad {

struct VariantUnref {
    void operator()(GVariant* value) const { g_variant_unref(value); }
};
using Variant = std::unique_ptr<GVariant, VariantUnref>;

// A new connection to the session bus, or nothing when there is none.
gio::Object<GDBusConnection> connectSessionBus();

// One method call; `parameters` (floating or null) is consumed. The reply's body, or the error.
std::variant<Variant, BusCallError> callBus(GDBusConnection* bus, const std::string& destination,
                                            const std::string& path, const char* interface,
                                            const char* method, GVariant* parameters,
                                            const GVariantType* replyType,
                                            std::chrono::milliseconds timeout);

// Whether `name` has an owner on the bus now (no service is started to find out).
bool nameHasOwner(GDBusConnection* bus, const std::string& name);

}  // namespace velopad

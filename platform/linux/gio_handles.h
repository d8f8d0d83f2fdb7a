#pragma once
// Owning handles for GLib/GIO values (private to the Linux bindings; include only from .cpp).

#include <gio/gio.h>

#include <memory>
#include <string>

namespace velopad::gio {

struct ObjectUnref {
    void operator()(gpointer object) const { g_object_unref(object); }
};

template <class T>
using Object = std::unique_ptr<T, ObjectUnref>;

struct FreeText {
    void operator()(gchar* text) const { g_free(text); }
};

using Text = std::unique_ptr<gchar, FreeText>;

struct FreeError {
    void operator()(GError* error) const { g_error_free(error); }
};

using Error = std::unique_ptr<GError, FreeError>;

// Copies a C string, nullptr giving the empty text.
inline std::string toString(const char* text) { return text ? std::string(text) : std::string(); }

// A GLib-owned C string turned into text, freeing it.
inline std::string takeString(gchar* text) {
    Text owned(text);
    return toString(owned.get());
}

}  // namespace velopad::gio

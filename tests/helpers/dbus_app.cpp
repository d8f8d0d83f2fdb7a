// A stand-in D-Bus activatable application (org.freedesktop.Application) for launch tests.
//   dbus_app <bus name> <accept|refuse> <record file>
// It owns <bus name> on the session bus and serves the interface at the name's object path
// ("org.example.App" → /org/example/App). Activate appends "activate\n" to the record file and
// returns, or with "refuse" fails with org.example.Error.Refused "Activation refused". It runs
// until killed or until the bus goes away.

#include <gio/gio.h>

#include <cstdio>
#include <string>

namespace {

constexpr const char* kInterface = R"(
<node>
  <interface name="org.freedesktop.Application">
    <method name="Activate"><arg type="a{sv}" direction="in"/></method>
  </interface>
</node>)";

struct State {
    std::string name;
    bool refuse = false;
    std::string record;
};

void handleCall(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*, GVariant*,
                GDBusMethodInvocation* invocation, gpointer data) {
    const auto* state = static_cast<const State*>(data);
    if (state->refuse) {
        g_dbus_method_invocation_return_dbus_error(invocation, "org.example.Error.Refused",
                                                   "Activation refused");
        return;
    }
    if (FILE* file = std::fopen(state->record.c_str(), "a")) {
        std::fprintf(file, "activate\n");
        std::fclose(file);
    }
    g_dbus_method_invocation_return_value(invocation, nullptr);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) return 64;
    State state{argv[1], std::string(argv[2]) == "refuse", argv[3]};
    std::string path = "/" + state.name;
    for (char& c : path) {
        if (c == '.') c = '/';
        if (c == '-') c = '_';
    }
    GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
    if (!bus) return 1;
    GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(kInterface, nullptr);
    const GDBusInterfaceVTable vtable{handleCall, nullptr, nullptr, {}};
    g_dbus_connection_register_object(bus, path.c_str(), node->interfaces[0], &vtable, &state,
                                      nullptr, nullptr);
    g_bus_own_name_on_connection(bus, state.name.c_str(), G_BUS_NAME_OWNER_FLAGS_NONE, nullptr,
                                 nullptr, nullptr, nullptr);
    GMainLoop* loop = g_main_loop_new(nullptr, FALSE);
    g_main_loop_run(loop);  // the bus closing ends the process
    return 0;
}

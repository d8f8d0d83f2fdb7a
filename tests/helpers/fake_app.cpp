// A stand-in application for launch, focus and single-instance tests. It stays until killed.
//   fake_app [--record FILE] [--title TITLE] [--class NAME] [--wm-pid PID] [--window no]
// With DISPLAY set (and no "--window no") it maps a window titled TITLE (WM_NAME, _NET_WM_NAME)
// with WM_CLASS NAME and _NET_WM_PID its own PID (or PID, as a sandboxed application shows); then
// it renames "pid=<pid>\ndisplay=<DISPLAY>\n" into FILE, so a reader never sees half a file.
//   fake_app --listen PORT [--ignore-term yes]
// Listens on 0.0.0.0:PORT (0: a free one) as a running agent would and prints the port.
//   fake_app --dbus NAME --record FILE [--refuse yes]
// Owns NAME on the session bus and serves org.freedesktop.Application at the name's path
// (org.example.App → /org/example/App): Activate appends "activate\n" to FILE or, refusing,
// fails with org.example.Error.Refused. It ends when the bus goes away.

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <arpa/inet.h>
#include <gio/gio.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>

namespace {

struct Options {
    std::string record, title, wmClass, listen, busName;
    long wmPid;
    bool window, ignoreTerm, refuse;
};

Options parse(int argc, char** argv) {
    std::map<std::string, std::string> flags;
    for (int i = 1; i + 1 < argc; i += 2) flags[argv[i]] = argv[i + 1];
    const auto flag = [&](const std::string& name, const std::string& fallback = "") {
        return flags.contains(name) ? flags[name] : fallback;
    };
    return {.record = flag("--record"),
            .title = flag("--title", "fake_app"),
            .wmClass = flag("--class", "fake_app"),
            .listen = flag("--listen"),
            .busName = flag("--dbus"),
            .wmPid = std::stol(flag("--wm-pid", std::to_string(getpid()))),
            .window = flag("--window") != "no",
            .ignoreTerm = flag("--ignore-term") == "yes",
            .refuse = flag("--refuse") == "yes"};
}

void record(const std::string& path, const char* display) {
    if (path.empty()) return;
    const std::string temporary = path + ".partial";
    FILE* file = std::fopen(temporary.c_str(), "w");
    if (!file) return;
    std::fprintf(file, "pid=%d\ndisplay=%s\n", static_cast<int>(getpid()), display ? display : "");
    std::fclose(file);
    std::rename(temporary.c_str(), path.c_str());
}

Display* openWindow(const Options& options) {
    Display* display = XOpenDisplay(nullptr);
    if (!display) return nullptr;
    const int screen = DefaultScreen(display);
    const Window window =
        XCreateSimpleWindow(display, RootWindow(display, screen), 10, 10, 200, 120, 1,
                            BlackPixel(display, screen), WhitePixel(display, screen));
    XStoreName(display, window, options.title.c_str());
    const Atom utf8 = XInternAtom(display, "UTF8_STRING", False);
    XChangeProperty(display, window, XInternAtom(display, "_NET_WM_NAME", False), utf8, 8,
                    PropModeReplace, reinterpret_cast<const unsigned char*>(options.title.c_str()),
                    static_cast<int>(options.title.size()));
    XChangeProperty(display, window, XInternAtom(display, "_NET_WM_PID", False), XA_CARDINAL, 32,
                    PropModeReplace, reinterpret_cast<const unsigned char*>(&options.wmPid), 1);
    std::string wmClass = options.wmClass;
    XClassHint hint{wmClass.data(), wmClass.data()};
    XSetClassHint(display, window, &hint);
    XSelectInput(display, window, StructureNotifyMask);
    XMapWindow(display, window);
    for (XEvent event{}; event.type != MapNotify;) XNextEvent(display, &event);
    return display;
}

int listenOn(const Options& options) {
    if (options.ignoreTerm) std::signal(SIGTERM, SIG_IGN);
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    const int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};  // INADDR_ANY
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<unsigned short>(std::stoi(options.listen)));
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(fd, 4) != 0) {
        std::perror("fake_app");
        return 1;
    }
    socklen_t length = sizeof address;
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    std::printf("%u\n", ntohs(address.sin_port));
    std::fflush(stdout);
    for (;;) pause();
}

void activate(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*, GVariant*,
              GDBusMethodInvocation* invocation, gpointer data) {
    const auto& options = *static_cast<const Options*>(data);
    if (options.refuse) {
        g_dbus_method_invocation_return_dbus_error(invocation, "org.example.Error.Refused",
                                                   "Activation refused");
        return;
    }
    if (FILE* file = std::fopen(options.record.c_str(), "a")) {
        std::fputs("activate\n", file);
        std::fclose(file);
    }
    g_dbus_method_invocation_return_value(invocation, nullptr);
}

int serveOnBus(Options& options) {
    std::string path = "/" + options.busName;
    std::replace(path.begin(), path.end(), '.', '/');
    std::replace(path.begin(), path.end(), '-', '_');
    GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
    if (!bus) return 1;
    GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(
        R"(<node><interface name="org.freedesktop.Application">
             <method name="Activate"><arg type="a{sv}" direction="in"/></method>
           </interface></node>)",
        nullptr);
    const GDBusInterfaceVTable vtable{activate, nullptr, nullptr, {}};
    g_dbus_connection_register_object(bus, path.c_str(), node->interfaces[0], &vtable, &options,
                                      nullptr, nullptr);
    g_bus_own_name_on_connection(bus, options.busName.c_str(), G_BUS_NAME_OWNER_FLAGS_NONE, nullptr,
                                 nullptr, nullptr, nullptr);
    g_main_loop_run(g_main_loop_new(nullptr, FALSE));  // the bus closing ends the process
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    Options options = parse(argc, argv);
    if (!options.listen.empty()) return listenOn(options);
    if (!options.busName.empty()) return serveOnBus(options);
    const char* displayName = std::getenv("DISPLAY");
    Display* display =
        options.window && displayName && *displayName ? openWindow(options) : nullptr;
    record(options.record, displayName);
    for (XEvent event{}; display;) XNextEvent(display, &event);  // serves its window until killed
    for (;;) pause();
}

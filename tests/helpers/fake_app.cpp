// A stand-in desktop application for launch and focus tests.
//
//   fake_app [--record FILE] [--title TITLE] [--class NAME] [--wm-pid PID] [--window no]
//
// With DISPLAY set (and no "--window no") it opens a window titled TITLE (WM_NAME and
// _NET_WM_NAME) with WM_CLASS NAME and _NET_WM_PID its own process ID (or PID, as a sandboxed
// application would show), and waits until the window is mapped. Then it records that it runs by
// writing "pid=<pid>\ndisplay=<DISPLAY>\n" to FILE through a rename, so a reader never sees half
// a file. It stays until killed.

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

struct Options {
    std::string record;
    std::string title = "fake_app";
    std::string wmClass = "fake_app";
    long wmPid = static_cast<long>(getpid());
    bool window = true;
};

Options parse(int argc, char** argv) {
    Options options;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string flag = argv[i];
        if (flag == "--record") options.record = argv[i + 1];
        if (flag == "--title") options.title = argv[i + 1];
        if (flag == "--class") options.wmClass = argv[i + 1];
        if (flag == "--wm-pid") options.wmPid = std::atol(argv[i + 1]);
        if (flag == "--window") options.window = std::string(argv[i + 1]) != "no";
    }
    return options;
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

}  // namespace

int main(int argc, char** argv) {
    const Options options = parse(argc, argv);
    const char* displayName = std::getenv("DISPLAY");
    Display* display =
        options.window && displayName && *displayName ? openWindow(options) : nullptr;
    record(options.record, displayName);
    if (!display) {
        for (;;) pause();
    }
    for (;;) {
        XEvent event{};
        XNextEvent(display, &event);
    }
}

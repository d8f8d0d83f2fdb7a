// velopad-shortcuts: the user's Shortcuts on this computer, as the agent lists and runs them.
// See usageText below for the commands and exit statuses.
//
// `run` starts the Shortcut's command (no shell, unless the command names one) in a session of
// its own with standard input from /dev/null, waits for it, and passes on its standard output,
// standard error and exit status. The command writes into buffers this program holds, not into
// this program's own output, so whatever it leaves running (a window it opened, a background
// job) keeps running after this program ends, is killed, or its reader goes away.

#include <fcntl.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <exception>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "shortcut_store.h"

extern char** environ;

namespace {

using velopad::shortcuts_tool::ShortcutStore;

// Exit statuses of this program's own outcomes (sysexits.h); any other status of `run` is the
// command's.
constexpr int usageStatus = 64;
constexpr int notFoundStatus = 66;
constexpr int refusedStatus = 77;

constexpr const char* usageText =
    "usage: velopad-shortcuts list [--show-identifiers]\n"
    "       velopad-shortcuts run <identifier>\n"
    "       velopad-shortcuts create <name> [--icon <icon>] -- <command> [<argument>...]\n"
    "       velopad-shortcuts rename <identifier> <name>\n"
    "       velopad-shortcuts edit <identifier> [--name <name>] [--icon <icon>]\n"
    "                              [-- <command> [<argument>...]]\n"
    "       velopad-shortcuts delete <identifier>\n"
    "       velopad-shortcuts --help\n"
    "\n"
    "Shortcuts are desktop entries in $XDG_DATA_HOME/HarborlinkAgent/Shortcuts.\n"
    "list     one \"Name\" or \"Name (IDENTIFIER)\" line per Shortcut, by name\n"
    "run      runs the command in its own session, stdin from /dev/null; exits with its status\n"
    "create   prints the new Shortcut's identifier\n"
    "edit     changes only what is given; --icon \"\" removes the icon\n"
    "\n"
    "Exit status: 0 done; 64 bad usage; 66 \"Shortcut not found\"; 77 refused, because other\n"
    "users could change the Shortcuts folder or file; 1 any other failure of this program.\n"
    "For run, any other status is the command's own (128 + N when signal N ended it;\n"
    "126/127 when it could not be started).\n";

int usage() {
    std::cerr << usageText;
    return usageStatus;
}

int notFound() {
    std::cerr << "Shortcut not found\n";
    return notFoundStatus;
}

int refused(const std::string& reason) {
    std::cerr << "velopad-shortcuts: Refusing to run Shortcuts: " << reason << '\n';
    return refusedStatus;
}

// A name printed on one line: line breaks and other control characters become blanks, and
// bytes that are not UTF-8 become U+FFFD, so one odd file never spoils the whole listing.
std::string singleLine(const std::string& text) {
    std::string line;
    std::size_t index = 0;
    while (index < text.size()) {
        const auto byte = static_cast<unsigned char>(text[index]);
        std::size_t length = byte < 0x80                           ? 1
                             : (byte >> 5) == 0x6 && byte >= 0xC2  ? 2
                             : (byte >> 4) == 0xE                  ? 3
                             : (byte >> 3) == 0x1E && byte <= 0xF4 ? 4
                                                                   : 0;
        bool valid = length > 0 && index + length <= text.size();
        for (std::size_t k = 1; valid && k < length; ++k) {
            valid = (static_cast<unsigned char>(text[index + k]) & 0xC0) == 0x80;
        }
        if (valid && length >= 3) {
            const auto second = static_cast<unsigned char>(text[index + 1]);
            valid = !(byte == 0xE0 && second < 0xA0) && !(byte == 0xED && second >= 0xA0) &&
                    !(byte == 0xF0 && second < 0x90) && !(byte == 0xF4 && second >= 0x90);
        }
        if (!valid) {
            line += "\uFFFD";
            ++index;
            continue;
        }
        if (length == 1 && (byte < 0x20 || byte == 0x7F)) {
            line += ' ';
        } else {
            line.append(text, index, length);
        }
        index += length;
    }
    return line;
}

int list(const ShortcutStore& store, const std::vector<std::string>& options) {
    bool showIdentifiers = false;
    for (const std::string& option : options) {
        if (option != "--show-identifiers") {
            return usage();
        }
        showIdentifiers = true;
    }
    for (const auto& shortcut : store.list()) {
        std::string line = shortcut.entry.name;
        if (showIdentifiers) {
            line += " (" + shortcut.identifier + ")";
        }
        std::cout << singleLine(line) << '\n';
    }
    std::cout.flush();
    return std::cout ? 0 : 1;
}

// An anonymous in-memory file that collects one output stream of the command.
int outputBuffer(const char* name) {
    const int fd = ::memfd_create(name, MFD_CLOEXEC);
    if (fd < 0) {
        throw std::runtime_error(std::string("Could not create an output buffer: ") +
                                 std::strerror(errno));
    }
    return fd;
}

// Copies what the command wrote so far (at most 4 MiB) to `target`.
void passOn(int buffer, int target) {
    constexpr off_t limit = 4 * 1024 * 1024;
    char chunk[16 * 1024];
    off_t offset = 0;
    while (offset < limit) {
        const ssize_t count = ::pread(buffer, chunk, sizeof chunk, offset);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count <= 0) {
            return;
        }
        for (ssize_t done = 0; done < count;) {
            const ssize_t written =
                ::write(target, chunk + done, static_cast<size_t>(count - done));
            if (written < 0 && errno == EINTR) {
                continue;
            }
            if (written <= 0) {
                return;
            }
            done += written;
        }
        offset += count;
    }
}

// Starts `argv` as described at the top of the file; returns its pid, or the errno.
int spawnCommand(const std::vector<std::string>& arguments, int out, int err, pid_t& pid) {
    std::vector<char*> argv;
    for (const std::string& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attributes);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out, STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, err, STDERR_FILENO);
    sigset_t none;
    sigset_t all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &all);
    posix_spawnattr_setflags(&attributes,
                             POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    const int error = ::posix_spawnp(&pid, argv[0], &actions, &attributes, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    return error;
}

int run(const ShortcutStore& store, const std::string& identifier) {
    if (const auto reason = store.unsafeFolderReason()) {
        return refused(*reason);
    }
    const auto shortcut = store.find(identifier);
    if (!shortcut) {
        return notFound();
    }
    if (const auto reason = ShortcutStore::unsafeFileReason(shortcut->file)) {
        return refused(*reason);
    }
    const auto arguments = velopad::shortcuts_tool::execArguments(
        shortcut->entry.exec, shortcut->entry, shortcut->file.string());
    if (!arguments) {
        std::cerr << "The Shortcut's command line is empty or malformed\n";
        return 1;
    }
    if (shortcut->entry.path && !shortcut->entry.path->empty() &&
        ::chdir(shortcut->entry.path->c_str()) != 0) {
        std::cerr << "Could not change to " << *shortcut->entry.path << ": " << std::strerror(errno)
                  << '\n';
        return 1;
    }

    const int out = outputBuffer("shortcut-stdout");
    const int err = outputBuffer("shortcut-stderr");
    pid_t pid = -1;
    if (const int error = spawnCommand(*arguments, out, err, pid); error != 0) {
        std::cerr << "Could not run " << arguments->front() << ": " << std::strerror(error) << '\n';
        return error == ENOENT ? 127 : 126;
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    std::cout.flush();
    passOn(out, STDOUT_FILENO);
    passOn(err, STDERR_FILENO);
    if (WIFSIGNALED(status)) {
        const int signal = WTERMSIG(status);
        std::cerr << arguments->front() << " was ended by signal " << signal << " ("
                  << ::strsignal(signal) << ")\n";
        return 128 + signal;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}

// Splits "[--name N] [--icon I] [-- <command…>]" style options; false on bad usage.
struct Changes {
    std::optional<std::string> name;
    std::optional<std::string> icon;
    std::optional<std::vector<std::string>> command;
};

bool parseChanges(const std::vector<std::string>& arguments, std::size_t index, Changes& changes,
                  bool nameAllowed) {
    while (index < arguments.size()) {
        const std::string& option = arguments[index];
        if (option == "--") {
            changes.command.emplace(arguments.begin() + static_cast<std::ptrdiff_t>(index) + 1,
                                    arguments.end());
            return !changes.command->empty();
        }
        if (index + 1 >= arguments.size()) {
            return false;
        }
        if (option == "--icon" && !changes.icon) {
            changes.icon = arguments[index + 1];
        } else if (option == "--name" && nameAllowed && !changes.name) {
            changes.name = arguments[index + 1];
        } else {
            return false;
        }
        index += 2;
    }
    return true;
}

int create(const ShortcutStore& store, const std::vector<std::string>& arguments) {
    // create <name> [--icon <icon>] -- <command…>
    Changes changes;
    if (arguments.empty() || !parseChanges(arguments, 1, changes, false) || !changes.command) {
        return usage();
    }
    std::cout << store.create(arguments[0], *changes.command, changes.icon) << '\n';
    return 0;
}

int edit(const ShortcutStore& store, const std::vector<std::string>& arguments) {
    // edit <identifier> [--name <name>] [--icon <icon>] [-- <command…>]
    Changes changes;
    if (arguments.empty() || !parseChanges(arguments, 1, changes, true) ||
        (!changes.name && !changes.icon && !changes.command)) {
        return usage();
    }
    return store.update(arguments[0], changes.name, changes.icon, changes.command) ? 0 : notFound();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        return usage();
    }
    const std::string command = argv[1];
    const std::vector<std::string> arguments(argv + 2, argv + argc);
    if (command == "--help" || command == "-h" || command == "help") {
        std::cout << usageText;
        return 0;
    }
    try {
        const ShortcutStore store(ShortcutStore::defaultDirectory());
        if (command == "list") {
            return list(store, arguments);
        }
        // The identifier is taken as given, even when it starts with "-".
        if (command == "run" && arguments.size() == 1) {
            return run(store, arguments[0]);
        }
        if (command == "delete" && arguments.size() == 1) {
            return store.remove(arguments[0]) ? 0 : notFound();
        }
        if (command == "rename" && arguments.size() == 2) {
            return store.update(arguments[0], arguments[1], std::nullopt, std::nullopt)
                       ? 0
                       : notFound();
        }
        if (command == "create") {
            return create(store, arguments);
        }
        if (command == "edit") {
            return edit(store, arguments);
        }
        return usage();
    } catch (const std::exception& error) {
        std::cerr << "velopad-shortcuts: " << error.what() << '\n';
        return 1;
    }
}

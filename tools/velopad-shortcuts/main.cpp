// velopad-shortcuts: the user's Shortcuts on this computer, as the agent lists and runs them.
//
//   velopad-shortcuts list [--show-identifiers]   one "Name" or "Name (IDENTIFIER)" line each
//   velopad-shortcuts run <identifier>            runs its command in place of this program
//   velopad-shortcuts create <name> [--icon <icon>] -- <command> [<argument>…]
//   velopad-shortcuts delete <identifier>
//
// `run` replaces this process with the Shortcut's command (no shell, unless the command names
// one), so its exit status and standard error are the command's own.

#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <exception>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "shortcut_store.h"

namespace {

using velopad::shortcuts_tool::ShortcutStore;

constexpr int usageStatus = 64;

int usage() {
    std::cerr
        << "usage: velopad-shortcuts list [--show-identifiers]\n"
           "       velopad-shortcuts run <identifier>\n"
           "       velopad-shortcuts create <name> [--icon <icon>] -- <command> [<argument>...]\n"
           "       velopad-shortcuts delete <identifier>\n";
    return usageStatus;
}

int notFound() {
    std::cerr << "Shortcut not found\n";
    return 1;
}

// A name printed on one line: line breaks and other control characters become blanks.
std::string singleLine(std::string text) {
    for (char& c : text) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
            c = ' ';
        }
    }
    return text;
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
        std::cout << singleLine(shortcut.entry.name);
        if (showIdentifiers) {
            std::cout << " (" << shortcut.identifier << ")";
        }
        std::cout << '\n';
    }
    std::cout.flush();
    return std::cout ? 0 : 1;
}

int run(const ShortcutStore& store, const std::string& identifier) {
    const auto shortcut = store.find(identifier);
    if (!shortcut) {
        return notFound();
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
    std::vector<char*> argv;
    for (const std::string& argument : *arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    std::cout.flush();
    ::execvp(argv[0], argv.data());
    const int error = errno;
    std::cerr << "Could not run " << argv[0] << ": " << std::strerror(error) << '\n';
    return error == ENOENT ? 127 : 126;
}

int create(const ShortcutStore& store, const std::vector<std::string>& arguments) {
    // create <name> [--icon <icon>] -- <command…>
    if (arguments.empty()) {
        return usage();
    }
    const std::string& name = arguments[0];
    std::optional<std::string> icon;
    std::size_t index = 1;
    if (index + 1 < arguments.size() && arguments[index] == "--icon") {
        icon = arguments[index + 1];
        index += 2;
    }
    if (index >= arguments.size() || arguments[index] != "--" || index + 1 >= arguments.size()) {
        return usage();
    }
    const std::vector<std::string> command(
        arguments.begin() + static_cast<std::ptrdiff_t>(index) + 1, arguments.end());
    std::cout << store.create(name, command, icon) << '\n';
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        return usage();
    }
    const std::string command = argv[1];
    const std::vector<std::string> arguments(argv + 2, argv + argc);
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
        if (command == "create") {
            return create(store, arguments);
        }
        return usage();
    } catch (const std::exception& error) {
        std::cerr << "velopad-shortcuts: " << error.what() << '\n';
        return 1;
    }
}

#include "app/panel/autostart_entry.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <sstream>
#include <system_error>

#include "app/storage/atomic_file.h"

namespace velopad {

namespace {

std::filesystem::path homeDirectory() {
    if (const char* home = std::getenv("HOME"); home && *home) return home;
    if (const passwd* entry = getpwuid(getuid()); entry && entry->pw_dir) return entry->pw_dir;
    return std::filesystem::temp_directory_path();
}

// An Exec argument, quoted as desktop entries require when it holds reserved characters.
std::string quotedExecArgument(const std::string& argument) {
    if (argument.find_first_of(" \t\n\"'\\><~|&;$*?#()`=%") == std::string::npos) {
        return argument;
    }
    std::string quoted = "\"";
    for (const char c : argument) {
        // Quoting escapes these with a backslash, and the value escapes each backslash again.
        if (c == '\\') {
            quoted += "\\\\\\\\";
            continue;
        }
        if (c == '"' || c == '`' || c == '$') quoted += "\\\\";
        if (c == '%') {
            quoted += "%%";
            continue;
        }
        quoted += c;
    }
    return quoted + "\"";
}

// The value of `key`; a key given twice takes its last value, as desktop key files do.
std::optional<std::string> valueOf(const std::string& content, const std::string& key) {
    std::istringstream lines(content);
    std::string line;
    std::optional<std::string> value;
    while (std::getline(lines, line)) {
        if (line.rfind(key + "=", 0) == 0) value = line.substr(key.size() + 1);
    }
    return value;
}

}  // namespace

std::filesystem::path autostartEntryPath() {
    std::filesystem::path config;
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg && xdg[0] == '/') {
        config = xdg;
    } else {
        config = homeDirectory() / ".config";
    }
    return config / "autostart" / "velopad-agent.desktop";
}

bool isAutostartEnabled(const std::filesystem::path& entry) {
    std::optional<std::string> content;
    try {
        content = readWholeFile(entry);
    } catch (const std::system_error&) {
        return false;
    }
    if (!content) return false;
    return valueOf(*content, "Hidden") != "true" &&
           valueOf(*content, "X-GNOME-Autostart-enabled") != "false";
}

void setAutostartEnabled(bool enabled, const std::filesystem::path& program,
                         const std::filesystem::path& entry) {
    if (!enabled) {
        std::error_code error;
        std::filesystem::remove(entry, error);
        if (error) throw std::system_error(error, "Could not remove " + entry.string());
        return;
    }
    std::error_code error;
    std::filesystem::create_directories(entry.parent_path(), error);
    if (error) throw std::system_error(error, "Could not create " + entry.parent_path().string());
    const std::string content =
        "[Desktop Entry]\n"
        "Type=Application\n"
        "Name=Velopad Agent\n"
        "Comment=Turns a phone into a deck of keys for this computer\n"
        "Exec=" +
        quotedExecArgument(program.string()) +
        "\n"
        "Icon=velopad-agent\n"
        "Terminal=false\n"
        "X-GNOME-Autostart-enabled=true\n";
    (void)writeFileAtomically(
        entry, content,
        std::filesystem::perms::owner_read | std::filesystem::perms::owner_write |
            std::filesystem::perms::group_read | std::filesystem::perms::others_read);
}

}  // namespace velopad

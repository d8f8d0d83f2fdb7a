#include "shortcut_store.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <system_error>
#include <tuple>

namespace velopad::shortcuts_tool {

namespace {

constexpr std::string_view extension = ".desktop";

std::string lowercase(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

std::string randomIdentifier() {
    std::array<unsigned char, 16> bytes{};
    std::ifstream random("/dev/urandom", std::ios::binary);
    if (!random.read(reinterpret_cast<char*>(bytes.data()), bytes.size())) {
        throw std::runtime_error("Could not read random bytes for a new identifier");
    }
    bytes[6] = static_cast<unsigned char>((bytes[6] & 0x0F) | 0x40);  // version 4
    bytes[8] = static_cast<unsigned char>((bytes[8] & 0x3F) | 0x80);  // RFC 4122 variant
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string text;
    for (std::size_t index = 0; index < bytes.size(); ++index) {
        if (index == 4 || index == 6 || index == 8 || index == 10) {
            text += '-';
        }
        text += digits[bytes[index] >> 4];
        text += digits[bytes[index] & 0x0F];
    }
    return text;
}

// mkdir -p, private to the user for the parts it creates: these files hold commands to run.
void createDirectories(const std::filesystem::path& directory) {
    std::filesystem::path partial;
    for (const auto& part : directory) {
        partial /= part;
        if (::mkdir(partial.c_str(), 0700) != 0 && errno != EEXIST) {
            throw std::system_error(errno, std::generic_category(),
                                    "Could not create " + partial.string());
        }
    }
}

void writeAllOrThrow(int fd, const std::string& text, const std::string& path) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t written = ::write(fd, text.data() + done, text.size() - done);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            throw std::system_error(errno, std::generic_category(), "Could not write " + path);
        }
        done += static_cast<std::size_t>(written);
    }
}

void checkName(const std::string& name) {
    if (name.find_first_not_of(" \t") == std::string::npos) {
        throw std::runtime_error("The name is empty");
    }
    // One Shortcut per listing line: a name may not break a line.
    if (std::any_of(name.begin(), name.end(),
                    [](unsigned char c) { return c < 0x20 || c == 0x7F; })) {
        throw std::runtime_error("The name may not contain control characters");
    }
}

void checkCommand(const std::vector<std::string>& command) {
    if (command.empty() || command.front().empty()) {
        throw std::runtime_error("The command is empty");
    }
}

std::string octal(mode_t mode) {
    char text[8];
    std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
    return text;
}

// Files that run commands must be changeable by their user (or root) alone.
std::optional<std::string> unsafeReason(const std::filesystem::path& path, const char* what) {
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) {
        return std::nullopt;
    }
    if (status.st_uid != ::getuid() && status.st_uid != 0) {
        return std::string(what) + " " + path.string() + " belongs to another user (uid " +
               std::to_string(status.st_uid) + ")";
    }
    if ((status.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
        return std::string(what) + " " + path.string() + " can be changed by other users (mode " +
               octal(status.st_mode) + "); make it private with: chmod go-w " + path.string();
    }
    return std::nullopt;
}

// Sets `key` in the [Desktop Entry] group of `text`: the first "key=" line is replaced (or,
// with no value, removed); a missing key is added at the end of the group.
std::string withKey(const std::string& text, const std::string& key,
                    const std::optional<std::string>& value) {
    std::istringstream lines(text);
    std::string line;
    std::string result;
    bool inGroup = false;
    bool seenGroup = false;
    bool done = false;
    const auto addKey = [&] {
        if (!done && value) {
            result += key + "=" + *value + "\n";
        }
        done = true;
    };
    while (std::getline(lines, line)) {
        const bool header = !line.empty() && line.front() == '[';
        if (header && inGroup) {
            addKey();
        }
        if (header) {
            inGroup = line == "[Desktop Entry]";
            seenGroup = seenGroup || inGroup;
        }
        std::string_view keyPart(line);
        keyPart = keyPart.substr(0, keyPart.find('='));
        while (!keyPart.empty() && keyPart.back() == ' ') {
            keyPart.remove_suffix(1);
        }
        if (inGroup && !done && line.find('=') != std::string::npos && keyPart == key) {
            if (value) {
                result += key + "=" + *value + "\n";
            }
            done = true;
            continue;
        }
        result += line + "\n";
    }
    if (inGroup) {
        addKey();
    }
    if (!seenGroup) {
        throw std::runtime_error("The file has no [Desktop Entry] group");
    }
    return result;
}

}  // namespace

std::filesystem::path ShortcutStore::defaultDirectory() {
    std::filesystem::path dataHome;
    if (const char* value = std::getenv("XDG_DATA_HOME"); value != nullptr && value[0] == '/') {
        dataHome = value;  // relative values are invalid and ignored
    } else {
        const char* home = std::getenv("HOME");
        if (home == nullptr || home[0] == '\0') {
            const passwd* user = ::getpwuid(::getuid());
            home = user != nullptr ? user->pw_dir : "/";
        }
        dataHome = std::filesystem::path(home) / ".local" / "share";
    }
    return dataHome / "HarborlinkAgent" / "Shortcuts";
}

std::optional<StoredShortcut> ShortcutStore::load(const std::filesystem::path& file) const {
    std::error_code error;
    if (!std::filesystem::is_regular_file(file, error)) {
        return std::nullopt;
    }
    std::ifstream stream(file, std::ios::binary);
    if (!stream) {
        return std::nullopt;
    }
    std::ostringstream text;
    text << stream.rdbuf();
    StoredShortcut shortcut{file.stem().string(), file, parseDesktopEntry(text.str())};
    if (shortcut.entry.hidden || shortcut.entry.name.empty()) {
        return std::nullopt;
    }
    return shortcut;
}

std::vector<StoredShortcut> ShortcutStore::list() const {
    std::vector<StoredShortcut> shortcuts;
    std::error_code error;
    for (std::filesystem::directory_iterator it(directory_, error), end; !error && it != end;
         it.increment(error)) {
        const auto& file = it->path();
        if (file.extension() == extension && file.stem().string().front() != '.') {
            if (auto shortcut = load(file)) {
                shortcuts.push_back(std::move(*shortcut));
            }
        }
    }
    std::sort(
        shortcuts.begin(), shortcuts.end(), [](const StoredShortcut& a, const StoredShortcut& b) {
            return std::tie(a.entry.name, a.identifier) < std::tie(b.entry.name, b.identifier);
        });
    return shortcuts;
}

std::optional<StoredShortcut> ShortcutStore::find(const std::string& identifier) const {
    if (identifier.empty() || identifier.find('/') != std::string::npos) {
        return std::nullopt;
    }
    if (auto exact = load(directory_ / (identifier + std::string(extension)))) {
        return exact;
    }
    const std::string wanted = lowercase(identifier);
    for (StoredShortcut& shortcut : list()) {
        if (lowercase(shortcut.identifier) == wanted) {
            return std::move(shortcut);
        }
    }
    return std::nullopt;
}

std::string ShortcutStore::create(const std::string& name, const std::vector<std::string>& command,
                                  const std::optional<std::string>& icon) const {
    checkName(name);
    checkCommand(command);
    std::string text = "[Desktop Entry]\nType=Application\nVersion=1.5\nName=" + escapeValue(name) +
                       "\nExec=" + escapeValue(execValue(command)) + "\n";
    if (icon && !icon->empty()) {
        text += "Icon=" + escapeValue(*icon) + "\n";
    }
    const std::string identifier = randomIdentifier();
    writeAtomically(identifier, text);
    return identifier;
}

void ShortcutStore::writeAtomically(const std::string& identifier, const std::string& text) const {
    createDirectories(directory_);
    const std::filesystem::path target = directory_ / (identifier + std::string(extension));
    const std::filesystem::path temporary = directory_ / ("." + identifier + ".tmp");
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) {
        throw std::system_error(errno, std::generic_category(),
                                "Could not write " + temporary.string());
    }
    try {
        writeAllOrThrow(fd, text, temporary.string());
        if (::fsync(fd) != 0) {
            throw std::system_error(errno, std::generic_category(),
                                    "Could not write " + temporary.string());
        }
    } catch (...) {
        ::close(fd);
        ::unlink(temporary.c_str());
        throw;
    }
    ::close(fd);
    if (::rename(temporary.c_str(), target.c_str()) != 0) {
        const int error = errno;
        ::unlink(temporary.c_str());
        throw std::system_error(error, std::generic_category(),
                                "Could not write " + target.string());
    }
    if (const int directoryFd = ::open(directory_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        directoryFd >= 0) {
        ::fsync(directoryFd);
        ::close(directoryFd);
    }
}

bool ShortcutStore::update(const std::string& identifier, const std::optional<std::string>& name,
                           const std::optional<std::string>& icon,
                           const std::optional<std::vector<std::string>>& command) const {
    const auto shortcut = find(identifier);
    if (!shortcut) {
        return false;
    }
    if (name) {
        checkName(*name);
    }
    if (command) {
        checkCommand(*command);
    }
    std::ifstream stream(shortcut->file, std::ios::binary);
    std::ostringstream original;
    original << stream.rdbuf();
    std::string text = original.str();
    if (name) {
        text = withKey(text, "Name", escapeValue(*name));
    }
    if (icon) {
        text =
            withKey(text, "Icon", icon->empty() ? std::nullopt : std::optional(escapeValue(*icon)));
    }
    if (command) {
        text = withKey(text, "Exec", escapeValue(execValue(*command)));
    }
    writeAtomically(shortcut->identifier, text);
    return true;
}

std::optional<std::string> ShortcutStore::unsafeFolderReason() const {
    return unsafeReason(directory_, "The Shortcuts folder");
}

std::optional<std::string> ShortcutStore::unsafeFileReason(const std::filesystem::path& file) {
    return unsafeReason(file, "The Shortcut file");
}

bool ShortcutStore::remove(const std::string& identifier) const {
    const auto shortcut = find(identifier);
    if (!shortcut) {
        return false;
    }
    if (::unlink(shortcut->file.c_str()) != 0) {
        throw std::system_error(errno, std::generic_category(),
                                "Could not delete " + shortcut->file.string());
    }
    return true;
}

}  // namespace velopad::shortcuts_tool

#include "desktop_entry.h"

#include <array>

namespace velopad::shortcuts_tool {

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view trimLeadingBlanks(std::string_view text) {
    while (!text.empty() && isBlank(text.front())) {
        text.remove_prefix(1);
    }
    return text;
}

std::string_view trimBlanks(std::string_view text) {
    text = trimLeadingBlanks(text);
    while (!text.empty() && isBlank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

// One Exec argument as written: its text with quoting removed, and whether it was quoted.
struct ExecToken {
    std::string text;
    bool quoted = false;
};

std::optional<std::vector<ExecToken>> tokenize(std::string_view exec) {
    std::vector<ExecToken> tokens;
    std::size_t index = 0;
    while (index < exec.size()) {
        if (isBlank(exec[index])) {
            ++index;
            continue;
        }
        ExecToken token;
        while (index < exec.size() && !isBlank(exec[index])) {
            if (exec[index] != '"') {
                token.text += exec[index++];
                continue;
            }
            token.quoted = true;
            ++index;
            bool closed = false;
            while (index < exec.size()) {
                const char c = exec[index++];
                if (c == '"') {
                    closed = true;
                    break;
                }
                if (c == '\\' && index < exec.size() &&
                    std::string_view("\"`$\\").find(exec[index]) != std::string_view::npos) {
                    token.text += exec[index++];
                } else {
                    token.text += c;
                }
            }
            if (!closed) {
                return std::nullopt;
            }
        }
        tokens.push_back(std::move(token));
    }
    return tokens;
}

bool isFileFieldCode(char code) {
    return std::string_view("fFuUdDnNvm").find(code) != std::string_view::npos;
}

}  // namespace

DesktopEntry parseDesktopEntry(std::string_view text) {
    DesktopEntry entry;
    bool inGroup = false;
    std::array<bool, 5> seen{};  // Name, Exec, Icon, Path, Hidden
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        const std::string_view trimmed = trimBlanks(line);
        if (trimmed.empty() || trimmed.front() == '#') {
            continue;
        }
        if (trimmed.front() == '[') {
            inGroup = trimmed == "[Desktop Entry]";
            continue;
        }
        const std::size_t equals = line.find('=');
        if (!inGroup || equals == std::string_view::npos) {
            continue;
        }
        const std::string_view key = trimBlanks(line.substr(0, equals));
        // Blanks after the value are part of it; write "\s" at its start for a leading blank.
        const std::string value = unescapeValue(trimLeadingBlanks(line.substr(equals + 1)));
        const auto take = [&](std::size_t slot, auto&& store) {
            if (!seen[slot]) {
                seen[slot] = true;
                store();
            }
        };
        if (key == "Name") {
            take(0, [&] { entry.name = value; });
        } else if (key == "Exec") {
            take(1, [&] { entry.exec = value; });
        } else if (key == "Icon") {
            take(2, [&] { entry.icon = value; });
        } else if (key == "Path") {
            take(3, [&] { entry.path = value; });
        } else if (key == "Hidden") {
            take(4, [&] { entry.hidden = value == "true"; });
        }
    }
    return entry;
}

std::string unescapeValue(std::string_view value) {
    std::string result;
    result.reserve(value.size());
    for (std::size_t index = 0; index < value.size(); ++index) {
        if (value[index] != '\\' || index + 1 == value.size()) {
            result += value[index];
            continue;
        }
        switch (const char next = value[++index]) {
            case 's':
                result += ' ';
                break;
            case 'n':
                result += '\n';
                break;
            case 't':
                result += '\t';
                break;
            case 'r':
                result += '\r';
                break;
            case '\\':
                result += '\\';
                break;
            default:
                result += '\\';
                result += next;
        }
    }
    return result;
}

std::string escapeValue(std::string_view value) {
    std::string result;
    bool leading = true;
    for (const char c : value) {
        if (leading && c == ' ') {
            result += "\\s";
            continue;
        }
        leading = false;
        switch (c) {
            case '\\':
                result += "\\\\";
                break;
            case '\n':
                result += "\\n";
                break;
            case '\t':
                result += "\\t";
                break;
            case '\r':
                result += "\\r";
                break;
            default:
                result += c;
        }
    }
    return result;
}

std::optional<std::vector<std::string>> execArguments(std::string_view exec,
                                                      const DesktopEntry& entry,
                                                      const std::string& filePath) {
    auto tokens = tokenize(exec);
    if (!tokens) {
        return std::nullopt;
    }
    std::vector<std::string> arguments;
    for (const ExecToken& token : *tokens) {
        if (!token.quoted && token.text == "%i") {
            if (entry.icon && !entry.icon->empty()) {
                arguments.emplace_back("--icon");
                arguments.push_back(*entry.icon);
            }
            continue;
        }
        if (!token.quoted && token.text.size() == 2 && token.text[0] == '%' &&
            isFileFieldCode(token.text[1])) {
            continue;  // a list of files or URLs: we launch with none
        }
        std::string argument;
        for (std::size_t index = 0; index < token.text.size(); ++index) {
            if (token.text[index] != '%') {
                argument += token.text[index];
                continue;
            }
            if (index + 1 == token.text.size()) {
                return std::nullopt;
            }
            const char code = token.text[++index];
            if (code == '%') {
                argument += '%';
            } else if (code == 'c') {
                argument += entry.name;
            } else if (code == 'k') {
                argument += filePath;
            } else if (code != 'i' && !isFileFieldCode(code)) {
                return std::nullopt;
            }
        }
        arguments.push_back(std::move(argument));
    }
    if (arguments.empty() || arguments.front().empty()) {
        return std::nullopt;
    }
    return arguments;
}

std::string execValue(const std::vector<std::string>& arguments) {
    static constexpr std::string_view reserved = " \t\n\"'\\><~|&;$*?#()`";
    std::string result;
    for (const std::string& argument : arguments) {
        if (!result.empty()) {
            result += ' ';
        }
        const bool quote =
            argument.empty() || argument.find_first_of(reserved) != std::string::npos;
        if (quote) {
            result += '"';
        }
        for (const char c : argument) {
            if (c == '%') {
                result += "%%";
                continue;
            }
            if (quote && (c == '"' || c == '`' || c == '$' || c == '\\')) {
                result += '\\';
            }
            result += c;
        }
        if (quote) {
            result += '"';
        }
    }
    return result;
}

}  // namespace velopad::shortcuts_tool

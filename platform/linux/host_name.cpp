#include "platform/linux/host_name.h"

#include <unistd.h>

#include <algorithm>
#include <climits>
#include <fstream>

namespace velopad {
namespace {

constexpr std::string_view prettyHostNameKey = "PRETTY_HOSTNAME";
constexpr std::string_view blanks = " \t\r";

// Decodes the value part of one KEY=VALUE line the way a POSIX shell reads an assignment:
// unquoted text with backslash escapes (trailing blanks dropped), '…' verbatim, "…" with \" \\ \`
// \$ escapes; adjacent parts are joined. An unterminated quote takes the rest of the line.
std::string decodeValue(std::string_view raw) {
    std::string value;
    std::size_t significant = 0;  // length of value without unquoted trailing blanks
    enum class Mode { plain, single, dbl } mode = Mode::plain;
    for (std::size_t i = 0; i < raw.size(); ++i) {
        const char c = raw[i];
        switch (mode) {
            case Mode::plain:
                if (c == '\'') {
                    mode = Mode::single;
                } else if (c == '"') {
                    mode = Mode::dbl;
                } else if (c == '\\' && i + 1 < raw.size()) {
                    value += raw[++i];
                    significant = value.size();
                } else {
                    value += c;
                    if (blanks.find(c) == std::string_view::npos) significant = value.size();
                }
                break;
            case Mode::single:
                if (c == '\'') {
                    mode = Mode::plain;
                } else {
                    value += c;
                }
                significant = value.size();
                break;
            case Mode::dbl:
                if (c == '"') {
                    mode = Mode::plain;
                } else if (c == '\\' && i + 1 < raw.size() &&
                           std::string_view("\"\\`$").find(raw[i + 1]) != std::string_view::npos) {
                    value += raw[++i];
                } else {
                    value += c;
                }
                significant = value.size();
                break;
        }
    }
    value.resize(significant);
    return value;
}

}  // namespace

std::optional<std::string> prettyHostName(const std::filesystem::path& machineInfo) {
    std::ifstream in(machineInfo);
    if (!in) return std::nullopt;
    std::optional<std::string> found;
    std::string line;
    while (std::getline(in, line)) {
        std::string_view rest(line);
        rest.remove_prefix(std::min(rest.size(), rest.find_first_not_of(blanks)));
        if (rest.empty() || rest.front() == '#' || rest.front() == ';') continue;
        const auto equals = rest.find('=');
        if (equals == std::string_view::npos) continue;
        std::string_view key = rest.substr(0, equals);
        key.remove_suffix(key.size() - (key.find_last_not_of(blanks) + 1));
        if (key != prettyHostNameKey) continue;
        std::string_view raw = rest.substr(equals + 1);
        raw.remove_prefix(std::min(raw.size(), raw.find_first_not_of(blanks)));
        found = decodeValue(raw);  // the last assignment wins
    }
    if (!found || found->empty()) return std::nullopt;
    return found;
}

std::optional<std::string> systemHostName() {
    char buffer[HOST_NAME_MAX + 1] = {};
    if (gethostname(buffer, sizeof buffer - 1) != 0) return std::nullopt;
    std::string name(buffer);
    if (name.empty() || name == "(none)") return std::nullopt;
    return name;
}

std::string computerName(const std::filesystem::path& machineInfo) {
    if (auto pretty = prettyHostName(machineInfo)) return *std::move(pretty);
    if (auto host = systemHostName()) return *std::move(host);
    return std::string(fallbackComputerName);
}

}  // namespace velopad

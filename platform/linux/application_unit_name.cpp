#include "platform/linux/application_unit_name.h"

#include <algorithm>
#include <cstdio>

namespace velopad {
namespace {

constexpr std::size_t maxUnitName = 255;

bool keptInUnitName(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == ':' ||
           c == '_' || c == '.';
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// "\xNN" turned back into bytes.
std::string unescaped(std::string_view text) {
    std::string plain;
    for (std::size_t at = 0; at < text.size(); ++at) {
        if (text[at] == '\\' && at + 3 < text.size() && text[at + 1] == 'x') {
            const int high = hexDigit(text[at + 2]);
            const int low = hexDigit(text[at + 3]);
            if (high >= 0 && low >= 0) {
                plain += static_cast<char>(high * 16 + low);
                at += 3;
                continue;
            }
        }
        plain += text[at];
    }
    return plain;
}

void add(std::vector<std::string>& ids, std::string_view escapedId) {
    if (escapedId.empty()) return;
    std::string id = unescaped(escapedId);
    if (std::find(ids.begin(), ids.end(), id) == ids.end()) ids.push_back(std::move(id));
}

// "snap.<snap>.<app>-<random>.scope" and "snap.<snap>.<app>.service": "<snap>_<app>". App
// names and the random part (a UUID in newer snapd) may both hold "-", so every split is a
// reading.
std::vector<std::string> snapIds(std::string_view unit) {
    std::vector<std::string> ids;
    std::string_view body = unit.substr(5);
    const auto dot = body.find('.');
    if (dot == std::string_view::npos || dot == 0) return ids;
    const std::string snap(body.substr(0, dot));
    body.remove_prefix(dot + 1);
    if (body.ends_with(".service")) {
        body.remove_suffix(8);
        if (!body.empty()) ids.push_back(snap + "_" + std::string(body));
    } else if (body.ends_with(".scope")) {
        body.remove_suffix(6);
        for (auto dash = body.find('-'); dash != std::string_view::npos;
             dash = body.find('-', dash + 1)) {
            if (dash > 0 && dash + 1 < body.size()) {
                ids.push_back(snap + "_" + std::string(body.substr(0, dash)));
            }
        }
    }
    return ids;
}

}  // namespace

std::string systemdUnitEscaped(std::string_view text) {
    std::string escaped;
    for (std::size_t at = 0; at < text.size(); ++at) {
        const auto c = static_cast<unsigned char>(text[at]);
        if (keptInUnitName(c) && !(at == 0 && c == '.')) {
            escaped += static_cast<char>(c);
        } else {
            char code[5];
            std::snprintf(code, sizeof code, "\\x%02x", c);
            escaped += code;
        }
    }
    return escaped;
}

std::optional<std::string> applicationScopeName(std::string_view launcher,
                                                std::string_view applicationId, unsigned long n) {
    if (applicationId.empty()) return std::nullopt;
    std::string name = "app-" + std::string(launcher) + "-" + systemdUnitEscaped(applicationId) +
                       "-" + std::to_string(n) + ".scope";
    if (name.size() > maxUnitName) return std::nullopt;
    return name;
}

std::vector<std::string> applicationIdsOfUnit(std::string_view unit) {
    if (unit.starts_with("snap.")) return snapIds(unit);
    std::vector<std::string> ids;
    if (!unit.starts_with("app-")) return ids;
    std::string_view body = unit.substr(4);
    if (body.ends_with(".scope")) {
        body.remove_suffix(6);
        const auto dash = body.rfind('-');  // "-<random>"
        if (dash == std::string_view::npos || dash + 1 == body.size()) return ids;
        body = body.substr(0, dash);
    } else if (body.ends_with(".service")) {
        body.remove_suffix(8);
        if (const auto at = body.find('@'); at != std::string_view::npos) body = body.substr(0, at);
    } else {
        return ids;
    }
    // "<id>", or "<launcher>-<id>" where the launcher holds no "-".
    add(ids, body);
    if (const auto dash = body.find('-'); dash != std::string_view::npos && dash > 0) {
        add(ids, body.substr(dash + 1));
    }
    return ids;
}

bool unitNamesApplication(std::string_view unit, std::string_view applicationId) {
    const auto ids = applicationIdsOfUnit(unit);
    return std::find(ids.begin(), ids.end(), applicationId) != ids.end();
}

}  // namespace velopad

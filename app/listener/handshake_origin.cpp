#include "app/listener/handshake_origin.h"

#include <algorithm>
#include <cctype>
#include <optional>
#include <string>

namespace velopad {
namespace {

struct Authority {
    std::string host;  // lower case, IPv6 literals with their brackets
    std::string port;  // empty when not given
};

std::string lowerCase(std::string_view text) {
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return lower;
}

std::optional<Authority> parseAuthority(std::string_view text) {
    if (text.empty()) return std::nullopt;
    Authority authority;
    std::string_view rest;
    if (text.front() == '[') {
        const auto close = text.find(']');
        if (close == std::string_view::npos) return std::nullopt;
        authority.host = lowerCase(text.substr(0, close + 1));
        rest = text.substr(close + 1);
    } else {
        const auto colon = text.find(':');
        authority.host = lowerCase(text.substr(0, colon));
        rest = colon == std::string_view::npos ? std::string_view() : text.substr(colon);
    }
    if (!rest.empty()) {
        if (rest.front() != ':') return std::nullopt;
        authority.port = std::string(rest.substr(1));
        if (!std::all_of(authority.port.begin(), authority.port.end(),
                         [](unsigned char c) { return std::isdigit(c); })) {
            return std::nullopt;
        }
    }
    if (authority.host.empty()) return std::nullopt;
    return authority;
}

}  // namespace

bool isHandshakeOriginAllowed(std::string_view origin, std::string_view host) {
    if (origin.empty()) return true;
    const auto separator = origin.find("://");
    if (separator == std::string_view::npos) return false;  // "null" and anything unreadable
    const std::string scheme = lowerCase(origin.substr(0, separator));
    auto originAuthority = parseAuthority(origin.substr(separator + 3));
    auto hostAuthority = parseAuthority(host);
    if (!originAuthority || !hostAuthority) return false;
    if (originAuthority->port.empty()) {
        if (scheme == "http" || scheme == "ws") originAuthority->port = "80";
        if (scheme == "https" || scheme == "wss") originAuthority->port = "443";
    }
    if (hostAuthority->port.empty()) hostAuthority->port = "80";
    return originAuthority->host == hostAuthority->host &&
           originAuthority->port == hostAuthority->port;
}

}  // namespace velopad

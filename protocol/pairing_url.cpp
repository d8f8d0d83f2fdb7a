// The pairing URL: harborlink://pair?v=<version>&name=<mac name>&code=<pairing code>.

#include <charconv>
#include <map>

#include "protocol/pairing_records.h"
#include "protocol/utf8.h"

namespace velopad {
namespace {

bool isUnreserved(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '_' || c == '.' || c == '~';
}

// Characters a URL may contain (RFC 3986: unreserved, reserved and "%").
bool isUrlCharacter(unsigned char c) {
    static constexpr std::string_view kOther = ":/?#[]@!$&'()*+,;=%";
    return isUnreserved(c) || kOther.find(static_cast<char>(c)) != std::string_view::npos;
}

void appendPercentEncoded(std::string& out, std::string_view text) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    for (char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (isUnreserved(c)) {
            out.push_back(ch);
        } else {
            out.push_back('%');
            out.push_back(kDigits[c >> 4]);
            out.push_back(kDigits[c & 0x0F]);
        }
    }
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Percent-decodes; none on a broken escape or a result that is not UTF-8. "+" stays "+".
std::optional<std::string> percentDecoded(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out.push_back(text[i]);
            continue;
        }
        if (i + 2 >= text.size()) return std::nullopt;
        const int high = hexValue(text[i + 1]);
        const int low = hexValue(text[i + 2]);
        if (high < 0 || low < 0) return std::nullopt;
        out.push_back(static_cast<char>(high * 16 + low));
        i += 2;
    }
    if (!isValidUtf8(out)) return std::nullopt;
    return out;
}

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && isSpace(text.front())) text.remove_prefix(1);
    while (!text.empty() && isSpace(text.back())) text.remove_suffix(1);
    return text;
}

// "+"/"-" then decimal digits only, within 64 bits.
std::optional<std::int64_t> parseDecimal(std::string_view text) {
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    if (text.empty()) return std::nullopt;
    for (char c : text)
        if (c < '0' || c > '9') return std::nullopt;
    std::int64_t value = 0;
    const std::string digits = negative ? "-" + std::string(text) : std::string(text);
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (error != std::errc() || end != digits.data() + digits.size()) return std::nullopt;
    return value;
}

}  // namespace

std::string PairingQRPayload::pairingURL() const {
    std::string url;
    url.append(HarborlinkService::urlScheme).append("://").append(HarborlinkService::pairingHost);
    url.append("?v=").append(std::to_string(version));
    url.append("&name=");
    appendPercentEncoded(url, macName);
    url.append("&code=");
    appendPercentEncoded(url, code);
    return url;
}

std::optional<PairingQRPayload> PairingQRPayload::parse(std::string_view text) {
    text = trimmed(text);
    if (text.empty()) return std::nullopt;
    for (char c : text)
        if (!isUrlCharacter(static_cast<unsigned char>(c))) return std::nullopt;

    // scheme ":" "//" authority [path] "?" query ["#" fragment]
    const auto colon = text.find(':');
    if (colon == std::string_view::npos || text.substr(0, colon) != HarborlinkService::urlScheme)
        return std::nullopt;
    std::string_view rest = text.substr(colon + 1);
    if (rest.substr(0, 2) != "//") return std::nullopt;
    rest.remove_prefix(2);
    const auto fragment = rest.find('#');
    if (fragment != std::string_view::npos) rest = rest.substr(0, fragment);
    const auto authorityEnd = rest.find_first_of("/?");
    std::string_view authority = rest.substr(0, authorityEnd);
    if (const auto at = authority.rfind('@'); at != std::string_view::npos)
        authority.remove_prefix(at + 1);
    if (const auto port = authority.find(':'); port != std::string_view::npos)
        authority = authority.substr(0, port);
    if (authority != HarborlinkService::pairingHost) return std::nullopt;

    const auto question = rest.find('?');
    if (question == std::string_view::npos) return std::nullopt;
    std::string_view query = rest.substr(question + 1);

    // The first occurrence of a name that has a value wins; items without "=" are skipped.
    std::map<std::string, std::string> items;
    while (true) {
        const auto amp = query.find('&');
        const std::string_view item = query.substr(0, amp);
        if (const auto equals = item.find('='); equals != std::string_view::npos) {
            auto name = percentDecoded(item.substr(0, equals));
            auto value = percentDecoded(item.substr(equals + 1));
            if (!name || !value) return std::nullopt;
            items.try_emplace(std::move(*name), std::move(*value));
        }
        if (amp == std::string_view::npos) break;
        query.remove_prefix(amp + 1);
    }

    const auto v = items.find("v");
    const auto name = items.find("name");
    const auto code = items.find("code");
    if (v == items.end() || name == items.end() || code == items.end()) return std::nullopt;
    const auto version = parseDecimal(v->second);
    if (!version || name->second.empty() || code->second.empty()) return std::nullopt;
    return PairingQRPayload{*version, name->second, code->second};
}

}  // namespace velopad

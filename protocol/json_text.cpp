#include "protocol/json_text.h"

#include <cmath>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>
#include <utility>
#include <vector>

namespace velopad {
namespace {

using nlohmann::json;

// Refuses a number JSON cannot write, and writes a whole-valued double the way the phone's
// encoder does: 1.0 as "1". The trees written here are built from records, so their depth is
// small; an explicit stack keeps this safe for any tree.
json writableNumbers(json root) {
    constexpr double exactIntegerLimit = 9007199254740992.0;  // 2^53
    std::vector<json*> pending{&root};
    while (!pending.empty()) {
        json* value = pending.back();
        pending.pop_back();
        if (value->is_number_float()) {
            const double number = value->get<double>();
            if (!std::isfinite(number)) throw WireCodecException(WireCodecError::nonFiniteNumber);
            if (number == std::trunc(number) && std::fabs(number) < exactIntegerLimit)
                *value = static_cast<std::int64_t>(number);
        }
        if (value->is_structured())
            for (auto& child : *value) pending.push_back(&child);
    }
    return root;
}

// "/" only occurs inside strings in compact JSON (and never inside a multi-byte UTF-8
// sequence), so escaping every "/" of the text escapes exactly those in strings.
std::string escapeSlashes(std::string text) {
    std::size_t slash = text.find('/');
    if (slash == std::string::npos) return text;
    std::string escaped;
    escaped.reserve(text.size() + text.size() / 8);
    std::size_t start = 0;
    for (; slash != std::string::npos; slash = text.find('/', start)) {
        escaped.append(text, start, slash - start).append("\\/");
        start = slash + 1;
    }
    escaped.append(text, start, std::string::npos);
    return escaped;
}

}  // namespace

std::string_view description(WireCodecError error) {
    switch (error) {
        case WireCodecError::invalidUTF8:
            return "The message could not be encoded as UTF-8 text.";
        case WireCodecError::nonFiniteNumber:
            return "The message contains a number that JSON cannot represent.";
    }
    return "The message could not be encoded.";
}

WireCodecException::WireCodecException(WireCodecError error)
    : std::runtime_error(std::string(description(error))), error_(error) {}

std::string writeJsonText(const json& value) {
    const json writable = writableNumbers(value);
    std::string text;
    try {
        // strict: a string that is not UTF-8 is an error rather than silently replaced.
        text = writable.dump(-1, ' ', false, json::error_handler_t::strict);
    } catch (const json::type_error&) {
        throw WireCodecException(WireCodecError::invalidUTF8);
    }
    return escapeSlashes(std::move(text));
}

json parseJsonText(std::string_view text, int maxDepth) {
    // The callback sees each container before it is built; refusing there bounds the nesting
    // (and with it the parser's stack and the tree's size per byte of input).
    const json::parser_callback_t limitDepth = [maxDepth](int depth, json::parse_event_t event,
                                                          json&) {
        if ((event == json::parse_event_t::object_start ||
             event == json::parse_event_t::array_start) &&
            depth >= maxDepth)
            throw DecodeError("JSON nesting is too deep");
        return true;
    };
    // The parser takes a NUL byte for the end of the input and would ignore what follows it;
    // a raw NUL is never valid JSON, so refuse it outright.
    if (const auto nul = text.find('\0'); nul != std::string_view::npos)
        throw DecodeError("malformed JSON at byte " + std::to_string(nul + 1));
    try {
        return json::parse(text.begin(), text.end(), limitDepth);
    } catch (const json::parse_error& error) {
        // The library's own text quotes the offending token, which may be huge or not UTF-8.
        throw DecodeError("malformed JSON at byte " + std::to_string(error.byte));
    } catch (const json::exception& error) {
        throw DecodeError("malformed JSON (error " + std::to_string(error.id) + ")");
    }
}

}  // namespace velopad

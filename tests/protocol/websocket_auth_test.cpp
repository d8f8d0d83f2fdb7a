#include "protocol/websocket_auth.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace velopad {
namespace {

using Headers = std::vector<WebSocketAuth::HandshakeHeader>;

TEST(WebSocketAuthTest, TheFirstTokenHeaderInAnyLetterCaseGivesTheTokenExactly) {
    const std::pair<Headers, std::optional<std::string>> cases[] = {
        {{{"Host", "127.0.0.1:9847"}, {"X-Harborlink-Token", "5A1E0C2B-TOKEN"}}, "5A1E0C2B-TOKEN"},
        {{{"x-harborlink-token", "t"}}, "t"},
        {{{"X-HARBORLINK-TOKEN", "t"}}, "t"},
        {{{"x-HarborLink-TOKEN", "t"}}, "t"},
        {{{"x-harborlink-token", " first "}, {"X-Harborlink-Token", "second"}}, " first "},
        {{{"X-Harborlink-Token", ""}}, ""},
        {{}, std::nullopt},
        {{{"Sec-WebSocket-Key", "dGhlIHNhbXBsZSBub25jZQ=="}}, std::nullopt},
        {{{"X-Harborlink-Token ", "padded name"}}, std::nullopt},
        {{{"X-Harborlink-Tokens", "longer name"}}, std::nullopt},
        {{{"X-Harborlink", "shorter name"}}, std::nullopt},
    };
    for (const auto& [headers, token] : cases) {
        SCOPED_TRACE(headers.empty() ? "" : headers.back().first);
        EXPECT_EQ(WebSocketAuth::tokenFromHeaders(headers), token);
    }
}

}  // namespace
}  // namespace velopad

#include "protocol/websocket_auth.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace velopad {
namespace {

using Headers = std::vector<WebSocketAuth::HandshakeHeader>;

TEST(WebSocketAuthTest, FindsTheTokenHeaderInAnyLetterCase) {
    for (const char* name :
         {"X-Harborlink-Token", "x-harborlink-token", "X-HARBORLINK-TOKEN", "x-HarborLink-TOKEN"}) {
        const Headers headers{{"Host", "127.0.0.1:9847"}, {name, "5A1E0C2B-TOKEN"}};
        EXPECT_EQ(WebSocketAuth::tokenFromHeaders(headers), "5A1E0C2B-TOKEN") << name;
    }
}

TEST(WebSocketAuthTest, TheFirstTokenHeaderWinsAndItsValueIsKeptExactly) {
    const Headers headers{{"x-harborlink-token", " first "}, {"X-Harborlink-Token", "second"}};
    EXPECT_EQ(WebSocketAuth::tokenFromHeaders(headers), " first ");
    EXPECT_EQ(WebSocketAuth::tokenFromHeaders(Headers{{"X-Harborlink-Token", ""}}), "");
}

TEST(WebSocketAuthTest, NoTokenHeaderGivesNoToken) {
    const Headers cases[] = {
        {},
        {{"Sec-WebSocket-Key", "dGhlIHNhbXBsZSBub25jZQ=="}},
        {{"X-Harborlink-Token ", "padded name"}},
        {{"X-Harborlink-Tokens", "longer name"}},
        {{"X-Harborlink", "shorter name"}},
    };
    for (const Headers& headers : cases) {
        EXPECT_EQ(WebSocketAuth::tokenFromHeaders(headers), std::nullopt);
    }
}

}  // namespace
}  // namespace velopad

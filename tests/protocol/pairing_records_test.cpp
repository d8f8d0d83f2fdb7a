#include "protocol/pairing_records.h"

#include <gtest/gtest.h>

namespace velopad {
namespace {

const std::string kCode = "Zm9vYmFyLWNvZGUtMzItYnl0ZXMtbG9uZy1iYXNlNjR1cmw";

TEST(PairingURL, BuildsTheDocumentedShapeAndParsesBack) {
    const PairingQRPayload payload{1, "Studio Mac", kCode};
    const std::string url = payload.pairingURL();
    EXPECT_EQ(url, "harborlink://pair?v=1&name=Studio%20Mac&code=" + kCode);
    EXPECT_EQ(PairingQRPayload::parse(url), payload);
}

TEST(PairingURL, PercentEncodesEverythingButUnreservedCharacters) {
    const PairingQRPayload payload{1, "Zoë’s Mac & co=1+2/3?#", "a+b/c=="};
    const std::string url = payload.pairingURL();
    EXPECT_EQ(url,
              "harborlink://pair?v=1&name=Zo%C3%AB%E2%80%99s%20Mac%20%26%20co%3D1%2B2%2F3%3F%23"
              "&code=a%2Bb%2Fc%3D%3D");
    EXPECT_EQ(PairingQRPayload::parse(url), payload);
    EXPECT_EQ((PairingQRPayload{1, "a-b_c.d~e", "x"}.pairingURL()),
              "harborlink://pair?v=1&name=a-b_c.d~e&code=x");
}

TEST(PairingURL, AcceptsSurroundingSpaceAnyIntegerVersionAndOtherItems) {
    const std::pair<const char*, PairingQRPayload> cases[] = {
        {"\t\r\nharborlink://pair?v=1&name=Mac&code=abc \r\n", {1, "Mac", "abc"}},
        {"harborlink://pair?v=-7&name=Mac&code=abc", {-7, "Mac", "abc"}},
        {"harborlink://pair?code=abc&x=y&flag&name=Mac&v=1", {1, "Mac", "abc"}},
        // A repeated name: the first occurrence with a value counts.
        {"harborlink://pair?v&v=4&name=A&name=B&code=abc&code=def", {4, "A", "abc"}},
        {"harborlink://pair?v=1&name=A+B&code=c", {1, "A+B", "c"}},  // "+" is not a space
    };
    for (const auto& [url, payload] : cases)
        EXPECT_EQ(PairingQRPayload::parse(url), payload) << url;
}

TEST(PairingURL, RejectsEverythingElse) {
    for (const char* url : {
             "",
             "HARBORLINK://pair?v=1&name=Mac&code=abc",
             "harborlink://pair?v=one&name=Mac&code=abc",
             "harborlink://pair?name=Mac&code=abc",
             "harborlink://pair?v=99999999999999999999&name=Mac&code=abc",
             "harborlink://pair?v=1&name=&code=abc",
             "harborlink://pair?v=1&name=Mac&code=",
             "harborlink://pair?v=1&name=Studio Mac&code=abc",
             "harborlink://pair?v=1&name=Mac&code=a%2",
             "harborlink://pair?v=1&name=%FF&code=abc",
             "harborlink://pair#?v=1&name=Mac&code=abc",
         })
        EXPECT_EQ(PairingQRPayload::parse(url), std::nullopt) << url;
}

}  // namespace
}  // namespace velopad

#include "platform/linux/avahi_service_name.h"

#include <gtest/gtest.h>

namespace velopad {
namespace {

TEST(AvahiServiceNameTest, FitsNamesToOneDnsLabel) {
    struct Case {
        std::string name;
        std::string expected;
    };
    const std::string sixtyThree(63, 'a');
    const Case cases[] = {
        {"Studio", "Studio"},
        {"Anna's MacBook Pro (2)", "Anna's MacBook Pro (2)"},
        {"", "Velopad Mac"},
        {sixtyThree, sixtyThree},
        {sixtyThree + "b", sixtyThree},
        // "é" is two bytes: a character that does not fit whole is left out.
        {std::string(62, 'a') + "é", std::string(62, 'a')},
        {std::string(61, 'a') + "é", std::string(61, 'a') + "é"},
        {std::string(60, 'a') + "🙂", std::string(60, 'a')},
        // Bytes that are not UTF-8, and NUL, become U+FFFD.
        {std::string("Bad\xff"
                     "Byte"),
         "Bad\xEF\xBF\xBD"
         "Byte"},
        {std::string("Cut\xC3"), "Cut\xEF\xBF\xBD"},
        {std::string("Over\xC0\xAFlong"), "Over\xEF\xBF\xBD\xEF\xBF\xBDlong"},
        {std::string("Nul\0Byte", 8),
         "Nul\xEF\xBF\xBD"
         "Byte"},
    };
    for (const auto& c : cases) {
        const std::string fitted = dnsSdServiceName(c.name);
        EXPECT_EQ(fitted, c.expected) << c.name;
        EXPECT_LE(fitted.size(), 63u);
    }
}

}  // namespace
}  // namespace velopad

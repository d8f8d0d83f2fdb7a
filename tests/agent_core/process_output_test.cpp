#include "agent_core/process_output.h"

#include <gtest/gtest.h>

namespace velopad {
namespace {

TEST(ProcessOutputBufferTest, KeepsOutputUpToTheLimitAndDropsTheRest) {
    ProcessOutputBuffer buffer(8);
    buffer.append("");
    buffer.append("abcde");
    EXPECT_FALSE(buffer.truncated());
    buffer.append("fghij");
    buffer.append("klm");
    EXPECT_TRUE(buffer.truncated());
    EXPECT_EQ(buffer.bytes(), "abcdefgh");
    EXPECT_EQ(buffer.text(), "abcdefgh");
}

TEST(ProcessOutputBufferTest, TextIsEmptyUnlessTheBytesAreUtf8) {
    const std::vector<std::pair<std::string, bool>> cases = {
        {"plain", true},
        {"caf\xC3\xA9 \xE2\x80\x94 \xF0\x9F\x8E\xB9", true},
        {"\xFF", false},
        {"\xC0\xAF", false},          // overlong "/"
        {"\xED\xA0\x80", false},      // surrogate
        {"\xF4\x90\x80\x80", false},  // above U+10FFFF
        {"ends in \xC3", false},
        {"\xE2\x28\xA1", false},
    };
    for (const auto& [bytes, valid] : cases) {
        SCOPED_TRACE(bytes);
        ProcessOutputBuffer buffer;
        buffer.append(bytes);
        EXPECT_EQ(buffer.text(), valid ? bytes : "");
    }
}

TEST(ProcessOutputBufferTest, ACharacterSplitByTheLimitIsLeftOut) {
    ProcessOutputBuffer buffer(5);
    buffer.append("abc\xE2\x80\x94xyz");  // the cut falls inside U+2014
    EXPECT_EQ(buffer.text(), "abc");
    ProcessOutputBuffer invalid(5);
    invalid.append(std::string("\xFF") + "abcdef");
    EXPECT_EQ(invalid.text(), "");
}

}  // namespace
}  // namespace velopad

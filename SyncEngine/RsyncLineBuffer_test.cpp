#include "SyncEngine/RsyncLineBuffer.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using namespace kelto;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {
const std::string kFFFD = "\xEF\xBF\xBD";
}

TEST(RsyncLineBuffer, JoinsLinesAndCharactersSplitAcrossChunksAtEveryLineEndStyleWithNoEmptyLines) {
    RsyncLineBuffer buffer;
    EXPECT_THAT(buffer.append("first li"), IsEmpty());
    EXPECT_THAT(buffer.append("ne\ncaf\xC3"), ElementsAre("first line"));
    EXPECT_THAT(buffer.append("\xA9"), IsEmpty());
    EXPECT_THAT(buffer.append("\n"), ElementsAre("caf\xC3\xA9"));
    EXPECT_FALSE(buffer.flush());
    buffer.append("done\n   ");
    EXPECT_EQ(buffer.flush(), "   ");  // the unterminated line, once
    EXPECT_FALSE(buffer.flush());
    EXPECT_TRUE(buffer.pending.empty());
    buffer = RsyncLineBuffer{};
    EXPECT_THAT(buffer.append("\r  1 2%\r  3 4%\r\r\nitem\r\n\n\nlast\n"), ElementsAre("  1 2%", "  3 4%", "item", "last"));
    // A CR at the end of one chunk and the LF at the start of the next end one line.
    EXPECT_THAT(buffer.append("a\r"), ElementsAre("a"));
    EXPECT_THAT(buffer.append("\nb\n"), ElementsAre("b"));
}

TEST(RsyncLineBuffer, ByteByByteEqualsWhole) {
    const std::string stream = "x\r\ny \xE2\x82\xAC z\rw\n\xF0\x9F\x98\x80\n\xFF tail";
    RsyncLineBuffer whole, bytes;
    auto expected = whole.append(stream);
    std::vector<std::string> got;
    for (char c : stream)
        for (auto& l : bytes.append(std::string_view(&c, 1))) got.push_back(l);
    EXPECT_EQ(got, expected);
    EXPECT_EQ(bytes.flush(), whole.flush());
}

TEST(RsyncLineBuffer, InvalidBytesBecomeReplacementCharacters) {
    RsyncLineBuffer buffer;
    // A lone continuation byte, an overlong lead and a sequence cut short by the line end.
    EXPECT_THAT(buffer.append("a\x80" "b\xC0\xAF" "c\xE2\x82\n"),
                ElementsAre("a" + kFFFD + "b" + kFFFD + kFFFD + "c" + kFFFD));
    buffer.append("end \xC3");
    EXPECT_EQ(buffer.flush(), "end " + kFFFD);
}

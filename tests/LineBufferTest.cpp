#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "LineBuffer.h"

namespace velto::tools {
namespace {

using Lines = std::vector<std::string>;

Lines append(LineBuffer& buffer, std::string_view text) {
    buffer.append(ByteView(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
    Lines taken;
    while (auto line = buffer.nextLine()) taken.push_back(*line);
    return taken;
}

TEST(LineBufferTest, LinesComeOutWholeInOrderWithoutCarriageReturns) {
    LineBuffer buffer;
    EXPECT_EQ(append(buffer, "pre"), Lines{});
    EXPECT_EQ(append(buffer, "ss 3 4\r\n\nrel"), (Lines{"press 3 4", ""}));
    EXPECT_EQ(append(buffer, "ease 3 4\nquit"), Lines{"release 3 4"});
    EXPECT_EQ(buffer.finish(), "quit");  // an unfinished last line, once
    EXPECT_EQ(buffer.finish(), std::nullopt);
}

TEST(LineBufferTest, LinesAreCutAt4096BytesSoTheBufferStaysBounded) {
    LineBuffer buffer;
    EXPECT_EQ(append(buffer, std::string(4106, 'x') + "\n"),
              (Lines{std::string(4096, 'x'), std::string(10, 'x')}));
    EXPECT_EQ(append(buffer, std::string(8192, 'y')).size(), 2u) << "no newline at all";
}

}  // namespace
}  // namespace velto::tools

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "LineBuffer.h"

namespace velto::tools {
namespace {

class LineBufferTest : public ::testing::Test {
protected:
    LineBuffer buffer;

    std::vector<std::string> append(std::string_view text) {
        buffer.append(ByteView(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
        std::vector<std::string> taken;
        while (auto line = buffer.nextLine()) taken.push_back(*line);
        return taken;
    }
};

TEST_F(LineBufferTest, LinesComeOutWholeInOrderWithoutCarriageReturns) {
    EXPECT_TRUE(append("pre").empty());
    EXPECT_EQ(append("ss 3 4\r\n\nrel"), (std::vector<std::string>{"press 3 4", ""}));
    EXPECT_EQ(append("ease 3 4\n"), std::vector<std::string>{"release 3 4"});
}

TEST_F(LineBufferTest, FinishGivesAnUnfinishedLastLineOnce) {
    EXPECT_TRUE(append("quit").empty());
    EXPECT_EQ(buffer.finish(), "quit");
    EXPECT_EQ(buffer.finish(), std::nullopt);
}

TEST_F(LineBufferTest, OverlongLineIsCutSoTheBufferStaysBounded) {
    const auto taken = append(std::string(LineBuffer::kMaxLineLength + 10, 'x') + "\n");
    ASSERT_EQ(taken.size(), 2u);
    EXPECT_EQ(taken[0].size(), LineBuffer::kMaxLineLength);
    EXPECT_EQ(taken[1], std::string(10, 'x'));
    EXPECT_EQ(append(std::string(LineBuffer::kMaxLineLength * 2, 'y')).size(), 2u)
        << "no newline at all";
}

}  // namespace
}  // namespace velto::tools

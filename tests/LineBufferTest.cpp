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

    void append(std::string_view text) {
        buffer.append(ByteView(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
    }
    std::vector<std::string> lines() {
        std::vector<std::string> taken;
        while (auto line = buffer.nextLine()) taken.push_back(*line);
        return taken;
    }
};

TEST_F(LineBufferTest, LineArrivingInPiecesComesOutWhole) {
    append("pre");
    EXPECT_TRUE(lines().empty());
    append("ss 3 4\nrel");
    EXPECT_EQ(lines(), std::vector<std::string>{"press 3 4"});
    append("ease 3 4\n");
    EXPECT_EQ(lines(), std::vector<std::string>{"release 3 4"});
}

TEST_F(LineBufferTest, SeveralLinesAtOnceKeepTheirOrderAndCarriageReturnsGo) {
    append("a\r\n\nb\n");
    EXPECT_EQ(lines(), (std::vector<std::string>{"a", "", "b"}));
}

TEST_F(LineBufferTest, FinishGivesAnUnfinishedLastLine) {
    append("quit");
    EXPECT_TRUE(lines().empty());
    EXPECT_EQ(buffer.finish(), "quit");
    EXPECT_EQ(buffer.finish(), std::nullopt);
}

TEST_F(LineBufferTest, OverlongLineIsCutIntoPieces) {
    append(std::string(LineBuffer::kMaxLineLength + 10, 'x') + "\n");
    const auto taken = lines();
    ASSERT_EQ(taken.size(), 2u);
    EXPECT_EQ(taken[0].size(), LineBuffer::kMaxLineLength);
    EXPECT_EQ(taken[1], std::string(10, 'x'));
}

TEST_F(LineBufferTest, EndlessLineWithoutNewlineDoesNotGrowWithoutBound) {
    append(std::string(LineBuffer::kMaxLineLength * 2, 'y'));
    EXPECT_EQ(lines().size(), 2u);
}

}  // namespace
}  // namespace velto::tools

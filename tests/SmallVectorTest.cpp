// SmallVector: elements kept, in order, across the move from inline room to
// the heap, through copies and moves of either kind, and when an element of
// the vector itself is appended as it grows.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/osc/SmallVector.h"

namespace velto {
namespace {

using Strings = SmallVector<std::string, 2>;

std::vector<std::string> contents(const Strings& strings) {
    return {strings.begin(), strings.end()};
}

TEST(SmallVectorTest, KeepsItsElementsInlineOnTheHeapThroughCopiesAndMoves) {
    for (const std::size_t count : {0u, 1u, 2u, 3u, 9u}) {  // empty, inline, full, heap
        SCOPED_TRACE(count);
        std::vector<std::string> expected;
        Strings strings;
        for (std::size_t i = 0; i < count; ++i) {
            expected.push_back(
                std::string(20, static_cast<char>('a' + i)));  // too long for the string's own room
            strings.push_back(expected.back());
        }
        EXPECT_EQ(contents(strings), expected);
        EXPECT_EQ(strings.capacity() > 2, count > 2);

        Strings copy(strings);
        Strings assigned;
        assigned.push_back("old");
        assigned = copy;
        EXPECT_EQ(contents(copy), expected);
        EXPECT_EQ(contents(assigned), expected);

        Strings moved(std::move(copy));
        EXPECT_TRUE(copy.empty());  // NOLINT(bugprone-use-after-move): a moved-from vector is empty
        Strings moveAssigned;
        moveAssigned.push_back("old");
        moveAssigned = std::move(assigned);
        EXPECT_EQ(contents(moved), expected);
        EXPECT_EQ(contents(moveAssigned), expected);
        copy.push_back("again");  // usable once more
        EXPECT_EQ(contents(copy), std::vector<std::string>{"again"});
    }
}

TEST(SmallVectorTest, AppendsItsOwnElementWhileGrowing) {
    Strings strings;
    strings.push_back("first");
    strings.push_back("second");
    strings.push_back(strings[0]);  // full: the element moves with the rest
    strings.push_back(strings[2]);
    EXPECT_EQ(contents(strings), (std::vector<std::string>{"first", "second", "first", "first"}));
}

TEST(SmallVectorTest, BytesAppendExtendAndZero) {
    SmallVector<unsigned char, 4> bytes;
    const unsigned char three[] = {1, 2, 3};
    bytes.append(three, three + 3);
    unsigned char* more = bytes.extend(3);  // past the inline room
    more[0] = 4;
    more[1] = 5;
    more[2] = 6;
    EXPECT_EQ(std::vector<unsigned char>(bytes.begin(), bytes.end()),
              (std::vector<unsigned char>{1, 2, 3, 4, 5, 6}));
    bytes.assignZeroed(2);
    EXPECT_EQ(std::vector<unsigned char>(bytes.begin(), bytes.end()),
              (std::vector<unsigned char>{0, 0}));
}

}  // namespace
}  // namespace velto

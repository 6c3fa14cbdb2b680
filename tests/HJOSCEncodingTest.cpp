// Exact bytes of every OSC atom and packet that Velto writes.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "common/osc/HJOSCAddress.h"
#include "common/osc/HJOSCArgument.h"
#include "common/osc/HJOSCBundle.h"
#include "common/osc/HJOSCDataUtilities.h"
#include "common/osc/HJOSCMessage.h"
#include "common/osc/HJOSCPacket.h"
#include "support/ByteHelpers.h"

namespace velto {
namespace {

using Utilities = HJOSCDataUtilities;

using test::concat;
using test::hex;

HJOSCMessage led(int x, int y, int state) {
    HJOSCMessage message("/monome/led");
    message.attachArguments(
        {HJOSCArgument::withInt(x), HJOSCArgument::withInt(y), HJOSCArgument::withInt(state)});
    return message;
}

const Bytes kLedMessage =
    hex("2f 6d 6f 6e 6f 6d 65 2f 6c 65 64 00  2c 69 69 69 00 00 00 00  00 00 00 03 00 00 00 05 00 "
        "00 00 01");
const Bytes kBundleHead = hex("23 62 75 6e 64 6c 65 00 bd fa 47 00 80 00 00 00");  // stamped 0.5 s

// --- Atoms -------------------------------------------------------------------

TEST(HJOSCDataUtilitiesTest, NumbersAreFourBigEndianBytes) {
    EXPECT_EQ(Utilities::dataBlockFromInt(0x01020304), hex("01 02 03 04"));
    EXPECT_EQ(Utilities::dataBlockFromInt(std::numeric_limits<std::int32_t>::min()),
              hex("80 00 00 00"));
    EXPECT_EQ(Utilities::dataBlockFromFloat(-1.0f), hex("bf 80 00 00"));
    EXPECT_EQ(Utilities::intFromDataBlock(hex("ff ff ff fe 01")), -2);  // only the first four count
    EXPECT_EQ(Utilities::uIntFromDataBlock(hex("ff ff ff fe")), 0xfffffffeu);
    EXPECT_EQ(Utilities::intFromDataBlock(hex("00 00 01")), 0);  // fewer read as zero
    EXPECT_EQ(Utilities::floatFromDataBlock({}), 0.0f);
    for (const char* pattern : {"7f c0 00 01", "ff 80 00 00", "00 00 00 01", "80 00 00 00"}) {
        EXPECT_EQ(Utilities::dataBlockFromFloat(Utilities::floatFromDataBlock(hex(pattern))),
                  hex(pattern))
            << pattern;
    }
}

// Padding at every length mod 4: 4, 3, 2, 1 NULs, never 0.
class HJOSCPaddingTest : public ::testing::TestWithParam<std::size_t> {};

TEST_P(HJOSCPaddingTest, StringsBlobsAndPaddedDataTakeOneToFourNuls) {
    Bytes sample(GetParam());
    for (std::size_t i = 0; i < sample.size(); ++i) sample[i] = static_cast<std::uint8_t>('a' + i);
    const Bytes nuls(4 - sample.size() % 4, 0);
    const std::string_view text(reinterpret_cast<const char*>(sample.data()), sample.size());
    EXPECT_EQ(Utilities::paddedDataFromData(sample), concat({sample, nuls}));
    EXPECT_EQ(Utilities::dataBlockFromString(text), concat({sample, nuls}));
    EXPECT_EQ(Utilities::stringFromDataBlock(concat({sample, nuls})), text);
    const Bytes blob = concat(
        {Utilities::dataBlockFromInt(static_cast<std::int32_t>(sample.size())), sample, nuls});
    EXPECT_EQ(Utilities::dataBlockFromBlob(sample), blob);
    EXPECT_EQ(HJOSCArgument::withDataBlob(sample).packetizedData(), blob);
    EXPECT_EQ(Utilities::blobFromDataBlock(blob), sample);
}

INSTANTIATE_TEST_SUITE_P(LengthsZeroToEight, HJOSCPaddingTest, ::testing::Range<std::size_t>(0, 9));

TEST(HJOSCDataUtilitiesTest, TextOutsideASCIIIsTheEmptyStringAndNulsGoFromBothEndsOnly) {
    EXPECT_EQ(Utilities::dataBlockFromString("caf\xc3\xa9"), hex("00 00 00 00"));
    EXPECT_EQ(HJOSCAddress("/\xff").packetizedData(), hex("00 00 00 00"));
    EXPECT_EQ(HJOSCArgument::withString("\x80").packetizedData(), hex("00 00 00 00"));
    EXPECT_EQ(Utilities::asciiStringFromDataBlock(hex("61 e9 00 00")), std::nullopt);
    EXPECT_EQ(Utilities::stringFromDataBlock(hex("61 e9 00 00")), "");
    EXPECT_EQ(Utilities::asciiStringFromDataBlock(hex("61 7f 00 00")), std::string("a\x7f"));
    EXPECT_EQ(Utilities::stringFromDataBlock(hex("00 61 62 00")), "ab");
    EXPECT_EQ(Utilities::stringFromDataBlock(hex("61 00 62 00")), std::string("a\0b", 3));
}

TEST(HJOSCDataUtilitiesTest, BlobReadingNeedsEveryAnnouncedByte) {
    EXPECT_EQ(Utilities::blobFromDataBlock(hex("00 00 00 08 01 02")), std::nullopt);
    EXPECT_EQ(Utilities::blobFromDataBlock(hex("ff ff ff ff 01 02")), std::nullopt);
    EXPECT_EQ(Utilities::blobFromDataBlock(hex("00 00 00")), std::nullopt);
    EXPECT_EQ(Utilities::blobFromDataBlock(hex("00 00 00 02 01 02")), hex("01 02"));
}

// --- Time tags -----------------------------------------------------------------

struct TimeTagCase {
    double seconds;  // since the reference date
    const char* tag;
};

class HJOSCTimeTagTest : public ::testing::TestWithParam<TimeTagCase> {};

TEST_P(HJOSCTimeTagTest, WritesAndReadsBack) {
    const Date date{GetParam().seconds};
    EXPECT_EQ(Utilities::ntpTimestampFromNSDate(date), hex(GetParam().tag));
    EXPECT_EQ(Utilities::dateFromNTPTimestamp(hex(GetParam().tag)), date);
}

INSTANTIATE_TEST_SUITE_P(
    Dates, HJOSCTimeTagTest,
    ::testing::Values(TimeTagCase{0.0, "bd fa 47 00 00 00 00 00"},
                      TimeTagCase{0.5, "bd fa 47 00 80 00 00 00"},
                      TimeTagCase{1.25, "bd fa 47 01 40 00 00 00"},
                      TimeTagCase{788918400.75,
                                  "ed 00 37 80 c0 00 00 00"},  // 2026-01-01 00:00:00.75 UTC
                      // Before the reference date the whole seconds round down, so the
                      // fraction stays positive and the date reads back as written.
                      TimeTagCase{-0.25, "bd fa 46 ff c0 00 00 00"}));

TEST(HJOSCDataUtilitiesTest, ImmediateTimeTagReadsAsTheDistantPast) {
    EXPECT_EQ(Utilities::ntpTimestampForImmediate(), hex("00 00 00 00 00 00 00 01"));
    EXPECT_EQ(Utilities::dateFromNTPTimestamp(hex("00 00 00 00 00 00 00 01")), Date::distantPast());
    EXPECT_NE(Utilities::dateFromNTPTimestamp(hex("00 00 00 00 00 00 00 02")), Date::distantPast());
}

TEST(HJOSCDataUtilitiesTest, TimeTagTruncatesToAFractionOfAMicrosecond) {
    const Date now{788918400.123456};
    const Date back = Utilities::dateFromNTPTimestamp(Utilities::ntpTimestampFromNSDate(now));
    EXPECT_NEAR(back.secondsSinceReferenceDate, now.secondsSinceReferenceDate, 1e-6);
    EXPECT_LE(back, now);
}

TEST(HJOSCDataUtilitiesTest, TimeTagsOfUnwritableDatesAreStillEightBytes) {
    for (const double seconds : {std::nan(""), std::numeric_limits<double>::infinity(), -1e300,
                                 1e300, Date::distantPast().secondsSinceReferenceDate, -1e-20}) {
        EXPECT_EQ(Utilities::ntpTimestampFromNSDate(Date{seconds}).size(), 8u) << seconds;
    }
}

// --- Addresses and arguments -----------------------------------------------------

TEST(HJOSCAddressTest, LongTextsOutgrowTheInlineRoomAndSurviveBeingSetFromThemselves) {
    const std::string text = "/" + std::string(60, 'a');
    HJOSCAddress address(text);
    HJOSCAddress copy = address;
    copy.setAddress(copy.address().substr(1));
    EXPECT_EQ(address.address(), text);
    EXPECT_EQ(copy.address(), std::string(60, 'a'));
    address.setAddress(address.address().substr(50));
    EXPECT_EQ(address.address(), "aaaaaaaaaaa");
}

TEST(HJOSCAddressTest, ComponentsAreJoinedWithLeadingSlashes) {
    EXPECT_EQ(HJOSCAddress::addressWithArray({"monome", "led"})->address(), "/monome/led");
    EXPECT_EQ(HJOSCAddress::addressWithArray({})->packetizedData(), hex("00 00 00 00"));
}

// Encodings up to kInlineCapacity bytes live inside the argument, longer ones on
// the heap: copies, moves, assignments and self-sourced sets across that limit.
TEST(HJOSCArgumentTest, StorageAroundTheInlineLimitSurvivesCopiesMovesAndSelfAssignment) {
    for (std::size_t length = 0; length <= 2 * HJOSCArgument::kInlineCapacity; ++length) {
        SCOPED_TRACE(length);
        const HJOSCArgument original = HJOSCArgument::withString(std::string(length, 'x'));
        for (const HJOSCArgument& start :
             {HJOSCArgument::withInt(1), HJOSCArgument::withString(std::string(40, 'y'))}) {
            HJOSCArgument assigned = start;
            assigned = original;
            EXPECT_EQ(assigned, original);
            HJOSCArgument moved = std::move(assigned);
            EXPECT_EQ(moved, original);
            // A moved-from argument is left empty, never dangling.
            // NOLINTNEXTLINE(bugprone-use-after-move)
            EXPECT_TRUE(assigned.data().empty());
            assigned = start;
            assigned = std::move(moved);
            EXPECT_EQ(assigned, original);
        }
        HJOSCArgument self = original;
        self.setData(self.data());
        EXPECT_EQ(self, original);
        self.setDataBlobValue(self.data().subspan(1));
        EXPECT_EQ(self.dataBlobValue(), Bytes(original.data().begin() + 1, original.data().end()));
    }
}

// --- Messages ----------------------------------------------------------------------

TEST(HJOSCMessageEncodingTest, LedMessageIsThirtyTwoBytesAndAppendsAfterWhatTheBufferHeld) {
    EXPECT_EQ(led(3, 5, 1).packetizedData(), kLedMessage);
    Bytes buffer = hex("aa bb");
    EXPECT_TRUE(led(3, 5, 1).appendPacketizedData(buffer));
    EXPECT_EQ(buffer, concat({hex("aa bb"), kLedMessage}));
}

TEST(HJOSCMessageEncodingTest, MessageWithoutArgumentsEndsWithAnEmptyTypeTagString) {
    const auto ping =
        HJOSCMessage::messageWithHJOSCAddress(HJOSCAddress::addressWithString("/monome"));
    EXPECT_EQ(ping->typeTagString(), ",");
    EXPECT_EQ(ping->packetizedData(), hex("2f 6d 6f 6e 6f 6d 65 00 2c 00 00 00"));
    EXPECT_EQ(HJOSCMessage::messageWithHJOSCAddress(nullptr), nullptr);
}

TEST(HJOSCMessageEncodingTest, ArgumentsGoOnTheWireInAttachOrder) {
    HJOSCMessage mixed(HJOSCAddress("/x"));
    mixed.attachArgument(HJOSCArgument::withInt(1));
    mixed.attachArgument(HJOSCArgument::argumentWithFloat(0.5f));
    mixed.attachArgument(std::shared_ptr<HJOSCArgument>());  // ignored
    mixed.attachArgument(HJOSCArgument::withString("abcd"));
    mixed.attachArgument(HJOSCArgument::withDataBlob(hex("ee")));
    EXPECT_EQ(mixed.typeTagString(), ",ifsb");
    EXPECT_EQ(mixed.packetizedData(),
              hex("2f 78 00 00 2c 69 66 73 62 00 00 00 00 00 00 01 3f 00 00 00"
                  "61 62 63 64 00 00 00 00 00 00 00 01 ee 00 00 00"));
    EXPECT_EQ(mixed.encodedSize(), mixed.packetizedData()->size());
}

TEST(HJOSCMessageEncodingTest, TypeTagStringAtEveryLengthModFour) {
    for (std::size_t count = 0; count < 9; ++count) {
        HJOSCMessage message(HJOSCAddress("/a"));
        message.attachArguments(std::vector<HJOSCArgument>(count, HJOSCArgument::withInt(0)));
        const Bytes tags = concat({hex("2c"), Bytes(count, 'i'), Bytes(4 - (count + 1) % 4, 0)});
        EXPECT_EQ(message.packetizedData(), concat({hex("2f 61 00 00"), tags, Bytes(4 * count, 0)}))
            << count;
    }
}

// Short argument lists live inside the message and longer ones on the heap:
// copies, moves and growth must keep every argument on both sides of the limit.
TEST(HJOSCMessageEncodingTest, CopiesMovesAndGrowthKeepEveryArgument) {
    for (std::size_t count = 0; count <= 2 * HJOSCMessage::kInlineArguments + 1; ++count) {
        HJOSCMessage original(HJOSCAddress("/a"));
        for (std::size_t i = 0; i < count; ++i) {
            // Every other one too long to be held inline by the argument itself.
            original.attachArgument(i % 2 ? HJOSCArgument::withString(std::string(20 + i, 'x'))
                                          : HJOSCArgument::withInt(static_cast<std::int32_t>(i)));
        }
        const Bytes encoded = *original.packetizedData();
        HJOSCMessage copy = original;
        HJOSCMessage moved = std::move(copy);
        EXPECT_EQ(moved.packetizedData(), encoded) << count;
        HJOSCMessage assigned(HJOSCAddress("/b"));
        assigned.attachArguments(std::vector<HJOSCArgument>(3, HJOSCArgument::withFloat(1.0f)));
        assigned = moved;
        EXPECT_EQ(assigned.packetizedData(), encoded) << count;
        assigned = std::move(moved);
        EXPECT_EQ(assigned.packetizedData(), encoded) << count;
        EXPECT_EQ(original.packetizedData(), encoded) << count;
    }
}

TEST(HJOSCMessageEncodingTest, AttachingFromItsOwnArgumentsIsSafe) {
    HJOSCMessage message(HJOSCAddress("/a"));
    message.attachArgument(HJOSCArgument::withInt(7));
    message.attachArgument(HJOSCArgument::withString(std::string(30, 'z')));
    // Each attach past the inline room moves the list while its own bytes are read.
    for (std::size_t i = 2; i < 3 * HJOSCMessage::kInlineArguments; ++i) {
        const HJOSCArgument& source = message.attachedObjects()[i % 2];
        message.attachArgument(source.type(), source.data());
    }
    for (std::size_t i = 0; i < message.attachedObjects().size(); ++i) {
        EXPECT_EQ(message.attachedObjects()[i], message.attachedObjects()[i % 2]) << i;
    }
}

// --- Bundles -----------------------------------------------------------------------

TEST(HJOSCBundleEncodingTest, LedMessageInABundleIsFiftyTwoBytes) {
    const auto bundle = HJOSCBundle::bundleWithTimestamp(Date{0.5});
    bundle->attachObject(led(3, 5, 1));
    EXPECT_EQ(bundle->packetizedData(), concat({kBundleHead, hex("00 00 00 20"), kLedMessage}));
}

TEST(HJOSCBundleEncodingTest, BundleWithoutElementsHasNoEncodingAndIsWrittenAsSizeZero) {
    HJOSCBundle bundle(Date{0.5});
    Bytes buffer = hex("01");
    EXPECT_FALSE(bundle.appendPacketizedData(buffer));
    EXPECT_EQ(buffer, hex("01"));
    bundle.attachObjects({});
    EXPECT_EQ(bundle.packetizedData(), std::nullopt);
    HJOSCBundle outer(Date{0.5});
    outer.attachObject(std::make_shared<HJOSCBundle>(Date{1.0}));
    EXPECT_EQ(outer.packetizedData(), concat({kBundleHead, hex("00 00 00 00")}));
    // An empty bundle inside another and two empty ones side by side stay apart.
    HJOSCBundle holder(Date{0.5});
    holder.attachObject(HJOSCBundle(Date{0.5}));
    HJOSCBundle nestedEmpty(Date{0.5});
    nestedEmpty.attachObject(holder);
    outer.attachObject(HJOSCBundle(Date{1.0}));
    const Bytes nestedBytes =
        concat({kBundleHead, hex("00 00 00 14"), kBundleHead, hex("00 00 00 00")});
    const Bytes siblingBytes = concat({kBundleHead, hex("00 00 00 00 00 00 00 00")});
    EXPECT_EQ(nestedEmpty.packetizedData(), nestedBytes);
    EXPECT_EQ(outer.packetizedData(), siblingBytes);
    EXPECT_EQ(nestedEmpty.attachedObjects().size(), 1u);
    EXPECT_EQ(outer.attachedObjects().size(), 2u);
}

TEST(HJOSCBundleEncodingTest, NestedBundlesCarryTheirOwnSizesAndTimeTags) {
    const auto inner = std::make_shared<HJOSCBundle>(Date{1.25});
    const std::shared_ptr<HJOSCBundle> null;
    inner->attachObjects({led(0, 0, 1), null, led(1, 1, 0)});
    const auto outer = std::make_shared<HJOSCBundle>(Date{0.5});
    outer->attachObject(led(3, 5, 1));
    outer->attachObject(inner);
    outer->attachObject(null);
    EXPECT_EQ(outer->attachedObjects().size(), 2u);
    const Bytes innerBytes = concat(
        {hex("23 62 75 6e 64 6c 65 00 bd fa 47 01 40 00 00 00 00 00 00 20"),
         *led(0, 0, 1).packetizedData(), hex("00 00 00 20"), *led(1, 1, 0).packetizedData()});
    const Bytes outerBytes =
        concat({kBundleHead, hex("00 00 00 20"), kLedMessage, hex("00 00 00 58"), innerBytes});
    EXPECT_EQ(outer->packetizedData(), outerBytes);
    // Appended after other bytes, sizes stay relative to the elements.
    HJOSCBundle wrapper(Date{0.5});
    wrapper.attachObject(outer);
    Bytes buffer = hex("ff ff ff");
    ASSERT_TRUE(wrapper.appendPacketizedData(buffer));
    EXPECT_EQ(buffer,
              concat({hex("ff ff ff"), kBundleHead,
                      Utilities::dataBlockFromInt(static_cast<std::int32_t>(outerBytes.size())),
                      outerBytes}));
}

}  // namespace
}  // namespace velto

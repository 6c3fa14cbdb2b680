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

const Bytes kLed = hex("2f6d6f6e 6f6d652f 6c656400 2c696969 00000000 00000003 00000005 00000001");
const Bytes kBundleHead = hex("2362756e 646c6500 bdfa4700 80000000");  // stamped 0.5 s

TEST(HJOSCDataUtilitiesTest, NumbersAreFourBigEndianBytes) {
    EXPECT_EQ(Utilities::dataBlockFromInt(0x01020304), hex("01020304"));
    EXPECT_EQ(Utilities::dataBlockFromInt(std::numeric_limits<std::int32_t>::min()),
              hex("80000000"));
    EXPECT_EQ(Utilities::dataBlockFromFloat(-1.0f), hex("bf800000"));
    EXPECT_EQ(Utilities::intFromDataBlock(hex("fffffffe 01")), -2);  // only the first four count
    EXPECT_EQ(Utilities::intFromDataBlock(hex("000001")), 0);        // fewer read as zero
    EXPECT_EQ(Utilities::floatFromDataBlock({}), 0.0f);
    for (const char* pattern : {"7fc00001", "ff800000", "00000001"}) {  // NaN bits, -inf, denormal
        EXPECT_EQ(Utilities::dataBlockFromFloat(Utilities::floatFromDataBlock(hex(pattern))),
                  hex(pattern));
    }
}

// Padding at every length mod 4: 4, 3, 2, 1 NULs, never 0.
TEST(HJOSCDataUtilitiesTest, StringsAndBlobsTakeOneToFourNuls) {
    for (std::size_t length = 0; length < 9; ++length) {
        SCOPED_TRACE(length);
        const Bytes sample(length, 'a');
        const Bytes nuls(4 - length % 4, 0);
        const std::string text(length, 'a');
        const Bytes blob =
            concat({Utilities::dataBlockFromInt(static_cast<std::int32_t>(length)), sample, nuls});
        EXPECT_EQ(Utilities::dataBlockFromString(text), concat({sample, nuls}));
        EXPECT_EQ(Utilities::stringFromDataBlock(concat({sample, nuls})), text);
        EXPECT_EQ(HJOSCArgument::withDataBlob(sample).packetizedData(), blob);
        EXPECT_EQ(Utilities::blobFromDataBlock(blob), sample);
        HJOSCMessage message(HJOSCAddress("/a"));  // the type tags: ',' and `length` of 'i'
        message.attachArguments(std::vector<HJOSCArgument>(length, HJOSCArgument::withInt(0)));
        EXPECT_EQ(message.packetizedData(),
                  concat({hex("2f610000 2c"), Bytes(length, 'i'), Bytes(4 - (length + 1) % 4, 0),
                          Bytes(4 * length, 0)}));
    }
}

TEST(HJOSCDataUtilitiesTest, TextOutsideASCIIIsEmptyAndBlobsNeedEveryAnnouncedByte) {
    EXPECT_EQ(Utilities::dataBlockFromString("caf\xc3\xa9"), hex("00000000"));
    EXPECT_EQ(HJOSCAddress("/\xff").packetizedData(), hex("00000000"));
    EXPECT_EQ(Utilities::asciiStringFromDataBlock(hex("61e90000")), std::nullopt);
    EXPECT_EQ(Utilities::asciiStringFromDataBlock(hex("617f0000")), std::string("a\x7f"));
    EXPECT_EQ(Utilities::stringFromDataBlock(hex("00616200")), "ab");
    EXPECT_EQ(Utilities::stringFromDataBlock(hex("61006200")), std::string("a\0b", 3));
    EXPECT_EQ(Utilities::blobFromDataBlock(hex("00000008 0102")), std::nullopt);
    EXPECT_EQ(Utilities::blobFromDataBlock(hex("ffffffff 0102")), std::nullopt);
    EXPECT_EQ(Utilities::blobFromDataBlock(hex("000000")), std::nullopt);
}

TEST(HJOSCDataUtilitiesTest, TimeTagsWriteAndReadBack) {
    const struct {
        double seconds;  // since the reference date
        const char* tag;
    } cases[] = {{0.0, "bdfa4700 00000000"},
                 {0.5, "bdfa4700 80000000"},
                 {1.25, "bdfa4701 40000000"},
                 {788918400.75, "ed003780 c0000000"},  // 2026-01-01 00:00:00.75 UTC
                 // Whole seconds round down, so the fraction stays positive.
                 {-0.25, "bdfa46ff c0000000"}};
    for (const auto& c : cases) {
        EXPECT_EQ(Utilities::ntpTimestampFromNSDate(Date{c.seconds}), hex(c.tag)) << c.tag;
        EXPECT_EQ(Utilities::dateFromNTPTimestamp(hex(c.tag)), Date{c.seconds}) << c.tag;
    }
    EXPECT_EQ(Utilities::ntpTimestampForImmediate(), hex("00000000 00000001"));
    EXPECT_EQ(Utilities::dateFromNTPTimestamp(hex("00000000 00000001")), Date::distantPast());
    EXPECT_NE(Utilities::dateFromNTPTimestamp(hex("00000000 00000002")), Date::distantPast());
    const Date now{788918400.123456};
    const Date back = Utilities::dateFromNTPTimestamp(Utilities::ntpTimestampFromNSDate(now));
    EXPECT_NEAR(back.secondsSinceReferenceDate, now.secondsSinceReferenceDate, 1e-6);
    EXPECT_LE(back, now);
    for (const double seconds : {std::nan(""), std::numeric_limits<double>::infinity(), -1e300})
        EXPECT_EQ(Utilities::ntpTimestampFromNSDate(Date{seconds}).size(), 8u) << seconds;
}

// Short texts, encodings and argument lists live inline and longer ones on the heap: copies,
// moves and self-sourced sets on both sides of that limit keep every byte.
TEST(HJOSCStorageTest, CopiesMovesAndSelfSourcedSetsKeepEveryByte) {
    HJOSCAddress address("/" + std::string(60, 'a'));
    address.setAddress(address.address().substr(50));
    EXPECT_EQ(address.address(), "aaaaaaaaaaa");
    for (std::size_t count = 0; count < 10; ++count) {
        SCOPED_TRACE(count);
        HJOSCMessage original(HJOSCAddress("/a"));
        for (std::size_t i = 0; i < count; ++i) {  // every other one a string of 21 to 35 bytes
            original.attachArgument(i % 2 ? HJOSCArgument::withString(std::string(20 + i * 2, 'x'))
                                          : HJOSCArgument::withInt(static_cast<std::int32_t>(i)));
        }
        const Bytes encoded = *original.packetizedData();
        HJOSCMessage copy = original;
        HJOSCMessage moved = std::move(copy);
        HJOSCMessage assigned(HJOSCAddress("/b"));
        assigned.attachArguments(std::vector<HJOSCArgument>(3, HJOSCArgument::withFloat(1.0f)));
        assigned = moved;
        EXPECT_EQ(assigned.packetizedData(), encoded);
        assigned = std::move(moved);
        EXPECT_EQ(assigned.packetizedData(), encoded);
        EXPECT_EQ(original.packetizedData(), encoded);
        // Each attach past the inline room moves the list while its own bytes are read.
        if (count > 0) {
            const HJOSCArgument expected = original.attachedObjects()[count / 2];
            const HJOSCArgument& source = original.attachedObjects()[count / 2];
            original.attachArgument(source.type(), source.data());
            EXPECT_EQ(original.attachedObjects().back(), expected);
        }
        HJOSCArgument self = HJOSCArgument::withString(std::string(count * 3, 'y'));
        const Bytes before(self.data().begin(), self.data().end());
        self.setDataBlobValue(self.data().subspan(1));
        EXPECT_EQ(self.dataBlobValue(), Bytes(before.begin() + 1, before.end()));
    }
}

TEST(HJOSCMessageEncodingTest, ArgumentsGoOnTheWireInAttachOrder) {
    EXPECT_EQ(led(3, 5, 1).packetizedData(), kLed);
    Bytes buffer = hex("aabb");
    EXPECT_TRUE(led(3, 5, 1).appendPacketizedData(buffer));
    EXPECT_EQ(buffer, concat({hex("aabb"), kLed}));
    EXPECT_EQ(HJOSCMessage(HJOSCAddress("/monome")).packetizedData(),
              hex("2f6d6f6e 6f6d6500 2c000000"));
    EXPECT_EQ(HJOSCAddress::addressWithArray({"monome", "led"})->address(), "/monome/led");
    HJOSCMessage mixed(HJOSCAddress("/x"));
    mixed.attachArgument(HJOSCArgument::withInt(1));
    mixed.attachArgument(HJOSCArgument::argumentWithFloat(0.5f));
    mixed.attachArgument(std::shared_ptr<HJOSCArgument>());  // ignored
    mixed.attachArgument(HJOSCArgument::withString("abcd"));
    mixed.attachArgument(HJOSCArgument::withDataBlob(hex("ee")));
    EXPECT_EQ(mixed.packetizedData(), hex("2f780000 2c696673 62000000 00000001 3f000000"
                                          "61626364 00000000 00000001 ee000000"));
    EXPECT_EQ(mixed.encodedSize(), 36u);
}

TEST(HJOSCBundleEncodingTest, NestedBundlesCarryTheirOwnSizesAndTimeTags) {
    const auto inner = std::make_shared<HJOSCBundle>(Date{1.25});
    const std::shared_ptr<HJOSCBundle> null;
    inner->attachObjects({led(3, 5, 1), null, led(3, 5, 1)});
    HJOSCBundle outer(Date{0.5});
    outer.attachObject(led(3, 5, 1));
    outer.attachObject(inner);
    outer.attachObject(null);
    outer.attachObject(HJOSCBundle(Date{1.0}));  // empty: written as size zero
    const Bytes innerBytes =
        concat({hex("2362756e 646c6500 bdfa4701 40000000 00000020"), kLed, hex("00000020"), kLed});
    const Bytes outerBytes =
        concat({kBundleHead, hex("00000020"), kLed, hex("00000058"), innerBytes, hex("00000000")});
    HJOSCBundle wrapper(Date{0.5});  // appended after other bytes, sizes stay relative
    wrapper.attachObject(outer);
    Bytes buffer = hex("ffffff");
    ASSERT_TRUE(wrapper.appendPacketizedData(buffer));
    EXPECT_EQ(buffer, concat({hex("ffffff"), kBundleHead, hex("00000094"), outerBytes}));
    // A bundle without elements has no encoding of its own and leaves the buffer as it was.
    EXPECT_FALSE(HJOSCBundle(Date{0.5}).appendPacketizedData(buffer));
    EXPECT_EQ(buffer.size(), 3u + 16 + 4 + 148);
}

}  // namespace
}  // namespace velto

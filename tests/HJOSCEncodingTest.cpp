// Exact bytes of every OSC atom and packet that Velto writes.

#include <gtest/gtest.h>

#include <cctype>
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

namespace velto {
namespace {

using Utilities = HJOSCDataUtilities;

// "2f 6d 00" -> {0x2f, 0x6d, 0x00}; spaces are ignored.
Bytes hex(std::string_view digits) {
    Bytes out;
    int high = -1;
    for (const char c : digits) {
        if (std::isspace(static_cast<unsigned char>(c))) continue;
        const int value = std::isdigit(static_cast<unsigned char>(c)) ? c - '0' : std::tolower(c) - 'a' + 10;
        if (high < 0) {
            high = value;
        } else {
            out.push_back(static_cast<std::uint8_t>(high * 16 + value));
            high = -1;
        }
    }
    return out;
}

Bytes ascii(std::string_view text) { return Bytes(text.begin(), text.end()); }

Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const auto& part : parts) out.insert(out.end(), part.begin(), part.end());
    return out;
}

std::shared_ptr<HJOSCMessage> message(std::string_view address, std::vector<HJOSCArgument> arguments) {
    auto result = std::make_shared<HJOSCMessage>(HJOSCAddress(address));
    result->attachArguments(std::move(arguments));
    return result;
}

std::shared_ptr<HJOSCMessage> led(int x, int y, int state) {
    return message("/monome/led", {HJOSCArgument::withInt(x), HJOSCArgument::withInt(y),
                                   HJOSCArgument::withInt(state)});
}

const Bytes kLedMessage = hex(
    "2f 6d 6f 6e 6f 6d 65 2f 6c 65 64 00"
    "2c 69 69 69 00 00 00 00"
    "00 00 00 03 00 00 00 05 00 00 00 01");

// --- Atoms -------------------------------------------------------------------

TEST(HJOSCDataUtilitiesTest, NumbersAreWrittenBigEndian) {
    EXPECT_EQ(Utilities::dataBlockFromInt(3), hex("00 00 00 03"));
    EXPECT_EQ(Utilities::dataBlockFromInt(-1), hex("ff ff ff ff"));
    EXPECT_EQ(Utilities::dataBlockFromInt(0x01020304), hex("01 02 03 04"));
    EXPECT_EQ(Utilities::dataBlockFromInt(std::numeric_limits<std::int32_t>::min()), hex("80 00 00 00"));
    EXPECT_EQ(Utilities::dataBlockFromUInt(0xdeadbeefu), hex("de ad be ef"));
    EXPECT_EQ(Utilities::dataBlockFromFloat(0.5f), hex("3f 00 00 00"));
    EXPECT_EQ(Utilities::dataBlockFromFloat(-1.0f), hex("bf 80 00 00"));
    EXPECT_EQ(Utilities::dataBlockFromFloat(50.0f), hex("42 48 00 00"));
}

TEST(HJOSCDataUtilitiesTest, NumbersReadFromTheFirstFourBytesOnly) {
    EXPECT_EQ(Utilities::intFromDataBlock(hex("ff ff ff fe 01")), -2);
    EXPECT_EQ(Utilities::uIntFromDataBlock(hex("ff ff ff fe")), 0xfffffffeu);
    EXPECT_EQ(Utilities::floatFromDataBlock(hex("bf 80 00 00 7f")), -1.0f);
}

TEST(HJOSCDataUtilitiesTest, NumbersShorterThanFourBytesReadAsZero) {
    EXPECT_EQ(Utilities::intFromDataBlock(hex("00 00 01")), 0);
    EXPECT_EQ(Utilities::uIntFromDataBlock(hex("ff")), 0u);
    EXPECT_EQ(Utilities::floatFromDataBlock({}), 0.0f);
}

TEST(HJOSCDataUtilitiesTest, FloatBitPatternsPassUnchanged) {
    for (const char* pattern : {"7f c0 00 01", "ff 80 00 00", "00 00 00 01", "80 00 00 00"}) {
        const Bytes bytes = hex(pattern);
        EXPECT_EQ(Utilities::dataBlockFromFloat(Utilities::floatFromDataBlock(bytes)), bytes) << pattern;
    }
}

// Padding at every length mod 4: 4, 3, 2, 1 NULs, never 0.
class HJOSCPaddingTest : public ::testing::TestWithParam<std::size_t> {
protected:
    static std::size_t nulsAfter(std::size_t length) { return 4 - length % 4; }
    Bytes sample() const {
        Bytes bytes(GetParam());
        for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>('a' + i);
        return bytes;
    }
};

TEST_P(HJOSCPaddingTest, PaddedDataTakesOneToFourNuls) {
    const Bytes input = sample();
    EXPECT_EQ(Utilities::paddedDataFromData(input), concat({input, Bytes(nulsAfter(input.size()), 0)}));
}

TEST_P(HJOSCPaddingTest, StringAtomIsTextAndOneToFourNuls) {
    const Bytes text = sample();
    const std::string_view view(reinterpret_cast<const char*>(text.data()), text.size());
    const Bytes atom = Utilities::dataBlockFromString(view);
    EXPECT_EQ(atom, concat({text, Bytes(nulsAfter(text.size()), 0)}));
    EXPECT_EQ(atom.size() % 4, 0u);
    EXPECT_EQ(Utilities::stringFromDataBlock(atom), view);
}

TEST_P(HJOSCPaddingTest, BlobAtomIsSizeBytesAndOneToFourNuls) {
    const Bytes blob = sample();
    const Bytes atom = Utilities::dataBlockFromBlob(blob);
    EXPECT_EQ(atom, concat({Utilities::dataBlockFromInt(static_cast<std::int32_t>(blob.size())), blob,
                            Bytes(nulsAfter(blob.size()), 0)}));
    EXPECT_EQ(Utilities::blobFromDataBlock(atom), blob);
    // The argument setter builds the same bytes itself.
    EXPECT_EQ(HJOSCArgument::withDataBlob(blob).packetizedData(), atom);
}

INSTANTIATE_TEST_SUITE_P(LengthsZeroToNine, HJOSCPaddingTest, ::testing::Range<std::size_t>(0, 10));

TEST(HJOSCDataUtilitiesTest, StringAtomsOfTheExamples) {
    EXPECT_EQ(Utilities::dataBlockFromString("abcd"), hex("61 62 63 64 00 00 00 00"));
    EXPECT_EQ(Utilities::dataBlockFromString(""), hex("00 00 00 00"));
    EXPECT_EQ(Utilities::dataBlockFromString("#bundle"), hex("23 62 75 6e 64 6c 65 00"));
}

TEST(HJOSCDataUtilitiesTest, TextOutsideASCIIIsWrittenAsTheEmptyString) {
    EXPECT_EQ(Utilities::dataBlockFromString("caf\xc3\xa9"), hex("00 00 00 00"));
    EXPECT_EQ(HJOSCAddress("/\xff").packetizedData(), hex("00 00 00 00"));
    EXPECT_EQ(HJOSCArgument::withString("\x80").packetizedData(), hex("00 00 00 00"));
}

TEST(HJOSCDataUtilitiesTest, StringReadingStripsNulsAtBothEndsOnly) {
    EXPECT_EQ(Utilities::stringFromDataBlock(hex("00 61 62 00")), "ab");
    EXPECT_EQ(Utilities::stringFromDataBlock(hex("61 00 62 00")), std::string("a\0b", 3));
    EXPECT_EQ(Utilities::stringFromDataBlock(hex("00 00 00 00")), "");
}

TEST(HJOSCDataUtilitiesTest, BytesAboveSevenBitsCannotBeReadAsText) {
    EXPECT_EQ(Utilities::asciiStringFromDataBlock(hex("61 e9 00 00")), std::nullopt);
    EXPECT_EQ(Utilities::stringFromDataBlock(hex("61 e9 00 00")), "");
    EXPECT_EQ(Utilities::asciiStringFromDataBlock(hex("61 7f 00 00")), std::string("a\x7f"));
}

TEST(HJOSCDataUtilitiesTest, BlobAtomsOfTheExamples) {
    EXPECT_EQ(Utilities::dataBlockFromBlob(hex("01 02 03 04")), hex("00 00 00 04 01 02 03 04 00 00 00 00"));
    EXPECT_EQ(Utilities::dataBlockFromBlob(hex("01 02 03")), hex("00 00 00 03 01 02 03 00"));
    EXPECT_EQ(Utilities::dataBlockFromBlob({}), Bytes(8, 0));
}

TEST(HJOSCDataUtilitiesTest, BlobReadingNeedsEveryAnnouncedByte) {
    EXPECT_EQ(Utilities::blobFromDataBlock(hex("00 00 00 08 01 02")), std::nullopt);
    EXPECT_EQ(Utilities::blobFromDataBlock(hex("ff ff ff ff 01 02")), std::nullopt);
    EXPECT_EQ(Utilities::blobFromDataBlock(hex("00 00 00")), std::nullopt);
    EXPECT_EQ(Utilities::blobFromDataBlock(hex("00 00 00 02 01 02")), hex("01 02"));
    EXPECT_EQ(Utilities::blobFromDataBlock(hex("00 00 00 00")), Bytes{});
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
                      // 2026-01-01 00:00:00.75 UTC.
                      TimeTagCase{788918400.75, "ed 00 37 80 c0 00 00 00"},
                      // Before the reference date the whole seconds round down, so the
                      // fraction stays positive and the date reads back as written.
                      TimeTagCase{-0.25, "bd fa 46 ff c0 00 00 00"}));

TEST(HJOSCDataUtilitiesTest, ImmediateTimeTagReadsAsTheDistantPast) {
    EXPECT_EQ(Utilities::ntpTimestampForImmediate(), hex("00 00 00 00 00 00 00 01"));
    EXPECT_EQ(Utilities::dateFromNTPTimestamp(hex("00 00 00 00 00 00 00 01")), Date::distantPast());
    EXPECT_NE(Utilities::dateFromNTPTimestamp(hex("00 00 00 00 00 00 00 02")), Date::distantPast());
}

TEST(HJOSCDataUtilitiesTest, TimeTagKeepsTheDateToAFractionOfAMicrosecond) {
    const Date now{788918400.123456};
    const Date back = Utilities::dateFromNTPTimestamp(Utilities::ntpTimestampFromNSDate(now));
    EXPECT_NEAR(back.secondsSinceReferenceDate, now.secondsSinceReferenceDate, 1e-6);
    EXPECT_LE(back, now);  // the fraction is truncated, never rounded up
}

TEST(HJOSCDataUtilitiesTest, TimeTagsOfUnwritableDatesAreStillEightBytes) {
    for (const double seconds : {std::nan(""), std::numeric_limits<double>::infinity(), -1e300, 1e300,
                                 Date::distantPast().secondsSinceReferenceDate, -1e-20}) {
        EXPECT_EQ(Utilities::ntpTimestampFromNSDate(Date{seconds}).size(), 8u) << seconds;
    }
}

// --- Addresses and arguments -----------------------------------------------------

TEST(HJOSCAddressTest, ComponentsAreJoinedWithLeadingSlashes) {
    EXPECT_EQ(HJOSCAddress::addressWithArray({"monome", "led"})->address(), "/monome/led");
    const auto empty = HJOSCAddress::addressWithArray({});
    EXPECT_EQ(empty->address(), "");
    EXPECT_EQ(empty->packetizedData(), hex("00 00 00 00"));
}

TEST(HJOSCAddressTest, TextIsCopiedAndReplaced) {
    std::string text = "/monome/led";
    const auto address = HJOSCAddress::addressWithString(text);
    text[1] = 'x';
    EXPECT_EQ(address->address(), "/monome/led");
    address->setAddress("/stagevue/ping");
    EXPECT_EQ(address->packetizedData(), ascii(std::string_view("/stagevue/ping\0\0", 16)));
}

TEST(HJOSCArgumentTest, SettersSetTypeAndAtom) {
    HJOSCArgument argument;
    EXPECT_EQ(argument.type(), 0);
    EXPECT_TRUE(argument.data().empty());
    argument.setIntValue(-1);
    EXPECT_EQ(argument.type(), 'i');
    EXPECT_EQ(argument.packetizedData(), hex("ff ff ff ff"));
    argument.setFloatValue(0.5f);
    EXPECT_EQ(argument.type(), 'f');
    EXPECT_EQ(argument.packetizedData(), hex("3f 00 00 00"));
    argument.setStringValue("abc");
    EXPECT_EQ(argument.type(), 's');
    EXPECT_EQ(argument.packetizedData(), hex("61 62 63 00"));
    argument.setDataBlobValue(hex("01"));
    EXPECT_EQ(argument.type(), 'b');
    EXPECT_EQ(argument.packetizedData(), hex("00 00 00 01 01 00 00 00"));
}

TEST(HJOSCArgumentTest, GettersDecodeTheDataWhateverTheType) {
    const auto one = HJOSCArgument::argumentWithFloat(1.0f);
    EXPECT_EQ(one->intValue(), 1065353216);
    EXPECT_EQ(one->floatValue(), 1.0f);
    const auto text = HJOSCArgument::argumentWithString("hi");
    EXPECT_EQ(text->stringValue(), "hi");
    EXPECT_EQ(text->intValue(), 0x68690000);
    const auto blob = HJOSCArgument::argumentWithDataBlob(hex("0a 0b"));
    EXPECT_EQ(blob->dataBlobValue(), hex("0a 0b"));
    EXPECT_EQ(HJOSCArgument::argumentWithInt(7)->dataBlobValue(), std::nullopt);
}

TEST(HJOSCArgumentTest, SetDataTakesAnyBytesAndKeepsTheType) {
    HJOSCArgument argument = HJOSCArgument::withInt(1);
    argument.setData(hex("00 00 00 2a"));
    EXPECT_EQ(argument.type(), 'i');
    EXPECT_EQ(argument.intValue(), 42);
    argument.setType('f');
    EXPECT_EQ(argument.type(), 'f');
    EXPECT_EQ(argument.intValue(), 42);
}

TEST(HJOSCArgumentTest, CopiesAndMovesKeepInlineAndLongData) {
    const std::string longText(100, 'x');
    for (const HJOSCArgument& original : {HJOSCArgument::withInt(5), HJOSCArgument::withString(longText),
                                          HJOSCArgument::withDataBlob(Bytes(40, 7))}) {
        HJOSCArgument copy = original;
        EXPECT_EQ(copy, original);
        HJOSCArgument moved = std::move(copy);
        EXPECT_EQ(moved, original);
        EXPECT_TRUE(copy.data().empty());  // NOLINT(bugprone-use-after-move): left empty, never dangling
        HJOSCArgument assigned = HJOSCArgument::withString("short");
        assigned = moved;
        EXPECT_EQ(assigned, original);
        assigned = HJOSCArgument::withFloat(2.0f);
        EXPECT_EQ(assigned.floatValue(), 2.0f);
    }
}

TEST(HJOSCArgumentTest, SettingItsOwnBytesAgainIsSafe) {
    for (HJOSCArgument argument : {HJOSCArgument::withString("abc"), HJOSCArgument::withString(std::string(40, 'y'))}) {
        const Bytes before = argument.packetizedData();
        argument.setData(argument.data());
        EXPECT_EQ(argument.packetizedData(), before);
        argument.setDataBlobValue(argument.data().subspan(1));
        EXPECT_EQ(argument.dataBlobValue(), Bytes(before.begin() + 1, before.end()));
    }
}

// --- Messages ----------------------------------------------------------------------

TEST(HJOSCMessageEncodingTest, LedMessageIsThirtyTwoBytes) {
    EXPECT_EQ(led(3, 5, 1)->packetizedData(), kLedMessage);
}

TEST(HJOSCMessageEncodingTest, MessageWithoutArgumentsEndsWithAnEmptyTypeTagString) {
    const auto ping = HJOSCMessage::messageWithHJOSCAddress(HJOSCAddress::addressWithString("/monome"));
    EXPECT_FALSE(ping->hasAttachedObjects());
    EXPECT_EQ(ping->typeTagString(), ",");
    EXPECT_EQ(ping->packetizedData(), hex("2f 6d 6f 6e 6f 6d 65 00 2c 00 00 00"));
}

TEST(HJOSCMessageEncodingTest, NullAddressGivesNoMessage) {
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
              concat({hex("2f 78 00 00"), ascii(std::string_view(",ifsb\0\0\0", 8)), hex("00 00 00 01"),
                      hex("3f 00 00 00"), hex("61 62 63 64 00 00 00 00"), hex("00 00 00 01 ee 00 00 00")}));
    EXPECT_EQ(mixed.encodedSize(), mixed.packetizedData()->size());
}

TEST(HJOSCMessageEncodingTest, TypeTagStringAtEveryLengthModFour) {
    for (std::size_t count = 0; count < 9; ++count) {
        HJOSCMessage message(HJOSCAddress("/a"));
        message.attachArguments(std::vector<HJOSCArgument>(count, HJOSCArgument::withInt(0)));
        const Bytes encoded = *message.packetizedData();
        const std::size_t tagsLength = Utilities::paddedLength(1 + count);
        ASSERT_EQ(encoded.size(), 4 + tagsLength + 4 * count);
        EXPECT_EQ(encoded[4], ',');
        for (std::size_t i = 0; i < count; ++i) EXPECT_EQ(encoded[5 + i], 'i');
        for (std::size_t i = 5 + count; i < 4 + tagsLength; ++i) EXPECT_EQ(encoded[i], 0) << count;
    }
}

TEST(HJOSCMessageEncodingTest, EachEncodingSeesTheCurrentArguments) {
    auto message = led(3, 5, 1);
    EXPECT_EQ(message->packetizedData(), kLedMessage);
    EXPECT_EQ(message->packetizedData(), kLedMessage);
    message->attachArgument(HJOSCArgument::withInt(9));
    EXPECT_EQ(message->typeTagString(), ",iiii");
    EXPECT_EQ(message->packetizedData()->size(), 36u);
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
        EXPECT_EQ(copy.packetizedData(), encoded) << count;
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

TEST(HJOSCMessageEncodingTest, AttachingAnEmptyListCreatesIt) {
    HJOSCMessage message(HJOSCAddress("/a"));
    message.attachArguments({});
    EXPECT_TRUE(message.hasAttachedObjects());
    EXPECT_TRUE(message.attachedObjects().empty());
}

TEST(HJOSCMessageEncodingTest, AppendingKeepsWhatTheBufferHeld) {
    Bytes buffer = hex("aa bb");
    EXPECT_TRUE(led(3, 5, 1)->appendPacketizedData(buffer));
    EXPECT_EQ(buffer, concat({hex("aa bb"), kLedMessage}));
}

// --- Bundles -----------------------------------------------------------------------

TEST(HJOSCBundleEncodingTest, LedMessageInABundleIsFiftyTwoBytes) {
    const auto bundle = HJOSCBundle::bundleWithTimestamp(Date{0.5});
    bundle->attachObject(led(3, 5, 1));
    EXPECT_EQ(bundle->packetizedData(),
              concat({hex("23 62 75 6e 64 6c 65 00 bd fa 47 00 80 00 00 00 00 00 00 20"), kLedMessage}));
}

TEST(HJOSCBundleEncodingTest, BundleWithoutElementsHasNoEncoding) {
    HJOSCBundle bundle(Date{0.5});
    EXPECT_EQ(bundle.packetizedData(), std::nullopt);
    Bytes buffer = hex("01");
    EXPECT_FALSE(bundle.appendPacketizedData(buffer));
    EXPECT_EQ(buffer, hex("01"));
    bundle.attachObjects({});
    EXPECT_TRUE(bundle.hasAttachedObjects());
    EXPECT_EQ(bundle.packetizedData(), std::nullopt);
}

TEST(HJOSCBundleEncodingTest, EmptyNestedBundleIsWrittenAsSizeZero) {
    HJOSCBundle bundle(Date{0.0});
    bundle.attachObject(std::make_shared<HJOSCBundle>(Date{0.5}));
    EXPECT_EQ(bundle.packetizedData(), hex("23 62 75 6e 64 6c 65 00 bd fa 47 00 00 00 00 00 00 00 00 00"));
}

TEST(HJOSCBundleEncodingTest, NestedBundlesCarryTheirOwnSizesAndTimeTags) {
    const auto inner = std::make_shared<HJOSCBundle>(Date{1.25});
    inner->attachObjects({led(0, 0, 1), nullptr, led(1, 1, 0)});
    HJOSCBundle outer(Date{0.5});
    outer.attachObject(led(3, 5, 1));
    outer.attachObject(inner);
    outer.attachObject(nullptr);
    EXPECT_EQ(outer.attachedObjects().size(), 2u);
    EXPECT_EQ(inner->attachedObjects().size(), 2u);
    const Bytes innerBytes = concat({hex("23 62 75 6e 64 6c 65 00 bd fa 47 01 40 00 00 00"), hex("00 00 00 20"),
                                     *led(0, 0, 1)->packetizedData(), hex("00 00 00 20"),
                                     *led(1, 1, 0)->packetizedData()});
    EXPECT_EQ(inner->packetizedData(), innerBytes);
    EXPECT_EQ(outer.packetizedData(),
              concat({hex("23 62 75 6e 64 6c 65 00 bd fa 47 00 80 00 00 00 00 00 00 20"), kLedMessage,
                      hex("00 00 00 58"), innerBytes}));
}

TEST(HJOSCBundleEncodingTest, AppendingWritesSizesRelativeToTheElements) {
    const auto inner = std::make_shared<HJOSCBundle>(Date{0.5});
    inner->attachObject(led(3, 5, 1));
    HJOSCBundle outer(Date{0.5});
    outer.attachObject(inner);
    Bytes buffer = hex("ff ff ff");
    ASSERT_TRUE(outer.appendPacketizedData(buffer));
    EXPECT_EQ(buffer, concat({hex("ff ff ff"), *outer.packetizedData()}));
}

TEST(HJOSCBundleEncodingTest, ElementsAttachedAfterAnEncodingAppearInTheNext) {
    HJOSCBundle bundle(Date{0.5});
    bundle.attachObject(led(3, 5, 1));
    const Bytes first = *bundle.packetizedData();
    bundle.attachObject(led(3, 5, 1));
    EXPECT_EQ(bundle.packetizedData(), concat({first, hex("00 00 00 20"), kLedMessage}));
}

TEST(HJOSCBundleEncodingTest, ElementsAreSharedNotCopied) {
    auto message = led(3, 5, 1);
    HJOSCBundle bundle(Date{0.5});
    bundle.attachObject(message);
    message->attachArgument(HJOSCArgument::withInt(4));
    EXPECT_EQ(bundle.attachedObjects().front(), message);
    EXPECT_EQ(bundle.packetizedData()->size(), 16u + 4 + 36);
}

class BarePacket : public HJOSCPacket {};

TEST(HJOSCPacketTest, BarePacketHasNoEncodingAndIsWrittenAsSizeZero) {
    const auto bare = std::make_shared<BarePacket>();
    EXPECT_EQ(bare->packetizedData(), std::nullopt);
    EXPECT_EQ(bare->asMessage(), nullptr);
    EXPECT_EQ(bare->asBundle(), nullptr);
    HJOSCBundle bundle(Date{0.0});
    bundle.attachObject(bare);
    EXPECT_EQ(bundle.packetizedData(), hex("23 62 75 6e 64 6c 65 00 bd fa 47 00 00 00 00 00 00 00 00 00"));
}

}  // namespace
}  // namespace velto

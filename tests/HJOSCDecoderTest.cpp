// Reading datagrams: what decodes, what is tolerated, and which of the two
// failures ("no packet" and "malformed") each broken datagram gives. Broken
// datagrams are made by corrupting good ones.

#include <gtest/gtest.h>

#include <cctype>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "common/osc/HJOSCBundle.h"
#include "common/osc/HJOSCDataUtilities.h"
#include "common/osc/HJOSCDecoder.h"
#include "common/osc/HJOSCMessage.h"

namespace velto {
namespace {

using Failure = HJOSCDecoder::Failure;
using Utilities = HJOSCDataUtilities;

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

// The bytes of `text`, NULs included: raw("/a\0\0") is 4 bytes.
template <std::size_t N>
Bytes raw(const char (&text)[N]) {
    return Bytes(text, text + N - 1);
}

Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const auto& part : parts) out.insert(out.end(), part.begin(), part.end());
    return out;
}

Bytes truncated(Bytes bytes, std::size_t length) {
    bytes.resize(length);
    return bytes;
}

Bytes withInt(Bytes bytes, std::size_t at, std::int32_t value) {
    Utilities::storeUInt(bytes.data() + at, static_cast<std::uint32_t>(value));
    return bytes;
}

// A bundle stamped 0.5 s after the reference date, holding `elements` as they are.
Bytes bundleOf(std::initializer_list<Bytes> elements) {
    Bytes out = concat({raw("#bundle\0"), hex("bd fa 47 00 80 00 00 00")});
    for (const auto& element : elements) {
        Utilities::appendInt(out, static_cast<std::int32_t>(element.size()));
        out.insert(out.end(), element.begin(), element.end());
    }
    return out;
}

Bytes ledMessage(int x, int y, int state) {
    HJOSCMessage message(HJOSCAddress("/monome/led"));
    message.attachArguments({HJOSCArgument::withInt(x), HJOSCArgument::withInt(y), HJOSCArgument::withInt(state)});
    return *message.packetizedData();
}

const Bytes kLed = ledMessage(3, 5, 1);    // 32 bytes
const Bytes kLedBundle = bundleOf({kLed});  // 52 bytes; the element size is at 16

std::shared_ptr<HJOSCPacket> decode(const Bytes& bytes) { return HJOSCDecoder::decodeData(bytes); }

std::vector<std::int32_t> intsOf(const HJOSCMessage& message) {
    std::vector<std::int32_t> values;
    for (const auto& argument : message.attachedObjects()) values.push_back(argument.intValue());
    return values;
}

// --- What decodes ----------------------------------------------------------------------

TEST(HJOSCDecoderTest, PressMessageDecodesToItsAddressAndIntegers) {
    const auto packet = decode(concat({raw("/monome/press\0\0\0"), raw(",iii\0\0\0\0"), hex("00000003 00000005 00000001")}));
    ASSERT_NE(packet, nullptr);
    const HJOSCMessage* message = packet->asMessage();
    ASSERT_NE(message, nullptr);
    EXPECT_EQ(message->address().address(), "/monome/press");
    EXPECT_EQ(message->typeTagString(), ",iii");
    EXPECT_EQ(intsOf(*message), (std::vector<std::int32_t>{3, 5, 1}));
}

TEST(HJOSCDecoderTest, MessageWithOnlyACommaHasAnEmptyArgumentList) {
    const auto packet = decode(raw("/stagevue/ping\0\0,\0\0\0"));
    ASSERT_NE(packet, nullptr);
    EXPECT_TRUE(packet->asMessage()->hasAttachedObjects());
    EXPECT_TRUE(packet->asMessage()->attachedObjects().empty());
}

TEST(HJOSCDecoderTest, SixteenByteBundleHasNoElementsAndItsTimeStamp) {
    const auto packet = decode(truncated(kLedBundle, 16));
    ASSERT_NE(packet, nullptr);
    const HJOSCBundle* bundle = packet->asBundle();
    ASSERT_NE(bundle, nullptr);
    EXPECT_EQ(bundle->timeStamp(), Date{0.5});
    EXPECT_FALSE(bundle->hasAttachedObjects());
}

TEST(HJOSCDecoderTest, ImmediateTimeTagGivesTheDistantPast) {
    Bytes bytes = kLedBundle;
    const Bytes immediate = Utilities::ntpTimestampForImmediate();
    std::copy(immediate.begin(), immediate.end(), bytes.begin() + 8);
    EXPECT_EQ(decode(bytes)->asBundle()->timeStamp(), Date::distantPast());
}

TEST(HJOSCDecoderTest, NestedBundlesDecodeToTheSameTreeInOrder) {
    const Bytes bytes = bundleOf({ledMessage(0, 1, 1), bundleOf({ledMessage(2, 3, 0), ledMessage(4, 5, 1)})});
    const auto packet = decode(bytes);
    ASSERT_NE(packet, nullptr);
    const auto& outer = packet->asBundle()->attachedObjects();
    ASSERT_EQ(outer.size(), 2u);
    EXPECT_EQ(intsOf(*outer[0]->asMessage()), (std::vector<std::int32_t>{0, 1, 1}));
    const HJOSCBundle* inner = outer[1]->asBundle();
    ASSERT_NE(inner, nullptr);
    ASSERT_EQ(inner->attachedObjects().size(), 2u);
    EXPECT_EQ(intsOf(*inner->attachedObjects()[0]->asMessage()), (std::vector<std::int32_t>{2, 3, 0}));
    EXPECT_EQ(intsOf(*inner->attachedObjects()[1]->asMessage()), (std::vector<std::int32_t>{4, 5, 1}));
    EXPECT_EQ(packet->packetizedData(), bytes);
}

TEST(HJOSCDecoderTest, StringsAndBlobsTakeWholeWordsWithOneToFourNuls) {
    // "abcd" is followed by 4 NULs, "xyz" fits one word; blobs of 4 and 5 bytes take 12.
    const Bytes bytes = concat({raw("/s\0\0"), raw(",sisbbi\0"), raw("abcd\0\0\0\0"), hex("00000007"), raw("xyz\0"),
                                hex("00000004 01020304 00000000"), hex("00000005 0102030405 000000"), hex("00000009")});
    const auto packet = decode(bytes);
    ASSERT_NE(packet, nullptr);
    const auto& arguments = packet->asMessage()->attachedObjects();
    ASSERT_EQ(arguments.size(), 6u);
    EXPECT_EQ(arguments[0].stringValue(), "abcd");
    EXPECT_EQ(arguments[1].intValue(), 7);
    EXPECT_EQ(arguments[2].stringValue(), "xyz");
    EXPECT_EQ(arguments[3].dataBlobValue(), hex("01020304"));
    EXPECT_EQ(arguments[4].dataBlobValue(), hex("0102030405"));
    EXPECT_EQ(arguments[5].intValue(), 9);
    EXPECT_EQ(packet->packetizedData(), bytes);
}

TEST(HJOSCDecoderTest, FloatsKeepTheirBitPattern) {
    const auto packet = decode(concat({raw("/f\0\0,ff\0"), hex("42480000 7fc00001")}));
    ASSERT_NE(packet, nullptr);
    EXPECT_EQ(packet->asMessage()->attachedObjects()[0].floatValue(), 50.0f);
    EXPECT_EQ(packet->asMessage()->attachedObjects()[1].packetizedData(), hex("7fc00001"));
}

TEST(HJOSCDecoderTest, AddressIsNotCheckedAndKeepsInnerNuls) {
    EXPECT_EQ(decode(raw("abc\0,\0\0\0"))->asMessage()->address().address(), "abc");
    // Only a word's last byte ends a field: the NUL at byte 2 does not.
    EXPECT_EQ(decode(raw("/a\0bcde\0,\0\0\0"))->asMessage()->address().address(), std::string("/a\0bcde", 7));
    EXPECT_EQ(decode(raw("\0/ab\0\0\0\0,\0\0\0"))->asMessage()->address().address(), "/ab");
}

TEST(HJOSCDecoderTest, DecodedPacketsOwnTheirBytes) {
    Bytes bytes = bundleOf({kLed, raw("/s\0\0,sb\0hello\0\0\0\0\0\0\x01\x7f\0\0\0")});
    const auto packet = decode(bytes);
    std::fill(bytes.begin(), bytes.end(), 0xee);
    const auto& elements = packet->asBundle()->attachedObjects();
    EXPECT_EQ(elements[0]->asMessage()->address().address(), "/monome/led");
    EXPECT_EQ(elements[1]->asMessage()->attachedObjects()[0].stringValue(), "hello");
    EXPECT_EQ(elements[1]->asMessage()->attachedObjects()[1].dataBlobValue(), hex("7f"));
}

TEST(HJOSCDecoderTest, MessagesOfABundleOutliveIt) {
    std::shared_ptr<HJOSCPacket> kept;
    std::shared_ptr<HJOSCPacket> nestedKept;
    {
        const auto packet = decode(bundleOf({ledMessage(1, 0, 0), raw("/abc"), ledMessage(2, 0, 0),
                                             bundleOf({ledMessage(4, 0, 0), ledMessage(5, 0, 0)}),
                                             ledMessage(3, 0, 0)}));
        ASSERT_NE(packet, nullptr);
        const auto& elements = packet->asBundle()->attachedObjects();
        ASSERT_EQ(elements.size(), 4u);
        kept = elements[1];
        nestedKept = elements[2]->asBundle()->attachedObjects()[1];
    }
    EXPECT_EQ(intsOf(*kept->asMessage()), (std::vector<std::int32_t>{2, 0, 0}));
    EXPECT_EQ(intsOf(*nestedKept->asMessage()), (std::vector<std::int32_t>{5, 0, 0}));
}

TEST(HJOSCDecoderTest, LongArgumentListsDecodeWhole) {
    Bytes message = concat({raw("/many\0\0\0"), raw(",iiiiiisb\0\0\0")});
    for (std::int32_t i = 0; i < 6; ++i) Utilities::appendInt(message, i);
    message = concat({message, raw("text\0\0\0\0"), hex("00 00 00 01 7f 00 00 00")});
    for (const Bytes& datagram : {message, bundleOf({message, message})}) {
        const auto packet = decode(datagram);
        ASSERT_NE(packet, nullptr);
        EXPECT_EQ(packet->packetizedData(), datagram);
    }
}

// --- Failures, by kind -------------------------------------------------------------------

struct FailureCase {
    const char* name;
    Bytes bytes;
    Failure failure;
};

class HJOSCDecoderFailureTest : public ::testing::TestWithParam<FailureCase> {};

TEST_P(HJOSCDecoderFailureTest, GivesNothingAndTellsWhy) {
    Failure failure = Failure::none;
    EXPECT_EQ(HJOSCDecoder::decodeData(GetParam().bytes, failure), nullptr);
    EXPECT_EQ(failure, GetParam().failure);
    EXPECT_EQ(HJOSCDecoder::decodeData(GetParam().bytes), nullptr);
}

std::string caseName(const ::testing::TestParamInfo<FailureCase>& info) { return info.param.name; }

INSTANTIATE_TEST_SUITE_P(
    NoPacket, HJOSCDecoderFailureTest,
    ::testing::Values(
        FailureCase{"EmptyDatagram", {}, Failure::noPacket},
        FailureCase{"AddressShorterThanAWord", raw("/ab"), Failure::noPacket},
        FailureCase{"AddressWithoutTerminatingWord", raw("/abc"), Failure::noPacket},
        FailureCase{"AddressWithNulOnlyInsideAWord", raw("/a\0b"), Failure::noPacket},
        FailureCase{"AddressNotASCII", raw("/\xe9\0\0,\0\0\0"), Failure::noPacket},
        FailureCase{"TypeTagsMissing", truncated(kLed, 12), Failure::noPacket},
        FailureCase{"TypeTagsUnterminated", truncated(kLed, 16), Failure::noPacket},
        FailureCase{"TypeTagsCutShort", truncated(kLed, 14), Failure::noPacket},
        FailureCase{"TypeTagsWithoutComma", concat({raw("/a\0\0iii\0"), hex("00000001 00000002 00000003")}),
                    Failure::noPacket},
        FailureCase{"TypeTagsNotASCII", raw("/a\0\0,\xe9\0\0"), Failure::noPacket}),
    caseName);

INSTANTIATE_TEST_SUITE_P(
    Malformed, HJOSCDecoderFailureTest,
    ::testing::Values(
        FailureCase{"HashAlone", raw("#"), Failure::malformed},
        FailureCase{"BundleWithoutTimeTag", raw("#bundle\0"), Failure::malformed},
        FailureCase{"BundleOfFifteenBytes", truncated(kLedBundle, 15), Failure::malformed},
        FailureCase{"SizeFieldOfTwoBytes", truncated(kLedBundle, 18), Failure::malformed},
        FailureCase{"SizeFieldOfThreeBytes", truncated(kLedBundle, 19), Failure::malformed},
        FailureCase{"SizeFieldCutAfterAnElement", concat({kLedBundle, hex("0000")}), Failure::malformed},
        FailureCase{"ElementCutShort", truncated(kLedBundle, 48), Failure::malformed},
        FailureCase{"ElementSizePastTheEnd", withInt(kLedBundle, 16, 36), Failure::malformed},
        FailureCase{"ElementSizeHuge", withInt(kLedBundle, 16, 0x7fffffff), Failure::malformed},
        FailureCase{"ElementSizeNegative", withInt(kLedBundle, 16, -4), Failure::malformed},
        FailureCase{"ElementSizeMostNegative", withInt(kLedBundle, 16, -2147483647 - 1), Failure::malformed},
        FailureCase{"NestedBundleShorterThanItsHead", bundleOf({kLed, raw("#bundle\0\0\0\0\0")}), Failure::malformed},
        FailureCase{"EmptyTypeTagString", raw("/a\0\0\0\0\0\0"), Failure::malformed},
        FailureCase{"TypeTagD", raw("/a\0\0,d\0\0\0\0\0\0\0\0\0\0"), Failure::malformed},
        FailureCase{"TypeTagH", raw("/a\0\0,h\0\0\0\0\0\0\0\0\0\0"), Failure::malformed},
        FailureCase{"TypeTagT", raw("/a\0\0,T\0\0"), Failure::malformed},
        FailureCase{"TypeTagNul", raw("/a\0\0,\0i\0\0\0\0\0"), Failure::malformed},
        FailureCase{"UnknownTagAfterGoodArguments", concat({raw("/a\0\0,iiN\0\0\0\0"), hex("00000001 00000002")}),
                    Failure::malformed},
        FailureCase{"IntCutShort", truncated(kLed, 30), Failure::malformed},
        FailureCase{"IntMissing", truncated(kLed, 28), Failure::malformed},
        FailureCase{"FloatCutAfterTwoBytes", concat({raw("/f\0\0,f\0\0"), hex("3f00")}), Failure::malformed},
        FailureCase{"StringArgumentUnterminated", raw("/s\0\0,s\0\0abcd"), Failure::malformed},
        FailureCase{"StringArgumentMissing", raw("/s\0\0,s\0\0"), Failure::malformed},
        FailureCase{"StringArgumentNotASCII", raw("/s\0\0,s\0\0a\x80\0\0"), Failure::malformed},
        FailureCase{"BlobStartingBeyondTheEnd", raw("/b\0\0,bb\0"), Failure::malformed},
        FailureCase{"UnknownTagInSecondOfThreeElements",
                    bundleOf({kLed, raw("/a\0\0,d\0\0\0\0\0\0\0\0\0\0"), kLed}), Failure::malformed},
        FailureCase{"MalformedThreeLevelsDown",
                    bundleOf({kLed, bundleOf({kLed, bundleOf({truncated(kLed, 30)}), kLed}), kLed}),
                    Failure::malformed},
        FailureCase{"BadSizeThreeLevelsDown",
                    bundleOf({kLed, bundleOf({bundleOf({kLed, withInt(kLedBundle, 16, 33)})})}),
                    Failure::malformed}),
    caseName);

TEST(HJOSCDecoderTest, EveryShortDatagramBeginningWithHashIsMalformed) {
    for (std::size_t length = 1; length < 16; ++length) {
        Failure failure = Failure::none;
        EXPECT_EQ(HJOSCDecoder::decodeData(truncated(kLedBundle, length), failure), nullptr);
        EXPECT_EQ(failure, Failure::malformed) << length;
    }
}

TEST(HJOSCDecoderTest, SuccessClearsAnEarlierFailure) {
    Failure failure = Failure::malformed;
    EXPECT_NE(HJOSCDecoder::decodeData(kLed, failure), nullptr);
    EXPECT_EQ(failure, Failure::none);
}

// --- Tolerated -----------------------------------------------------------------------------

TEST(HJOSCDecoderTest, NoPacketElementsAreLeftOutAndTheRestKept) {
    const auto packet = decode(bundleOf({ledMessage(1, 0, 0), Bytes{}, ledMessage(2, 0, 0), raw("/a\0\0"),
                                         ledMessage(3, 0, 0), raw("/abc"), raw("/x\0\0iii\0"), raw("#bundle\0\0\0\0\0\0\0\0\0")}));
    ASSERT_NE(packet, nullptr);
    const auto& elements = packet->asBundle()->attachedObjects();
    ASSERT_EQ(elements.size(), 4u);
    EXPECT_EQ(elements[0]->asMessage()->attachedObjects()[0].intValue(), 1);
    EXPECT_EQ(elements[1]->asMessage()->attachedObjects()[0].intValue(), 2);
    EXPECT_EQ(elements[2]->asMessage()->attachedObjects()[0].intValue(), 3);
    EXPECT_FALSE(elements[3]->asBundle()->hasAttachedObjects());  // an empty nested bundle is a packet
}

TEST(HJOSCDecoderTest, SecondOfThreeElementsWithoutTypeTagsOrEmptyIsLeftOut) {
    for (const Bytes& second : {raw("/monome/led\0"), Bytes{}}) {
        const auto packet = decode(bundleOf({ledMessage(1, 0, 0), second, ledMessage(3, 0, 0)}));
        ASSERT_NE(packet, nullptr);
        const auto& elements = packet->asBundle()->attachedObjects();
        ASSERT_EQ(elements.size(), 2u);
        EXPECT_EQ(elements[1]->asMessage()->attachedObjects()[0].intValue(), 3);
    }
}

TEST(HJOSCDecoderTest, NoPacketDeepInsideLeavesOutOnlyThatElement) {
    const auto packet = decode(bundleOf({bundleOf({bundleOf({kLed, raw("/abc")})})}));
    ASSERT_NE(packet, nullptr);
    const HJOSCBundle* deepest = packet->asBundle()->attachedObjects()[0]->asBundle()->attachedObjects()[0]->asBundle();
    ASSERT_EQ(deepest->attachedObjects().size(), 1u);
}

TEST(HJOSCDecoderTest, BlobWithoutACompleteSizeFieldIsEmpty) {
    for (std::size_t extra = 0; extra < 4; ++extra) {
        const auto packet = decode(concat({raw("/b\0\0,b\0\0"), Bytes(extra, 0xff)}));
        ASSERT_NE(packet, nullptr) << extra;
        EXPECT_EQ(packet->asMessage()->attachedObjects()[0].dataBlobValue(), Bytes{}) << extra;
    }
}

TEST(HJOSCDecoderTest, BlobWhoseSizeLiesIsEmptyAndSkipsEightBytes) {
    // Size 100 with 8 bytes after it; size -1 read unsigned is larger still.
    for (const std::int32_t size : {100, 9, -1}) {
        const Bytes bytes =
            concat({raw("/b\0\0,bi\0"), Utilities::dataBlockFromInt(size), hex("aaaaaaaa 00000007")});
        const auto packet = decode(bytes);
        ASSERT_NE(packet, nullptr) << size;
        const auto& arguments = packet->asMessage()->attachedObjects();
        EXPECT_EQ(arguments[0].dataBlobValue(), Bytes{});
        EXPECT_EQ(arguments[1].intValue(), 7) << "read 8 bytes after the blob field began";
    }
}

TEST(HJOSCDecoderTest, BlobAtTheVeryEndIsEmpty) {
    const auto packet = decode(raw("/b\0\0,b\0\0"));
    ASSERT_NE(packet, nullptr);
    EXPECT_EQ(packet->asMessage()->attachedObjects()[0].packetizedData(), Bytes(8, 0));
}

TEST(HJOSCDecoderTest, BytesAfterTheLastArgumentAreIgnored) {
    const auto packet = decode(concat({kLed, raw("xyz")}));
    ASSERT_NE(packet, nullptr);
    EXPECT_EQ(packet->packetizedData(), kLed);
}

TEST(HJOSCDecoderTest, OneStrayByteAfterTheLastElementIsIgnored) {
    const auto packet = decode(concat({kLedBundle, hex("07")}));
    ASSERT_NE(packet, nullptr);
    EXPECT_EQ(packet->packetizedData(), kLedBundle);
    EXPECT_NE(decode(concat({truncated(kLedBundle, 16), hex("07")})), nullptr);
}

TEST(HJOSCDecoderTest, BundleHeadIsNotLookedAtBeyondItsHash) {
    Bytes bytes = kLedBundle;
    std::copy_n("#garbage", 8, bytes.begin());
    const auto packet = decode(bytes);
    ASSERT_NE(packet, nullptr);
    EXPECT_EQ(packet->asBundle()->attachedObjects().size(), 1u);
}

// --- The field readers ------------------------------------------------------------------------

TEST(HJOSCDecoderReaderTest, StringEndsJustAfterItsLastWord) {
    const Bytes bytes = raw("/abcdefg\0\0\0\0,i\0\0");
    std::int32_t end = -7;
    EXPECT_EQ(HJOSCDecoder::stringFromData(bytes, 0, end), "/abcdefg");
    EXPECT_EQ(end, 12);
    EXPECT_EQ(HJOSCDecoder::stringFromData(bytes, 12, end), ",i");
    EXPECT_EQ(end, 16);
    // Words are counted from the start, wherever it is.
    EXPECT_EQ(HJOSCDecoder::stringFromData(bytes, 1, end), "abcdefg");
    EXPECT_EQ(end, 9);
    // The words end at bytes 3 and 7, neither of them NUL, and then the data does.
    end = -7;
    EXPECT_EQ(HJOSCDecoder::stringFromData(raw("/abcdefg\0"), 0, end), std::nullopt);
    EXPECT_EQ(end, -7);
}

TEST(HJOSCDecoderReaderTest, StringFieldsLoseNulsAtBothEndsOnly) {
    const std::vector<std::pair<Bytes, std::string>> cases = {
        {raw("\0\0\0\0"), ""},
        {raw("\0a\0\0"), "a"},
        {raw("\0\0\0a\0\0\0\0"), "a"},
        {raw("a\0\0b\0\0\0\0"), std::string("a\0\0b", 4)},
        {raw("abc\x7f\0\0\0\0"), "abc\x7f"},
    };
    for (const auto& [bytes, text] : cases) {
        std::int32_t end = 0;
        EXPECT_EQ(HJOSCDecoder::stringFromData(bytes, 0, end), text);
        EXPECT_EQ(end, static_cast<std::int32_t>(bytes.size()));
    }
}

TEST(HJOSCDecoderReaderTest, NegativeAndHugeStartsLieBeyondTheEnd) {
    const Bytes bytes = raw("/ab\0,\0\0\0");
    std::int32_t end = 0;
    Failure failure = Failure::none;
    for (const std::int32_t start : {-1, -4, 2147483647, 2147483644}) {
        EXPECT_EQ(HJOSCDecoder::stringFromData(bytes, start, end), std::nullopt);
        failure = Failure::none;
        EXPECT_EQ(HJOSCDecoder::intFromData(bytes, start, end, failure), 0);
        EXPECT_EQ(failure, Failure::malformed);
        failure = Failure::none;
        EXPECT_EQ(HJOSCDecoder::dataBlobFromData(bytes, start, end, failure), std::nullopt);
        EXPECT_EQ(failure, Failure::malformed);
        EXPECT_EQ(HJOSCDecoder::argumentFromData(bytes, start, end, 'b'), std::nullopt);
    }
}

TEST(HJOSCDecoderReaderTest, NumbersNeedFourBytes) {
    const Bytes bytes = hex("3f000000 0102");
    std::int32_t end = 0;
    Failure failure = Failure::none;
    EXPECT_EQ(HJOSCDecoder::floatFromData(bytes, 0, end, failure), 0.5f);
    EXPECT_EQ(end, 4);
    EXPECT_EQ(failure, Failure::none);
    EXPECT_EQ(HJOSCDecoder::intFromData(bytes, 4, end, failure), 0);
    EXPECT_EQ(failure, Failure::malformed);
    EXPECT_EQ(HJOSCDecoder::argumentFromData(bytes, 4, end, 'f'), std::nullopt);
}

TEST(HJOSCDecoderReaderTest, BlobPositionsFollowTheWrittenPadding) {
    const Bytes bytes = hex("00000004 01020304 00000000 00000005 0102030405 000000");
    std::int32_t end = 0;
    Failure failure = Failure::none;
    EXPECT_EQ(HJOSCDecoder::dataBlobFromData(bytes, 0, end, failure), hex("01020304"));
    EXPECT_EQ(end, 12);
    EXPECT_EQ(HJOSCDecoder::dataBlobFromData(bytes, 12, end, failure), hex("0102030405"));
    EXPECT_EQ(end, 24);
    EXPECT_EQ(HJOSCDecoder::dataBlobFromData(bytes, 24, end, failure), std::nullopt);
    EXPECT_EQ(end, 32);
    EXPECT_EQ(failure, Failure::none);
}

TEST(HJOSCDecoderReaderTest, UnknownTypeLeavesTheEndAlone) {
    std::int32_t end = 99;
    EXPECT_EQ(HJOSCDecoder::argumentFromData(hex("00000001"), 0, end, 'd'), std::nullopt);
    EXPECT_EQ(end, 99);
    EXPECT_EQ(HJOSCDecoder::argumentFromData(hex("00000001"), 0, end, 'i'), HJOSCArgument::withInt(1));
    EXPECT_EQ(end, 4);
}

// --- Deep nesting ---------------------------------------------------------------------------

// The largest datagram a listener receives.
constexpr std::size_t kMaxDatagram = 65506;

// `depth` bundles, each the only element of the one around it, around `innermost`.
Bytes nested(std::size_t depth, const Bytes& innermost) {
    Bytes bytes;
    for (std::size_t level = 0; level < depth; ++level) {
        const Bytes head = bundleOf({});
        bytes.insert(bytes.end(), head.begin(), head.end());
        Utilities::appendInt(bytes, static_cast<std::int32_t>((depth - level - 1) * 20 + innermost.size()));
    }
    bytes.insert(bytes.end(), innermost.begin(), innermost.end());
    return bytes;
}

class HJOSCDeepNestingTest : public ::testing::Test {
protected:
    // Each level costs 20 bytes (its head and the size in front of it).
    const Bytes kDeepest = raw("/deepest\0\0\0\0,i\0\0\0\0\0\x2a");
    const std::size_t kDepth = (kMaxDatagram - kDeepest.size()) / 20;

    static std::size_t depthOf(const HJOSCPacket& packet, const HJOSCPacket** innermost) {
        std::size_t depth = 0;
        const HJOSCPacket* current = &packet;
        while (const HJOSCBundle* bundle = current->asBundle()) {
            ++depth;
            if (bundle->attachedObjects().empty()) break;
            current = bundle->attachedObjects().front().get();
        }
        *innermost = current;
        return depth;
    }
};

TEST_F(HJOSCDeepNestingTest, DeepestNestingThatFitsDecodesEncodesPrintsAndDies) {
    const Bytes bytes = nested(kDepth, kDeepest);
    ASSERT_LE(bytes.size(), kMaxDatagram);
    ASSERT_GT(bytes.size() + 20, kMaxDatagram);  // one level more would not fit
    auto packet = decode(bytes);
    ASSERT_NE(packet, nullptr);
    const HJOSCPacket* innermost = nullptr;
    EXPECT_EQ(depthOf(*packet, &innermost), kDepth);
    ASSERT_NE(innermost->asMessage(), nullptr);
    EXPECT_EQ(innermost->asMessage()->attachedObjects()[0].intValue(), 42);
    EXPECT_EQ(packet->packetizedData(), bytes);
    const std::string text = packet->stringRepresentation();
    EXPECT_EQ(text.rfind("address:/deepest"), text.find("address:/deepest"));
    packet.reset();
}

TEST_F(HJOSCDeepNestingTest, DeepestEmptyBundleDecodes) {
    // Without a message inside, one level more fits.
    const std::size_t depth = (kMaxDatagram - 16) / 20 + 1;
    const Bytes bytes = nested(depth - 1, truncated(kLedBundle, 16));
    ASSERT_LE(bytes.size(), kMaxDatagram);
    const auto packet = decode(bytes);
    ASSERT_NE(packet, nullptr);
    const HJOSCPacket* innermost = nullptr;
    EXPECT_EQ(depthOf(*packet, &innermost), depth);
    // The empty innermost bundle is written as an element of size 0.
    EXPECT_EQ(packet->packetizedData()->size(), bytes.size() - 16);
}

TEST_F(HJOSCDeepNestingTest, FaultAtTheBottomAbandonsTheWholeDatagram) {
    Failure failure = Failure::none;
    EXPECT_EQ(HJOSCDecoder::decodeData(nested(kDepth, truncated(kLed, 30)), failure), nullptr);
    EXPECT_EQ(failure, Failure::malformed);
}

TEST_F(HJOSCDeepNestingTest, BundlesNestedFarDeeperThanADatagramAllowsNeedNoStack) {
    // Built, encoded, printed and destroyed without recursion.
    constexpr std::size_t kLevels = 100000;
    auto outermost = std::make_shared<HJOSCBundle>(Date{0.5});
    HJOSCBundle* current = outermost.get();
    for (std::size_t level = 1; level < kLevels; ++level) {
        auto inner = std::make_shared<HJOSCBundle>(Date{0.5});
        HJOSCBundle* next = inner.get();
        current->attachObject(std::move(inner));
        current = next;
    }
    current->attachObject(decode(kLed));
    const auto encoded = outermost->packetizedData();
    ASSERT_TRUE(encoded.has_value());
    EXPECT_EQ(encoded->size(), kLevels * 20 + kLed.size());
    EXPECT_GT(outermost->stringRepresentation().size(), kLevels * 40);
    const auto back = HJOSCDecoder::decodeData(*encoded);
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(back->packetizedData(), encoded);
    outermost.reset();
}

// --- Robustness ----------------------------------------------------------------------------

// A datagram with every kind of field, as a base for corruption.
Bytes everyField() {
    return bundleOf({kLed, raw("/s\0\0,sfb\0\0\0\0abc\0\x3f\0\0\0\0\0\0\x05\x01\x02\x03\x04\x05\0\0\0"),
                     bundleOf({raw("/x\0\0,\0\0\0"), bundleOf({kLed})}), Bytes{}});
}

// Whatever a corrupted datagram decodes to can be printed, encoded and
// decoded again (the sanitizers watch every read).
void expectSafeToUse(const Bytes& bytes) {
    const auto packet = decode(bytes);
    if (!packet) return;
    EXPECT_FALSE(packet->stringRepresentation().empty());
    if (const auto encoded = packet->packetizedData()) decode(*encoded);
}

TEST(HJOSCDecoderRobustnessTest, EveryTruncationIsSafe) {
    const Bytes bytes = everyField();
    for (std::size_t length = 0; length <= bytes.size(); ++length) expectSafeToUse(truncated(bytes, length));
}

TEST(HJOSCDecoderRobustnessTest, EveryByteReplacedIsSafe) {
    const Bytes bytes = everyField();
    for (std::size_t at = 0; at < bytes.size(); ++at) {
        for (const std::uint8_t value : {0x00, 0x01, 0x04, 0x10, 0x23, 0x2c, 0x62, 0x73, 0x7f, 0x80, 0xff}) {
            Bytes corrupted = bytes;
            corrupted[at] = value;
            expectSafeToUse(corrupted);
        }
    }
}

}  // namespace
}  // namespace velto

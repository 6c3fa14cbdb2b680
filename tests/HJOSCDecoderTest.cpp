// Reading datagrams: what decodes, what is tolerated, and which of the two
// failures ("no packet" and "malformed") each broken datagram gives. Broken
// datagrams are made by corrupting good ones.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "common/osc/HJOSCBundle.h"
#include "common/osc/HJOSCDataUtilities.h"
#include "common/osc/HJOSCDecoder.h"
#include "common/osc/HJOSCMessage.h"
#include "support/ByteHelpers.h"

namespace velto {
namespace {

using Failure = HJOSCDecoder::Failure;
using Utilities = HJOSCDataUtilities;
using Ints = std::vector<std::int32_t>;

using test::concat;
using test::hex;

// The bytes of `text`, NULs included: raw("/a\0\0") is 4 bytes.
template <std::size_t N>
Bytes raw(const char (&text)[N]) {
    return Bytes(text, text + N - 1);
}

Bytes truncated(Bytes bytes, std::size_t length) { return bytes.resize(length), bytes; }

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

Bytes led(int x, int y, int state) {
    return concat({raw("/monome/led\0,iii\0\0\0\0"), Utilities::dataBlockFromInt(x),
                   Utilities::dataBlockFromInt(y), Utilities::dataBlockFromInt(state)});
}

const Bytes kLed = led(3, 5, 1);            // 32 bytes
const Bytes kLedBundle = bundleOf({kLed});  // 52 bytes; the element size is at 16

std::shared_ptr<HJOSCPacket> decode(const Bytes& bytes) { return HJOSCDecoder::decodeData(bytes); }

Ints intsOf(const HJOSCPacket& packet) {
    Ints values;
    for (const auto& argument : packet.asMessage()->attachedObjects())
        values.push_back(argument.intValue());
    return values;
}

// --- What decodes ----------------------------------------------------------------------

TEST(HJOSCDecoderTest, WellFormedDatagramsDecodeAndEncodeBackByteForByte) {
    Bytes many = raw("/many\0\0\0,iiiiiisb\0\0\0");
    for (std::int32_t i = 0; i < 6; ++i) Utilities::appendInt(many, i);
    many = concat({many, raw("text\0\0\0\0"), hex("00 00 00 01 7f 00 00 00")});
    for (const Bytes& bytes :
         {kLed, kLedBundle, many, bundleOf({many, many}), raw("/stagevue/ping\0\0,\0\0\0"),
          bundleOf({led(0, 1, 1), bundleOf({led(2, 3, 0), led(4, 5, 1)})}),
          concat({raw("/f\0\0,ff\0"), hex("42480000 7fc00001")}),  // a NaN keeps its bit pattern
          // "abcd" takes 4 NULs, "xyz" one; blobs of 4 and 5 bytes take 12 each.
          concat({raw("/s\0\0,sisbbi\0abcd\0\0\0\0"), hex("00000007"), raw("xyz\0"),
                  hex("00000004 01020304 00000000 00000005 0102030405 000000 00000009")})}) {
        const auto packet = decode(bytes);
        ASSERT_NE(packet, nullptr) << bytes.size();
        EXPECT_EQ(packet->packetizedData(), bytes);
    }
}

TEST(HJOSCDecoderTest, DecodesToTheTreeInOrderWithItsTimeTags) {
    const auto packet = decode(bundleOf({led(0, 1, 1), bundleOf({led(2, 3, 0), led(4, 5, 1)})}));
    const HJOSCBundle* outer = packet->asBundle();
    ASSERT_NE(outer, nullptr);
    EXPECT_EQ(outer->timeStamp(), Date{0.5});
    ASSERT_EQ(outer->attachedObjects().size(), 2u);
    EXPECT_EQ(outer->attachedObjects()[0]->asMessage()->address().address(), "/monome/led");
    EXPECT_EQ(outer->attachedObjects()[0]->asMessage()->typeTagString(), ",iii");
    EXPECT_EQ(intsOf(*outer->attachedObjects()[0]), (Ints{0, 1, 1}));
    const auto& inner = outer->attachedObjects()[1]->asBundle()->attachedObjects();
    ASSERT_EQ(inner.size(), 2u);
    EXPECT_EQ(intsOf(*inner[0]), (Ints{2, 3, 0}));
    EXPECT_EQ(intsOf(*inner[1]), (Ints{4, 5, 1}));

    EXPECT_FALSE(decode(truncated(kLedBundle, 16))->asBundle()->hasAttachedObjects());
    Bytes immediate = kLedBundle;
    const auto stamp = Utilities::ntpTimestampForImmediate();
    std::copy(stamp.begin(), stamp.end(), immediate.begin() + 8);  // libc++ 14 has no ranges::copy
    EXPECT_EQ(decode(immediate)->asBundle()->timeStamp(), Date::distantPast());
}

TEST(HJOSCDecoderTest, AddressIsNotCheckedAndKeepsInnerNuls) {
    EXPECT_EQ(decode(raw("abc\0,\0\0\0"))->asMessage()->address().address(), "abc");
    // Only a word's last byte ends a field: the NUL at byte 2 does not.
    EXPECT_EQ(decode(raw("/a\0bcde\0,\0\0\0"))->asMessage()->address().address(),
              std::string("/a\0bcde", 7));
    EXPECT_EQ(decode(raw("\0/ab\0\0\0\0,\0\0\0"))->asMessage()->address().address(), "/ab");
}

TEST(HJOSCDecoderTest, DecodedPacketsOwnTheirBytesAndOutliveTheirBundle) {
    Bytes bytes = bundleOf(
        {kLed, raw("/s\0\0,sb\0hello\0\0\0\0\0\0\x01\x7f\0\0\0"), bundleOf({led(4, 0, 0)})});
    std::optional<HJOSCBundle::Element> text;
    std::optional<HJOSCBundle::Element> nested;
    {
        const auto packet = decode(bytes);
        ASSERT_NE(packet, nullptr);
        std::fill(bytes.begin(), bytes.end(), 0xee);
        text = packet->asBundle()->attachedObjects()[1];
        nested = packet->asBundle()->attachedObjects()[2]->asBundle()->attachedObjects()[0];
    }
    EXPECT_EQ(text->asMessage()->attachedObjects()[0].stringValue(), "hello");
    EXPECT_EQ(text->asMessage()->attachedObjects()[1].dataBlobValue(), hex("7f"));
    EXPECT_EQ(intsOf(**nested), (Ints{4, 0, 0}));
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
}

std::string caseName(const ::testing::TestParamInfo<FailureCase>& info) { return info.param.name; }

constexpr Failure kNone = Failure::noPacket;
constexpr Failure kBad = Failure::malformed;

INSTANTIATE_TEST_SUITE_P(
    NoPacket, HJOSCDecoderFailureTest,
    ::testing::Values(FailureCase{"EmptyDatagram", {}, kNone},
                      FailureCase{"AddressShorterThanAWord", raw("/ab"), kNone},
                      FailureCase{"AddressWithNulOnlyInsideAWord", raw("/a\0b"), kNone},
                      FailureCase{"AddressNotASCII", raw("/\xe9\0\0,\0\0\0"), kNone},
                      FailureCase{"TypeTagsMissing", truncated(kLed, 12), kNone},
                      FailureCase{"TypeTagsCutShort", truncated(kLed, 14), kNone},
                      FailureCase{"TypeTagsUnterminated", truncated(kLed, 16), kNone},
                      FailureCase{"TypeTagsWithoutComma", raw("/a\0\0iii\0\0\0\0\x01"), kNone},
                      FailureCase{"TypeTagsNotASCII", raw("/a\0\0,\xe9\0\0"), kNone}),
    caseName);

INSTANTIATE_TEST_SUITE_P(
    Malformed, HJOSCDecoderFailureTest,
    ::testing::Values(
        FailureCase{"BundleWithoutTimeTag", raw("#bundle\0"), kBad},
        FailureCase{"SizeFieldOfTwoBytes", truncated(kLedBundle, 18), kBad},
        FailureCase{"SizeFieldCutAfterAnElement", concat({kLedBundle, hex("0000")}), kBad},
        FailureCase{"ElementCutShort", truncated(kLedBundle, 48), kBad},
        FailureCase{"ElementSizePastTheEnd", withInt(kLedBundle, 16, 36), kBad},
        FailureCase{"ElementSizeHuge", withInt(kLedBundle, 16, 0x7fffffff), kBad},
        FailureCase{"ElementSizeNegative", withInt(kLedBundle, 16, -4), kBad},
        FailureCase{"ElementSizeMostNegative", withInt(kLedBundle, 16, -2147483647 - 1), kBad},
        FailureCase{"NestedBundleShorterThanItsHead", bundleOf({kLed, raw("#bundle\0\0\0\0\0")}),
                    kBad},
        FailureCase{"EmptyTypeTagString", raw("/a\0\0\0\0\0\0"), kBad},
        FailureCase{"TypeTagD", raw("/a\0\0,d\0\0\0\0\0\0\0\0\0\0"), kBad},
        FailureCase{"TypeTagT", raw("/a\0\0,T\0\0"), kBad},
        FailureCase{"TypeTagNul", raw("/a\0\0,\0i\0\0\0\0\0"), kBad},
        FailureCase{"UnknownTagAfterGoodArguments",
                    concat({raw("/a\0\0,iiN\0\0\0\0"), hex("00000001 00000002")}), kBad},
        FailureCase{"IntCutShort", truncated(kLed, 30), kBad},
        FailureCase{"FloatCutAfterTwoBytes", concat({raw("/f\0\0,f\0\0"), hex("3f00")}), kBad},
        FailureCase{"StringArgumentUnterminated", raw("/s\0\0,s\0\0abcd"), kBad},
        FailureCase{"StringArgumentNotASCII", raw("/s\0\0,s\0\0a\x80\0\0"), kBad},
        FailureCase{"BlobStartingBeyondTheEnd", raw("/b\0\0,bb\0"), kBad},
        FailureCase{"MalformedSecondOfThree",
                    bundleOf({kLed, raw("/a\0\0,d\0\0\0\0\0\0\0\0\0\0"), kLed}), kBad},
        FailureCase{"MalformedThreeLevelsDown",
                    bundleOf({kLed, bundleOf({bundleOf({truncated(kLed, 30)}), kLed})}), kBad},
        FailureCase{"BadSizeThreeLevelsDown",
                    bundleOf({bundleOf({bundleOf({kLed, withInt(kLedBundle, 16, 33)})})}), kBad}),
    caseName);

TEST(HJOSCDecoderTest, EveryShortDatagramBeginningWithHashIsMalformedAndSuccessClearsIt) {
    Failure failure = Failure::none;
    for (std::size_t length = 1; length < 16; ++length) {
        EXPECT_EQ(HJOSCDecoder::decodeData(truncated(kLedBundle, length), failure), nullptr);
        EXPECT_EQ(failure, Failure::malformed) << length;
    }
    EXPECT_NE(HJOSCDecoder::decodeData(kLed, failure), nullptr);
    EXPECT_EQ(failure, Failure::none);
}

// --- Tolerated -----------------------------------------------------------------------------

TEST(HJOSCDecoderTest, NoPacketElementsAreLeftOutAndTheRestKeptAtAnyDepth) {
    const auto packet = decode(
        bundleOf({led(1, 0, 0), Bytes{}, led(2, 0, 0), raw("/monome/led\0"), led(3, 0, 0),
                  raw("/abc"), raw("/x\0\0iii\0"), bundleOf({bundleOf({kLed, raw("/abc")})})}));
    ASSERT_NE(packet, nullptr);
    const auto& elements = packet->asBundle()->attachedObjects();
    ASSERT_EQ(elements.size(), 4u);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(intsOf(*elements[i])[0], i + 1);
    const auto& deepest =
        elements[3]->asBundle()->attachedObjects()[0]->asBundle()->attachedObjects();
    ASSERT_EQ(deepest.size(), 1u);
    EXPECT_EQ(intsOf(*deepest[0]), (Ints{3, 5, 1}));
}

TEST(HJOSCDecoderTest, BlobsWithoutASizeOrWhoseSizeLiesAreEmpty) {
    for (std::size_t extra = 0; extra < 4; ++extra) {  // no complete size field
        const auto packet = decode(concat({raw("/b\0\0,b\0\0"), Bytes(extra, 0xff)}));
        ASSERT_NE(packet, nullptr) << extra;
        EXPECT_EQ(packet->asMessage()->attachedObjects()[0].dataBlobValue(), Bytes{}) << extra;
    }
    // Size 100 or 9 with 8 bytes after it; -1 read unsigned is larger still. Either way 8 bytes are
    // skipped.
    for (const std::int32_t size : {100, 9, -1}) {
        const auto packet = decode(concat(
            {raw("/b\0\0,bi\0"), Utilities::dataBlockFromInt(size), hex("aaaaaaaa 00000007")}));
        ASSERT_NE(packet, nullptr) << size;
        EXPECT_EQ(packet->asMessage()->attachedObjects()[0].dataBlobValue(), Bytes{}) << size;
        EXPECT_EQ(packet->asMessage()->attachedObjects()[1].intValue(), 7) << size;
    }
}

TEST(HJOSCDecoderTest, TrailingBytesAndTheBundleHeadAfterItsHashAreIgnored) {
    Bytes garbageHead = kLedBundle;
    std::copy_n("#garbage", 8, garbageHead.begin());
    for (const auto& [bytes, expected] : std::vector<std::pair<Bytes, std::optional<Bytes>>>{
             {concat({kLed, raw("xyz")}), kLed},
             {concat({kLedBundle, hex("07")}), kLedBundle},  // one stray byte where a size would be
             {concat({truncated(kLedBundle, 16), hex("07")}),
              std::nullopt},  // empty: nothing to write
             {garbageHead, kLedBundle}}) {
        const auto packet = decode(bytes);
        ASSERT_NE(packet, nullptr);
        EXPECT_EQ(packet->packetizedData(), expected);
    }
}

// --- The field readers ------------------------------------------------------------------------

TEST(HJOSCDecoderReaderTest, NegativeAndHugeStartsLieBeyondTheEnd) {
    const Bytes bytes = raw("/ab\0,\0\0\0");
    std::int32_t end = 0;
    for (const std::int32_t start : {-1, -4, 2147483647, 2147483644}) {
        Failure failure = Failure::none;
        EXPECT_EQ(HJOSCDecoder::stringFromData(bytes, start, end), std::nullopt);
        EXPECT_EQ(HJOSCDecoder::intFromData(bytes, start, end, failure), 0);
        EXPECT_EQ(failure, Failure::malformed);
        failure = Failure::none;
        EXPECT_EQ(HJOSCDecoder::dataBlobFromData(bytes, start, end, failure), std::nullopt);
        EXPECT_EQ(failure, Failure::malformed);
        EXPECT_EQ(HJOSCDecoder::argumentFromData(bytes, start, end, 'b'), std::nullopt);
    }
}

// --- Deep nesting ---------------------------------------------------------------------------

// `depth` bundles, each the only element of the one around it; each level costs 20 bytes.
Bytes nested(std::size_t depth, const Bytes& innermost) {
    Bytes bytes;
    for (std::size_t level = 0; level < depth; ++level) {
        bytes = concat({bytes, truncated(kLedBundle, 16)});
        Utilities::appendInt(
            bytes, static_cast<std::int32_t>((depth - level - 1) * 20 + innermost.size()));
    }
    return concat({bytes, innermost});
}

constexpr std::size_t kMaxDatagram = 65506;  // the largest datagram a listener receives
const Bytes kDeepest = raw("/deepest\0\0\0\0,i\0\0\0\0\0\x2a");
const std::size_t kDepth = (kMaxDatagram - kDeepest.size()) / 20;

TEST(HJOSCDeepNestingTest, DeepestNestingThatFitsDecodesEncodesPrintsAndDies) {
    const Bytes bytes = nested(kDepth, kDeepest);
    ASSERT_LE(bytes.size(), kMaxDatagram);
    ASSERT_GT(bytes.size() + 20, kMaxDatagram);  // one level more would not fit
    auto packet = decode(bytes);
    ASSERT_NE(packet, nullptr);
    EXPECT_EQ(packet->packetizedData(), bytes);
    const std::string text = packet->stringRepresentation();
    std::size_t depth = 0;
    for (auto at = text.find("BUNDLE:"); at != std::string::npos; at = text.find("BUNDLE:", at + 1))
        ++depth;
    EXPECT_EQ(depth, kDepth);
    EXPECT_EQ(text.rfind("address:/deepest"), text.find("address:/deepest"));
    ASSERT_EQ(HJOSCBundle::messagesOf(*packet).size(), 1u);
    EXPECT_EQ(intsOf(HJOSCBundle::messagesOf(*packet)[0]), (Ints{42}));
    packet.reset();
    Failure failure = Failure::none;  // and a fault at the bottom abandons it all
    EXPECT_EQ(HJOSCDecoder::decodeData(nested(kDepth, truncated(kLed, 30)), failure), nullptr);
    EXPECT_EQ(failure, Failure::malformed);
}

TEST(HJOSCDeepNestingTest, BundlesNestedFarDeeperThanADatagramAllowsNeedNoStack) {
    constexpr std::size_t kLevels = 100000;
    auto outermost = std::make_shared<HJOSCBundle>(Date{0.5});
    outermost->attachObject(*decode(kLed)->asMessage());
    for (std::size_t level = 1; level < kLevels; ++level) {
        HJOSCBundle outer(Date{0.5});
        outer.attachObject(std::move(*outermost));
        *outermost = std::move(outer);
    }
    const auto encoded = outermost->packetizedData();
    ASSERT_TRUE(encoded.has_value());
    EXPECT_EQ(encoded->size(), kLevels * 20 + kLed.size());
    EXPECT_GT(outermost->stringRepresentation().size(), kLevels * 40);
    const auto back = decode(*encoded);
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(back->packetizedData(), encoded);
    outermost.reset();
}

// --- Robustness: whatever a corrupted datagram decodes to can be printed and
// encoded, and decodes again (the sanitizers watch every read) ----------------------------

void expectSafeToUse(const Bytes& bytes) {
    const auto packet = decode(bytes);
    if (!packet) return;
    EXPECT_FALSE(packet->stringRepresentation().empty());
    if (const auto encoded = packet->packetizedData()) decode(*encoded);
}

TEST(HJOSCDecoderRobustnessTest, EveryTruncationAndEveryByteReplacedIsSafe) {
    const Bytes bytes = bundleOf(
        {kLed, raw("/s\0\0,sfb\0\0\0\0abc\0\x3f\0\0\0\0\0\0\x05\x01\x02\x03\x04\x05\0\0\0"),
         bundleOf({raw("/x\0\0,\0\0\0"), bundleOf({kLed})}), Bytes{}});
    for (std::size_t length = 0; length <= bytes.size(); ++length)
        expectSafeToUse(truncated(bytes, length));
    for (std::size_t at = 0; at < bytes.size(); ++at) {
        for (const std::uint8_t value :
             {0x00, 0x01, 0x04, 0x10, 0x23, 0x2c, 0x62, 0x73, 0x7f, 0x80, 0xff}) {
            Bytes corrupted = bytes;
            corrupted[at] = value;
            expectSafeToUse(corrupted);
        }
    }
}

}  // namespace
}  // namespace velto

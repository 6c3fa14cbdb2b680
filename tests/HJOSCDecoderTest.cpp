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
    Bytes out = concat({raw("#bundle\0"), hex("bdfa4700 80000000")});
    for (const auto& element : elements) {
        Utilities::appendInt(out, static_cast<std::int32_t>(element.size()));
        out.insert(out.end(), element.begin(), element.end());
    }
    return out;
}

Bytes led(std::uint8_t x, std::uint8_t y, std::uint8_t state) {
    return concat(
        {raw("/monome/led\0,iii\0\0\0\0"), Bytes{0, 0, 0, x, 0, 0, 0, y, 0, 0, 0, state}});
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

TEST(HJOSCDecoderTest, WellFormedDatagramsDecodeAndEncodeBackByteForByte) {
    const Bytes many = concat({raw("/many\0\0\0,iisb\0\0\0"), hex("00000001 00000002"),
                               raw("text\0\0\0\0"), hex("00000001 7f000000")});
    for (const Bytes& bytes :
         {kLed, kLedBundle, many, bundleOf({many, many}), raw("/stagevue/ping\0\0,\0\0\0"),
          concat({raw("/f\0\0,ff\0"), hex("42480000 7fc00001")}),  // a NaN keeps its bit pattern
          // "abcd" takes 4 NULs, "xyz" one; blobs of 4 and 5 bytes take 12 each.
          concat({raw("/s\0\0,sisbbi\0abcd\0\0\0\0"), hex("00000007"), raw("xyz\0"),
                  hex("00000004 01020304 00000000 00000005 0102030405 000000 00000009")})}) {
        const auto packet = decode(bytes);
        ASSERT_NE(packet, nullptr) << bytes.size();
        EXPECT_EQ(packet->packetizedData(), bytes);
    }
    const auto text = decode(raw("/s\0\0,sb\0hello\0\0\0\0\0\0\x01\x7f\0\0\0"))->asMessage();
    EXPECT_EQ(text->attachedObjects()[0].stringValue(), "hello");
    EXPECT_EQ(text->attachedObjects()[1].dataBlobValue(), hex("7f"));
}

TEST(HJOSCDecoderTest, DecodesToTheTreeInOrderWithItsTimeTags) {
    Bytes bytes = bundleOf({led(0, 1, 1), bundleOf({led(2, 3, 0), led(4, 5, 1)})});
    const auto packet = decode(bytes);
    std::fill(bytes.begin(), bytes.end(), 0xee);  // the packet owns its bytes
    const HJOSCBundle* outer = packet->asBundle();
    ASSERT_NE(outer, nullptr);
    EXPECT_EQ(outer->timeStamp(), Date{0.5});
    ASSERT_EQ(outer->attachedObjects().size(), 2u);
    EXPECT_EQ(outer->attachedObjects()[0]->asMessage()->address().address(), "/monome/led");
    EXPECT_EQ(intsOf(*outer->attachedObjects()[0]), (Ints{0, 1, 1}));
    const auto& inner = outer->attachedObjects()[1]->asBundle()->attachedObjects();
    ASSERT_EQ(inner.size(), 2u);
    EXPECT_EQ(intsOf(*inner[0]), (Ints{2, 3, 0}));
    EXPECT_EQ(intsOf(*inner[1]), (Ints{4, 5, 1}));

    EXPECT_FALSE(decode(truncated(kLedBundle, 16))->asBundle()->hasAttachedObjects());
    const Bytes immediate = concat({raw("#bundle\0"), hex("00000000 00000001")});
    EXPECT_EQ(decode(immediate)->asBundle()->timeStamp(), Date::distantPast());
    // The address is not checked, and only a word's last byte ends a field.
    EXPECT_EQ(decode(raw("abc\0,\0\0\0"))->asMessage()->address().address(), "abc");
    EXPECT_EQ(decode(raw("/a\0bcde\0,\0\0\0"))->asMessage()->address().address(),
              std::string("/a\0bcde", 7));
    EXPECT_EQ(decode(raw("\0/ab\0\0\0\0,\0\0\0"))->asMessage()->address().address(), "/ab");
}

TEST(HJOSCDecoderTest, BrokenDatagramsGiveNothingAndTellWhy) {
    constexpr Failure kNone = Failure::noPacket, kBad = Failure::malformed;
    const struct {
        const char* name;
        Bytes bytes;
        Failure failure;
    } cases[] = {
        {"empty", {}, kNone},
        {"address shorter than a word", raw("/ab"), kNone},
        {"address with a NUL only inside a word", raw("/a\0b"), kNone},
        {"address not ASCII", raw("/\xe9\0\0,\0\0\0"), kNone},
        {"type tags missing", truncated(kLed, 12), kNone},
        {"type tags cut short", truncated(kLed, 14), kNone},
        {"type tags unterminated", truncated(kLed, 16), kNone},
        {"type tags without comma", raw("/a\0\0iii\0\0\0\0\x01"), kNone},
        {"type tags not ASCII", raw("/a\0\0,\xe9\0\0"), kNone},
        {"bundle without time tag", raw("#bundle\0"), kBad},
        {"size field of two bytes", truncated(kLedBundle, 18), kBad},
        {"size field cut after an element", concat({kLedBundle, hex("0000")}), kBad},
        {"element cut short", truncated(kLedBundle, 48), kBad},
        {"element size past the end", withInt(kLedBundle, 16, 36), kBad},
        {"element size huge", withInt(kLedBundle, 16, 0x7fffffff), kBad},
        {"element size negative", withInt(kLedBundle, 16, -4), kBad},
        {"element size most negative", withInt(kLedBundle, 16, -2147483647 - 1), kBad},
        {"nested bundle shorter than its head", bundleOf({kLed, raw("#bundle\0\0\0\0\0")}), kBad},
        {"empty type tag string", raw("/a\0\0\0\0\0\0"), kBad},
        {"type tag d", raw("/a\0\0,d\0\0\0\0\0\0\0\0\0\0"), kBad},
        {"type tag T", raw("/a\0\0,T\0\0"), kBad},
        {"type tag NUL", raw("/a\0\0,\0i\0\0\0\0\0"), kBad},
        {"unknown tag after good ones",
         concat({raw("/a\0\0,iiN\0\0\0\0"), hex("00000001 00000002")}), kBad},
        {"int cut short", truncated(kLed, 30), kBad},
        {"float cut after two bytes", concat({raw("/f\0\0,f\0\0"), hex("3f00")}), kBad},
        {"string argument unterminated", raw("/s\0\0,s\0\0abcd"), kBad},
        {"string argument not ASCII", raw("/s\0\0,s\0\0a\x80\0\0"), kBad},
        {"blob starting beyond the end", raw("/b\0\0,bb\0"), kBad},
        {"malformed second of three", bundleOf({kLed, raw("/a\0\0,d\0\0"), kLed}), kBad},
        {"malformed three levels down",
         bundleOf({kLed, bundleOf({bundleOf({truncated(kLed, 30)}), kLed})}), kBad},
        {"bad size three levels down",
         bundleOf({bundleOf({bundleOf({kLed, withInt(kLedBundle, 16, 33)})})}), kBad},
    };
    for (const auto& c : cases) {
        Failure failure = Failure::none;
        EXPECT_EQ(HJOSCDecoder::decodeData(c.bytes, failure), nullptr) << c.name;
        EXPECT_EQ(failure, c.failure) << c.name;
    }
    Failure failure = Failure::none;
    for (std::size_t length = 1; length < 16; ++length) {  // a '#' and less than a bundle head
        EXPECT_EQ(HJOSCDecoder::decodeData(truncated(kLedBundle, length), failure), nullptr);
        EXPECT_EQ(failure, Failure::malformed) << length;
    }
    EXPECT_NE(HJOSCDecoder::decodeData(kLed, failure), nullptr);
    EXPECT_EQ(failure, Failure::none);
}

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
    // Size 100 or 9 with 8 bytes after it; -1 read unsigned is larger still: 8 bytes skipped.
    for (const char* size : {"00000064", "00000009", "ffffffff"}) {
        const auto packet =
            decode(concat({raw("/b\0\0,bi\0"), hex(size), hex("aaaaaaaa 00000007")}));
        ASSERT_NE(packet, nullptr) << size;
        EXPECT_EQ(packet->asMessage()->attachedObjects()[0].dataBlobValue(), Bytes{}) << size;
        EXPECT_EQ(packet->asMessage()->attachedObjects()[1].intValue(), 7) << size;
    }
}

TEST(HJOSCDecoderTest, TrailingBytesAndTheBundleHeadAfterItsHashAreIgnored) {
    Bytes garbageHead = kLedBundle;
    std::copy_n("#garbage", 8, garbageHead.begin());
    EXPECT_EQ(decode(concat({kLed, raw("xyz")}))->packetizedData(), kLed);
    EXPECT_EQ(decode(concat({kLedBundle, hex("07")}))->packetizedData(), kLedBundle);
    EXPECT_EQ(decode(concat({truncated(kLedBundle, 16), hex("07")}))->packetizedData(),
              std::nullopt);  // empty: nothing to write
    EXPECT_EQ(decode(garbageHead)->packetizedData(), kLedBundle);
}

TEST(HJOSCDecoderTest, NegativeAndHugeStartsLieBeyondTheEnd) {
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

// Far deeper than a datagram allows: encoding, decoding, printing and freeing need no stack.
TEST(HJOSCDecoderTest, BundlesNestedAHundredThousandDeepNeedNoStack) {
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
    EXPECT_EQ(encoded->size(), kLevels * 20 + 32);
    EXPECT_GT(outermost->stringRepresentation().size(), kLevels * 40);
    outermost.reset();
    const auto back = decode(*encoded);
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(back->packetizedData(), encoded);
    ASSERT_EQ(HJOSCBundle::messagesOf(*back).size(), 1u);
    EXPECT_EQ(intsOf(HJOSCBundle::messagesOf(*back)[0]), (Ints{3, 5, 1}));
    Failure failure = Failure::none;  // a fault at the bottom abandons it all
    EXPECT_EQ(HJOSCDecoder::decodeData(truncated(*encoded, encoded->size() - 2), failure), nullptr);
    EXPECT_EQ(failure, Failure::malformed);
}

// Whatever a corrupted datagram decodes to can be printed and encoded, and decodes again
// (the sanitizers watch every read).
TEST(HJOSCDecoderTest, EveryTruncationAndEveryByteReplacedIsSafe) {
    const Bytes bytes = bundleOf(
        {kLed, raw("/s\0\0,sfb\0\0\0\0abc\0\x3f\0\0\0\0\0\0\x05\x01\x02\x03\x04\x05\0\0\0"),
         bundleOf({raw("/x\0\0,\0\0\0"), bundleOf({kLed})}), Bytes{}});
    const auto expectSafe = [](const Bytes& corrupted) {
        const auto packet = decode(corrupted);
        if (!packet) return;
        EXPECT_FALSE(packet->stringRepresentation().empty());
        if (const auto encoded = packet->packetizedData()) decode(*encoded);
    };
    for (std::size_t length = 0; length <= bytes.size(); ++length)
        expectSafe(truncated(bytes, length));
    for (std::size_t at = 0; at < bytes.size(); ++at) {
        for (const std::uint8_t value :
             {0x00, 0x01, 0x04, 0x10, 0x23, 0x2c, 0x62, 0x7f, 0x80, 0xff}) {
            Bytes corrupted = bytes;
            corrupted[at] = value;
            expectSafe(corrupted);
        }
    }
}

}  // namespace
}  // namespace velto

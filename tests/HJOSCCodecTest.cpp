// Exact bytes of what Velto writes, and reading datagrams: what decodes, what is tolerated,
// and which of the two failures ("no packet", "malformed") each broken datagram gives.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "common/osc/HJOSCBundle.h"
#include "common/osc/HJOSCDataUtilities.h"
#include "common/osc/HJOSCDecoder.h"
#include "common/osc/HJOSCMessage.h"

namespace velto {
namespace {

using Failure = HJOSCDecoder::Failure;
using Utilities = HJOSCDataUtilities;

// "2f6d 00" -> {0x2f, 0x6d, 0x00}; spaces are ignored.
Bytes hex(std::string digits) {
    std::erase(digits, ' ');
    Bytes out;
    for (std::size_t i = 0; i < digits.size(); i += 2)
        out.push_back(static_cast<std::uint8_t>(std::stoi(digits.substr(i, 2), nullptr, 16)));
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

Bytes truncated(Bytes bytes, std::size_t length) { return bytes.resize(length), bytes; }

Bytes withSizeAt16(Bytes bytes, std::int32_t value) {
    Utilities::storeUInt(bytes.data() + 16, static_cast<std::uint32_t>(value));
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

HJOSCMessage ledMessage() {
    HJOSCMessage message("/monome/led");
    message.attachArguments(
        {HJOSCArgument::withInt(3), HJOSCArgument::withInt(5), HJOSCArgument::withInt(1)});
    return message;
}

const Bytes kLed = led(3, 5, 1);            // 32 bytes
const Bytes kLedBundle = bundleOf({kLed});  // 52 bytes; the element size is at 16

std::shared_ptr<HJOSCPacket> decode(const Bytes& bytes) { return HJOSCDecoder::decodeData(bytes); }

// --- Writing -------------------------------------------------------------------------------

TEST(HJOSCEncodingTest, TextOutsideASCIIIsEmptyAndBlobsNeedEveryAnnouncedByte) {
    EXPECT_EQ(Utilities::dataBlockFromString("caf\xc3\xa9"), hex("00000000"));
    EXPECT_EQ(HJOSCAddress("/\xff").packetizedData(), hex("00000000"));
    EXPECT_EQ(Utilities::stringFromDataBlock(hex("00616200")), "ab");
    EXPECT_EQ(Utilities::stringFromDataBlock(hex("61006200")), std::string("a\0b", 3));
    EXPECT_EQ(Utilities::blobFromDataBlock(hex("ffffffff 0102")), std::nullopt);
    EXPECT_EQ(Utilities::blobFromDataBlock(hex("000000")), std::nullopt);
}

TEST(HJOSCEncodingTest, TimeTagsWriteAndReadBack) {
    const std::pair<double, const char*> cases[] = {
        // seconds since the reference date
        {0.0, "bdfa4700 00000000"},
        {1.25, "bdfa4701 40000000"},
        {788918400.75, "ed003780 c0000000"},  // 2026-01-01 00:00:00.75 UTC
        {-0.25, "bdfa46ff c0000000"}};        // whole seconds round down
    for (const auto& [seconds, tag] : cases) {
        EXPECT_EQ(Utilities::ntpTimestampFromNSDate(Date{seconds}), hex(tag)) << tag;
        EXPECT_EQ(Utilities::dateFromNTPTimestamp(hex(tag)), Date{seconds}) << tag;
    }
    EXPECT_EQ(Utilities::ntpTimestampForImmediate(), hex("00000000 00000001"));
    EXPECT_EQ(Utilities::dateFromNTPTimestamp(hex("00000000 00000001")), Date::distantPast());
    EXPECT_NE(Utilities::dateFromNTPTimestamp(hex("00000000 00000002")), Date::distantPast());
    const Date now{788918400.123456};  // truncated to a fraction of a microsecond
    const Date back = Utilities::dateFromNTPTimestamp(Utilities::ntpTimestampFromNSDate(now));
    EXPECT_TRUE(back <= now && back.secondsSinceReferenceDate > 788918400.123455);
}

// Copies and moves keep every byte, of short argument lists and of long ones.
TEST(HJOSCEncodingTest, CopiesAndMovesKeepEveryByte) {
    HJOSCMessage message(HJOSCAddress("/" + std::string(60, 'a')));
    for (std::size_t i = 1; i < 10; ++i) {
        message.attachArgument(HJOSCArgument::withString(std::string(i * 10, 'x')));
        HJOSCMessage copy = message;
        HJOSCMessage moved(HJOSCAddress("/b"));
        moved = std::move(copy);
        EXPECT_EQ(moved.packetizedData(), message.packetizedData()) << i;
    }
}

TEST(HJOSCEncodingTest, MessagesAndNestedBundlesCarryTheirOwnSizesAndTimeTags) {
    EXPECT_EQ(ledMessage().packetizedData(), kLed);
    EXPECT_EQ(HJOSCMessage(HJOSCAddress("/monome")).packetizedData(), raw("/monome\0,\0\0\0"));
    EXPECT_EQ(HJOSCAddress::addressWithArray({"monome", "led"})->address(), "/monome/led");
    HJOSCMessage mixed(HJOSCAddress("/x"));
    mixed.attachArgument(HJOSCArgument::argumentWithFloat(0.5f));
    mixed.attachArgument(std::shared_ptr<HJOSCArgument>());  // ignored
    mixed.attachArgument(HJOSCArgument::withString("abcd"));
    mixed.attachArgument(HJOSCArgument::withDataBlob(hex("ee")));
    EXPECT_EQ(mixed.packetizedData(),
              hex("2f780000 2c667362 00000000 3f000000 61626364 00000000 00000001 ee000000"));

    const auto inner = std::make_shared<HJOSCBundle>(Date{1.25});
    const std::shared_ptr<HJOSCBundle> null;
    inner->attachObjects({ledMessage(), null, ledMessage()});
    HJOSCBundle outer(Date{0.5});
    outer.attachObject(ledMessage());
    outer.attachObject(inner);
    outer.attachObject(null);
    outer.attachObject(HJOSCBundle(Date{1.0}));  // empty: written as size zero
    HJOSCBundle wrapper(Date{0.5});              // appended after other bytes, sizes stay relative
    wrapper.attachObject(outer);
    Bytes buffer = hex("ffffff");
    ASSERT_TRUE(wrapper.appendPacketizedData(buffer));
    const Bytes innerBytes =
        concat({raw("#bundle\0"), hex("bdfa4701 40000000 00000020"), kLed, hex("00000020"), kLed});
    const Bytes outerBytes = bundleOf({kLed, innerBytes, {}});
    EXPECT_EQ(buffer, concat({hex("ffffff"), bundleOf({outerBytes})}));
    // A bundle without elements has no encoding of its own and leaves the buffer as it was.
    EXPECT_FALSE(HJOSCBundle(Date{0.5}).appendPacketizedData(buffer));
    EXPECT_EQ(buffer.size(), 171u);
}

// --- Reading -------------------------------------------------------------------------------

TEST(HJOSCDecoderTest, WellFormedDatagramsDecodeAndEncodeBackByteForByte) {
    const Bytes many = concat({raw("/many\0\0\0,iisb\0\0\0"), hex("00000001 00000002"),
                               raw("text\0\0\0\0"), hex("00000001 7f000000")});
    for (const Bytes& bytes :
         {kLed, kLedBundle, many, bundleOf({many, many}), raw("/stagevue/ping\0\0,\0\0\0"),
          concat({raw("/f\0\0,ff\0"), hex("42480000 7fc00001")}),  // a NaN keeps its bit pattern
          // Strings and blobs of every length mod 4 take 1 to 4 NULs, never none.
          concat({raw("/ss\0,ssss\0\0\0"), raw("\0\0\0\0a\0\0\0ab\0\0abc\0")}),
          concat({raw("/b\0\0,bbbb\0\0\0"), hex("00000000 00000000 00000001 61000000"),
                  hex("00000002 61620000 00000003 61626300")})}) {
        const auto packet = decode(bytes);
        ASSERT_NE(packet, nullptr) << bytes.size();
        EXPECT_EQ(packet->packetizedData(), bytes);
    }
}

TEST(HJOSCDecoderTest, DecodesToTheTreeInOrderWithItsTimeTags) {
    Bytes bytes = bundleOf({led(0, 1, 1), bundleOf({led(2, 3, 0), led(4, 5, 1)})});
    const auto packet = decode(bytes);
    std::fill(bytes.begin(), bytes.end(), 0xee);  // the packet owns its bytes
    const HJOSCBundle* outer = packet->asBundle();
    EXPECT_EQ(outer->timeStamp(), Date{0.5});
    ASSERT_EQ(outer->attachedObjects().size(), 2u);
    EXPECT_EQ(outer->attachedObjects()[0]->packetizedData(), led(0, 1, 1));
    const auto& inner = outer->attachedObjects()[1]->asBundle()->attachedObjects();
    ASSERT_EQ(inner.size(), 2u);
    EXPECT_EQ(inner[1]->packetizedData(), led(4, 5, 1));
    // The address is not checked, and only a word's last byte ends a field.
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
        {"address not ASCII", raw("/\xe9\0\0,\0\0\0"), kNone},
        {"type tags missing", truncated(kLed, 12), kNone},
        {"type tags unterminated", truncated(kLed, 16), kNone},
        {"type tags without comma", raw("/a\0\0iii\0\0\0\0\x01"), kNone},
        {"bundle head of one byte", truncated(kLedBundle, 1), kBad},
        {"bundle head cut short", truncated(kLedBundle, 15), kBad},
        {"size field of two bytes", truncated(kLedBundle, 18), kBad},
        {"size field cut after an element", concat({kLedBundle, hex("0000")}), kBad},
        {"element size past the end", withSizeAt16(kLedBundle, 36), kBad},
        {"element size huge", withSizeAt16(kLedBundle, 0x7fffffff), kBad},
        {"element size most negative", withSizeAt16(kLedBundle, -2147483647 - 1), kBad},
        {"nested bundle shorter than its head", bundleOf({kLed, raw("#bundle\0\0\0\0\0")}), kBad},
        {"empty type tag string", raw("/a\0\0\0\0\0\0"), kBad},
        {"type tag d", raw("/a\0\0,d\0\0\0\0\0\0\0\0\0\0"), kBad},
        {"type tag NUL", raw("/a\0\0,\0i\0\0\0\0\0"), kBad},
        {"unknown tag after good ones", concat({raw("/a\0\0,iN\0"), hex("00000001")}), kBad},
        {"int cut short", truncated(kLed, 30), kBad},
        {"string argument unterminated", raw("/s\0\0,s\0\0abcd"), kBad},
        {"blob starting beyond the end", raw("/b\0\0,bb\0"), kBad},
        {"malformed three levels down",
         bundleOf({kLed, bundleOf({bundleOf({truncated(kLed, 30)}), kLed})}), kBad},
        {"bad size two levels down", bundleOf({bundleOf({withSizeAt16(kLedBundle, 33)})}), kBad},
    };
    for (const auto& c : cases) {
        Failure failure = Failure::none;
        EXPECT_EQ(HJOSCDecoder::decodeData(c.bytes, failure), nullptr) << c.name;
        EXPECT_EQ(failure, c.failure) << c.name;
    }
}

TEST(HJOSCDecoderTest, ToleratedFaultsAreLeftOutOrIgnored) {
    // Elements that are no packet go, the rest stay at any depth.
    const auto packet =
        decode(bundleOf({led(1, 0, 0), Bytes{}, led(2, 0, 0), raw("/monome/led\0"), raw("/abc"),
                         raw("/x\0\0iii\0"), bundleOf({bundleOf({kLed, raw("/abc")})})}));
    const auto& elements = packet->asBundle()->attachedObjects();
    ASSERT_EQ(elements.size(), 3u);
    EXPECT_EQ(elements[1]->packetizedData(), led(2, 0, 0));
    EXPECT_EQ(elements[2]->packetizedData(), bundleOf({bundleOf({kLed})}));
    // Trailing bytes, and the bundle head after its '#', are ignored.
    Bytes garbageHead = kLedBundle;
    std::copy_n("#garbage", 8, garbageHead.begin());
    EXPECT_EQ(decode(garbageHead)->packetizedData(), kLedBundle);
    EXPECT_EQ(decode(concat({kLed, raw("xyz")}))->packetizedData(), kLed);
    EXPECT_EQ(decode(concat({kLedBundle, hex("07")}))->packetizedData(), kLedBundle);
    EXPECT_EQ(decode(concat({truncated(kLedBundle, 16), hex("07")}))->packetizedData(),
              std::nullopt);  // empty: nothing to write
    // Blobs without a complete size field, or whose size lies, are empty: 8 bytes are skipped
    // for a size of 100 or 9, or -1 read unsigned.
    const Bytes emptyBlob = concat({raw("/b\0\0,b\0\0"), hex("00000000 00000000")});
    for (const char* rest : {"", "ffffff"})
        EXPECT_EQ(decode(concat({raw("/b\0\0,b\0\0"), hex(rest)}))->packetizedData(), emptyBlob);
    for (const char* size : {"00000064", "00000009", "ffffffff"}) {
        const Bytes blobAndInt = concat({raw("/b\0\0,bi\0"), hex(size), hex("aaaaaaaa 00000007")});
        EXPECT_EQ(decode(blobAndInt)->packetizedData(),
                  concat({raw("/b\0\0,bi\0"), hex("00000000 00000000 00000007")}))
            << size;
    }
}

// Far deeper than a datagram allows: encoding, decoding, printing and freeing need no stack.
TEST(HJOSCDecoderTest, BundlesNestedAHundredThousandDeepNeedNoStack) {
    constexpr std::size_t kLevels = 100000;
    auto outermost = std::make_shared<HJOSCBundle>(Date{0.5});
    outermost->attachObject(ledMessage());
    for (std::size_t level = 1; level < kLevels; ++level) {
        HJOSCBundle outer(Date{0.5});
        outer.attachObject(std::move(*outermost));
        *outermost = std::move(outer);
    }
    const auto encoded = outermost->packetizedData();
    ASSERT_EQ(encoded.value().size(), kLevels * 20 + 32);
    outermost.reset();
    const auto back = decode(*encoded);
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(back->packetizedData(), encoded);
    EXPECT_GT(back->stringRepresentation().size(), kLevels * 40);
    Failure failure = Failure::none;  // a fault at the bottom abandons it all
    EXPECT_EQ(HJOSCDecoder::decodeData(truncated(*encoded, encoded->size() - 2), failure), nullptr);
    EXPECT_EQ(failure, Failure::malformed);
}

}  // namespace
}  // namespace velto

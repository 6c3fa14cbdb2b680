#include "common/osc/HJOSCDecoder.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <memory>
#include <string_view>
#include <utility>
#include <vector>

#include "common/osc/HJOSCBundle.h"
#include "common/osc/HJOSCDataUtilities.h"
#include "common/osc/HJOSCMessage.h"

namespace velto {

namespace {

using Failure = HJOSCDecoder::Failure;
using Utilities = HJOSCDataUtilities;

// Positions inside one buffer. 64 bits wide, so that adding a 32-bit size to
// a position can never overflow, whatever the datagram says.
using Position = std::uint64_t;

// The positions of the public readers: signed 32-bit, compared as unsigned.
Position widen(std::int32_t position) { return static_cast<std::uint32_t>(position); }
std::int32_t narrow(Position position) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(position));
}

// Whether `count` bytes are there at `start`.
bool fits(ByteView data, Position start, Position count) {
    return start <= data.size() && data.size() - start >= count;
}

// The string field at `start`. Only the last byte of each 4-byte word is
// looked at for the terminating NUL, so a field always spans whole words.
bool readText(ByteView data, Position start, Position& end, std::string_view& text) {
    for (Position last = start + 3; last < data.size(); last += 4) {
        if (data[last] != 0) continue;
        const std::uint8_t* first = data.data() + start;
        const std::uint8_t* stop = data.data() + last + 1;
        if (!Utilities::isASCII(first, static_cast<std::size_t>(stop - first))) return false;
        // NULs at the end all lie in the last word, as every earlier word ends
        // in a character: the low bytes of that word, read big-endian.
        const std::uint32_t lastWord = Utilities::loadUInt(stop - 4);
        stop -= lastWord == 0 ? 4 : std::countr_zero(lastWord) / 8;
        while (first < stop && *first == 0) ++first;
        text = std::string_view(reinterpret_cast<const char*>(first),
                                static_cast<std::size_t>(stop - first));
        end = last + 1;
        return true;
    }
    return false;
}

// The blob field at `start`, which lies inside the buffer or just past it.
// None, and the position 8 further, when the size is missing or lies.
std::optional<ByteView> readBlob(ByteView data, Position start, Position& end) {
    std::optional<ByteView> blob;
    if (fits(data, start, 4)) {
        const std::uint32_t size = Utilities::loadUInt(data.data() + start);
        if (size <= 0x7FFFFFFFu && fits(data, start + 4, size))
            blob = data.subspan(start + 4, size);
    }
    end = start + 4 + Utilities::paddedLength(blob ? blob->size() : 0);
    return blob;
}

// Reads the argument of type `type` at `start` into `into`. False when it
// can't be read: the datagram is then malformed.
bool readArgument(ByteView data, Position start, Position& end, char type, HJOSCArgument& into) {
    switch (type) {
        case 'i':
        case 'f':
            if (!fits(data, start, 4)) return false;
            into = HJOSCArgument(type, data.subspan(start, 4));  // the atom as it stands
            end = start + 4;
            return true;
        case 's': {
            std::string_view text;
            if (!readText(data, start, end, text)) return false;
            into.setStringValue(text);
            return true;
        }
        case 'b':
            if (start > data.size()) return false;
            into.setDataBlobValue(readBlob(data, start, end).value_or(ByteView{}));
            return true;
        default:
            return false;
    }
}

// The address and type tags at the start of a message element. False, with
// `failure` set, when they don't make a message.
bool readMessageHead(ByteView data, std::string_view& address, std::string_view& tags,
                     Position& end, Failure& failure) {
    if (!readText(data, 0, end, address) || !readText(data, end, end, tags)) {
        failure = Failure::noPacket;
        return false;
    }
    if (tags.empty()) {
        failure = Failure::malformed;
        return false;
    }
    if (tags.front() != ',') {
        failure = Failure::noPacket;
        return false;
    }
    return true;
}

// The arguments that `tags` announces, from `end` on, into `message`. False
// when one can't be read: the datagram is then malformed.
bool readArguments(ByteView data, std::string_view tags, Position end, HJOSCMessage& message) {
    // Each argument after the first takes at least 4 bytes, which bounds the
    // room that a long type tag string can ask for.
    message.reserveArguments(std::min<std::size_t>(tags.size() - 1, (data.size() - end) / 4 + 1));
    for (const char tag : tags.substr(1)) {
        if ((tag == 'i' || tag == 'f') &&
            fits(data, end, 4)) {  // most arguments: the atom as it stands
            message.attachArgument(tag, Utilities::loadUInt(data.data() + end));
            end += 4;
            continue;
        }
        HJOSCArgument argument;
        if (!readArgument(data, end, end, tag, argument)) return false;
        message.attachArgument(std::move(argument));
    }
    if (tags.size() == 1) message.attachArguments({});  // "," alone: an empty list, yet a list
    return true;
}

// The message in `data`, made by make(address): false, with `failure` set,
// when there is none.
template <typename Make>
bool decodeMessage(ByteView data, Make&& make, Failure& failure) {
    std::string_view address;
    std::string_view tags;
    Position end = 0;
    if (!readMessageHead(data, address, tags, end, failure)) return false;
    if (!readArguments(data, tags, end, make(address))) {
        failure = Failure::malformed;
        return false;
    }
    failure = Failure::none;
    return true;
}

// Reads the size field at `position` and the element behind it, and moves
// the position past both. False when the datagram is malformed there.
bool nextElement(ByteView bundle, Position& position, ByteView& element) {
    if (!fits(bundle, position, 4)) return false;
    const auto size = static_cast<std::int32_t>(Utilities::loadUInt(bundle.data() + position));
    position += 4;
    if (size < 0 || !fits(bundle, position, static_cast<Position>(size))) return false;
    element = bundle.subspan(position, static_cast<std::size_t>(size));
    position += static_cast<Position>(size);
    return true;
}

// Elements are read while at least two bytes remain: one stray byte at the
// end is ignored.
bool hasNextElement(ByteView bundle, Position position) { return position + 1 < bundle.size(); }

// The time stamp in a bundle's head (at least 16 bytes).
Date timeStampOf(ByteView head) { return Utilities::dateFromNTPTimestamp(head.subspan(8, 8)); }

// The same, remembering the last time tag read: nested bundles mostly share
// one, and it is then not converted afresh at each of thousands of levels.
class TimeStamps {
public:
    Date of(ByteView head) {
        std::uint64_t tag;
        std::memcpy(&tag, head.data() + 8, 8);
        if (!read_ || tag != tag_) {
            date_ = timeStampOf(head);
            tag_ = tag;
            read_ = true;
        }
        return date_;
    }

private:
    std::uint64_t tag_ = 0;
    Date date_;
    bool read_ = false;
};

// The number of elements that the bundle in `data` seems to hold.
std::size_t elementCount(ByteView data) {
    std::size_t count = 0;
    ByteView element;
    for (Position position = HJOSCBundle::kHeadSize;
         hasNextElement(data, position) && nextElement(data, position, element);) {
        if (!element.empty()) ++count;
    }
    return count;
}

bool decodeBundle(ByteView data, HJOSCBundle& bundle, Failure& failure) {
    failure = Failure::malformed;
    // Positions are kept in 32 bits: far more than any datagram holds.
    if (data.size() < HJOSCBundle::kHeadSize || data.size() > 0xFFFFFFFFu) return false;
    // A bundle being read: its bytes are [head, end) of `data`. Offsets, so
    // that the list of outer bundles, thousands long at worst, stays small.
    struct Level {
        std::uint32_t head;
        std::uint32_t end;
        std::uint32_t position;          // of its next element
        HJOSCBundle::NestedStart start;  // where its elements begin in `bundle`
    };
    std::vector<Level> outer;  // the bundles that `level` is nested in
    TimeStamps timeStamps;
    bundle.setTimeStamp(timeStamps.of(data));
    // Room for the outermost messages: they are made in place, in one allocation.
    bundle.reserveObjects(elementCount(data));
    Level level{0, static_cast<std::uint32_t>(data.size()), HJOSCBundle::kHeadSize, {}};
    for (;;) {
        const ByteView levelData = data.subspan(level.head, level.end - level.head);
        Position position = level.position - level.head;
        if (!hasNextElement(levelData, position)) {
            if (outer.empty()) break;
            bundle.closeNested(level.start, timeStamps.of(levelData));
            level = outer.back();
            outer.pop_back();
            continue;
        }
        ByteView element;
        if (!nextElement(levelData, position, element)) return false;
        level.position = static_cast<std::uint32_t>(level.head + position);
        if (element.empty()) continue;  // no packet: left out
        if (element[0] == '#') {
            if (element.size() < HJOSCBundle::kHeadSize) return false;
            if (outer.empty()) {
                // Each level takes at least 20 bytes: room for the deepest
                // nesting, and for every nested bundle, at once.
                const std::size_t most = data.size() / 20;
                outer.reserve(most);
                bundle.reserveObjects(0, most);
            }
            outer.push_back(level);
            const auto head = static_cast<std::uint32_t>(element.data() - data.data());
            level = Level{head, static_cast<std::uint32_t>(head + element.size()),
                          static_cast<std::uint32_t>(head + HJOSCBundle::kHeadSize),
                          bundle.nestedStart()};
            continue;
        }
        std::string_view address;
        std::string_view tags;
        Position end = 0;
        Failure elementFailure = Failure::none;
        if (!readMessageHead(element, address, tags, end, elementFailure)) {
            if (elementFailure == Failure::malformed) return false;
            continue;  // no packet: left out
        }
        // Made in place; should its arguments be unreadable, the whole datagram goes.
        if (!readArguments(element, tags, end, bundle.attachMessage(address))) return false;
    }
    failure = Failure::none;
    return true;
}

}  // namespace

std::unique_ptr<HJOSCPacket> HJOSCDecoder::Packet::release() && {
    if (message_) return std::make_unique<HJOSCMessage>(std::move(*message_));
    if (bundle_) return std::make_unique<HJOSCBundle>(std::move(*bundle_));
    return nullptr;
}

HJOSCDecoder::Packet HJOSCDecoder::decode(ByteView data, Failure& failure) {
    Packet packet;
    if (data.empty()) {
        failure = Failure::noPacket;
    } else if (data[0] == '#') {
        if (!decodeBundle(data, packet.bundle_.emplace(), failure)) packet.bundle_.reset();
    } else {
        const auto make = [&packet](std::string_view address) -> HJOSCMessage& {
            return packet.message_.emplace(address);
        };
        if (!decodeMessage(data, make, failure)) packet.message_.reset();
    }
    return packet;
}

std::unique_ptr<HJOSCPacket> HJOSCDecoder::decodeData(ByteView data) {
    Failure failure = Failure::none;
    return decodeData(data, failure);
}

std::unique_ptr<HJOSCPacket> HJOSCDecoder::decodeData(ByteView data, Failure& failure) {
    return decode(data, failure).release();
}

std::unique_ptr<HJOSCBundle> HJOSCDecoder::decodeRawBundle(ByteView data, Failure& failure) {
    auto bundle = std::make_unique<HJOSCBundle>();
    if (!decodeBundle(data, *bundle, failure)) return nullptr;
    return bundle;
}

std::unique_ptr<HJOSCMessage> HJOSCDecoder::decodeRawMessage(ByteView data, Failure& failure) {
    std::unique_ptr<HJOSCMessage> message;
    const auto make = [&message](std::string_view address) -> HJOSCMessage& {
        message = std::make_unique<HJOSCMessage>(address);
        return *message;
    };
    if (!decodeMessage(data, make, failure)) return nullptr;
    return message;
}

std::optional<HJOSCArgument> HJOSCDecoder::argumentFromData(ByteView data, std::int32_t start,
                                                            std::int32_t& end, char type) {
    Position wideEnd = 0;
    HJOSCArgument argument;
    if (!readArgument(data, widen(start), wideEnd, type, argument)) return std::nullopt;
    end = narrow(wideEnd);
    return argument;
}

std::optional<std::string> HJOSCDecoder::stringFromData(ByteView data, std::int32_t start,
                                                        std::int32_t& end) {
    Position wideEnd = 0;
    std::string_view text;
    if (!readText(data, widen(start), wideEnd, text)) return std::nullopt;
    end = narrow(wideEnd);
    return std::string(text);
}

std::optional<Bytes> HJOSCDecoder::dataBlobFromData(ByteView data, std::int32_t start,
                                                    std::int32_t& end, Failure& failure) {
    if (widen(start) > data.size()) {
        failure = Failure::malformed;
        return std::nullopt;
    }
    Position wideEnd = 0;
    const auto blob = readBlob(data, widen(start), wideEnd);
    end = narrow(wideEnd);
    if (!blob) return std::nullopt;
    return Bytes(blob->begin(), blob->end());
}

std::int32_t HJOSCDecoder::intFromData(ByteView data, std::int32_t start, std::int32_t& end,
                                       Failure& failure) {
    end = narrow(widen(start) + 4);
    if (!fits(data, widen(start), 4)) {
        failure = Failure::malformed;
        return 0;
    }
    return Utilities::intFromDataBlock(data.subspan(widen(start), 4));
}

float HJOSCDecoder::floatFromData(ByteView data, std::int32_t start, std::int32_t& end,
                                  Failure& failure) {
    end = narrow(widen(start) + 4);
    if (!fits(data, widen(start), 4)) {
        failure = Failure::malformed;
        return 0.0f;
    }
    return Utilities::floatFromDataBlock(data.subspan(widen(start), 4));
}

}  // namespace velto

#include "common/osc/HJOSCDecoder.h"

#include <algorithm>
#include <bit>
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

constexpr std::size_t kBundleHeadSize = 16;

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
        if (size <= 0x7FFFFFFFu && fits(data, start + 4, size)) blob = data.subspan(start + 4, size);
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
bool readMessageHead(ByteView data, std::string_view& address, std::string_view& tags, Position& end,
                     Failure& failure) {
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
        if ((tag == 'i' || tag == 'f') && fits(data, end, 4)) {  // most arguments: the atom as it stands
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

std::unique_ptr<HJOSCMessage> decodeMessage(ByteView data, Failure& failure) {
    std::string_view address;
    std::string_view tags;
    Position end = 0;
    if (!readMessageHead(data, address, tags, end, failure)) return nullptr;
    auto message = std::make_unique<HJOSCMessage>(address);
    if (!readArguments(data, tags, end, *message)) {
        failure = Failure::malformed;
        return nullptr;
    }
    failure = Failure::none;
    return message;
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

// Room for the elements that the bundle in `data` seems to hold: they are
// then made in place, in one allocation for all the messages of the bundle.
void reserveElements(HJOSCBundle& bundle, ByteView data) {
    std::size_t count = 0;
    ByteView element;
    for (Position position = kBundleHeadSize;
         hasNextElement(data, position) && nextElement(data, position, element);) {
        if (!element.empty()) ++count;
    }
    bundle.reserveObjects(count);
}

std::unique_ptr<HJOSCBundle> decodeBundle(ByteView data, Failure& failure) {
    failure = Failure::malformed;
    if (data.size() < kBundleHeadSize) return nullptr;
    struct Level {
        HJOSCBundle* bundle;
        ByteView data;
        Position position;
    };
    std::vector<Level> outer;  // the bundles that `level` is nested in
    auto root = std::make_unique<HJOSCBundle>(timeStampOf(data));
    reserveElements(*root, data);
    Level level{root.get(), data, kBundleHeadSize};
    for (;;) {
        if (!hasNextElement(level.data, level.position)) {
            if (outer.empty()) break;
            level = outer.back();
            outer.pop_back();
            continue;
        }
        ByteView element;
        if (!nextElement(level.data, level.position, element)) return nullptr;
        if (element.empty()) continue;  // no packet: left out
        if (element[0] == '#') {
            if (element.size() < kBundleHeadSize) return nullptr;
            auto nested = std::make_shared<HJOSCBundle>(timeStampOf(element));
            reserveElements(*nested, element);
            HJOSCBundle* inner = nested.get();
            level.bundle->attachObject(std::move(nested));
            outer.push_back(level);
            level = Level{inner, element, kBundleHeadSize};
            continue;
        }
        std::string_view address;
        std::string_view tags;
        Position end = 0;
        Failure elementFailure = Failure::none;
        if (!readMessageHead(element, address, tags, end, elementFailure)) {
            if (elementFailure == Failure::malformed) return nullptr;
            continue;  // no packet: left out
        }
        // Made in place; should its arguments be unreadable, the whole datagram goes.
        if (!readArguments(element, tags, end, level.bundle->attachMessage(address))) return nullptr;
    }
    failure = Failure::none;
    return root;
}

}  // namespace

std::unique_ptr<HJOSCPacket> HJOSCDecoder::decodeData(ByteView data) {
    Failure failure = Failure::none;
    return decodeData(data, failure);
}

std::unique_ptr<HJOSCPacket> HJOSCDecoder::decodeData(ByteView data, Failure& failure) {
    if (data.empty()) {
        failure = Failure::noPacket;
        return nullptr;
    }
    if (data[0] == '#') return decodeBundle(data, failure);
    return decodeMessage(data, failure);
}

std::unique_ptr<HJOSCBundle> HJOSCDecoder::decodeRawBundle(ByteView data, Failure& failure) {
    return decodeBundle(data, failure);
}

std::unique_ptr<HJOSCMessage> HJOSCDecoder::decodeRawMessage(ByteView data, Failure& failure) {
    return decodeMessage(data, failure);
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

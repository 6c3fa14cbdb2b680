#include "common/osc/HJOSCDecoder.h"

#include <algorithm>
#include <bit>
#include <memory>
#include <new>
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

// The messages of one bundle, made in one allocation rather than one each.
// Each message's pointer shares the block, which lives while any of them does.
class MessageBlock {
public:
    explicit MessageBlock(std::size_t capacity)
        : room_(std::make_unique_for_overwrite<Slot[]>(capacity)), capacity_(capacity) {}
    MessageBlock(const MessageBlock&) = delete;
    MessageBlock& operator=(const MessageBlock&) = delete;
    ~MessageBlock() {
        for (std::size_t i = 0; i < size_; ++i) {
            std::launder(reinterpret_cast<HJOSCMessage*>(room_[i].bytes))->~HJOSCMessage();
        }
    }

    bool full() const { return size_ == capacity_; }
    // A message in the next free slot; the block must not be full.
    HJOSCMessage* make(std::string_view address) {
        auto* message = ::new (static_cast<void*>(room_[size_].bytes)) HJOSCMessage(address);
        ++size_;
        return message;
    }

private:
    struct Slot {
        alignas(HJOSCMessage) unsigned char bytes[sizeof(HJOSCMessage)];
    };
    std::unique_ptr<Slot[]> room_;
    std::size_t capacity_;
    std::size_t size_ = 0;
};

// A message in `block` when it has room, else in an allocation of its own.
std::shared_ptr<HJOSCMessage> makeMessage(std::string_view address,
                                          const std::shared_ptr<MessageBlock>& block) {
    if (block && !block->full()) return std::shared_ptr<HJOSCMessage>(block, block->make(address));
    return std::make_shared<HJOSCMessage>(address);
}

std::shared_ptr<HJOSCMessage> decodeMessage(ByteView data, Failure& failure,
                                            const std::shared_ptr<MessageBlock>& block = nullptr) {
    std::string_view address;
    std::string_view tags;
    Position end = 0;
    if (!readText(data, 0, end, address) || !readText(data, end, end, tags)) {
        failure = Failure::noPacket;
        return nullptr;
    }
    if (tags.empty()) {
        failure = Failure::malformed;
        return nullptr;
    }
    if (tags.front() != ',') {
        failure = Failure::noPacket;
        return nullptr;
    }
    // The arguments go straight into the message, which is dropped should one
    // of them be unreadable. Each one after the first takes at least 4 bytes,
    // which bounds the room that a long type tag string can ask for.
    auto message = makeMessage(address, block);
    message->reserveArguments(std::min<std::size_t>(tags.size() - 1, (data.size() - end) / 4 + 1));
    for (const char tag : tags.substr(1)) {
        if ((tag == 'i' || tag == 'f') && fits(data, end, 4)) {  // most arguments, kept inline
            message->attachArgument(tag, data.subspan(end, 4));
            end += 4;
            continue;
        }
        HJOSCArgument argument;
        if (!readArgument(data, end, end, tag, argument)) {
            failure = Failure::malformed;
            return nullptr;
        }
        message->attachArgument(std::move(argument));
    }
    if (tags.size() == 1) message->attachArguments({});  // "," alone: an empty list, yet a list
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

// The smallest element that can be a message: an address and a type tag string.
constexpr std::size_t kSmallestMessage = 8;

// A bundle with the time stamp of `head` (at least 16 bytes), and room for
// the elements that it seems to hold; `messages` gets room for those of them
// that may be messages, when there are several.
std::shared_ptr<HJOSCBundle> makeBundle(ByteView head, std::shared_ptr<MessageBlock>& messages) {
    auto bundle = std::make_shared<HJOSCBundle>(Utilities::dateFromNTPTimestamp(head.subspan(8, 8)));
    std::size_t count = 0;
    std::size_t messageCount = 0;
    ByteView element;
    for (Position position = kBundleHeadSize;
         hasNextElement(head, position) && nextElement(head, position, element);) {
        if (element.empty()) continue;
        ++count;
        if (element[0] != '#' && element.size() >= kSmallestMessage) ++messageCount;
    }
    bundle->reserveObjects(count);
    messages = messageCount > 1 ? std::make_shared<MessageBlock>(messageCount) : nullptr;
    return bundle;
}

std::shared_ptr<HJOSCBundle> decodeBundle(ByteView data, Failure& failure) {
    failure = Failure::malformed;
    if (data.size() < kBundleHeadSize) return nullptr;
    struct Level {
        HJOSCBundle* bundle;
        ByteView data;
        Position position;
        std::shared_ptr<MessageBlock> messages;
    };
    std::vector<Level> outer;  // the bundles that `level` is nested in
    Level level{nullptr, data, kBundleHeadSize, nullptr};
    auto root = makeBundle(data, level.messages);
    level.bundle = root.get();
    for (;;) {
        if (!hasNextElement(level.data, level.position)) {
            if (outer.empty()) break;
            level = std::move(outer.back());
            outer.pop_back();
            continue;
        }
        ByteView element;
        if (!nextElement(level.data, level.position, element)) return nullptr;
        if (element.empty()) continue;  // no packet: left out
        if (element[0] == '#') {
            if (element.size() < kBundleHeadSize) return nullptr;
            Level inner{nullptr, element, kBundleHeadSize, nullptr};
            auto nested = makeBundle(element, inner.messages);
            inner.bundle = nested.get();
            level.bundle->attachObject(std::move(nested));
            outer.push_back(std::move(level));
            level = std::move(inner);
        } else {
            Failure elementFailure = Failure::none;
            auto message = decodeMessage(element, elementFailure, level.messages);
            if (elementFailure == Failure::malformed) return nullptr;
            level.bundle->attachObject(std::move(message));  // null (no packet) is left out
        }
    }
    failure = Failure::none;
    return root;
}

}  // namespace

std::shared_ptr<HJOSCPacket> HJOSCDecoder::decodeData(ByteView data) {
    Failure failure = Failure::none;
    return decodeData(data, failure);
}

std::shared_ptr<HJOSCPacket> HJOSCDecoder::decodeData(ByteView data, Failure& failure) {
    if (data.empty()) {
        failure = Failure::noPacket;
        return nullptr;
    }
    if (data[0] == '#') return decodeBundle(data, failure);
    return decodeMessage(data, failure);
}

std::shared_ptr<HJOSCBundle> HJOSCDecoder::decodeRawBundle(ByteView data, Failure& failure) {
    return decodeBundle(data, failure);
}

std::shared_ptr<HJOSCMessage> HJOSCDecoder::decodeRawMessage(ByteView data, Failure& failure) {
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

#pragma once

// Turns one received datagram into a packet: a message, or a bundle decoded
// down to its last nested element.
//
// Two kinds of failure, both null to callers of decodeData:
// - no packet: an empty datagram, or a message whose address or type tag
//   string is unterminated or not ASCII, or whose type tags don't begin with
//   ",". Inside a bundle such an element (an element of size 0 too) is left
//   out and the rest of the bundle is kept.
// - malformed: a read would leave the datagram (a bundle head under 16 bytes,
//   an element size field cut short, an element size that is negative or
//   runs past the end, an argument cut short), an empty type tag string, or
//   an argument that can't be read (an unknown type tag, an unterminated or
//   non-ASCII string). The whole datagram is abandoned, however deep the fault.
// Tolerated: a blob whose size field is missing or lies (it reads as an empty
// blob and the position moves on by 8), bytes after a message's last
// argument, one stray byte after a bundle's last element, and any bytes in
// place of "#bundle" in a bundle head.
//
// Text is 7-bit ASCII: a field holding a byte above 0x7F cannot be read.
//
// Fields and elements are read in place from the one datagram, and nested
// bundles with a list rather than by recursion, so that time is linear in the
// datagram's size and the stack stays flat however deep the nesting. The
// packets that come out own their data. Stateless; any thread.
//
// The field readers take positions as signed 32-bit integers and compare them
// as unsigned: a negative start lies beyond any datagram.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "common/Bytes.h"
#include "common/osc/HJOSCArgument.h"
#include "common/osc/HJOSCBundle.h"
#include "common/osc/HJOSCMessage.h"

namespace velto {

class HJOSCDecoder {
public:
    HJOSCDecoder() = delete;

    enum class Failure { none, noPacket, malformed };

    // A decoded packet held by value, so that decoding needs no allocation
    // of its own: a message, a bundle, or none. Used like a pointer to it.
    class Packet {
    public:
        Packet() {}  // user-provided: the room of the optionals is never zeroed
        explicit operator bool() const { return get() != nullptr; }
        const HJOSCPacket* get() const {
            if (message_) return &*message_;
            if (bundle_) return &*bundle_;
            return nullptr;
        }
        const HJOSCPacket& operator*() const { return *get(); }
        const HJOSCPacket* operator->() const { return get(); }
        // The packet moved to the heap; null for none.
        std::unique_ptr<HJOSCPacket> release() &&;

    private:
        friend class HJOSCDecoder;
        // At most one of them.
        std::optional<HJOSCMessage> message_;
        std::optional<HJOSCBundle> bundle_;
    };

    // None for "no packet" and for "malformed"; `failure` says which, and
    // is none on success.
    static Packet decode(ByteView data, Failure& failure);

    // Null for "no packet" and for "malformed".
    static std::unique_ptr<HJOSCPacket> decodeData(ByteView data);
    // The same, telling the two failures apart; `failure` is none on success.
    static std::unique_ptr<HJOSCPacket> decodeData(ByteView data, Failure& failure);

    // `data` begins with a bundle, or with a message.
    static std::unique_ptr<HJOSCBundle> decodeRawBundle(ByteView data, Failure& failure);
    static std::unique_ptr<HJOSCMessage> decodeRawMessage(ByteView data, Failure& failure);

    // The field readers. Each reads the field at `start` and sets `end` just
    // after it, padding included.

    // The argument of type `type` ('s', 'i', 'f', 'b'); none when it can't be
    // read, which makes the datagram malformed. `end` is left as it was for an
    // unknown type.
    static std::optional<HJOSCArgument> argumentFromData(ByteView data, std::int32_t start,
                                                         std::int32_t& end, char type);
    // Ends at the first word (4 bytes from `start`) whose last byte is NUL; NULs
    // are stripped from both ends. None, with `end` left as it was, when no
    // word ends before the datagram does or the text is not ASCII.
    static std::optional<std::string> stringFromData(ByteView data, std::int32_t start,
                                                     std::int32_t& end);
    // None when the size field is missing or larger than what follows; `end`
    // then moves on by 8. A start beyond the end sets `failure` to malformed.
    static std::optional<Bytes> dataBlobFromData(ByteView data, std::int32_t start,
                                                 std::int32_t& end, Failure& failure);
    // Fewer than 4 bytes at `start` set `failure` to malformed and read as 0.
    static std::int32_t intFromData(ByteView data, std::int32_t start, std::int32_t& end,
                                    Failure& failure);
    static float floatFromData(ByteView data, std::int32_t start, std::int32_t& end,
                               Failure& failure);
};

}  // namespace velto

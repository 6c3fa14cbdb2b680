#pragma once

// The base of everything that goes out as one datagram: a message or a
// bundle. Encoding (packetizedData) and the console text (stringRepresentation)
// are polymorphic; a bundle uses them on its elements without knowing their
// kind. A bare packet has no encoding and the text
// "abstract parent class: HJOSCPacket".
//
// Packets are mutable and shared through std::shared_ptr; they are built,
// encoded, decoded and read on the main thread only.

#include <optional>
#include <string>

#include "common/Bytes.h"

namespace velto {

class HJOSCBundle;
class HJOSCMessage;

class HJOSCPacket {
public:
    virtual ~HJOSCPacket();

    // A fresh encoding of the packet as it is now; none when it has none.
    virtual std::optional<Bytes> packetizedData() const;
    // Appends the encoding to `out`; false, with nothing appended, when the
    // packet has none. Lets a caller build a datagram in a buffer it reuses.
    virtual bool appendPacketizedData(Bytes& out) const;
    virtual std::string stringRepresentation() const;

    // The packet as its kind, or null when it is of another kind.
    virtual const HJOSCMessage* asMessage() const;
    virtual const HJOSCBundle* asBundle() const;

protected:
    HJOSCPacket() = default;
    HJOSCPacket(const HJOSCPacket&) = default;
    HJOSCPacket& operator=(const HJOSCPacket&) = default;
};

}  // namespace velto

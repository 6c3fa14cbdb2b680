#pragma once

// An OSC message: an address and an ordered list of arguments. The arguments
// go on the wire, and into the type tag string, in the order they were
// attached.
//
// The argument list does not exist until the first attach; attachedObjects()
// is then empty and hasAttachedObjects() false. Encoding never changes the
// message: every call encodes afresh. Main thread.

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "common/osc/HJOSCAddress.h"
#include "common/osc/HJOSCArgument.h"
#include "common/osc/HJOSCPacket.h"

namespace velto {

class HJOSCMessage final : public HJOSCPacket {
public:
    // Null for a null address.
    static std::shared_ptr<HJOSCMessage> messageWithHJOSCAddress(
        std::shared_ptr<HJOSCAddress> address);

    explicit HJOSCMessage(HJOSCAddress address);
    explicit HJOSCMessage(std::string_view address) : address_(address) {}

    const HJOSCAddress& address() const { return address_; }
    void setAddress(HJOSCAddress address);

    void attachArgument(HJOSCArgument argument);
    void attachArgument(const std::shared_ptr<HJOSCArgument>& argument);  // null is ignored
    // Creates the list even when `arguments` is empty.
    void attachArguments(std::vector<HJOSCArgument> arguments);
    const std::vector<HJOSCArgument>& attachedObjects() const { return arguments_; }
    bool hasAttachedObjects() const { return hasArguments_; }

    // "," and each argument's type character.
    std::string typeTagString() const;

    // The length of the encoding.
    std::size_t encodedSize() const;

    std::optional<Bytes> packetizedData() const override;
    bool appendPacketizedData(Bytes& out) const override;
    // "MESSAGE:\naddress:/monome/led\n types:,iii\ni { 3 }..." without a final newline.
    std::string stringRepresentation() const override;
    const HJOSCMessage* asMessage() const override { return this; }

private:
    HJOSCAddress address_;
    std::vector<HJOSCArgument> arguments_;
    bool hasArguments_ = false;
};

}  // namespace velto

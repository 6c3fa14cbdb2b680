#pragma once

// An OSC message: an address and an ordered list of arguments. The arguments
// go on the wire, and into the type tag string, in the order they were
// attached.
//
// The argument list does not exist until the first attach; attachedObjects()
// is then empty and hasAttachedObjects() false. Encoding never changes the
// message: every call encodes afresh. Main thread.
//
// Up to kInlineArguments arguments live inside the message (a SmallVector):
// a bundle of grid messages decodes without an allocation per message.

#include <cstddef>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "common/osc/HJOSCAddress.h"
#include "common/osc/HJOSCArgument.h"
#include "common/osc/HJOSCPacket.h"
#include "common/osc/SmallVector.h"

namespace velto {

class HJOSCMessage final : public HJOSCPacket {
public:
    static constexpr std::size_t kInlineArguments = 4;

    // Null for a null address.
    static std::shared_ptr<HJOSCMessage> messageWithHJOSCAddress(
        std::shared_ptr<HJOSCAddress> address);

    explicit HJOSCMessage(HJOSCAddress address);
    explicit HJOSCMessage(std::string_view address) : address_(address) {}

    const HJOSCAddress& address() const { return address_; }
    void setAddress(HJOSCAddress address);

    void attachArgument(HJOSCArgument&& argument) {
        hasArguments_ = true;
        arguments_.push_back(std::move(argument));
    }
    void attachArgument(const HJOSCArgument& argument) {
        hasArguments_ = true;
        arguments_.push_back(argument);
    }
    void attachArgument(const std::shared_ptr<HJOSCArgument>& argument);  // null is ignored
    // The argument HJOSCArgument(type, data), made in place.
    void attachArgument(char type, ByteView data) { emplaceArgument(type, data); }
    // The 4-byte argument HJOSCArgument(type, word), made in place.
    void attachArgument(char type, std::uint32_t word) { emplaceArgument(type, word); }
    // Creates the list even when `arguments` is empty.
    void attachArguments(std::vector<HJOSCArgument> arguments);
    // Room for `count` arguments in all, so that attaching them moves nothing.
    void reserveArguments(std::size_t count) { arguments_.reserve(count); }
    // Valid until the next change to the arguments or a move of the message.
    std::span<const HJOSCArgument> attachedObjects() const { return arguments_.view(); }
    bool hasAttachedObjects() const { return hasArguments_; }

    // "," and each argument's type character.
    std::string typeTagString() const;

    // The length of the encoding.
    std::size_t encodedSize() const;

    // Writes the encoding over the encodedSize() zero bytes at `at`; returns their end.
    std::uint8_t* writeEncoding(std::uint8_t* at) const;

    std::optional<Bytes> packetizedData() const override;
    bool appendPacketizedData(Bytes& out) const override;
    // "MESSAGE:\naddress:/monome/led\n types:,iii\ni { 3 }..." without a final newline.
    std::string stringRepresentation() const override;
    const HJOSCMessage* asMessage() const override { return this; }

private:
    template <typename... Args>
    void emplaceArgument(Args&&... args) {
        hasArguments_ = true;
        arguments_.emplace_back(std::forward<Args>(args)...);
    }

    HJOSCAddress address_;
    SmallVector<HJOSCArgument, kInlineArguments> arguments_;
    bool hasArguments_ = false;
};

}  // namespace velto

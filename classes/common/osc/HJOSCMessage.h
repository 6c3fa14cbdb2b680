#pragma once

// An OSC message: an address and an ordered list of arguments. The arguments
// go on the wire, and into the type tag string, in the order they were
// attached.
//
// The argument list does not exist until the first attach; attachedObjects()
// is then empty and hasAttachedObjects() false. Encoding never changes the
// message: every call encodes afresh. Main thread.
//
// Up to kInlineArguments arguments live inside the message, so that a decoded
// grid message costs one allocation in all; longer lists move to the heap.

#include <cstddef>
#include <memory>
#include <new>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "common/osc/HJOSCAddress.h"
#include "common/osc/HJOSCArgument.h"
#include "common/osc/HJOSCPacket.h"

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

    void attachArgument(HJOSCArgument argument) {
        hasArguments_ = true;
        arguments_.push_back(std::move(argument));
    }
    void attachArgument(const std::shared_ptr<HJOSCArgument>& argument);  // null is ignored
    // The argument HJOSCArgument(type, data), made in place.
    void attachArgument(char type, ByteView data) {
        hasArguments_ = true;
        arguments_.emplace_back(type, data);
    }
    // Creates the list even when `arguments` is empty.
    void attachArguments(std::vector<HJOSCArgument> arguments);
    // Room for `count` arguments in all, so that attaching them moves nothing.
    void reserveArguments(std::size_t count) { arguments_.reserve(count); }
    // Valid until the next change to the arguments.
    std::span<const HJOSCArgument> attachedObjects() const { return arguments_.view(); }
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
    // A vector with room for kInlineArguments inside itself.
    class Arguments {
    public:
        Arguments() noexcept {}  // user-provided: the inline room is never zeroed
        Arguments(const Arguments& other);
        Arguments(Arguments&& other) noexcept;
        Arguments& operator=(const Arguments& other);
        Arguments& operator=(Arguments&& other) noexcept;
        ~Arguments() {
            for (std::size_t i = 0; i < size_; ++i) begin_[i].~HJOSCArgument();
            if (!isInline()) deallocate(begin_, capacity_);
        }

        std::span<const HJOSCArgument> view() const { return {begin_, size_}; }
        void reserve(std::size_t count);
        template <typename... Args>
        void emplace_back(Args&&... args) {
            if (size_ < capacity_) {
                ::new (static_cast<void*>(begin_ + size_)) HJOSCArgument(std::forward<Args>(args)...);
            } else {
                // The new argument first: `args` may lie in the room that is given up.
                HJOSCArgument* room = allocate(capacity_ * 2);
                try {
                    ::new (static_cast<void*>(room + size_)) HJOSCArgument(std::forward<Args>(args)...);
                } catch (...) {
                    deallocate(room, capacity_ * 2);
                    throw;
                }
                moveTo(room, capacity_ * 2);
            }
            ++size_;
        }
        void push_back(HJOSCArgument&& argument) { emplace_back(std::move(argument)); }

    private:
        HJOSCArgument* inlineStorage() { return reinterpret_cast<HJOSCArgument*>(inline_); }
        bool isInline() const { return begin_ == reinterpret_cast<const HJOSCArgument*>(inline_); }
        static HJOSCArgument* allocate(std::size_t capacity);
        static void deallocate(HJOSCArgument* room, std::size_t capacity) noexcept;
        // Moves the arguments into `room`, which has space for `capacity`, and frees the old room.
        void moveTo(HJOSCArgument* room, std::size_t capacity) noexcept;
        // Destroys the arguments and frees the heap room, leaving the list empty and inline.
        void release() noexcept;
        // Takes over `other`'s arguments, leaving it empty; we hold none.
        void take(Arguments& other) noexcept;

        HJOSCArgument* begin_ = inlineStorage();
        std::size_t size_ = 0;
        std::size_t capacity_ = kInlineArguments;
        alignas(HJOSCArgument) unsigned char inline_[kInlineArguments * sizeof(HJOSCArgument)];
    };

    HJOSCAddress address_;
    Arguments arguments_;
    bool hasArguments_ = false;
};

}  // namespace velto

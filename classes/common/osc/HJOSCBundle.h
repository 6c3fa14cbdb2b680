#pragma once

// An OSC bundle: a time stamp and an ordered list of elements, each a message
// or a nested bundle.
//
// A bundle without elements has no encoding; nested inside another bundle it
// is written as an element of size 0.
//
// Storage: every message of the bundle, nested ones included, in one list in
// the order they go on the wire, and beside it one small record per nested
// bundle saying which of those messages (and which nested bundles) it holds.
// So a bundle nested thousands deep, as one datagram can be, costs neither an
// allocation nor stack a level: it is built, encoded, walked and destroyed in
// loops. Main thread.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "common/Date.h"
#include "common/osc/HJOSCMessage.h"
#include "common/osc/HJOSCPacket.h"

namespace velto {

class HJOSCBundle final : public HJOSCPacket {
public:
    // "#bundle", its NUL and the 8-byte time tag, in front of the elements.
    static constexpr std::size_t kHeadSize = 16;
    // Each element is preceded by its size, a 4-byte integer.
    static constexpr std::size_t kElementSizeField = 4;

    // One element, a copy that owns its data: reached like a pointer to the
    // packet it holds.
    class Element {
    public:
        Element(HJOSCMessage&& message) : packet_(std::move(message)) {}
        Element(const HJOSCMessage& message) : packet_(message) {}
        Element(std::shared_ptr<HJOSCBundle> bundle) : packet_(std::move(bundle)) {}

        const HJOSCMessage* asMessage() const { return std::get_if<HJOSCMessage>(&packet_); }
        const HJOSCBundle* asBundle() const;
        const HJOSCPacket* get() const;  // null only for a null bundle
        const HJOSCPacket& operator*() const { return *get(); }
        const HJOSCPacket* operator->() const { return get(); }

    private:
        std::variant<HJOSCMessage, std::shared_ptr<HJOSCBundle>> packet_;
    };

    // Where a nested bundle built in place begins (nestedStart, closeNested).
    struct NestedStart {
        std::uint32_t messages;
        std::uint32_t bundles;
    };

    static std::shared_ptr<HJOSCBundle> bundleWithTimestamp(Date timeStamp);

    explicit HJOSCBundle(Date timeStamp = Date{});

    Date timeStamp() const { return timeStamp_; }
    void setTimeStamp(Date timeStamp) { timeStamp_ = timeStamp; }

    void attachObject(HJOSCMessage&& message) { attachElement(std::move(message)); }
    void attachObject(const HJOSCMessage& message) { attachElement(message); }
    // A copy of `bundle`'s elements, nested as one element; null is ignored.
    void attachObject(const std::shared_ptr<HJOSCBundle>& bundle);
    void attachObject(const HJOSCBundle& bundle);
    // Takes `bundle`'s elements; into a bundle without elements, at no cost
    // that grows with them.
    void attachObject(HJOSCBundle&& bundle);
    void attachObject(const Element& element);  // a null bundle is ignored
    // Made in place at the end of the list; returned for its arguments.
    HJOSCMessage& attachMessage(std::string_view address);
    // Creates the list even when `elements` is empty; null bundles in it are skipped.
    void attachObjects(std::vector<Element> elements);
    // A nested bundle built in place: what is attached after nestedStart()
    // becomes, at closeNested(start, ...), the elements of one nested bundle.
    NestedStart nestedStart() const {
        return {static_cast<std::uint32_t>(messages_.size()),
                static_cast<std::uint32_t>(nested_.size())};
    }
    void closeNested(NestedStart start, Date timeStamp) {
        hasElements_ = true;
        nested_.push_back(Nested{timeStamp, start.messages,
                                 static_cast<std::uint32_t>(messages_.size()),
                                 static_cast<std::uint32_t>(nested_.size() - start.bundles)});
    }

    // Copies of the elements, in order.
    std::vector<Element> attachedObjects() const;
    bool hasAttachedObjects() const { return hasElements_; }
    // Room for `count` messages and `nestedBundles` nested bundles in all, so
    // that attaching them moves nothing.
    void reserveObjects(std::size_t count, std::size_t nestedBundles = 0) {
        messages_.reserve(count);
        nested_.reserve(nestedBundles);
    }

    // Every message, those of nested bundles included, in order (depth first).
    std::span<const HJOSCMessage> messages() const { return messages_; }
    // The messages of a packet: the message itself, or a bundle's messages().
    static std::span<const HJOSCMessage> messagesOf(const HJOSCPacket& packet);

    // `messages` in order, packed into as few bundles as keep within `maxSize`
    // bytes each, every one stamped `timeStamp`; a message too big for any
    // bundle goes alone in one.
    static std::vector<HJOSCBundle> pack(std::span<const HJOSCMessage> messages, Date timeStamp,
                                         std::size_t maxSize);

    // None when the bundle has no elements.
    std::optional<Bytes> packetizedData() const override;
    bool appendPacketizedData(Bytes& out) const override;
    // "BUNDLE:\ntime: <date>" and "\n---\n<element's text>" for each element.
    std::string stringRepresentation() const override;
    const HJOSCBundle* asBundle() const override { return this; }

private:
    // A nested bundle, recorded after everything that it holds: the messages
    // [firstMessage, endMessage) and the `inner` nested bundles just before it.
    struct Nested {
        Date timeStamp;
        std::uint32_t firstMessage;
        std::uint32_t endMessage;
        std::uint32_t inner;
        bool empty() const { return firstMessage == endMessage && inner == 0; }
    };
    enum class Step { message, bundleEnd, bundleStart };

    template <typename... Args>
    HJOSCMessage& attachElement(Args&&... args) {
        hasElements_ = true;
        return messages_.emplace_back(std::forward<Args>(args)...);
    }
    template <typename Bundle>
    void attachNested(Bundle&& bundle);
    // The length of the encoding; the bundle has elements.
    std::size_t encodedSize() const;
    // Calls visit(step, index) for every message, and for the end and the
    // start of every nested bundle, from the last element back to the first.
    template <typename Visit>
    void walkBackward(Visit&& visit) const;

    Date timeStamp_;
    std::vector<HJOSCMessage> messages_;
    std::vector<Nested> nested_;
    bool hasElements_ = false;
};

inline const HJOSCBundle* HJOSCBundle::Element::asBundle() const {
    const auto* bundle = std::get_if<std::shared_ptr<HJOSCBundle>>(&packet_);
    return bundle ? bundle->get() : nullptr;
}

inline const HJOSCPacket* HJOSCBundle::Element::get() const {
    if (const HJOSCMessage* message = asMessage()) return message;
    return asBundle();
}

inline std::span<const HJOSCMessage> HJOSCBundle::messagesOf(const HJOSCPacket& packet) {
    if (const HJOSCMessage* message = packet.asMessage()) return {message, 1};
    if (const HJOSCBundle* bundle = packet.asBundle()) return bundle->messages();
    return {};
}

}  // namespace velto

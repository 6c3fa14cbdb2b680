#pragma once

// An OSC bundle: a time stamp and an ordered list of elements, each a message,
// held by value, or a nested bundle, shared with whoever else holds it.
//
// A bundle without elements has no encoding; nested inside another bundle it
// is written as an element of size 0. Encoding, the console text and
// destruction walk nested bundles with a list of their own rather than by
// recursion, so that the thousands of levels that one datagram can hold cost
// no stack. Main thread.

#include <cstddef>
#include <memory>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "common/osc/HJOSCMessage.h"
#include "common/osc/HJOSCPacket.h"
#include "platform/Date.h"

namespace velto {

class HJOSCBundle final : public HJOSCPacket {
public:
    // One element: reached like a pointer to the packet it holds.
    class Element {
    public:
        Element(HJOSCMessage&& message) : packet_(std::move(message)) {}
        Element(const HJOSCMessage& message) : packet_(message) {}
        Element(std::shared_ptr<HJOSCBundle> bundle) : packet_(std::move(bundle)) {}
        // The message HJOSCMessage(address), made in place.
        Element(std::in_place_type_t<HJOSCMessage>, std::string_view address)
            : packet_(std::in_place_type<HJOSCMessage>, address) {}

        const HJOSCMessage* asMessage() const { return std::get_if<HJOSCMessage>(&packet_); }
        const HJOSCBundle* asBundle() const;
        const HJOSCPacket* get() const;  // null only for a null bundle
        const HJOSCPacket& operator*() const { return *get(); }
        const HJOSCPacket* operator->() const { return get(); }

    private:
        friend class HJOSCBundle;
        std::variant<HJOSCMessage, std::shared_ptr<HJOSCBundle>> packet_;
    };

    static std::shared_ptr<HJOSCBundle> bundleWithTimestamp(Date timeStamp);

    explicit HJOSCBundle(Date timeStamp = Date{});
    ~HJOSCBundle() override;
    HJOSCBundle(const HJOSCBundle&) = default;  // copies the messages, shares nested bundles
    HJOSCBundle& operator=(const HJOSCBundle&) = default;
    HJOSCBundle(HJOSCBundle&&) = default;
    HJOSCBundle& operator=(HJOSCBundle&&) = default;

    Date timeStamp() const { return timeStamp_; }
    void setTimeStamp(Date timeStamp) { timeStamp_ = timeStamp; }

    void attachObject(HJOSCMessage&& message) { attachElement(std::move(message)); }
    void attachObject(const HJOSCMessage& message) { attachElement(message); }
    void attachObject(std::shared_ptr<HJOSCBundle> bundle);  // null is ignored
    void attachObject(const Element& element);               // a null bundle is ignored
    // Made in place at the end of the list; returned for its arguments.
    HJOSCMessage& attachMessage(std::string_view address);
    // Creates the list even when `elements` is empty; null bundles in it are skipped.
    void attachObjects(std::vector<Element> elements);
    const std::vector<Element>& attachedObjects() const { return elements_; }
    bool hasAttachedObjects() const { return hasElements_; }
    // Room for `count` elements in all, so that attaching them moves nothing.
    void reserveObjects(std::size_t count) { elements_.reserve(count); }

    // None when the bundle has no elements.
    std::optional<Bytes> packetizedData() const override;
    bool appendPacketizedData(Bytes& out) const override;
    // "BUNDLE:\ntime: <date>" and "\n---\n<element's text>" for each element.
    std::string stringRepresentation() const override;
    const HJOSCBundle* asBundle() const override { return this; }

private:
    // The length of the encoding; the bundle has elements.
    std::size_t encodedSize() const;

    template <typename... Args>
    void attachElement(Args&&... args) {
        hasElements_ = true;
        elements_.emplace_back(std::forward<Args>(args)...);
    }

    Date timeStamp_;
    std::vector<Element> elements_;
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

}  // namespace velto

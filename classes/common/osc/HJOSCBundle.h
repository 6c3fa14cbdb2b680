#pragma once

// An OSC bundle: a time stamp and an ordered list of packets (messages and
// nested bundles), which it shares with whoever else holds them.
//
// A bundle without elements has no encoding; nested inside another bundle it
// is written as an element of size 0. Encoding, the console text and
// destruction walk nested bundles with a list of their own rather than by
// recursion, so that the thousands of levels that one datagram can hold cost
// no stack. Main thread.

#include <cstddef>
#include <memory>
#include <vector>

#include "common/osc/HJOSCPacket.h"
#include "platform/Date.h"

namespace velto {

class HJOSCBundle final : public HJOSCPacket {
public:
    static std::shared_ptr<HJOSCBundle> bundleWithTimestamp(Date timeStamp);

    explicit HJOSCBundle(Date timeStamp = Date{});
    ~HJOSCBundle() override;
    HJOSCBundle(const HJOSCBundle&) = default;  // shares the elements
    HJOSCBundle& operator=(const HJOSCBundle&) = default;

    Date timeStamp() const { return timeStamp_; }
    void setTimeStamp(Date timeStamp) { timeStamp_ = timeStamp; }

    void attachObject(std::shared_ptr<HJOSCPacket> element);  // null is ignored
    // Creates the list even when `elements` is empty; nulls in it are skipped.
    void attachObjects(std::vector<std::shared_ptr<HJOSCPacket>> elements);
    const std::vector<std::shared_ptr<HJOSCPacket>>& attachedObjects() const { return elements_; }
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
    Date timeStamp_;
    std::vector<std::shared_ptr<HJOSCPacket>> elements_;
    bool hasElements_ = false;
};

}  // namespace velto

#include "common/osc/HJOSCBundle.h"

#include <algorithm>
#include <cstring>
#include <string_view>
#include <utility>

#include "common/osc/HJOSCDataUtilities.h"
#include "common/osc/HJOSCMessage.h"

namespace velto {

namespace {

using Utilities = HJOSCDataUtilities;

constexpr std::string_view kBundleHead("#bundle\0", 8);
constexpr std::size_t kHeadSize = HJOSCBundle::kHeadSize;

// Writes "#bundle", NUL and the time tag at `at`.
void writeHead(std::uint8_t* at, Date timeStamp) {
    std::memcpy(at, kBundleHead.data(), kBundleHead.size());
    Utilities::storeTimeTag(at + kBundleHead.size(), timeStamp);
}

// The last head written, so that the next one with the same time stamp is
// copied: nested bundles mostly share one, and the time tag is then not
// computed afresh at each of thousands of levels.
struct LastHead {
    Date timeStamp;
    const std::uint8_t* at = nullptr;
};

void writeHead(std::uint8_t* at, Date timeStamp, LastHead& last) {
    if (last.at != nullptr &&
        last.timeStamp.secondsSinceReferenceDate == timeStamp.secondsSinceReferenceDate) {
        std::memcpy(at, last.at, kHeadSize);
    } else {
        writeHead(at, timeStamp);
    }
    last = LastHead{timeStamp, at};
}

void appendTextHead(std::string& text, Date timeStamp) {
    text += "BUNDLE:\ntime: ";
    text += timeStamp.description();
}

std::uint32_t narrow(std::size_t count) { return static_cast<std::uint32_t>(count); }

}  // namespace

std::shared_ptr<HJOSCBundle> HJOSCBundle::bundleWithTimestamp(Date timeStamp) {
    return std::make_shared<HJOSCBundle>(timeStamp);
}

HJOSCBundle::HJOSCBundle(Date timeStamp) : timeStamp_(timeStamp) {}

void HJOSCBundle::attachObject(const std::shared_ptr<HJOSCBundle>& bundle) {
    if (bundle) attachObject(*bundle);
}

void HJOSCBundle::attachObject(const HJOSCBundle& bundle) {
    if (&bundle == this) {
        attachNested(HJOSCBundle(bundle));
    } else {
        attachNested(bundle);
    }
}

void HJOSCBundle::attachObject(HJOSCBundle&& bundle) {
    if (&bundle == this) {
        attachNested(HJOSCBundle(bundle));
    } else {
        attachNested(std::move(bundle));
    }
}

void HJOSCBundle::attachObject(const Element& element) {
    if (const HJOSCMessage* message = element.asMessage()) {
        attachObject(*message);
    } else if (const HJOSCBundle* bundle = element.asBundle()) {
        attachObject(*bundle);
    }
}

HJOSCMessage& HJOSCBundle::attachMessage(std::string_view address) {
    return attachElement(address);
}

void HJOSCBundle::attachObjects(std::vector<Element> elements) {
    hasElements_ = true;
    for (auto& element : elements) attachObject(element);
}

template <typename Bundle>
void HJOSCBundle::attachNested(Bundle&& bundle) {
    constexpr bool kTake = !std::is_lvalue_reference_v<Bundle>;
    const NestedStart start = nestedStart();
    if (kTake && messages_.empty() && nested_.empty()) {
        // Wrapping a bundle in a new one: its lists become ours as they are.
        messages_ = std::move(bundle.messages_);
        nested_ = std::move(bundle.nested_);
    } else {
        const auto offset = start.messages;
        if constexpr (kTake) {
            std::move(bundle.messages_.begin(), bundle.messages_.end(),
                      std::back_inserter(messages_));
        } else {
            messages_.insert(messages_.end(), bundle.messages_.begin(), bundle.messages_.end());
        }
        for (Nested nested : bundle.nested_) {
            nested.firstMessage += offset;
            nested.endMessage += offset;
            nested_.push_back(nested);
        }
    }
    closeNested(start, bundle.timeStamp_);
}

template <typename Visit>
void HJOSCBundle::walkBackward(Visit&& visit) const {
    std::size_t message = messages_.size();
    std::size_t nested = nested_.size();
    std::vector<std::size_t> open;  // nested bundles whose end was visited, innermost last
    if (!nested_.empty()) open.reserve(nested_.size());
    for (;;) {
        // A bundle starts where its first message and its first inner bundle are.
        while (!open.empty() && message == nested_[open.back()].firstMessage &&
               nested == open.back() - nested_[open.back()].inner) {
            visit(Step::bundleStart, open.back());
            open.pop_back();
        }
        if (nested > 0 && nested_[nested - 1].endMessage == message) {
            --nested;
            visit(Step::bundleEnd, nested);
            open.push_back(nested);
        } else if (message > 0) {
            --message;
            visit(Step::message, message);
        } else {
            return;
        }
    }
}

std::vector<HJOSCBundle::Element> HJOSCBundle::attachedObjects() const {
    std::vector<Element> elements;
    std::size_t depth = 0;
    walkBackward([&](Step step, std::size_t index) {
        if (step == Step::bundleStart) {
            --depth;
            return;
        }
        if (depth > 0) {
            if (step == Step::bundleEnd) ++depth;
            return;
        }
        if (step == Step::message) {
            elements.emplace_back(messages_[index]);
            return;
        }
        ++depth;
        const Nested& nested = nested_[index];
        auto bundle = std::make_shared<HJOSCBundle>(nested.timeStamp);
        bundle->hasElements_ = !nested.empty();
        bundle->messages_.assign(messages_.begin() + nested.firstMessage,
                                 messages_.begin() + nested.endMessage);
        for (std::size_t n = index - nested.inner; n < index; ++n) {
            Nested inner = nested_[n];
            inner.firstMessage -= nested.firstMessage;
            inner.endMessage -= nested.firstMessage;
            bundle->nested_.push_back(inner);
        }
        elements.emplace_back(std::move(bundle));
    });
    std::reverse(elements.begin(), elements.end());
    return elements;
}

std::vector<HJOSCBundle> HJOSCBundle::pack(std::span<const HJOSCMessage> messages, Date timeStamp,
                                           std::size_t maxSize) {
    std::vector<HJOSCBundle> parts;
    std::size_t partSize = 0;
    for (const HJOSCMessage& message : messages) {
        const std::size_t size = kElementSizeField + message.encodedSize();
        if (parts.empty() || partSize + size > maxSize) {
            parts.emplace_back(timeStamp);
            partSize = kHeadSize;
        }
        parts.back().attachObject(message);
        partSize += size;
    }
    return parts;
}

std::optional<Bytes> HJOSCBundle::packetizedData() const {
    Bytes out;
    if (!appendPacketizedData(out)) return std::nullopt;
    return out;
}

std::size_t HJOSCBundle::encodedSize() const {
    std::size_t size = kHeadSize;
    for (const HJOSCMessage& message : messages_) size += kElementSizeField + message.encodedSize();
    for (const Nested& nested : nested_)
        size += kElementSizeField + (nested.empty() ? 0 : kHeadSize);
    return size;
}

bool HJOSCBundle::appendPacketizedData(Bytes& out) const {
    if (messages_.empty() && nested_.empty()) return false;
    // One resize for the whole datagram, zero-filled: the padding is in place.
    const std::size_t start = out.size();
    const std::size_t size = encodedSize();
    out.resize(start + size);
    std::uint8_t* const first = out.data() + start;
    writeHead(first, timeStamp_);
    std::uint8_t* p = first + kHeadSize;
    if (nested_.empty()) {  // messages only, as a sender sends them: front to back
        for (const HJOSCMessage& message : messages_) {
            std::uint8_t* const sizeField = p;
            p = message.writeEncoding(p + kElementSizeField);
            Utilities::storeUInt(
                sizeField, narrow(static_cast<std::size_t>(p - sizeField) - kElementSizeField));
        }
        return true;
    }
    // With nested bundles, from the end back, so that each element's size is
    // known before its size field is written.
    p = first + size;
    std::vector<std::uint8_t*> ends;  // where the nested bundles being written end
    LastHead lastHead;
    if (!nested_.empty()) ends.reserve(nested_.size());
    walkBackward([&](Step step, std::size_t index) {
        switch (step) {
            case Step::message: {
                const std::size_t length = messages_[index].encodedSize();
                p -= length;
                messages_[index].writeEncoding(p);
                p -= kElementSizeField;
                Utilities::storeUInt(p, narrow(length));
                return;
            }
            case Step::bundleEnd:
                ends.push_back(p);
                return;
            case Step::bundleStart:
                if (!nested_[index].empty()) {  // else written as size 0
                    p -= kHeadSize;
                    writeHead(p, nested_[index].timeStamp, lastHead);
                }
                p -= kElementSizeField;
                Utilities::storeUInt(
                    p, narrow(static_cast<std::size_t>(ends.back() - p) - kElementSizeField));
                ends.pop_back();
                return;
        }
    });
    return true;
}

std::string HJOSCBundle::stringRepresentation() const {
    std::vector<std::pair<Step, std::size_t>> steps;
    walkBackward([&steps](Step step, std::size_t index) { steps.emplace_back(step, index); });
    std::string text;
    appendTextHead(text, timeStamp_);
    for (auto step = steps.rbegin(); step != steps.rend(); ++step) {
        if (step->first == Step::bundleEnd) continue;
        text += "\n---\n";
        if (step->first == Step::bundleStart) {
            appendTextHead(text, nested_[step->second].timeStamp);
        } else {
            text += messages_[step->second].stringRepresentation();
        }
    }
    return text;
}

}  // namespace velto

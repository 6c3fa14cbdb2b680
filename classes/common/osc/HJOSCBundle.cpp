#include "common/osc/HJOSCBundle.h"

#include <string_view>
#include <utility>

#include "common/osc/HJOSCDataUtilities.h"
#include "common/osc/HJOSCMessage.h"

namespace velto {

namespace {

using Utilities = HJOSCDataUtilities;

constexpr std::string_view kBundleHead("#bundle\0", 8);
constexpr std::size_t kHeadSize = 16;  // "#bundle", NUL and the time tag

void appendHead(Bytes& out, Date timeStamp) {
    out.insert(out.end(), kBundleHead.begin(), kBundleHead.end());
    Utilities::appendTimeTag(out, timeStamp);
}

// Fills in the size field at `at` with the length of what follows it.
void patchSize(Bytes& out, std::size_t at) {
    Utilities::storeUInt(out.data() + at, static_cast<std::uint32_t>(out.size() - at - 4));
}

void appendTextHead(std::string& text, Date timeStamp) {
    text += "BUNDLE:\ntime: ";
    text += timeStamp.description();
}

}  // namespace

std::shared_ptr<HJOSCBundle> HJOSCBundle::bundleWithTimestamp(Date timeStamp) {
    return std::make_shared<HJOSCBundle>(timeStamp);
}

HJOSCBundle::HJOSCBundle(Date timeStamp) : timeStamp_(timeStamp) {}

HJOSCBundle::~HJOSCBundle() {
    // Nested bundles that die with this one are taken apart here, level by
    // level, so that each of their destructors finds no bundle left to destroy
    // in turn: no recursion, however deep the nesting.
    std::vector<std::shared_ptr<HJOSCBundle>> dying;
    const auto takeDying = [&dying](std::vector<Element>& elements) {
        for (auto& element : elements) {
            auto* bundle = std::get_if<std::shared_ptr<HJOSCBundle>>(&element.packet_);
            if (bundle != nullptr && bundle->use_count() == 1) dying.push_back(std::move(*bundle));
        }
    };
    takeDying(elements_);
    while (!dying.empty()) {
        const std::shared_ptr<HJOSCBundle> bundle = std::move(dying.back());
        dying.pop_back();
        takeDying(bundle->elements_);
    }
}

void HJOSCBundle::attachObject(std::shared_ptr<HJOSCBundle> bundle) {
    if (bundle) attachElement(std::move(bundle));
}

void HJOSCBundle::attachObject(const Element& element) {
    if (element.get() != nullptr) attachElement(element);
}

HJOSCMessage& HJOSCBundle::attachMessage(std::string_view address) {
    attachElement(std::in_place_type<HJOSCMessage>, address);
    return std::get<HJOSCMessage>(elements_.back().packet_);
}

void HJOSCBundle::attachObjects(std::vector<Element> elements) {
    hasElements_ = true;
    for (auto& element : elements) {
        if (element.get() != nullptr) elements_.push_back(std::move(element));
    }
}

std::optional<Bytes> HJOSCBundle::packetizedData() const {
    if (elements_.empty()) return std::nullopt;
    // Room for the whole datagram when no element is a bundle; nested ones grow it.
    std::size_t estimate = kHeadSize;
    for (const auto& element : elements_) {
        const HJOSCMessage* message = element.asMessage();
        estimate += 4 + (message ? message->encodedSize() : kHeadSize);
    }
    Bytes out;
    out.reserve(estimate);
    appendPacketizedData(out);
    return out;
}

bool HJOSCBundle::appendPacketizedData(Bytes& out) const {
    if (elements_.empty()) return false;
    struct Level {
        const HJOSCBundle* bundle;
        std::size_t next;    // index of the next element to write
        std::size_t sizeAt;  // where the bundle's own size field is
    };
    std::vector<Level> outer;  // the bundles that `level` is nested in
    Level level{this, 0, 0};
    appendHead(out, timeStamp_);
    for (;;) {
        if (level.next == level.bundle->elements_.size()) {
            if (outer.empty()) return true;
            patchSize(out, level.sizeAt);
            level = outer.back();
            outer.pop_back();
            continue;
        }
        const Element& element = level.bundle->elements_[level.next++];
        const std::size_t sizeAt = out.size();
        Utilities::appendUInt(out, 0);
        if (const HJOSCBundle* nested = element.asBundle()) {
            // A bundle without elements stays at size 0.
            if (nested->elements_.empty()) continue;
            appendHead(out, nested->timeStamp_);
            outer.push_back(level);
            level = Level{nested, 0, sizeAt};
        } else {
            element.asMessage()->appendPacketizedData(out);
            patchSize(out, sizeAt);
        }
    }
}

std::string HJOSCBundle::stringRepresentation() const {
    struct Level {
        const HJOSCBundle* bundle;
        std::size_t next;
    };
    std::vector<Level> outer;
    Level level{this, 0};
    std::string text;
    appendTextHead(text, timeStamp_);
    for (;;) {
        if (level.next == level.bundle->elements_.size()) {
            if (outer.empty()) return text;
            level = outer.back();
            outer.pop_back();
            continue;
        }
        const Element& element = level.bundle->elements_[level.next++];
        text += "\n---\n";
        if (const HJOSCBundle* nested = element.asBundle()) {
            appendTextHead(text, nested->timeStamp_);
            outer.push_back(level);
            level = Level{nested, 0};
        } else {
            text += element->stringRepresentation();
        }
    }
}

}  // namespace velto

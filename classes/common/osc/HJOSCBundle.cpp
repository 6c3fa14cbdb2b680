#include "common/osc/HJOSCBundle.h"

#include <cstring>
#include <string_view>
#include <utility>

#include "common/osc/HJOSCDataUtilities.h"
#include "common/osc/HJOSCMessage.h"

namespace velto {

namespace {

using Utilities = HJOSCDataUtilities;

constexpr std::string_view kBundleHead("#bundle\0", 8);
constexpr std::size_t kHeadSize = 16;  // "#bundle", NUL and the time tag

// Writes "#bundle", NUL and the time tag at `at`; returns their end.
std::uint8_t* writeHead(std::uint8_t* at, Date timeStamp) {
    std::memcpy(at, kBundleHead.data(), kBundleHead.size());
    Utilities::storeTimeTag(at + kBundleHead.size(), timeStamp);
    return at + kHeadSize;
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
    Bytes out;
    if (!appendPacketizedData(out)) return std::nullopt;
    return out;
}

// Both walks below go through nested bundles with a list of their own; it
// stays empty, and costs nothing, while no element is a bundle.

std::size_t HJOSCBundle::encodedSize() const {
    struct Level {
        const HJOSCBundle* bundle;
        std::size_t next;  // index of the next element to count
    };
    std::vector<Level> outer;
    Level level{this, 0};
    std::size_t size = kHeadSize;
    for (;;) {
        if (level.next == level.bundle->elements_.size()) {
            if (outer.empty()) return size;
            level = outer.back();
            outer.pop_back();
            continue;
        }
        const Element& element = level.bundle->elements_[level.next++];
        size += 4;
        if (const HJOSCBundle* nested = element.asBundle()) {
            if (nested->elements_.empty()) continue;  // written as size 0
            size += kHeadSize;
            outer.push_back(level);
            level = Level{nested, 0};
        } else {
            size += element.asMessage()->encodedSize();
        }
    }
}

bool HJOSCBundle::appendPacketizedData(Bytes& out) const {
    if (elements_.empty()) return false;
    // One resize for the whole datagram, zero-filled: the padding is in place.
    const std::size_t start = out.size();
    out.resize(start + encodedSize());
    std::uint8_t* const base = out.data();
    std::uint8_t* p = writeHead(base + start, timeStamp_);
    struct Level {
        const HJOSCBundle* bundle;
        std::size_t next;    // index of the next element to write
        std::uint8_t* size;  // the bundle's own size field
    };
    std::vector<Level> outer;  // the bundles that `level` is nested in
    Level level{this, 0, nullptr};
    for (;;) {
        if (level.next == level.bundle->elements_.size()) {
            if (outer.empty()) return true;
            Utilities::storeUInt(level.size, static_cast<std::uint32_t>(p - level.size - 4));
            level = outer.back();
            outer.pop_back();
            continue;
        }
        const Element& element = level.bundle->elements_[level.next++];
        std::uint8_t* const size = p;
        p += 4;
        if (const HJOSCBundle* nested = element.asBundle()) {
            // A bundle without elements stays at size 0.
            if (nested->elements_.empty()) continue;
            p = writeHead(p, nested->timeStamp_);
            outer.push_back(level);
            level = Level{nested, 0, size};
        } else {
            p = element.asMessage()->writeEncoding(p);
            Utilities::storeUInt(size, static_cast<std::uint32_t>(p - size - 4));
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

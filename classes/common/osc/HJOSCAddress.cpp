#include "common/osc/HJOSCAddress.h"

#include "common/osc/HJOSCDataUtilities.h"

namespace velto {

std::shared_ptr<HJOSCAddress> HJOSCAddress::addressWithString(std::string_view text) {
    return std::make_shared<HJOSCAddress>(text);
}

std::shared_ptr<HJOSCAddress> HJOSCAddress::addressWithArray(
    const std::vector<std::string>& components) {
    std::string text;
    for (const auto& component : components) {
        text += '/';
        text += component;
    }
    return std::make_shared<HJOSCAddress>(text);
}

void HJOSCAddress::setAddress(std::string_view text) {
    // Through a fresh copy: `text` may lie in our own.
    SmallVector<char, kInlineLength> copy;
    copy.append(text.data(), text.data() + text.size());
    ascii_ = HJOSCDataUtilities::isASCII(text);
    address_ = std::move(copy);
}

void HJOSCAddress::appendPacketizedData(Bytes& out) const {
    HJOSCDataUtilities::appendString(out, wireText());
}

Bytes HJOSCAddress::packetizedData() const {
    Bytes out;
    appendPacketizedData(out);
    return out;
}

}  // namespace velto

#include "common/osc/HJOSCMessage.h"

#include <cstring>
#include <utility>

#include "common/osc/HJOSCDataUtilities.h"
#include "platform/Log.h"

namespace velto {

std::shared_ptr<HJOSCMessage> HJOSCMessage::messageWithHJOSCAddress(
    std::shared_ptr<HJOSCAddress> address) {
    if (!address) return nullptr;
    return std::make_shared<HJOSCMessage>(*address);
}

HJOSCMessage::HJOSCMessage(HJOSCAddress address) : address_(std::move(address)) {}

void HJOSCMessage::setAddress(HJOSCAddress address) { address_ = std::move(address); }

void HJOSCMessage::attachArgument(const std::shared_ptr<HJOSCArgument>& argument) {
    if (argument) attachArgument(*argument);
}

void HJOSCMessage::attachArguments(std::vector<HJOSCArgument> arguments) {
    hasArguments_ = true;
    arguments_.reserve(arguments_.size() + arguments.size());
    for (auto& argument : arguments) arguments_.push_back(std::move(argument));
}

std::string HJOSCMessage::typeTagString() const {
    std::string tags(1, ',');
    for (const auto& argument : attachedObjects()) tags += argument.type();
    return tags;
}

std::size_t HJOSCMessage::encodedSize() const {
    const auto arguments = attachedObjects();
    std::size_t size =
        address_.encodedSize() + HJOSCDataUtilities::paddedLength(1 + arguments.size());
    for (const auto& argument : arguments) size += argument.data().size();
    return size;
}

std::optional<Bytes> HJOSCMessage::packetizedData() const {
    Bytes out;
    out.reserve(encodedSize());
    appendPacketizedData(out);
    return out;
}

bool HJOSCMessage::appendPacketizedData(Bytes& out) const {
    const std::size_t at = out.size();
    out.resize(at + encodedSize());  // zero-filled, so every padding NUL is already in place
    writeEncoding(out.data() + at);
    return true;
}

std::uint8_t* HJOSCMessage::writeEncoding(std::uint8_t* p) const {
    const std::string_view text = address_.wireText();
    const auto arguments = attachedObjects();
    if (!text.empty()) std::memcpy(p, text.data(), text.size());
    p += HJOSCDataUtilities::paddedLength(text.size());
    p[0] = ',';
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        p[1 + i] = static_cast<std::uint8_t>(arguments[i].type());
    }
    p += HJOSCDataUtilities::paddedLength(1 + arguments.size());
    for (const auto& argument : arguments) {
        const ByteView data = argument.data();
        if (!data.empty()) std::memcpy(p, data.data(), data.size());
        p += data.size();
    }
    return p;
}

std::string HJOSCMessage::stringRepresentation() const {
    std::string text = "MESSAGE:\naddress:";
    text += escapeText(
        address_.address());  // the console text: received bytes never make lines of their own
    text += "\n types:";
    text += typeTagString();
    for (const auto& argument : attachedObjects()) {
        text += '\n';
        text += argument.description();
    }
    return text;
}

}  // namespace velto

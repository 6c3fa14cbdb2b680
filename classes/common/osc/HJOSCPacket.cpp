#include "common/osc/HJOSCPacket.h"

namespace velto {

HJOSCPacket::~HJOSCPacket() = default;

std::optional<Bytes> HJOSCPacket::packetizedData() const {
    Bytes out;
    if (!appendPacketizedData(out)) return std::nullopt;
    return out;
}

bool HJOSCPacket::appendPacketizedData(Bytes&) const { return false; }

std::string HJOSCPacket::stringRepresentation() const {
    return "abstract parent class: HJOSCPacket";
}

const HJOSCMessage* HJOSCPacket::asMessage() const { return nullptr; }

const HJOSCBundle* HJOSCPacket::asBundle() const { return nullptr; }

}  // namespace velto

#pragma once

// The --verbose log of OSC traffic: one line per message, as liblo's oscdump
// prints them, with the direction and the local or destination port:
//
//   RECEIVE 8000: /monome/press iii 3 2 1
//   SEND 5000: /stagevue/layer/opacity/1 f 25
//
// A message that the receiver did nothing with ends in " (ignored)". Bundles
// show as their messages, depth first; their time tags are not shown.

#include <cstddef>
#include <cstdint>
#include <string>

namespace velto {

class HJOSCMessage;
class HJOSCPacket;

class HJOSCTrafficLog {
public:
    // "/monome/press iii 3 2 1": the address, the type tags without their
    // comma, then each argument (ints and floats as numbers, strings quoted,
    // blobs as "[N byte blob]").
    static std::string describeMessage(const HJOSCMessage& message);

    static void logReceived(std::uint16_t port, const HJOSCMessage& message, bool ignored);
    static void logUndecodable(std::uint16_t port, std::size_t size);
    // One line per message of the packet.
    static void logSent(std::uint16_t port, const HJOSCPacket& packet);
};

}  // namespace velto

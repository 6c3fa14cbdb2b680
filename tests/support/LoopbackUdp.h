#pragma once

// Plain loopback UDP for whole-process tests: ports that are free at the
// moment of asking, and raw datagrams sent to a port.

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace velto::test {

// Distinct UDP ports that are free: all bound to port 0 together (so the
// system hands out different ones), read and released. Throws
// std::runtime_error when the system refuses a socket.
std::vector<std::uint16_t> freeLoopbackUdpPorts(std::size_t count);

// Sends the bytes as one datagram to 127.0.0.1 on the port. True when taken.
bool sendLoopbackDatagram(std::uint16_t port, std::string_view bytes);

}  // namespace velto::test

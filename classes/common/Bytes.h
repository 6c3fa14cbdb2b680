#pragma once

// Byte buffers as the whole program passes them: an owned, growable buffer
// (a datagram, an encoded packet, an atom) and a read-only view into one.

#include <cstdint>
#include <span>
#include <vector>

namespace velto {

using Bytes = std::vector<std::uint8_t>;
using ByteView = std::span<const std::uint8_t>;

}  // namespace velto

#include "PacketRoute.h"

#include <utility>

namespace velto::tools {

PacketRoute::PacketRoute(std::function<void(ByteView)> receive) : receive_(std::move(receive)) {}

void PacketRoute::dispatchRawPacket(ByteView data) { receive_(data); }

}  // namespace velto::tools

#pragma once

// Hands a listener's datagrams to a function: one of its owner's members.

#include <functional>

#include "common/Bytes.h"
#include "common/osc/HJOSCListenerDelegate.h"

namespace velto::tools {

class PacketRoute final : public HJOSCListenerDelegate {
public:
    explicit PacketRoute(std::function<void(ByteView)> receive);
    void dispatchRawPacket(ByteView data) override;

private:
    std::function<void(ByteView)> receive_;
};

}  // namespace velto::tools

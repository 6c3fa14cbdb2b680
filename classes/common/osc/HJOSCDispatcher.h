#pragma once

// The stock listener delegate: decodes each datagram and logs it as
// "DISPATCH: <packet text>". A new listener starts with one, so that datagrams
// arriving before the owner sets its own delegate are seen in the log.
// Main thread only, like every delegate call.

#include "common/osc/HJOSCListenerDelegate.h"

namespace velto {

class HJOSCDispatcher final : public HJOSCListenerDelegate {
public:
    // A datagram that holds no packet logs "DISPATCH: (null)"; a malformed one
    // logs nothing.
    void dispatchRawPacket(ByteView data) override;
};

}  // namespace velto

#pragma once

// What a listener hands its datagrams to. dispatchRawPacket is called on the
// main thread, once per received datagram, in the order of reception, with
// exactly the bytes received (possibly none). The view is valid during the
// call only.

#include "common/Bytes.h"

namespace velto {

class HJOSCListenerDelegate {
public:
    virtual ~HJOSCListenerDelegate();
    virtual void dispatchRawPacket(ByteView data) = 0;
};

}  // namespace velto

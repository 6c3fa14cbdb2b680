#include "common/osc/HJOSCDispatcher.h"

#include <string>

#include "common/osc/HJOSCDecoder.h"
#include "common/osc/HJOSCPacket.h"
#include "platform/Log.h"

namespace velto {

void HJOSCDispatcher::dispatchRawPacket(ByteView data) {
    HJOSCDecoder::Failure failure = HJOSCDecoder::Failure::none;
    const auto packet = HJOSCDecoder::decodeData(data, failure);
    if (packet) {
        Log::message("DISPATCH: " + packet->stringRepresentation());
    } else if (failure == HJOSCDecoder::Failure::noPacket) {
        // The text that a log line shows for a missing object.
        Log::message("DISPATCH: (null)");
    }
}

}  // namespace velto

// The stock delegate logs what it decodes, and nothing for a malformed datagram.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/osc/HJOSCDispatcher.h"
#include "platform/Log.h"
#include "support/ByteHelpers.h"

namespace velto {
namespace {

TEST(HJOSCDispatcherTest, LogsWhatTheDatagramDecodesTo) {
    const struct {
        Bytes datagram;
        std::vector<std::string> lines;
    } cases[] = {
        {test::hex("2362756e 646c6500 bdfa4700 80000000 0000000c 2f610000 2c690000 00000003"),
         {"DISPATCH: BUNDLE:\ntime: 2001-01-01 00:00:00.500 +0000\n---\nMESSAGE:\naddress:/a\n"
          " types:,i\ni { 3 }"}},
        {{}, {"DISPATCH: (null)"}},
        {test::hex("2f610000"), {"DISPATCH: (null)"}},  // no type tags
        {test::hex("2362756e64"), {}},                  // a bundle cut short
    };
    for (const auto& c : cases) {
        const Log::Capture capture;
        HJOSCDispatcher().dispatchRawPacket(c.datagram);
        EXPECT_EQ(capture.lines(), c.lines);
    }
}

}  // namespace
}  // namespace velto

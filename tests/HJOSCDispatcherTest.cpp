// The stock delegate logs what it decodes, and nothing for a malformed datagram.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/osc/HJOSCDispatcher.h"
#include "platform/Log.h"

namespace velto {
namespace {

template <std::size_t N>
Bytes raw(const char (&text)[N]) {
    return Bytes(text, text + N - 1);
}

TEST(HJOSCDispatcherTest, LogsWhatTheDatagramDecodesTo) {
    const std::pair<Bytes, std::vector<std::string>> cases[] = {
        {raw("#bundle\0\xbd\xfa\x47\0\x80\0\0\0\0\0\0\x0c/a\0\0,i\0\0\0\0\0\x03"),
         {"DISPATCH: BUNDLE:\ntime: 2001-01-01 00:00:00.500 +0000\n---\nMESSAGE:\naddress:/a\n"
          " types:,i\ni { 3 }"}},
        {{}, {"DISPATCH: (null)"}},
        {raw("/a\0\0"), {"DISPATCH: (null)"}},  // no type tags
        {raw("#bund"), {}},                     // a bundle cut short
    };
    for (const auto& [datagram, lines] : cases) {
        const Log::Capture capture;
        HJOSCDispatcher().dispatchRawPacket(datagram);
        EXPECT_EQ(capture.lines(), lines);
    }
}

}  // namespace
}  // namespace velto

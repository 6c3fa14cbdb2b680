// The console texts of arguments and packets.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/osc/HJOSCArgument.h"
#include "common/osc/HJOSCBundle.h"
#include "common/osc/HJOSCDispatcher.h"
#include "common/osc/HJOSCMessage.h"
#include "common/osc/HJOSCTrafficLog.h"
#include "platform/Log.h"

namespace velto {
namespace {

HJOSCArgument typed(char type, Bytes data) { return HJOSCArgument::withTypeAndData(type, data); }

TEST(HJOSCTextFormTest, ArgumentsShowTypeAndValue) {
    const std::pair<HJOSCArgument, const char*> cases[] = {
        {HJOSCArgument::withInt(-2147483647 - 1), "i { -2147483648 }"},
        {HJOSCArgument::withFloat(0.5f), "f { 0.500000 }"},
        {HJOSCArgument::withString(""), "s {  }"},
        {HJOSCArgument::withString("a\n\x1b[2J\\"), "s { a\\n\\x1b[2J\\\\ }"},
        {HJOSCArgument::withDataBlob(Bytes{1, 2, 3, 4, 0xab}), "b { <01020304 ab> }"},
        {HJOSCArgument::withDataBlob({}), "b { <> }"},
        {typed('b', Bytes{0, 0, 0, 9, 1}), "b { (null) }"},  // the size lies
        {typed('s', Bytes{'a', 0xe9, 0, 0}), "s { (null) }"},
        {typed('d', Bytes(8, 0)), "no arg value"}};
    for (const auto& [argument, text] : cases) EXPECT_EQ(argument.description(), text);
}

TEST(HJOSCTextFormTest, TrafficLineIsAddressTypesAndValuesAsOscdumpShowsThem) {
    HJOSCMessage message("/a");
    EXPECT_EQ(HJOSCTrafficLog::describeMessage(message), "/a");
    message.attachArguments({HJOSCArgument::withInt(-1), HJOSCArgument::withFloat(25.0f),
                             HJOSCArgument::withFloat(0.375f), HJOSCArgument::withString("hi"),
                             HJOSCArgument::withDataBlob(Bytes{1, 2, 3}), typed('d', Bytes(8, 0))});
    EXPECT_EQ(HJOSCTrafficLog::describeMessage(message),
              "/a iffsbd -1 25 0.375 \"hi\" [3 byte blob] ?");
}

TEST(HJOSCTextFormTest, BundleShowsItsTimeAndEachElementAfterASeparator) {
    const auto inner = HJOSCBundle::bundleWithTimestamp(Date{1.25});
    HJOSCMessage led("/monome/led");
    led.attachArguments({HJOSCArgument::withInt(3), HJOSCArgument::withInt(5)});
    inner->attachObject(HJOSCMessage(HJOSCAddress("/a\nDISPATCH: x\x1b\x7f\xff")));
    HJOSCBundle outer(Date{0.5});
    outer.attachObject(led);
    outer.attachObject(inner);
    outer.attachObject(std::make_shared<HJOSCBundle>(Date{0.0}));
    // Received text never adds a line of its own nor a terminal escape.
    EXPECT_EQ(outer.stringRepresentation(),
              "BUNDLE:\ntime: 2001-01-01 00:00:00.500 +0000"
              "\n---\nMESSAGE:\naddress:/monome/led\n types:,ii\ni { 3 }\ni { 5 }"
              "\n---\nBUNDLE:\ntime: 2001-01-01 00:00:01.250 +0000"
              "\n---\nMESSAGE:\naddress:/a\\nDISPATCH: x\\x1b\\x7f\\xff\n types:,"
              "\n---\nBUNDLE:\ntime: 2001-01-01 00:00:00.000 +0000");
}

// The stock delegate logs the text of what it decodes (the listener's test shows one),
// "(null)" for no packet, and nothing for a malformed datagram.
TEST(HJOSCTextFormTest, StockDispatcherLogsNullForNoPacketAndNothingWhenMalformed) {
    const Log::Capture capture;
    HJOSCDispatcher().dispatchRawPacket(Bytes{});
    HJOSCDispatcher().dispatchRawPacket(Bytes{'#', 'b', 'u', 'n', 'd'});
    EXPECT_EQ(capture.lines(), std::vector<std::string>{"DISPATCH: (null)"});
}

}  // namespace
}  // namespace velto

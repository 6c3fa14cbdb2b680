// The console texts of arguments and packets.

#include <gtest/gtest.h>

#include <string>

#include "common/osc/HJOSCArgument.h"
#include "common/osc/HJOSCBundle.h"
#include "common/osc/HJOSCMessage.h"
#include "common/osc/HJOSCPacket.h"
#include "common/osc/HJOSCTrafficLog.h"

namespace velto {
namespace {

struct DescriptionCase {
    const char* name;
    HJOSCArgument argument;
    const char* text;
};

HJOSCArgument typed(char type, Bytes data) { return HJOSCArgument::withTypeAndData(type, data); }

class HJOSCArgumentDescriptionTest : public ::testing::TestWithParam<DescriptionCase> {};

TEST_P(HJOSCArgumentDescriptionTest, ShowsTypeAndValue) {
    EXPECT_EQ(GetParam().argument.description(), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, HJOSCArgumentDescriptionTest,
    ::testing::Values(
        DescriptionCase{"Int", HJOSCArgument::withInt(3), "i { 3 }"},
        DescriptionCase{"NegativeInt", HJOSCArgument::withInt(-2147483647 - 1),
                        "i { -2147483648 }"},
        DescriptionCase{"Float", HJOSCArgument::withFloat(0.5f), "f { 0.500000 }"},
        DescriptionCase{"String", HJOSCArgument::withString("hello"), "s { hello }"},
        DescriptionCase{"EmptyString", HJOSCArgument::withString(""), "s {  }"},
        DescriptionCase{"StringWithControlBytes", HJOSCArgument::withString("a\n\x1b[2J\\"),
                        "s { a\\n\\x1b[2J\\\\ }"},
        DescriptionCase{"Blob", HJOSCArgument::withDataBlob(Bytes{1, 2, 3, 4, 0xab}),
                        "b { <01020304 ab> }"},
        DescriptionCase{"EmptyBlob", HJOSCArgument::withDataBlob({}), "b { <> }"},
        DescriptionCase{"BlobWhoseSizeLies", typed('b', Bytes{0, 0, 0, 9, 1}), "b { (null) }"},
        DescriptionCase{"StringNotASCII", typed('s', Bytes{'a', 0xe9, 0, 0}), "s { (null) }"},
        DescriptionCase{"NeverGivenAValue", HJOSCArgument(), "no arg value"},
        DescriptionCase{"UnknownType", typed('d', Bytes(8, 0)), "no arg value"}),
    [](const auto& info) { return std::string(info.param.name); });

HJOSCMessage led(int x, int y, int state) {
    HJOSCMessage message("/monome/led");
    message.attachArguments(
        {HJOSCArgument::withInt(x), HJOSCArgument::withInt(y), HJOSCArgument::withInt(state)});
    return message;
}

TEST(HJOSCTextFormTest, MessageShowsAddressTypesAndOneLinePerArgument) {
    EXPECT_EQ(led(3, 5, 1).stringRepresentation(),
              "MESSAGE:\naddress:/monome/led\n types:,iii\ni { 3 }\ni { 5 }\ni { 1 }");
}

TEST(HJOSCTextFormTest, TrafficLineIsAddressTypesAndValuesAsOscdumpShowsThem) {
    const struct {
        std::vector<HJOSCArgument> arguments;
        const char* text;
    } cases[] = {
        {{HJOSCArgument::withInt(3), HJOSCArgument::withInt(2), HJOSCArgument::withInt(-1)},
         "/a iii 3 2 -1"},
        {{HJOSCArgument::withFloat(25.0f), HJOSCArgument::withFloat(0.375f)}, "/a ff 25 0.375"},
        {{HJOSCArgument::withString("hi"), HJOSCArgument::withDataBlob(Bytes{1, 2, 3})},
         "/a sb \"hi\" [3 byte blob]"},
        {{typed('d', Bytes(8, 0))}, "/a d ?"},
        {{}, "/a"},
    };
    for (const auto& c : cases) {
        HJOSCMessage message("/a");
        for (const auto& argument : c.arguments) message.attachArgument(argument);
        EXPECT_EQ(HJOSCTrafficLog::describeMessage(message), c.text);
    }
}

TEST(HJOSCTextFormTest, MessageWithoutArgumentsEndsAfterItsTypes) {
    EXPECT_EQ(HJOSCMessage(HJOSCAddress("/stagevue/ping")).stringRepresentation(),
              "MESSAGE:\naddress:/stagevue/ping\n types:,");
    // Received text never adds a line of its own nor a terminal escape.
    EXPECT_EQ(HJOSCMessage(HJOSCAddress("/a\nDISPATCH: x\x1b\x7f\xff")).stringRepresentation(),
              "MESSAGE:\naddress:/a\\nDISPATCH: x\\x1b\\x7f\\xff\n types:,");
}

TEST(HJOSCTextFormTest, BundleShowsItsTimeAndEachElementAfterASeparator) {
    const auto inner = HJOSCBundle::bundleWithTimestamp(Date{1.25});
    inner->attachObject(led(0, 7, 0));
    HJOSCBundle outer(Date{0.5});
    outer.attachObject(led(3, 5, 1));
    outer.attachObject(inner);
    outer.attachObject(std::make_shared<HJOSCBundle>(Date{0.0}));
    EXPECT_EQ(outer.stringRepresentation(),
              "BUNDLE:\ntime: 2001-01-01 00:00:00.500 +0000"
              "\n---\nMESSAGE:\naddress:/monome/led\n types:,iii\ni { 3 }\ni { 5 }\ni { 1 }"
              "\n---\nBUNDLE:\ntime: 2001-01-01 00:00:01.250 +0000"
              "\n---\nMESSAGE:\naddress:/monome/led\n types:,iii\ni { 0 }\ni { 7 }\ni { 0 }"
              "\n---\nBUNDLE:\ntime: 2001-01-01 00:00:00.000 +0000");
}

class BarePacket : public HJOSCPacket {};

TEST(HJOSCTextFormTest, BarePacketNamesItsAbstractClass) {
    EXPECT_EQ(BarePacket().stringRepresentation(), "abstract parent class: HJOSCPacket");
}

}  // namespace
}  // namespace velto

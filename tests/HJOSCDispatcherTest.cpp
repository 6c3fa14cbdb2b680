// The stock delegate logs what it decodes, and nothing for a malformed datagram.

#include "common/osc/HJOSCDispatcher.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "common/osc/HJOSCAddress.h"
#include "common/osc/HJOSCArgument.h"
#include "common/osc/HJOSCBundle.h"
#include "common/osc/HJOSCMessage.h"
#include "platform/Log.h"

namespace velto {
namespace {

std::shared_ptr<HJOSCMessage> pressMessage() {
    auto message = HJOSCMessage::messageWithHJOSCAddress(HJOSCAddress::addressWithString("/monome/press"));
    message->attachArgument(HJOSCArgument::withInt(3));
    message->attachArgument(HJOSCArgument::withInt(5));
    message->attachArgument(HJOSCArgument::withInt(1));
    return message;
}

std::shared_ptr<HJOSCBundle> twoMessageBundle() {
    auto bundle = HJOSCBundle::bundleWithTimestamp(Date{12.5});
    bundle->attachObject(pressMessage());
    auto level = HJOSCMessage::messageWithHJOSCAddress(HJOSCAddress::addressWithString("/layer1/opacity"));
    level->attachArgument(HJOSCArgument::withFloat(0.5F));
    bundle->attachObject(level);
    return bundle;
}

Bytes text(const std::string& characters) { return Bytes(characters.begin(), characters.end()); }

struct DispatchCase {
    std::string name;
    Bytes datagram;
    std::optional<std::string> line;  // none: nothing is logged
};

class HJOSCDispatcherTest : public ::testing::TestWithParam<DispatchCase> {};

TEST_P(HJOSCDispatcherTest, LogsWhatTheDatagramDecodesTo) {
    const DispatchCase& dispatch = GetParam();
    const Log::Capture capture;
    HJOSCDispatcher().dispatchRawPacket(dispatch.datagram);
    const auto lines = capture.lines();
    if (dispatch.line) {
        EXPECT_EQ(lines, std::vector<std::string>{*dispatch.line});
    } else {
        EXPECT_TRUE(lines.empty());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Datagrams, HJOSCDispatcherTest,
    ::testing::Values(
        DispatchCase{"Message", pressMessage()->packetizedData().value(),
                     "DISPATCH: " + pressMessage()->stringRepresentation()},
        DispatchCase{"Bundle", twoMessageBundle()->packetizedData().value(),
                     "DISPATCH: " + twoMessageBundle()->stringRepresentation()},
        DispatchCase{"Empty", Bytes{}, "DISPATCH: (null)"},
        DispatchCase{"NoTypeTags", text(std::string("/a\0\0", 4)), "DISPATCH: (null)"},
        DispatchCase{"TruncatedBundle", text("#bund"), std::nullopt},
        DispatchCase{"UnknownTypeTag", text(std::string("/a\0\0,d\0\0\0\0\0\0\0\0\0\0", 16)), std::nullopt}),
    [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace velto

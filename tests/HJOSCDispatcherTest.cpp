// The stock delegate logs what it decodes, and nothing for a malformed datagram.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/osc/HJOSCAddress.h"
#include "common/osc/HJOSCArgument.h"
#include "common/osc/HJOSCBundle.h"
#include "common/osc/HJOSCDispatcher.h"
#include "common/osc/HJOSCMessage.h"
#include "platform/Log.h"

namespace velto {
namespace {

std::shared_ptr<HJOSCBundle> twoMessageBundle() {
    auto bundle = HJOSCBundle::bundleWithTimestamp(Date{12.5});
    for (const char* address : {"/monome/press", "/layer1/opacity"}) {
        auto message =
            HJOSCMessage::messageWithHJOSCAddress(HJOSCAddress::addressWithString(address));
        message->attachArgument(HJOSCArgument::withInt(3));
        bundle->attachObject(*message);
    }
    return bundle;
}

Bytes text(const std::string& characters) { return Bytes(characters.begin(), characters.end()); }

struct DispatchCase {
    std::string name;
    Bytes datagram;
    std::vector<std::string> lines;
};

class HJOSCDispatcherTest : public ::testing::TestWithParam<DispatchCase> {};

TEST_P(HJOSCDispatcherTest, LogsWhatTheDatagramDecodesTo) {
    const DispatchCase& dispatch = GetParam();
    const Log::Capture capture;
    HJOSCDispatcher().dispatchRawPacket(dispatch.datagram);
    EXPECT_EQ(capture.lines(), dispatch.lines);
}

INSTANTIATE_TEST_SUITE_P(
    Datagrams, HJOSCDispatcherTest,
    ::testing::Values(DispatchCase{"Bundle",
                                   twoMessageBundle()->packetizedData().value(),
                                   {"DISPATCH: " + twoMessageBundle()->stringRepresentation()}},
                      DispatchCase{"Empty", Bytes{}, {"DISPATCH: (null)"}},
                      DispatchCase{
                          "NoTypeTags", text(std::string("/a\0\0", 4)), {"DISPATCH: (null)"}},
                      DispatchCase{"TruncatedBundle", text("#bund"), {}}),
    [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace velto

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "SerialoscOptions.h"

namespace velto::tools {
namespace {

using Action = SerialoscOptions::Action;

SerialoscOptions parse(std::vector<const char*> arguments) {
    return SerialoscOptions::parse(arguments);
}

TEST(SerialoscOptionsTest, DefaultsAreSerialoscsAndVeltosOwnPorts) {
    const SerialoscOptions options = parse({});
    EXPECT_EQ(options.action, Action::run);
    EXPECT_EQ(options.serialoscPort, 12002);
    EXPECT_EQ(options.monomeSendPort, 8080);
    EXPECT_EQ(options.monomeListenPort, 8000);
    EXPECT_EQ(options.listenPort, 0);
    EXPECT_FALSE(options.device.has_value());
}

TEST(SerialoscOptionsTest, EveryPortAndTheDeviceCanBeGiven) {
    const SerialoscOptions options =
        parse({"--serialosc-port", "13000", "--monome-send-port=9080", "--monome-listen-port",
               "9000", "--listen-port", "9500", "--device", "m1000123"});
    EXPECT_EQ(options.action, Action::run);
    EXPECT_EQ(options.serialoscPort, 13000);
    EXPECT_EQ(options.monomeSendPort, 9080);
    EXPECT_EQ(options.monomeListenPort, 9000);
    EXPECT_EQ(options.listenPort, 9500);
    EXPECT_EQ(options.device, "m1000123");
    EXPECT_EQ(parse({"--version"}).action, Action::version);
    EXPECT_EQ(parse({"--listen-port", "x", "--help"}).action, Action::error);
    EXPECT_EQ(parse({"--listen-port", "8080", "-h"}).action, Action::help);
}

TEST(SerialoscOptionsTest, BadOptionsSayWhatIsWrong) {
    const std::vector<std::pair<std::vector<const char*>, std::string>> cases{
        {{"--bogus"}, "unknown option '--bogus'"},
        {{"--serialosc-port"}, "option --serialosc-port needs a port number"},
        {{"--monome-send-port", "80x"}, "option --monome-send-port: '80x' is not a number"},
        {{"--monome-listen-port", "0"}, "option --monome-listen-port: 0 is outside 1 to 65535"},
        {{"--listen-port=65536"}, "option --listen-port: 65536 is outside 0 to 65535"},
        {{"--device="}, "option --device needs the id of a grid"},
        {{"--listen-port", "8080"}, "--listen-port and --monome-send-port are both 8080"},
    };
    for (const auto& [arguments, message] : cases) {
        const SerialoscOptions options = parse(arguments);
        EXPECT_EQ(options.action, Action::error) << message;
        EXPECT_NE(options.error.find(message), std::string::npos) << options.error;
    }
}

}  // namespace
}  // namespace velto::tools

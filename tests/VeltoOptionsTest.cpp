// The command line: what each option asks for, and the clear error that a
// wrong one gives.

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "VeltoOptions.h"

namespace velto {
namespace {

using Action = VeltoOptions::Action;
using Ports = std::vector<std::pair<std::string, std::int32_t>>;

VeltoOptions parse(const std::vector<const char*>& arguments) {
    return VeltoOptions::parse(std::span<const char* const>(arguments.data(), arguments.size()));
}

TEST(VeltoOptionsTest, AcceptedOptionsGiveTheirActionSettingsPathPortsInOrderAndVerbosity) {
    const struct {
        std::vector<const char*> arguments;
        Action action;
        std::string settingsPath;
        Ports ports;
        bool verbose;
    } cases[] = {
        {{}, Action::run, "", {}, false},
        {{"--settings", "/tmp/velto.conf", "--verbose"}, Action::run, "/tmp/velto.conf", {}, true},
        {{"--settings=/tmp/a=b"}, Action::run, "/tmp/a=b", {}, false},
        {{"--monome-listen-port", "9000", "--stagevue-send-port=7000", "--monome-listen-port",
          "65535"},
         Action::run,
         "",
         {{"monomeListenPort", 9000}, {"stagevueSendPort", 7000}, {"monomeListenPort", 65535}},
         false},
        {{"--stagevue-listen-port", "1", "--monome-send-port=8081"},
         Action::run,
         "",
         {{"stagevueListenPort", 1}, {"monomeSendPort", 8081}},
         false},
        {{"--web-port", "0", "--web-port=8090"},
         Action::run,
         "",
         {{"webPort", 0}, {"webPort", 8090}},
         false},
        {{"--help", "--bogus"}, Action::help, "", {}, false},
        {{"--version"}, Action::version, "", {}, false},
    };
    for (const auto& c : cases) {
        const auto options = parse(c.arguments);
        SCOPED_TRACE(c.arguments.empty() ? "(nothing)" : c.arguments[0]);
        EXPECT_EQ(options.action, c.action);
        EXPECT_EQ(options.error, "");
        EXPECT_EQ(options.settingsPath, c.settingsPath);
        EXPECT_EQ(options.ports, c.ports);
        EXPECT_EQ(options.verbose, c.verbose);
        EXPECT_EQ(options.webHost, "127.0.0.1");
    }
    EXPECT_EQ(parse({"--web-host", "0.0.0.0"}).webHost, "0.0.0.0");
}

TEST(VeltoOptionsTest, WrongOptionGivesAnErrorThatNamesTheProblem) {
    const struct {
        std::vector<const char*> arguments;
        std::string error;
    } cases[] = {
        {{"--bogus=3"}, "unknown option '--bogus=3'"},
        {{"run"}, "unknown option 'run'"},
        {{"--monome-send-port"}, "option --monome-send-port needs a port number"},
        {{"--settings="}, "option --settings needs a file name"},
        {{"--monome-listen-port=80x"}, "option --monome-listen-port: '80x' is not a port number"},
        {{"--monome-listen-port", " 80"},
         "option --monome-listen-port: ' 80' is not a port number"},
        {{"--monome-send-port", "0"}, "option --monome-send-port: port 0 is outside 1 to 65535"},
        {{"--monome-send-port", "65536"},
         "option --monome-send-port: port 65536 is outside 1 to 65535"},
        {{"--stagevue-send-port=-1"}, "option --stagevue-send-port: port -1 is outside 1 to 65535"},
        {{"--stagevue-send-port", "99999999999"},
         "option --stagevue-send-port: '99999999999' is not a port number"},
        {{"--monome-send-port", "8081", "--monome-listen-port", "x"},
         "option --monome-listen-port: 'x' is not a port number"},
        {{"--verbose=1"}, "option --verbose takes no value"},
        {{"--web-port", "-1"}, "option --web-port: port -1 is outside 0 to 65535"},
        {{"--web-host="}, "option --web-host needs an address"},
    };
    for (const auto& c : cases) {
        const auto options = parse(c.arguments);
        EXPECT_EQ(options.action, Action::error) << c.error;
        EXPECT_EQ(options.error, c.error);
        EXPECT_TRUE(options.ports.empty()) << c.error;
    }
}

TEST(VeltoOptionsTest, UsageNamesEveryOption) {
    const auto usage = VeltoOptions::usage();
    for (const char* option :
         {"--settings", "--stagevue-send-port", "--stagevue-listen-port", "--monome-send-port",
          "--monome-listen-port", "--web-port", "--web-host", "--verbose", "--help", "--version"}) {
        EXPECT_NE(usage.find(option), std::string::npos) << option;
    }
}

}  // namespace
}  // namespace velto

// The command line: what each option asks for, and the clear error that a
// wrong one gives.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "VeltoOptions.h"

namespace velto {
namespace {

using Action = VeltoOptions::Action;

// What the options ask for: the action (an error as its text), then what
// differs from the defaults.
std::string summary(const VeltoOptions& options) {
    const Action a = options.action;
    std::string text = a == Action::run       ? "run"
                       : a == Action::help    ? "help"
                       : a == Action::version ? "version"
                                              : options.error;
    if (!options.settingsPath.empty()) text += " " + options.settingsPath;
    for (const auto& [key, port] : options.ports) text += " " + key + "=" + std::to_string(port);
    if (options.webHost != "127.0.0.1") text += " web " + options.webHost;
    return text + (options.verbose ? " verbose" : "");
}

TEST(VeltoOptionsTest, OptionsGiveTheirActionOrAnErrorThatNamesTheProblem) {
    const std::pair<std::vector<const char*>, std::string> cases[] = {
        {{}, "run"},
        {{"--settings", "/tmp/velto.conf", "--verbose"}, "run /tmp/velto.conf verbose"},
        {{"--settings=/tmp/a=b"}, "run /tmp/a=b"},
        {{"--monome-listen-port", "9000", "--stagevue-send-port=7000", "--monome-listen-port",
          "65535"},
         "run monomeListenPort=9000 stagevueSendPort=7000 monomeListenPort=65535"},
        {{"--stagevue-listen-port", "1", "--monome-send-port=8081"},
         "run stagevueListenPort=1 monomeSendPort=8081"},
        {{"--web-port", "0", "--web-port=8090", "--web-host", "0.0.0.0"},
         "run webPort=0 webPort=8090 web 0.0.0.0"},
        {{"--help", "--bogus"}, "help"},
        {{"--version"}, "version"},
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
        {{"--web-host="}, "option --web-host needs an address"}};
    for (const auto& [arguments, expected] : cases)
        EXPECT_EQ(summary(VeltoOptions::parse(arguments)), expected);
}

TEST(VeltoOptionsTest, UsageNamesEveryOption) {
    for (const char* option :
         {"--settings", "--stagevue-send-port", "--stagevue-listen-port", "--monome-send-port",
          "--monome-listen-port", "--web-port", "--web-host", "--verbose", "--help", "--version"})
        EXPECT_NE(VeltoOptions::usage().find(option), std::string::npos) << option;
}

}  // namespace
}  // namespace velto

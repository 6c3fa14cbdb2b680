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

struct AcceptedCase {
    const char* name;
    std::vector<const char*> arguments;
    Action action;
    std::string settingsPath;
    Ports ports;
    bool verbose;
};

class VeltoOptionsAcceptedTest : public ::testing::TestWithParam<AcceptedCase> {};

TEST_P(VeltoOptionsAcceptedTest, ParsesIntoTheRequestedAction) {
    const auto& c = GetParam();
    const auto options = parse(c.arguments);
    EXPECT_EQ(options.action, c.action);
    EXPECT_EQ(options.error, "");
    EXPECT_EQ(options.settingsPath, c.settingsPath);
    EXPECT_EQ(options.ports, c.ports);
    EXPECT_EQ(options.verbose, c.verbose);
}

INSTANTIATE_TEST_SUITE_P(
    Options, VeltoOptionsAcceptedTest,
    ::testing::Values(
        AcceptedCase{"Nothing", {}, Action::run, "", {}, false},
        AcceptedCase{"Settings", {"--settings", "/tmp/velto.conf"}, Action::run, "/tmp/velto.conf", {}, false},
        AcceptedCase{"SettingsInline", {"--settings=/tmp/a=b"}, Action::run, "/tmp/a=b", {}, false},
        AcceptedCase{"StagevueSendPort", {"--stagevue-send-port", "6000"}, Action::run, "",
                     {{"stagevueSendPort", 6000}}, false},
        AcceptedCase{"StagevueListenPortInline", {"--stagevue-listen-port=6001"}, Action::run, "",
                     {{"stagevueListenPort", 6001}}, false},
        AcceptedCase{"MonomeSendPort", {"--monome-send-port", "1"}, Action::run, "", {{"monomeSendPort", 1}}, false},
        AcceptedCase{"MonomeListenPortInline", {"--monome-listen-port=65535"}, Action::run, "",
                     {{"monomeListenPort", 65535}}, false},
        AcceptedCase{"PortsInCommandLineOrder",
                     {"--monome-listen-port", "9000", "--stagevue-send-port=7000", "--monome-listen-port", "9001"},
                     Action::run,
                     "",
                     {{"monomeListenPort", 9000}, {"stagevueSendPort", 7000}, {"monomeListenPort", 9001}},
                     false},
        AcceptedCase{"Verbose", {"--verbose"}, Action::run, "", {}, true},
        AcceptedCase{"Everything",
                     {"--verbose", "--settings", "s.conf", "--monome-send-port", "8081"},
                     Action::run,
                     "s.conf",
                     {{"monomeSendPort", 8081}},
                     true},
        AcceptedCase{"Help", {"--help"}, Action::help, "", {}, false},
        AcceptedCase{"HelpWinsOverLaterMistakes", {"--help", "--bogus"}, Action::help, "", {}, false},
        AcceptedCase{"Version", {"--version"}, Action::version, "", {}, false}),
    [](const auto& info) { return std::string(info.param.name); });

struct RefusedCase {
    const char* name;
    std::vector<const char*> arguments;
    std::vector<std::string> errorMentions;
};

class VeltoOptionsRefusedTest : public ::testing::TestWithParam<RefusedCase> {};

TEST_P(VeltoOptionsRefusedTest, GivesAnErrorThatNamesTheProblem) {
    const auto options = parse(GetParam().arguments);
    EXPECT_EQ(options.action, Action::error);
    for (const auto& fragment : GetParam().errorMentions) {
        EXPECT_NE(options.error.find(fragment), std::string::npos) << "'" << options.error << "' lacks " << fragment;
    }
    EXPECT_TRUE(options.ports.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Options, VeltoOptionsRefusedTest,
    ::testing::Values(
        RefusedCase{"UnknownOption", {"--bogus"}, {"--bogus"}},
        RefusedCase{"UnknownOptionWithValue", {"--bogus=3"}, {"--bogus=3"}},
        RefusedCase{"StrayWord", {"run"}, {"run"}},
        RefusedCase{"MissingPort", {"--monome-send-port"}, {"--monome-send-port"}},
        RefusedCase{"MissingSettingsFile", {"--settings"}, {"--settings"}},
        RefusedCase{"EmptySettingsFile", {"--settings="}, {"--settings"}},
        RefusedCase{"EmptyInlinePort", {"--stagevue-send-port="}, {"--stagevue-send-port"}},
        RefusedCase{"NonNumericPort", {"--stagevue-listen-port", "abc"}, {"--stagevue-listen-port", "abc"}},
        RefusedCase{"PortWithTrailingText", {"--monome-listen-port=80x"}, {"--monome-listen-port", "80x"}},
        RefusedCase{"PortWithSpace", {"--monome-listen-port", " 80"}, {"--monome-listen-port"}},
        RefusedCase{"PortZero", {"--monome-send-port", "0"}, {"--monome-send-port", "0"}},
        RefusedCase{"PortAboveRange", {"--monome-send-port", "65536"}, {"--monome-send-port", "65536"}},
        RefusedCase{"NegativePort", {"--stagevue-send-port=-1"}, {"--stagevue-send-port", "-1"}},
        RefusedCase{"PortBeyondInt", {"--stagevue-send-port", "99999999999"}, {"--stagevue-send-port"}},
        RefusedCase{"PortAfterAGoodOne", {"--monome-send-port", "8081", "--monome-listen-port", "x"},
                    {"--monome-listen-port"}},
        RefusedCase{"VerboseWithValue", {"--verbose=1"}, {"--verbose"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(VeltoOptionsUsageTest, UsageNamesEveryOption) {
    const auto usage = VeltoOptions::usage();
    for (const char* option : {"--settings", "--stagevue-send-port", "--stagevue-listen-port", "--monome-send-port",
                               "--monome-listen-port", "--verbose", "--help", "--version"}) {
        EXPECT_NE(usage.find(option), std::string::npos) << option;
    }
}

}  // namespace
}  // namespace velto

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ToolOptions.h"

namespace velto::tools {
namespace {

using Action = ToolOptions::Action;

const ToolOptions::Spec kGrid{8080, 8000, false, 0, 0};
const ToolOptions::Spec kVideo{5000, 5001, true, 4, 4};

ToolOptions parse(const ToolOptions::Spec& spec, std::vector<const char*> arguments) {
    return ToolOptions::parse(spec, arguments);
}

TEST(ToolOptionsTest, DefaultsComeFromTheTool) {
    const ToolOptions grid = parse(kGrid, {});
    EXPECT_EQ(grid.action, Action::run);
    EXPECT_EQ(grid.listenPort, 8080);
    EXPECT_EQ(grid.sendPort, 8000);
    EXPECT_FALSE(grid.plain);
    const ToolOptions video = parse(kVideo, {});
    EXPECT_EQ(video.listenPort, 5000);
    EXPECT_EQ(video.sendPort, 5001);
    EXPECT_EQ(video.layers, 4);
}

TEST(ToolOptionsTest, ValuesFollowTheirOptionOrComeAfterAnEqualsSign) {
    const ToolOptions options =
        parse(kVideo, {"--listen-port", "9000", "--send-port=9001", "--plain", "--layers", "0"});
    EXPECT_EQ(options.action, Action::run);
    EXPECT_EQ(options.listenPort, 9000);
    EXPECT_EQ(options.sendPort, 9001);
    EXPECT_TRUE(options.plain);
    EXPECT_EQ(options.layers, 0);
}

TEST(ToolOptionsTest, ListenPortZeroLetsTheSystemPick) {
    EXPECT_EQ(parse(kGrid, {"--listen-port=0"}).listenPort, 0);
}

TEST(ToolOptionsTest, HelpAndVersionWinOverWhatFollows) {
    EXPECT_EQ(parse(kGrid, {"--plain", "--help", "--bogus"}).action, Action::help);
    EXPECT_EQ(parse(kGrid, {"-h"}).action, Action::help);
    EXPECT_EQ(parse(kGrid, {"--version"}).action, Action::version);
}

struct BadCommandLine {
    const char* name;
    const ToolOptions::Spec* spec;
    std::vector<const char*> arguments;
    std::string error;
};

class ToolOptionsErrorTest : public ::testing::TestWithParam<BadCommandLine> {};

TEST_P(ToolOptionsErrorTest, SaysWhatIsWrong) {
    const ToolOptions options = parse(*GetParam().spec, GetParam().arguments);
    EXPECT_EQ(options.action, Action::error);
    EXPECT_EQ(options.error, GetParam().error);
}

INSTANTIATE_TEST_SUITE_P(
    CommandLines, ToolOptionsErrorTest,
    ::testing::Values(
        BadCommandLine{"unknown", &kGrid, {"--bogus"}, "unknown option '--bogus'"},
        BadCommandLine{"layersForTheGrid", &kGrid, {"--layers", "2"}, "unknown option '--layers'"},
        BadCommandLine{
            "missingValue", &kGrid, {"--send-port"}, "option --send-port needs a port number"},
        BadCommandLine{"notANumber",
                       &kGrid,
                       {"--listen-port", "80a"},
                       "option --listen-port: '80a' is not a number"},
        BadCommandLine{"portTooLarge",
                       &kGrid,
                       {"--listen-port=65536"},
                       "option --listen-port: 65536 is outside 0 to 65535"},
        BadCommandLine{"sendPortZero",
                       &kGrid,
                       {"--send-port", "0"},
                       "option --send-port: 0 is outside 1 to 65535"},
        BadCommandLine{
            "tooManyLayers", &kVideo, {"--layers", "5"}, "option --layers: 5 is outside 0 to 4"},
        BadCommandLine{"plainWithValue", &kGrid, {"--plain=yes"}, "option --plain takes no value"},
        BadCommandLine{
            "emptyValue", &kGrid, {"--send-port="}, "option --send-port: '' is not a number"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace velto::tools

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ToolOptions.h"

namespace velto::tools {
namespace {

using Action = ToolOptions::Action;

const ToolOptions::Profile kGrid{8080, 8000, false, 0, 0};
const ToolOptions::Profile kVideo{5000, 5001, true, 4, 4};

ToolOptions parse(const ToolOptions::Profile& profile, std::vector<const char*> arguments) {
    return ToolOptions::parse(profile, arguments);
}

TEST(ToolOptionsTest, DefaultsComeFromTheToolAndValuesFollowOrComeAfterAnEqualsSign) {
    const ToolOptions grid = parse(kGrid, {});
    EXPECT_EQ(grid.action, Action::run);
    EXPECT_EQ(grid.listenPort, 8080);
    EXPECT_EQ(grid.sendPort, 8000);
    EXPECT_FALSE(grid.plain);
    EXPECT_EQ(parse(kVideo, {}).layers, 4);

    const ToolOptions video =
        parse(kVideo, {"--listen-port", "0", "--send-port=9001", "--plain", "--layers", "0"});
    EXPECT_EQ(video.action, Action::run);
    EXPECT_EQ(video.listenPort, 0) << "the system picks";
    EXPECT_EQ(video.sendPort, 9001);
    EXPECT_TRUE(video.plain);
    EXPECT_EQ(video.layers, 0);
}

TEST(ToolOptionsTest, HelpAndVersionWinOverWhatFollows) {
    EXPECT_EQ(parse(kGrid, {"--plain", "--help", "--bogus"}).action, Action::help);
    EXPECT_EQ(parse(kGrid, {"-h"}).action, Action::help);
    EXPECT_EQ(parse(kGrid, {"--version"}).action, Action::version);
}

TEST(ToolOptionsTest, BadCommandLineSaysWhatIsWrong) {
    const struct {
        const ToolOptions::Profile& profile;
        std::vector<const char*> arguments;
        std::string error;
    } cases[] = {
        {kGrid, {"--bogus"}, "unknown option '--bogus'"},
        {kGrid, {"--layers", "2"}, "unknown option '--layers'"},
        {kGrid, {"--send-port"}, "option --send-port needs a port number"},
        {kGrid, {"--listen-port", "80a"}, "option --listen-port: '80a' is not a number"},
        {kGrid, {"--send-port="}, "option --send-port: '' is not a number"},
        {kGrid, {"--listen-port=65536"}, "option --listen-port: 65536 is outside 0 to 65535"},
        {kGrid, {"--send-port", "0"}, "option --send-port: 0 is outside 1 to 65535"},
        {kVideo, {"--layers", "5"}, "option --layers: 5 is outside 0 to 4"},
        {kGrid, {"--plain=yes"}, "option --plain takes no value"},
    };
    for (const auto& bad : cases) {
        SCOPED_TRACE(bad.error);
        const ToolOptions options = parse(bad.profile, bad.arguments);
        EXPECT_EQ(options.action, Action::error);
        EXPECT_EQ(options.error, bad.error);
    }
}

}  // namespace
}  // namespace velto::tools

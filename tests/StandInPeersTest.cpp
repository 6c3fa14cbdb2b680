// The stand-in peers with the real velto between them: velto-grid and
// velto-video in their plain mode (one line per event) on ports that were free
// a moment ago. velto-grid reads its commands from a named pipe that the test
// writes to. Every wait has a time limit and wakes on each new line.

#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "support/ChildProcess.h"
#include "support/CommandPipe.h"
#include "support/LoopbackUdp.h"

namespace velto {
namespace {

using namespace std::chrono_literals;
using test::ChildProcess;
using test::ExitStatus;
using Lines = std::vector<ChildProcess::Line>;

constexpr auto kLimit = 5000ms;  // generous for sanitizer builds on a busy machine

// Each light as velto-grid's last "led X Y on|off" line for it left it.
std::map<std::pair<int, int>, bool> lightsFrom(const Lines& lines) {
    std::map<std::pair<int, int>, bool> lights;
    for (const auto& line : lines) {
        std::istringstream words(line.text);
        std::string word, state;
        int x = 0, y = 0;
        if ((words >> word) && word == "led" && (words >> x >> y >> state))
            lights[{x, y}] = state == "on";
    }
    return lights;
}

// The values of velto-video's "opacity 4 <value>" lines, in order.
std::vector<double> opacitiesOfLayer4(const Lines& lines) {
    std::vector<double> values;
    for (const auto& line : lines) {
        if (line.text.starts_with("opacity 4 "))
            values.push_back(std::strtod(line.text.c_str() + 10, nullptr));
    }
    return values;
}

class StandInPeers : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/velto-peers-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        directory_ = pattern;
        commands_ = std::make_unique<test::CommandPipe>(directory_ / "grid-commands");

        const auto ports = test::freeLoopbackUdpPorts(4);
        const auto [videoPort, veltoVideoPort, gridPort, veltoGridPort] =
            std::tuple(std::to_string(ports[0]), std::to_string(ports[1]), std::to_string(ports[2]),
                       std::to_string(ports[3]));
        grid_ = std::make_unique<ChildProcess>(test::withInputFrom(
            commands_->path(), {VELTO_GRID_EXECUTABLE, "--plain", "--listen-port", gridPort,
                                "--send-port", veltoGridPort}));
        videoCommands_ = std::make_unique<test::CommandPipe>(directory_ / "video-commands");
        videoArguments_ = test::withInputFrom(
            videoCommands_->path(), {VELTO_VIDEO_EXECUTABLE, "--plain", "--listen-port", videoPort,
                                     "--send-port", veltoVideoPort});
        video_ = std::make_unique<ChildProcess>(videoArguments_);
        ASSERT_TRUE(grid_->waitForOutput("velto-grid ready", kLimit));
        ASSERT_TRUE(video_->waitForOutput("velto-video ready", kLimit));
        veltoArguments_ = {VELTO_EXECUTABLE,
                           "--settings",
                           (directory_ / "settings").string(),
                           "--stagevue-send-port",
                           videoPort,
                           "--stagevue-listen-port",
                           veltoVideoPort,
                           "--monome-send-port",
                           gridPort,
                           "--monome-listen-port",
                           veltoGridPort};
    }

    void TearDown() override {
        for (auto* process : {&velto_, &grid_, &video_}) {
            if (*process && !(*process)->waitForExit(0ms)) {
                (*process)->sendSignal(SIGTERM);
                EXPECT_EQ((*process)->waitForExit(kLimit), ExitStatus::exitedWith(0));
            }
            if (*process && HasFailure()) std::cerr << (*process)->transcript() << "\n";
            process->reset();
        }
        commands_.reset();
        videoCommands_.reset();
        std::error_code ignored;
        std::filesystem::remove_all(directory_, ignored);
    }

    void startVelto() { velto_ = std::make_unique<ChildProcess>(veltoArguments_); }

    bool send(const std::string& command) const { return commands_->send(command); }

    std::filesystem::path directory_;
    std::unique_ptr<test::CommandPipe> commands_;
    std::unique_ptr<test::CommandPipe> videoCommands_;
    std::vector<std::string> veltoArguments_;
    std::vector<std::string> videoArguments_;
    std::unique_ptr<ChildProcess> grid_;
    std::unique_ptr<ChildProcess> video_;
    std::unique_ptr<ChildProcess> velto_;
};

class StandInPeersInEitherOrder : public StandInPeers,
                                  public ::testing::WithParamInterface<bool> {};

TEST_P(StandInPeersInEitherOrder, VideoToolsAnswerToTheGreetingLightsTheGridTool) {
    const bool videoFirst = GetParam();
    if (!videoFirst) {
        ASSERT_TRUE(video_->sendSignal(SIGTERM));
        ASSERT_EQ(video_->waitForExit(kLimit), ExitStatus::exitedWith(0));
    }
    if (!videoFirst) veltoArguments_.push_back("--verbose");
    startVelto();
    if (!videoFirst) {
        // The greeting at start has gone out to nobody.
        ASSERT_TRUE(velto_->waitForOutput(": /stagevue/ping", kLimit));
        video_ = std::make_unique<ChildProcess>(videoArguments_);
    }
    ASSERT_TRUE(video_->waitForOutput("reported layers 4 and every value (ping)", kLimit));
    // Every layer starts fully opaque at full speed: the fader rows (4 to 6 as
    // the grid counts them) light fully, and each slider row shows its playhead.
    EXPECT_TRUE(grid_->waitForLines(
        [](const Lines& lines) {
            const auto lights = lightsFrom(lines);
            const auto litInRow = [&](int y) {
                return std::count_if(lights.begin(), lights.end(), [&](const auto& l) {
                    return l.first.second == y && l.second;
                });
            };
            return std::min({litInRow(0), litInRow(1), litInRow(2), litInRow(3)}) >= 1 &&
                   std::min({litInRow(4), litInRow(5), litInRow(6)}) == 8;
        },
        kLimit));
}

INSTANTIATE_TEST_SUITE_P(StartOrder, StandInPeersInEitherOrder, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "VideoFirst" : "VeltoFirst"; });

TEST_F(StandInPeers, PressesInTheGridToolMoveTheVideoToolAndItsFadeShowsOnTheGrid) {
    startVelto();
    ASSERT_TRUE(grid_->waitForOutput("led 0 4 on", kLimit));
    // Column 4 of row 1 is layer 3's slider, at its middle.
    ASSERT_TRUE(send("press 4 1"));
    EXPECT_TRUE(video_->waitForOutput("time 3 0.5", kLimit));
    ASSERT_TRUE(send("release 4 1"));
    EXPECT_TRUE(grid_->waitForOutput("sent release 4 1", kLimit));

    // Row 6, column 0: the bottom cell of layer 4's opacity fader, level 0.
    ASSERT_TRUE(send("press 0 6"));
    EXPECT_TRUE(video_->waitForLines(
        [](const Lines& lines) {
            const auto values = opacitiesOfLayer4(lines);
            return std::any_of(values.begin(), values.end(),
                               [](double value) { return value > 0 && value < 100; });
        },
        kLimit));
    ASSERT_TRUE(send("release 0 6"));
    EXPECT_TRUE(video_->waitForOutput("opacity 4 0", kLimit));
    // The fader's two upper cells go dark; the bottom one stays lit.
    EXPECT_TRUE(grid_->waitForLines(
        [](const Lines& lines) {
            const auto now = lightsFrom(lines);
            auto shown = [&](int y) {
                return now.contains({0, y}) ? std::optional(now.at({0, y})) : std::nullopt;
            };
            return shown(6) == true && shown(5) == false && shown(4) == false;
        },
        kLimit));
    const auto values = opacitiesOfLayer4(video_->lines());
    EXPECT_TRUE(std::is_sorted(values.rbegin(), values.rend())) << "the fade only goes down";
}

TEST_F(StandInPeers, ToolsQuitWithStatusZeroOnQuitOnSignalsAndAtTheEndOfTheirInput) {
    ASSERT_TRUE(send("quit"));
    EXPECT_EQ(grid_->waitForExit(kLimit), ExitStatus::exitedWith(0));
    ASSERT_TRUE(video_->sendSignal(SIGINT));
    EXPECT_EQ(video_->waitForExit(kLimit), ExitStatus::exitedWith(0));
    const auto ports = test::freeLoopbackUdpPorts(2);
    for (const std::string tool : {VELTO_GRID_EXECUTABLE, VELTO_VIDEO_EXECUTABLE}) {
        // Standard input from /dev/null: at once at the end of the input.
        std::string output;
        EXPECT_EQ(
            ChildProcess::run({VELTO_GRID_EXECUTABLE, "--plain", "--listen-port",
                               std::to_string(ports[0]), "--send-port", std::to_string(ports[1])},
                              kLimit, &output),
            ExitStatus::exitedWith(0))
            << tool << "\n"
            << output;
    }
}

TEST(StandInCommandLine, ExitsWithItsStatusAndSaysWhy) {
    const struct {
        std::vector<std::string> argv;
        int exitCode;
        std::vector<std::string> fragments;  // on standard output for 0, else standard error
    } cases[] = {
        {{VELTO_GRID_EXECUTABLE, "--help"},
         0,
         {"Usage: velto-grid", "--listen-port", "--send-port", "--plain"}},
        {{VELTO_VIDEO_EXECUTABLE, "--help"},
         0,
         {"Usage: velto-video", "--layers", "/stagevue/ping"}},
        {{VELTO_GRID_EXECUTABLE, "--bogus"}, 2, {"velto-grid: unknown option '--bogus'", "--help"}},
        {{VELTO_VIDEO_EXECUTABLE, "--layers", "9"},
         2,
         {"velto-video: option --layers: 9 is outside 0 to 4"}},
    };
    for (const auto& command : cases) {
        SCOPED_TRACE(command.argv.back());
        std::string output, errors;
        EXPECT_EQ(ChildProcess::run(command.argv, kLimit, &output, &errors),
                  ExitStatus::exitedWith(command.exitCode));
        const std::string& text = command.exitCode == 0 ? output : errors;
        for (const auto& fragment : command.fragments)
            EXPECT_NE(text.find(fragment), std::string::npos) << text;
    }
}

// The tools share the shell and the endpoint that refuse: velto-video holds
// the port and velto-grid is refused it.
TEST(StandInBusyPort, ToolRefusesAPortThatIsTaken) {
    const auto ports = test::freeLoopbackUdpPorts(2);
    const std::string port = std::to_string(ports[0]);
    // The first tool holds the port until the second has given up; its input stays open meanwhile.
    char pattern[] = "/tmp/velto-busy-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    const test::CommandPipe input(std::filesystem::path(pattern) / "input");
    ChildProcess first(
        test::withInputFrom(input.path(), {VELTO_VIDEO_EXECUTABLE, "--plain", "--listen-port", port,
                                           "--send-port", std::to_string(ports[1])}));
    ASSERT_TRUE(first.waitForOutput("ready", kLimit)) << first.transcript();
    std::string errors;
    EXPECT_EQ(ChildProcess::run({VELTO_GRID_EXECUTABLE, "--plain", "--listen-port", port}, kLimit,
                                nullptr, &errors),
              ExitStatus::exitedWith(1));
    EXPECT_NE(errors.find("cannot listen on UDP port " + port + ": Address already in use"),
              std::string::npos)
        << errors;
    ASSERT_TRUE(first.sendSignal(SIGTERM));
    EXPECT_EQ(first.waitForExit(kLimit), ExitStatus::exitedWith(0));
    std::filesystem::remove_all(pattern);
}

}  // namespace
}  // namespace velto

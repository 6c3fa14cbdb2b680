// The stand-in peers with the real velto between them: velto-grid and
// velto-video in their plain mode, on ports that were free a moment ago, with
// velto's settings in a temporary file. velto-grid takes its commands through
// a named pipe that the test writes to (its standard input); both tools print
// one line per event, and every wait has a time limit and wakes on each new
// line: nothing sleeps for a fixed time.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "support/ChildProcess.h"
#include "support/LoopbackUdp.h"

namespace velto {
namespace {

using namespace std::chrono_literals;
using test::ChildProcess;
using test::ExitStatus;
using Lines = std::vector<ChildProcess::Line>;

// Limits, not delays: generous for sanitizer builds on a busy machine.
constexpr auto kStartLimit = 5000ms;
constexpr auto kEventLimit = 5000ms;
constexpr auto kExitLimit = 5000ms;

std::filesystem::path makeTemporaryDirectory() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/velto-peers-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error("mkdtemp failed for " + pattern);
    return pattern;
}

// A named pipe that a child reads as its standard input. The test holds a
// reader of its own as well, so that writing never raises SIGPIPE, and the
// writer opens without waiting for the child.
class CommandPipe {
  public:
    explicit CommandPipe(std::filesystem::path path) : path_(std::move(path)) {
        if (::mkfifo(path_.c_str(), 0600) != 0)
            throw std::runtime_error("mkfifo failed for " + path_.string());
        reader_ = ::open(path_.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        writer_ = ::open(path_.c_str(), O_WRONLY | O_CLOEXEC);
        if (reader_ < 0 || writer_ < 0) throw std::runtime_error("cannot open " + path_.string());
    }
    ~CommandPipe() {
        ::close(writer_);
        ::close(reader_);
    }
    CommandPipe(const CommandPipe&) = delete;
    CommandPipe& operator=(const CommandPipe&) = delete;

    const std::filesystem::path& path() const { return path_; }

    bool send(const std::string& command) const {
        const std::string line = command + "\n";
        return ::write(writer_, line.data(), line.size()) == static_cast<ssize_t>(line.size());
    }

  private:
    std::filesystem::path path_;
    int reader_ = -1;
    int writer_ = -1;
};

// The command line of a program whose standard input comes from a file.
std::vector<std::string> withInputFrom(const std::filesystem::path& input,
                                       std::vector<std::string> argv) {
    std::vector<std::string> shell{"/bin/sh", "-c", "input=$1; shift; exec \"$@\" < \"$input\"",
                                   "sh", input.string()};
    shell.insert(shell.end(), argv.begin(), argv.end());
    return shell;
}

bool anyLine(const Lines& lines, const std::function<bool(const std::string&)>& test) {
    return std::any_of(lines.begin(), lines.end(),
                       [&](const ChildProcess::Line& line) { return test(line.text); });
}

// The grid's lights as velto-grid's "led X Y on|off" lines leave them.
std::map<std::pair<int, int>, bool> lightsFrom(const Lines& lines) {
    std::map<std::pair<int, int>, bool> lights;
    for (const auto& line : lines) {
        std::istringstream words(line.text);
        std::string word;
        int x = 0;
        int y = 0;
        std::string state;
        if ((words >> word) && word == "led" && (words >> x >> y >> state))
            lights[{x, y}] = state == "on";
    }
    return lights;
}

// The values of "opacity 4 <value>" lines of velto-video, in order.
std::vector<double> valuesFrom(const Lines& lines, std::string_view prefix) {
    std::vector<double> values;
    for (const auto& line : lines) {
        if (line.text.starts_with(prefix))
            values.push_back(std::strtod(line.text.c_str() + prefix.size(), nullptr));
    }
    return values;
}

class StandInPeers : public ::testing::Test {
  protected:
    void SetUp() override {
        directory_ = makeTemporaryDirectory();
        const auto ports = test::freeLoopbackUdpPorts(4);
        videoPort_ = ports[0];
        veltoVideoPort_ = ports[1];
        gridPort_ = ports[2];
        veltoGridPort_ = ports[3];
        gridCommands_ = std::make_unique<CommandPipe>(directory_ / "grid-commands");
    }

    void TearDown() override {
        for (auto* process : {&velto_, &grid_, &video_}) {
            if (*process && !(*process)->waitForExit(0ms)) {
                (*process)->sendSignal(SIGTERM);
                EXPECT_EQ((*process)->waitForExit(kExitLimit), ExitStatus::exitedWith(0));
            }
        }
        if (HasFailure()) {
            if (velto_) std::cerr << "=== velto ===\n" << velto_->transcript() << "\n";
            if (grid_) std::cerr << "=== velto-grid ===\n" << grid_->transcript() << "\n";
            if (video_) std::cerr << "=== velto-video ===\n" << video_->transcript() << "\n";
        }
        velto_.reset();
        grid_.reset();
        video_.reset();
        gridCommands_.reset();
        std::error_code ignored;
        std::filesystem::remove_all(directory_, ignored);
    }

    void startTools() {
        grid_ = std::make_unique<ChildProcess>(withInputFrom(
            gridCommands_->path(),
            {VELTO_GRID_EXECUTABLE, "--plain", "--listen-port", std::to_string(gridPort_),
             "--send-port", std::to_string(veltoGridPort_)}));
        // No input at all: the end of it must not end the tool.
        video_ = std::make_unique<ChildProcess>(std::vector<std::string>{
            VELTO_VIDEO_EXECUTABLE, "--plain", "--listen-port", std::to_string(videoPort_),
            "--send-port", std::to_string(veltoVideoPort_)});
        ASSERT_TRUE(grid_->waitForOutput("velto-grid ready", kStartLimit)) << grid_->transcript();
        ASSERT_TRUE(video_->waitForOutput("velto-video ready", kStartLimit))
            << video_->transcript();
    }

    void startVelto() {
        velto_ = std::make_unique<ChildProcess>(std::vector<std::string>{
            VELTO_EXECUTABLE, "--settings", (directory_ / "settings").string(),
            "--stagevue-send-port", std::to_string(videoPort_), "--stagevue-listen-port",
            std::to_string(veltoVideoPort_), "--monome-send-port", std::to_string(gridPort_),
            "--monome-listen-port", std::to_string(veltoGridPort_)});
    }

    std::filesystem::path directory_;
    std::uint16_t videoPort_ = 0;
    std::uint16_t veltoVideoPort_ = 0;
    std::uint16_t gridPort_ = 0;
    std::uint16_t veltoGridPort_ = 0;
    std::unique_ptr<CommandPipe> gridCommands_;
    std::unique_ptr<ChildProcess> grid_;
    std::unique_ptr<ChildProcess> video_;
    std::unique_ptr<ChildProcess> velto_;
};

TEST_F(StandInPeers, VideoToolsAnswerToTheGreetingLightsTheGrid) {
    ASSERT_NO_FATAL_FAILURE(startTools());
    startVelto();
    ASSERT_TRUE(video_->waitForOutput("reported layers 4 and every value (ping)", kEventLimit));
    // Every layer starts fully opaque at full speed: both groups of faders
    // (grid rows 4 to 6 as the grid counts them) light all their cells, and
    // each slider row (rows 0 to 3) shows its playhead.
    const bool lit = grid_->waitForLines(
        [](const Lines& lines) {
            const auto lights = lightsFrom(lines);
            auto everLit = [&](int x, int y) {
                return anyLine(lines, [&](const std::string& text) {
                    return text == "led " + std::to_string(x) + " " + std::to_string(y) + " on";
                });
            };
            for (int y = 4; y <= 6; ++y) {
                for (int x = 0; x < 8; ++x) {
                    const auto light = lights.find({x, y});
                    if (light == lights.end() || !light->second) return false;
                }
            }
            for (int y = 0; y <= 3; ++y) {
                bool playhead = false;
                for (int x = 0; x < 8; ++x) playhead = playhead || everLit(x, y);
                if (!playhead) return false;
            }
            return true;
        },
        kEventLimit);
    EXPECT_TRUE(lit);
}

TEST_F(StandInPeers, SliderPressInTheGridToolMovesTheVideoToolsPlayhead) {
    ASSERT_NO_FATAL_FAILURE(startTools());
    startVelto();
    ASSERT_TRUE(video_->waitForOutput("(ping)", kEventLimit));
    // Column 4 of the grid's row 1 is the slider of layer 3, at its middle.
    ASSERT_TRUE(gridCommands_->send("press 4 1"));
    ASSERT_TRUE(grid_->waitForOutput("sent press 4 1", kEventLimit));
    EXPECT_TRUE(video_->waitForOutput("time 3 0.5", kEventLimit));
    ASSERT_TRUE(gridCommands_->send("release 4 1"));
    EXPECT_TRUE(grid_->waitForOutput("sent release 4 1", kEventLimit));
}

TEST_F(StandInPeers, HeldFaderCellFadesTheVideoToolsOpacityAndTheGridShowsIt) {
    ASSERT_NO_FATAL_FAILURE(startTools());
    startVelto();
    ASSERT_TRUE(grid_->waitForOutput("led 0 4 on", kEventLimit));
    // Row 6, column 0: the bottom cell of layer 4's opacity fader, level 0.
    ASSERT_TRUE(gridCommands_->send("press 0 6"));
    const bool fading = video_->waitForLines(
        [](const Lines& lines) {
            const auto values = valuesFrom(lines, "opacity 4 ");
            return std::any_of(values.begin(), values.end(),
                               [](double value) { return value > 0 && value < 100; });
        },
        kEventLimit);
    EXPECT_TRUE(fading);
    ASSERT_TRUE(gridCommands_->send("release 0 6"));
    EXPECT_TRUE(video_->waitForOutput("opacity 4 0", kEventLimit));
    // The fader's two upper cells go dark on the grid; the bottom one stays lit.
    const bool dark = grid_->waitForLines(
        [](const Lines& lines) {
            const auto lights = lightsFrom(lines);
            auto shown = [&](int x, int y) -> std::optional<bool> {
                const auto light = lights.find({x, y});
                if (light == lights.end()) return std::nullopt;
                return light->second;
            };
            return shown(0, 4) == false && shown(0, 5) == false && shown(0, 6) == true;
        },
        kEventLimit);
    EXPECT_TRUE(dark);
    const auto values = valuesFrom(video_->lines(), "opacity 4 ");
    EXPECT_TRUE(std::is_sorted(values.rbegin(), values.rend())) << "the fade only goes down";
}

TEST_F(StandInPeers, ToolsQuitCleanlyOnQuitAndOnSignals) {
    ASSERT_NO_FATAL_FAILURE(startTools());
    ASSERT_TRUE(gridCommands_->send("quit"));
    EXPECT_EQ(grid_->waitForExit(kExitLimit), ExitStatus::exitedWith(0));
    ASSERT_TRUE(video_->sendSignal(SIGINT));
    EXPECT_EQ(video_->waitForExit(kExitLimit), ExitStatus::exitedWith(0));
}

// --- Command lines -----------------------------------------------------------------

struct CommandLine {
    const char* name;
    const char* program;
    std::vector<std::string> arguments;
    int exitCode;
    ChildProcess::Stream stream;
    std::vector<std::string> fragments;
};

class StandInCommandLine : public ::testing::TestWithParam<CommandLine> {};

TEST_P(StandInCommandLine, ExitsWithItsStatusAndSaysWhy) {
    const CommandLine& command = GetParam();
    std::vector<std::string> argv{command.program};
    argv.insert(argv.end(), command.arguments.begin(), command.arguments.end());
    std::string output;
    std::string errors;
    const auto status = ChildProcess::run(argv, kExitLimit, &output, &errors);
    ASSERT_TRUE(status.has_value());
    EXPECT_EQ(*status, ExitStatus::exitedWith(command.exitCode));
    const std::string& text = command.stream == ChildProcess::Stream::out ? output : errors;
    for (const auto& fragment : command.fragments) {
        EXPECT_NE(text.find(fragment), std::string::npos) << "'" << fragment << "' not in:\n"
                                                          << text;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Tools, StandInCommandLine,
    ::testing::Values(CommandLine{"GridHelp",
                                  VELTO_GRID_EXECUTABLE,
                                  {"--help"},
                                  0,
                                  ChildProcess::Stream::out,
                                  {"Usage: velto-grid", "--listen-port", "--send-port", "--plain",
                                   "/monome/press"}},
                      CommandLine{"VideoHelp",
                                  VELTO_VIDEO_EXECUTABLE,
                                  {"--help"},
                                  0,
                                  ChildProcess::Stream::out,
                                  {"Usage: velto-video", "--layers", "/stagevue/ping"}},
                      CommandLine{"GridUnknownOption",
                                  VELTO_GRID_EXECUTABLE,
                                  {"--bogus"},
                                  2,
                                  ChildProcess::Stream::err,
                                  {"velto-grid: unknown option '--bogus'", "--help"}},
                      CommandLine{"VideoBadLayers",
                                  VELTO_VIDEO_EXECUTABLE,
                                  {"--layers", "9"},
                                  2,
                                  ChildProcess::Stream::err,
                                  {"velto-video: option --layers: 9 is outside 0 to 4"}},
                      CommandLine{"GridBadPort",
                                  VELTO_GRID_EXECUTABLE,
                                  {"--send-port", "x"},
                                  2,
                                  ChildProcess::Stream::err,
                                  {"'x' is not a number"}}),
    [](const auto& info) { return std::string(info.param.name); });

class StandInBusyPort : public ::testing::TestWithParam<const char*> {};

TEST_P(StandInBusyPort, ToolRefusesAPortThatIsTaken) {
    const auto ports = test::freeLoopbackUdpPorts(2);
    // The first tool holds the port until the second has given up.
    ChildProcess first({GetParam(), "--plain", "--listen-port", std::to_string(ports[0]),
                        "--send-port", std::to_string(ports[1])});
    ASSERT_TRUE(first.waitForOutput("ready", kStartLimit)) << first.transcript();
    std::string errors;
    const auto status =
        ChildProcess::run({GetParam(), "--plain", "--listen-port", std::to_string(ports[0])},
                          kExitLimit, nullptr, &errors);
    EXPECT_EQ(status, ExitStatus::exitedWith(1));
    EXPECT_NE(errors.find("cannot listen on UDP port " + std::to_string(ports[0]) +
                          ": Address already in use"),
              std::string::npos)
        << errors;
    ASSERT_TRUE(first.sendSignal(SIGTERM));
    EXPECT_EQ(first.waitForExit(kExitLimit), ExitStatus::exitedWith(0));
}

INSTANTIATE_TEST_SUITE_P(Tools, StandInBusyPort,
                         ::testing::Values(VELTO_GRID_EXECUTABLE, VELTO_VIDEO_EXECUTABLE),
                         [](const auto& info) { return info.index == 0 ? "Grid" : "Video"; });

}  // namespace
}  // namespace velto

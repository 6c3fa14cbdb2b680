// The stand-in tools with the real velto between them, on ports that were free
// a moment ago: velto-video as the video app and velto-grid as the grid, either
// Velto's own or one served by serialosc with velto-serialosc in between (the
// stand-in is then serialosc too). They run in their plain mode, one line per
// event, and take commands through named pipes. Every wait has a generous limit
// (sanitizers, a busy machine) and wakes on each new line: nothing sleeps.

#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <iostream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/Udp.h"
#include "support/ChildProcess.h"
#include "support/CommandPipe.h"
#include "support/LoopbackUdp.h"

namespace velto {
namespace {

using namespace std::chrono_literals;
using test::ChildProcess;
using test::ExitStatus;
using Lines = std::vector<ChildProcess::Line>;

constexpr auto kLimit = 20000ms;

class StandInPeers : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/velto-peers-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        directory_ = pattern;
        for (const auto port : test::freeLoopbackUdpPorts(5))
            ports_.push_back(std::to_string(port));
    }

    void TearDown() override {
        for (auto& [name, process] : processes_) {
            if (!process->waitForExit(0ms)) {
                process->sendSignal(SIGTERM);
                EXPECT_EQ(process->waitForExit(kLimit), ExitStatus::exitedWith(0)) << name;
            }
            if (HasFailure()) std::cerr << "=== " << name << "\n" << process->transcript() << "\n";
        }
        std::filesystem::remove_all(directory_);
    }

    // Starts the program with commands from a pipe of its own (a new one for
    // each start), and waits for its line that says it runs ("velto-grid ready").
    ChildProcess& start(const std::string& name, std::vector<std::string> argv,
                        std::string ready = "") {
        if (ready.empty()) ready = std::filesystem::path(argv[0]).filename().string() + " ready";
        pipes_[name] = std::make_unique<test::CommandPipe>(
            directory_ / (name + std::to_string(processes_.size())));
        auto& process = processes_[name] = std::make_unique<ChildProcess>(
            test::withInputFrom(pipes_[name]->path(), std::move(argv)));
        EXPECT_TRUE(process->waitForOutput(ready, kLimit)) << name;
        return *process;
    }
    // The ports: video app's, Velto's for the video app, the grid's, Velto's for the grid,
    // serialosc's.
    ChildProcess& startVelto() {
        return start("velto",
                     {VELTO_EXECUTABLE, "--settings", (directory_ / "settings").string(),
                      "--stagevue-send-port", ports_[0], "--stagevue-listen-port", ports_[1],
                      "--monome-send-port", ports_[2], "--monome-listen-port", ports_[3]},
                     "grid: send");
    }
    bool send(const std::string& name, const std::string& command) {
        return pipes_.at(name)->send(command);
    }
    // Waits until the grid's last "led X Y on|off" line for each light, from
    // its line `from` on, is the one given.
    bool shows(const std::vector<std::string>& expected, std::size_t from = 0) {
        return processes_.at("grid")->waitForLines(
            [&](const Lines& lines) {
                for (const std::string& led : expected) {
                    const std::string light = led.substr(0, led.rfind(' ') + 1);  // "led X Y "
                    std::string last;
                    for (std::size_t i = from; i < lines.size(); ++i)
                        if (lines[i].text.starts_with(light)) last = lines[i].text;
                    if (last != led) return false;
                }
                return true;
            },
            kLimit);
    }

    std::filesystem::path directory_;
    std::vector<std::string> ports_;
    std::map<std::string, std::unique_ptr<test::CommandPipe>> pipes_;
    std::map<std::string, std::unique_ptr<ChildProcess>> processes_;
};

TEST_F(StandInPeers, GridMovesVideoAndVideoShowsOnGrid) {
    start("grid",
          {VELTO_GRID_EXECUTABLE, "--plain", "--listen-port", ports_[2], "--send-port", ports_[3]});
    ChildProcess& video = start("video", {VELTO_VIDEO_EXECUTABLE, "--plain", "--listen-port",
                                          ports_[0], "--send-port", ports_[1]});
    startVelto();
    ASSERT_TRUE(video.waitForOutput("reported layers 4 and every value (ping)", kLimit));
    // Fully opaque at full speed: the fader rows (4 to 6 as the grid counts them) light.
    ASSERT_TRUE(shows({"led 0 4 on", "led 7 6 on"}));
    // Row 6, column 0: the bottom cell of layer 4's opacity fader, faded down to 0.
    ASSERT_TRUE(send("grid", "tap 0 6"));
    EXPECT_TRUE(video.waitForOutput("opacity 4 0", kLimit));
    EXPECT_TRUE(shows({"led 0 6 on", "led 0 5 off", "led 0 4 off"}));

    // Layers gone from the video app are dark on the grid once Velto is told.
    ASSERT_TRUE(send("video", "layers 0"));
    EXPECT_TRUE(shows({"led 0 6 off", "led 7 6 off", "led 7 4 off"}));
}

TEST_F(StandInPeers, SerialoscGridRedrawnAfterReplug) {
    startVelto();
    ChildProcess& adapter =
        start("adapter", {VELTO_SERIALOSC_EXECUTABLE, "--serialosc-port", ports_[4],
                          "--monome-send-port", ports_[2], "--monome-listen-port", ports_[3]});
    // The stand-in is serialosc too: started after the adapter, it is found as
    // the adapter asks again.
    ChildProcess& grid = start(
        "grid", {VELTO_GRID_EXECUTABLE, "--serialosc", "--serialosc-port", ports_[4], "--plain"});
    ASSERT_TRUE(adapter.waitForOutput("grid velto-grid ready", kLimit));
    // Row 1 as the grid counts it is the slider of layer 3: one lit cell.
    ASSERT_TRUE(send("grid", "tap 4 1"));
    ASSERT_TRUE(shows({"led 4 1 on"}));

    // A grid starts dark: only the adapter's redraw, sent to its new port, lights it again.
    ASSERT_TRUE(send("grid", "unplug"));
    ASSERT_TRUE(adapter.waitForOutput("grid velto-grid is gone", kLimit));
    // A key pressed while unplugged never went down: no release follows it.
    ASSERT_TRUE(send("grid", "press 2 1"));
    ASSERT_TRUE(grid.waitForOutput("not sent: the grid is unplugged", kLimit));
    const std::size_t unplugged = grid.lineCount();
    ASSERT_TRUE(send("grid", "replug"));
    EXPECT_TRUE(shows({"led 4 1 on"}, unplugged));
    ASSERT_TRUE(send("grid", "release 2 1"));
    EXPECT_TRUE(grid.waitForOutput("release 2 1: the cell is not held", kLimit));
}

TEST(StandInCommandLine, ToolsExitWithTheirStatusAndSayWhy) {
    int error = 0;
    UdpSocket taken = UdpSocket::open(error);
    ASSERT_EQ(taken.bindAny(0), 0);
    const std::string busy = std::to_string(taken.localPort());
    const std::string grid = VELTO_GRID_EXECUTABLE, video = VELTO_VIDEO_EXECUTABLE,
                      adapter = VELTO_SERIALOSC_EXECUTABLE;
    const struct {
        std::vector<std::string> argv;
        int exitCode;
        std::string fragment;  // on standard output for 0, else standard error
    } cases[] = {
        // Standard input from /dev/null: they quit at once at the end of their input.
        {{grid, "--plain", "--listen-port", "0", "--send-port", busy}, 0, "grid ready"},
        {{adapter, "--help"}, 0, "Usage: velto-serialosc"},
        {{grid, "--bogus"}, 2, "velto-grid: unknown option '--bogus'"},
        {{video, "--layers", "9"}, 2, "velto-video: option --layers: 9 is outside 0 to 4"},
        {{adapter, "--serialosc-port", "x"}, 2, "velto-serialosc: option --serialosc-port: 'x'"},
        {{grid, "--serialosc", "--serialosc-port", "70000"}, 2, "70000 is outside 0 to 65535"},
        {{grid, "--plain", "--listen-port", busy},
         1,
         "UDP port " + busy + ": Address already in use"},
        {{adapter, "--monome-send-port", busy}, 1, "cannot listen on UDP port " + busy},
    };
    for (const auto& command : cases) {
        SCOPED_TRACE(command.fragment);
        std::string output, errors;
        EXPECT_EQ(ChildProcess::run(command.argv, kLimit, &output, &errors),
                  ExitStatus::exitedWith(command.exitCode));
        EXPECT_NE((command.exitCode == 0 ? output : errors).find(command.fragment),
                  std::string::npos)
            << output << errors;
    }
}

}  // namespace
}  // namespace velto

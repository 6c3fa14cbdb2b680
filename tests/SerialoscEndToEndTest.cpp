// velto-serialosc between the real velto and `velto-grid --serialosc --plain`,
// which stands in for a grid that serialosc serves, all on ports that were
// free a moment ago. The grid takes its commands through a named pipe; every
// wait has a time limit and wakes on each new line: nothing sleeps for a
// fixed time.

#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/Udp.h"
#include "support/ChildProcess.h"
#include "support/CommandPipe.h"
#include "support/LoopbackUdp.h"
#include "support/VeltoProcess.h"

namespace velto {
namespace {

using namespace std::chrono_literals;
using test::ChildProcess;
using test::ExitStatus;
using Lines = std::vector<ChildProcess::Line>;

// Limits, not delays: generous for sanitizer builds on a busy machine. The
// adapter asks serialosc again once a second.
constexpr auto kStartLimit = 5000ms;
constexpr auto kEventLimit = 5000ms;

// The grid's lights as the "led X Y on|off" lines from index `from` on leave them.
std::map<std::pair<int, int>, bool> lightsFrom(const Lines& lines, std::size_t from = 0) {
    std::map<std::pair<int, int>, bool> lights;
    for (std::size_t i = from; i < lines.size(); ++i) {
        std::istringstream words(lines[i].text);
        std::string word;
        std::string state;
        int x = 0;
        int y = 0;
        if ((words >> word) && word == "led" && (words >> x >> y >> state))
            lights[{x, y}] = state == "on";
    }
    return lights;
}

// The index just after the last line that contains the fragment; none when no line does.
std::optional<std::size_t> after(const Lines& lines, std::string_view fragment) {
    for (std::size_t i = lines.size(); i > 0; --i) {
        if (lines[i - 1].text.find(fragment) != std::string::npos) return i;
    }
    return std::nullopt;
}

class SerialoscEndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        const char* base = std::getenv("TMPDIR");
        std::string pattern =
            std::string(base && *base ? base : "/tmp") + "/velto-serialosc-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        directory_ = pattern;
        const auto ports = test::freeLoopbackUdpPorts(5);
        monomeSendPort_ = ports[0];
        monomeListenPort_ = ports[1];
        serialoscPort_ = ports[2];
        stagevueSendPort_ = ports[3];
        stagevueListenPort_ = ports[4];
        gridCommands_ = std::make_unique<test::CommandPipe>(directory_ / "grid-commands");
    }

    void TearDown() override {
        for (auto* process : {&adapter_, &grid_, &velto_}) {
            if (*process && !(*process)->waitForExit(0ms)) {
                (*process)->sendSignal(SIGTERM);
                EXPECT_EQ((*process)->waitForExit(kStartLimit), ExitStatus::exitedWith(0));
            }
        }
        if (HasFailure()) {
            if (velto_) std::cerr << "=== velto ===\n" << velto_->transcript() << "\n";
            if (adapter_)
                std::cerr << "=== velto-serialosc ===\n" << adapter_->transcript() << "\n";
            if (grid_) std::cerr << "=== velto-grid ===\n" << grid_->transcript() << "\n";
        }
        adapter_.reset();
        grid_.reset();
        velto_.reset();
        gridCommands_.reset();
        std::error_code ignored;
        std::filesystem::remove_all(directory_, ignored);
    }

    void startVelto() {
        velto_ = std::make_unique<ChildProcess>(std::vector<std::string>{
            VELTO_EXECUTABLE, "--settings", (directory_ / "settings").string(),
            "--stagevue-send-port", std::to_string(stagevueSendPort_), "--stagevue-listen-port",
            std::to_string(stagevueListenPort_), "--monome-send-port",
            std::to_string(monomeSendPort_), "--monome-listen-port",
            std::to_string(monomeListenPort_)});
        // Its line with the ports comes once it listens.
        ASSERT_TRUE(velto_->waitForOutput("grid: send", kStartLimit)) << velto_->transcript();
    }
    void startAdapter() {
        adapter_ = std::make_unique<ChildProcess>(std::vector<std::string>{
            VELTO_SERIALOSC_EXECUTABLE, "--serialosc-port", std::to_string(serialoscPort_),
            "--monome-send-port", std::to_string(monomeSendPort_), "--monome-listen-port",
            std::to_string(monomeListenPort_)});
        ASSERT_TRUE(adapter_->waitForOutput("velto-serialosc ready", kStartLimit))
            << adapter_->transcript();
    }
    void startGrid() {
        grid_ = std::make_unique<ChildProcess>(test::withInputFrom(
            gridCommands_->path(), {VELTO_GRID_EXECUTABLE, "--serialosc", "--serialosc-port",
                                    std::to_string(serialoscPort_), "--plain"}));
        ASSERT_TRUE(grid_->waitForOutput("velto-grid ready", kStartLimit)) << grid_->transcript();
    }
    // The adapter has found the grid, pointed it at itself and drawn it.
    void waitUntilConnected() {
        ASSERT_TRUE(adapter_->waitForOutput("grid velto-grid ready", kEventLimit));
        ASSERT_TRUE(grid_->waitForOutput("application at 127.0.0.1 port", kEventLimit));
    }
    void startAll() {
        ASSERT_NO_FATAL_FAILURE(startVelto());
        ASSERT_NO_FATAL_FAILURE(startGrid());
        ASSERT_NO_FATAL_FAILURE(startAdapter());
        ASSERT_NO_FATAL_FAILURE(waitUntilConnected());
    }

    // Waits until the lights that the grid has shown since the last line with
    // `since` (or since its start) include these.
    bool gridShows(std::map<std::pair<int, int>, bool> expected, std::string_view since = {}) {
        return grid_->waitForLines(
            [&](const Lines& lines) {
                std::size_t from = 0;
                if (!since.empty()) {
                    const auto start = after(lines, since);
                    if (!start) return false;
                    from = *start;
                }
                const auto shown = lightsFrom(lines, from);
                return std::all_of(expected.begin(), expected.end(), [&](const auto& light) {
                    const auto it = shown.find(light.first);
                    return it != shown.end() && it->second == light.second;
                });
            },
            kEventLimit);
    }

    std::filesystem::path directory_;
    std::uint16_t monomeSendPort_ = 0;
    std::uint16_t monomeListenPort_ = 0;
    std::uint16_t serialoscPort_ = 0;
    std::uint16_t stagevueSendPort_ = 0;
    std::uint16_t stagevueListenPort_ = 0;
    std::unique_ptr<test::CommandPipe> gridCommands_;
    std::unique_ptr<ChildProcess> velto_;
    std::unique_ptr<ChildProcess> adapter_;
    std::unique_ptr<ChildProcess> grid_;
};

TEST_F(SerialoscEndToEnd, PressInTheGridReachesVeltoAndComesBackAsLights) {
    ASSERT_NO_FATAL_FAILURE(startAll());
    // Row 1 as the grid counts it is the slider of layer 3: one lit cell.
    ASSERT_TRUE(gridCommands_->send("tap 4 1"));
    EXPECT_TRUE(gridShows({{{4, 1}, true}}));
    ASSERT_TRUE(gridCommands_->send("tap 2 1"));
    EXPECT_TRUE(gridShows({{{4, 1}, false}, {{2, 1}, true}}));

    ASSERT_TRUE(adapter_->sendSignal(SIGINT));
    EXPECT_EQ(adapter_->waitForExit(kStartLimit), ExitStatus::exitedWith(0));
}

TEST_F(SerialoscEndToEnd, GridThatIsRepluggedIsRedrawnWithWhatVeltoShows) {
    ASSERT_NO_FATAL_FAILURE(startAll());
    ASSERT_TRUE(gridCommands_->send("tap 4 1"));
    ASSERT_TRUE(gridShows({{{4, 1}, true}}));

    // A grid starts dark: only the adapter's redraw can light it again.
    ASSERT_TRUE(gridCommands_->send("unplug"));
    ASSERT_TRUE(adapter_->waitForOutput("grid velto-grid is gone", kEventLimit));
    ASSERT_TRUE(gridCommands_->send("replug"));
    EXPECT_TRUE(gridShows({{{4, 1}, true}}, "plugged in on port"));

    // What Velto shows while the grid is away is what it shows when it is back.
    ASSERT_TRUE(gridCommands_->send("unplug"));
    ASSERT_TRUE(grid_->waitForLines(
        [](const Lines& lines) {
            return std::count_if(lines.begin(), lines.end(),
                                 [](const auto& line) { return line.text == "unplugged"; }) == 2;
        },
        kEventLimit));
    const Bytes press = test::pressDatagram(6, 1, 1);
    ASSERT_TRUE(test::sendLoopbackDatagram(
        monomeListenPort_, {reinterpret_cast<const char*>(press.data()), press.size()}));
    // A key pressed while unplugged never went down: it is not held, and no
    // release follows it once the grid is back.
    ASSERT_TRUE(gridCommands_->send("press 2 1"));
    ASSERT_TRUE(grid_->waitForOutput("not sent: the grid is unplugged", kEventLimit));
    ASSERT_TRUE(gridCommands_->send("replug"));
    EXPECT_TRUE(gridShows({{{4, 1}, false}, {{6, 1}, true}}, "plugged in on port"));
    ASSERT_TRUE(gridCommands_->send("release 2 1"));
    EXPECT_TRUE(grid_->waitForOutput("error: release 2 1: the cell is not held", kEventLimit));
    ASSERT_TRUE(gridCommands_->send("tap 0 1"));
    EXPECT_TRUE(gridShows({{{6, 1}, false}, {{0, 1}, true}}));
}

TEST_F(SerialoscEndToEnd, GridIsLitAgainAfterSerialoscRestartsAndReplugsAreSeenAfterThat) {
    ASSERT_NO_FATAL_FAILURE(startAll());
    ASSERT_TRUE(gridCommands_->send("tap 4 1"));
    ASSERT_TRUE(gridShows({{{4, 1}, true}}));

    // The stand-in is serialosc as well: its quitting is serialosc stopping,
    // and a new one knows nothing of the adapter and serves the grid elsewhere.
    ASSERT_TRUE(gridCommands_->send("quit"));
    ASSERT_EQ(grid_->waitForExit(kStartLimit), ExitStatus::exitedWith(0));
    // Said after a few unanswered seconds: the wait allows for them.
    ASSERT_TRUE(adapter_->waitForOutput("serialosc went away", 2 * kEventLimit));
    gridCommands_ = std::make_unique<test::CommandPipe>(directory_ / "grid-commands-again");
    ASSERT_NO_FATAL_FAILURE(startGrid());
    EXPECT_TRUE(gridShows({{{4, 1}, true}}));
    EXPECT_TRUE(adapter_->waitForOutput("serialosc is back", kEventLimit));

    ASSERT_TRUE(gridCommands_->send("unplug"));
    ASSERT_TRUE(adapter_->waitForOutput("grid velto-grid is gone", kEventLimit));
    ASSERT_TRUE(gridCommands_->send("replug"));
    EXPECT_TRUE(gridShows({{{4, 1}, true}}, "plugged in on port"));
}

TEST_F(SerialoscEndToEnd, GridThatAppearsAfterTheAdapterIsFound) {
    ASSERT_NO_FATAL_FAILURE(startVelto());
    ASSERT_NO_FATAL_FAILURE(startAdapter());
    ASSERT_TRUE(adapter_->waitForOutput("no grid yet; waiting for serialosc", kEventLimit));
    ASSERT_NO_FATAL_FAILURE(startGrid());
    ASSERT_NO_FATAL_FAILURE(waitUntilConnected());
    ASSERT_TRUE(gridCommands_->send("tap 0 2"));
    EXPECT_TRUE(gridShows({{{0, 2}, true}}));
}

TEST(SerialoscCommandLine, ToolsExitWithTheirStatusAndSayWhy) {
    int error = 0;
    UdpSocket taken = UdpSocket::open(error);
    ASSERT_TRUE(taken.isValid());
    ASSERT_EQ(taken.bindAny(0), 0);
    const std::string busy = std::to_string(taken.localPort());
    struct Case {
        std::vector<std::string> argv;
        int exitCode;
        std::string fragment;  // in standard output for 0, in standard error otherwise
    };
    const std::vector<Case> cases{
        {{VELTO_SERIALOSC_EXECUTABLE, "--help"}, 0, "Usage: velto-serialosc"},
        {{VELTO_SERIALOSC_EXECUTABLE, "--bogus"}, 2, "velto-serialosc: unknown option '--bogus'"},
        {{VELTO_SERIALOSC_EXECUTABLE, "--serialosc-port", "x"}, 2, "'x' is not a number"},
        {{VELTO_SERIALOSC_EXECUTABLE, "--monome-send-port", busy},
         1,
         "cannot listen on UDP port " + busy},
        {{VELTO_GRID_EXECUTABLE, "--help"}, 0, "--serialosc-port"},
        {{VELTO_GRID_EXECUTABLE, "--serialosc", "--serialosc-port", "70000"},
         2,
         "option --serialosc-port: 70000 is outside 0 to 65535"},
    };
    for (const Case& command : cases) {
        std::string output;
        std::string errors;
        const auto status = ChildProcess::run(command.argv, kStartLimit, &output, &errors);
        EXPECT_EQ(status, ExitStatus::exitedWith(command.exitCode)) << command.argv[1];
        const std::string& text = command.exitCode == 0 ? output : errors;
        EXPECT_NE(text.find(command.fragment), std::string::npos) << command.fragment << " in:\n"
                                                                  << text;
    }
}

}  // namespace
}  // namespace velto

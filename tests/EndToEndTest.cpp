// The real velto executable on loopback, driven by an OSC implementation that
// is not ours: liblo's oscsend plays the grid's presses and the video app's
// reports, and two oscdump processes stand in for the video app and the grid
// and show what velto sends them. Each test runs its own velto with a settings
// file in a temporary directory and four ports that were free a moment ago.
//
// oscdump's print format is read loosely: a message is the first word of a
// line that begins with "/" and the words after it that read as numbers. Every
// wait has a time limit and wakes on each new line; nothing sleeps for a fixed
// time. Where a test must show that something did NOT happen, it sends a later
// press through the same port as a marker: velto handles one port's datagrams
// in order and sends each peer's messages in order, so anything the earlier
// datagram caused would arrive before the marker's effect.

#include <gtest/gtest.h>

#include <signal.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <string_view>
#include <stdexcept>
#include <utility>
#include <vector>

#include "support/ChildProcess.h"
#include "support/LoopbackUdp.h"

namespace velto {
namespace {

using namespace std::chrono_literals;
using test::ChildProcess;
using test::ExitStatus;
using Clock = std::chrono::steady_clock;

// Limits, not delays: each wait ends as soon as its event is seen. They are
// generous for sanitizer builds on a busy machine.
constexpr auto kEventLimit = 4000ms;
constexpr auto kStartLimit = 5000ms;
constexpr auto kExitLimit = 5000ms;
constexpr auto kToolLimit = 5000ms;

constexpr std::string_view kProbeAddress = "/e2e/probe";

// --- OSC datagrams made by hand (for probes, bundles and malformed input) ---------

std::string oscString(std::string_view text) {
    std::string field(text);
    field.push_back('\0');
    while (field.size() % 4 != 0) field.push_back('\0');
    return field;
}

std::string int32(std::int32_t value) {
    const auto bits = static_cast<std::uint32_t>(value);
    return {static_cast<char>(bits >> 24), static_cast<char>(bits >> 16), static_cast<char>(bits >> 8),
            static_cast<char>(bits)};
}

std::string intMessage(std::string_view address, const std::vector<std::int32_t>& values) {
    std::string datagram = oscString(address) + oscString("," + std::string(values.size(), 'i'));
    for (const auto value : values) datagram += int32(value);
    return datagram;
}

std::string pressDatagram(int x, int monomeRow, int state) {
    return intMessage("/monome/press", {x, monomeRow, state});
}

// A bundle "to be handled at once" (time tag 1) holding the elements in order.
std::string bundle(const std::vector<std::string>& elements) {
    std::string datagram = std::string("#bundle", 7) + '\0' + int32(0) + int32(1);
    for (const auto& element : elements) datagram += int32(static_cast<std::int32_t>(element.size())) + element;
    return datagram;
}

// --- What oscdump shows ----------------------------------------------------------

struct OscMessage {
    std::string address;
    std::vector<double> values;
    Clock::time_point arrived;
};

std::optional<double> number(const std::string& word) {
    if (word.empty()) return std::nullopt;
    char* end = nullptr;
    const double value = std::strtod(word.c_str(), &end);
    if (end != word.c_str() + word.size()) return std::nullopt;
    return value;
}

std::optional<OscMessage> parseDumpLine(const ChildProcess::Line& line) {
    if (line.stream != ChildProcess::Stream::out) return std::nullopt;
    std::istringstream words(line.text);
    std::string word;
    while (words >> word && !word.starts_with('/')) {
    }
    if (!word.starts_with('/')) return std::nullopt;
    OscMessage message{word, {}, line.arrived};
    while (words >> word) {
        if (const auto value = number(word)) message.values.push_back(*value);
    }
    return message;
}

std::vector<OscMessage> parseDump(const std::vector<ChildProcess::Line>& lines) {
    std::vector<OscMessage> messages;
    for (const auto& line : lines) {
        auto message = parseDumpLine(line);
        if (message && message->address != kProbeAddress) messages.push_back(std::move(*message));
    }
    return messages;
}

struct Light {
    int x;
    int y;  // the grid's own row, 0 at the top
    int state;
    bool operator==(const Light&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Light& light) {
    return out << "(" << light.x << "," << light.y << ":" << light.state << ")";
}

std::vector<Light> lightsIn(const std::vector<OscMessage>& messages) {
    std::vector<Light> lights;
    for (const auto& message : messages) {
        if (message.address != "/monome/led" || message.values.size() != 3) continue;
        lights.push_back({static_cast<int>(message.values[0]), static_cast<int>(message.values[1]),
                          static_cast<int>(message.values[2])});
    }
    return lights;
}

std::vector<OscMessage> messagesTo(const std::vector<OscMessage>& messages, std::string_view address) {
    std::vector<OscMessage> found;
    for (const auto& message : messages) {
        if (message.address == address) found.push_back(message);
    }
    return found;
}

// The last argument of every message to the address, in arrival order.
std::vector<double> valuesTo(const std::vector<OscMessage>& messages, std::string_view address) {
    std::vector<double> values;
    for (const auto& message : messagesTo(messages, address)) {
        values.push_back(message.values.empty() ? NAN : message.values.back());
    }
    return values;
}

// One slider row drawn with the cell at `lit` on (none when lit is -1).
std::vector<Light> sliderRow(int monomeRow, int lit) {
    std::vector<Light> row;
    for (int x = 0; x < 8; ++x) row.push_back({x, monomeRow, x == lit ? 1 : 0});
    return row;
}

// One fader column drawn bottom up (monome rows 6, 5, 4) with `lit` cells on.
std::vector<Light> faderColumn(int x, int lit) {
    return {{x, 6, lit >= 1 ? 1 : 0}, {x, 5, lit >= 2 ? 1 : 0}, {x, 4, lit >= 3 ? 1 : 0}};
}

std::string sliderAddress(int layer) { return "/stagevue/layer/media/time/" + std::to_string(layer); }
int sliderMonomeRow(int layer) { return 4 - layer; }  // layer 1 on grid row 4, the monome's row 3

// --- liblo's tools -----------------------------------------------------------------

bool libloToolsInstalled() {
    return ChildProcess::findProgram("oscsend").has_value() && ChildProcess::findProgram("oscdump").has_value();
}

::testing::AssertionResult oscsend(std::uint16_t port, const std::string& address, const std::string& types,
                                   const std::vector<std::string>& values = {}) {
    std::vector<std::string> argv{"oscsend", "127.0.0.1", std::to_string(port), address, types};
    argv.insert(argv.end(), values.begin(), values.end());
    std::string errors;
    const auto status = ChildProcess::run(argv, kToolLimit, nullptr, &errors);
    if (status == ExitStatus::exitedWith(0)) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "oscsend " << address << " to port " << port << " ended with "
                                         << (status ? ::testing::PrintToString(*status) : "a time-out") << ": "
                                         << errors;
}

::testing::AssertionResult press(std::uint16_t port, int x, int monomeRow, int state = 1) {
    return oscsend(port, "/monome/press", "iii", {std::to_string(x), std::to_string(monomeRow), std::to_string(state)});
}

// An oscdump process listening on a port, standing in for one of velto's peers.
class OscDumpPeer {
public:
    explicit OscDumpPeer(std::uint16_t port)
        : port_(port), process_({"oscdump", "-L", std::to_string(port)}) {}  // -L: one flush per line

    std::uint16_t port() const { return port_; }

    // oscdump binds its port some time after it starts: probe it until a probe
    // shows up in its output.
    ::testing::AssertionResult waitUntilListening() {
        const auto deadline = Clock::now() + kStartLimit;
        for (std::int32_t attempt = 0; Clock::now() < deadline; ++attempt) {
            if (const auto status = process_.waitForExit(0ms)) {
                return ::testing::AssertionFailure() << "oscdump on port " << port_ << " ended with " << *status
                                                     << "\n" << process_.transcript();
            }
            test::sendLoopbackDatagram(port_, intMessage(kProbeAddress, {attempt}));
            if (process_.waitForOutput(kProbeAddress, 50ms)) return ::testing::AssertionSuccess();
        }
        return ::testing::AssertionFailure() << "oscdump on port " << port_ << " never showed a probe\n"
                                             << process_.transcript();
    }

    std::vector<OscMessage> messages() const { return parseDump(process_.lines()); }

    bool waitFor(const std::function<bool(const std::vector<OscMessage>&)>& condition,
                 std::chrono::milliseconds limit = kEventLimit) const {
        return process_.waitForLines([&](const auto& lines) { return condition(parseDump(lines)); }, limit);
    }

    bool waitForLights(std::size_t count, std::chrono::milliseconds limit = kEventLimit) const {
        return waitFor([&](const auto& messages) { return lightsIn(messages).size() >= count; }, limit);
    }

    bool waitForValues(std::string_view address, std::size_t count,
                       std::chrono::milliseconds limit = kEventLimit) const {
        return waitFor([&](const auto& messages) { return valuesTo(messages, address).size() >= count; }, limit);
    }

    std::string transcript() const { return process_.transcript(); }

private:
    std::uint16_t port_;
    ChildProcess process_;
};

std::filesystem::path makeTemporaryDirectory() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/velto-e2e-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed for " + pattern);
    return pattern;
}

// The "key = value" lines of a settings file, read loosely.
std::map<std::string, long> readSettings(const std::filesystem::path& path) {
    std::map<std::string, long> settings;
    std::ifstream file(path);
    std::string line;
    while (std::getline(file, line)) {
        const auto equals = line.find('=');
        if (equals == std::string::npos) continue;
        std::istringstream key(line.substr(0, equals));
        std::string name;
        key >> name;
        char* end = nullptr;
        const std::string value = line.substr(equals + 1);
        const long number = std::strtol(value.c_str(), &end, 10);
        if (!name.empty() && end != value.c_str()) settings[name] = number;
    }
    return settings;
}

// --- The fixture -------------------------------------------------------------------

class VeltoEndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        if (!libloToolsInstalled()) GTEST_SKIP() << "liblo-tools (oscsend, oscdump) is not installed";
        directory_ = makeTemporaryDirectory();
        settingsPath_ = directory_ / "settings";
        // A port that was free a moment ago can be taken by another process
        // before oscdump binds it; then oscdump ends and fresh ports are tried.
        ::testing::AssertionResult listening = ::testing::AssertionFailure();
        for (int attempt = 0; attempt < 3 && !listening; ++attempt) {
            const auto ports = test::freeLoopbackUdpPorts(4);
            videoAppPort_ = ports[0];
            veltoVideoPort_ = ports[1];
            gridPort_ = ports[2];
            veltoGridPort_ = ports[3];
            videoApp_ = std::make_unique<OscDumpPeer>(videoAppPort_);
            grid_ = std::make_unique<OscDumpPeer>(gridPort_);
            listening = videoApp_->waitUntilListening();
            if (listening) listening = grid_->waitUntilListening();
        }
        ASSERT_TRUE(listening);
    }

    void TearDown() override {
        if (velto_ && !velto_->waitForExit(0ms)) {
            // Every test ends with a clean quit: in a sanitizer build this is
            // where leaks and errors at shutdown are caught.
            velto_->sendSignal(SIGTERM);
            EXPECT_EQ(velto_->waitForExit(kExitLimit), ExitStatus::exitedWith(0));
        }
        if (HasFailure()) {
            if (velto_) std::cerr << "=== velto ===\n" << velto_->transcript() << "\n";
            if (videoApp_) std::cerr << "=== video app (oscdump) ===\n" << videoApp_->transcript() << "\n";
            if (grid_) std::cerr << "=== grid (oscdump) ===\n" << grid_->transcript() << "\n";
        }
        velto_.reset();
        if (!directory_.empty()) {
            std::error_code ignored;
            std::filesystem::remove_all(directory_, ignored);
        }
    }

    std::vector<std::string> portArguments() const {
        return {"--stagevue-send-port",  std::to_string(videoAppPort_), "--stagevue-listen-port",
                std::to_string(veltoVideoPort_), "--monome-send-port",      std::to_string(gridPort_),
                "--monome-listen-port",  std::to_string(veltoGridPort_)};
    }

    // Starts velto with the settings file and the given arguments (by default
    // the four ports) and waits until it has said its start line and greeted
    // the video app: then its listeners are bound and its run loop is running.
    // With the default arguments, a listen port that another process took in
    // the meantime ("bind: ...") is replaced by a fresh one and velto restarted.
    ::testing::AssertionResult startVelto(std::optional<std::vector<std::string>> arguments = std::nullopt) {
        for (int attempt = 0;; ++attempt) {
            std::vector<std::string> argv{VELTO_EXECUTABLE, "--settings", settingsPath_.string()};
            const auto extra = arguments.value_or(portArguments());
            argv.insert(argv.end(), extra.begin(), extra.end());
            velto_ = std::make_unique<ChildProcess>(argv);
            if (!velto_->waitForLines([&](const auto& lines) { return hasStartLine(lines); }, kStartLimit)) {
                return ::testing::AssertionFailure() << "velto said no start line\n" << velto_->transcript();
            }
            if (!saidBindFailure()) break;
            if (arguments || attempt == 2) {
                return ::testing::AssertionFailure() << "velto could not bind its ports\n" << velto_->transcript();
            }
            velto_.reset();
            const auto ports = test::freeLoopbackUdpPorts(2);
            veltoVideoPort_ = ports[0];
            veltoGridPort_ = ports[1];
        }
        if (!videoApp_->waitForValues("/stagevue/ping", 1, kStartLimit)) {
            return ::testing::AssertionFailure() << "the video app was not greeted with /stagevue/ping";
        }
        return ::testing::AssertionSuccess();
    }

    // The start line names the settings file and the ports, among them the
    // port on which velto listens for the grid.
    bool hasStartLine(const std::vector<ChildProcess::Line>& lines) const {
        const std::string listenPort = std::to_string(veltoGridPort_);
        return std::any_of(lines.begin(), lines.end(), [&](const ChildProcess::Line& line) {
            return line.text.find("velto") != std::string::npos && line.text.find(listenPort) != std::string::npos;
        });
    }

    bool saidBindFailure() const {
        const auto lines = velto_->lines();
        return std::any_of(lines.begin(), lines.end(),
                           [](const ChildProcess::Line& line) { return line.text.starts_with("bind:"); });
    }

    std::filesystem::path directory_;
    std::filesystem::path settingsPath_;
    std::uint16_t videoAppPort_ = 0;    // the video app listens here (velto's stagevueSendPort)
    std::uint16_t veltoVideoPort_ = 0;  // velto listens here for the video app
    std::uint16_t gridPort_ = 0;        // the grid listens here (velto's monomeSendPort)
    std::uint16_t veltoGridPort_ = 0;   // velto listens here for the grid
    std::unique_ptr<OscDumpPeer> videoApp_;
    std::unique_ptr<OscDumpPeer> grid_;
    std::unique_ptr<ChildProcess> velto_;
};

// --- Start-up and settings ---------------------------------------------------------

TEST_F(VeltoEndToEnd, GreetsTheVideoAppWithAPingAndLightsNothingAtStartUp) {
    ASSERT_TRUE(startVelto());

    const auto pings = messagesTo(videoApp_->messages(), "/stagevue/ping");
    ASSERT_EQ(pings.size(), 1u);
    EXPECT_TRUE(pings[0].values.empty());

    // Marker: the first lights that reach the grid are those of this press.
    ASSERT_TRUE(press(veltoGridPort_, 2, sliderMonomeRow(1)));
    ASSERT_TRUE(grid_->waitForLights(8));
    EXPECT_EQ(lightsIn(grid_->messages()), sliderRow(sliderMonomeRow(1), 2));
    EXPECT_TRUE(messagesTo(grid_->messages(), "/stagevue/ping").empty());
}

TEST_F(VeltoEndToEnd, FirstStartWritesTheFourPortsIntoTheSettingsFile) {
    ASSERT_FALSE(std::filesystem::exists(settingsPath_));
    ASSERT_TRUE(startVelto());

    const auto settings = readSettings(settingsPath_);
    EXPECT_EQ(settings.at("stagevueSendPort"), videoAppPort_);
    EXPECT_EQ(settings.at("stagevueListenPort"), veltoVideoPort_);
    EXPECT_EQ(settings.at("monomeSendPort"), gridPort_);
    EXPECT_EQ(settings.at("monomeListenPort"), veltoGridPort_);
}

TEST_F(VeltoEndToEnd, StoredPortsAreUsedAndKeptWhenNoneAreGivenOnTheCommandLine) {
    {
        std::ofstream file(settingsPath_);
        file << "stagevueSendPort = " << videoAppPort_ << "\n"
             << "stagevueListenPort = " << veltoVideoPort_ << "\n"
             << "monomeSendPort = " << gridPort_ << "\n"
             << "monomeListenPort = " << veltoGridPort_ << "\n";
    }
    ASSERT_TRUE(startVelto(std::vector<std::string>{}));  // greets the stored video-app port

    ASSERT_TRUE(press(veltoGridPort_, 1, sliderMonomeRow(1)));
    ASSERT_TRUE(videoApp_->waitForValues(sliderAddress(1), 1));
    EXPECT_TRUE(grid_->waitForLights(8));

    const auto settings = readSettings(settingsPath_);
    EXPECT_EQ(settings.at("stagevueSendPort"), videoAppPort_);
    EXPECT_EQ(settings.at("stagevueListenPort"), veltoVideoPort_);
    EXPECT_EQ(settings.at("monomeSendPort"), gridPort_);
    EXPECT_EQ(settings.at("monomeListenPort"), veltoGridPort_);
}

TEST_F(VeltoEndToEnd, HangUpSignalMovesTheVideoAppToThePortNowInTheSettingsFile) {
    ASSERT_TRUE(startVelto());
    const auto newPort = test::freeLoopbackUdpPorts(1).at(0);
    OscDumpPeer movedVideoApp(newPort);
    ASSERT_TRUE(movedVideoApp.waitUntilListening());
    {
        std::ofstream file(settingsPath_);
        file << "stagevueSendPort = " << newPort << "\n"
             << "stagevueListenPort = " << veltoVideoPort_ << "\n"
             << "monomeSendPort = " << gridPort_ << "\n"
             << "monomeListenPort = " << veltoGridPort_ << "\n";
    }
    ASSERT_TRUE(velto_->sendSignal(SIGHUP));
    ASSERT_TRUE(velto_->waitForLines(
        [&](const auto& lines) {
            return std::count_if(lines.begin(), lines.end(), [&](const ChildProcess::Line& line) {
                       return line.text.find(std::to_string(newPort)) != std::string::npos;
                   }) >= 1;
        },
        kEventLimit));

    ASSERT_TRUE(press(veltoGridPort_, 4, sliderMonomeRow(2)));
    ASSERT_TRUE(movedVideoApp.waitForValues(sliderAddress(2), 1));
    EXPECT_DOUBLE_EQ(valuesTo(movedVideoApp.messages(), sliderAddress(2)).at(0), 0.5);
    EXPECT_TRUE(valuesTo(videoApp_->messages(), sliderAddress(2)).empty());
}

// --- Presses on the grid -----------------------------------------------------------

struct SliderPress {
    int layer;
    int column;
    double value;
};

void PrintTo(const SliderPress& press, std::ostream* out) {
    *out << "layer " << press.layer << ", column " << press.column;
}

class SliderPressEndToEnd : public VeltoEndToEnd, public ::testing::WithParamInterface<SliderPress> {};

TEST_P(SliderPressEndToEnd, SendsTheColumnsValueAndLightsThatCellAloneAndIgnoresTheRelease) {
    const auto [layer, column, value] = GetParam();
    const int row = sliderMonomeRow(layer);
    ASSERT_TRUE(startVelto());

    ASSERT_TRUE(press(veltoGridPort_, column, row, 1));
    ASSERT_TRUE(videoApp_->waitForValues(sliderAddress(layer), 1));
    ASSERT_TRUE(grid_->waitForLights(8));
    EXPECT_NEAR(valuesTo(videoApp_->messages(), sliderAddress(layer)).at(0), value, 1e-6);
    EXPECT_EQ(lightsIn(grid_->messages()), sliderRow(row, column));

    // The release does nothing: the next press's value and row come right after.
    const int next = (column + 1) % 8;
    ASSERT_TRUE(press(veltoGridPort_, column, row, 0));
    ASSERT_TRUE(press(veltoGridPort_, next, row, 1));
    ASSERT_TRUE(videoApp_->waitForValues(sliderAddress(layer), 2));
    ASSERT_TRUE(grid_->waitForLights(16));
    const auto values = valuesTo(videoApp_->messages(), sliderAddress(layer));
    ASSERT_EQ(values.size(), 2u);
    EXPECT_NEAR(values[1], next / 8.0, 1e-6);
    const auto lights = lightsIn(grid_->messages());
    ASSERT_EQ(lights.size(), 16u);
    EXPECT_EQ(std::vector<Light>(lights.begin() + 8, lights.end()), sliderRow(row, next));
}

INSTANTIATE_TEST_SUITE_P(EachLayer, SliderPressEndToEnd,
                         ::testing::Values(SliderPress{1, 0, 0.0}, SliderPress{2, 3, 0.375},
                                           SliderPress{3, 7, 0.875}, SliderPress{4, 5, 0.625}),
                         [](const auto& info) {
                             return "Layer" + std::to_string(info.param.layer) + "Column" +
                                    std::to_string(info.param.column);
                         });

TEST_F(VeltoEndToEnd, FaderPressSendsRisingLevelsEvery25MillisecondsAndDrawsTheBar) {
    constexpr std::string_view kAddress = "/stagevue/layer/opacity/1";  // column 3
    ASSERT_TRUE(startVelto());

    // Holding the top cell fades 0 -> 100 over about two seconds.
    ASSERT_TRUE(press(veltoGridPort_, 3, 4, 1));
    ASSERT_TRUE(videoApp_->waitFor(
        [&](const auto& messages) {
            const auto values = valuesTo(messages, kAddress);
            return !values.empty() && values.back() == 100.0;
        },
        kEventLimit));

    const auto levels = messagesTo(videoApp_->messages(), kAddress);
    ASSERT_GE(levels.size(), 20u) << "a two-second fade at 40 ticks a second";
    EXPECT_LE(levels.size(), 90u);
    EXPECT_LT(levels.front().values.at(0), 10.0) << "the first tick comes about 25 ms after the press";
    for (std::size_t i = 1; i < levels.size(); ++i) {
        EXPECT_GT(levels[i].values.at(0), levels[i - 1].values.at(0)) << "level " << i;
    }
    const double spanMs =
        std::chrono::duration<double, std::milli>(levels.back().arrived - levels.front().arrived).count();
    const double meanIntervalMs = spanMs / static_cast<double>(levels.size() - 1);
    EXPECT_GT(meanIntervalMs, 15.0);
    EXPECT_LT(meanIntervalMs, 60.0);
    // The level follows the time since the press: 100 per 2000 ms (loosely, as
    // seen through oscdump's output).
    for (const auto& level : levels) {
        const double sinceFirstMs =
            std::chrono::duration<double, std::milli>(level.arrived - levels.front().arrived).count();
        EXPECT_NEAR(level.values.at(0) - levels.front().values.at(0), std::min(sinceFirstMs / 20.0, 100.0), 15.0);
    }

    // Every tick draws the whole column from the bottom up, as a rising bar.
    ASSERT_TRUE(grid_->waitForLights(3 * levels.size()));
    const auto lights = lightsIn(grid_->messages());
    ASSERT_EQ(lights.size(), 3 * levels.size());
    std::set<int> barHeights;
    int previousHeight = 0;
    for (std::size_t tick = 0; tick < levels.size(); ++tick) {
        const std::vector<Light> frame(lights.begin() + 3 * tick, lights.begin() + 3 * tick + 3);
        const int height = frame[0].state + frame[1].state + frame[2].state;
        EXPECT_EQ(frame, faderColumn(3, height)) << "tick " << tick;
        EXPECT_GE(height, previousHeight) << "tick " << tick;
        previousHeight = height;
        barHeights.insert(height);
    }
    EXPECT_EQ(barHeights, (std::set<int>{1, 2, 3}));

    // Releasing after the fade has ended sends the target once more.
    ASSERT_TRUE(press(veltoGridPort_, 3, 4, 0));
    ASSERT_TRUE(videoApp_->waitForValues(kAddress, levels.size() + 1));
    ASSERT_TRUE(grid_->waitForLights(3 * levels.size() + 3));
    EXPECT_EQ(valuesTo(videoApp_->messages(), kAddress).back(), 100.0);
    const auto after = lightsIn(grid_->messages());
    EXPECT_EQ(std::vector<Light>(after.end() - 3, after.end()), faderColumn(3, 3));
}

TEST_F(VeltoEndToEnd, PressesOnTheBottomRowChangeNothing) {
    ASSERT_TRUE(startVelto());
    for (int x = 0; x < 8; ++x) ASSERT_TRUE(press(veltoGridPort_, x, 7, 1));
    ASSERT_TRUE(press(veltoGridPort_, 6, sliderMonomeRow(1)));  // marker

    ASSERT_TRUE(videoApp_->waitForValues(sliderAddress(1), 1));
    ASSERT_TRUE(grid_->waitForLights(8));
    const auto messages = videoApp_->messages();
    EXPECT_EQ(messages.size(), 2u) << "the ping and the marker's value";
    EXPECT_EQ(lightsIn(grid_->messages()), sliderRow(sliderMonomeRow(1), 6));
}

// --- The video app's layer count and reports ---------------------------------------

TEST_F(VeltoEndToEnd, LayerCountOfTwoDarkensLayersThreeAndFourAndMakesTheirCellsDeaf) {
    ASSERT_TRUE(startVelto());

    ASSERT_TRUE(oscsend(veltoVideoPort_, "/stagevue/layerNumber", "i", {"2"}));
    ASSERT_TRUE(grid_->waitForLights(28));

    // Deaf presses on layer 3's slider and layer 4's opacity fader, then live
    // presses on layer 1's slider (the marker) and layer 2's opacity fader.
    ASSERT_TRUE(press(veltoGridPort_, 2, sliderMonomeRow(3)));
    ASSERT_TRUE(press(veltoGridPort_, 0, 4));
    ASSERT_TRUE(press(veltoGridPort_, 5, sliderMonomeRow(1)));
    ASSERT_TRUE(press(veltoGridPort_, 2, 5));
    ASSERT_TRUE(videoApp_->waitForValues(sliderAddress(1), 1));
    // Five ticks of the live fader: a fade of the deaf one would have shown by now.
    ASSERT_TRUE(videoApp_->waitForValues("/stagevue/layer/opacity/2", 5));

    const auto lights = lightsIn(grid_->messages());
    ASSERT_GE(lights.size(), 36u);
    std::set<std::pair<int, int>> darkened;
    for (std::size_t i = 0; i < 28; ++i) {
        EXPECT_EQ(lights[i].state, 0) << lights[i];
        darkened.insert({lights[i].x, lights[i].y});
    }
    std::set<std::pair<int, int>> layersThreeAndFour;
    for (const int x : {0, 1, 4, 5}) {
        for (const int y : {4, 5, 6}) layersThreeAndFour.insert({x, y});
    }
    for (int x = 0; x < 8; ++x) {
        layersThreeAndFour.insert({x, 0});
        layersThreeAndFour.insert({x, 1});
    }
    EXPECT_EQ(darkened, layersThreeAndFour);
    EXPECT_EQ(std::vector<Light>(lights.begin() + 28, lights.begin() + 36), sliderRow(sliderMonomeRow(1), 5))
        << "the deaf slider press drew nothing";
    for (std::size_t i = 36; i < lights.size(); ++i) EXPECT_EQ(lights[i].x, 2) << "only the live fader draws";

    for (const auto& message : videoApp_->messages()) {
        EXPECT_FALSE(message.address.ends_with("/3") || message.address.ends_with("/4")) << message.address;
    }
}

struct Report {
    std::string name;
    std::string address;
    std::string types;
    std::vector<std::string> values;
    std::vector<Light> drawn;
};

void PrintTo(const Report& report, std::ostream* out) { *out << report.name; }

class ReportEndToEnd : public VeltoEndToEnd, public ::testing::WithParamInterface<Report> {};

TEST_P(ReportEndToEnd, MovesTheGridsLightsAndIsNotSentBack) {
    const Report& report = GetParam();
    ASSERT_TRUE(startVelto());

    ASSERT_TRUE(oscsend(veltoVideoPort_, report.address, report.types, report.values));
    ASSERT_TRUE(grid_->waitForLights(report.drawn.size()));
    // Marker through the grid's port, sent once the report has been handled.
    ASSERT_TRUE(press(veltoGridPort_, 0, sliderMonomeRow(1)));
    ASSERT_TRUE(videoApp_->waitForValues(sliderAddress(1), 1));
    ASSERT_TRUE(grid_->waitForLights(report.drawn.size() + 8));

    auto lights = lightsIn(grid_->messages());
    ASSERT_EQ(lights.size(), report.drawn.size() + 8);
    lights.resize(report.drawn.size());
    EXPECT_EQ(lights, report.drawn);
    EXPECT_TRUE(messagesTo(videoApp_->messages(), report.address).empty()) << "echoed to the video app";
}

INSTANTIATE_TEST_SUITE_P(
    Reports, ReportEndToEnd,
    ::testing::Values(Report{"SliderValue", "/stagevue/layer/media/time/2", "f", {"0.5"}, sliderRow(2, 4)},
                      Report{"LastOfSeveralArguments", "/stagevue/layer/media/time/3", "if", {"7", "0.25"},
                             sliderRow(1, 2)},
                      Report{"OpacityLevel", "/stagevue/layer/opacity/2", "f", {"75"}, faderColumn(2, 2)},
                      Report{"FullSpeed", "/stagevue/layer/media/speed/4", "f", {"100"}, faderColumn(4, 3)}),
    [](const auto& info) { return info.param.name; });

// --- Input that does not fit -------------------------------------------------------

TEST_F(VeltoEndToEnd, MalformedDatagramsChangeNothingAndTheNextPressStillWorks) {
    ASSERT_TRUE(startVelto());

    // Each bundle holds a valid press (column 6 of layer 1's slider) that must
    // not be handled, because the datagram as a whole is malformed.
    const std::string hiddenPress = pressDatagram(6, sliderMonomeRow(1), 1);
    const std::vector<std::string> malformed{
        "#",
        "#bundle",
        bundle({hiddenPress}) + int32(0x7fffffff) + "abcd",  // element reaching past the end
        bundle({hiddenPress}) + int32(-8) + "abcdefgh",      // negative element size
        bundle({hiddenPress, oscString("/monome/press") + oscString(",d") + std::string(8, '\0')}),  // unknown tag
        bundle({hiddenPress, bundle({hiddenPress, pressDatagram(6, 3, 1).substr(0, 30)})}),  // cut int, nested
        pressDatagram(6, sliderMonomeRow(1), 1).substr(0, 32),  // two of three integers
        oscString("/monome/press") + oscString(",iii"),         // no integers at all
        oscString("/monome/press") + oscString(",is") + int32(1) + "abcd",  // unterminated string
        std::string("/monome/press"),                                       // unterminated address
        oscString("/monome/press") + "iii" + std::string(13, '\x01'),       // no type tags
        std::string("\xff\xfe\x00\x01 garbage", 13),
        std::string(),
    };
    for (const auto port : {veltoGridPort_, veltoVideoPort_}) {
        for (const auto& datagram : malformed) ASSERT_TRUE(test::sendLoopbackDatagram(port, datagram));
    }
    // The next valid press on each port still works; a press on the video
    // app's port moves the controls as well.
    ASSERT_TRUE(press(veltoGridPort_, 2, sliderMonomeRow(1)));
    ASSERT_TRUE(press(veltoVideoPort_, 4, sliderMonomeRow(2)));

    ASSERT_TRUE(videoApp_->waitForValues(sliderAddress(1), 1));
    ASSERT_TRUE(videoApp_->waitForValues(sliderAddress(2), 1));
    ASSERT_TRUE(grid_->waitForLights(16));
    EXPECT_EQ(valuesTo(videoApp_->messages(), sliderAddress(1)), std::vector<double>{0.25});
    EXPECT_EQ(valuesTo(videoApp_->messages(), sliderAddress(2)), std::vector<double>{0.5});
    EXPECT_EQ(videoApp_->messages().size(), 3u) << "the ping and the two values";
    const auto lights = lightsIn(grid_->messages());
    EXPECT_EQ(lights.size(), 16u);
    EXPECT_EQ(std::count(lights.begin(), lights.end(), Light{6, sliderMonomeRow(1), 1}), 0);
}

TEST_F(VeltoEndToEnd, NestedBundleOfPressesIsHandledInItsOrder) {
    ASSERT_TRUE(startVelto());
    ASSERT_TRUE(test::sendLoopbackDatagram(
        veltoGridPort_, bundle({pressDatagram(1, sliderMonomeRow(1), 1),
                                bundle({pressDatagram(6, sliderMonomeRow(1), 1), pressDatagram(2, sliderMonomeRow(2), 1)})})));

    ASSERT_TRUE(videoApp_->waitForValues(sliderAddress(2), 1));
    std::vector<std::pair<std::string, double>> sent;
    for (const auto& message : videoApp_->messages()) {
        if (message.address.starts_with("/stagevue/layer/")) sent.emplace_back(message.address, message.values.at(0));
    }
    const std::vector<std::pair<std::string, double>> expected{
        {sliderAddress(1), 0.125}, {sliderAddress(1), 0.75}, {sliderAddress(2), 0.25}};
    EXPECT_EQ(sent, expected);
}

// --- Quitting ----------------------------------------------------------------------

class QuitSignalEndToEnd : public VeltoEndToEnd, public ::testing::WithParamInterface<int> {};

TEST_P(QuitSignalEndToEnd, ExitsWithStatusZero) {
    ASSERT_TRUE(startVelto());
    ASSERT_TRUE(press(veltoGridPort_, 7, 4, 1));  // a fade is running when the signal comes
    ASSERT_TRUE(videoApp_->waitForValues("/stagevue/layer/media/speed/1", 1));

    ASSERT_TRUE(velto_->sendSignal(GetParam()));
    EXPECT_EQ(velto_->waitForExit(kExitLimit), ExitStatus::exitedWith(0));
}

INSTANTIATE_TEST_SUITE_P(Signals, QuitSignalEndToEnd, ::testing::Values(SIGTERM, SIGINT),
                         [](const auto& info) { return info.param == SIGTERM ? "SIGTERM" : "SIGINT"; });

// --- The command line ----------------------------------------------------------------

struct CommandLine {
    std::string name;
    std::vector<std::string> arguments;
    int exitCode;
    ChildProcess::Stream stream;  // where the text is expected
    std::vector<std::string> fragments;
};

void PrintTo(const CommandLine& line, std::ostream* out) { *out << line.name; }

class CommandLineEndToEnd : public ::testing::TestWithParam<CommandLine> {};

TEST_P(CommandLineEndToEnd, ExitsWithItsStatusAndSaysWhy) {
    const CommandLine& line = GetParam();
    std::vector<std::string> argv{VELTO_EXECUTABLE};
    argv.insert(argv.end(), line.arguments.begin(), line.arguments.end());
    std::string output;
    std::string errors;
    const auto status = ChildProcess::run(argv, kExitLimit, &output, &errors);

    EXPECT_EQ(status, ExitStatus::exitedWith(line.exitCode)) << output << errors;
    const std::string& text = line.stream == ChildProcess::Stream::out ? output : errors;
    for (const auto& fragment : line.fragments) EXPECT_NE(text.find(fragment), std::string::npos) << fragment;
}

INSTANTIATE_TEST_SUITE_P(
    Options, CommandLineEndToEnd,
    ::testing::Values(
        CommandLine{"Help", {"--help"}, 0, ChildProcess::Stream::out, {"Usage", "--settings", "--monome-listen-port"}},
        CommandLine{"Version", {"--version"}, 0, ChildProcess::Stream::out, {"velto"}},
        CommandLine{"UnknownOption", {"--frobnicate"}, 2, ChildProcess::Stream::err, {"--frobnicate"}},
        CommandLine{"PortOutOfRange", {"--monome-listen-port", "70000"}, 2, ChildProcess::Stream::err, {"70000"}},
        CommandLine{"PortNotANumber", {"--stagevue-send-port=abc"}, 2, ChildProcess::Stream::err, {"abc"}},
        CommandLine{"MissingPort", {"--stagevue-send-port"}, 2, ChildProcess::Stream::err, {"--stagevue-send-port"}}),
    [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace velto

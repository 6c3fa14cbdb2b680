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
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <iostream>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "support/ChildProcess.h"
#include "support/LoopbackUdp.h"
#include "support/Sanitizers.h"
#include "support/UdpTestPeer.h"

namespace velto {
namespace {

using namespace std::chrono_literals;
using test::ChildProcess;
using test::ExitStatus;
using Clock = std::chrono::steady_clock;

// A limit, not a delay: generous for sanitizer builds on a busy machine.
constexpr auto kLimit = 5000ms;
constexpr std::string_view kProbeAddress = "/e2e/probe";

// --- OSC datagrams made by hand (for probes and malformed input) --------------------

std::string oscString(std::string_view text) {
    std::string field(text);
    field.append(4 - field.size() % 4, '\0');
    return field;
}

std::string int32(std::int32_t value) {
    const auto bits = static_cast<std::uint32_t>(value);
    return {static_cast<char>(bits >> 24), static_cast<char>(bits >> 16),
            static_cast<char>(bits >> 8), static_cast<char>(bits)};
}

std::string intMessage(std::string_view address, const std::vector<std::int32_t>& values) {
    std::string datagram = oscString(address) + oscString("," + std::string(values.size(), 'i'));
    for (const auto value : values) datagram += int32(value);
    return datagram;
}

// A bundle "to be handled at once" (time tag 1) holding the elements in order.
std::string bundle(const std::vector<std::string>& elements) {
    std::string datagram = oscString("#bundle") + int32(0) + int32(1);
    for (const auto& element : elements)
        datagram += int32(static_cast<std::int32_t>(element.size())) + element;
    return datagram;
}

// --- What oscdump shows ----------------------------------------------------------

struct OscMessage {
    std::string address;
    std::vector<double> values;
    Clock::time_point arrived;
};

std::vector<OscMessage> parseDump(const std::vector<ChildProcess::Line>& lines) {
    std::vector<OscMessage> messages;
    for (const auto& line : lines) {
        std::istringstream words(line.text);
        std::string word;
        while (words >> word && !word.starts_with('/')) {
        }
        if (line.stream != ChildProcess::Stream::out || !word.starts_with('/') ||
            word == kProbeAddress)
            continue;
        OscMessage message{word, {}, line.arrived};
        while (words >> word) {
            char* end = nullptr;
            const double value = std::strtod(word.c_str(), &end);
            if (!word.empty() && end == word.c_str() + word.size()) message.values.push_back(value);
        }
        messages.push_back(std::move(message));
    }
    return messages;
}

struct Light {
    int x;
    int y;  // the grid's own row, 0 at the top
    int state;
    bool operator==(const Light&) const = default;
};

std::vector<Light> lightsIn(const std::vector<OscMessage>& messages) {
    std::vector<Light> lights;
    for (const auto& message : messages) {
        if (message.address != "/monome/led" || message.values.size() != 3) continue;
        lights.push_back({static_cast<int>(message.values[0]), static_cast<int>(message.values[1]),
                          static_cast<int>(message.values[2])});
    }
    return lights;
}

std::vector<OscMessage> messagesTo(const std::vector<OscMessage>& messages,
                                   std::string_view address) {
    std::vector<OscMessage> found;
    std::copy_if(messages.begin(), messages.end(), std::back_inserter(found),
                 [&](const OscMessage& message) { return message.address == address; });
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

// One slider row drawn with the cell at `lit` on.
std::vector<Light> sliderRow(int monomeRow, int lit) {
    std::vector<Light> row;
    for (int x = 0; x < 8; ++x) row.push_back({x, monomeRow, x == lit ? 1 : 0});
    return row;
}

// One fader column drawn bottom up (monome rows 6, 5, 4) with `lit` cells on.
std::vector<Light> faderColumn(int x, int lit) {
    return {{x, 6, lit >= 1 ? 1 : 0}, {x, 5, lit >= 2 ? 1 : 0}, {x, 4, lit >= 3 ? 1 : 0}};
}

std::string sliderAddress(int layer) {
    return "/stagevue/layer/media/time/" + std::to_string(layer);
}
int sliderRowOf(int layer) { return 4 - layer; }  // layer 1 on grid row 4, the monome's row 3

// --- liblo's tools -----------------------------------------------------------------

::testing::AssertionResult oscsend(std::uint16_t port, const std::string& address,
                                   const std::string& types,
                                   const std::vector<std::string>& values) {
    std::vector<std::string> argv{"oscsend", "127.0.0.1", std::to_string(port), address, types};
    argv.insert(argv.end(), values.begin(), values.end());
    std::string errors;
    const auto status = ChildProcess::run(argv, kLimit, nullptr, &errors);
    if (status == ExitStatus::exitedWith(0)) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << "oscsend " << address << " to port " << port << ": " << errors;
}

::testing::AssertionResult press(std::uint16_t port, int x, int monomeRow, int state = 1) {
    return oscsend(port, "/monome/press", "iii",
                   {std::to_string(x), std::to_string(monomeRow), std::to_string(state)});
}

// An oscdump process listening on a port, standing in for one of velto's peers.
class OscDumpPeer {
public:
    explicit OscDumpPeer(std::uint16_t port)
        : port_(port), process_({"oscdump", "-L", std::to_string(port)}) {}

    // oscdump binds its port some time after it starts: probe it until a probe
    // shows up in its output.
    bool waitUntilListening() {
        const auto deadline = Clock::now() + kLimit;
        for (std::int32_t attempt = 0; Clock::now() < deadline && !process_.waitForExit(0ms);
             ++attempt) {
            test::sendLoopbackDatagram(port_, intMessage(kProbeAddress, {attempt}));
            if (process_.waitForOutput(kProbeAddress, 50ms)) return true;
        }
        return false;
    }

    std::vector<OscMessage> messages() const { return parseDump(process_.lines()); }

    bool waitFor(const std::function<bool(const std::vector<OscMessage>&)>& condition) const {
        return process_.waitForLines([&](const auto& lines) { return condition(parseDump(lines)); },
                                     kLimit);
    }
    bool waitForLights(std::size_t count) const {
        return waitFor([&](const auto& messages) { return lightsIn(messages).size() >= count; });
    }
    bool waitForValues(std::string_view address, std::size_t count) const {
        return waitFor(
            [&](const auto& messages) { return valuesTo(messages, address).size() >= count; });
    }

    std::string transcript() const { return process_.transcript(); }

private:
    std::uint16_t port_;
    ChildProcess process_;
};

// --- The fixture -------------------------------------------------------------------

class VeltoEndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        if (!ChildProcess::findProgram("oscsend") || !ChildProcess::findProgram("oscdump")) {
            GTEST_SKIP() << "liblo-tools (oscsend, oscdump) is not installed";
        }
        char pattern[] = "/tmp/velto-e2e-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        directory_ = pattern;
        // A port that was free a moment ago can be taken before oscdump binds
        // it; then oscdump ends and fresh ports are tried.
        bool listening = false;
        for (int attempt = 0; attempt < 3 && !listening; ++attempt) {
            const auto ports = test::freeLoopbackUdpPorts(4);
            videoAppPort_ = ports[0];
            veltoVideoPort_ = ports[1];
            veltoGridPort_ = ports[3];
            videoApp_ = std::make_unique<OscDumpPeer>(videoAppPort_);
            gridPort_ = ports[2];
            grid_ = std::make_unique<OscDumpPeer>(gridPort_);
            listening = videoApp_->waitUntilListening() && grid_->waitUntilListening();
        }
        ASSERT_TRUE(listening) << videoApp_->transcript() << grid_->transcript();
    }

    void TearDown() override {
        if (velto_ && !velto_->waitForExit(0ms)) {
            // Every test ends with a clean quit: in a sanitizer build this is
            // where leaks and errors at shutdown are caught.
            velto_->sendSignal(SIGTERM);
            EXPECT_EQ(velto_->waitForExit(kLimit), ExitStatus::exitedWith(0));
        }
        if (HasFailure()) {
            if (velto_) std::cerr << "=== velto ===\n" << velto_->transcript() << "\n";
            if (videoApp_)
                std::cerr << "=== video app (oscdump) ===\n" << videoApp_->transcript() << "\n";
            if (grid_) std::cerr << "=== grid (oscdump) ===\n" << grid_->transcript() << "\n";
        }
        velto_.reset();
        std::error_code ignored;
        if (!directory_.empty()) std::filesystem::remove_all(directory_, ignored);
    }

    // Starts velto on the four ports and waits until it has greeted the video
    // app: by then its listeners are bound and its run loop runs.
    ::testing::AssertionResult startVelto() {
        velto_ = std::make_unique<ChildProcess>(std::vector<std::string>{
            VELTO_EXECUTABLE, "--settings", (directory_ / "settings").string(),
            "--stagevue-send-port", std::to_string(videoAppPort_), "--stagevue-listen-port",
            std::to_string(veltoVideoPort_), "--monome-send-port", std::to_string(gridPort_),
            "--monome-listen-port", std::to_string(veltoGridPort_)});
        if (!videoApp_->waitForValues("/stagevue/ping", 1)) {
            return ::testing::AssertionFailure()
                   << "the video app was not greeted with /stagevue/ping";
        }
        return ::testing::AssertionSuccess();
    }

    std::filesystem::path directory_;
    std::uint16_t videoAppPort_ = 0;    // the video app listens here (velto's stagevueSendPort)
    std::uint16_t veltoVideoPort_ = 0;  // velto listens here for the video app
    std::uint16_t gridPort_ = 0;        // the grid listens here (velto's monomeSendPort)
    std::uint16_t veltoGridPort_ = 0;   // velto listens here for the grid
    std::unique_ptr<OscDumpPeer> videoApp_;
    std::unique_ptr<OscDumpPeer> grid_;
    std::unique_ptr<ChildProcess> velto_;
};

// --- Presses on the grid -----------------------------------------------------------

TEST_F(VeltoEndToEnd,
       SliderPressSendsTheColumnsValueAndLightsThatCellAloneAndTheReleaseDoesNothing) {
    ASSERT_TRUE(startVelto());
    const struct {
        int layer, column;
        double value;
    } presses[] = {{1, 0, 0.0}, {2, 3, 0.375}, {3, 7, 0.875}, {4, 5, 0.625}, {2, 4, 0.5}};
    std::vector<Light> drawn;  // start-up lights nothing
    for (const auto& [layer, column, value] : presses) {
        SCOPED_TRACE(sliderAddress(layer) + " column " + std::to_string(column));
        const auto before = valuesTo(videoApp_->messages(), sliderAddress(layer)).size();
        ASSERT_TRUE(press(veltoGridPort_, column, sliderRowOf(layer), 1));
        ASSERT_TRUE(press(veltoGridPort_, column, sliderRowOf(layer), 0));
        ASSERT_TRUE(videoApp_->waitForValues(sliderAddress(layer), before + 1));
        const auto row = sliderRow(sliderRowOf(layer), column);
        drawn.insert(drawn.end(), row.begin(), row.end());
        ASSERT_TRUE(grid_->waitForLights(drawn.size()));
        EXPECT_NEAR(valuesTo(videoApp_->messages(), sliderAddress(layer)).back(), value, 1e-6);
    }
    // Each press's row comes right after the previous one: no release drew anything.
    EXPECT_EQ(lightsIn(grid_->messages()), drawn);
    EXPECT_EQ(videoApp_->messages().size(), 1 + std::size(presses))
        << "the ping and one value a press";
}

TEST_F(VeltoEndToEnd, FaderPressSendsRisingLevelsEvery25MillisecondsAndDrawsTheBar) {
    constexpr std::string_view kAddress = "/stagevue/layer/opacity/1";  // column 3
    ASSERT_TRUE(startVelto());

    // Holding the top cell fades 0 -> 100 over about two seconds.
    ASSERT_TRUE(press(veltoGridPort_, 3, 4, 1));
    ASSERT_TRUE(videoApp_->waitFor([&](const auto& messages) {
        const auto values = valuesTo(messages, kAddress);
        return !values.empty() && values.back() == 100.0;
    }));

    const auto levels = messagesTo(videoApp_->messages(), kAddress);
    ASSERT_GE(levels.size(), 20u) << "a two-second fade at 40 ticks a second";
    EXPECT_LT(levels.front().values.at(0), 10.0)
        << "the first tick comes about 25 ms after the press";
    for (std::size_t i = 1; i < levels.size(); ++i) {
        EXPECT_GT(levels[i].values.at(0), levels[i - 1].values.at(0)) << "level " << i;
    }
    const double meanIntervalMs =
        std::chrono::duration<double, std::milli>(levels.back().arrived - levels.front().arrived)
            .count() /
        static_cast<double>(levels.size() - 1);
    EXPECT_GT(meanIntervalMs, 15.0);
    EXPECT_LT(meanIntervalMs, 60.0);

    // Every tick draws the whole column from the bottom up, as a rising bar.
    ASSERT_TRUE(grid_->waitForLights(3 * levels.size()));
    const auto lights = lightsIn(grid_->messages());
    ASSERT_EQ(lights.size(), 3 * levels.size());
    std::set<int> barHeights;
    int previousHeight = 0;
    for (std::size_t tick = 0; tick < levels.size(); ++tick) {
        const auto first = lights.begin() + static_cast<std::ptrdiff_t>(3 * tick);
        const std::vector<Light> frame(first, first + 3);
        const int height = frame[0].state + frame[1].state + frame[2].state;
        EXPECT_EQ(frame, faderColumn(3, height)) << "tick " << tick;
        EXPECT_GE(height, previousHeight) << "tick " << tick;
        previousHeight = height;
        barHeights.insert(height);
    }
    EXPECT_EQ(barHeights, (std::set<int>{1, 2, 3}));
}

// --- The video app's layer count and reports ---------------------------------------

TEST_F(VeltoEndToEnd, LayerCountOfTwoDarkensLayersThreeAndFourAndMakesTheirCellsDeaf) {
    ASSERT_TRUE(startVelto());
    ASSERT_TRUE(oscsend(veltoVideoPort_, "/stagevue/layerNumber", "i", {"2"}));
    ASSERT_TRUE(grid_->waitForLights(28));

    // Deaf presses on layer 3's slider and layer 4's opacity fader, then live
    // presses on layer 1's slider (the marker) and layer 2's opacity fader.
    ASSERT_TRUE(press(veltoGridPort_, 2, sliderRowOf(3)));
    ASSERT_TRUE(press(veltoGridPort_, 0, 4));
    ASSERT_TRUE(press(veltoGridPort_, 5, sliderRowOf(1)));
    ASSERT_TRUE(press(veltoGridPort_, 2, 5));
    ASSERT_TRUE(videoApp_->waitForValues(sliderAddress(1), 1));
    // Five ticks of the live fader: a fade of the deaf one would have shown by now.
    ASSERT_TRUE(videoApp_->waitForValues("/stagevue/layer/opacity/2", 5));

    const auto lights = lightsIn(grid_->messages());
    ASSERT_GE(lights.size(), 36u);
    // Their slider rows (grid rows 0 and 1) and fader columns 0, 1, 4 and 5 go dark.
    std::set<std::pair<int, int>> darkened;
    for (std::size_t i = 0; i < 28; ++i) {
        EXPECT_EQ(lights[i].state, 0) << i;
        if (lights[i].y <= 1 || (lights[i].y >= 4 && lights[i].x % 4 <= 1))
            darkened.insert({lights[i].x, lights[i].y});
    }
    EXPECT_EQ(darkened.size(), 28u);
    EXPECT_EQ(std::vector<Light>(lights.begin() + 28, lights.begin() + 36),
              sliderRow(sliderRowOf(1), 5))
        << "the deaf slider press drew nothing";
    for (std::size_t i = 36; i < lights.size(); ++i)
        EXPECT_EQ(lights[i].x, 2) << "only the live fader draws";
    for (const auto& message : videoApp_->messages()) {
        EXPECT_FALSE(message.address.ends_with("/3") || message.address.ends_with("/4"))
            << message.address;
    }
}

TEST_F(VeltoEndToEnd, ReportedValueMovesTheGridsLightsAndIsNotSentBack) {
    const struct {
        std::string address, types;
        std::vector<std::string> values;
        std::vector<Light> drawn;
    } reports[] = {
        {"/stagevue/layer/media/time/2", "f", {"0.5"}, sliderRow(2, 4)},
        {"/stagevue/layer/media/time/3",
         "if",
         {"7", "0.25"},
         sliderRow(1, 2)},  // the last argument counts
        {"/stagevue/layer/opacity/2", "f", {"75"}, faderColumn(2, 2)},
        {"/stagevue/layer/media/speed/4", "f", {"100"}, faderColumn(4, 3)},
    };
    ASSERT_TRUE(startVelto());
    std::vector<Light> drawn;
    for (std::size_t i = 0; i < std::size(reports); ++i) {
        const auto& report = reports[i];
        SCOPED_TRACE(report.address);
        ASSERT_TRUE(oscsend(veltoVideoPort_, report.address, report.types, report.values));
        drawn.insert(drawn.end(), report.drawn.begin(), report.drawn.end());
        ASSERT_TRUE(grid_->waitForLights(drawn.size()));
        // Marker through the grid's port, sent once the report has been handled.
        ASSERT_TRUE(press(veltoGridPort_, static_cast<int>(i), sliderRowOf(1)));
        const auto marker = sliderRow(sliderRowOf(1), static_cast<int>(i));
        drawn.insert(drawn.end(), marker.begin(), marker.end());
        ASSERT_TRUE(videoApp_->waitForValues(sliderAddress(1), i + 1));
        ASSERT_TRUE(grid_->waitForLights(drawn.size()));
        EXPECT_EQ(lightsIn(grid_->messages()), drawn);
        EXPECT_TRUE(messagesTo(videoApp_->messages(), report.address).empty())
            << "echoed to the video app";
    }
}

// --- Input that does not fit -------------------------------------------------------

TEST_F(VeltoEndToEnd, MalformedDatagramsChangeNothingAndTheNextPressStillWorks) {
    ASSERT_TRUE(startVelto());
    // The bundles hold a valid press (column 6 of layer 1's slider) that must
    // not be handled, because the datagram as a whole is malformed.
    const std::string hiddenPress = intMessage("/monome/press", {6, sliderRowOf(1), 1});
    const std::vector<std::string> malformed{
        "#bundle",
        bundle({hiddenPress}) + int32(0x7fffffff) + "abcd",  // element reaching past the end
        bundle({hiddenPress}) + int32(-8) + "abcdefgh",      // negative element size
        bundle({hiddenPress, oscString("/monome/press") + oscString(",d") +
                                 std::string(8, '\0')}),                          // unknown tag
        bundle({hiddenPress, bundle({hiddenPress, hiddenPress.substr(0, 30)})}),  // cut int, nested
        hiddenPress.substr(0, 32),                                          // two of three integers
        oscString("/monome/press") + oscString(",is") + int32(1) + "abcd",  // unterminated string
        oscString("/monome/press") + "iii" + std::string(13, '\x01'),       // no type tags
        std::string("\xff\xfe\x00\x01 garbage\0", 13),
        std::string(),
    };
    for (const auto port : {veltoGridPort_, veltoVideoPort_}) {
        for (const auto& datagram : malformed)
            ASSERT_TRUE(test::sendLoopbackDatagram(port, datagram));
    }
    // The next valid press on each port still works: a press on the video
    // app's port moves the controls as well.
    ASSERT_TRUE(press(veltoGridPort_, 2, sliderRowOf(1)));
    ASSERT_TRUE(press(veltoVideoPort_, 4, sliderRowOf(2)));

    ASSERT_TRUE(videoApp_->waitForValues(sliderAddress(1), 1));
    ASSERT_TRUE(videoApp_->waitForValues(sliderAddress(2), 1));
    ASSERT_TRUE(grid_->waitForLights(16));
    EXPECT_EQ(valuesTo(videoApp_->messages(), sliderAddress(1)), std::vector<double>{0.25});
    EXPECT_EQ(valuesTo(videoApp_->messages(), sliderAddress(2)), std::vector<double>{0.5});
    EXPECT_EQ(videoApp_->messages().size(), 3u) << "the ping and the two values";
    const auto lights = lightsIn(grid_->messages());
    EXPECT_EQ(lights.size(), 16u);
    EXPECT_EQ(std::count(lights.begin(), lights.end(), Light{6, sliderRowOf(1), 1}), 0);
}

// --- Quitting and the command line ---------------------------------------------------

TEST_F(VeltoEndToEnd,
       InterruptDuringAFadeEndsWithStatusZero) {  // every test's tear-down sends SIGTERM
    ASSERT_TRUE(startVelto());
    ASSERT_TRUE(press(veltoGridPort_, 7, 4, 1));
    ASSERT_TRUE(videoApp_->waitForValues("/stagevue/layer/media/speed/1", 1));
    ASSERT_TRUE(velto_->sendSignal(SIGINT));
    EXPECT_EQ(velto_->waitForExit(kLimit), ExitStatus::exitedWith(0));
}

TEST(CommandLineEndToEnd, ExitsWithItsStatusAndSaysWhy) {
    // The fragments are on standard output for status 0, else on standard error.
    const struct {
        std::vector<std::string> arguments;
        int exitCode;
        std::vector<std::string> fragments;
    } cases[] = {
        {{"--help"}, 0, {"Usage", "--settings", "--monome-listen-port"}},
        {{"--frobnicate"}, 2, {"--frobnicate"}},
        {{"--monome-listen-port", "70000"}, 2, {"70000"}},
    };
    for (const auto& command : cases) {
        SCOPED_TRACE(command.arguments.front());
        std::vector<std::string> argv{VELTO_EXECUTABLE};
        argv.insert(argv.end(), command.arguments.begin(), command.arguments.end());
        std::string output, errors;
        EXPECT_EQ(ChildProcess::run(argv, kLimit, &output, &errors),
                  ExitStatus::exitedWith(command.exitCode));
        const std::string& text = command.exitCode == 0 ? output : errors;
        for (const auto& fragment : command.fragments)
            EXPECT_NE(text.find(fragment), std::string::npos) << text;
    }
    // Refused a descriptor for a pipe or a socket, it says so and exits with status 1.
    // (The sanitizers' runtimes need descriptors of their own to report anything.)
    if (test::kAddressSanitizer || test::kThreadSanitizer) return;
    const auto settings =
        std::filesystem::temp_directory_path() / ("velto-e2e-limits-" + std::to_string(::getpid()));
    for (const int descriptors : {6, 9, 12, 14}) {
        SCOPED_TRACE(descriptors);
        const std::vector<std::string> argv{
            "sh",
            "-c",
            "ulimit -n " + std::to_string(descriptors) + " && exec \"$0\" \"$@\"",
            VELTO_EXECUTABLE,
            "--settings",
            settings.string(),
            "--stagevue-listen-port",
            std::to_string(test::freePort()),
            "--monome-listen-port",
            std::to_string(test::freePort())};
        std::string errors;
        EXPECT_EQ(ChildProcess::run(argv, kLimit, nullptr, &errors), ExitStatus::exitedWith(1));
        EXPECT_NE(errors.find("Too many open files"), std::string::npos) << errors;
    }
    std::filesystem::remove(settings);
}

}  // namespace
}  // namespace velto

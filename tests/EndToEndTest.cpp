// The real velto executable on loopback, driven by an OSC implementation that
// is not ours: liblo's oscsend plays the grid's presses and the video app's
// reports, and two oscdump processes stand in for the video app and the grid
// and print what velto sends them ("TIMETAG /address types values").
// Every wait has a time limit and wakes on each new line.

#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "support/ChildProcess.h"
#include "support/LoopbackUdp.h"
#include "support/Sanitizers.h"

namespace velto {
namespace {

using namespace std::chrono_literals;
using test::ChildProcess;
using test::ExitStatus;

// A limit, not a delay: generous for sanitizer builds on a busy machine.
constexpr auto kLimit = 10000ms;

::testing::AssertionResult oscsend(std::uint16_t port, const std::vector<std::string>& message) {
    std::vector<std::string> argv{"oscsend", "127.0.0.1", std::to_string(port)};
    argv.insert(argv.end(), message.begin(), message.end());
    std::string errors;
    if (ChildProcess::run(argv, kLimit, nullptr, &errors) == ExitStatus::exitedWith(0))
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "oscsend " << message[0] << ": " << errors;
}

class VeltoEndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        try {
            ChildProcess::run({"oscdump", "--help"}, kLimit);
            ChildProcess::run({"oscsend", "--help"}, kLimit);
        } catch (const std::runtime_error&) {
            GTEST_SKIP() << "liblo-tools (oscsend, oscdump) is not installed";
        }
        char pattern[] = "/tmp/velto-e2e-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        directory_ = pattern;
        // A port that was free a moment ago can be taken (by a test running
        // beside this one) before oscdump or velto binds it: then it all
        // starts again on fresh ports.
        for (int attempt = 0; attempt < 4 && !started(); ++attempt) {
            const auto ports = test::freeLoopbackUdpPorts(4);
            videoApp_ = std::make_unique<ChildProcess>(
                std::vector<std::string>{"oscdump", "-L", std::to_string(ports[0])});
            grid_ = std::make_unique<ChildProcess>(
                std::vector<std::string>{"oscdump", "-L", std::to_string(ports[1])});
            veltoVideoPort_ = ports[2];
            veltoGridPort_ = ports[3];
            if (!listening(*videoApp_, ports[0]) || !listening(*grid_, ports[1])) continue;
            velto_ = std::make_unique<ChildProcess>(std::vector<std::string>{
                VELTO_EXECUTABLE, "--settings", directory_ + "/settings", "--stagevue-send-port",
                std::to_string(ports[0]), "--stagevue-listen-port", std::to_string(ports[2]),
                "--monome-send-port", std::to_string(ports[1]), "--monome-listen-port",
                std::to_string(ports[3])});
        }
        ASSERT_TRUE(started()) << (velto_ ? velto_->transcript() : "oscdump did not listen");
    }

    // oscdump binds its port some time after it starts: probed until a probe shows.
    static bool listening(const ChildProcess& dump, std::uint16_t port) {
        for (int attempt = 0; attempt < 100; ++attempt) {
            test::sendLoopbackDatagram(port, std::string_view("/probe\0\0,\0\0\0", 12));
            if (dump.waitForOutput("/probe", 50ms)) return true;
        }
        return false;
    }

    // Velto greeted the video app and bound both its ports.
    bool started() const {
        return velto_ && videoApp_->waitForOutput(" /stagevue/ping", kLimit) &&
               velto_->waitForOutput("; grid: send", kLimit) && !velto_->waitForOutput("bind", 0ms);
    }

    void TearDown() override {
        if (velto_ && !velto_->waitForExit(0ms)) {
            // Every test ends with a clean quit: in a sanitizer build this is
            // where leaks and errors at shutdown are caught.
            velto_->sendSignal(SIGTERM);
            EXPECT_EQ(velto_->waitForExit(kLimit), ExitStatus::exitedWith(0));
        }
        if (HasFailure() && velto_) {
            std::cerr << "=== velto ===\n"
                      << velto_->transcript() << "=== video app ===\n"
                      << videoApp_->transcript() << "=== grid ===\n"
                      << grid_->transcript();
        }
        velto_.reset();
        std::error_code ignored;
        std::filesystem::remove_all(directory_, ignored);
    }

    std::string directory_;
    std::uint16_t veltoVideoPort_ = 0;  // velto listens here for the video app
    std::uint16_t veltoGridPort_ = 0;   // velto listens here for the grid
    std::unique_ptr<ChildProcess> videoApp_;
    std::unique_ptr<ChildProcess> grid_;
    std::unique_ptr<ChildProcess> velto_;
};

TEST_F(VeltoEndToEnd, PressesAndReportsWithLiblo) {
    // A press on layer 2's slider, column 3: its value to the video app, its cell lit.
    ASSERT_TRUE(oscsend(veltoGridPort_, {"/monome/press", "iii", "3", "2", "1"}));
    EXPECT_TRUE(videoApp_->waitForOutput(" /stagevue/layer/media/time/2 f 0.375000", kLimit));
    EXPECT_TRUE(grid_->waitForOutput(" /monome/led iii 3 2 1", kLimit));
    // A report of layer 2's opacity at 75 draws its fader (column 2) two cells high.
    ASSERT_TRUE(oscsend(veltoVideoPort_, {"/stagevue/layer/opacity/2", "f", "75"}));
    EXPECT_TRUE(grid_->waitForOutput(" /monome/led iii 2 5 1", kLimit));
    EXPECT_TRUE(grid_->waitForOutput(" /monome/led iii 2 4 0", kLimit));
    // The top cell of layer 1's opacity fader: the fade ends on 100, its bar full.
    ASSERT_TRUE(oscsend(veltoGridPort_, {"/monome/press", "iii", "3", "4", "1"}));
    EXPECT_TRUE(videoApp_->waitForOutput(" /stagevue/layer/opacity/1 f 100.000000", kLimit));
    EXPECT_TRUE(grid_->waitForOutput(" /monome/led iii 3 4 1", kLimit));
}

TEST_F(VeltoEndToEnd, SigintDuringAFadeExitsZero) {  // the tear-down sends SIGTERM
    ASSERT_TRUE(oscsend(veltoGridPort_, {"/monome/press", "iii", "7", "4", "1"}));
    ASSERT_TRUE(videoApp_->waitForOutput(" /stagevue/layer/media/speed/1 f", kLimit));
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
        const auto ports = test::freeLoopbackUdpPorts(2);
        const std::vector<std::string> argv{
            "sh",
            "-c",
            "ulimit -n " + std::to_string(descriptors) + " && exec \"$0\" \"$@\"",
            VELTO_EXECUTABLE,
            "--settings",
            settings.string(),
            "--stagevue-listen-port",
            std::to_string(ports[0]),
            "--monome-listen-port",
            std::to_string(ports[1])};
        std::string errors;
        EXPECT_EQ(ChildProcess::run(argv, kLimit, nullptr, &errors), ExitStatus::exitedWith(1));
        EXPECT_NE(errors.find("Too many open files"), std::string::npos) << errors;
    }
    std::filesystem::remove(settings);
}

}  // namespace
}  // namespace velto

// velto as a whole process, watched from outside: what only the running
// executable shows. Its exit status and messages for the command line; a
// SIGHUP moves every port (here to peers that are liblo's oscsend and oscdump,
// an OSC implementation not ours) and a hang-up of its terminal ends it;
// --verbose prints each message; an idle velto arms no timer; a flood leaves it
// up, answering, with bounded memory. Every test ends with SIGTERM or SIGINT,
// which must end velto with status 0 (under the sanitizers with their checks).

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "support/LoopbackUdp.h"
#include "support/Sanitizers.h"
#include "support/VeltoProcess.h"

namespace velto {
namespace {

using namespace std::chrono_literals;
using test::ChildProcess;
using test::ExitStatus;
using test::Recording;
using test::VeltoProcess;

// A limit, not a delay: generous for sanitizer builds on a busy machine.
constexpr auto kLimit = 10000ms;

// liblo's oscsend: true when it sent the message to velto's port.
bool oscsend(std::uint16_t port, std::vector<std::string> message) {
    message.insert(message.begin(), {"oscsend", "127.0.0.1", std::to_string(port)});
    return ChildProcess::run(message, kLimit) == ExitStatus::exitedWith(0);
}

// oscdump binds its port some time after it starts: probed until a probe shows.
bool listening(const ChildProcess& dump, std::uint16_t port) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        test::sendLoopbackDatagram(port, std::string_view("/probe\0\0,\0\0\0", 12));
        if (dump.waitForOutput("/probe", 50ms)) return true;
    }
    return false;
}

TEST(VeltoProcessTest, CommandLineGivesItsStatusAndSaysWhy) {
    // Help on standard output, a complaint on standard error.
    std::string output, errors;
    EXPECT_EQ(ChildProcess::run({VELTO_EXECUTABLE, "--help"}, kLimit, &output),
              ExitStatus::exitedWith(0));
    EXPECT_NE(output.find("--monome-listen-port"), std::string::npos) << output;
    EXPECT_EQ(ChildProcess::run({VELTO_EXECUTABLE, "--frobnicate"}, kLimit, nullptr, &errors),
              ExitStatus::exitedWith(2));
    EXPECT_NE(errors.find("--frobnicate"), std::string::npos) << errors;
    // Refused a descriptor for a pipe or a socket, it says so and exits with status 1.
    // (The sanitizers' runtimes need descriptors of their own to report anything.)
    if (test::kAddressSanitizer || test::kThreadSanitizer) return;
    for (const int descriptors : {6, 9, 12, 14}) {
        SCOPED_TRACE(descriptors);
        const std::string limit = "ulimit -n " + std::to_string(descriptors);
        VeltoProcess velto(VELTO_EXECUTABLE,
                           {.launcher = {"sh", "-c", limit + " && exec \"$0\" \"$@\""}});
        EXPECT_EQ(velto.process().waitForExit(kLimit), ExitStatus::exitedWith(1));
        EXPECT_TRUE(velto.process().waitForOutput("Too many open files", kLimit))
            << velto.process().transcript();
    }
}

TEST(VeltoProcessTest, SighupMovesThePortsAndAHangUpQuits) {
    if (ChildProcess::run({"sh", "-c", "command -v oscsend oscdump"}, kLimit) !=
        ExitStatus::exitedWith(0))
        GTEST_SKIP() << "liblo-tools (oscsend, oscdump) is not installed";
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);  // velto must not hold it
    ASSERT_GE(master, 0);
    ASSERT_EQ(::grantpt(master), 0);
    ASSERT_EQ(::unlockpt(master), 0);
    // A session of its own whose controlling terminal is the pseudo-terminal,
    // as a shell in a terminal window would start it.
    VeltoProcess velto(VELTO_EXECUTABLE,
                       {.launcher = {"setsid", "/bin/sh", "-c",
                                     "exec \"$0\" \"$@\" <>" + std::string(::ptsname(master))}});
    ASSERT_TRUE(velto.waitUntilStarted(kLimit)) << velto.process().transcript();
    const auto before = velto.stats();
    const test::VeltoPorts old = velto.ports();

    // With its terminal there, a SIGHUP reloads: every port moves, here to a
    // video app and a grid that are liblo's oscdump ("TIMETAG /address types values").
    const auto ports = test::freeLoopbackUdpPorts(4);
    ChildProcess video({"oscdump", "-L", std::to_string(ports[0])});
    ChildProcess grid({"oscdump", "-L", std::to_string(ports[1])});
    ASSERT_TRUE(listening(video, ports[0]) && listening(grid, ports[1]));
    ASSERT_TRUE(velto.reloadWithPorts({ports[0], ports[2], ports[1], ports[3]}, kLimit))
        << velto.process().transcript();
    for (const auto port : {old.stagevueListen, old.monomeListen}) {
        int error = 0;
        EXPECT_EQ(UdpSocket::open(error).bindAny(port), 0) << "velto still holds " << port;
    }
    ASSERT_TRUE(oscsend(ports[3], {"/monome/press", "iii", "3", "2", "1"}));
    ASSERT_TRUE(oscsend(ports[2], {"/stagevue/layer/media/time/1", "f", "0.875"}));
    EXPECT_TRUE(video.waitForOutput(" /stagevue/layer/media/time/2 f 0.375000", kLimit))
        << video.transcript() << velto.process().transcript();
    EXPECT_TRUE(grid.waitForOutput(" /monome/led iii 7 3 1", kLimit))
        << grid.transcript() << velto.process().transcript();
    EXPECT_TRUE(velto.video().snapshot().values.empty()) << "the old video app got a value";
    const auto after = velto.stats();
    if (before && after) {
        EXPECT_EQ(after->openDescriptors, before->openDescriptors);
        EXPECT_EQ(after->threads, before->threads);
    }

    ::close(master);  // the window closes: the kernel hangs the terminal up
    EXPECT_EQ(velto.process().waitForExit(kLimit), ExitStatus::exitedWith(0))
        << velto.process().transcript();
    EXPECT_TRUE(velto.process().waitForOutput("terminal hung up: quitting", kLimit));
}

// Idle is counted as voluntary context switches of all its threads over a
// window: a process that polls, or a sender that ticks every 10 ms while idle,
// makes a hundred or more; an idle one none (the allowance covers the window
// opening while velto is still returning to its wait).
TEST(VeltoProcessTest, VerboseLogsEveryMessageAndIdleItSleeps) {
    VeltoProcess velto(VELTO_EXECUTABLE, {.extraArguments = {"--verbose"}});
    ASSERT_TRUE(velto.waitUntilStarted(kLimit)) << velto.process().transcript();
    const std::string grid = std::to_string(velto.ports().monomeListen);
    const std::string video = std::to_string(velto.ports().stagevueListen);
    ASSERT_TRUE(velto.sendToMonome(test::pressDatagram(3, 2, 1)));
    ASSERT_TRUE(velto.sendToMonome(test::pressDatagram(3, 7, 1)));  // the bottom row has no control
    ASSERT_TRUE(velto.sendToStagevue(test::intDatagram("/stagevue/layerNumber", 4)));
    ASSERT_TRUE(velto.sendToStagevue(Bytes{1, 2, 3}));
    for (const std::string& line : std::vector<std::string>{
             "RECEIVE " + grid + ": /monome/press iii 3 2 1",
             "RECEIVE " + grid + ": /monome/press iii 3 7 1 (ignored)",
             "RECEIVE " + video + ": /stagevue/layerNumber i 4",
             "RECEIVE " + video + ": undecodable datagram of 3 bytes (ignored)",
             "SEND " + std::to_string(velto.ports().stagevueSend) +
                 ": /stagevue/layer/media/time/2 f 0.375",
             "SEND " + std::to_string(velto.ports().monomeSend) + ": /monome/led iii 3 2 1",
             "video app answered: 4 layers", "grid heard from: first press"}) {
        EXPECT_TRUE(velto.process().waitForOutput("] " + line, kLimit))
            << velto.process().transcript();
    }
    // Layer 1's opacity fader pressed at its top and released: once the fade
    // has ended and the last lights have left, velto sleeps.
    ASSERT_TRUE(velto.sendToMonome(test::pressDatagram(3, 4, 1)));
    ASSERT_TRUE(velto.sendToMonome(test::pressDatagram(3, 4, 0)));
    ASSERT_TRUE(velto.video().waitFor(
        [](const Recording& r) {
            const auto values = r.valuesFor("/stagevue/layer/opacity/1");
            return !values.empty() && values.back().value == 100.0f;
        },
        kLimit));
    ASSERT_TRUE(velto.grid().waitForQuiet(100ms, kLimit));
    // ThreadSanitizer's own thread wakes velto.
    if (!test::kThreadSanitizer && test::canReadProcessStats()) {
        const auto before = velto.stats();
        std::this_thread::sleep_for(1500ms);  // the window measured, not a wait for something
        const auto after = velto.stats();
        ASSERT_TRUE(before && after);
        EXPECT_LE(after->voluntarySwitches - before->voluntarySwitches, 5u);
    }
    // A SIGINT while layer 1's speed fader fades.
    ASSERT_TRUE(velto.sendToMonome(test::pressDatagram(7, 4, 1)));
    ASSERT_TRUE(velto.video().waitFor(
        [](const auto& r) { return !r.valuesFor("/stagevue/layer/media/speed/1").empty(); },
        kLimit));
    ASSERT_TRUE(velto.process().sendSignal(SIGINT));
    EXPECT_EQ(velto.process().waitForExit(kLimit), ExitStatus::exitedWith(0))
        << velto.process().transcript();
}

// Valid presses among malformed datagrams, as fast as the test can send, in
// two rounds. The listeners hold at most a bounded hand-off for the main
// thread, so a flood's memory is a batch's worth (the answers of a few
// thousand presses: about 4 MB in the default build, 16 MB unbounded, on
// 2026-12-06) and a second flood finds it already there. Sanitizers pay more per allocation;
// ThreadSanitizer's memory drowns velto's, so that build checks all but memory.
TEST(VeltoProcessTest, FloodLeavesItUpAnsweringWithBoundedMemory) {
    if (!test::canReadProcessStats()) GTEST_SKIP() << "this system gives no process statistics";
    VeltoProcess velto(VELTO_EXECUTABLE, VeltoProcess::Options{.countOnlyGrid = true});
    ASSERT_TRUE(velto.waitUntilStarted(kLimit)) << velto.process().transcript();
    const auto text = [](std::string_view t) { return Bytes(t.begin(), t.end()); };
    Bytes cut = test::pressDatagram(1, 3, 1);
    cut.resize(30);
    const std::vector<Bytes> junk{
        cut,  // an int cut short
        text("garbage that is not OSC at all"),
        text(std::string_view("#bundle\0\0\0\0\0\0\0\0\1\0\0\0\x40", 20))};  // past the end
    const Bytes report = test::floatDatagram("/stagevue/layer/media/time/2", 0.25f);
    // A bundle of 1,800 layer counts, 2 and 4 in turn: much work for the main
    // thread, little for the receive thread, which must not queue without end.
    Bytes fanOut = text(std::string_view("#bundle\0\0\0\0\0\0\0\0\1", 16));
    for (int i = 0; i < 1800; ++i) {
        const Bytes count = test::intDatagram("/stagevue/layerNumber", 2 + 2 * (i % 2));
        fanOut.insert(fanOut.end(), {0, 0, 0, static_cast<std::uint8_t>(count.size())});
        fanOut.insert(fanOut.end(), count.begin(), count.end());
    }
    std::vector<Bytes> presses;  // on layer 1's slider
    for (int x = 0; x < 7; ++x) presses.push_back(test::pressDatagram(x, 3, 1));
    // Warm up, so that "before" holds what any first use allocates.
    ASSERT_TRUE(velto.sendToMonome(test::pressDatagram(0, 3, 1)));
    ASSERT_TRUE(velto.video().waitFor([](const auto& r) { return !r.values.empty(); }, kLimit));
    const auto before = velto.stats();
    ASSERT_TRUE(before);

    std::vector<test::ProcessStats> rounds;
    for (std::int32_t round = 0; round < 2; ++round) {
        SCOPED_TRACE("round " + std::to_string(round + 1));
        for (int i = 0; i < 300; ++i) velto.sendToStagevue(fanOut);
        for (std::size_t i = 0; i < 100'000; ++i) {  // one in eight to the video app's port
            if (i % 8 == 7) {
                velto.sendToStagevue(i % 16 == 15 ? junk[i % junk.size()] : report);
            } else {
                velto.sendToMonome(i % 2 ? junk[i % junk.size()] : presses[i % presses.size()]);
            }
        }
        // A press of its own on layer 4's slider. Right after the flood
        // velto's socket may still be full and drop it: sent until answered.
        const float expected = static_cast<float>(5 + round) / 8.0f;
        bool answered = false;
        for (const auto deadline = std::chrono::steady_clock::now() + 6 * kLimit;
             !answered && std::chrono::steady_clock::now() < deadline;) {
            velto.sendToMonome(test::pressDatagram(5 + round, 0, 1));
            answered = velto.video().waitFor(
                [&](const Recording& r) {  // behind every answer to the flood
                    return !r.values.empty() && r.values.back().value == expected &&
                           r.values.back().address == "/stagevue/layer/media/time/4";
                },
                20ms);
        }
        ASSERT_TRUE(answered) << velto.process().transcript();
        const auto stats = velto.stats();
        ASSERT_TRUE(stats) << "velto ended: " << velto.process().transcript();
        EXPECT_LE(stats->openDescriptors, before->openDescriptors);
        rounds.push_back(*stats);
    }
    if (!test::kThreadSanitizer) {
        EXPECT_LE(rounds[0].peakResidentKiB - before->residentKiB,
                  test::kAddressSanitizer ? 64 * 1024 : 12 * 1024);
        EXPECT_LE(rounds[1].peakResidentKiB - rounds[0].peakResidentKiB, 8 * 1024);
    }
    EXPECT_EQ(velto.terminate(kLimit), ExitStatus::exitedWith(0)) << velto.process().transcript();
}

}  // namespace
}  // namespace velto

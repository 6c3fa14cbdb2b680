// velto as a whole process: how it takes a hang-up of its terminal, and what
// --verbose prints for each message.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

#include "support/VeltoProcess.h"

namespace velto {
namespace {

using namespace std::chrono_literals;
using test::ExitStatus;
using test::VeltoProcess;

constexpr auto kLimit = 5000ms;

TEST(VeltoProcessTest, HangUpOfItsTerminalEndsItAndAnyOtherSighupReloads) {
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);  // velto must not hold it
    ASSERT_GE(master, 0);
    ASSERT_EQ(::grantpt(master), 0);
    ASSERT_EQ(::unlockpt(master), 0);
    const std::string terminal = ::ptsname(master);
    // A session of its own whose controlling terminal is the pseudo-terminal,
    // as a shell in a terminal window would start it.
    VeltoProcess velto(VELTO_EXECUTABLE, {.launcher = {"setsid", "/bin/sh", "-c",
                                                       "exec \"$0\" \"$@\" <>" + terminal}});
    ASSERT_TRUE(velto.waitUntilStarted(kLimit)) << velto.process().transcript();
    ASSERT_TRUE(velto.process().sendSignal(SIGHUP));
    ASSERT_TRUE(velto.waitForPortLines(2, kLimit)) << "a SIGHUP with the terminal there reloads\n"
                                                   << velto.process().transcript();

    ::close(master);  // the window closes: the kernel hangs the terminal up
    EXPECT_EQ(velto.process().waitForExit(kLimit), ExitStatus::exitedWith(0))
        << velto.process().transcript();
    EXPECT_TRUE(velto.process().waitForOutput("terminal hung up: quitting", 0ms))
        << velto.process().transcript();
}

TEST(VeltoProcessTest, VerboseShowsOneLinePerMessageWithItsPortAndMarksIgnoredInput) {
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
        EXPECT_TRUE(velto.process().waitForLines(
            [&](const auto& lines) {
                for (const auto& l : lines) {
                    if (l.text.ends_with("] " + line)) return true;
                }
                return false;
            },
            kLimit))
            << line << "\n"
            << velto.process().transcript();
    }
}

}  // namespace
}  // namespace velto

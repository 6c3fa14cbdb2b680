// An idle velto sleeps: with nothing pending it arms no timer, so nothing
// wakes it. Counted from outside as voluntary context switches of all its
// threads (/proc/PID/task/*/status) over a window of two seconds, both right
// after the start and after presses and a whole fade have come and gone.
//
// This is a count, not a timing: a process that polls, or a sender that ticks
// every 10 ms while idle, makes hundreds of switches in the window, an idle
// one none. The small allowance covers the window opening while velto is still
// returning to its wait.

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "support/Sanitizers.h"
#include "support/VeltoProcess.h"

namespace velto {
namespace {

using namespace std::chrono_literals;
using test::Recording;
using test::VeltoProcess;

constexpr auto kLimit = 5000ms;
constexpr auto kWindow = 2000ms;
constexpr std::uint64_t kAllowedWakeUps = 5;

const std::string kOpacity1 = "/stagevue/layer/opacity/1";

class IdleTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (test::kThreadSanitizer) {
            GTEST_SKIP() << "ThreadSanitizer's runtime thread wakes velto on its own";
        }
        if (!test::canReadProcessStats()) GTEST_SKIP() << "this system gives no process statistics";
        ASSERT_TRUE(velto.waitUntilStarted(kLimit)) << velto.process().transcript();
    }

    void TearDown() override {
        if (IsSkipped()) return;
        const auto status = velto.terminate(kLimit);
        ASSERT_TRUE(status.has_value()) << "velto did not end on SIGTERM";
        EXPECT_EQ(*status, test::ExitStatus::exitedWith(0)) << velto.process().transcript();
    }

    // Wake-ups of every thread of velto over the window. The window is a
    // measurement, not a wait for something to happen.
    std::uint64_t wakeUpsOverWindow() {
        const auto before = velto.stats();
        std::this_thread::sleep_for(kWindow);
        const auto after = velto.stats();
        if (!before || !after) {
            ADD_FAILURE() << "velto is gone";
            return 0;
        }
        EXPECT_EQ(after->threads, before->threads);
        return after->voluntarySwitches - before->voluntarySwitches;
    }

    VeltoProcess velto{VELTO_EXECUTABLE};
};

TEST_F(IdleTest, AFreshVeltoSleepsOnceItHasGreetedTheVideoApp) {
    EXPECT_LE(wakeUpsOverWindow(), kAllowedWakeUps);
}

TEST_F(IdleTest, VeltoSleepsAgainOncePressesAndAFadeAreOver) {
    // A slider press (sent at once), then a fader pressed at its top and
    // released: the fade runs to 100 in about 200 ms, ticking every 25 ms.
    ASSERT_TRUE(velto.sendToMonome(test::pressDatagram(4, 3, 1)));
    ASSERT_TRUE(velto.sendToMonome(test::pressDatagram(4, 3, 0)));
    ASSERT_TRUE(velto.sendToMonome(test::pressDatagram(3, 4, 1)));
    ASSERT_TRUE(velto.sendToMonome(test::pressDatagram(3, 4, 0)));
    ASSERT_TRUE(velto.video().waitFor(
        [](const Recording& recording) {
            const auto values = recording.valuesFor(kOpacity1);
            return !values.empty() && values.back().value == 100.0f;
        },
        kLimit))
        << velto.process().transcript();
    // The fade's last tick drew its column; those lights leave at the next
    // flush slot, after which nothing is pending.
    ASSERT_TRUE(velto.grid().waitForQuiet(100ms, kLimit));

    EXPECT_LE(wakeUpsOverWindow(), kAllowedWakeUps);
}

}  // namespace
}  // namespace velto

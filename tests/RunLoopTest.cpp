#include "platform/RunLoop.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <memory>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

namespace velto {
namespace {

using std::chrono::milliseconds;

class RunLoopTest : public ::testing::Test {
protected:
    ManualClock clock;
    RunLoop loop{clock};
    const Instant t0 = clock.now();
    std::vector<std::string> fired;

    std::function<void()> record(std::string name) {
        return [this, name] { fired.push_back(name); };
    }
    // Times (after t0) at which a timer fired.
    std::vector<milliseconds> firedAt;
    std::function<void()> stamp() {
        return [this] {
            firedAt.push_back(std::chrono::duration_cast<milliseconds>(clock.now() - t0));
        };
    }
    void advanceAndRun(Duration by) {
        clock.advance(by);
        loop.runUntilIdle();
    }
};

TEST_F(RunLoopTest, RepeatingTimerFiresOnItsFixedSchedule) {
    const auto timer = loop.scheduleTimer(milliseconds(10), true, stamp());
    advanceAndRun(milliseconds(9));
    EXPECT_TRUE(firedAt.empty());
    advanceAndRun(milliseconds(1));
    advanceAndRun(milliseconds(10));
    advanceAndRun(milliseconds(10));
    EXPECT_EQ(firedAt, (std::vector<milliseconds>{milliseconds(10), milliseconds(20), milliseconds(30)}));
    EXPECT_EQ(timer->fireDate(), t0 + milliseconds(40));
    EXPECT_TRUE(timer->isValid());
}

TEST_F(RunLoopTest, LateTickDoesNotShiftLaterTicks) {
    const auto timer = loop.scheduleTimer(milliseconds(10), true, stamp());
    advanceAndRun(milliseconds(13));
    EXPECT_EQ(timer->fireDate(), t0 + milliseconds(20));
    advanceAndRun(milliseconds(7));
    EXPECT_EQ(firedAt, (std::vector<milliseconds>{milliseconds(13), milliseconds(20)}));
}

struct SkipCase {
    int lateByMs;          // first pass happens at t0 + this
    int nextFireDateMs;    // the slot the timer is due at afterwards
    friend std::ostream& operator<<(std::ostream& out, const SkipCase& c) {
        return out << "late by " << c.lateByMs << " ms, next at " << c.nextFireDateMs << " ms";
    }
};

class RunLoopSkipTest : public RunLoopTest, public ::testing::WithParamInterface<SkipCase> {};

TEST_P(RunLoopSkipTest, MissedTicksAreSkippedAndTheTimerFiresOnce) {
    const auto timer = loop.scheduleTimer(milliseconds(10), true, stamp());
    advanceAndRun(milliseconds(GetParam().lateByMs));
    EXPECT_EQ(firedAt.size(), 1u);
    EXPECT_EQ(timer->fireDate(), t0 + milliseconds(GetParam().nextFireDateMs));
}

INSTANTIATE_TEST_SUITE_P(Lateness, RunLoopSkipTest,
                         ::testing::Values(SkipCase{10, 20}, SkipCase{19, 20}, SkipCase{30, 40},
                                           SkipCase{35, 40}, SkipCase{1005, 1010}));

TEST_F(RunLoopTest, OneShotTimerFiresOnceAndThenIsInvalid) {
    const auto timer = loop.scheduleTimer(milliseconds(25), false, stamp());
    EXPECT_EQ(timer->fireDate(), t0 + milliseconds(25));
    advanceAndRun(milliseconds(100));
    advanceAndRun(milliseconds(100));
    EXPECT_EQ(firedAt, std::vector<milliseconds>{milliseconds(100)});
    EXPECT_FALSE(timer->isValid());
}

TEST_F(RunLoopTest, DueTimersFireByFireDateThenByCreation) {
    const auto a = loop.scheduleTimerAt(t0 + milliseconds(20), milliseconds(100), true, record("a"));
    const auto b = loop.scheduleTimerAt(t0 + milliseconds(10), milliseconds(100), false, record("b"));
    const auto c = loop.scheduleTimerAt(t0 + milliseconds(10), milliseconds(100), true, record("c"));
    const auto d = loop.scheduleTimerAt(t0 + milliseconds(20), milliseconds(100), false, record("d"));
    const auto past = loop.scheduleTimerAt(t0 - milliseconds(5), milliseconds(100), false, record("past"));
    clock.advance(milliseconds(30));
    EXPECT_TRUE(loop.runOnce());
    EXPECT_EQ(fired, (std::vector<std::string>{"past", "b", "c", "a", "d"}));
}

TEST_F(RunLoopTest, TimerDueLaterThanNowWaits) {
    const auto timer = loop.scheduleTimer(milliseconds(10), false, record("x"));
    EXPECT_FALSE(loop.runOnce());
    EXPECT_TRUE(fired.empty());
}

TEST_F(RunLoopTest, CallbackMayDestroyItsOwnHandle) {
    std::unique_ptr<Timer> self;
    int calls = 0;
    self = loop.scheduleTimer(milliseconds(10), true, [&, token = std::make_shared<int>(7)] {
        ++calls;
        self.reset();
        EXPECT_EQ(*token, 7);  // the callback's own captures survive its handle
    });
    advanceAndRun(milliseconds(10));
    advanceAndRun(milliseconds(50));
    EXPECT_EQ(calls, 1);
}

TEST_F(RunLoopTest, CallbackSeesItsNextFireDateAndMayInvalidateItself) {
    std::unique_ptr<Timer> self;
    self = loop.scheduleTimer(milliseconds(10), true, [&] {
        firedAt.push_back(std::chrono::duration_cast<milliseconds>(clock.now() - t0));
        EXPECT_TRUE(self->isValid());
        EXPECT_EQ(self->fireDate(), t0 + milliseconds(firedAt.size() * 10 + 10));
        if (firedAt.size() == 2) self->invalidate();
    });
    for (int i = 0; i < 5; ++i) advanceAndRun(milliseconds(10));
    EXPECT_EQ(firedAt.size(), 2u);
    EXPECT_FALSE(self->isValid());
}

TEST_F(RunLoopTest, CallbackMayCancelAnotherTimerDueInTheSamePass) {
    std::unique_ptr<Timer> second;
    std::unique_ptr<Timer> third;
    const auto first = loop.scheduleTimer(milliseconds(10), false, [&] {
        fired.push_back("first");
        second.reset();
        third->invalidate();
    });
    second = loop.scheduleTimer(milliseconds(10), true, record("second"));
    third = loop.scheduleTimer(milliseconds(10), true, record("third"));
    advanceAndRun(milliseconds(10));
    advanceAndRun(milliseconds(10));
    EXPECT_EQ(fired, std::vector<std::string>{"first"});
}

TEST_F(RunLoopTest, CallbackMayDestroyATimerThatAlreadyFiredInThisPass) {
    std::unique_ptr<Timer> early = loop.scheduleTimer(milliseconds(5), true, record("early"));
    const auto late = loop.scheduleTimer(milliseconds(10), false, [&] {
        fired.push_back("late");
        early.reset();
    });
    advanceAndRun(milliseconds(10));
    advanceAndRun(milliseconds(20));
    EXPECT_EQ(fired, (std::vector<std::string>{"early", "late"}));
}

TEST_F(RunLoopTest, TimerMadeInsideACallbackFiresOnALaterPass) {
    std::unique_ptr<Timer> made;
    const auto maker = loop.scheduleTimer(milliseconds(10), false, [&] {
        fired.push_back("maker");
        made = loop.scheduleTimerAt(clock.now(), milliseconds(10), true, record("made"));
    });
    clock.advance(milliseconds(10));
    EXPECT_TRUE(loop.runOnce());
    EXPECT_EQ(fired, std::vector<std::string>{"maker"});
    EXPECT_TRUE(loop.runOnce());
    EXPECT_EQ(fired, (std::vector<std::string>{"maker", "made"}));
    EXPECT_EQ(made->fireDate(), t0 + milliseconds(20));
}

TEST_F(RunLoopTest, TimerLetsGoOfItsCallbackWhenItEnds) {
    auto token = std::make_shared<int>(0);
    std::weak_ptr<int> watched = token;
    const auto repeating = loop.scheduleTimer(milliseconds(10), true, [token] {});
    auto oneShot = loop.scheduleTimer(milliseconds(10), false, [token] {});
    token.reset();
    advanceAndRun(milliseconds(10));
    EXPECT_FALSE(watched.expired()) << "the repeating timer still holds it";
    repeating->invalidate();
    EXPECT_TRUE(watched.expired()) << "an owner held only by a timer's callback would leak";
}

TEST_F(RunLoopTest, RepeatingTimerWithZeroIntervalDoesNotSpin) {
    const auto timer = loop.scheduleTimer(Duration::zero(), true, stamp());
    loop.runUntilIdle();
    EXPECT_EQ(firedAt.size(), 1u);
    EXPECT_GT(timer->fireDate(), clock.now());
}

TEST(RunLoopLifetime, HandlesOutliveTheirLoopAndCallbacksAreReleased) {
    ManualClock clock;
    std::unique_ptr<Timer> timer;
    auto token = std::make_shared<int>(0);
    std::weak_ptr<int> watched = token;
    {
        RunLoop loop(clock);
        timer = loop.scheduleTimer(milliseconds(10), true, [token] {});
        token.reset();
    }
    EXPECT_TRUE(watched.expired());
    EXPECT_FALSE(timer->isValid());
    timer->invalidate();
    timer.reset();
}

TEST_F(RunLoopTest, RunOnceSaysWhetherAnythingRan) {
    EXPECT_FALSE(loop.runOnce());
    loop.post([] {});
    EXPECT_TRUE(loop.runOnce());
    EXPECT_FALSE(loop.runOnce());
}

TEST_F(RunLoopTest, PostedCallsRunInOrderBeforeDueTimers) {
    const auto timer = loop.scheduleTimer(milliseconds(10), false, record("timer"));
    clock.advance(milliseconds(10));
    loop.post(record("one"));
    loop.post(record("two"));
    loop.post(record("three"));
    EXPECT_TRUE(loop.runOnce());
    EXPECT_EQ(fired, (std::vector<std::string>{"one", "two", "three", "timer"}));
}

TEST_F(RunLoopTest, CallPostedByAPostedCallRunsOnTheNextPass) {
    loop.post([&] {
        fired.push_back("outer");
        loop.post(record("inner"));
    });
    loop.runOnce();
    EXPECT_EQ(fired, std::vector<std::string>{"outer"});
    loop.runOnce();
    EXPECT_EQ(fired, (std::vector<std::string>{"outer", "inner"}));
}

TEST_F(RunLoopTest, UnrunPostedCallsAreDroppedWithTheLoop) {
    auto token = std::make_shared<int>(0);
    std::weak_ptr<int> watched = token;
    {
        RunLoop other(clock);
        other.post([token] {});
        token.reset();
    }
    EXPECT_TRUE(watched.expired());
}

// Runs under ThreadSanitizer: the queue is the only thing the threads share.
TEST(RunLoopThreads, CallsPostedFromSeveralThreadsKeepEachPostersOrder) {
    SystemClock clock;
    RunLoop loop(clock);
    constexpr int kThreads = 4;
    constexpr int kCallsEach = 2000;
    std::vector<std::vector<int>> seen(kThreads);  // touched on the loop's thread only
    int total = 0;
    std::vector<std::thread> posters;
    for (int t = 0; t < kThreads; ++t) {
        posters.emplace_back([&, t] {
            for (int i = 0; i < kCallsEach; ++i) {
                loop.post([&, t, i] {
                    seen[t].push_back(i);
                    if (++total == kThreads * kCallsEach) loop.stop();
                });
            }
        });
    }
    loop.run();
    for (std::thread& poster : posters) poster.join();
    ASSERT_EQ(total, kThreads * kCallsEach);
    for (int t = 0; t < kThreads; ++t) {
        ASSERT_EQ(seen[t].size(), static_cast<std::size_t>(kCallsEach));
        for (int i = 0; i < kCallsEach; ++i) ASSERT_EQ(seen[t][i], i) << "poster " << t;
    }
}

TEST(RunLoopThreads, StopFromAnotherThreadEndsABlockedRun) {
    SystemClock clock;
    RunLoop loop(clock);
    std::thread stopper;
    // Started from inside run(), so that the loop is (about to be) asleep in poll.
    loop.post([&] { stopper = std::thread([&] { loop.stop(); }); });
    loop.run();
    stopper.join();
}

TEST(RunLoopThreads, StopBeforeRunMakesRunReturnAndTheLoopRunsAgainAfterwards) {
    SystemClock clock;
    RunLoop loop(clock);
    loop.stop();
    loop.run();
    bool ran = false;
    loop.post([&] {
        ran = true;
        loop.stop();
    });
    loop.run();
    EXPECT_TRUE(ran);
}

TEST(RunLoopThreads, RunSleepsUntilTheNextTimerIsDue) {
    SystemClock clock;
    RunLoop loop(clock);
    const Instant start = clock.now();
    const auto timer = loop.scheduleTimer(milliseconds(3), false, [&] { loop.stop(); });
    loop.run();
    EXPECT_GE(clock.now() - start, milliseconds(3));
}

TEST(RunLoopCurrent, FirstLoopOfAThreadIsItsCurrentLoopUntilItEnds) {
    ManualClock clock;
    EXPECT_EQ(RunLoop::current(), nullptr);
    {
        RunLoop first(clock);
        RunLoop second(clock);
        EXPECT_EQ(RunLoop::current(), &first);
        RunLoop* elsewhere = &first;
        std::thread([&] { elsewhere = RunLoop::current(); }).join();
        EXPECT_EQ(elsewhere, nullptr);
    }
    EXPECT_EQ(RunLoop::current(), nullptr);
}

class RunLoopSignalTest : public RunLoopTest {
protected:
    void SetUp() override {
        for (int signal : {SIGHUP, SIGTERM}) {
            struct sigaction action {};
            sigaction(signal, nullptr, &action);
            ASSERT_EQ(action.sa_handler, SIG_DFL) << "test expects default disposition";
        }
    }
    std::vector<int> received;
};

TEST_F(RunLoopSignalTest, SignalReachesItsHandlerOnTheLoopThread) {
    const std::thread::id loopThread = std::this_thread::get_id();
    loop.handleSignals({SIGHUP, SIGTERM}, [&](int signal) {
        EXPECT_EQ(std::this_thread::get_id(), loopThread);
        received.push_back(signal);
    });
    raise(SIGHUP);
    EXPECT_TRUE(received.empty()) << "handlers run from the loop, not in signal context";
    EXPECT_TRUE(loop.runOnce());
    EXPECT_EQ(received, std::vector<int>{SIGHUP});
}

TEST_F(RunLoopSignalTest, SignalFromAnotherThreadWakesARunningLoop) {
    SystemClock systemClock;
    RunLoop running(systemClock);
    running.handleSignals({SIGTERM}, [&](int signal) {
        received.push_back(signal);
        running.stop();
    });
    std::thread sender;
    running.post([&] { sender = std::thread([] { kill(getpid(), SIGTERM); }); });
    running.run();
    sender.join();
    EXPECT_EQ(received, std::vector<int>{SIGTERM});
}

TEST_F(RunLoopSignalTest, EndedLoopGivesBackThePreviousDisposition) {
    {
        RunLoop other(clock);
        other.handleSignals({SIGHUP}, [](int) {});
        struct sigaction during {};
        sigaction(SIGHUP, nullptr, &during);
        EXPECT_NE(during.sa_handler, SIG_DFL);
        EXPECT_TRUE(during.sa_flags & SA_RESTART);
    }
    struct sigaction after {};
    sigaction(SIGHUP, nullptr, &after);
    EXPECT_EQ(after.sa_handler, SIG_DFL);
}

}  // namespace
}  // namespace velto

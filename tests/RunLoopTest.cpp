#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/RunLoop.h"

namespace velto {
namespace {

using std::chrono::milliseconds;
using Names = std::vector<std::string>;

// A pipe that the test writes to; both ends closed at the end.
struct Pipe {
    int fds[2] = {-1, -1};
    Pipe() { EXPECT_EQ(::pipe(fds), 0); }
    ~Pipe() {
        closeWrite();
        ::close(fds[0]);
    }
    int read() const { return fds[0]; }
    void put(const std::string& text) const {
        EXPECT_EQ(::write(fds[1], text.data(), text.size()), static_cast<ssize_t>(text.size()));
    }
    void closeWrite() { ::close(std::exchange(fds[1], -1)); }
};

class RunLoopTest : public ::testing::Test {
protected:
    ManualClock clock;
    RunLoop loop{clock};
    const Instant t0 = clock.now();
    Names fired;
    Pipe pipe;

    std::function<void()> record(std::string name) {
        return [this, name] { fired.push_back(name); };
    }
    void advanceAndRun(Duration by) {
        clock.advance(by);
        loop.runUntilIdle();
    }
};

struct ScheduleCase {
    const char* name;
    bool repeats;
    std::vector<int> stepsMs;    // clock steps, each followed by runUntilIdle
    std::vector<int> firedAtMs;  // times after t0 at which the timer fired
    int nextFireDateMs;          // -1: the timer has ended
};

// A timer made at t0 with interval 10 ms is due at t0 + k * 10 ms, however late a pass comes.
TEST_F(RunLoopTest, TimersKeepTheirFixedSchedule) {
    const ScheduleCase cases[] = {
        {"on time", true, {9, 1, 10, 10}, {10, 20, 30}, 40},
        {"a late tick shifts nothing", true, {13, 7}, {13, 20}, 30},
        {"missed ticks are skipped", true, {35}, {35}, 40},
        {"one-shot fires once", false, {100, 100}, {100}, -1},
    };
    for (const ScheduleCase& c : cases) {
        SCOPED_TRACE(c.name);
        const Instant start = clock.now();
        std::vector<int> firedAt;
        const auto timer = loop.scheduleTimer(milliseconds(10), c.repeats, [&] {
            firedAt.push_back(static_cast<int>((clock.now() - start) / milliseconds(1)));
        });
        for (int step : c.stepsMs) advanceAndRun(milliseconds(step));
        EXPECT_EQ(firedAt, c.firedAtMs);
        EXPECT_EQ(timer->isValid(), c.nextFireDateMs >= 0);
        if (c.nextFireDateMs >= 0) {
            EXPECT_EQ(timer->fireDate(), start + milliseconds(c.nextFireDateMs));
        }
    }
}

TEST_F(RunLoopTest, DueTimersFireByFireDateThenByCreation) {
    const std::pair<int, const char*> made[] = {{20, "a"}, {10, "b"}, {10, "c"}, {-5, "past"}};
    std::vector<std::unique_ptr<Timer>> timers;
    for (const auto& [ms, name] : made) {
        timers.push_back(
            loop.scheduleTimerAt(t0 + milliseconds(ms), milliseconds(100), true, record(name)));
    }
    clock.advance(milliseconds(30));
    EXPECT_TRUE(loop.runOnce());
    EXPECT_EQ(fired, (Names{"past", "b", "c", "a"}));
}

// A callback may end any timer, its own included, and make new ones, while the
// pass that called it is still walking the due timers.
TEST_F(RunLoopTest, CallbacksMayEndAndMakeTimersDuringAPass) {
    auto token = std::make_shared<int>(7);
    const std::weak_ptr<int> watched = token;
    std::unique_ptr<Timer> early = loop.scheduleTimer(milliseconds(5), true, record("early"));
    std::unique_ptr<Timer> self, second, third, made;
    self = loop.scheduleTimer(milliseconds(10), true, [&, token] {
        fired.push_back("self");
        self.reset();
        EXPECT_EQ(*token, 7) << "the callback's own captures survive its handle";
        second.reset();
        third->invalidate();
        early.reset();  // already fired in this pass
        made = loop.scheduleTimerAt(clock.now(), milliseconds(10), true, record("made"));
    });
    second = loop.scheduleTimer(milliseconds(10), true, record("second"));
    third = loop.scheduleTimer(milliseconds(10), true, [this, token] { fired.push_back("third"); });
    token.reset();
    clock.advance(milliseconds(10));
    EXPECT_TRUE(loop.runOnce());
    EXPECT_EQ(fired, (Names{"early", "self"})) << "a timer made in a pass waits for the next";
    EXPECT_TRUE(watched.expired()) << "an owner held only by an ended timer's callback would leak";
    EXPECT_TRUE(loop.runOnce());
    advanceAndRun(milliseconds(10));
    EXPECT_EQ(fired, (Names{"early", "self", "made", "made"}));
}

TEST_F(RunLoopTest, RunOnceRunsPostedCallsInOrderThenDueTimers) {
    const auto timer = loop.scheduleTimer(milliseconds(10), false, record("timer"));
    EXPECT_FALSE(loop.runOnce()) << "nothing is due yet";
    clock.advance(milliseconds(10));
    loop.post(record("one"));
    loop.post([&] {
        fired.push_back("two");
        loop.post(record("posted by two"));
    });
    loop.post(record("three"));
    EXPECT_TRUE(loop.runOnce());
    EXPECT_EQ(fired, (Names{"one", "two", "three", "timer"}));
    EXPECT_TRUE(loop.runOnce());
    EXPECT_EQ(fired.back(), "posted by two");
    EXPECT_FALSE(loop.runOnce());

    // A backlog runs in slices of a millisecond, with the timers due between them.
    fired.clear();
    const auto tick = loop.scheduleTimer(milliseconds(1), false, record("tick"));
    loop.post([&] {
        fired.push_back("slow");
        clock.advance(milliseconds(1));
    });
    loop.post(record("next"));
    EXPECT_TRUE(loop.runOnce());
    EXPECT_EQ(fired, (Names{"slow", "tick", "next"}));
}

// The owner reads what it is woken for and ends the watch at the end of the input.
TEST_F(RunLoopTest, CallsBackOnlyWhenInputIsWaitingUntilTheInputEnds) {
    std::unique_ptr<ReadableWatch> watch;
    watch = loop.watchReadable(pipe.read(), [&] {
        if (const auto bytes = watch->readAvailable()) {
            fired.emplace_back(bytes->begin(), bytes->end());
        } else {
            fired.push_back("(end)");
            watch->invalidate();
        }
    });
    const auto nothing = watch->readAvailable();
    ASSERT_TRUE(nothing.has_value()) << "reading with nothing waiting must not wait or fail";
    EXPECT_TRUE(nothing->empty());
    EXPECT_FALSE(loop.runOnce());
    pipe.put("press 3 4\n");
    EXPECT_TRUE(loop.runOnce());
    EXPECT_FALSE(loop.runOnce());
    pipe.put("last");
    pipe.closeWrite();
    loop.runUntilIdle();
    EXPECT_EQ(fired, (Names{"press 3 4\n", "last", "(end)"}));
    EXPECT_FALSE(watch->isValid());
    EXPECT_FALSE(loop.runOnce());
}

// A callback may end any watch, its own included, while the pass still walks them.
TEST_F(RunLoopTest, OnlyLiveWatchesWithInputAreCalled) {
    Pipe second, ended, idle;
    std::unique_ptr<ReadableWatch> first, secondWatch, endedWatch, idleWatch;
    first = loop.watchReadable(pipe.read(), [&, captured = std::string("own state")] {
        first.reset();
        secondWatch.reset();
        fired.push_back(captured);  // the callback's own state outlives its handle
    });
    secondWatch = loop.watchReadable(second.read(), [&] { fired.push_back("second"); });
    endedWatch = loop.watchReadable(ended.read(), [&] { fired.push_back("ended"); });
    idleWatch = loop.watchReadable(idle.read(), [&] { fired.push_back("idle"); });
    endedWatch.reset();
    for (const Pipe* p : {&pipe, &second, &ended}) p->put("x");
    EXPECT_TRUE(loop.runOnce());
    EXPECT_EQ(fired, Names{"own state"});
    EXPECT_FALSE(loop.runOnce());
}

TEST(RunLoopLifetime, EndedLoopLetsGoOfEveryCallbackAndLeavesHandlesHarmless) {
    Pipe pipe;
    ManualClock clock;
    auto token = std::make_shared<int>(0);
    const std::weak_ptr<int> watched = token;
    std::unique_ptr<Timer> timer;
    std::unique_ptr<ReadableWatch> watch;
    {
        RunLoop loop(clock);
        timer = loop.scheduleTimer(milliseconds(10), true, [token] {});
        watch = loop.watchReadable(pipe.read(), [token] {});
        loop.post([token] {});  // never run
        token.reset();
    }
    EXPECT_TRUE(watched.expired());
    EXPECT_FALSE(timer->isValid());
    EXPECT_FALSE(watch->isValid());
    timer->invalidate();
    watch->invalidate();
}

// Runs under ThreadSanitizer: the queue is the only thing the threads share.
TEST(RunLoopThreads, CallsPostedFromSeveralThreadsWakeTheLoopAndKeepEachPostersOrder) {
    SystemClock clock;
    RunLoop loop(clock);
    loop.stop();
    loop.run();  // a stop that came first is not lost: this returns at once
    constexpr int kThreads = 4, kCallsEach = 2000;
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
    for (int t = 0; t < kThreads; ++t) {
        ASSERT_EQ(seen[t].size(), static_cast<std::size_t>(kCallsEach));
        for (int i = 0; i < kCallsEach; ++i) ASSERT_EQ(seen[t][i], i) << "poster " << t;
    }
}

// On the real clock: run() sleeps until the next timer is due, and input wakes it.
TEST(RunLoopRun, SleepsUntilATimerIsDueAndWakesForInput) {
    Pipe pipe;
    SystemClock clock;
    RunLoop loop(clock);
    const Instant start = clock.now();
    std::optional<Instant> woken;
    const auto watch = loop.watchReadable(pipe.read(), [&] {
        woken = clock.now();
        loop.stop();
    });
    const auto writer = loop.scheduleTimer(milliseconds(3), false, [&] { pipe.put("x"); });
    const auto limit = loop.scheduleTimer(std::chrono::seconds(10), false, [&] { loop.stop(); });
    loop.run();
    ASSERT_TRUE(woken.has_value());
    EXPECT_GE(*woken - start, milliseconds(3)) << "the timer fired early";
    EXPECT_LT(*woken - start, std::chrono::seconds(5))
        << "only the input can wake it before the limit";
}

using SignalHandler = void (*)(int);

SignalHandler handlerOf(int signal) {
    struct sigaction action {};
    sigaction(signal, nullptr, &action);
    return action.sa_handler;
}

// SIGHUP and SIGTERM reach the handler from the loop (never in signal context),
// wake a sleeping run(), and get their old disposition back when the loop ends.
TEST(RunLoopSignals, SignalsAreHandledOnTheLoopThreadAndCanStopIt) {
    ASSERT_EQ(handlerOf(SIGHUP), SIG_DFL);
    ASSERT_EQ(handlerOf(SIGTERM), SIG_DFL);
    std::vector<int> received;
    {
        SystemClock clock;
        RunLoop loop(clock);
        const std::thread::id loopThread = std::this_thread::get_id();
        loop.handleSignals({SIGHUP, SIGTERM}, [&](int signal) {
            EXPECT_EQ(std::this_thread::get_id(), loopThread);
            received.push_back(signal);
            if (signal == SIGTERM) loop.stop();
        });
        struct sigaction during {};
        sigaction(SIGHUP, nullptr, &during);
        EXPECT_TRUE(during.sa_flags & SA_RESTART)
            << "blocking calls elsewhere must not fail with EINTR";
        raise(SIGHUP);
        EXPECT_TRUE(received.empty());
        EXPECT_TRUE(loop.runOnce());
        EXPECT_EQ(received, std::vector<int>{SIGHUP});
        std::thread sender;
        loop.post([&] { sender = std::thread([] { kill(getpid(), SIGTERM); }); });
        loop.run();
        sender.join();
    }
    EXPECT_EQ(received, (std::vector<int>{SIGHUP, SIGTERM}));
    EXPECT_EQ(handlerOf(SIGHUP), SIG_DFL);
    EXPECT_EQ(handlerOf(SIGTERM), SIG_DFL);
}

}  // namespace
}  // namespace velto

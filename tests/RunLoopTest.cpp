#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <ctime>
#include <memory>
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
    ~Pipe() { ::close(fds[0]), ::close(fds[1]); }
    int read() const { return fds[0]; }
    void put(const std::string& text) const {
        EXPECT_GT(::write(fds[1], text.data(), text.size()), 0);
    }
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
};

// A timer made at t0 with interval 10 ms is due at t0 + k * 10 ms, however late a pass comes.
TEST_F(RunLoopTest, TimersKeepTheirFixedSchedule) {
    const struct {
        bool repeats;
        std::vector<int> stepsMs;    // clock steps, each followed by runUntilIdle
        std::vector<int> firedAtMs;  // times after the start at which the timer fired
        int nextFireDateMs;          // -1: the timer has ended
    } cases[] = {{true, {9, 1, 10, 10}, {10, 20, 30}, 40},
                 {true, {13, 7}, {13, 20}, 30},  // a late tick shifts nothing
                 {true, {35}, {35}, 40},         // missed ticks are skipped
                 {false, {100, 100}, {100}, -1}};
    for (const auto& c : cases) {
        const Instant start = clock.now();
        std::vector<int> firedAt;
        const auto timer = loop.scheduleTimer(milliseconds(10), c.repeats, [&] {
            firedAt.push_back(static_cast<int>((clock.now() - start) / milliseconds(1)));
        });
        for (int step : c.stepsMs) {
            clock.advance(milliseconds(step));
            loop.runUntilIdle();
        }
        EXPECT_EQ(firedAt, c.firedAtMs);
        EXPECT_EQ(timer->isValid() ? timer->fireDate() - start : -milliseconds(1),
                  milliseconds(c.nextFireDateMs));
    }
}

// Posted calls first, in order; then the due timers by fire date, then by creation. A callback
// may end any timer, its own included, and make new ones: those wait for the next pass.
TEST_F(RunLoopTest, PassRunsPostedCallsThenDueTimersInOrder) {
    std::unique_ptr<Timer> timers[5];
    timers[0] = loop.scheduleTimerAt(t0 + milliseconds(20), milliseconds(100), true, record("a"));
    timers[1] = loop.scheduleTimerAt(t0 + milliseconds(10), milliseconds(100), true, [&] {
        fired.push_back("b");
        timers[1].reset();
        timers[2].reset();
        timers[4] = loop.scheduleTimerAt(clock.now(), milliseconds(10), true, record("made"));
    });
    timers[2] = loop.scheduleTimerAt(t0 + milliseconds(10), milliseconds(100), true, record("c"));
    timers[3] = loop.scheduleTimerAt(t0 - milliseconds(5), milliseconds(100), true, record("past"));
    EXPECT_TRUE(loop.runOnce());
    EXPECT_EQ(fired, Names{"past"});
    clock.advance(milliseconds(30));
    loop.post(record("one"));
    loop.post([&] {
        fired.push_back("two");
        loop.post(record("posted by two"));
    });
    EXPECT_TRUE(loop.runOnce());
    EXPECT_EQ(fired, (Names{"past", "one", "two", "b", "a"}));
    EXPECT_TRUE(loop.runOnce());
    EXPECT_EQ(fired, (Names{"past", "one", "two", "b", "a", "posted by two", "made"}));
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
TEST_F(RunLoopTest, CallsBackOnlyLiveWatchesWithInputUntilTheInputEnds) {
    Pipe ended;
    std::unique_ptr<ReadableWatch> watch, endedWatch;
    watch = loop.watchReadable(pipe.read(), [&] {
        endedWatch.reset();  // has input too, but is gone before its turn
        if (const auto bytes = watch->readAvailable()) {
            fired.emplace_back(bytes->begin(), bytes->end());
        } else {
            fired.push_back("(end)");
            watch->invalidate();
        }
    });
    endedWatch = loop.watchReadable(ended.read(), record("ended"));
    EXPECT_EQ(watch->readAvailable(), Bytes{}) << "reading with nothing waiting must not wait";
    EXPECT_FALSE(loop.runOnce());
    ended.put("x");
    pipe.put("press 3 4\n");
    EXPECT_TRUE(loop.runOnce());
    EXPECT_FALSE(loop.runOnce());
    pipe.put("last");
    ::close(std::exchange(pipe.fds[1], -1));
    loop.runUntilIdle();
    EXPECT_EQ(fired, (Names{"press 3 4\n", "last", "(end)"}));
    EXPECT_FALSE(watch->isValid());
}

// Runs under ThreadSanitizer: the queue is the only thing the threads share.
TEST(RunLoopThreads, CallsPostedFromSeveralThreadsWakeTheLoopInEachPostersOrder) {
    SystemClock clock;
    EXPECT_NEAR(clock.date().unixSeconds(), static_cast<double>(std::time(nullptr)), 2.0);
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
    for (const std::vector<int>& each : seen)  // each i was posted once
        EXPECT_TRUE(each.size() == kCallsEach && std::is_sorted(each.begin(), each.end()));
}

struct sigaction actionOf(int signal) {
    struct sigaction action {};
    sigaction(signal, nullptr, &action);
    return action;
}

// SIGHUP and SIGTERM reach the handler from the loop (never in signal context) and get their
// old disposition back when the loop ends.
TEST(RunLoopSignals, SignalsAreHandledOnTheLoopAndRestoredAtItsEnd) {
    ASSERT_EQ(actionOf(SIGHUP).sa_handler, SIG_DFL);
    std::vector<int> received;
    {
        ManualClock clock;
        RunLoop loop(clock);
        loop.handleSignals({SIGHUP, SIGTERM}, [&](int signal) { received.push_back(signal); });
        EXPECT_TRUE(actionOf(SIGHUP).sa_flags & SA_RESTART)
            << "blocking calls must not fail with EINTR";
        raise(SIGHUP);
        raise(SIGTERM);
        EXPECT_TRUE(received.empty());
        EXPECT_TRUE(loop.runOnce());
    }
    EXPECT_EQ(received, (std::vector<int>{SIGHUP, SIGTERM}));
    EXPECT_EQ(actionOf(SIGHUP).sa_handler, SIG_DFL);
    EXPECT_EQ(actionOf(SIGTERM).sa_handler, SIG_DFL);
}

}  // namespace
}  // namespace velto

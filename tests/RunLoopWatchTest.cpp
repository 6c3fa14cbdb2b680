#include <gtest/gtest.h>
#include <unistd.h>

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/RunLoop.h"

namespace velto {
namespace {

using std::chrono::milliseconds;

// A pipe whose ends the test writes to and closes; both closed at the end.
struct Pipe {
    int read = -1;
    int write = -1;
    Pipe() {
        int fds[2];
        if (::pipe(fds) != 0) throw std::runtime_error("pipe");
        read = fds[0];
        write = fds[1];
    }
    ~Pipe() {
        if (read >= 0) ::close(read);
        closeWrite();
    }
    void put(const std::string& text) const {
        ASSERT_EQ(::write(write, text.data(), text.size()), static_cast<ssize_t>(text.size()));
    }
    void closeWrite() {
        if (write >= 0) ::close(write);
        write = -1;
    }
};

std::string text(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

class RunLoopWatchTest : public ::testing::Test {
  protected:
    ManualClock clock;
    RunLoop loop{clock};
    Pipe pipe;
    int calls = 0;
    std::vector<std::string> received;
    bool ended = false;

    std::unique_ptr<ReadableWatch> watch;

    // A watch that reads what it is woken for, as an owner would.
    void startReading() {
        watch = loop.watchReadable(pipe.read, [this] {
            ++calls;
            const auto bytes = watch->readAvailable();
            if (!bytes) {
                ended = true;
                watch->invalidate();
            } else {
                received.push_back(text(*bytes));
            }
        });
    }
};

TEST_F(RunLoopWatchTest, CallsBackOnlyWhenInputIsWaiting) {
    startReading();
    EXPECT_FALSE(loop.runOnce());
    EXPECT_EQ(calls, 0);
    pipe.put("press 3 4\n");
    EXPECT_TRUE(loop.runOnce());
    EXPECT_EQ(received, std::vector<std::string>{"press 3 4\n"});
    EXPECT_FALSE(loop.runOnce());
    EXPECT_EQ(calls, 1);
}

TEST_F(RunLoopWatchTest, ReadAvailableNeverWaitsAndSaysWhenInputEnds) {
    watch = loop.watchReadable(pipe.read, [] {});
    ASSERT_EQ(watch->descriptor(), pipe.read);
    const auto nothing = watch->readAvailable();
    ASSERT_TRUE(nothing.has_value());
    EXPECT_TRUE(nothing->empty());
    pipe.put("abc");
    const auto some = watch->readAvailable();
    ASSERT_TRUE(some.has_value());
    EXPECT_EQ(text(*some), "abc");
    pipe.closeWrite();
    EXPECT_FALSE(watch->readAvailable().has_value());
}

TEST_F(RunLoopWatchTest, EndOfInputWakesTheOwnerWhoEndsTheWatch) {
    startReading();
    pipe.put("last");
    pipe.closeWrite();
    loop.runUntilIdle();
    EXPECT_EQ(received, std::vector<std::string>{"last"});
    EXPECT_TRUE(ended);
    EXPECT_FALSE(watch->isValid());
    EXPECT_FALSE(loop.runOnce());
}

TEST_F(RunLoopWatchTest, EndedWatchIsNotCalledAgain) {
    watch = loop.watchReadable(pipe.read, [this] { ++calls; });
    pipe.put("x");
    watch.reset();
    EXPECT_FALSE(loop.runOnce());
    EXPECT_EQ(calls, 0);
}

TEST_F(RunLoopWatchTest, CallbackMayDestroyItsOwnHandle) {
    std::string captured = "kept alive while running";
    watch = loop.watchReadable(pipe.read, [this, captured] {
        watch.reset();
        received.push_back(captured);  // the callback's own state is still there
    });
    pipe.put("x");
    EXPECT_TRUE(loop.runOnce());
    EXPECT_EQ(received, std::vector<std::string>{"kept alive while running"});
    EXPECT_FALSE(loop.runOnce());
}

TEST_F(RunLoopWatchTest, CallbackMayEndAnotherWatchThatIsReadyInTheSamePass) {
    Pipe other;
    std::unique_ptr<ReadableWatch> second;
    const auto first = loop.watchReadable(pipe.read, [&] {
        received.push_back("first");
        second.reset();
    });
    second = loop.watchReadable(other.read, [&] { received.push_back("second"); });
    pipe.put("x");
    other.put("y");
    loop.runOnce();
    EXPECT_EQ(received, std::vector<std::string>{"first"});
}

TEST_F(RunLoopWatchTest, EachWatchIsCalledForItsOwnDescriptor) {
    Pipe other;
    const auto first = loop.watchReadable(pipe.read, [&] { received.push_back("first"); });
    const auto second = loop.watchReadable(other.read, [&] { received.push_back("second"); });
    other.put("y");
    loop.runOnce();
    EXPECT_EQ(received, std::vector<std::string>{"second"});
}

TEST(RunLoopWatchLifetime, HandleOutlivesItsLoopAndLetsGoOfItsCallback) {
    Pipe pipe;
    ManualClock clock;
    auto owned = std::make_shared<int>(1);
    std::unique_ptr<ReadableWatch> watch;
    {
        RunLoop loop(clock);
        watch = loop.watchReadable(pipe.read, [owned] {});
    }
    EXPECT_FALSE(watch->isValid());
    EXPECT_EQ(owned.use_count(), 1);
    watch->invalidate();  // harmless
}

TEST(RunLoopWatchRun, InputWakesASleepingRun) {
    Pipe pipe;
    SystemClock clock;
    RunLoop loop(clock);
    const Instant start = clock.now();
    std::optional<Instant> wokenAt;
    const auto watch = loop.watchReadable(pipe.read, [&] {
        wokenAt = clock.now();
        loop.stop();
    });
    // The input arrives while run() sleeps with no timer due for a long time;
    // only the watch can wake it before the limit.
    const auto writer = loop.scheduleTimer(milliseconds(1), false, [&] { pipe.put("x"); });
    const auto limit = loop.scheduleTimer(std::chrono::seconds(10), false, [&] { loop.stop(); });
    loop.run();
    ASSERT_TRUE(wokenAt.has_value());
    EXPECT_LT(*wokenAt - start, std::chrono::seconds(5));
}

}  // namespace
}  // namespace velto

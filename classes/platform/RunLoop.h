#pragma once

// The main run loop: timers on a fixed schedule, a queue of calls from other
// threads, descriptors watched for input, and the process's stop signals.
// Everything that the program does runs in calls made by this loop on the
// main thread.
//
// There is one run-loop mode. Timers fire whenever the loop runs; there is no
// separate mode for tracking the mouse as a desktop toolkit would have.
//
// Thread safety: post(), stop() and wake-ups may be called from any thread;
// everything else belongs to the thread that runs the loop.

#include <csignal>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <optional>

#include "common/Bytes.h"
#include "platform/Clock.h"

namespace velto {

class RunLoop;

// A scheduled timer. Destroying the handle invalidates the timer. A callback may
// invalidate or destroy its own timer, or any other, while it runs.
class Timer {
public:
    ~Timer();
    Timer(const Timer&) = delete;
    Timer& operator=(const Timer&) = delete;

    void invalidate();
    bool isValid() const;
    Instant fireDate() const;  // next time the timer is due

private:
    friend class RunLoop;
    struct State;
    explicit Timer(std::shared_ptr<State> state);
    std::shared_ptr<State> state_;
};

// A descriptor watched for input (standard input, a terminal, a pipe).
// Destroying the handle ends the watch; the descriptor stays open. A callback
// may end its own watch, or any other, while it runs.
class ReadableWatch {
public:
    ~ReadableWatch();
    ReadableWatch(const ReadableWatch&) = delete;
    ReadableWatch& operator=(const ReadableWatch&) = delete;

    void invalidate();
    bool isValid() const;
    int descriptor() const;

    // Reads what is waiting on the descriptor without waiting for more: the
    // bytes, empty when nothing is waiting, or none at the end of the input or
    // on a read error (after which the owner ends the watch).
    std::optional<Bytes> readAvailable();

private:
    friend class RunLoop;
    struct State;
    explicit ReadableWatch(std::shared_ptr<State> state);
    std::shared_ptr<State> state_;
};

class RunLoop {
public:
    explicit RunLoop(Clock& clock);
    ~RunLoop();
    RunLoop(const RunLoop&) = delete;
    RunLoop& operator=(const RunLoop&) = delete;

    Clock& clock() const;

    // A timer first due at firstFire. A repeating timer is then due at
    // firstFire + k * interval: a late tick does not shift later ones, and ticks
    // missed altogether are skipped (it fires once, then at its next slot in the
    // future). Due timers fire in order of (fire date, creation).
    std::unique_ptr<Timer> scheduleTimerAt(Instant firstFire, Duration interval, bool repeats,
                                           std::function<void()> fire);
    // The same, first due one interval from now.
    std::unique_ptr<Timer> scheduleTimer(Duration interval, bool repeats,
                                         std::function<void()> fire);

    // Calls onReadable on the loop's thread, in a pass of run() or runOnce(),
    // whenever the descriptor has input waiting, has reached the end of its
    // input or has failed; again in every pass while that lasts, so the
    // callback reads the input (readAvailable) or ends the watch. The
    // descriptor is not owned.
    std::unique_ptr<ReadableWatch> watchReadable(int fd, std::function<void()> onReadable);

    // Queue a call for the loop's thread. Never waits. Calls run in the order
    // in which they were posted.
    void post(std::function<void()> call);

    // Run until stop(). Sleeps while nothing is due.
    void run();
    // One pass without waiting: the posted calls queued so far, then the timers
    // due at the clock's current time. Returns whether anything ran. A backlog
    // of posted calls is worked off in slices of about kPostedSlice of clock
    // time, with the timers that fell due run between slices, so that a burst
    // of input never holds up a tick for long.
    bool runOnce();
    static constexpr Duration kPostedSlice = std::chrono::milliseconds(1);

    // During a pass, the moment at which the loop last looked for due timers
    // (the start of the pass at the latest); between passes, the clock's
    // current time. A timer armed for the first slot of a schedule after this
    // moment fires as a repeating timer on that schedule would have: a slot
    // that went by while the loop was busy is served late, not skipped.
    Instant timersCheckedAt() const;
    // Repeat runOnce() until nothing more is ready (tests with a ManualClock).
    void runUntilIdle();

    // Ask run() to return. Any thread, also from a signal's handler path.
    void stop();

    // Deliver these signals to handler, called on the loop's thread from run().
    // Installs async-signal-safe handlers that only wake the loop.
    void handleSignals(std::initializer_list<int> signals, std::function<void(int)> handler);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace velto

#include "platform/RunLoop.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/select.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <ctime>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <system_error>
#include <utility>
#include <vector>

namespace velto {

namespace {

struct TimerQueue;

// What a timer is, apart from its handle. Lives as long as the handle or the
// loop needs it: the loop keeps it alive while it fires.
struct TimerRecord {
    TimerQueue* queue = nullptr;  // null once the timer is invalid
    std::function<void()> fire;
    Instant fireDate;
    Duration interval{};
    std::uint64_t order = 0;  // creation order, breaks ties between equal fire dates
    bool repeats = false;
    bool valid = true;
    bool queued = false;  // present in queue->entries
};

// A repeating timer with a zero or negative interval would fire on every pass
// for ever; like NSTimer, it gets a tenth of a millisecond instead.
constexpr Duration kMinimumRepeatInterval = std::chrono::microseconds(100);

// The first slot fireDate + k * interval (k >= 1) after now. Slots that were
// missed altogether are skipped, and lateness never shifts the schedule.
Instant nextSlot(Instant fireDate, Duration interval, Instant now) {
    const Instant next = fireDate + interval;
    if (next > now) return next;
    const auto missed = (now - fireDate) / interval;
    return fireDate + (missed + 1) * interval;
}

// The loop's timers, ordered by (fire date, creation order). Due timers are
// collected first and then fired one by one, so that a callback may invalidate
// or destroy any timer, its own included.
struct TimerQueue {
    using Key = std::pair<Instant, std::uint64_t>;
    std::map<Key, std::shared_ptr<TimerRecord>> entries;
    std::uint64_t nextOrder = 0;

    void add(std::shared_ptr<TimerRecord> timer) {
        timer->queued = true;
        const Key key{timer->fireDate, timer->order};
        entries.emplace(key, std::move(timer));
    }

    void remove(TimerRecord& timer) {
        if (!timer.queued) return;
        entries.erase(Key{timer.fireDate, timer.order});
        timer.queued = false;
    }

    std::optional<Instant> nextFireDate() const {
        if (entries.empty()) return std::nullopt;
        return entries.begin()->first.first;
    }

    // Puts the callback back after it has run (or thrown) while the timer is
    // still valid; otherwise the callback, and whatever it owns, goes here.
    struct Firing {
        std::shared_ptr<TimerRecord> timer;
        std::function<void()> fire;
        ~Firing() {
            if (timer->valid) timer->fire.swap(fire);
        }
    };

    bool fireDue(Instant now) {
        std::vector<std::shared_ptr<TimerRecord>> due;
        for (auto it = entries.begin(); it != entries.end() && it->first.first <= now; ++it) {
            due.push_back(it->second);
        }
        for (const std::shared_ptr<TimerRecord>& timer : due) {
            // An earlier callback of this pass may have invalidated it.
            if (!timer->valid) continue;
            remove(*timer);
            // Re-armed before the call, so that the callback sees its next fire
            // date and may invalidate itself.
            if (timer->repeats) {
                timer->fireDate = nextSlot(timer->fireDate, timer->interval, now);
                add(timer);
            } else {
                timer->valid = false;
                timer->queue = nullptr;
            }
            Firing firing{timer, {}};
            firing.fire.swap(timer->fire);
            if (firing.fire) firing.fire();
        }
        return !due.empty();
    }

    // The loop ends: every timer becomes invalid and lets go of its callback.
    // The handles may live on.
    void detachAll() {
        auto detached = std::move(entries);
        entries.clear();
        for (auto& [key, timer] : detached) {
            timer->queued = false;
            timer->valid = false;
            timer->queue = nullptr;
        }
        for (auto& [key, timer] : detached) {
            std::function<void()> fire;
            fire.swap(timer->fire);
        }
    }
};

// A watched descriptor, apart from its handle. The callback is shared so that
// it outlives an invalidation made while it runs.
struct WatchRecord {
    int fd = -1;
    std::shared_ptr<std::function<void()>> onReadable;
    bool valid = true;
    bool bySelect = false;  // watched with select, not poll: see pollCannotWatch
};

// Input, end of input and failure all call for the owner's attention.
constexpr short kReadableEvents = POLLIN | POLLHUP | POLLERR | POLLNVAL;

// Darwin's poll does not watch devices: for a terminal or a serial line it
// reports POLLNVAL at once, so a watched terminal would look readable on every
// pass and the loop would never sleep. select watches them.
bool pollCannotWatch(int fd) {
#ifdef __APPLE__
    struct stat info;
    return fd >= 0 && fd < FD_SETSIZE && ::fstat(fd, &info) == 0 && S_ISCHR(info.st_mode);
#else
    (void)fd;
    return false;
#endif
}

// How often a loop that must select looks at a descriptor beyond select's reach.
constexpr Duration kSelectRecheck = std::chrono::milliseconds(10);

// Whether select finds input (or its end) waiting, without waiting. A failure
// (a closed descriptor) counts too, as poll's POLLNVAL would: the owner's read
// then sees the error.
bool selectFindsReadable(int fd) {
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(fd, &readable);
    timeval now{};
    int ready = 0;
    while ((ready = ::select(fd + 1, &readable, nullptr, nullptr, &now)) < 0 && errno == EINTR) {
    }
    return ready != 0;
}

// Reads what is waiting on a descriptor that has input (or its end).
std::optional<Bytes> readWaiting(int fd) {
    Bytes bytes(4096);
    for (;;) {
        const ssize_t got = ::read(fd, bytes.data(), bytes.size());
        if (got > 0) {
            bytes.resize(static_cast<std::size_t>(got));
            return bytes;
        }
        if (got < 0 && errno == EINTR) continue;
        if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return Bytes{};
        return std::nullopt;  // end of input, or an error
    }
}

void setNonBlockingAndCloseOnExec(int fd) {
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    ::fcntl(fd, F_SETFD, ::fcntl(fd, F_GETFD) | FD_CLOEXEC);
}

// pipe2 is not on macOS.
void makePipe(int fds[2]) {
    if (::pipe(fds) != 0) throw std::system_error(errno, std::generic_category(), "pipe");
    setNonBlockingAndCloseOnExec(fds[0]);
    setNonBlockingAndCloseOnExec(fds[1]);
}

// Reads what is there without waiting; calls onByte for each byte.
template <typename OnByte>
bool drainPipe(int fd, OnByte onByte) {
    bool any = false;
    unsigned char buffer[64];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got > 0) {
            any = true;
            for (ssize_t i = 0; i < got; ++i) onByte(buffer[i]);
            continue;
        }
        if (got < 0 && errno == EINTR) continue;
        return any;  // empty (EAGAIN), or nothing more to get
    }
}

void writeByte(int fd, unsigned char byte) {
    // A full pipe already holds a wake-up; nothing is lost by dropping this one.
    while (::write(fd, &byte, 1) < 0 && errno == EINTR) {
    }
}

// Signals arrive through one process-wide pipe, made once and never closed, so
// that a handler running late on another thread can never write into a
// descriptor that was closed and reused.
static_assert(std::atomic<int>::is_always_lock_free, "the signal handler reads this");
std::atomic<int> gSignalWriteFd{-1};

int signalReadFd() {
    static const int readFd = [] {
        int fds[2];
        makePipe(fds);
        gSignalWriteFd.store(fds[1]);
        return fds[0];
    }();
    return readFd;
}

void onSignal(int signal) {
    const int savedErrno = errno;
    const int fd = gSignalWriteFd.load(std::memory_order_relaxed);
    if (fd >= 0) writeByte(fd, static_cast<unsigned char>(signal));
    errno = savedErrno;
}

}  // namespace

struct Timer::State : TimerRecord {};

Timer::Timer(std::shared_ptr<State> state) : state_(std::move(state)) {}

Timer::~Timer() { invalidate(); }

void Timer::invalidate() {
    // The callback may own this handle: keep the record, and let the callback
    // go last, touching nothing of this handle afterwards.
    const std::shared_ptr<State> state = state_;
    if (!state->valid) return;
    state->valid = false;
    if (state->queue != nullptr) state->queue->remove(*state);
    state->queue = nullptr;
    std::function<void()> fire;
    fire.swap(state->fire);
}

bool Timer::isValid() const { return state_->valid; }

Instant Timer::fireDate() const { return state_->fireDate; }

struct ReadableWatch::State : WatchRecord {};

ReadableWatch::ReadableWatch(std::shared_ptr<State> state) : state_(std::move(state)) {}

ReadableWatch::~ReadableWatch() { invalidate(); }

void ReadableWatch::invalidate() {
    // As with timers: the callback may own this handle, so keep the record and
    // let the callback go last, touching nothing of this handle afterwards.
    const auto state = state_;
    state->valid = false;
    std::shared_ptr<std::function<void()>> onReadable;
    onReadable.swap(state->onReadable);
}

bool ReadableWatch::isValid() const { return state_->valid; }

int ReadableWatch::descriptor() const { return state_->fd; }

std::optional<Bytes> ReadableWatch::readAvailable() {
    // Asked first, so that a call when nothing is there never blocks.
    if (state_->bySelect) {
        if (!selectFindsReadable(state_->fd)) return Bytes{};
        return readWaiting(state_->fd);
    }
    pollfd query{state_->fd, POLLIN, 0};
    int ready = 0;
    while ((ready = ::poll(&query, 1, 0)) < 0 && errno == EINTR) {
    }
    if (ready < 0) return std::nullopt;
    if (ready == 0 || (query.revents & kReadableEvents) == 0) return Bytes{};
    return readWaiting(state_->fd);
}

struct RunLoop::Impl {
    explicit Impl(Clock& c) : clock(c) { makePipe(wakeFds); }
    ~Impl() {
        ::close(wakeFds[0]);
        ::close(wakeFds[1]);
    }

    Clock& clock;
    TimerQueue timers;

    int wakeFds[2] = {-1, -1};  // read, write
    std::mutex postedMutex;
    std::deque<std::function<void()>> posted;  // guarded by postedMutex
    std::atomic<bool> stopRequested{false};

    bool handlesSignals = false;
    std::function<void(int)> signalHandler;
    std::vector<std::pair<int, struct sigaction>> previousActions;

    std::vector<std::shared_ptr<WatchRecord>> watches;

    void wake() { writeByte(wakeFds[1], 1); }

    // Reused from pass to pass: a busy loop makes no allocation of its own.
    std::vector<pollfd> pollSet;

    // Fills pollSet with the watches still valid, forgetting the ended ones.
    void collectWatchedDescriptors() {
        std::erase_if(watches, [](const auto& watch) { return !watch->valid; });
        pollSet.clear();
        // poll skips a negative descriptor: a select watch keeps its place.
        for (const auto& watch : watches)
            pollSet.push_back({watch->bySelect ? -1 : watch->fd, POLLIN, 0});
    }

    bool runWatches() {
        if (watches.empty()) return false;
        collectWatchedDescriptors();
        std::vector<pollfd>& fds = pollSet;
        if (fds.empty()) return false;
        const auto count = static_cast<nfds_t>(fds.size());
        int ready = 0;
        while ((ready = ::poll(fds.data(), count, 0)) < 0 && errno == EINTR) {
        }
        if (ready < 0) return false;
        // Taken before calling, so that callbacks may add or end watches.
        std::vector<std::shared_ptr<WatchRecord>> due;
        for (std::size_t i = 0; i < fds.size(); ++i) {
            const bool readable = watches[i]->bySelect ? selectFindsReadable(watches[i]->fd)
                                                       : (fds[i].revents & kReadableEvents) != 0;
            if (readable) due.push_back(watches[i]);
        }
        for (const auto& watch : due) {
            if (!watch->valid) continue;  // ended by an earlier callback of this pass
            const std::shared_ptr<std::function<void()>> call = watch->onReadable;
            if (call && *call) (*call)();
        }
        return !due.empty();
    }

    void detachWatches() {
        for (const auto& watch : watches) {
            watch->valid = false;
            watch->onReadable.reset();
        }
        watches.clear();
    }

    // Set while a pass runs: when the loop last looked for due timers.
    std::optional<Instant> timersChecked;

    bool fireDueTimers() {
        const Instant now = clock.now();
        timersChecked = now;
        return timers.fireDue(now);
    }

    bool runPosted() {
        // Wake-ups coalesce, so each wake takes the whole queue. Calls posted
        // while these run wait for the next pass.
        drainPipe(wakeFds[0], [](unsigned char) {});
        std::deque<std::function<void()>> calls;
        {
            std::lock_guard lock(postedMutex);
            calls.swap(posted);
        }
        Instant sliceStart = clock.now();
        for (std::function<void()>& call : calls) {
            call();
            if (clock.now() - sliceStart >= kPostedSlice) {
                fireDueTimers();
                sliceStart = clock.now();
            }
        }
        return !calls.empty();
    }

    bool runSignals() {
        if (!handlesSignals) return false;
        return drainPipe(signalReadFd(), [this](unsigned char signal) {
            if (signalHandler) signalHandler(signal);
        });
    }

    bool runPass() {
        timersChecked = clock.now();
        bool ran = runPosted();
        ran = runSignals() || ran;
        ran = runWatches() || ran;
        ran = fireDueTimers() || ran;
        timersChecked.reset();
        return ran;
    }

    // Sleeps until the next timer is due, a call is posted, stop() is called or
    // a handled signal arrives. With no timer, poll waits without a time-out:
    // an idle loop never wakes.
    void waitForWork() {
        std::optional<Duration> wait;  // none: no timer, wait for input only
        if (const std::optional<Instant> next = timers.nextFireDate()) {
            wait = std::max(*next - clock.now(), Duration::zero());
        }
        collectWatchedDescriptors();
        pollSet.push_back({wakeFds[0], POLLIN, 0});
        if (handlesSignals) pollSet.push_back({signalReadFd(), POLLIN, 0});
        if (std::any_of(watches.begin(), watches.end(),
                        [](const auto& watch) { return watch->bySelect; })) {
            waitWithSelect(wait);
            return;
        }
        // EINTR: a signal's byte is waiting in its pipe.
#ifdef __linux__
        // To the nanosecond: a timer fires within the system's timer slack
        // (50 us) of its date, where whole milliseconds would make every
        // flush and fade tick up to 1 ms late.
        timespec timeout{};
        if (wait) {
            timeout.tv_sec = static_cast<time_t>(wait->count() / 1'000'000'000);
            timeout.tv_nsec = static_cast<long>(wait->count() % 1'000'000'000);
        }
        ::ppoll(pollSet.data(), static_cast<nfds_t>(pollSet.size()), wait ? &timeout : nullptr,
                nullptr);
#else
        int timeout = -1;
        if (wait) {
            // Rounded up: waking a little early would only spin.
            const auto millis = std::chrono::ceil<std::chrono::milliseconds>(*wait).count();
            timeout = millis > INT_MAX ? INT_MAX : static_cast<int>(millis);
        }
        ::poll(pollSet.data(), static_cast<nfds_t>(pollSet.size()), timeout);
#endif
    }

    // waitForWork for a loop that watches a descriptor poll cannot: every
    // descriptor of the pass in one select.
    void waitWithSelect(std::optional<Duration> wait) {
        fd_set readable;
        FD_ZERO(&readable);
        int top = -1;
        const auto add = [&](int fd) {
            if (fd < 0) return;
            if (fd >= FD_SETSIZE) {
                wait = std::min(wait.value_or(kSelectRecheck),
                                kSelectRecheck);  // looked at every pass
                return;
            }
            FD_SET(fd, &readable);
            top = std::max(top, fd);
        };
        for (const pollfd& entry : pollSet) add(entry.fd);
        for (const auto& watch : watches) {
            if (watch->bySelect) add(watch->fd);
        }
        timeval timeout{};
        if (wait) {
            // Rounded up: waking a little early would only spin.
            const auto micros = std::chrono::ceil<std::chrono::microseconds>(*wait).count();
            timeout.tv_sec = static_cast<time_t>(micros / 1'000'000);
            timeout.tv_usec = static_cast<suseconds_t>(micros % 1'000'000);
        }
        ::select(top + 1, &readable, nullptr, nullptr, wait ? &timeout : nullptr);
    }

    void restoreSignals() {
        for (auto& [signal, action] : previousActions) ::sigaction(signal, &action, nullptr);
        previousActions.clear();
        handlesSignals = false;
    }
};

RunLoop::RunLoop(Clock& clock) : impl_(std::make_unique<Impl>(clock)) {}

RunLoop::~RunLoop() {
    impl_->restoreSignals();
    impl_->timers.detachAll();
    impl_->detachWatches();
    std::deque<std::function<void()>> dropped;  // never run
    {
        std::lock_guard lock(impl_->postedMutex);
        dropped.swap(impl_->posted);
    }
}

Clock& RunLoop::clock() const { return impl_->clock; }

std::unique_ptr<Timer> RunLoop::scheduleTimerAt(Instant firstFire, Duration interval, bool repeats,
                                                std::function<void()> fire) {
    auto state = std::make_shared<Timer::State>();
    state->queue = &impl_->timers;
    state->fire = std::move(fire);
    state->fireDate = firstFire;
    state->interval =
        repeats && interval < kMinimumRepeatInterval ? kMinimumRepeatInterval : interval;
    state->order = impl_->timers.nextOrder++;
    state->repeats = repeats;
    impl_->timers.add(state);
    return std::unique_ptr<Timer>(new Timer(std::move(state)));
}

std::unique_ptr<Timer> RunLoop::scheduleTimer(Duration interval, bool repeats,
                                              std::function<void()> fire) {
    return scheduleTimerAt(impl_->clock.now() + interval, interval, repeats, std::move(fire));
}

std::unique_ptr<ReadableWatch> RunLoop::watchReadable(int fd, std::function<void()> onReadable) {
    auto state = std::make_shared<ReadableWatch::State>();
    state->fd = fd;
    state->bySelect = pollCannotWatch(fd);
    state->onReadable = std::make_shared<std::function<void()>>(std::move(onReadable));
    impl_->watches.push_back(state);
    return std::unique_ptr<ReadableWatch>(new ReadableWatch(std::move(state)));
}

void RunLoop::post(std::function<void()> call) {
    bool wasEmpty = false;
    {
        std::lock_guard lock(impl_->postedMutex);
        wasEmpty = impl_->posted.empty();
        impl_->posted.push_back(std::move(call));
    }
    // A non-empty queue has its wake-up on the way already.
    if (wasEmpty) impl_->wake();
}

void RunLoop::run() {
    while (!impl_->stopRequested.load()) {
        impl_->runPass();
        if (impl_->stopRequested.load()) break;
        impl_->waitForWork();
    }
    impl_->stopRequested.store(false);
}

bool RunLoop::runOnce() { return impl_->runPass(); }

Instant RunLoop::timersCheckedAt() const {
    return impl_->timersChecked.value_or(impl_->clock.now());
}

void RunLoop::runUntilIdle() {
    while (runOnce()) {
    }
}

// Only an atomic store and a write(2): safe from any thread and from a
// signal handler.
void RunLoop::stop() {
    impl_->stopRequested.store(true);
    impl_->wake();
}

void RunLoop::handleSignals(std::initializer_list<int> signals, std::function<void(int)> handler) {
    const int readFd = signalReadFd();
    // Bytes left from signals that an earlier loop no longer took.
    if (!impl_->handlesSignals) drainPipe(readFd, [](unsigned char) {});
    impl_->signalHandler = std::move(handler);
    impl_->handlesSignals = true;
    for (const int signal : signals) {
        struct sigaction action {};
        action.sa_handler = onSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        struct sigaction previous {};
        if (::sigaction(signal, &action, &previous) != 0) continue;
        bool known = false;
        for (const auto& entry : impl_->previousActions) known = known || entry.first == signal;
        if (!known) impl_->previousActions.emplace_back(signal, previous);
    }
}

}  // namespace velto

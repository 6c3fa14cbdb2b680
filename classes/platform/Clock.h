#pragma once

// Where time comes from. Timers and fades measure intervals on the monotonic
// clock; time stamps written into bundles use the wall-clock date. Tests use
// ManualClock and step it instead of sleeping.
//
// Thread safety: SystemClock may be read from any thread. ManualClock is read
// and stepped on the main thread only (tests).

#include <chrono>

#include "common/Date.h"

namespace velto {

using Duration = std::chrono::nanoseconds;
// A point on the monotonic clock. Only differences between instants mean anything.
using Instant = std::chrono::time_point<std::chrono::steady_clock, Duration>;

class Clock {
public:
    virtual ~Clock() = default;
    virtual Instant now() const = 0;  // monotonic
    virtual Date date() const = 0;    // wall clock
};

class SystemClock final : public Clock {
public:
    Instant now() const override;
    Date date() const override;
};

// A clock that moves only when told. now() starts at an arbitrary instant; the
// date moves together with it.
class ManualClock final : public Clock {
public:
    explicit ManualClock(Date start = Date{0.0});
    Instant now() const override { return now_; }
    Date date() const override;
    void advance(Duration by) { now_ += by; }

private:
    Instant now_;
    Date startDate_;
    Instant startInstant_;
};

}  // namespace velto

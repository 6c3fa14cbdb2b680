#include "platform/Clock.h"

namespace velto {

Instant SystemClock::now() const {
    return std::chrono::time_point_cast<Duration>(std::chrono::steady_clock::now());
}

Date SystemClock::date() const {
    const auto sinceEpoch = std::chrono::system_clock::now().time_since_epoch();
    return Date::fromUnixSeconds(std::chrono::duration<double>(sinceEpoch).count());
}

// Any start will do; one hour past the steady clock's epoch keeps "a moment
// ago" representable without going below zero.
ManualClock::ManualClock(Date start)
    : now_(Instant{} + std::chrono::hours(1)), startDate_(start), startInstant_(now_) {}

Date ManualClock::date() const {
    const double elapsed = std::chrono::duration<double>(now_ - startInstant_).count();
    return Date{startDate_.secondsSinceReferenceDate + elapsed};
}

}  // namespace velto

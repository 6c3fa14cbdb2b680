#pragma once

// A point in wall-clock time: seconds (double) from the reference date
// 2001-01-01 00:00:00 UTC, the epoch of OSC time stamps as Velto writes them.
// A plain value; any thread may use it. The current date comes from a Clock.

#include <compare>
#include <string>

namespace velto {

struct Date {
    double secondsSinceReferenceDate = 0.0;

    // Midnight, 1 January of year 1: centuries before any real time stamp.
    static constexpr Date distantPast() { return Date{-63114076800.0}; }
    // Seconds between 1970-01-01 and the reference date.
    static constexpr double kUnixToReferenceDate = 978307200.0;

    static constexpr Date fromUnixSeconds(double unixSeconds) {
        return Date{unixSeconds - kUnixToReferenceDate};
    }
    constexpr double unixSeconds() const {
        return secondsSinceReferenceDate + kUnixToReferenceDate;
    }
    constexpr double timeIntervalSinceDate(Date other) const {
        return secondsSinceReferenceDate - other.secondsSinceReferenceDate;
    }

    // "2001-01-01 00:00:00.500 +0000" (UTC, milliseconds); for the console only.
    std::string description() const;

    friend constexpr auto operator<=>(Date, Date) = default;
};

}  // namespace velto

#include "common/Date.h"

#include <cmath>
#include <cstdio>
#include <ctime>

namespace velto {

std::string Date::description() const {
    const double unix = unixSeconds();
    double whole = std::floor(unix);
    long long millis = std::llround((unix - whole) * 1000.0);
    if (millis == 1000) {
        whole += 1;
        millis = 0;
    }
    // Civil date from days since 1970 (proleptic Gregorian), so that dates far
    // outside time_t's or gmtime's range still print.
    const long long secs = static_cast<long long>(whole);
    long long days = secs / 86400;
    long long rem = secs % 86400;
    if (rem < 0) {
        rem += 86400;
        days -= 1;
    }
    const long long z = days + 719468;
    const long long era = (z >= 0 ? z : z - 146096) / 146097;
    const long long doe = z - era * 146097;
    const long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    long long year = yoe + era * 400;
    const long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const long long mp = (5 * doy + 2) / 153;
    const long long day = doy - (153 * mp + 2) / 5 + 1;
    const long long month = mp < 10 ? mp + 3 : mp - 9;
    if (month <= 2) year += 1;
    char text[128];
    std::snprintf(text, sizeof text, "%04lld-%02lld-%02lld %02lld:%02lld:%02lld.%03lld +0000", year,
                  month, day, rem / 3600, (rem / 60) % 60, rem % 60, millis);
    return text;
}

}  // namespace velto

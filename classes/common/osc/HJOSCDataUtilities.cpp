#include "common/osc/HJOSCDataUtilities.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

namespace velto {

namespace {

constexpr double kTwoTo32 = 4294967296.0;

std::uint8_t* grow(Bytes& out, std::size_t by) {
    const std::size_t at = out.size();
    out.resize(at + by);  // zero-filled: the padding NULs come with it
    return out.data() + at;
}

}  // namespace

void HJOSCDataUtilities::appendInt(Bytes& out, std::int32_t value) {
    storeUInt(grow(out, 4), static_cast<std::uint32_t>(value));
}

void HJOSCDataUtilities::appendUInt(Bytes& out, std::uint32_t value) {
    storeUInt(grow(out, 4), value);
}

void HJOSCDataUtilities::appendFloat(Bytes& out, float value) {
    storeUInt(grow(out, 4), std::bit_cast<std::uint32_t>(value));
}

void HJOSCDataUtilities::appendString(Bytes& out, std::string_view text) {
    if (!isASCII(text)) text = {};
    std::uint8_t* at = grow(out, paddedLength(text.size()));
    if (!text.empty()) std::memcpy(at, text.data(), text.size());
}

void HJOSCDataUtilities::appendBlob(Bytes& out, ByteView blob) {
    std::uint8_t* at = grow(out, 4 + paddedLength(blob.size()));
    storeUInt(at, static_cast<std::uint32_t>(blob.size()));
    if (!blob.empty()) std::memcpy(at + 4, blob.data(), blob.size());
}

void HJOSCDataUtilities::appendTimeTag(Bytes& out, Date date) { storeTimeTag(grow(out, 8), date); }

Bytes HJOSCDataUtilities::dataBlockFromInt(std::int32_t value) {
    Bytes out;
    appendInt(out, value);
    return out;
}

Bytes HJOSCDataUtilities::dataBlockFromUInt(std::uint32_t value) {
    Bytes out;
    appendUInt(out, value);
    return out;
}

Bytes HJOSCDataUtilities::dataBlockFromFloat(float value) {
    Bytes out;
    appendFloat(out, value);
    return out;
}

Bytes HJOSCDataUtilities::dataBlockFromString(std::string_view text) {
    Bytes out;
    appendString(out, text);
    return out;
}

Bytes HJOSCDataUtilities::dataBlockFromBlob(ByteView blob) {
    Bytes out;
    appendBlob(out, blob);
    return out;
}

Bytes HJOSCDataUtilities::paddedDataFromData(ByteView data) {
    Bytes out;
    std::uint8_t* at = grow(out, paddedLength(data.size()));
    if (!data.empty()) std::memcpy(at, data.data(), data.size());
    return out;
}

std::optional<std::string> HJOSCDataUtilities::asciiStringFromDataBlock(ByteView data) {
    if (!isASCII(data)) return std::nullopt;
    std::size_t first = 0;
    std::size_t last = data.size();
    while (first < last && data[first] == 0) ++first;
    while (last > first && data[last - 1] == 0) --last;
    return std::string(reinterpret_cast<const char*>(data.data()) + first, last - first);
}

std::string HJOSCDataUtilities::stringFromDataBlock(ByteView data) {
    return asciiStringFromDataBlock(data).value_or(std::string{});
}

std::optional<Bytes> HJOSCDataUtilities::blobFromDataBlock(ByteView data) {
    if (data.size() < 4) return std::nullopt;
    const std::int32_t size = intFromDataBlock(data);
    if (size < 0 || data.size() - 4 < static_cast<std::size_t>(size)) return std::nullopt;
    return Bytes(data.begin() + 4, data.begin() + 4 + size);
}

Bytes HJOSCDataUtilities::ntpTimestampForImmediate() { return Bytes{0, 0, 0, 0, 0, 0, 0, 1}; }

Bytes HJOSCDataUtilities::ntpTimestampFromNSDate(Date date) {
    Bytes out;
    appendTimeTag(out, date);
    return out;
}

void HJOSCDataUtilities::storeTimeTag(std::uint8_t* at, Date date) {
    const double t = date.secondsSinceReferenceDate;
    // Whole seconds are rounded down rather than toward zero: the same for every
    // date after the reference date, and it keeps the fraction of an earlier
    // date in [0, 1) so that it reads back as written. Seconds wrap modulo 2^32
    // like NTP eras; dates beyond any integer are written as the reference date.
    std::int64_t whole = 0;
    double fraction = 0.0;
    if (std::isfinite(t) && std::fabs(t) < 9.0e18) {
        const double floored = std::floor(t);
        whole = static_cast<std::int64_t>(floored);
        fraction = t - floored;
    }
    const auto seconds =
        static_cast<std::uint32_t>(static_cast<std::uint64_t>(whole) + kNTPSecondsToReferenceDate);
    // t - floor(t) may round up to 1.0 for tiny negative dates.
    const auto units = static_cast<std::uint64_t>(fraction * kTwoTo32);
    storeUInt(at, seconds);
    storeUInt(at + 4, static_cast<std::uint32_t>(std::min<std::uint64_t>(units, 0xFFFFFFFFu)));
}

Date HJOSCDataUtilities::dateFromNTPTimestamp(ByteView data) {
    std::uint8_t tag[8] = {};
    if (!data.empty()) std::memcpy(tag, data.data(), std::min<std::size_t>(data.size(), 8));
    const std::uint32_t seconds = loadUInt(tag);
    const std::uint32_t fraction = loadUInt(tag + 4);
    if (seconds == 0 && fraction == 1) return Date::distantPast();
    const auto sinceReference = static_cast<std::int32_t>(seconds - kNTPSecondsToReferenceDate);
    return Date{static_cast<double>(sinceReference) + static_cast<double>(fraction) / kTwoTo32};
}

}  // namespace velto

#pragma once

// The single atoms of the OSC wire format: big-endian int32, uint32 and
// float32, NUL-padded strings and blobs, and NTP time tags.
//
// Every padded atom takes 1 to 4 NULs, never 0: a string or blob whose length
// is already a multiple of 4 is followed by four NULs. Text on the wire is
// 7-bit ASCII; text holding any byte above 0x7F has no ASCII form, is written
// as the empty string, and does not read back as text.
//
// The `dataBlockFrom...` operations return new buffers; the `append...`
// operations write the same bytes at the end of an existing buffer, so that a
// whole packet can be built in one allocation. Stateless; any thread.

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "common/Bytes.h"
#include "common/Date.h"

namespace velto {

class HJOSCDataUtilities {
public:
    HJOSCDataUtilities() = delete;

    // Seconds from 1900-01-01 (NTP's epoch) to 2001-01-01 (the Date epoch).
    static constexpr std::uint32_t kNTPSecondsToReferenceDate = 3187296000u;

    static Bytes dataBlockFromInt(std::int32_t value);
    static Bytes dataBlockFromUInt(std::uint32_t value);
    static Bytes dataBlockFromFloat(float value);
    // Non-ASCII text gives the empty string's atom, four NULs.
    static Bytes dataBlockFromString(std::string_view text);
    static Bytes dataBlockFromBlob(ByteView blob);
    // The input followed by 4 - (length mod 4) NULs.
    static Bytes paddedDataFromData(ByteView data);

    // From the first 4 bytes; 0 (0.0) when there are fewer.
    static std::int32_t intFromDataBlock(ByteView data) {
        return static_cast<std::int32_t>(uIntFromDataBlock(data));
    }
    static std::uint32_t uIntFromDataBlock(ByteView data) {
        return data.size() < 4 ? 0 : loadUInt(data.data());
    }
    static float floatFromDataBlock(ByteView data) {
        return std::bit_cast<float>(uIntFromDataBlock(data));
    }
    // All bytes as ASCII, NULs stripped from both ends (inner NULs stay). Bytes
    // that are not ASCII make the text unreadable: the empty text here, none
    // from asciiStringFromDataBlock.
    static std::string stringFromDataBlock(ByteView data);
    static std::optional<std::string> asciiStringFromDataBlock(ByteView data);
    // The bytes of the blob atom at the start of `data`; none when the size is
    // negative, missing or larger than what follows it.
    static std::optional<Bytes> blobFromDataBlock(ByteView data);

    // 00 00 00 00 00 00 00 01.
    static Bytes ntpTimestampForImmediate();
    static Bytes ntpTimestampFromNSDate(Date date);
    // Reads the first 8 bytes (callers pass at least 8; fewer read as zeros).
    // The immediate tag gives Date::distantPast().
    static Date dateFromNTPTimestamp(ByteView data);

    // In-place forms of the writers above.
    static void appendInt(Bytes& out, std::int32_t value);
    static void appendUInt(Bytes& out, std::uint32_t value);
    static void appendFloat(Bytes& out, float value);
    static void appendString(Bytes& out, std::string_view text);
    static void appendBlob(Bytes& out, ByteView blob);
    static void appendTimeTag(Bytes& out, Date date);

    // Helpers shared by the packet classes and the decoder.
    static constexpr std::size_t paddedLength(std::size_t length) { return (length / 4 + 1) * 4; }
    static bool isASCII(std::string_view text) {
        return isASCII(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
    }
    static bool isASCII(ByteView bytes) { return isASCII(bytes.data(), bytes.size()); }
    static bool isASCII(const std::uint8_t* bytes, std::size_t count) {
        // Eight bytes at a time: every byte's top bit, gathered. The last word
        // overlaps the one before rather than being read byte by byte.
        std::uint64_t bits = 0;
        if (count >= 8) {
            std::uint64_t word;
            for (std::size_t i = 0; i + 8 < count; i += 8) {
                std::memcpy(&word, bytes + i, 8);
                bits |= word;
            }
            std::memcpy(&word, bytes + count - 8, 8);
            bits |= word;
        } else if (count >= 4) {
            std::uint32_t first;
            std::uint32_t last;
            std::memcpy(&first, bytes, 4);
            std::memcpy(&last, bytes + count - 4, 4);
            bits = first | last;
        } else {
            for (std::size_t i = 0; i < count; ++i) bits |= bytes[i];
        }
        return (bits & 0x8080808080808080u) == 0;
    }
    // Big-endian words: one load or store and a byte swap.
    static void storeUInt(std::uint8_t* at, std::uint32_t value) {
        if constexpr (std::endian::native == std::endian::little) value = __builtin_bswap32(value);
        std::memcpy(at, &value, 4);
    }
    static std::uint32_t loadUInt(const std::uint8_t* at) {
        std::uint32_t value;
        std::memcpy(&value, at, 4);
        if constexpr (std::endian::native == std::endian::little) value = __builtin_bswap32(value);
        return value;
    }
    // The 8 bytes of the time tag for `date`.
    static void storeTimeTag(std::uint8_t* at, Date date);
};

}  // namespace velto

#pragma once

// Datagrams written out by hand in the OSC tests: hex digits, and parts joined.

#include <cctype>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

#include "common/Bytes.h"

namespace velto::test {

// "2f 6d 00" -> {0x2f, 0x6d, 0x00}; spaces are ignored.
inline Bytes hex(std::string_view digits) {
    Bytes out;
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (std::isspace(static_cast<unsigned char>(digits[i]))) continue;
        out.push_back(
            static_cast<std::uint8_t>(std::stoi(std::string(digits.substr(i++, 2)), nullptr, 16)));
    }
    return out;
}

inline Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const auto& part : parts) out.insert(out.end(), part.begin(), part.end());
    return out;
}

}  // namespace velto::test

#include "LightState.h"

namespace velto::tools {

bool LightState::contains(std::int32_t x, std::int32_t y) {
    return x >= 0 && x < kSize && y >= 0 && y < kSize;
}

bool LightState::set(std::int32_t x, std::int32_t y, bool lit) {
    if (!contains(x, y)) return false;
    const auto bit = static_cast<std::uint8_t>(1u << x);
    if (lit) {
        rows_[y] = static_cast<std::uint8_t>(rows_[y] | bit);
    } else {
        rows_[y] = static_cast<std::uint8_t>(rows_[y] & ~bit);
    }
    return true;
}

bool LightState::isLit(std::int32_t x, std::int32_t y) const {
    return contains(x, y) && (rows_[y] >> x & 1u) != 0;
}

LightState::RowBitmasks LightState::rowBitmasks() const {
    RowBitmasks masks{};
    for (int y = 0; y < kSize; ++y) masks[y] = rows_[y];
    return masks;
}

}  // namespace velto::tools

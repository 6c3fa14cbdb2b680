#include "web/LightState.h"

namespace velto {

bool LightState::set(std::uint32_t x, std::uint32_t y, std::int32_t state) {
    if (x >= kSize || y >= kSize) return false;
    bool& cell = cells_[y * kSize + x];
    const bool changed = cell != (state != 0);
    cell = state != 0;
    return changed;
}

bool LightState::lit(std::uint32_t x, std::uint32_t y) const {
    return x < kSize && y < kSize && cells_[y * kSize + x];
}

std::string LightState::text() const {
    std::string text;
    text.reserve(cells_.size());
    for (const bool cell : cells_) text += cell ? '1' : '0';
    return text;
}

}  // namespace velto

#pragma once

// The 8x8 lights that Velto has set, as the grid should show them, so that a
// grid that (re)appears can be redrawn whole. Column x from the left, row y
// from the top, both 0 to 7, as the grid counts them.

#include <array>
#include <cstdint>

namespace velto::tools {

class LightState {
public:
    static constexpr int kSize = 8;
    using RowBitmasks = std::array<std::int32_t, kSize>;

    static bool contains(std::int32_t x, std::int32_t y);

    // False, changing nothing, for a cell outside the 8x8.
    bool set(std::int32_t x, std::int32_t y, bool lit);
    bool isLit(std::int32_t x, std::int32_t y) const;
    void clear() { rows_ = {}; }

    // One bitmask per row, top row first, as the grid's led map takes them:
    // bit x (the least significant bit first) is column x.
    RowBitmasks rowBitmasks() const;

    friend bool operator==(const LightState&, const LightState&) = default;

private:
    std::array<std::uint8_t, kSize> rows_{};
};

}  // namespace velto::tools

#pragma once

// The lights that Velto last sent to the grid, kept as state so that a page
// opened at any time shows the whole grid at once. Grid coordinates as the
// grid itself takes them: column x from the left, row y from the top, 0 to 7.
// Main thread only.

#include <array>
#include <cstdint>
#include <string>

namespace velto {

class LightState {
public:
    static constexpr std::uint32_t kSize = 8;

    // Any non-zero state is lit. Cells off the grid are ignored. Returns
    // whether the cell changed.
    bool set(std::uint32_t x, std::uint32_t y, std::int32_t state);
    bool lit(std::uint32_t x, std::uint32_t y) const;

    // The 64 cells as '0' and '1', row by row from the top.
    std::string text() const;

private:
    std::array<bool, std::size_t{kSize} * kSize> cells_{};
};

}  // namespace velto

#pragma once

// What the controller tells whoever mirrors the grid (the browser page): every
// light it sends, and that something else the mirror shows may have changed
// (a fader's level, a peer heard from). Main thread only; the observer may not
// call back into the controller from these calls.

#include <cstdint>

namespace velto {

class LightObserver {
public:
    virtual ~LightObserver() = default;
    // As the grid gets it: column x, row y from the top.
    virtual void lightSent(std::uint32_t x, std::uint32_t y, std::int8_t state) = 0;
    virtual void stateMayHaveChanged() = 0;
};

}  // namespace velto

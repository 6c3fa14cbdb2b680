#pragma once

// What the stand-in grid knows, apart from how it is drawn: the 8x8 lights as
// "/monome/led" sets them, the cursor, the cells held down by the keyboard or
// the mouse, the last message received and the rate at which messages arrive.
//
// Coordinates are the grid's own: column x from the left, row y from the top,
// both 0 to 7. Main thread only.

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/osc/HJOSCArgument.h"
#include "platform/Clock.h"

namespace velto::tools {

struct GridCell {
    int x = 0;
    int y = 0;
    friend bool operator==(const GridCell&, const GridCell&) = default;
};

// A press (state 1) or release (state 0), as "/monome/press" x y state carries it.
struct GridPress {
    GridCell cell;
    int state = 0;
    friend bool operator==(const GridPress&, const GridPress&) = default;
};

// What one received "/monome/led" did.
struct GridLight {
    GridCell cell;
    bool lit = false;
    bool changed = false;
};

class GridState {
public:
    static constexpr int kSize = 8;
    static constexpr const char* kLightAddress = "/monome/led";
    static constexpr const char* kPressAddress = "/monome/press";
    // Messages per second are counted over this window.
    static constexpr Duration kRateWindow = std::chrono::seconds(1);

    static bool contains(GridCell cell);

    // Every received message counts for the rate and becomes the last message;
    // a "/monome/led" with three numbers x, y, state on the grid sets that
    // light (any state but 0 lights it) and is returned.
    std::optional<GridLight> receiveMessage(std::string_view address,
                                            const std::vector<HJOSCArgument>& arguments,
                                            Instant now);

    bool isLit(GridCell cell) const;
    // One light as the serialosc mode draws it; a cell off the grid is ignored.
    GridLight setLight(GridCell cell, bool lit);
    void clearLights();
    std::size_t litCount() const;

    // The last message received as text ("/monome/led 3 4 1"), empty before the first.
    const std::string& lastMessage() const { return lastMessage_; }
    std::uint64_t receivedCount() const { return receivedCount_; }
    // Messages received in the window that ends now.
    std::size_t messagesPerSecond(Instant now);

    GridCell cursor() const { return cursor_; }
    // Moves the cursor, stopping at the edges.
    void moveCursor(int dx, int dy);

    // A cell is held from its press to its release; a held cell isn't pressed
    // again and a cell that isn't held isn't released. None when nothing changes.
    bool isHeld(GridCell cell) const;
    std::optional<GridPress> press(GridCell cell);
    std::optional<GridPress> release(GridCell cell);
    // Space: presses the cursor's cell, or releases it when it is held.
    std::optional<GridPress> toggleAtCursor();
    // Enter: a press and its release at the cursor (only the release when held).
    std::vector<GridPress> tapAtCursor();

    // The mouse: the release goes to the cell that the press took, wherever the
    // pointer is let go, as a finger leaves the key it pressed.
    std::optional<GridPress> mousePress(GridCell cell);
    std::optional<GridPress> mouseRelease();

private:
    using Cells = std::array<std::array<bool, kSize>, kSize>;  // [y][x]

    Cells lights_{};
    Cells held_{};
    GridCell cursor_{};
    std::optional<GridCell> mouseCell_;
    std::string lastMessage_;
    std::uint64_t receivedCount_ = 0;
    std::deque<Instant> arrivals_;  // within the rate window, oldest first
};

}  // namespace velto::tools

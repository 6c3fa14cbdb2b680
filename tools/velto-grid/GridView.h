#pragma once

// Draws the stand-in grid on the terminal and says what a key or a mouse event
// asks for. Cells are drawn four characters wide, so that a mouse can hit them:
// "[##]" lit, "[  ]" dark, round brackets while held, the cursor in reverse.

#include <optional>
#include <string>
#include <vector>

#include "GridState.h"
#include "TerminalScreen.h"

namespace velto::tools {

struct GridAction {
    enum class Kind { none, move, toggle, tap, clear, quit, mousePress, mouseRelease, redraw };
    Kind kind = Kind::none;
    int dx = 0;
    int dy = 0;
    GridCell cell{};  // for mousePress
};

// What the screen shows besides the grid.
struct GridStatus {
    std::string ports;     // "listening on port 8080, sending to port 8000"
    std::string lastSent;  // "press 3 4"
    std::size_t messagesPerSecond = 0;
};

class GridView {
public:
    explicit GridView(TerminalScreen& screen);

    void draw(const GridState& state, const GridStatus& status);
    GridAction actionFor(const TerminalScreen::Input& input) const;
    // The next draw repaints the whole terminal (after a resize, or Ctrl-L).
    void redrawWhole();

    // The cell at a screen position, or none.
    std::optional<GridCell> cellAt(int column, int row) const;

    // The grid as text, one line per row with its number (what draw() shows,
    // without the cursor); for the plain mode and the README.
    static std::string picture(const GridState& state);

    // The whole screen: the ports, the grid, three status lines and the keys' help.
    static constexpr int kColumnsNeeded = 80;
    static constexpr int kRowsNeeded = 17;
    // What a terminal of this size shows instead of a clipped grid, one line
    // per row, or nothing when the screen fits.
    static std::vector<std::string> tooSmallNotice(int columns, int rows) {
        if (columns >= kColumnsNeeded && rows >= kRowsNeeded) return {};
        return {"velto-grid needs", "a terminal of",
                std::to_string(kColumnsNeeded) + "x" + std::to_string(kRowsNeeded) + " or more;",
                "this one is", std::to_string(columns) + "x" + std::to_string(rows) + "."};
    }

private:
    static constexpr int kTop = 3;   // screen row of grid row 0
    static constexpr int kLeft = 4;  // screen column of grid column 0
    static constexpr int kCellWidth = 4;

    TerminalScreen& screen_;
};

}  // namespace velto::tools

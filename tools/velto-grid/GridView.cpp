#include "GridView.h"

#include <curses.h>

#include <string>

namespace velto::tools {

namespace {

constexpr const char* kHelp =
    "arrows move  space press/release  enter tap  c clear  q quit  mouse: hold a cell";

// Column numbers over the cells, as the grid counts them.
std::string headerLine() {
    std::string text = "    ";
    for (int x = 0; x < GridState::kSize; ++x) text += " " + std::to_string(x) + "  ";
    return text;
}

std::string rowLabel(int y) { return " " + std::to_string(y) + "  "; }

std::string cellText(bool lit, bool held) {
    std::string text = held ? "(" : "[";
    text += lit ? "##" : "  ";
    text += held ? ")" : "]";
    return text;
}

}  // namespace

GridView::GridView(TerminalScreen& screen) : screen_(screen) {}

void GridView::draw(const GridState& state, const GridStatus& status) {
    erase();
    if (const auto notice = tooSmallNotice(COLS, LINES); !notice.empty()) {
        for (int row = 0; row < static_cast<int>(notice.size()); ++row)
            TerminalScreen::put(row, 0, notice[row]);
        refresh();
        return;
    }
    TerminalScreen::put(0, 0, ("velto-grid   " + status.ports));
    TerminalScreen::put(kTop - 1, 0, headerLine());
    const GridCell cursor = state.cursor();
    for (int y = 0; y < GridState::kSize; ++y) {
        TerminalScreen::put(kTop + y, 0, rowLabel(y));
        for (int x = 0; x < GridState::kSize; ++x) {
            const GridCell cell{x, y};
            const bool lit = state.isLit(cell);
            attr_t attributes = A_NORMAL;
            if (lit) attributes |= A_BOLD | (screen_.hasColours() ? COLOR_PAIR(1) : 0);
            if (cell == cursor) attributes |= A_REVERSE;
            attron(attributes);
            TerminalScreen::put(kTop + y, kLeft + x * kCellWidth,
                                cellText(lit, state.isHeld(cell)));
            attroff(attributes);
        }
    }
    int row = kTop + GridState::kSize + 1;
    const std::string& last = state.lastMessage();
    TerminalScreen::put(row++, 0,
                        ("last received: " + (last.empty() ? std::string("(nothing yet)") : last)));
    TerminalScreen::put(row++, 0,
                        ("rate:          " + std::to_string(status.messagesPerSecond) +
                         " messages/s   (" + std::to_string(state.receivedCount()) + " in all)"));
    TerminalScreen::put(row++, 0,
                        ("last sent:     " + (status.lastSent.empty() ? std::string("(nothing yet)")
                                                                      : status.lastSent)));
    ++row;
    screen_.showWithHelp(row, kHelp);
}

void GridView::redrawWhole() { TerminalScreen::redrawWhole(); }

GridAction GridView::actionFor(const TerminalScreen::Input& input) const {
    using Kind = GridAction::Kind;
    switch (input.kind) {
        case TerminalScreen::Input::Kind::resize:
            return {Kind::redraw};
        case TerminalScreen::Input::Kind::mousePress:
            if (const auto cell = cellAt(input.column, input.row))
                return {Kind::mousePress, 0, 0, *cell};
            return {};
        case TerminalScreen::Input::Kind::mouseRelease:
            return {Kind::mouseRelease};
        case TerminalScreen::Input::Kind::key:
            break;
    }
    switch (input.key) {
        case KEY_UP:
        case 'k':
            return {Kind::move, 0, -1};
        case KEY_DOWN:
        case 'j':
            return {Kind::move, 0, 1};
        case KEY_LEFT:
        case 'h':
            return {Kind::move, -1, 0};
        case KEY_RIGHT:
        case 'l':
            return {Kind::move, 1, 0};
        case ' ':
            return {Kind::toggle};
        case '\n':
        case '\r':
        case KEY_ENTER:
            return {Kind::tap};
        case 'c':
        case 'C':
            return {Kind::clear};
        case 'q':
        case 'Q':
            return {Kind::quit};
        case 12:  // Ctrl-L
            return {Kind::redraw};
        default:
            return {};
    }
}

std::optional<GridCell> GridView::cellAt(int column, int row) const {
    const GridCell cell{(column - kLeft) / kCellWidth, row - kTop};
    if (column < kLeft || !GridState::contains(cell)) return std::nullopt;
    return cell;
}

std::string GridView::picture(const GridState& state) {
    std::string text = headerLine() + '\n';
    for (int y = 0; y < GridState::kSize; ++y) {
        text += rowLabel(y);
        for (int x = 0; x < GridState::kSize; ++x) {
            text += cellText(state.isLit({x, y}), state.isHeld({x, y}));
        }
        text += '\n';
    }
    return text;
}

}  // namespace velto::tools

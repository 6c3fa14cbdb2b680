#include "TerminalScreen.h"

#include <curses.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace velto::tools {

namespace {

SCREEN* gScreen = nullptr;

}  // namespace

std::unique_ptr<TerminalScreen> TerminalScreen::open(std::string& error) {
    if (gScreen != nullptr) {
        error = "the terminal is in use already";
        return nullptr;
    }
    // newterm, unlike initscr, reports an unknown terminal instead of exiting.
    gScreen = newterm(nullptr, stdout, stdin);
    if (gScreen == nullptr) {
        const char* term = std::getenv("TERM");
        error =
            std::string("cannot use this terminal (TERM=") + (term ? term : "") + "); try --plain";
        return nullptr;
    }
    set_term(gScreen);
    std::unique_ptr<TerminalScreen> screen(new TerminalScreen());
    cbreak();  // Ctrl-C still raises SIGINT, which the run loop turns into a quit
    noecho();
    nonl();
    keypad(stdscr, TRUE);
    nodelay(stdscr, TRUE);
    set_escdelay(25);  // a lone Escape must not hold the keys behind it for a second
    curs_set(0);
    // Press and release apart: a held cell is a held fader.
    mousemask(BUTTON1_PRESSED | BUTTON1_RELEASED, nullptr);
    mouseinterval(0);
    if (has_colors()) {
        start_color();
        use_default_colors();
        init_pair(1, COLOR_YELLOW, -1);
        init_pair(2, COLOR_CYAN, -1);
        init_pair(3, COLOR_GREEN, -1);
        screen->colours_ = true;
    }
    return screen;
}

TerminalScreen::~TerminalScreen() {
    mousemask(0, nullptr);
    curs_set(1);
    endwin();
    delscreen(gScreen);
    gScreen = nullptr;
}

void TerminalScreen::put(int row, int column, std::string_view text) {
    const int room = COLS - column;
    if (row < 0 || row >= LINES || column < 0 || room <= 0) return;
    mvaddnstr(row, column, text.data(),
              static_cast<int>(std::min<std::size_t>(text.size(), static_cast<std::size_t>(room))));
}

void TerminalScreen::putAfter(int row, std::string_view text) {
    int y = 0;
    int x = 0;
    getyx(stdscr, y, x);
    if (y == row) put(row, x, text);
}

void TerminalScreen::showWithHelp(int row, std::string_view help) const {
    if (colours_) attron(COLOR_PAIR(2));
    put(row, 0, help);
    if (colours_) attroff(COLOR_PAIR(2));
    refresh();
}

void TerminalScreen::redrawWhole() { clearok(curscr, TRUE); }

// newterm reads keys from stdin, which is descriptor 0.
int TerminalScreen::inputDescriptor() const { return 0; }

std::optional<TerminalScreen::Input> TerminalScreen::nextInput() {
    for (;;) {
        const int key = getch();
        if (key == ERR) return std::nullopt;
        if (key == KEY_RESIZE) return Input{Input::Kind::resize, key, 0, 0};
        if (key != KEY_MOUSE) return Input{Input::Kind::key, key, 0, 0};
        MEVENT event{};
        if (getmouse(&event) != OK) continue;
        if (event.bstate & BUTTON1_PRESSED)
            return Input{Input::Kind::mousePress, 0, event.x, event.y};
        if (event.bstate & BUTTON1_RELEASED)
            return Input{Input::Kind::mouseRelease, 0, event.x, event.y};
    }
}

}  // namespace velto::tools

#pragma once

// The terminal taken over by a stand-in peer's interactive mode (ncurses): full
// screen, keys one at a time without echo, mouse presses and releases of the
// first button reported separately. Destroying it gives the terminal back as
// it was, whatever the way out (quit key, signal, error).
//
// Only one at a time; main thread. The views draw with curses directly.

#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace velto::tools {

class TerminalScreen {
public:
    struct Input {
        enum class Kind { key, mousePress, mouseRelease, resize };
        Kind kind = Kind::key;
        int key = 0;     // curses key code, for Kind::key
        int column = 0;  // screen position, for the mouse
        int row = 0;
    };

    // Null, with `error` saying why, when the terminal can't be used.
    static std::unique_ptr<TerminalScreen> open(std::string& error);
    ~TerminalScreen();
    TerminalScreen(const TerminalScreen&) = delete;
    TerminalScreen& operator=(const TerminalScreen&) = delete;

    // Where keys come from: watch it for input, then take nextInput() until none.
    int inputDescriptor() const;
    // The next key or mouse event that is waiting, or none; never waits.
    std::optional<Input> nextInput();

    // Writes text at a row and column, cut at the right edge of the screen
    // rather than wrapping onto the next row.
    static void put(int row, int column, std::string_view text);
    // The same, right after what was written last, if that was on this row.
    static void putAfter(int row, std::string_view text);

    // Ends a frame: the keys' help at `row`, in its own colour, then all of it shown.
    void showWithHelp(int row, std::string_view help) const;
    // Has the next frame draw every cell again (after a resize).
    static void redrawWhole();

    // Whether the terminal shows colours (initialised when it does).
    bool hasColours() const { return colours_; }

private:
    TerminalScreen() = default;
    bool colours_ = false;
};

}  // namespace velto::tools

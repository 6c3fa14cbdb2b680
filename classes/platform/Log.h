#pragma once

// The console log: time-stamped lines on standard error, and system-error lines
// in the form "bind: Address already in use". Any thread may log; lines never
// interleave. Tests capture lines with Log::Capture.
//
// Logging never blocks: a line that standard error cannot take at once (a
// stalled reader) is dropped and counted, and the count is logged before the
// next line that gets through.

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace velto {

// Text from the network made safe to log or print: bytes below 0x20 or above
// 0x7E become \n, \r, \t or \xNN (two lower-case hex digits), and a
// backslash becomes \\, so that the result is one line of plain characters
// from which the original bytes can be read back.
std::string escapeText(std::string_view text);

class Log {
public:
    // "2026-12-06 09:03:13.123 velto[4242] <text>"
    static void message(std::string_view text);
    // "<what>: <the system's description of errnum>", without a time stamp.
    static std::string systemError(std::string_view what, int errnum);  // returns the line's text

    // Verbose mode (--verbose): traffic is logged as text. Off by default.
    // A reader of the log that goes away (`velto 2>&1 | head -1`) must not end
    // the process: its writes fail instead of raising SIGPIPE. Call once at start.
    static void surviveClosedReader();
    static void setVerbose(bool verbose);
    static bool isVerbose();

    // While alive, lines go to this capture (without their time stamps) instead
    // of standard error. One capture at a time.
    class Capture {
    public:
        Capture();
        ~Capture();
        Capture(const Capture&) = delete;
        Capture& operator=(const Capture&) = delete;
        std::vector<std::string> lines() const;
        bool contains(std::string_view fragment) const;
    };
};

}  // namespace velto

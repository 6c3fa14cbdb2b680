#pragma once

// The frame that every tool runs in, held as the tool's first member so that
// it outlives all the rest: the clock and the run loop, and the stop signals,
// taken at once so that a signal at any moment after start is a clean quit.
// A tool with a screen holds a ToolConsole as its last member.
//
// Main thread only.

#include <string>

#include "platform/Clock.h"
#include "platform/RunLoop.h"

namespace velto::tools {

class ToolShell {
public:
    // `name` is the program's, for its messages ("velto-grid").
    explicit ToolShell(std::string name);
    ToolShell(const ToolShell&) = delete;
    ToolShell& operator=(const ToolShell&) = delete;

    const std::string& name() const { return name_; }
    SystemClock& clock() { return clock_; }
    RunLoop& loop() { return loop_; }

    // Runs until quit() or a stop signal; the exit status, 0.
    int run();
    void quit();
    bool quitting() const { return quitting_; }
    // Says "<name>: <why>" on standard error; the exit status, 1.
    int fail(const std::string& why) const;

private:
    std::string name_;
    SystemClock clock_;
    RunLoop loop_;
    bool quitting_ = false;
};

}  // namespace velto::tools

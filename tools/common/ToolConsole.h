#pragma once

// The interactive tools' console, held as the tool's last member: either the
// terminal screen (its input watched, redrawn on a timer) or the plain mode
// (commands on standard input, one line per event). Going first, it gives the
// terminal back before the tool's endpoints say their last word.
//
// Main thread only.

#include <functional>
#include <memory>
#include <string>

#include "CommandInput.h"
#include "Status.h"
#include "TerminalScreen.h"
#include "ToolShell.h"

namespace velto::tools {

class ToolConsole {
public:
    struct Handlers {
        std::function<void(const std::string& line)> command;     // plain: each line of input
        std::function<void(TerminalScreen& screen)> opened;       // screen: make the view
        std::function<void(const TerminalScreen::Input&)> input;  // screen: each key or click
        std::function<void()> draw;                               // screen: draw what changed
    };

    ToolConsole() = default;
    ToolConsole(const ToolConsole&) = delete;
    ToolConsole& operator=(const ToolConsole&) = delete;

    // Plain: says "<name> ready: <ready>" and takes commands until the end of
    // the input, which quits. Screen: takes over the terminal and draws. Fails
    // when the terminal can't be used.
    Status start(ToolShell& shell, bool plain, const std::string& ready, Handlers handlers);

private:
    void takeInput();

    ToolShell* shell_ = nullptr;
    Handlers handlers_;
    // In the order they are made: they go in reverse, the screen last.
    std::unique_ptr<TerminalScreen> screen_;
    std::unique_ptr<CommandInput> commands_;
    std::unique_ptr<ReadableWatch> input_;
    std::unique_ptr<Timer> drawTimer_;
};

}  // namespace velto::tools

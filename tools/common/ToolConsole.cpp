#include "ToolConsole.h"

#include <utility>

#include "ToolApp.h"

namespace velto::tools {

namespace {

constexpr int kStandardInput = 0;  // descriptor
// Redraws are gathered: messages can arrive a thousand times a second.
constexpr Duration kDrawInterval = std::chrono::milliseconds(50);

}  // namespace

Status ToolConsole::start(ToolShell& shell, bool plain, const std::string& ready,
                          Handlers handlers) {
    shell_ = &shell;
    handlers_ = std::move(handlers);
    if (plain) {
        ToolApp::say(shell.name() + " ready: " + ready);
        commands_ = std::make_unique<CommandInput>(
            shell.loop(), kStandardInput, handlers_.command, [&shell] { return shell.quitting(); },
            [&shell] { shell.quit(); });
        return Status::success();
    }
    std::string error;
    screen_ = TerminalScreen::open(error);
    if (!screen_) return Status::failure(error);
    handlers_.opened(*screen_);
    input_ = shell.loop().watchReadable(screen_->inputDescriptor(), [this] { takeInput(); });
    drawTimer_ = shell.loop().scheduleTimer(kDrawInterval, true, [this] {
        takeInput();  // a resize shows up as a key
        handlers_.draw();
    });
    handlers_.draw();
    return Status::success();
}

void ToolConsole::takeInput() {
    while (!shell_->quitting()) {
        const auto input = screen_->nextInput();
        if (!input) break;
        handlers_.input(*input);
    }
    handlers_.draw();
}

}  // namespace velto::tools

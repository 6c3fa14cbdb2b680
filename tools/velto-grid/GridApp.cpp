#include "GridApp.h"

#include <span>
#include <sstream>
#include <vector>

#include "ToolApp.h"
#include "common/osc/HJOSCMessage.h"

namespace velto::tools {

namespace {

constexpr const char* kCommands =
    "press X Y, release X Y, tap X Y, clear, show, quit; with --serialosc: unplug, replug";

std::string pressText(const GridPress& press) {
    return std::string(press.state != 0 ? "press " : "release ") + std::to_string(press.cell.x) +
           " " + std::to_string(press.cell.y);
}

}  // namespace

std::string GridApp::usage() {
    return "Usage: velto-grid [--listen-port N] [--send-port N] [--plain]\n"
           "       velto-grid --serialosc [--serialosc-port N] [--plain]\n"
           "An 8x8 grid controller in the terminal, standing in for the real grid: it lights\n"
           "its cells as \"/monome/led\" x y state arrives, and sends \"/monome/press\" x y state\n"
           "(row 0 at the top) for presses and releases, over UDP on 127.0.0.1.\n"
           "\n"
           "Options:\n"
           "  --listen-port N   port to listen on: Velto's monomeSendPort (default 8080;\n"
           "                    0 lets the system pick one)\n"
           "  --send-port N     port to send to: Velto's monomeListenPort (default 8000)\n"
           "  --plain           no screen: one line per event on standard output, commands\n"
           "                    on standard input (press X Y, release X Y, tap X Y, clear,\n"
           "                    show, quit; with --serialosc also unplug and replug)\n"
           "  --serialosc       be a grid served by serialosc instead: answer its discovery\n"
           "                    (\"/serialosc/list\", \"/serialosc/notify\"), take \"/sys/...\"\n"
           "                    settings on a port of its own, send <prefix>/grid/key and\n"
           "                    draw <prefix>/grid/led/set, /all and /map (for velto-serialosc;\n"
           "                    --listen-port and --send-port are not used)\n"
           "  --serialosc-port N  the discovery port to answer on (default 12002; 0 lets the\n"
           "                    system pick one)\n"
           "  --help            show this help and exit\n"
           "  --version         show the version and exit\n"
           "\n"
           "Keys: arrows move the cursor, space presses (a second space releases), enter\n"
           "taps, c clears the lights, q quits. Mouse: a press on a cell presses it and\n"
           "the release releases it, so a fader cell can be held.\n";
}

int GridApp::main(int argc, const char* const* argv) {
    const std::span<const char* const> all(argv, static_cast<std::size_t>(argc));
    std::vector<const char*> arguments(all.begin() + (argc > 0 ? 1 : 0), all.end());
    SerialoscLink::Options serialosc;
    if (const Status taken = SerialoscLink::takeOptions(arguments, serialosc); !taken.ok())
        return *ToolApp::finishEarly("velto-grid", OptionAction::error, taken.error(), usage());
    const ToolOptions options = ToolOptions::parse(optionSpec(), arguments);
    if (const auto status =
            ToolApp::finishEarly("velto-grid", options.action, options.error, usage()))
        return *status;
    return ToolApp::runCatching("velto-grid", [&] {
        GridApp app(options, serialosc);
        return app.run();
    });
}

GridApp::GridApp(ToolOptions options, SerialoscLink::Options serialosc)
    : options_(std::move(options)), serialoscOptions_(serialosc), shell_("velto-grid") {}

int GridApp::run() {
    if (const Status opened = openEndpoints(); !opened.ok()) return shell_.fail(opened.error());
    const Status started = console_.start(
        shell_, options_.plain, ports_,
        {[this](const std::string& line) { runCommand(line); },
         [this](TerminalScreen& screen) { view_ = std::make_unique<GridView>(screen); },
         [this](const TerminalScreen::Input& input) { apply(view_->actionFor(input)); },
         [this] { drawIfChanged(); }});
    if (!started.ok()) return shell_.fail(started.error());
    return shell_.run();
}

Status GridApp::openEndpoints() {
    std::string error;
    if (serialoscOptions_.enabled) {
        serialosc_ = SerialoscLink::open(
            shell_.loop(), serialoscOptions_.discoveryPort,
            [this](GridCell cell, bool lit) { showLight(state_.setLight(cell, lit)); },
            [this](const std::string& line) {
                changed_ = true;
                if (options_.plain) ToolApp::say(line);
            },
            error);
        if (!serialosc_) return Status::failure(error);
        ports_ = serialosc_->describePorts();
    } else {
        peer_ = OscPeer::open(
            shell_.loop(), options_.listenPort, options_.sendPort,
            [this](const HJOSCMessage& message) { receive(message); }, error);
        if (!peer_) return Status::failure(error);
        ports_ = ToolApp::describePorts(peer_->listenPort(), peer_->sendPort());
    }
    return Status::success();
}

void GridApp::receive(const HJOSCMessage& message) {
    const auto span = message.attachedObjects();
    const std::vector<HJOSCArgument> arguments(span.begin(), span.end());
    const auto light =
        state_.receiveMessage(message.address().address(), arguments, shell_.clock().now());
    changed_ = true;
    if (!options_.plain) return;
    if (!light) {
        ToolApp::say("ignored " + state_.lastMessage());
    } else {
        showLight(*light);
    }
}

void GridApp::showLight(const GridLight& light) {
    changed_ = true;
    if (options_.plain && light.changed) {
        ToolApp::say("led " + std::to_string(light.cell.x) + " " + std::to_string(light.cell.y) +
                     (light.lit ? " on" : " off"));
    }
}

bool GridApp::send(const GridPress& press) {
    if (serialosc_) {
        if (!serialosc_->sendKey(press)) {
            // The link has said why. The screen shows what was sent: a key
            // that never went down is not held.
            if (press.state != 0) state_.release(press.cell);
            changed_ = true;
            return false;
        }
    } else {
        peer_->send(GridState::kPressAddress,
                    {HJOSCArgument::withInt(press.cell.x), HJOSCArgument::withInt(press.cell.y),
                     HJOSCArgument::withInt(press.state)});
    }
    lastSent_ = pressText(press);
    changed_ = true;
    if (options_.plain) ToolApp::say("sent " + lastSent_);
    return true;
}

void GridApp::runCommand(const std::string& line) {
    std::istringstream words(line);
    std::string command;
    if (!(words >> command) || command.starts_with('#')) return;
    if (command == "quit" || command == "q") {
        shell_.quit();
        return;
    }
    if (command == "clear" || command == "c") {
        state_.clearLights();
        ToolApp::say("cleared");
        return;
    }
    if (serialosc_ && command == "unplug") {
        serialosc_->unplug();
        return;
    }
    if (serialosc_ && command == "replug") {
        std::string error;
        if (!serialosc_->replug(error)) ToolApp::say("error: " + error);
        ports_ = serialosc_->describePorts();
        return;
    }
    if (command == "show") {
        std::istringstream picture(GridView::picture(state_));
        for (std::string row; std::getline(picture, row);) ToolApp::say(row);
        return;
    }
    if (command == "help") {
        ToolApp::say("commands: " + std::string(kCommands));
        return;
    }
    if (command == "press" || command == "release" || command == "tap") {
        GridCell cell;
        std::string rest;
        if (!(words >> cell.x >> cell.y) || (words >> rest) || !GridState::contains(cell)) {
            ToolApp::say("error: " + command + " needs a column and a row, 0 to 7: '" + line + "'");
            return;
        }
        std::vector<GridPress> presses;
        if (command != "release") {
            if (auto down = state_.press(cell)) presses.push_back(*down);
        }
        if (command != "press") {
            if (auto up = state_.release(cell)) presses.push_back(*up);
        }
        if (presses.empty())
            ToolApp::say("error: " + command + " " + std::to_string(cell.x) + " " +
                         std::to_string(cell.y) + ": the cell is " +
                         (command == "press" ? "held already" : "not held"));
        for (const GridPress& press : presses) {
            if (!send(press)) break;  // no release for a press that was not sent
        }
        return;
    }
    ToolApp::say("error: unknown command '" + command + "' (commands: " + kCommands + ")");
}

void GridApp::drawIfChanged() {
    if (!view_) return;
    const std::size_t rate = state_.messagesPerSecond(shell_.clock().now());
    if (!changed_ && rate == shownRate_) return;
    shownRate_ = rate;
    changed_ = false;
    view_->draw(state_, {ports_, lastSent_, rate});
}

void GridApp::apply(const GridAction& action) {
    using Kind = GridAction::Kind;
    switch (action.kind) {
        case Kind::none:
            return;
        case Kind::quit:
            shell_.quit();
            return;
        case Kind::move:
            state_.moveCursor(action.dx, action.dy);
            break;
        case Kind::toggle:
            if (auto press = state_.toggleAtCursor()) send(*press);
            break;
        case Kind::tap:
            for (const GridPress& press : state_.tapAtCursor()) {
                if (!send(press)) break;
            }
            break;
        case Kind::clear:
            state_.clearLights();
            break;
        case Kind::mousePress:
            if (auto press = state_.mousePress(action.cell)) send(*press);
            break;
        case Kind::mouseRelease:
            if (auto press = state_.mouseRelease()) send(*press);
            break;
        case Kind::redraw:
            view_->redrawWhole();
            break;
    }
    changed_ = true;
}

}  // namespace velto::tools

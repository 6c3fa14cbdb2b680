#include "VideoApp.h"

#include <cstdio>
#include <span>
#include <sstream>

#include "ToolApp.h"
#include "common/osc/HJOSCMessage.h"

namespace velto::tools {

namespace {

constexpr const char* kCommands = "layers N, pause, play, report, status, quit";

std::string formatted(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", value);
    return text;
}

const char* kindName(VideoEvent::Kind kind) {
    switch (kind) {
        case VideoEvent::Kind::opacity:
            return "opacity";
        case VideoEvent::Kind::speed:
            return "speed";
        case VideoEvent::Kind::position:
            return "time";
        default:
            return "";
    }
}

}  // namespace

std::string VideoApp::usage() {
    return "Usage: velto-video [--listen-port N] [--send-port N] [--layers N] [--plain]\n"
           "A simulated video-playback app, standing in for the real one: four layers with\n"
           "opacity (0-100), media speed (0-100, 100 is normal speed: a clip lasts 10 s) and\n"
           "media position (0-1, wrapping at 1), driven by OSC \"/stagevue/...\" over UDP on\n"
           "127.0.0.1. It answers \"/stagevue/ping\" with \"/stagevue/layerNumber\" and every\n"
           "value it holds, and reports each layer's position ten times a second while playing.\n"
           "\n"
           "Options:\n"
           "  --listen-port N   port to listen on: Velto's stagevueSendPort (default 5000;\n"
           "                    0 lets the system pick one)\n"
           "  --send-port N     port to send to: Velto's stagevueListenPort (default 5001)\n"
           "  --layers N        number of layers, 0 to 4 (default 4)\n"
           "  --plain           no screen: one line per event on standard output, commands\n"
           "                    on standard input (layers N, pause, play, report, status, quit)\n"
           "  --help            show this help and exit\n"
           "  --version         show the version and exit\n"
           "\n"
           "Keys: 0-4 set the layer count (and report it), p or space pauses and resumes,\n"
           "r reports every value, q quits.\n";
}

int VideoApp::main(int argc, const char* const* argv) {
    const std::span<const char* const> arguments(argv, static_cast<std::size_t>(argc));
    const ToolOptions options =
        ToolOptions::parse(optionSpec(), arguments.subspan(argc > 0 ? 1 : 0));
    if (const auto status =
            ToolApp::finishEarly("velto-video", options.action, options.error, usage()))
        return *status;
    return ToolApp::runCatching("velto-video", [&] {
        VideoApp app(options);
        return app.run();
    });
}

VideoApp::VideoApp(ToolOptions options)
    : options_(std::move(options)), shell_("velto-video"), state_(options_.layers) {}

int VideoApp::run() {
    std::string error;
    peer_ = OscPeer::open(
        shell_.loop(), options_.listenPort, options_.sendPort,
        [this](const HJOSCMessage& message) { receive(message); }, error);
    if (!peer_) return shell_.fail(error);
    status_.ports = ToolApp::describePorts(peer_->listenPort(), peer_->sendPort());
    const Status started = console_.start(
        shell_, options_.plain,
        status_.ports + ", " + std::to_string(state_.layerCount()) + " layers",
        {[this](const std::string& line) { runCommand(line); },
         [this](TerminalScreen& screen) { view_ = std::make_unique<VideoView>(screen); },
         [this](const TerminalScreen::Input& input) { apply(view_->actionFor(input)); },
         [this] { drawIfChanged(); }});
    if (!started.ok()) return shell_.fail(started.error());
    lastTick_ = shell_.clock().now();
    playTimer_ = shell_.loop().scheduleTimer(kReportInterval, true, [this] { tick(); });
    return shell_.run();
}

void VideoApp::tick() {
    const Instant now = shell_.clock().now();
    // The time that really passed: a late tick does not slow the playheads.
    state_.advance(now - lastTick_);
    lastTick_ = now;
    if (!state_.isPlaying()) return;
    sendReports(state_.positionReports());
    changed_ = true;
}

void VideoApp::sendReports(const std::vector<VideoReport>& reports) {
    for (const VideoReport& report : reports) peer_->send(report.address, {report.value});
}

void VideoApp::receive(const HJOSCMessage& message) {
    const std::string address(message.address().address());
    const auto span = message.attachedObjects();
    const std::vector<HJOSCArgument> arguments(span.begin(), span.end());
    status_.lastReceived = OscPeer::describe(address, arguments);
    changed_ = true;
    const VideoEvent event = state_.receiveMessage(address, arguments);
    switch (event.kind) {
        case VideoEvent::Kind::ping:
            reportState("ping");
            return;
        case VideoEvent::Kind::ignored:
            if (options_.plain) ToolApp::say("ignored " + status_.lastReceived);
            return;
        default:
            if (options_.plain)
                ToolApp::say(std::string(kindName(event.kind)) + " " + std::to_string(event.layer) +
                             " " + formatted(event.value));
            return;
    }
}

void VideoApp::reportState(const std::string& why) {
    sendReports(state_.stateReports());
    status_.lastSent =
        "layerNumber " + std::to_string(state_.layerCount()) + " and every value (" + why + ")";
    changed_ = true;
    if (options_.plain) {
        ToolApp::say("reported layers " + std::to_string(state_.layerCount()) +
                     " and every value (" + why + ")");
    }
}

void VideoApp::setLayerCount(int count) {
    state_.setLayerCount(count);
    if (options_.plain) ToolApp::say("layers " + std::to_string(state_.layerCount()));
    // A layer that comes back stays dark on the grid until its values arrive.
    reportState("layer count");
}

void VideoApp::setPlaying(bool playing) {
    state_.setPlaying(playing);
    changed_ = true;
    if (options_.plain) ToolApp::say(playing ? "playing" : "paused");
}

void VideoApp::runCommand(const std::string& line) {
    std::istringstream words(line);
    std::string command;
    if (!(words >> command) || command.starts_with('#')) return;
    if (command == "quit" || command == "q") {
        shell_.quit();
    } else if (command == "pause") {
        setPlaying(false);
    } else if (command == "play" || command == "resume") {
        setPlaying(true);
    } else if (command == "report") {
        reportState("asked");
    } else if (command == "status") {
        ToolApp::say(std::string(state_.isPlaying() ? "playing" : "paused") + ", layers " +
                     std::to_string(state_.layerCount()));
        for (int number = 1; number <= state_.layerCount(); ++number) {
            const VideoLayer& layer = state_.layer(number);
            ToolApp::say("layer " + std::to_string(number) + ": opacity " +
                         formatted(layer.opacity) + ", speed " + formatted(layer.speed) +
                         ", time " + formatted(state_.reportedPosition(number)));
        }
    } else if (command == "layers") {
        int count = -1;
        std::string rest;
        if (!(words >> count) || (words >> rest) || count < 0 || count > VideoState::kMaxLayers) {
            ToolApp::say("error: layers needs a count, 0 to " +
                         std::to_string(VideoState::kMaxLayers) + ": '" + line + "'");
            return;
        }
        setLayerCount(count);
    } else if (command == "help") {
        ToolApp::say("commands: " + std::string(kCommands));
    } else {
        ToolApp::say("error: unknown command '" + command + "' (commands: " + kCommands + ")");
    }
}

void VideoApp::apply(const VideoAction& action) {
    using Kind = VideoAction::Kind;
    switch (action.kind) {
        case Kind::none:
            return;
        case Kind::quit:
            shell_.quit();
            return;
        case Kind::layers:
            setLayerCount(action.layers);
            break;
        case Kind::togglePlaying:
            setPlaying(!state_.isPlaying());
            break;
        case Kind::report:
            reportState("asked");
            break;
        case Kind::redraw:
            view_->redrawWhole();
            break;
    }
    changed_ = true;
}

void VideoApp::drawIfChanged() {
    if (!view_ || !changed_) return;
    changed_ = false;
    view_->draw(state_, status_);
}

}  // namespace velto::tools

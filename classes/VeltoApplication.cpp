#include "VeltoApplication.h"

#include <csignal>
#include <cstdio>
#include <memory>
#include <new>
#include <span>
#include <string>
#include <system_error>

#include "VeltoController.h"
#include "VeltoOptions.h"
#include "VeltoVersion.h"
#include "platform/Clock.h"
#include "platform/Log.h"
#include "platform/RunLoop.h"
#include "platform/SettingsStore.h"
#include "platform/Terminal.h"
#include "web/GridMirror.h"
#include "web/WebAccess.h"

namespace velto {

namespace {

std::string startLine(const FileSettingsStore& settings, const VeltoController& controller) {
    return "velto " VELTO_VERSION ": settings " + settings.path().string() + "; " +
           controller.portsDescription();
}

// Logs why the bridge cannot run; never throws, even out of memory.
void logCannotRun(const char* reason) {
    try {
        Log::message(std::string("cannot run: ") + reason);
    } catch (...) {
    }
}

int runBridge(const VeltoOptions& options);

// The browser grid when the settings ask for one ("webPort" 1 to 65535); none
// when off or when it cannot start (logged: the bridge runs on without it).
std::unique_ptr<GridMirror> startGridMirror(RunLoop& loop, SettingsStore& settings,
                                            VeltoController& controller, const std::string& host) {
    const auto port = settings.integerForKey("webPort");
    if (port < 1 || port > 65535) return nullptr;
    WebServer::Settings web{host, static_cast<std::uint16_t>(port), {}};
    if (!WebAccess::isLoopback(host)) {
        auto token = WebAccess::makeToken();
        if (!token) {
            Log::message(
                "web: no access token (the system's randomness cannot be read): not serving");
            return nullptr;
        }
        web.token = std::move(*token);
    }
    return GridMirror::start(loop, controller, std::move(web));
}

}  // namespace

int VeltoApplicationMain(int argc, const char* const* argv) {
    const auto options =
        VeltoOptions::parse(std::span<const char* const>(argv, static_cast<std::size_t>(argc))
                                .subspan(argc > 0 ? 1 : 0));
    switch (options.action) {
        case VeltoOptions::Action::help:
            std::fputs(VeltoOptions::usage().c_str(), stdout);
            return 0;
        case VeltoOptions::Action::version:
            std::puts("velto " VELTO_VERSION);
            return 0;
        case VeltoOptions::Action::error:
            std::fprintf(stderr, "velto: %s\nTry 'velto --help' for more information.\n",
                         options.error.c_str());
            return 2;
        case VeltoOptions::Action::run:
            break;
    }

    Log::surviveClosedReader();
    // Whatever the system refuses at start (or on a reload) ends the bridge
    // with a line and a status that a supervisor acts on, never with an abort
    // and never deaf.
    try {
        return runBridge(options);
    } catch (const ResourceFailure&) {
        return 1;  // logged where it failed
    } catch (const std::system_error& error) {
        logCannotRun(error.what());
    } catch (const std::bad_alloc&) {
        logCannotRun("out of memory");
    }
    return 1;
}

namespace {

int runBridge(const VeltoOptions& options) {
    Log::setVerbose(options.verbose);
    SystemClock clock;
    RunLoop mainLoop(clock);
    FileSettingsStore settings(options.settingsPath.empty()
                                   ? FileSettingsStore::defaultPath()
                                   : std::filesystem::path(options.settingsPath));
    for (const auto& [key, port] : options.ports) settings.setIntegerForKey(port, key);

    auto controller = std::make_shared<VeltoController>(settings, mainLoop);
    std::unique_ptr<GridMirror> mirror;
    const auto fullStartLine = [&] {
        return startLine(settings, *controller) + (mirror ? "; page " + mirror->pageAddress() : "");
    };
    // Started from a terminal, a SIGHUP that finds the terminal gone is its
    // hang-up (a closed window, tmux kill-session): quit, as terminal programs
    // do. Any other SIGHUP, and every one without a terminal (systemd), reloads.
    const bool startedFromTerminal = ControllingTerminal::isPresent();
    // Signals are taken over before the endpoints open, so that an early SIGHUP
    // or SIGTERM is handled rather than ending the process abruptly.
    mainLoop.handleSignals({SIGINT, SIGTERM, SIGHUP}, [&](int signal) {
        if (signal == SIGHUP && startedFromTerminal && !ControllingTerminal::isPresent()) {
            Log::message("terminal hung up: quitting");
            mainLoop.stop();
        } else if (signal == SIGHUP) {
            settings.reload();
            controller->reloadPorts();
            Log::message(fullStartLine());
        } else {
            mainLoop.stop();
        }
    });
    controller->awakeFromNib();
    mirror = startGridMirror(mainLoop, settings, *controller, options.webHost);
    Log::message(fullStartLine());
    mainLoop.run();

    mirror.reset();      // stops observing the controller
    controller.reset();  // stops the listeners and flushes the senders, in order
    return 0;
}

}  // namespace

}  // namespace velto

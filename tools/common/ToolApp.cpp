#include "ToolApp.h"

#include <cstdio>
#include <exception>

#include "VeltoVersion.h"

namespace velto::tools {

std::optional<int> ToolApp::finishEarly(std::string_view tool, OptionAction action,
                                        const std::string& error, const std::string& usage) {
    const std::string name(tool);
    switch (action) {
        case OptionAction::help:
            std::fputs(usage.c_str(), stdout);
            return 0;
        case OptionAction::version:
            std::printf("%s %s\n", name.c_str(), VELTO_VERSION);
            return 0;
        case OptionAction::error:
            std::fprintf(stderr, "%s: %s\nTry '%s --help' for more information.\n", name.c_str(),
                         error.c_str(), name.c_str());
            return 2;
        case OptionAction::run:
            break;
    }
    return std::nullopt;
}

int ToolApp::runCatching(std::string_view tool, const std::function<int()>& run) {
    try {
        return run();
    } catch (const std::exception& failure) {
        // The app is gone by now, and with it the screen: the terminal is back.
        std::fprintf(stderr, "%s: %s\n", std::string(tool).c_str(), failure.what());
        return 1;
    }
}

std::string ToolApp::describePorts(int listenPort, int sendPort) {
    return "listening on port " + std::to_string(listenPort) + ", sending to port " +
           std::to_string(sendPort);
}

void ToolApp::say(const std::string& line) {
    std::fputs((line + '\n').c_str(), stdout);
    std::fflush(stdout);  // whoever reads us sees each event as it happens
}

}  // namespace velto::tools

#pragma once

// The command line shared by the stand-in peers: the port to listen on, the
// port to send to (both on 127.0.0.1), the plain (non-interactive) mode, and
// for the video stand-in its layer count. Parsing is kept apart from running
// so that it can be tested without starting anything.

#include <cstdint>
#include <span>
#include <string>

#include "OptionScanner.h"

namespace velto::tools {

struct ToolOptions {
    using Action = OptionAction;

    // What a tool accepts and its defaults.
    struct Profile {
        std::int32_t listenPort = 0;
        std::int32_t sendPort = 0;
        bool takesLayers = false;
        int layers = 0;
        int maxLayers = 0;
    };

    Action action = Action::run;
    std::string error;            // with Action::error: what was wrong, for the user
    std::int32_t listenPort = 0;  // 0: a port that the system picks
    std::int32_t sendPort = 0;
    int layers = 0;
    bool plain = false;

    // Options as "--name value" or "--name=value"; arguments without argv[0].
    static ToolOptions parse(const Profile& profile, std::span<const char* const> arguments);
};

}  // namespace velto::tools

#pragma once

// Velto's command line: where the settings live, ports to store before start-up,
// verbose traffic logging. Parsing is kept apart from running so that it can be
// tested without starting anything.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "OptionScanner.h"

namespace velto {

struct VeltoOptions {
    using Action = OptionAction;

    Action action = Action::run;
    std::string error;         // with Action::error: what was wrong, for the user
    std::string settingsPath;  // empty: the default location
    // Settings keys with the values to store before start-up, in command-line order.
    std::vector<std::pair<std::string, std::int32_t>> ports;
    bool verbose = false;
    std::string webHost = "127.0.0.1";  // where the browser grid listens (its port: "webPort")

    static VeltoOptions parse(std::span<const char* const> arguments);  // without argv[0]
    static std::string usage();
};

}  // namespace velto

#pragma once

// velto-serialosc's command line: serialosc's discovery port, Velto's two grid
// ports (named as Velto's own settings and options name them), our own port
// for serialosc and the grid, and the grid to use. Parsing is kept apart from
// running so that it can be tested without starting anything.

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "OptionScanner.h"

namespace velto::tools {

struct SerialoscOptions {
    using Action = OptionAction;

    static constexpr std::int32_t kDefaultSerialoscPort = 12002;
    static constexpr std::int32_t kDefaultMonomeSendPort = 8080;    // Velto's "monomeSendPort"
    static constexpr std::int32_t kDefaultMonomeListenPort = 8000;  // Velto's "monomeListenPort"

    Action action = Action::run;
    std::string error;  // with Action::error: what was wrong, for the user
    std::int32_t serialoscPort = kDefaultSerialoscPort;
    // Where Velto sends its lights: we listen there.
    std::int32_t monomeSendPort = kDefaultMonomeSendPort;
    // Where Velto listens for presses: we send there.
    std::int32_t monomeListenPort = kDefaultMonomeListenPort;
    // Where serialosc and the grid reach us; 0: a port that the system picks.
    std::int32_t listenPort = 0;
    std::optional<std::string> device;  // the grid's id; none: the first grid found

    // Options as "--name value" or "--name=value"; arguments without argv[0].
    static SerialoscOptions parse(std::span<const char* const> arguments);
    static std::string usage();
};

}  // namespace velto::tools

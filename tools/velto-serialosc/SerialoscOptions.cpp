#include "SerialoscOptions.h"

#include <string_view>

namespace velto::tools {

SerialoscOptions SerialoscOptions::parse(std::span<const char* const> arguments) {
    SerialoscOptions options;
    OptionScanner scanner(arguments);
    // A port within [lowest, 65535] into `port`, or why not.
    auto takePort = [&](int lowest, std::int32_t& port) {
        return scanner.takeNumber(lowest, 65535, {"a port number"}, port);
    };
    while (scanner.next(options.action)) {
        const std::string_view argument = scanner.name();
        Status problem = Status::success();
        if (argument == "--serialosc-port") {
            problem = takePort(1, options.serialoscPort);
        } else if (argument == "--monome-send-port") {
            problem = takePort(1, options.monomeSendPort);
        } else if (argument == "--monome-listen-port") {
            problem = takePort(1, options.monomeListenPort);
        } else if (argument == "--listen-port") {
            problem = takePort(0, options.listenPort);
        } else if (argument == "--device") {
            const auto id = scanner.takeValue();
            if (!id || id->empty()) {
                problem = Status::failure(
                    "option --device needs the id of a grid (as serialosc lists it)");
            } else {
                options.device = std::string(*id);
            }
        } else {
            problem = Status::failure("unknown option '" + std::string(scanner.argument()) + "'");
        }
        if (!problem.ok()) return failedOptions<SerialoscOptions>(problem.error());
    }
    if (options.action != Action::run) return options;  // help or the version
    // Both are ours to listen on.
    if (options.listenPort != 0 && options.listenPort == options.monomeSendPort) {
        return failedOptions<SerialoscOptions>("--listen-port and --monome-send-port are both " +
                                               std::to_string(options.listenPort) +
                                               ": they need different ports");
    }
    return options;
}

std::string SerialoscOptions::usage() {
    return "Usage: velto-serialosc [--device ID] [--serialosc-port N] [--monome-send-port N]\n"
           "                       [--monome-listen-port N] [--listen-port N]\n"
           "Lets a grid served by serialosc play the grid for Velto: its key presses reach\n"
           "Velto as \"/monome/press\" x y state, and Velto's \"/monome/led\" x y state light\n"
           "its keys. It finds the grid through serialosc (and waits for serialosc and the\n"
           "grid if they are not there yet), and redraws it whole whenever it comes back,\n"
           "also after serialosc restarts (it asks serialosc once a second).\n"
           "It never changes the grid's prefix or rotation; a larger grid uses its top-left\n"
           "8x8. Everything runs over UDP on 127.0.0.1.\n"
           "\n"
           "Options:\n"
           "  --device ID              the grid to use, by its serialosc id (default: the\n"
           "                           first grid that serialosc reports)\n"
           "  --serialosc-port N       serialosc's discovery port (default 12002)\n"
           "  --monome-send-port N     Velto's monomeSendPort, where Velto sends its lights\n"
           "                           and this adapter listens (default 8080)\n"
           "  --monome-listen-port N   Velto's monomeListenPort, where presses go\n"
           "                           (default 8000)\n"
           "  --listen-port N          port on which serialosc and the grid reach this\n"
           "                           adapter (default 0: the system picks one)\n"
           "  --help                   show this help and exit\n"
           "  --version                show the version and exit\n";
}

}  // namespace velto::tools

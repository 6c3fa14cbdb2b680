#include "SerialoscOptions.h"

#include <charconv>
#include <string_view>

namespace velto::tools {

namespace {

SerialoscOptions failure(std::string text) {
    SerialoscOptions options;
    options.action = SerialoscOptions::Action::error;
    options.error = std::move(text);
    return options;
}

std::optional<int> parseInteger(std::string_view text) {
    int number = 0;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, number);
    if (text.empty() || ec != std::errc() || ptr != end) return std::nullopt;
    return number;
}

}  // namespace

SerialoscOptions SerialoscOptions::parse(std::span<const char* const> arguments) {
    SerialoscOptions options;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        std::string_view argument = arguments[i];
        std::optional<std::string_view> inlineValue;
        if (const auto equals = argument.find('=');
            argument.starts_with("--") && equals != std::string_view::npos) {
            inlineValue = argument.substr(equals + 1);
            argument = argument.substr(0, equals);
        }
        const std::string name(argument);
        auto takeValue = [&]() -> std::optional<std::string_view> {
            if (inlineValue) return inlineValue;
            if (i + 1 < arguments.size()) return std::string_view(arguments[++i]);
            return std::nullopt;
        };
        // A port within [lowest, 65535] into `port`, or the reason why not.
        auto takePort = [&](int lowest, std::int32_t& port) -> std::optional<std::string> {
            const auto text = takeValue();
            if (!text) return "option " + name + " needs a port number";
            const auto number = parseInteger(*text);
            if (!number) return "option " + name + ": '" + std::string(*text) + "' is not a number";
            if (*number < lowest || *number > 65535) {
                return "option " + name + ": " + std::string(*text) + " is outside " +
                       std::to_string(lowest) + " to 65535";
            }
            port = *number;
            return std::nullopt;
        };

        if (argument == "--help" || argument == "-h") {
            options.action = Action::help;
            return options;
        }
        if (argument == "--version") {
            options.action = Action::version;
            return options;
        }
        std::optional<std::string> problem;
        if (argument == "--serialosc-port") {
            problem = takePort(1, options.serialoscPort);
        } else if (argument == "--monome-send-port") {
            problem = takePort(1, options.monomeSendPort);
        } else if (argument == "--monome-listen-port") {
            problem = takePort(1, options.monomeListenPort);
        } else if (argument == "--listen-port") {
            problem = takePort(0, options.listenPort);
        } else if (argument == "--device") {
            const auto id = takeValue();
            if (!id || id->empty()) {
                problem = "option --device needs the id of a grid (as serialosc lists it)";
            } else {
                options.device = std::string(*id);
            }
        } else {
            problem = "unknown option '" + std::string(arguments[i]) + "'";
        }
        if (problem) return failure(*problem);
    }
    // Both are ours to listen on.
    if (options.listenPort != 0 && options.listenPort == options.monomeSendPort) {
        return failure("--listen-port and --monome-send-port are both " +
                       std::to_string(options.listenPort) + ": they need different ports");
    }
    return options;
}

std::string SerialoscOptions::usage() {
    return "Usage: velto-serialosc [--device ID] [--serialosc-port N] [--monome-send-port N]\n"
           "                       [--monome-listen-port N] [--listen-port N]\n"
           "Lets a grid served by serialosc play the grid for Velto: its key presses reach\n"
           "Velto as \"/monome/press\" x y state, and Velto's \"/monome/led\" x y state light\n"
           "its keys. It finds the grid through serialosc (and waits for serialosc and the\n"
           "grid if they are not there yet), and redraws it whole whenever it comes back.\n"
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

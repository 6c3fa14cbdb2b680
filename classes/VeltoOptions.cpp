#include "VeltoOptions.h"

#include <charconv>
#include <string_view>

namespace velto {

namespace {

struct PortOption {
    std::string_view flag;
    const char* key;
};

constexpr PortOption kPortOptions[] = {
    {"--stagevue-send-port", "stagevueSendPort"},
    {"--stagevue-listen-port", "stagevueListenPort"},
    {"--monome-send-port", "monomeSendPort"},
    {"--monome-listen-port", "monomeListenPort"},
};

VeltoOptions failure(std::string text) {
    VeltoOptions options;
    options.action = VeltoOptions::Action::error;
    options.error = std::move(text);
    return options;
}

}  // namespace

std::string VeltoOptions::usage() {
    return "Usage: velto [options]\n"
           "Bridges an 8x8 grid controller (OSC \"/monome/...\") and the video app (OSC \"/stagevue/...\")\n"
           "over UDP: it sends to both on 127.0.0.1 and listens on every IPv4 address.\n"
           "\n"
           "Options:\n"
           "  --settings FILE             settings file (default: $XDG_CONFIG_HOME/velto/settings,\n"
#ifdef __APPLE__
           "                              else ~/Library/Application Support/velto/settings)\n"
#else
           "                              else ~/.config/velto/settings)\n"
#endif
           "  --stagevue-send-port N      port the video app listens on (default 5000)\n"
           "  --stagevue-listen-port N    port Velto listens on for the video app (default 5001)\n"
           "  --monome-send-port N        port the grid listens on (default 8080)\n"
           "  --monome-listen-port N      port Velto listens on for the grid (default 8000)\n"
           "  --verbose                   log every message received and sent, one line each\n"
           "  --help                      show this help and exit\n"
           "  --version                   show the version and exit\n"
           "\n"
           "Port options are saved in the settings file, like any change of port.\n"
           "Signals: SIGHUP re-reads the settings file, applies changed ports and greets\n"
           "the video app again (the hang-up of Velto's own terminal quits instead);\n"
           "SIGINT and SIGTERM quit.\n";
}

VeltoOptions VeltoOptions::parse(std::span<const char* const> arguments) {
    VeltoOptions options;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        std::string_view argument = arguments[i];
        std::string_view value;
        bool hasInlineValue = false;
        if (const auto equals = argument.find('='); argument.starts_with("--") && equals != std::string_view::npos) {
            value = argument.substr(equals + 1);
            argument = argument.substr(0, equals);
            hasInlineValue = true;
        }
        auto takeValue = [&]() -> std::optional<std::string_view> {
            if (hasInlineValue) return value;
            if (i + 1 < arguments.size()) return std::string_view(arguments[++i]);
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
        if (argument == "--verbose" || argument == "-v") {
            if (hasInlineValue) return failure("option --verbose takes no value");
            options.verbose = true;
            continue;
        }
        if (argument == "--settings") {
            const auto path = takeValue();
            if (!path || path->empty()) return failure("option --settings needs a file name");
            options.settingsPath = std::string(*path);
            continue;
        }
        bool matched = false;
        for (const auto& port : kPortOptions) {
            if (argument != port.flag) continue;
            matched = true;
            const auto text = takeValue();
            if (!text) return failure("option " + std::string(port.flag) + " needs a port number");
            int number = 0;
            const auto* end = text->data() + text->size();
            const auto [ptr, ec] = std::from_chars(text->data(), end, number);
            if (ec != std::errc() || ptr != end || text->empty()) {
                return failure("option " + std::string(port.flag) + ": '" + std::string(*text) +
                               "' is not a port number");
            }
            if (number < 1 || number > 65535) {
                return failure("option " + std::string(port.flag) + ": port " + std::string(*text) +
                               " is outside 1 to 65535");
            }
            options.ports.emplace_back(port.key, number);
        }
        if (!matched) return failure("unknown option '" + std::string(arguments[i]) + "'");
    }
    return options;
}

}  // namespace velto

#include "VeltoOptions.h"

#include <algorithm>
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

constexpr NumberWording kPortWording{"a port number", "a port number", "port "};

}  // namespace

std::string VeltoOptions::usage() {
    return "Usage: velto [options]\n"
           "Bridges an 8x8 grid controller (OSC \"/monome/...\") and the video app (OSC \"/stagevue/...\")\n"
           "over UDP: it sends to both on 127.0.0.1 and listens on every IPv4 address.\n"
           "\n"
           "Options:\n"
           "  --settings FILE             settings file (default: $XDG_CONFIG_HOME/velto/settings,\n"
           "                              else ~/.config/velto/settings)\n"
           "  --stagevue-send-port N      port the video app listens on (default 5000)\n"
           "  --stagevue-listen-port N    port Velto listens on for the video app (default 5001)\n"
           "  --monome-send-port N        port the grid listens on (default 8080)\n"
           "  --monome-listen-port N      port Velto listens on for the grid (default 8000)\n"
           "  --web-port N                serve the grid in the browser on this port (0: off, the default)\n"
           "  --web-host ADDRESS          address the browser grid listens on (default 127.0.0.1; any\n"
           "                              other needs the access token printed at start)\n"
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
    OptionScanner scanner(arguments);
    while (scanner.next(options.action)) {
        const std::string_view argument = scanner.name();
        if (argument == "--verbose" || argument == "-v") {
            if (scanner.hasInlineValue()) return failedOptions<VeltoOptions>("option --verbose takes no value");
            options.verbose = true;
            continue;
        }
        if (argument == "--settings") {
            const auto path = scanner.takeValue();
            if (!path || path->empty()) return failedOptions<VeltoOptions>("option --settings needs a file name");
            options.settingsPath = std::string(*path);
            continue;
        }
        if (argument == "--web-host") {
            const auto host = scanner.takeValue();
            if (!host || host->empty()) return failedOptions<VeltoOptions>("option --web-host needs an address");
            options.webHost = std::string(*host);
            continue;
        }
        if (argument == "--web-port") {
            int number = 0;
            if (const Status taken = scanner.takeNumber(0, 65535, kPortWording, number); !taken.ok())
                return failedOptions<VeltoOptions>(taken.error());
            options.ports.emplace_back("webPort", number);
            continue;
        }
        const auto port = std::ranges::find(kPortOptions, argument, &PortOption::flag);
        if (port == std::ranges::end(kPortOptions))
            return failedOptions<VeltoOptions>("unknown option '" + std::string(scanner.argument()) + "'");
        int number = 0;
        if (const Status taken = scanner.takeNumber(1, 65535, kPortWording, number); !taken.ok())
            return failedOptions<VeltoOptions>(taken.error());
        options.ports.emplace_back(port->key, number);
    }
    return options;
}

}  // namespace velto

#include "VeltoOptions.h"

#include <algorithm>
#include <string_view>

#include "PortTable.h"

namespace velto {

namespace {

// "  --stagevue-send-port N      port the video app listens on (default 5000)"
std::string portUsageLines() {
    constexpr std::size_t kHelpColumn = 30;
    std::string lines;
    for (const auto& port : kPortSettings) {
        std::string line = std::string("  ") + port.option + " N";
        line.resize(kHelpColumn, ' ');
        lines += line + port.help + " (default " + std::to_string(port.defaultPort) + ")\n";
    }
    return lines;
}

constexpr NumberWording kPortWording{"a port number", "a port number", "port "};

}  // namespace

std::string VeltoOptions::usage() {
    return std::string(
               "Usage: velto [options]\n"
               "Bridges an 8x8 grid controller (OSC \"/monome/...\") and the video app (OSC "
               "\"/stagevue/...\")\n"
               "over UDP: it sends to both on 127.0.0.1 and listens on every IPv4 address.\n"
               "\n"
               "Options:\n"
               "  --settings FILE             settings file (default: "
               "$XDG_CONFIG_HOME/velto/settings,\n"
#ifdef __APPLE__
               "                              else ~/Library/Application Support/velto/settings)\n")
#else
               "                              else ~/.config/velto/settings)\n")
#endif
           + portUsageLines() +
           "  --web-port N                serve the grid in the browser on this port (0: off, the "
           "default)\n"
           "  --web-host ADDRESS          address the browser grid listens on (default 127.0.0.1; "
           "any\n"
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
            if (scanner.hasInlineValue())
                return failedOptions<VeltoOptions>("option --verbose takes no value");
            options.verbose = true;
            continue;
        }
        if (argument == "--settings") {
            const auto path = scanner.takeValue();
            if (!path || path->empty())
                return failedOptions<VeltoOptions>("option --settings needs a file name");
            options.settingsPath = std::string(*path);
            continue;
        }
        if (argument == "--web-host") {
            const auto host = scanner.takeValue();
            if (!host || host->empty())
                return failedOptions<VeltoOptions>("option --web-host needs an address");
            options.webHost = std::string(*host);
            continue;
        }
        if (argument == "--web-port") {
            int number = 0;
            if (const Status taken = scanner.takeNumber(0, 65535, kPortWording, number);
                !taken.ok())
                return failedOptions<VeltoOptions>(taken.error());
            options.ports.emplace_back("webPort", number);
            continue;
        }
        // std::find_if: libc++ 14 (Xcode 14's) has no std::ranges::find_if.
        const auto port =
            std::find_if(kPortSettings.begin(), kPortSettings.end(),
                         [&](const auto& setting) { return argument == setting.option; });
        if (port == kPortSettings.end())
            return failedOptions<VeltoOptions>("unknown option '" +
                                               std::string(scanner.argument()) + "'");
        int number = 0;
        if (const Status taken = scanner.takeNumber(1, 65535, kPortWording, number); !taken.ok())
            return failedOptions<VeltoOptions>(taken.error());
        options.ports.emplace_back(port->key, number);
    }
    return options;
}

}  // namespace velto

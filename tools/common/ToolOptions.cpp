#include "ToolOptions.h"

#include <string_view>

namespace velto::tools {

namespace {
constexpr NumberWording kPort{"a port number"};
}  // namespace

ToolOptions ToolOptions::parse(const Profile& profile, std::span<const char* const> arguments) {
    ToolOptions options;
    options.listenPort = profile.listenPort;
    options.sendPort = profile.sendPort;
    options.layers = profile.layers;

    OptionScanner scanner(arguments);
    while (scanner.next(options.action)) {
        const std::string_view argument = scanner.name();
        if (argument == "--plain") {
            if (scanner.hasInlineValue())
                return failedOptions<ToolOptions>("option --plain takes no value");
            options.plain = true;
            continue;
        }
        int number = 0;
        // 0 lets the system pick the listening port; the tool says which one it got.
        if (argument == "--listen-port") {
            if (const Status taken = scanner.takeNumber(0, 65535, kPort, number); !taken.ok())
                return failedOptions<ToolOptions>(taken.error());
            options.listenPort = number;
            continue;
        }
        if (argument == "--send-port") {
            if (const Status taken = scanner.takeNumber(1, 65535, kPort, number); !taken.ok())
                return failedOptions<ToolOptions>(taken.error());
            options.sendPort = number;
            continue;
        }
        if (profile.takesLayers && argument == "--layers") {
            const Status taken =
                scanner.takeNumber(0, profile.maxLayers, {"a layer count"}, number);
            if (!taken.ok()) return failedOptions<ToolOptions>(taken.error());
            options.layers = number;
            continue;
        }
        return failedOptions<ToolOptions>("unknown option '" + std::string(scanner.argument()) +
                                          "'");
    }
    return options;
}

}  // namespace velto::tools

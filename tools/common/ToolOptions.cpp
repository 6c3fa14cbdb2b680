#include "ToolOptions.h"

#include <string_view>

namespace velto::tools {

ToolOptions ToolOptions::parse(const Profile& profile, std::span<const char* const> arguments) {
    ToolOptions options;
    options.listenPort = profile.listenPort;
    options.sendPort = profile.sendPort;
    options.layers = profile.layers;

    OptionScanner scanner(arguments);
    while (scanner.next()) {
        const std::string_view argument = scanner.name();
        if (const auto asked = scanner.askedFor()) {
            options.action = *asked;
            return options;
        }
        if (argument == "--plain") {
            if (scanner.hasInlineValue())
                return failedOptions<ToolOptions>("option --plain takes no value");
            options.plain = true;
            continue;
        }
        int number = 0;
        // 0 lets the system pick the listening port; the tool says which one it got.
        if (argument == "--listen-port") {
            if (auto problem = scanner.takeNumber(0, 65535, "a port number", number))
                return failedOptions<ToolOptions>(*problem);
            options.listenPort = number;
            continue;
        }
        if (argument == "--send-port") {
            if (auto problem = scanner.takeNumber(1, 65535, "a port number", number))
                return failedOptions<ToolOptions>(*problem);
            options.sendPort = number;
            continue;
        }
        if (profile.takesLayers && argument == "--layers") {
            if (auto problem = scanner.takeNumber(0, profile.maxLayers, "a layer count", number))
                return failedOptions<ToolOptions>(*problem);
            options.layers = number;
            continue;
        }
        return failedOptions<ToolOptions>("unknown option '" + std::string(scanner.argument()) +
                                          "'");
    }
    return options;
}

}  // namespace velto::tools

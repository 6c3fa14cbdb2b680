#include "ToolOptions.h"

#include <charconv>
#include <optional>

namespace velto::tools {

namespace {

ToolOptions failure(std::string text) {
    ToolOptions options;
    options.action = ToolOptions::Action::error;
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

ToolOptions ToolOptions::parse(const Spec& spec, std::span<const char* const> arguments) {
    ToolOptions options;
    options.listenPort = spec.listenPort;
    options.sendPort = spec.sendPort;
    options.layers = spec.layers;

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
        // A number within [low, high], or the reason why not.
        auto takeNumber = [&](int low, int high, std::string_view what,
                              int& into) -> std::optional<std::string> {
            const auto text = takeValue();
            if (!text) return "option " + name + " needs " + std::string(what);
            const auto number = parseInteger(*text);
            if (!number) return "option " + name + ": '" + std::string(*text) + "' is not a number";
            if (*number < low || *number > high) {
                return "option " + name + ": " + std::string(*text) + " is outside " +
                       std::to_string(low) + " to " + std::to_string(high);
            }
            into = *number;
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
        if (argument == "--plain") {
            if (inlineValue) return failure("option --plain takes no value");
            options.plain = true;
            continue;
        }
        int number = 0;
        // 0 lets the system pick the listening port; the tool says which one it got.
        if (argument == "--listen-port") {
            if (auto problem = takeNumber(0, 65535, "a port number", number))
                return failure(*problem);
            options.listenPort = number;
            continue;
        }
        if (argument == "--send-port") {
            if (auto problem = takeNumber(1, 65535, "a port number", number))
                return failure(*problem);
            options.sendPort = number;
            continue;
        }
        if (spec.takesLayers && argument == "--layers") {
            if (auto problem = takeNumber(0, spec.maxLayers, "a layer count", number))
                return failure(*problem);
            options.layers = number;
            continue;
        }
        return failure("unknown option '" + std::string(arguments[i]) + "'");
    }
    return options;
}

}  // namespace velto::tools

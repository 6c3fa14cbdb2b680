// The command lines of velto-grid, velto-video and velto-serialosc, each parsed
// as the tool itself parses it, shown as one line per outcome.

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "GridApp.h"
#include "SerialoscOptions.h"
#include "VideoApp.h"

namespace velto::tools {
namespace {

template <typename Options>
std::string outcome(const Options& o, const std::ostringstream& values) {
    if (o.action == OptionAction::error) return o.error;
    return o.action == OptionAction::run    ? values.str()
           : o.action == OptionAction::help ? "help"
                                            : "version";
}

// Velto-grid and velto-video: "listen send layers [plain]"; velto-serialosc:
// "serialosc monome-send monome-listen listen device".
std::string parsed(char tool, const std::vector<const char*>& arguments) {
    std::ostringstream values;
    if (tool == 's') {
        const auto o = SerialoscOptions::parse(arguments);
        values << o.serialoscPort << ' ' << o.monomeSendPort << ' ' << o.monomeListenPort << ' '
               << o.listenPort << ' ' << o.device.value_or("-");
        return outcome(o, values);
    }
    const auto o =
        ToolOptions::parse(tool == 'g' ? GridApp::optionSpec() : VideoApp::optionSpec(), arguments);
    values << o.listenPort << ' ' << o.sendPort << ' ' << o.layers << (o.plain ? " plain" : "");
    return outcome(o, values);
}

TEST(ToolOptionsTest, EachToolParsesItsOwnCommandLine) {
    const struct {
        char tool;  // g: velto-grid, v: velto-video, s: velto-serialosc
        std::vector<const char*> arguments;
        std::string expected;
    } cases[] = {
        {'g', {}, "8080 8000 0"},
        {'v', {}, "5000 5001 4"},
        {'v', {"--listen-port", "0", "--send-port=9", "--plain", "--layers", "0"}, "0 9 0 plain"},
        {'v', {"--version"}, "version"},
        {'g', {"--layers", "2"}, "unknown option '--layers'"},
        {'v', {"--listen-port=65536"}, "option --listen-port: 65536 is outside 0 to 65535"},
        {'g', {"--send-port", "0"}, "option --send-port: 0 is outside 1 to 65535"},
        {'v', {"--layers", "5"}, "option --layers: 5 is outside 0 to 4"},
        {'g', {"--plain=yes"}, "option --plain takes no value"},
        {'s', {}, "12002 8080 8000 0 -"},
        {'s',
         {"--serialosc-port", "1", "--monome-send-port=2", "--monome-listen-port", "3",
          "--listen-port", "4", "--device", "m1"},
         "1 2 3 4 m1"},
        {'s', {"--listen-port", "8080", "-h", "--bogus"}, "help"},
        {'s',
         {"--monome-listen-port", "0"},
         "option --monome-listen-port: 0 is outside 1 to 65535"},
        {'s', {"--device="}, "option --device needs the id of a grid (as serialosc lists it)"},
        {'s',
         {"--listen-port", "8080"},
         "--listen-port and --monome-send-port are both 8080: they need different ports"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.expected);
        EXPECT_EQ(parsed(c.tool, c.arguments), c.expected);
    }
}

}  // namespace
}  // namespace velto::tools

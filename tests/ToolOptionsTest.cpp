// The command lines of velto-grid, velto-video and velto-serialosc, each parsed
// as the tool itself parses it, shown as one line per outcome.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "GridApp.h"
#include "SerialoscOptions.h"
#include "VideoApp.h"

namespace velto::tools {
namespace {

template <typename Options>
std::string outcome(const Options& o, const std::string& values) {
    if (o.action == OptionAction::error) return "error: " + o.error;
    return o.action == OptionAction::run    ? values
           : o.action == OptionAction::help ? "help"
                                            : "version";
}

std::string parsed(char tool, const std::vector<const char*>& arguments) {
    if (tool == 's') {
        const auto o = SerialoscOptions::parse(arguments);
        return outcome(o, "serialosc " + std::to_string(o.serialoscPort) + " send " +
                              std::to_string(o.monomeSendPort) + " listen " +
                              std::to_string(o.monomeListenPort) + " own " +
                              std::to_string(o.listenPort) + " device " + o.device.value_or("-"));
    }
    const auto o =
        ToolOptions::parse(tool == 'g' ? GridApp::optionSpec() : VideoApp::optionSpec(), arguments);
    return outcome(o, "listen " + std::to_string(o.listenPort) + " send " +
                          std::to_string(o.sendPort) + " layers " + std::to_string(o.layers) +
                          (o.plain ? " plain" : ""));
}

TEST(ToolOptionsTest, EachToolParsesItsOwnCommandLine) {
    const struct {
        char tool;  // g: velto-grid, v: velto-video, s: velto-serialosc
        std::vector<const char*> arguments;
        std::string expected;
    } cases[] = {
        {'g', {}, "listen 8080 send 8000 layers 0"},
        {'v', {}, "listen 5000 send 5001 layers 4"},
        {'v',
         {"--listen-port", "0", "--send-port=9001", "--plain", "--layers", "0"},
         "listen 0 send 9001 layers 0 plain"},
        {'g', {"--plain", "--help", "--bogus"}, "help"},
        {'v', {"--version"}, "version"},
        {'g', {"--layers", "2"}, "error: unknown option '--layers'"},
        {'v', {"--listen-port=65536"}, "error: option --listen-port: 65536 is outside 0 to 65535"},
        {'g', {"--send-port", "0"}, "error: option --send-port: 0 is outside 1 to 65535"},
        {'v', {"--layers", "5"}, "error: option --layers: 5 is outside 0 to 4"},
        {'g', {"--plain=yes"}, "error: option --plain takes no value"},
        {'s', {}, "serialosc 12002 send 8080 listen 8000 own 0 device -"},
        {'s',
         {"--serialosc-port", "13000", "--monome-send-port=9080", "--monome-listen-port", "9000",
          "--listen-port", "9500", "--device", "m1000123"},
         "serialosc 13000 send 9080 listen 9000 own 9500 device m1000123"},
        {'s', {"--listen-port", "8080", "-h"}, "help"},
        {'s', {"--listen-port", "x", "--help"}, "error: option --listen-port: 'x' is not a number"},
        {'s',
         {"--monome-listen-port", "0"},
         "error: option --monome-listen-port: 0 is outside 1 to 65535"},
        {'s',
         {"--device="},
         "error: option --device needs the id of a grid (as serialosc lists it)"},
        {'s',
         {"--listen-port", "8080"},
         "error: --listen-port and --monome-send-port are both 8080: they need different ports"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.expected);
        EXPECT_EQ(parsed(c.tool, c.arguments), c.expected);
    }
}

}  // namespace
}  // namespace velto::tools

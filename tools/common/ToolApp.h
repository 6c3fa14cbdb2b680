#pragma once

// What every tool program does the same way around its own work: answering
// --help, --version and bad options before anything starts, catching what is
// thrown, and telling one line per event on standard output.

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "OptionScanner.h"

namespace velto::tools {

class ToolApp {
public:
    // The exit status when the command line asks for something other than a
    // run (0 after help or version, 2 after bad options, told as `tool`); none to run.
    static std::optional<int> finishEarly(std::string_view tool, OptionAction action,
                                          const std::string& error, const std::string& usage);
    // Runs `run`; what it throws is told as `tool` and exits 1.
    static int runCatching(std::string_view tool, const std::function<int()>& run);
    // "listening on port 8080, sending to port 8000"
    static std::string describePorts(int listenPort, int sendPort);
    // One line on standard output, at once.
    static void say(const std::string& line);
};

}  // namespace velto::tools

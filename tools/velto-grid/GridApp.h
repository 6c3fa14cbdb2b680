#pragma once

// velto-grid as a program: the grid's state, its OSC endpoints (Velto's grid
// dialect, or with --serialosc a grid served by serialosc), and either the
// terminal screen (keys and mouse) or the plain mode (commands on standard
// input, one line per event on standard output).

#include <cstddef>
#include <memory>
#include <string>

#include "GridState.h"
#include "GridView.h"
#include "OscPeer.h"
#include "SerialoscLink.h"
#include "Status.h"
#include "ToolConsole.h"
#include "ToolOptions.h"

namespace velto::tools {

class GridApp {
public:
    static constexpr std::int32_t kDefaultListenPort = 8080;  // Velto's "monomeSendPort"
    static constexpr std::int32_t kDefaultSendPort = 8000;    // Velto's "monomeListenPort"

    // In the header, so that the tests parse with the tool's own profile.
    static ToolOptions::Profile optionSpec() {
        return {kDefaultListenPort, kDefaultSendPort, false, 0, 0};
    }
    static std::string usage();
    // The whole program: options, running, exit status (0 quit, 1 failure, 2 bad options).
    static int main(int argc, const char* const* argv);

    explicit GridApp(ToolOptions options, SerialoscLink::Options serialosc = {});
    GridApp(const GridApp&) = delete;
    GridApp& operator=(const GridApp&) = delete;

    // Runs until q, "quit", SIGINT, SIGTERM or SIGHUP; the exit status.
    int run();

private:
    void receive(const HJOSCMessage& message);
    void showLight(const GridLight& light);
    // False when the press could not be sent; a press not sent leaves the
    // cell not held, so that no release follows it.
    bool send(const GridPress& press);
    Status openEndpoints();

    // Plain mode.
    void runCommand(const std::string& line);

    // Screen mode.
    void apply(const GridAction& action);
    void drawIfChanged();

    ToolOptions options_;
    SerialoscLink::Options serialoscOptions_;
    ToolShell shell_;  // first: the loop outlives everything below
    GridState state_;
    std::shared_ptr<OscPeer> peer_;             // Velto's dialect
    std::unique_ptr<SerialoscLink> serialosc_;  // or serialosc's
    ToolConsole console_;                       // gone before the endpoints
    std::unique_ptr<GridView> view_;            // gone before the console's screen
    std::string ports_;                         // "listening on port 8080, sending to port 8000"
    std::string lastSent_;
    std::size_t shownRate_ = 0;
    bool changed_ = true;
};

}  // namespace velto::tools

#pragma once

// The grid in the browser: keeps the lights that Velto sends to the grid,
// pushes them with the faders' levels, the sliders' positions and the peers'
// status to the pages of its web server, and plays the pages' presses through
// the controller exactly as presses from the grid. Main thread only.

#include <cstdint>
#include <memory>
#include <string>

#include "web/LightObserver.h"
#include "web/LightState.h"
#include "web/WebServer.h"

namespace velto {

class RunLoop;
class VeltoController;

class GridMirror final : public LightObserver {
public:
    // Serving on settings.host and settings.port, or none when that cannot be
    // bound (logged). Observes the controller until destroyed.
    static std::unique_ptr<GridMirror> start(RunLoop& loop, VeltoController& controller,
                                             WebServer::Settings settings);
    ~GridMirror() override;
    GridMirror(const GridMirror&) = delete;
    GridMirror& operator=(const GridMirror&) = delete;

    // "http://HOST:PORT/", with "?token=..." when one is needed.
    std::string pageAddress() const;
    const LightState& lights() const { return lights_; }
    // The state a page is sent, as JSON.
    std::string stateText() const;

    void lightSent(std::uint32_t x, std::uint32_t y, std::int8_t state) override;
    void stateMayHaveChanged() override;

private:
    GridMirror(RunLoop& loop, VeltoController& controller, WebServer::Settings settings);
    void publishNow();

    RunLoop& loop_;
    VeltoController& controller_;
    WebServer::Settings settings_;
    LightState lights_;
    std::unique_ptr<WebServer> server_;
    // A change posts one publication for the pass after it, so that a burst of
    // lights (a fader tick, a reported value) reaches the pages as one state.
    std::shared_ptr<bool> publishPosted_ = std::make_shared<bool>(false);
};

}  // namespace velto

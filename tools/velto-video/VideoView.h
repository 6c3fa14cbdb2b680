#pragma once

// Draws the stand-in video app on the terminal, one line of bars per layer
// (opacity, speed, position), and says what a key asks for.

#include <string>

#include "TerminalScreen.h"
#include "VideoState.h"

namespace velto::tools {

struct VideoAction {
    enum class Kind { none, layers, togglePlaying, report, quit, redraw };
    Kind kind = Kind::none;
    int layers = 0;  // for Kind::layers
};

// What the screen shows besides the layers.
struct VideoStatus {
    std::string ports;         // "listening on port 5000, sending to port 5001"
    std::string lastReceived;  // "/stagevue/layer/opacity/1 50"
    std::string lastSent;      // "layerNumber 4 and every value"
};

class VideoView {
public:
    static constexpr int kBarWidth = 20;

    explicit VideoView(TerminalScreen& screen);

    void draw(const VideoState& state, const VideoStatus& status);
    VideoAction actionFor(const TerminalScreen::Input& input) const;
    // The next draw repaints the whole terminal (after a resize, or Ctrl-L).
    void redrawWhole();

    // "[##########----------]": the share of the bar filled.
    static std::string levelBar(double fraction);
    // "[-----|--------------]": the playhead's place on the bar.
    static std::string positionBar(double position);

private:
    TerminalScreen& screen_;
};

}  // namespace velto::tools

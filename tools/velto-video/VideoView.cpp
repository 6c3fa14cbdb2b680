#include "VideoView.h"

#include <curses.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace velto::tools {

namespace {

constexpr int kLabelWidth = 10;  // "layer 1" and room
constexpr const char* kHelp =
    "keys: 0-4 layer count  p or space pause/play  r report all values  q quit";

std::string formatted(double value, const char* format) {
    char text[32];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

}  // namespace

VideoView::VideoView(TerminalScreen& screen) : screen_(screen) {}

std::string VideoView::levelBar(double fraction) {
    const double limited = std::isnan(fraction) ? 0 : std::clamp(fraction, 0.0, 1.0);
    const int filled = static_cast<int>(std::lround(limited * kBarWidth));
    return "[" + std::string(static_cast<std::size_t>(filled), '#') +
           std::string(static_cast<std::size_t>(kBarWidth - filled), '-') + "]";
}

std::string VideoView::positionBar(double position) {
    std::string bar(kBarWidth, '-');
    const double limited = std::isnan(position) ? 0 : std::clamp(position, 0.0, 1.0);
    bar[static_cast<std::size_t>(std::min(kBarWidth - 1, static_cast<int>(limited * kBarWidth)))] =
        '|';
    return "[" + bar + "]";
}

void VideoView::draw(const VideoState& state, const VideoStatus& status) {
    erase();
    TerminalScreen::put(0, 0, ("velto-video   " + status.ports));
    TerminalScreen::put(1, 0,
                        ("layers: " + std::to_string(state.layerCount()) + " of " +
                         std::to_string(VideoState::kMaxLayers) + "   " +
                         (state.isPlaying() ? "playing" : "PAUSED")));
    // Each column: the bar, then its value.
    constexpr int kColumnWidth = kBarWidth + 2 + 8;
    TerminalScreen::put(3, kLabelWidth, "opacity");
    TerminalScreen::put(3, kLabelWidth + kColumnWidth, "speed");
    TerminalScreen::put(3, kLabelWidth + 2 * kColumnWidth, "position");
    for (int number = 1; number <= VideoState::kMaxLayers; ++number) {
        const int row = 3 + number;
        std::string label = "layer " + std::to_string(number);
        label.resize(kLabelWidth, ' ');
        if (!state.hasLayer(number)) {
            attron(A_DIM);
            TerminalScreen::put(row, 0, (label + "(no such layer)"));
            attroff(A_DIM);
            continue;
        }
        const VideoLayer& layer = state.layer(number);
        const bool colours = screen_.hasColours();
        TerminalScreen::put(row, 0, label);
        if (colours) attron(COLOR_PAIR(3));
        TerminalScreen::putAfter(row, levelBar(layer.opacity / VideoState::kFullScale));
        if (colours) attroff(COLOR_PAIR(3));
        TerminalScreen::putAfter(row, formatted(layer.opacity, " %5.1f  "));
        if (colours) attron(COLOR_PAIR(3));
        TerminalScreen::putAfter(row, levelBar(layer.speed / VideoState::kFullScale));
        if (colours) attroff(COLOR_PAIR(3));
        TerminalScreen::putAfter(row, formatted(layer.speed, " %5.1f  "));
        if (colours) attron(COLOR_PAIR(1) | A_BOLD);
        TerminalScreen::putAfter(row, positionBar(layer.position));
        if (colours) attroff(COLOR_PAIR(1) | A_BOLD);
        TerminalScreen::putAfter(row, formatted(state.reportedPosition(number), " %5.3f"));
    }
    int row = 4 + VideoState::kMaxLayers + 1;
    TerminalScreen::put(row++, 0,
                        ("last received: " +
                         (status.lastReceived.empty() ? "(nothing yet)" : status.lastReceived)));
    TerminalScreen::put(
        row++, 0,
        ("last sent:     " + (status.lastSent.empty() ? "(nothing yet)" : status.lastSent)));
    ++row;
    screen_.showWithHelp(row, kHelp);
}

void VideoView::redrawWhole() { TerminalScreen::redrawWhole(); }

VideoAction VideoView::actionFor(const TerminalScreen::Input& input) const {
    using Kind = VideoAction::Kind;
    if (input.kind == TerminalScreen::Input::Kind::resize) return {Kind::redraw};
    if (input.kind != TerminalScreen::Input::Kind::key) return {};
    const int key = input.key;
    if (key >= '0' && key <= '0' + VideoState::kMaxLayers) return {Kind::layers, key - '0'};
    switch (key) {
        case 'p':
        case 'P':
        case ' ':
            return {Kind::togglePlaying};
        case 'r':
        case 'R':
            return {Kind::report};
        case 'q':
        case 'Q':
            return {Kind::quit};
        case 12:  // Ctrl-L
            return {Kind::redraw};
        default:
            return {};
    }
}

}  // namespace velto::tools

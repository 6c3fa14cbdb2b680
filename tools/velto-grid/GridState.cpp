#include "GridState.h"

#include <algorithm>
#include <cmath>

#include "OscPeer.h"

namespace velto::tools {

namespace {

// A coordinate or state as an int: 'i' as it is, 'f' truncated.
std::optional<int> integerArgument(const HJOSCArgument& argument) {
    const auto number = OscPeer::numberValue(argument);
    if (!number || !std::isfinite(*number) || std::abs(*number) > 1e9) return std::nullopt;
    return static_cast<int>(*number);
}

}  // namespace

bool GridState::contains(GridCell cell) {
    return cell.x >= 0 && cell.x < kSize && cell.y >= 0 && cell.y < kSize;
}

std::optional<GridLight> GridState::receiveMessage(std::string_view address,
                                                   const std::vector<HJOSCArgument>& arguments,
                                                   Instant now) {
    ++receivedCount_;
    arrivals_.push_back(now);
    messagesPerSecond(now);  // keeps the list to the window
    lastMessage_ = OscPeer::describe(address, arguments);

    if (address != kLightAddress || arguments.size() != 3) return std::nullopt;
    const auto x = integerArgument(arguments[0]);
    const auto y = integerArgument(arguments[1]);
    const auto state = integerArgument(arguments[2]);
    if (!x || !y || !state) return std::nullopt;
    const GridCell cell{*x, *y};
    if (!contains(cell)) return std::nullopt;
    bool& light = lights_[cell.y][cell.x];
    const bool lit = *state != 0;
    const bool changed = light != lit;
    light = lit;
    return GridLight{cell, lit, changed};
}

bool GridState::isLit(GridCell cell) const { return contains(cell) && lights_[cell.y][cell.x]; }

GridLight GridState::setLight(GridCell cell, bool lit) {
    if (!contains(cell)) return GridLight{cell, lit, false};
    bool& light = lights_[cell.y][cell.x];
    const bool changed = light != lit;
    light = lit;
    return GridLight{cell, lit, changed};
}

void GridState::clearLights() { lights_ = {}; }

std::size_t GridState::litCount() const {
    std::size_t count = 0;
    for (const auto& row : lights_)
        count += static_cast<std::size_t>(std::count(row.begin(), row.end(), true));
    return count;
}

std::size_t GridState::messagesPerSecond(Instant now) {
    while (!arrivals_.empty() && arrivals_.front() <= now - kRateWindow) arrivals_.pop_front();
    return arrivals_.size();
}

void GridState::moveCursor(int dx, int dy) {
    cursor_.x = std::clamp(cursor_.x + dx, 0, kSize - 1);
    cursor_.y = std::clamp(cursor_.y + dy, 0, kSize - 1);
}

bool GridState::isHeld(GridCell cell) const { return contains(cell) && held_[cell.y][cell.x]; }

std::optional<GridPress> GridState::press(GridCell cell) {
    if (!contains(cell) || held_[cell.y][cell.x]) return std::nullopt;
    held_[cell.y][cell.x] = true;
    return GridPress{cell, 1};
}

std::optional<GridPress> GridState::release(GridCell cell) {
    if (!isHeld(cell)) return std::nullopt;
    held_[cell.y][cell.x] = false;
    if (mouseCell_ == cell) mouseCell_.reset();
    return GridPress{cell, 0};
}

std::optional<GridPress> GridState::toggleAtCursor() {
    return isHeld(cursor_) ? release(cursor_) : press(cursor_);
}

std::vector<GridPress> GridState::tapAtCursor() {
    std::vector<GridPress> presses;
    if (auto down = press(cursor_)) presses.push_back(*down);
    if (auto up = release(cursor_)) presses.push_back(*up);
    return presses;
}

std::optional<GridPress> GridState::mousePress(GridCell cell) {
    auto down = press(cell);
    if (down) mouseCell_ = cell;
    return down;
}

std::optional<GridPress> GridState::mouseRelease() {
    if (!mouseCell_) return std::nullopt;
    const GridCell cell = *mouseCell_;
    mouseCell_.reset();
    return release(cell);
}

}  // namespace velto::tools

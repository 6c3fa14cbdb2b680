#include "VideoState.h"

#include <algorithm>
#include <charconv>
#include <cmath>

#include "OscPeer.h"

namespace velto::tools {

namespace {

// The layer number that ends an address with the given prefix, or 0.
int layerNumber(std::string_view address, std::string_view prefix) {
    if (!address.starts_with(prefix)) return 0;
    const std::string_view digits = address.substr(prefix.size());
    int number = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), number);
    if (digits.empty() || error != std::errc() || end != digits.data() + digits.size()) return 0;
    return number;
}

double wrapped(double position) { return position - std::floor(position); }

}  // namespace

VideoState::VideoState(int layerCount) { setLayerCount(layerCount); }

bool VideoState::setLayerCount(int count) {
    const int limited = std::clamp(count, 0, kMaxLayers);
    const bool changed = limited != layerCount_;
    layerCount_ = limited;
    return changed;
}

const VideoLayer& VideoState::layer(int number) const {
    return layers_.at(static_cast<std::size_t>(number - 1));
}

float VideoState::reportedPosition(int number) const {
    // A double just below 1 rounds to 1.0f, which no longer lies on the clip.
    constexpr float kLast = 0.99999994f;  // the float just below 1
    return std::min(static_cast<float>(layer(number).position), kLast);
}

void VideoState::advance(Duration elapsed) {
    if (!playing_) return;
    const double seconds = std::chrono::duration<double>(elapsed).count();
    for (int number = 1; number <= layerCount_; ++number) {
        VideoLayer& layer = layers_[static_cast<std::size_t>(number - 1)];
        layer.position =
            wrapped(layer.position + seconds * layer.speed / kFullScale / kClipSeconds);
    }
}

VideoEvent VideoState::receiveMessage(std::string_view address,
                                      const std::vector<HJOSCArgument>& arguments) {
    if (address == kPingAddress) return VideoEvent{VideoEvent::Kind::ping, 0, 0};

    VideoEvent event;
    int number = 0;
    if ((number = layerNumber(address, kOpacityAddress)) != 0) {
        event.kind = VideoEvent::Kind::opacity;
    } else if ((number = layerNumber(address, kSpeedAddress)) != 0) {
        event.kind = VideoEvent::Kind::speed;
    } else if ((number = layerNumber(address, kTimeAddress)) != 0) {
        event.kind = VideoEvent::Kind::position;
    } else {
        return VideoEvent{};
    }
    if (!hasLayer(number) || arguments.empty()) return VideoEvent{};
    const auto given = OscPeer::numberValue(arguments.back());
    if (!given || std::isnan(*given)) return VideoEvent{};

    VideoLayer& layer = layers_[static_cast<std::size_t>(number - 1)];
    event.layer = number;
    switch (event.kind) {
        case VideoEvent::Kind::opacity:
            layer.opacity = static_cast<float>(std::clamp(*given, 0.0, double{kFullScale}));
            event.value = layer.opacity;
            break;
        case VideoEvent::Kind::speed:
            layer.speed = static_cast<float>(std::clamp(*given, 0.0, double{kFullScale}));
            event.value = layer.speed;
            break;
        default:
            // 1 is the end of the clip, which is its start again.
            layer.position = wrapped(std::clamp(*given, 0.0, 1.0));
            event.value = reportedPosition(number);
            break;
    }
    return event;
}

std::vector<VideoReport> VideoState::stateReports() const {
    std::vector<VideoReport> reports;
    reports.push_back({kLayerNumberAddress, HJOSCArgument::withInt(layerCount_)});
    for (int number = 1; number <= layerCount_; ++number) {
        reports.push_back(
            {opacityAddress(number), HJOSCArgument::withFloat(layer(number).opacity)});
        reports.push_back({speedAddress(number), HJOSCArgument::withFloat(layer(number).speed)});
        reports.push_back(
            {timeAddress(number), HJOSCArgument::withFloat(reportedPosition(number))});
    }
    return reports;
}

std::vector<VideoReport> VideoState::positionReports() const {
    std::vector<VideoReport> reports;
    for (int number = 1; number <= layerCount_; ++number) {
        reports.push_back(
            {timeAddress(number), HJOSCArgument::withFloat(reportedPosition(number))});
    }
    return reports;
}

std::string VideoState::opacityAddress(int layer) {
    return kOpacityAddress + std::to_string(layer);
}
std::string VideoState::speedAddress(int layer) { return kSpeedAddress + std::to_string(layer); }
std::string VideoState::timeAddress(int layer) { return kTimeAddress + std::to_string(layer); }

}  // namespace velto::tools

#pragma once

// What the stand-in video app knows, apart from how it is drawn: up to four
// layers, each with an opacity (0 to 100), a media speed (0 to 100, where 100
// plays at normal speed) and a media position (0 to 1, wrapping at 1); how
// many layers exist; whether it plays; and the messages it answers with.
//
// At normal speed a clip lasts kClipSeconds: the position advances by
// speed / 100 / kClipSeconds a second, so a playhead crosses the grid's eight
// cells in ten seconds. Layers are numbered from 1; only the layers that exist
// take values, play and report. Main thread only.

#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "common/osc/HJOSCArgument.h"
#include "platform/Clock.h"

namespace velto::tools {

struct VideoLayer {
    float opacity = 100;
    float speed = 100;
    double position = 0;  // kept in double so that slow playback still moves
};

// A message for Velto: an address and its one argument.
struct VideoReport {
    std::string address;
    HJOSCArgument value;
};

// What one received message was.
struct VideoEvent {
    enum class Kind { opacity, speed, position, ping, ignored };
    Kind kind = Kind::ignored;
    int layer = 0;    // for a value
    float value = 0;  // the value taken, after limiting to its range
};

class VideoState {
public:
    static constexpr int kMaxLayers = 4;
    static constexpr double kClipSeconds = 10;
    static constexpr float kFullScale = 100;
    static constexpr const char* kPingAddress = "/stagevue/ping";
    static constexpr const char* kLayerNumberAddress = "/stagevue/layerNumber";
    static constexpr const char* kOpacityAddress = "/stagevue/layer/opacity/";
    static constexpr const char* kSpeedAddress = "/stagevue/layer/media/speed/";
    static constexpr const char* kTimeAddress = "/stagevue/layer/media/time/";

    // The count is limited to 0..kMaxLayers.
    explicit VideoState(int layerCount = kMaxLayers);

    int layerCount() const { return layerCount_; }
    // Limits the count to 0..kMaxLayers; returns whether it changed.
    bool setLayerCount(int count);
    bool hasLayer(int number) const { return number >= 1 && number <= layerCount_; }
    // Layer 1 to kMaxLayers, whether it exists or not.
    const VideoLayer& layer(int number) const;
    // The position as reported: a float below 1.
    float reportedPosition(int number) const;

    bool isPlaying() const { return playing_; }
    void setPlaying(bool playing) { playing_ = playing; }

    // Moves the playheads of the existing layers on by the time that passed
    // (nothing while paused).
    void advance(Duration elapsed);

    // A message from Velto. A value takes the message's last argument ('i' or
    // 'f'), limited to its range; a value for a layer that does not exist, for
    // an unknown address, or without a number is ignored.
    VideoEvent receiveMessage(std::string_view address,
                              const std::vector<HJOSCArgument>& arguments);

    // The answer to a ping, and what a change of the layer count reports:
    // "/stagevue/layerNumber" with the count, then each existing layer's
    // opacity, speed and position.
    std::vector<VideoReport> stateReports() const;
    // "/stagevue/layer/media/time/N" for each existing layer.
    std::vector<VideoReport> positionReports() const;

    static std::string opacityAddress(int layer);
    static std::string speedAddress(int layer);
    static std::string timeAddress(int layer);

private:
    std::array<VideoLayer, kMaxLayers> layers_{};
    int layerCount_ = kMaxLayers;
    bool playing_ = true;
};

}  // namespace velto::tools

#pragma once

// velto-video as a program: the layers and their playback, the OSC endpoints,
// and either the terminal screen (keys) or the plain mode (commands on
// standard input, one line per event on standard output).

#include <memory>
#include <string>

#include "OscPeer.h"
#include "ToolConsole.h"
#include "ToolOptions.h"
#include "VideoState.h"
#include "VideoView.h"

namespace velto::tools {

class VideoApp {
public:
    static constexpr std::int32_t kDefaultListenPort = 5000;  // Velto's "stagevueSendPort"
    static constexpr std::int32_t kDefaultSendPort = 5001;    // Velto's "stagevueListenPort"
    // Positions are reported this often while playing.
    static constexpr Duration kReportInterval = std::chrono::milliseconds(100);

    // In the header, so that the tests parse with the tool's own profile.
    static ToolOptions::Profile optionSpec() {
        return {kDefaultListenPort, kDefaultSendPort, true, VideoState::kMaxLayers,
                VideoState::kMaxLayers};
    }
    static std::string usage();
    // The whole program: options, running, exit status (0 quit, 1 failure, 2 bad options).
    static int main(int argc, const char* const* argv);

    explicit VideoApp(ToolOptions options);
    VideoApp(const VideoApp&) = delete;
    VideoApp& operator=(const VideoApp&) = delete;

    // Runs until q, "quit", SIGINT, SIGTERM or SIGHUP; the exit status.
    int run();

private:
    void receive(const HJOSCMessage& message);
    void tick();
    void sendReports(const std::vector<VideoReport>& reports);
    void setLayerCount(int count);
    void setPlaying(bool playing);
    void reportState(const std::string& why);

    // Plain mode.
    void runCommand(const std::string& line);

    // Screen mode.
    void apply(const VideoAction& action);
    void drawIfChanged();

    ToolOptions options_;
    ToolShell shell_;  // first: the loop outlives everything below
    VideoState state_;
    std::shared_ptr<OscPeer> peer_;
    ToolConsole console_;               // gone before the endpoint
    std::unique_ptr<VideoView> view_;   // gone before the console's screen
    std::unique_ptr<Timer> playTimer_;  // gone first: it sends through the peer
    Instant lastTick_{};
    VideoStatus status_;
    bool changed_ = true;
};

}  // namespace velto::tools

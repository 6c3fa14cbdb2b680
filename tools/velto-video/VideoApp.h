#pragma once

// velto-video as a program: the layers and their playback, the OSC endpoints,
// and either the terminal screen (keys) or the plain mode (commands on
// standard input, one line per event on standard output).

#include <memory>
#include <string>

#include "CommandInput.h"
#include "OscPeer.h"
#include "TerminalScreen.h"
#include "ToolOptions.h"
#include "VideoState.h"
#include "VideoView.h"
#include "platform/Clock.h"
#include "platform/RunLoop.h"

namespace velto::tools {

class VideoApp {
  public:
    static constexpr std::int32_t kDefaultListenPort = 5000;  // Velto's "stagevueSendPort"
    static constexpr std::int32_t kDefaultSendPort = 5001;    // Velto's "stagevueListenPort"
    // Positions are reported this often while playing.
    static constexpr Duration kReportInterval = std::chrono::milliseconds(100);

    static ToolOptions::Profile optionSpec();
    static std::string usage();
    // The whole program: options, running, exit status (0 quit, 1 failure, 2 bad options).
    static int main(int argc, const char* const* argv);

    explicit VideoApp(ToolOptions options);
    ~VideoApp();
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
    void quit();

    // Plain mode.
    void runCommand(const std::string& line);

    // Screen mode.
    void takeScreenInput();
    void apply(const VideoAction& action);
    void drawIfChanged();

    ToolOptions options_;
    SystemClock clock_;
    RunLoop loop_;
    VideoState state_;
    std::shared_ptr<OscPeer> peer_;
    std::unique_ptr<TerminalScreen> screen_;
    std::unique_ptr<VideoView> view_;
    std::unique_ptr<ReadableWatch> input_;
    std::unique_ptr<Timer> playTimer_;
    std::unique_ptr<Timer> drawTimer_;
    Instant lastTick_{};
    std::unique_ptr<CommandInput> commands_;  // plain mode
    VideoStatus status_;
    bool changed_ = true;
    bool quitting_ = false;
};

}  // namespace velto::tools

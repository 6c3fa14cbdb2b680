#pragma once

// A one-column control whose level runs from 0 at its bottom row to 100 at its
// top row. A press starts a timed linear fade toward the pressed row's level
// (2000 ms for the full scale while held, 200 ms after release); each 25 ms tick
// sends the level to the video app and draws the column as a rising bar.
// Reported levels are stored and drawn, never sent back. Disabling the control
// does not stop a running fade. Main thread only; fades run on the loop given
// at construction, which must outlive the fader.

#include <optional>

#include "platform/Clock.h"
#include "platform/RunLoop.h"
#include "ui/VTControl.h"

namespace velto {

class VTVerticalFader : public VTControl {
public:
    static constexpr Duration kTickInterval = std::chrono::milliseconds(25);
    static constexpr float kHeldFullScaleMs = 2000.0f;
    static constexpr float kReleasedFullScaleMs = 200.0f;

    static std::unique_ptr<VTVerticalFader> controlWithRectAndAddress(VTRect rect,
                                                                      std::string_view address,
                                                                      RunLoop& loop);

    VTVerticalFader(VTRect rect, std::string_view address, RunLoop& loop);

    float currentValue() const { return currentValue_; }
    // A level the fader produced itself: stored, sent, then drawn.
    void setCurrentValue(float value);

    // Fade to target; time is the milliseconds that a change of 100 takes.
    // Replaces a running fade. A time that is not positive jumps at once.
    void changeToWithTime(float target, float time);
    // One tick of the running fade.
    void processChange();

    bool isFading() const { return timer_ != nullptr; }

    // The level of a grid row: ((y - origin.y) * 100) / (height - 1).
    float levelAtY(std::uint32_t y) const;
    // The fade's length in milliseconds for a change from start to target.
    static float fadeDuration(float start, float target, float time);

    void processWithValue(float value) override;
    void processPressAtY(std::uint32_t y) override;
    void processReleaseAtY(std::uint32_t y) override;

private:
    struct Fade {
        float start = 0.0f;
        float target = 0.0f;
        float durationMs = 0.0f;
    };

    void stopFade();

    std::unique_ptr<Timer> timer_;
    std::optional<Instant> startTime_;
    RunLoop& runLoop_;
    Fade fade_;
    float currentValue_ = 0.0f;
};

}  // namespace velto

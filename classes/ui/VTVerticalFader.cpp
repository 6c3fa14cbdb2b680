#include "ui/VTVerticalFader.h"

#include <cmath>
#include <cstdlib>

#include "VeltoController.h"

namespace velto {

std::unique_ptr<VTVerticalFader> VTVerticalFader::controlWithRectAndAddress(
    VTRect rect, std::string_view address, RunLoop& loop) {
    return std::make_unique<VTVerticalFader>(rect, address, loop);
}

VTVerticalFader::VTVerticalFader(VTRect rect, std::string_view address, RunLoop& loop)
    : VTControl(rect, address), runLoop_(loop) {}

float VTVerticalFader::levelAtY(std::uint32_t y) const {
    const float fromBottom = static_cast<float>(y) - rect().origin.y;
    const float steps = rect().size.height - 1.0f;
    return static_cast<float>(static_cast<double>(fromBottom) * 100.0 / static_cast<double>(steps));
}

void VTVerticalFader::setCurrentValue(float value) {
    currentValue_ = value;
    VeltoController::sendMessageWithAddressAndValue(address(), value);
    processWithValue(value);
}

void VTVerticalFader::processWithValue(float value) {
    currentValue_ = value;
    const float scaled = (rect().size.height - 1.0f) * value;  // NaN lights nothing
    const std::uint32_t column = cellIndex(rect().origin.x);
    for (std::uint32_t i = 0; static_cast<float>(i) < rect().size.height; ++i) {
        const std::int8_t state = scaled >= static_cast<float>(100u * i) ? 1 : 0;
        VeltoController::setLightAtXAndYWithState(
            column, cellIndex(rect().origin.y + static_cast<float>(i)), state);
    }
}

float VTVerticalFader::fadeDuration(float start, float target, float time) {
    const float difference = target - start;
    // The level difference is truncated to a 32-bit integer. A difference that
    // has no such value (a reported level that is huge, infinite or not a
    // number) takes the full-scale time, so that the fade still ends.
    if (!(std::fabs(difference) < 2147483648.0f)) return time;
    const std::int32_t whole = static_cast<std::int32_t>(difference);
    return static_cast<float>(std::abs(whole)) * time / 100.0f;
}

void VTVerticalFader::changeToWithTime(float target, float time) {
    stopFade();
    if (time > 0.0f) {
        const float start = currentValue();
        fade_ = Fade{start, target, fadeDuration(start, target, time)};
        timer_ = runLoop_.scheduleTimer(kTickInterval, true, [this] { processChange(); });
        startTime_ = runLoop_.clock().now();
    } else {
        setCurrentValue(target);
    }
}

void VTVerticalFader::processChange() {
    if (!timer_ || !startTime_) return;
    // Progress from the time actually elapsed, so a late tick does not stretch the fade.
    const double elapsedSeconds =
        std::chrono::duration<double>(*startTime_ - runLoop_.clock().now()).count();  // negative
    const float progress =
        static_cast<float>(static_cast<double>(-1000.0f / fade_.durationMs) * elapsedSeconds);
    if (progress >= 1.0f) {
        setCurrentValue(fade_.target);
        stopFade();
    } else {
        setCurrentValue(fade_.target * progress + (1.0f - progress) * fade_.start);
    }
}

void VTVerticalFader::stopFade() {
    timer_.reset();  // invalidates; safe from inside the timer's own tick
    startTime_.reset();
}

void VTVerticalFader::processPressAtY(std::uint32_t y) {
    changeToWithTime(levelAtY(y), kHeldFullScaleMs);
}

void VTVerticalFader::processReleaseAtY(std::uint32_t y) {
    changeToWithTime(levelAtY(y), kReleasedFullScaleMs);
}

}  // namespace velto

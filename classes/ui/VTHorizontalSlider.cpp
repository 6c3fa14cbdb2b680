#include "ui/VTHorizontalSlider.h"

#include <cmath>

#include "VeltoController.h"

namespace velto {

std::unique_ptr<VTHorizontalSlider> VTHorizontalSlider::controlWithRectAndAddress(
    VTRect rect, std::string_view address) {
    return std::make_unique<VTHorizontalSlider>(rect, address);
}

float VTHorizontalSlider::valueAtX(std::uint32_t x) const {
    return (static_cast<float>(x) - rect().origin.x) / rect().size.width;
}

void VTHorizontalSlider::processWithValue(float value) {
    // One message per column, lit or not; no cell is lit for values outside [0, 1).
    const float lit = std::floor(rect().size.width * value);
    const std::uint32_t row = cellIndex(rect().origin.y);
    for (std::uint32_t i = 0; static_cast<float>(i) < rect().size.width; ++i) {
        const std::int8_t state = static_cast<float>(i) == lit ? 1 : 0;
        VeltoController::setLightAtXAndYWithState(
            cellIndex(rect().origin.x + static_cast<float>(i)), row, state);
    }
}

void VTHorizontalSlider::processPressAtX(std::uint32_t x) {
    const float value = valueAtX(x);
    VeltoController::sendMessageWithAddressAndValue(address(), value);
    processWithValue(value);
}

}  // namespace velto

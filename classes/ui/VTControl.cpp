#include "ui/VTControl.h"

#include <cmath>
#include <limits>

#include "VeltoController.h"

namespace velto {

std::unique_ptr<VTControl> VTControl::controlWithRectAndAddress(VTRect rect,
                                                                std::string_view address) {
    return std::make_unique<VTControl>(rect, address);
}

VTControl::VTControl(VTRect rect, std::string_view address) : rect_(rect), address_(address) {}

void VTControl::setEnabled(bool enabled) {
    enabled_ = enabled;
    if (this->enabled()) return;
    // Column by column from the left, each from the bottom row up.
    for (std::uint32_t i = 0; static_cast<float>(i) < rect_.size.width; ++i) {
        for (std::uint32_t j = 0; static_cast<float>(j) < rect_.size.height; ++j) {
            VeltoController::setLightAtXAndYWithState(
                cellIndex(rect_.origin.x + static_cast<float>(i)),
                cellIndex(rect_.origin.y + static_cast<float>(j)), 0);
        }
    }
}

void VTControl::processMessageWithAddressAndValue(std::string_view address, float value) {
    if (enabled() && address == address_) processWithValue(value);
}

bool VTControl::containsCell(std::uint32_t x, std::uint32_t y) const {
    const float fx = static_cast<float>(x);
    const float fy = static_cast<float>(y);
    return rect_.origin.x <= fx && fx < rect_.origin.x + rect_.size.width && rect_.origin.y <= fy &&
           fy < rect_.origin.y + rect_.size.height;
}

void VTControl::processPressAtXAndY(std::uint32_t x, std::uint32_t y) {
    if (!enabled() || !containsCell(x, y)) return;
    processPressAtX(x);
    processPressAtY(y);
}

void VTControl::processReleaseAtXAndY(std::uint32_t x, std::uint32_t y) {
    if (!enabled() || !containsCell(x, y)) return;
    processReleaseAtX(x);
    processReleaseAtY(y);
}

void VTControl::processWithValue(float) {}
void VTControl::processPressAtX(std::uint32_t) {}
void VTControl::processPressAtY(std::uint32_t) {}
void VTControl::processReleaseAtX(std::uint32_t) {}
void VTControl::processReleaseAtY(std::uint32_t) {}

std::uint32_t VTControl::cellIndex(float coordinate) {
    if (!(coordinate > 0.0f)) return 0;  // also NaN
    if (coordinate >= 4294967296.0f) return std::numeric_limits<std::uint32_t>::max();
    return static_cast<std::uint32_t>(coordinate);
}

}  // namespace velto

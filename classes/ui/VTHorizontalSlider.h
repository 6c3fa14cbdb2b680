#pragma once

// A one-row control whose value is the fraction of its width left of the
// pressed cell. A press sends the value at once and shows it as the one lit
// cell of the row; a reported value is only shown. It stores nothing: the row
// on the grid is its only memory. Main thread only.

#include "ui/VTControl.h"

namespace velto {

class VTHorizontalSlider : public VTControl {
public:
    static std::unique_ptr<VTHorizontalSlider> controlWithRectAndAddress(VTRect rect,
                                                                         std::string_view address);

    using VTControl::VTControl;

    // The value of a column: (x - origin.x) / width in single precision.
    float valueAtX(std::uint32_t x) const;

    void processWithValue(float value) override;
    void processPressAtX(std::uint32_t x) override;
};

}  // namespace velto

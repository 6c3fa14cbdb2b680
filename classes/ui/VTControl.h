#pragma once

// A rectangle of grid cells bound to one OSC address of the video app. The base
// filters presses, releases and reported values (enabled flag, hit test, exact
// address) and hands what passes to hooks that do nothing here; each kind of
// control overrides the hooks it needs. Disabling switches every cell off.
//
// Grid coordinates count columns from 0 at the left and rows from 0 at the
// bottom. Main thread only.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace velto {

struct VTPoint {
    float x = 0.0f;
    float y = 0.0f;
};

struct VTSize {
    float width = 0.0f;
    float height = 0.0f;
};

struct VTRect {
    VTPoint origin;
    VTSize size;
};

class VTControl {
public:
    static std::unique_ptr<VTControl> controlWithRectAndAddress(VTRect rect,
                                                                std::string_view address);

    VTControl(VTRect rect, std::string_view address);
    virtual ~VTControl() = default;
    VTControl(const VTControl&) = delete;
    VTControl& operator=(const VTControl&) = delete;

    const VTRect& rect() const { return rect_; }
    const std::string& address() const { return address_; }

    bool enabled() const { return enabled_; }
    // Every disable switches the cells off again, also when already disabled.
    // Enabling draws nothing.
    void setEnabled(bool enabled);

    // A value reported for exactly this control's address.
    void processMessageWithAddressAndValue(std::string_view address, float value);
    void processPressAtXAndY(std::uint32_t x, std::uint32_t y);
    void processReleaseAtXAndY(std::uint32_t x, std::uint32_t y);

    // Whether the cell lies in the rectangle; the upper bounds are excluded.
    bool containsCell(std::uint32_t x, std::uint32_t y) const;

    // Hooks. They receive the grid's own coordinates, not ones relative to the
    // rectangle.
    virtual void processWithValue(float value);
    virtual void processPressAtX(std::uint32_t x);
    virtual void processPressAtY(std::uint32_t y);
    virtual void processReleaseAtX(std::uint32_t x);
    virtual void processReleaseAtY(std::uint32_t y);

protected:
    // A float grid coordinate truncated toward zero to a cell index. The layout
    // only holds whole, non-negative coordinates; anything else saturates
    // rather than wrapping into another cell.
    static std::uint32_t cellIndex(float coordinate);

private:
    VTRect rect_;
    std::string address_;
    bool enabled_ = true;
};

}  // namespace velto

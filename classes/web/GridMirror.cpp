#include "web/GridMirror.h"

#include <cstdio>
#include <utility>

#include "GridPage.h"
#include "VeltoController.h"
#include "common/osc/HJOSCArgument.h"
#include "platform/RunLoop.h"
#include "ui/VTVerticalFader.h"

namespace velto {

GridMirror::GridMirror(RunLoop& loop, VeltoController& controller, WebServer::Settings settings)
    : loop_(loop), controller_(controller), settings_(std::move(settings)) {}

std::unique_ptr<GridMirror> GridMirror::start(RunLoop& loop, VeltoController& controller,
                                              WebServer::Settings settings) {
    std::unique_ptr<GridMirror> mirror(new GridMirror(loop, controller, settings));
    GridMirror* self = mirror.get();
    mirror->server_ =
        WebServer::start(loop, std::move(settings), kGridPage, [self](const PagePress& press) {
            // The same path as "/monome/press x y s" from the grid.
            const HJOSCArgument arguments[] = {HJOSCArgument::withInt(press.x),
                                               HJOSCArgument::withInt(press.y),
                                               HJOSCArgument::withInt(press.state)};
            self->controller_.processMonomeAtAddressWithArguments("/monome/press", arguments);
        });
    if (!mirror->server_) return nullptr;
    mirror->settings_.port = mirror->server_->port();
    controller.setLightObserver(mirror.get());
    mirror->publishNow();
    return mirror;
}

GridMirror::~GridMirror() { controller_.setLightObserver(nullptr); }

std::string GridMirror::pageAddress() const {
    std::string address = "http://" + settings_.host + ":" + std::to_string(settings_.port) + "/";
    if (!settings_.token.empty()) address += "?token=" + settings_.token;
    return address;
}

void GridMirror::lightSent(std::uint32_t x, std::uint32_t y, std::int8_t state) {
    if (lights_.set(x, y, state)) stateMayHaveChanged();
}

void GridMirror::stateMayHaveChanged() {
    if (*publishPosted_) return;
    *publishPosted_ = true;
    loop_.post([this, posted = std::weak_ptr<bool>(publishPosted_)] {
        if (posted.expired()) return;  // the mirror is gone
        publishNow();
    });
}

void GridMirror::publishNow() {
    *publishPosted_ = false;
    server_->publish(stateText());
}

std::string GridMirror::stateText() const {
    const auto number = [](float value, int decimals) {
        char text[32];
        std::snprintf(text, sizeof text, "%.*f", decimals, static_cast<double>(value));
        return std::string(text);
    };
    std::string faders;
    for (const auto& control : controller_.controls()) {
        if (const auto* fader = dynamic_cast<const VTVerticalFader*>(control.get()))
            faders += (faders.empty() ? "" : ",") + number(fader->currentValue(), 1);
    }
    // A slider shows its value as its one lit cell: rows 0 to 3 from the top
    // hold the media time of layers 4 to 1.
    std::string sliders;
    for (std::uint32_t row = 0; row < 4; ++row) {
        std::string position = "null";
        for (std::uint32_t x = 0; x < LightState::kSize; ++x) {
            if (lights_.lit(x, row)) {
                position = number(static_cast<float>(x) / 8.0f, 3);
                break;
            }
        }
        sliders += (row == 0 ? "" : ",") + position;
    }
    return "{\"lights\":\"" + lights_.text() + "\",\"faders\":[" + faders + "],\"sliders\":[" +
           sliders + "],\"video\":" + (controller_.videoAppAnswered() ? "true" : "false") +
           ",\"grid\":" + (controller_.gridHeardFrom() ? "true" : "false") + "}";
}

}  // namespace velto

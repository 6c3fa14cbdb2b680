#include "SerialoscDevice.h"

#include <cmath>
#include <utility>

#include "common/osc/HJOSCMessage.h"

namespace velto::tools {

namespace {

std::optional<std::int32_t> integerAt(std::span<const HJOSCArgument> arguments, std::size_t index) {
    if (index >= arguments.size()) return std::nullopt;
    const HJOSCArgument& argument = arguments[index];
    if (argument.type() == 'i') return argument.intValue();
    if (argument.type() == 'f' && std::isfinite(argument.floatValue()) &&
        std::fabs(argument.floatValue()) < 1e9f)
        return static_cast<std::int32_t>(argument.floatValue());
    return std::nullopt;
}

std::optional<std::string> stringAt(std::span<const HJOSCArgument> arguments, std::size_t index) {
    if (index >= arguments.size() || arguments[index].type() != 's') return std::nullopt;
    return arguments[index].stringValue();
}

// "/serialosc/list" and the like carry where to answer: host, then port.
std::optional<SerialoscDevice::Endpoint> endpointAt(std::span<const HJOSCArgument> arguments) {
    const auto host = stringAt(arguments, 0);
    const auto port = integerAt(arguments, 1);
    if (!host || !port || arguments.size() != 2) return std::nullopt;
    return SerialoscDevice::Endpoint{*host, *port};
}

}  // namespace

SerialoscDevice::SerialoscDevice(std::int32_t devicePort) : devicePort_(devicePort) {}

std::optional<SerialoscDevice::Endpoint> SerialoscDevice::application() const {
    if (!applicationPort_) return std::nullopt;
    return Endpoint{applicationHost_, *applicationPort_};
}

SerialoscDevice::Output SerialoscDevice::processDiscoveryMessage(const HJOSCMessage& message) {
    const std::string address(message.address().address());
    const auto to = endpointAt(message.attachedObjects());
    if (!to) return take();
    if (address == "/serialosc/list") {
        if (plugged_) {
            reply(*to, "/serialosc/device",
                  {HJOSCArgument::withString(kId), HJOSCArgument::withString(kType),
                   HJOSCArgument::withInt(devicePort_)},
                  true);
        }
    } else if (address == "/serialosc/notify") {
        subscribers_.push_back(*to);
    }
    return take();
}

SerialoscDevice::Output SerialoscDevice::processDeviceMessage(const HJOSCMessage& message) {
    if (!plugged_) return take();
    const std::string address(message.address().address());
    const auto arguments = message.attachedObjects();
    if (address == "/sys/port") {
        if (const auto port = integerAt(arguments, 0)) {
            applicationPort_ = *port;
            output_.events.push_back("application at " + applicationHost_ + " port " +
                                     std::to_string(*port));
        }
    } else if (address == "/sys/host") {
        if (const auto host = stringAt(arguments, 0)) {
            applicationHost_ = *host;
            if (applicationPort_) {
                output_.events.push_back("application at " + applicationHost_ + " port " +
                                         std::to_string(*applicationPort_));
            }
        }
    } else if (address == "/sys/prefix") {
        if (const auto prefix = stringAt(arguments, 0)) {
            prefix_ = *prefix;
            output_.events.push_back("prefix " + prefix_);
            tellApplication("/sys/prefix", {HJOSCArgument::withString(prefix_)});
        }
    } else if (address == "/sys/rotation") {
        if (const auto rotation = integerAt(arguments, 0)) {
            rotation_ = *rotation;
            output_.events.push_back("rotation " + std::to_string(rotation_));
            tellApplication("/sys/rotation", {HJOSCArgument::withInt(rotation_)});
        }
    } else if (address == "/sys/info") {
        // Three forms: to the application, to a port of its host, or anywhere.
        if (arguments.empty()) {
            if (const auto to = application()) sendInfo(*to);
        } else if (arguments.size() == 1) {
            if (const auto port = integerAt(arguments, 0)) sendInfo({applicationHost_, *port});
        } else if (const auto to = endpointAt(arguments)) {
            sendInfo(*to);
        }
    } else if (!drawLights(address, arguments)) {
        output_.events.push_back("ignored " + address);
    }
    return take();
}

bool SerialoscDevice::drawLights(const std::string& address,
                                 std::span<const HJOSCArgument> arguments) {
    if (address == prefix_ + "/grid/led/set") {
        const auto x = integerAt(arguments, 0);
        const auto y = integerAt(arguments, 1);
        const auto state = integerAt(arguments, 2);
        if (x && y && state && arguments.size() == 3 && GridState::contains({*x, *y}))
            output_.lights.push_back({{*x, *y}, *state != 0});
        return true;
    }
    if (address == prefix_ + "/grid/led/all") {
        if (const auto state = integerAt(arguments, 0); state && arguments.size() == 1)
            setAll(*state != 0);
        return true;
    }
    if (address == prefix_ + "/grid/led/map") {
        // Offsets name a quadrant of eight; an 8x8 grid has only the one at 0 0.
        if (arguments.size() != 2 + GridState::kSize || integerAt(arguments, 0) != 0 ||
            integerAt(arguments, 1) != 0)
            return true;
        for (int y = 0; y < GridState::kSize; ++y) {
            const auto row = integerAt(arguments, 2 + static_cast<std::size_t>(y));
            if (!row) continue;
            for (int x = 0; x < GridState::kSize; ++x)
                output_.lights.push_back({{x, y}, (*row >> x & 1) != 0});
        }
        return true;
    }
    return false;
}

SerialoscDevice::Output SerialoscDevice::key(const GridPress& press) {
    const auto to = application();
    if (!plugged_) {
        output_.events.push_back("not sent: the grid is unplugged");
    } else if (!to) {
        output_.events.push_back("not sent: no application has set /sys/port yet");
    } else {
        reply(*to, prefix_ + "/grid/key",
              {HJOSCArgument::withInt(press.cell.x), HJOSCArgument::withInt(press.cell.y),
               HJOSCArgument::withInt(press.state)});
    }
    return take();
}

SerialoscDevice::Output SerialoscDevice::unplug() {
    if (plugged_) {
        tellApplication("/sys/disconnect");
        tellSubscribers("/serialosc/remove");
        plugged_ = false;
        output_.events.push_back("unplugged");
    }
    return take();
}

SerialoscDevice::Output SerialoscDevice::replug(std::int32_t devicePort) {
    if (!plugged_) {
        plugged_ = true;
        devicePort_ = devicePort;
        output_.events.push_back("plugged in on port " + std::to_string(devicePort));
        setAll(false);  // a grid starts dark
        tellSubscribers("/serialosc/add");
        tellApplication("/sys/connect");
    }
    return take();
}

void SerialoscDevice::reply(const Endpoint& to, const std::string& address,
                            std::vector<HJOSCArgument> arguments, bool fromDiscoveryPort) {
    auto message = std::make_shared<HJOSCMessage>(std::string_view(address));
    if (!arguments.empty()) message->attachArguments(std::move(arguments));
    output_.messages.push_back({to, std::move(message), fromDiscoveryPort});
}

void SerialoscDevice::tellSubscribers(const std::string& address) {
    for (const Endpoint& to : subscribers_) {
        reply(to, address,
              {HJOSCArgument::withString(kId), HJOSCArgument::withString(kType),
               HJOSCArgument::withInt(devicePort_)},
              true);
    }
    subscribers_.clear();  // each asked for one notification
}

void SerialoscDevice::tellApplication(const std::string& address,
                                      std::vector<HJOSCArgument> arguments) {
    if (const auto to = application()) reply(*to, address, std::move(arguments));
}

void SerialoscDevice::sendInfo(const Endpoint& to) {
    reply(to, "/sys/id", {HJOSCArgument::withString(kId)});
    reply(to, "/sys/size",
          {HJOSCArgument::withInt(GridState::kSize), HJOSCArgument::withInt(GridState::kSize)});
    reply(to, "/sys/host", {HJOSCArgument::withString(applicationHost_)});
    reply(to, "/sys/port", {HJOSCArgument::withInt(applicationPort_.value_or(0))});
    reply(to, "/sys/prefix", {HJOSCArgument::withString(prefix_)});
    reply(to, "/sys/rotation", {HJOSCArgument::withInt(rotation_)});
}

void SerialoscDevice::setAll(bool lit) {
    for (int y = 0; y < GridState::kSize; ++y) {
        for (int x = 0; x < GridState::kSize; ++x) output_.lights.push_back({{x, y}, lit});
    }
}

SerialoscDevice::Output SerialoscDevice::take() { return std::exchange(output_, {}); }

}  // namespace velto::tools

#include "SerialoscBridge.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "common/osc/HJOSCBundle.h"
#include "common/osc/HJOSCMessage.h"
#include "common/osc/HJOSCSender.h"

namespace velto::tools {

namespace {

// Bundles for the grid are kept within what the project's sender sends in one
// datagram: some systems refuse larger ones, and a refused bundle is lost whole.
constexpr std::size_t kMaxBundleSize = HJOSCSender::kMaxBundleSize;

// A coordinate, state or port: 'i' as it is, 'f' when it is a whole number
// (liblo-based senders may send floats); none for anything else: a key at
// -0.5 is on no key, and rounding it would press one.
std::optional<std::int32_t> integerArgument(const HJOSCArgument& argument) {
    if (argument.type() == 'i') return argument.intValue();
    if (argument.type() == 'f') {
        const float value = argument.floatValue();
        if (!std::isfinite(value) || std::fabs(value) >= 2147483648.0f ||
            std::trunc(value) != value)
            return std::nullopt;
        return static_cast<std::int32_t>(value);
    }
    return std::nullopt;
}

// A prefix starts our addresses: without its "/" they are no OSC address, and
// with "#" one may read as a bundle ("#bundle/grid/led/set").
bool isValidPrefix(const std::string& prefix) {
    return prefix.starts_with('/') && prefix.find('#') == std::string::npos;
}

std::optional<std::string> stringArgument(std::span<const HJOSCArgument> arguments,
                                          std::size_t index) {
    if (index >= arguments.size() || arguments[index].type() != 's') return std::nullopt;
    return arguments[index].stringValue();
}

std::optional<std::int32_t> integerArgument(std::span<const HJOSCArgument> arguments,
                                            std::size_t index) {
    if (index >= arguments.size()) return std::nullopt;
    return integerArgument(arguments[index]);
}

struct Triple {
    std::int32_t x;
    std::int32_t y;
    std::int32_t state;
};

// x, y and state of a key or light message; none unless exactly three numbers.
std::optional<Triple> triple(std::span<const HJOSCArgument> arguments) {
    if (arguments.size() != 3) return std::nullopt;
    const auto x = integerArgument(arguments[0]);
    const auto y = integerArgument(arguments[1]);
    const auto state = integerArgument(arguments[2]);
    if (!x || !y || !state) return std::nullopt;
    return Triple{*x, *y, *state};
}

std::shared_ptr<HJOSCMessage> makeMessage(const std::string& address,
                                          std::vector<HJOSCArgument> arguments = {}) {
    auto message = std::make_shared<HJOSCMessage>(std::string_view(address));
    if (!arguments.empty()) message->attachArguments(std::move(arguments));
    return message;
}

// Arcs are served by serialosc too, as "monome arc 4" and the like; they have
// no keys to press.
bool isArc(const std::string& type) { return type.find("arc") != std::string::npos; }

}  // namespace

SerialoscBridge::SerialoscBridge(Config config) : config_(std::move(config)) {}

SerialoscBridge::Output SerialoscBridge::start() {
    // The notify waits for serialosc's first answer: one sent before serialosc
    // runs is lost, and one sent twice would double every notification from
    // then on. Until that answer, the list on every tick finds the grid.
    sendToSerialosc("/serialosc/list");
    return take();
}

SerialoscBridge::Output SerialoscBridge::tick() {
    // Counted up to the limit only: a quiet week must not overflow them.
    quietTicks_ = std::min(quietTicks_ + 1, kUnansweredLimit);
    if (grid_) ++unlistedTicks_;
    if (grid_ && unlistedTicks_ >= kUnansweredLimit) {
        if (quietTicks_ >= kUnansweredLimit) {
            notice("serialosc went away (no answer for " + std::to_string(kUnansweredLimit) +
                   " s); grid " + grid_->id + " waits for it to come back");
            serialoscAway_ = true;
        } else {
            notice("grid " + grid_->id + " is no longer listed by serialosc; waiting for it");
        }
        letGridGo();
    }
    // A serialosc that went quiet may have restarted and forgotten our
    // request for notifications: its next answer asks again.
    if (quietTicks_ >= kUnansweredLimit) serialoscSeen_ = false;
    if (state_ == State::searching) sayWaiting();
    // The grid has not told its prefix: our first words may have been lost.
    if (state_ == State::configuring) sendConfiguration();
    sendToSerialosc("/serialosc/list");
    return take();
}

SerialoscBridge::Output SerialoscBridge::processGridPacket(const HJOSCPacket& packet,
                                                           const Ipv4Endpoint& from) {
    const bool fromSerialosc =
        from == Ipv4Endpoint{kHostAddress, static_cast<std::uint16_t>(config_.serialoscPort)};
    std::vector<std::shared_ptr<HJOSCMessage>> presses;
    for (const HJOSCMessage& message : HJOSCBundle::messagesOf(packet))
        processGridMessage(message, fromSerialosc, presses);
    emitGroup(Destination::velto, packet, std::move(presses));
    return take();
}

SerialoscBridge::Output SerialoscBridge::processVeltoPacket(const HJOSCPacket& packet) {
    std::vector<std::shared_ptr<HJOSCMessage>> lights;
    const std::string setAddress = prefix_ + "/grid/led/set";
    for (const HJOSCMessage& message : HJOSCBundle::messagesOf(packet)) {
        if (message.address().address() != kLightAddress) continue;
        const auto light = triple(message.attachedObjects());
        if (!light) continue;
        const bool lit = light->state != 0;
        // Cells beyond the 8x8 are not Velto's: nothing to keep, nothing to show.
        if (!lights_.set(light->x, light->y, lit)) continue;
        // Kept while no grid listens; the redraw shows it when one does.
        if (state_ != State::ready) continue;
        lights.push_back(makeMessage(
            setAddress, {HJOSCArgument::withInt(light->x), HJOSCArgument::withInt(light->y),
                         HJOSCArgument::withInt(lit ? 1 : 0)}));
    }
    emitGroup(Destination::device, packet, std::move(lights));
    return take();
}

void SerialoscBridge::processGridMessage(const HJOSCMessage& message, bool fromSerialosc,
                                         std::vector<std::shared_ptr<HJOSCMessage>>& presses) {
    const std::string address(message.address().address());
    const auto& arguments = message.attachedObjects();

    if (!prefix_.empty() && address == prefix_ + "/grid/key") {
        const auto key = triple(arguments);
        // Velto's grid is the top-left 8x8; keys beyond it are not Velto's.
        if (!key || !LightState::contains(key->x, key->y)) return;
        presses.push_back(makeMessage(
            kPressAddress, {HJOSCArgument::withInt(key->x), HJOSCArgument::withInt(key->y),
                            HJOSCArgument::withInt(key->state)}));
        return;
    }
    if (address.starts_with("/serialosc/") && !fromSerialosc) {
        // Anyone could send these; only serialosc knows where the grid is.
        if (!strangerSaid_) {
            strangerSaid_ = true;
            notice("ignored " + address + " from another sender than serialosc (port " +
                   std::to_string(config_.serialoscPort) +
                   "); such messages are not reported again");
        }
        return;
    }
    if (address == "/serialosc/device") {
        deviceListed(arguments);
    } else if (address == "/serialosc/add") {
        deviceAdded(arguments);
    } else if (address == "/serialosc/remove") {
        deviceRemoved(arguments);
    } else if (address == "/sys/prefix") {
        if (const auto prefix = stringArgument(arguments, 0)) prefixTold(*prefix);
    } else if (address == "/sys/size") {
        const auto width = integerArgument(arguments, 0);
        const auto height = integerArgument(arguments, 1);
        if (width && height) {
            width_ = *width;
            height_ = *height;
        }
    } else if (address == "/sys/connect") {
        connected();
    } else if (address == "/sys/disconnect") {
        disconnected();
    }
    // "/sys/id", "/sys/host", "/sys/port", "/sys/rotation" and anything else
    // change nothing here.
}

void SerialoscBridge::deviceListed(std::span<const HJOSCArgument> arguments) {
    serialoscAnswered(true);
    const auto id = stringArgument(arguments, 0);
    const auto type = stringArgument(arguments, 1);
    const auto number = integerArgument(arguments, 2);
    if (!id || !type || !number || arguments.size() != 3) return;
    const auto port = validPort("/serialosc/device", *id, *number);
    if (!port) return;
    if (grid_ && grid_->id == *id) {
        if (*port != grid_->port) {
            // No "/serialosc/add" told us: serialosc has restarted, and has
            // forgotten both where the grid sends and our notify.
            notice("serialosc serves grid " + *id + " on port " + std::to_string(*port) +
                   " now; pointing it at us again");
            grid_->port = *port;
            state_ = State::configuring;
            sendConfiguration();
            sendToSerialosc("/serialosc/notify");
        }
        gridListed(*port);
    } else if (state_ == State::searching && wanted(*id, *type)) {
        choose({*id, *type, *port});
    }
}

std::optional<std::int32_t> SerialoscBridge::validPort(const std::string& address,
                                                       const std::string& id, std::int32_t port) {
    if (port >= 1 && port <= 65535) return port;
    notice("ignored " + address + " for grid " + id + ": port " + std::to_string(port) +
           " is outside 1 to 65535");
    return std::nullopt;
}

void SerialoscBridge::gridListed(std::int32_t port) {
    if (grid_ && grid_->port == port) unlistedTicks_ = 0;
}

void SerialoscBridge::deviceAdded(std::span<const HJOSCArgument> arguments) {
    serialoscAnswered(false);
    const auto id = stringArgument(arguments, 0);
    if (id) {
        const bool ours = grid_ && grid_->id == *id;
        const auto type = stringArgument(arguments, 1);
        const auto number = integerArgument(arguments, 2);
        const auto port = number ? validPort("/serialosc/add", *id, *number) : std::nullopt;
        if (arguments.size() == 3 && type && number && !port) {
            // Refused: the grid stays where it was.
        } else if (arguments.size() == 3 && type && port) {
            if (ours) {
                // Back, perhaps on another port: point it at us again; its
                // prefix reply redraws it.
                grid_->port = *port;
                gridListed(*port);
                state_ = State::configuring;
                notice("grid " + *id + " is back, on port " + std::to_string(*port));
                sendConfiguration();
            } else if (state_ == State::searching && wanted(*id, *type)) {
                choose({*id, *type, *port});
            }
        } else if (ours ||
                   (state_ == State::searching && (!config_.device || *config_.device == *id))) {
            // Older serialosc tells only the id: the port comes from a list.
            if (ours) forgetGrid();
            sendToSerialosc("/serialosc/list");
        }
    }
    // A notification is one-shot: ask for the next one.
    sendToSerialosc("/serialosc/notify");
}

void SerialoscBridge::deviceRemoved(std::span<const HJOSCArgument> arguments) {
    serialoscAnswered(false);
    const auto id = stringArgument(arguments, 0);
    if (id && grid_ && grid_->id == *id) {
        notice("grid " + *id + " is gone; waiting for it to come back");
        letGridGo();
        // Another grid may be there already.
        sendToSerialosc("/serialosc/list");
    }
    sendToSerialosc("/serialosc/notify");
}

void SerialoscBridge::prefixTold(const std::string& prefix) {
    if (!grid_) return;
    if (!isValidPrefix(prefix)) {
        // The grid is asked again while configuring: one line per prefix.
        if (prefix != refusedPrefix_) {
            refusedPrefix_ = prefix;
            notice("grid " + grid_->id + ": ignored the prefix \"" + prefix +
                   "\" (a prefix starts with / and holds no #)");
        }
        return;
    }
    refusedPrefix_.reset();
    const bool changed = prefix != prefix_;
    prefix_ = prefix;
    if (state_ == State::configuring) {
        state_ = State::ready;
        std::string text = "grid " + grid_->id + " ready: prefix " + prefix_;
        if (width_ > 0 && height_ > 0) {
            text += ", " + std::to_string(width_) + "x" + std::to_string(height_);
            if (width_ > LightState::kSize || height_ > LightState::kSize)
                text += " (Velto uses the top-left 8x8)";
        }
        notice(std::move(text));
        redraw();
    } else if (state_ == State::ready && changed) {
        // Someone else changed it; the lights are the same, the address is not.
        notice("grid " + grid_->id + " now has the prefix " + prefix_);
        redraw();
    }
}

void SerialoscBridge::connected() {
    // While configuring, the prefix reply is still to come and redraws then.
    if (!grid_ || prefix_.empty() || state_ == State::configuring) return;
    if (state_ == State::disconnected) notice("grid " + grid_->id + " is connected again");
    state_ = State::ready;
    redraw();
}

void SerialoscBridge::disconnected() {
    if (!grid_ || state_ != State::ready) return;
    state_ = State::disconnected;
    notice("grid " + grid_->id + " is disconnected; keeping its lights for when it is back");
}

bool SerialoscBridge::wanted(const std::string& id, const std::string& type) {
    if (!config_.device) return !isArc(type);
    if (id == *config_.device) return true;
    // Named, so that a mistyped --device shows what there is to choose from.
    std::string grid = id + " (" + type + ")";
    if (std::find(otherGrids_.begin(), otherGrids_.end(), grid) == otherGrids_.end()) {
        if (waitingSaid_) notice("serialosc reports grid " + grid + ", not " + *config_.device);
        otherGrids_.push_back(std::move(grid));
    }
    return false;
}

void SerialoscBridge::choose(Grid grid) {
    notice("found grid " + grid.id + " (" + grid.type + ") on port " + std::to_string(grid.port));
    grid_ = std::move(grid);
    prefix_.clear();
    width_ = 0;
    height_ = 0;
    state_ = State::configuring;
    waitingSaid_ = false;
    sendConfiguration();
}

void SerialoscBridge::letGridGo() {
    forgetGrid();
    waitingSaid_ = true;
}

void SerialoscBridge::forgetGrid() {
    grid_.reset();
    prefix_.clear();
    width_ = 0;
    height_ = 0;
    state_ = State::searching;
    unlistedTicks_ = 0;
}

void SerialoscBridge::serialoscAnswered(bool toOurList) {
    quietTicks_ = 0;
    if (serialoscAway_) {
        serialoscAway_ = false;
        notice("serialosc is back");
    }
    if (serialoscSeen_) return;
    serialoscSeen_ = true;
    // An add or a remove is answered with a new notify anyway.
    if (toOurList) sendToSerialosc("/serialosc/notify");
}

void SerialoscBridge::sayWaiting() {
    if (waitingSaid_) return;
    waitingSaid_ = true;
    if (!config_.device) {
        notice("no grid yet; waiting for serialosc to report one");
        return;
    }
    std::string text =
        "grid " + *config_.device + " not found yet; waiting for serialosc to report it";
    if (!otherGrids_.empty()) {
        text += " (it reports ";
        for (std::size_t i = 0; i < otherGrids_.size(); ++i)
            text += (i > 0 ? ", " : "") + otherGrids_[i];
        text += ")";
    }
    notice(std::move(text));
}

void SerialoscBridge::sendToSerialosc(const std::string& address) {
    emit(Destination::serialosc,
         makeMessage(address, {HJOSCArgument::withString(kHost),
                               HJOSCArgument::withInt(config_.listenPort)}));
}

void SerialoscBridge::sendConfiguration() {
    emit(Destination::device, makeMessage("/sys/host", {HJOSCArgument::withString(kHost)}));
    emit(Destination::device,
         makeMessage("/sys/port", {HJOSCArgument::withInt(config_.listenPort)}));
    emit(Destination::device,
         makeMessage("/sys/info", {HJOSCArgument::withString(kHost),
                                   HJOSCArgument::withInt(config_.listenPort)}));
}

void SerialoscBridge::redraw() {
    std::vector<HJOSCArgument> arguments{HJOSCArgument::withInt(0), HJOSCArgument::withInt(0)};
    for (const std::int32_t mask : lights_.rowBitmasks())
        arguments.push_back(HJOSCArgument::withInt(mask));
    emit(Destination::device, makeMessage(prefix_ + "/grid/led/map", std::move(arguments)));
}

void SerialoscBridge::emit(Destination to, std::shared_ptr<HJOSCPacket> packet) {
    Outgoing outgoing;
    outgoing.to = to;
    outgoing.devicePort = to == Destination::device && grid_ ? grid_->port : 0;
    outgoing.packet = std::move(packet);
    output_.packets.push_back(std::move(outgoing));
}

void SerialoscBridge::emitGroup(Destination to, const HJOSCPacket& source,
                                std::vector<std::shared_ptr<HJOSCMessage>> messages) {
    if (messages.empty()) return;
    const HJOSCBundle* incoming = source.asBundle();
    if (!incoming) {
        for (auto& message : messages) emit(to, std::move(message));
        return;
    }
    std::vector<HJOSCMessage> contents;
    contents.reserve(messages.size());
    for (auto& message : messages) contents.push_back(std::move(*message));
    for (HJOSCBundle& part : HJOSCBundle::pack(contents, incoming->timeStamp(), kMaxBundleSize))
        emit(to, std::make_shared<HJOSCBundle>(std::move(part)));
}

void SerialoscBridge::notice(std::string text) { output_.notices.push_back(std::move(text)); }

SerialoscBridge::Output SerialoscBridge::take() { return std::exchange(output_, {}); }

}  // namespace velto::tools

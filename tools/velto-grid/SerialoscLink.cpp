#include "SerialoscLink.h"

#include <string_view>

#include "OptionScanner.h"
#include "PacketRoute.h"
#include "common/osc/HJOSCBundle.h"
#include "common/osc/HJOSCDecoder.h"
#include "common/osc/HJOSCListener.h"
#include "common/osc/HJOSCMessage.h"
#include "common/osc/HJOSCPacket.h"
#include "common/osc/HJOSCSender.h"

namespace velto::tools {

Status SerialoscLink::takeOptions(std::vector<const char*>& arguments, Options& options) {
    std::vector<const char*> rest;
    bool portGiven = false;
    OptionScanner scanner(arguments);
    while (scanner.next()) {
        if (scanner.name() == "--serialosc" && !scanner.hasInlineValue()) {
            options.enabled = true;
        } else if (scanner.name() == "--serialosc-port") {
            int port = 0;
            if (const Status taken = scanner.takeNumber(0, 65535, {"a port number"}, port);
                !taken.ok())
                return taken;
            options.discoveryPort = port;
            portGiven = true;
        } else {
            rest.push_back(scanner.argument().data());  // the argument itself, whole
        }
    }
    if (portGiven && !options.enabled)
        return Status::failure("option --serialosc-port needs --serialosc");
    arguments = std::move(rest);
    return Status::success();
}

SerialoscLink::SerialoscLink(RunLoop& loop, LightHandler onLight, LineHandler onLine)
    : onLight_(std::move(onLight)), onLine_(std::move(onLine)), loop_(loop) {}

SerialoscLink::~SerialoscLink() {
    discovery_.reset();
    if (deviceListener_) deviceListener_->stopListening();
}

std::unique_ptr<SerialoscLink> SerialoscLink::open(RunLoop& loop, std::int32_t discoveryPort,
                                                   LightHandler onLight, LineHandler onLine,
                                                   std::string& error) {
    std::unique_ptr<SerialoscLink> link(
        new SerialoscLink(loop, std::move(onLight), std::move(onLine)));
    link->deviceRoute_ = std::make_shared<PacketRoute>(
        [raw = link.get()](ByteView data) { raw->receive(data, false); });
    std::string reason;
    link->discovery_ = DatagramPort::open(
        loop, discoveryPort,
        [raw = link.get()](ByteView data, const Ipv4Endpoint&) { raw->receive(data, true); },
        reason);
    if (!link->discovery_) {
        error = "cannot listen on UDP port " + std::to_string(discoveryPort) +
                " for serialosc discovery (is serialosc running?): " + reason;
        return nullptr;
    }
    if (!link->listenOnDevicePort(error)) return nullptr;
    link->device_ = std::make_unique<SerialoscDevice>(link->deviceListener_->localPort());
    return link;
}

bool SerialoscLink::listenOnDevicePort(std::string& error) {
    deviceListener_ = HJOSCListener::defaultListenerOnPort(loop_, 0);
    if (deviceListener_->localPort() == 0) {
        error = "cannot listen on a UDP port for the grid";
        deviceListener_.reset();
        return false;
    }
    deviceListener_->setDelegate(deviceRoute_);
    return true;
}

std::string SerialoscLink::describePorts() const {
    return "serialosc discovery on port " + std::to_string(discoveryPort()) + ", grid on port " +
           std::to_string(device_->devicePort());
}

std::uint16_t SerialoscLink::discoveryPort() const { return discovery_->localPort(); }

bool SerialoscLink::sendKey(const GridPress& press) {
    SerialoscDevice::Output output = device_->key(press);
    const bool sent = !output.messages.empty();
    deliver(std::move(output));
    return sent;
}

void SerialoscLink::unplug() {
    deliver(device_->unplug());
    // The grid's port goes with it, as serialosc's server for it ends.
    if (deviceListener_) deviceListener_->stopListening();
    deviceListener_.reset();
}

bool SerialoscLink::replug(std::string& error) {
    if (device_->isPlugged()) return true;
    if (!listenOnDevicePort(error)) return false;
    deliver(device_->replug(deviceListener_->localPort()));
    return true;
}

void SerialoscLink::receive(ByteView data, bool discovery) {
    const auto packet = HJOSCDecoder::decodeData(data);
    if (!packet) return;
    // Bundles are taken apart in order, nested ones depth-first.
    for (const HJOSCMessage& message : HJOSCBundle::messagesOf(*packet)) {
        deliver(discovery ? device_->processDiscoveryMessage(message)
                          : device_->processDeviceMessage(message));
    }
}

void SerialoscLink::deliver(SerialoscDevice::Output output) {
    for (const std::string& line : output.events) onLine_(line);
    for (const auto& light : output.lights) onLight_(light.cell, light.lit);
    for (const auto& outgoing : output.messages) {
        if (outgoing.fromDiscoveryPort) {
            const auto address = resolveIPv4(outgoing.to.host);
            if (address && outgoing.to.port > 0 && outgoing.to.port <= 65535)
                discovery_->send(*outgoing.message,
                                 {*address, static_cast<std::uint16_t>(outgoing.to.port)});
        } else if (HJOSCSender* sender = senderFor(outgoing.to)) {
            sender->sendOSCPacket(*outgoing.message);
        }
    }
}

HJOSCSender* SerialoscLink::senderFor(const SerialoscDevice::Endpoint& to) {
    if (to.port <= 0 || to.port > 65535) return nullptr;
    auto& sender = senders_[{to.host, to.port}];
    // A host that does not resolve gets no sender, and is tried again next time.
    if (!sender) sender = HJOSCSender::senderWithDestinationHostName(loop_, to.host, to.port);
    return sender.get();
}

}  // namespace velto::tools

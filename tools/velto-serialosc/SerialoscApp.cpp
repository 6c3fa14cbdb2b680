#include "SerialoscApp.h"

#include <span>
#include <string>
#include <utility>

#include "ToolApp.h"
#include "common/osc/HJOSCDecoder.h"
#include "common/osc/HJOSCListener.h"
#include "common/osc/HJOSCPacket.h"
#include "common/osc/HJOSCSender.h"

namespace velto::tools {

int SerialoscApp::main(int argc, const char* const* argv) {
    const std::span<const char* const> arguments(argv, static_cast<std::size_t>(argc));
    const SerialoscOptions options = SerialoscOptions::parse(arguments.subspan(argc > 0 ? 1 : 0));
    if (const auto status = ToolApp::finishEarly("velto-serialosc", options.action, options.error,
                                                 SerialoscOptions::usage()))
        return *status;
    SerialoscApp app(options);
    return app.run();
}

SerialoscApp::SerialoscApp(SerialoscOptions options)
    : options_(std::move(options)), shell_("velto-serialosc") {}

SerialoscApp::~SerialoscApp() {
    retryTimer_.reset();
    gridPort_.reset();
    if (veltoListener_) veltoListener_->stopListening();
}

int SerialoscApp::run() {
    veltoRoute_ = std::make_shared<PacketRoute>([this](ByteView data) { receiveFromVelto(data); });
    std::string error;
    gridPort_ = DatagramPort::open(
        shell_.loop(), options_.listenPort,
        [this](ByteView data, const Ipv4Endpoint& from) { receiveFromGrid(data, from); }, error);
    if (!gridPort_) {
        return shell_.fail("cannot listen on UDP port " + std::to_string(options_.listenPort) +
                           " for the grid: " + error);
    }
    veltoListener_ = HJOSCListener::defaultListenerOnPort(shell_.loop(), options_.monomeSendPort);
    if (veltoListener_->localPort() == 0) {
        return shell_.fail("cannot listen on UDP port " + std::to_string(options_.monomeSendPort) +
                           " (Velto's monomeSendPort); is another grid program running?");
    }
    veltoListener_->setDelegate(veltoRoute_);

    serialoscSender_ = HJOSCSender::senderWithDestinationHostName(
        shell_.loop(), SerialoscBridge::kHost, options_.serialoscPort);
    veltoSender_ = HJOSCSender::senderWithDestinationHostName(shell_.loop(), SerialoscBridge::kHost,
                                                              options_.monomeListenPort);
    if (!serialoscSender_ || !veltoSender_)
        return shell_.fail("cannot make a UDP socket to send with");

    const std::int32_t listenPort = gridPort_->localPort();
    bridge_ = std::make_unique<SerialoscBridge>(
        SerialoscBridge::Config{listenPort, options_.device, options_.serialoscPort});
    ToolApp::say("velto-serialosc ready: listening on port " + std::to_string(listenPort) +
                 " for serialosc (port " + std::to_string(options_.serialoscPort) +
                 ") and the grid; Velto's lights on port " +
                 std::to_string(options_.monomeSendPort) + ", presses to port " +
                 std::to_string(options_.monomeListenPort));
    deliver(bridge_->start());
    retryTimer_ =
        shell_.loop().scheduleTimer(kRetryInterval, true, [this] { deliver(bridge_->tick()); });
    return shell_.run();
}

void SerialoscApp::receiveFromGrid(ByteView data, const Ipv4Endpoint& from) {
    if (const auto packet = HJOSCDecoder::decodeData(data))
        deliver(bridge_->processGridPacket(*packet, from));
}

void SerialoscApp::receiveFromVelto(ByteView data) {
    if (const auto packet = HJOSCDecoder::decodeData(data))
        deliver(bridge_->processVeltoPacket(*packet));
}

void SerialoscApp::deliver(SerialoscBridge::Output output) {
    for (const std::string& notice : output.notices) ToolApp::say(notice);
    for (const auto& outgoing : output.packets) {
        if (HJOSCSender* sender = senderFor(outgoing)) sender->sendOSCPacket(*outgoing.packet);
    }
}

HJOSCSender* SerialoscApp::senderFor(const SerialoscBridge::Outgoing& outgoing) {
    switch (outgoing.to) {
        case SerialoscBridge::Destination::serialosc:
            return serialoscSender_.get();
        case SerialoscBridge::Destination::velto:
            return veltoSender_.get();
        case SerialoscBridge::Destination::device:
            if (outgoing.devicePort <= 0 || outgoing.devicePort > 65535) return nullptr;
            if (!deviceSender_ || deviceSender_->portNumber() != outgoing.devicePort) {
                deviceSender_ = HJOSCSender::senderWithDestinationHostName(
                    shell_.loop(), SerialoscBridge::kHost, outgoing.devicePort);
            }
            return deviceSender_.get();
    }
    return nullptr;
}

}  // namespace velto::tools

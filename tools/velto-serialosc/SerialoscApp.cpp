#include "SerialoscApp.h"

#include <cstdio>
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
    : options_(std::move(options)), loop_(clock_) {}

SerialoscApp::~SerialoscApp() {
    retryTimer_.reset();
    gridPort_.reset();
    if (veltoListener_) veltoListener_->stopListening();
}

int SerialoscApp::run() {
    // Taken over first, so that a signal at any moment after start is a clean quit.
    ToolApp::stopOnSignals(loop_, [this] { loop_.stop(); });

    veltoRoute_ = std::make_shared<PacketRoute>([this](ByteView data) { receiveFromVelto(data); });
    std::string error;
    gridPort_ = DatagramPort::open(
        loop_, options_.listenPort,
        [this](ByteView data, const Ipv4Endpoint& from) { receiveFromGrid(data, from); }, error);
    if (!gridPort_) {
        std::fprintf(stderr, "velto-serialosc: cannot listen on UDP port %d for the grid: %s\n",
                     options_.listenPort, error.c_str());
        return 1;
    }
    veltoListener_ = HJOSCListener::defaultListenerOnPort(loop_, options_.monomeSendPort);
    if (veltoListener_->localPort() == 0) {
        std::fprintf(stderr,
                     "velto-serialosc: cannot listen on UDP port %d (Velto's monomeSendPort); "
                     "is another grid program running?\n",
                     options_.monomeSendPort);
        return 1;
    }
    veltoListener_->setDelegate(veltoRoute_);

    serialoscSender_ =
        HJOSCSender::senderWithDestinationHostName(loop_, SerialoscBridge::kHost, options_.serialoscPort);
    veltoSender_ = HJOSCSender::senderWithDestinationHostName(loop_, SerialoscBridge::kHost,
                                                              options_.monomeListenPort);
    if (!serialoscSender_ || !veltoSender_) {
        std::fprintf(stderr, "velto-serialosc: cannot make a UDP socket to send with\n");
        return 1;
    }

    const std::int32_t listenPort = gridPort_->localPort();
    bridge_ = std::make_unique<SerialoscBridge>(
        SerialoscBridge::Config{listenPort, options_.device, options_.serialoscPort});
    ToolApp::say("velto-serialosc ready: listening on port " + std::to_string(listenPort) +
        " for serialosc (port " + std::to_string(options_.serialoscPort) +
        ") and the grid; Velto's lights on port " + std::to_string(options_.monomeSendPort) +
        ", presses to port " + std::to_string(options_.monomeListenPort));
    deliver(bridge_->start());
    retryTimer_ = loop_.scheduleTimer(kRetryInterval, true, [this] { deliver(bridge_->tick()); });

    loop_.run();
    return 0;
}

void SerialoscApp::receiveFromGrid(ByteView data, const Ipv4Endpoint& from) {
    if (const auto packet = HJOSCDecoder::decodeData(data))
        deliver(bridge_->processGridPacket(*packet, from));
}

void SerialoscApp::receiveFromVelto(ByteView data) {
    if (const auto packet = HJOSCDecoder::decodeData(data)) deliver(bridge_->processVeltoPacket(*packet));
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
                deviceSender_ = HJOSCSender::senderWithDestinationHostName(loop_, SerialoscBridge::kHost,
                                                                           outgoing.devicePort);
            }
            return deviceSender_.get();
    }
    return nullptr;
}

}  // namespace velto::tools

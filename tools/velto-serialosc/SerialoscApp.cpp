#include "SerialoscApp.h"

#include <csignal>
#include <cstdio>
#include <functional>
#include <span>
#include <string>
#include <utility>

#include "VeltoVersion.h"
#include "common/osc/HJOSCDecoder.h"
#include "common/osc/HJOSCListener.h"
#include "common/osc/HJOSCListenerDelegate.h"
#include "common/osc/HJOSCPacket.h"
#include "common/osc/HJOSCSender.h"

namespace velto::tools {

class SerialoscApp::Route final : public HJOSCListenerDelegate {
  public:
    explicit Route(std::function<void(ByteView)> receive) : receive_(std::move(receive)) {}
    void dispatchRawPacket(ByteView data) override { receive_(data); }

  private:
    std::function<void(ByteView)> receive_;
};

int SerialoscApp::main(int argc, const char* const* argv) {
    const std::span<const char* const> arguments(argv, static_cast<std::size_t>(argc));
    const SerialoscOptions options = SerialoscOptions::parse(arguments.subspan(argc > 0 ? 1 : 0));
    switch (options.action) {
        case SerialoscOptions::Action::help:
            std::fputs(SerialoscOptions::usage().c_str(), stdout);
            return 0;
        case SerialoscOptions::Action::version:
            std::puts("velto-serialosc " VELTO_VERSION);
            return 0;
        case SerialoscOptions::Action::error:
            std::fprintf(stderr,
                         "velto-serialosc: %s\nTry 'velto-serialosc --help' for more information.\n",
                         options.error.c_str());
            return 2;
        case SerialoscOptions::Action::run:
            break;
    }
    SerialoscApp app(options);
    return app.run();
}

SerialoscApp::SerialoscApp(SerialoscOptions options)
    : options_(std::move(options)), loop_(clock_) {}

SerialoscApp::~SerialoscApp() {
    retryTimer_.reset();
    if (gridListener_) gridListener_->stopListening();
    if (veltoListener_) veltoListener_->stopListening();
}

int SerialoscApp::run() {
    // Taken over first, so that a signal at any moment after start is a clean quit.
    loop_.handleSignals({SIGINT, SIGTERM, SIGHUP}, [this](int) { loop_.stop(); });

    gridRoute_ = std::make_shared<Route>([this](ByteView data) { receiveFromGrid(data); });
    veltoRoute_ = std::make_shared<Route>([this](ByteView data) { receiveFromVelto(data); });
    // A port that can't be bound has been logged ("bind: ...") by the listener.
    gridListener_ = HJOSCListener::defaultListenerOnPort(options_.listenPort);
    if (gridListener_->localPort() == 0) {
        std::fprintf(stderr, "velto-serialosc: cannot listen on UDP port %d for the grid\n",
                     options_.listenPort);
        return 1;
    }
    gridListener_->setDelegate(gridRoute_);
    veltoListener_ = HJOSCListener::defaultListenerOnPort(options_.monomeSendPort);
    if (veltoListener_->localPort() == 0) {
        std::fprintf(stderr,
                     "velto-serialosc: cannot listen on UDP port %d (Velto's monomeSendPort); "
                     "is another grid program running?\n",
                     options_.monomeSendPort);
        return 1;
    }
    veltoListener_->setDelegate(veltoRoute_);

    serialoscSender_ =
        HJOSCSender::senderWithDestinationHostName(SerialoscBridge::kHost, options_.serialoscPort);
    veltoSender_ = HJOSCSender::senderWithDestinationHostName(SerialoscBridge::kHost,
                                                              options_.monomeListenPort);
    if (!serialoscSender_ || !veltoSender_) {
        std::fprintf(stderr, "velto-serialosc: cannot make a UDP socket to send with\n");
        return 1;
    }

    const std::int32_t listenPort = gridListener_->localPort();
    bridge_ = std::make_unique<SerialoscBridge>(SerialoscBridge::Config{listenPort, options_.device});
    say("velto-serialosc ready: listening on port " + std::to_string(listenPort) +
        " for serialosc (port " + std::to_string(options_.serialoscPort) +
        ") and the grid; Velto's lights on port " + std::to_string(options_.monomeSendPort) +
        ", presses to port " + std::to_string(options_.monomeListenPort));
    deliver(bridge_->start());
    retryTimer_ = loop_.scheduleTimer(kRetryInterval, true, [this] { deliver(bridge_->tick()); });

    loop_.run();
    return 0;
}

void SerialoscApp::receiveFromGrid(ByteView data) {
    if (const auto packet = HJOSCDecoder::decodeData(data)) deliver(bridge_->processGridPacket(*packet));
}

void SerialoscApp::receiveFromVelto(ByteView data) {
    if (const auto packet = HJOSCDecoder::decodeData(data)) deliver(bridge_->processVeltoPacket(*packet));
}

void SerialoscApp::deliver(SerialoscBridge::Output output) {
    for (const std::string& notice : output.notices) say(notice);
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
                deviceSender_ = HJOSCSender::senderWithDestinationHostName(SerialoscBridge::kHost,
                                                                           outgoing.devicePort);
            }
            return deviceSender_.get();
    }
    return nullptr;
}

void SerialoscApp::say(const std::string& line) {
    std::fputs((line + '\n').c_str(), stdout);
    std::fflush(stdout);  // whoever reads us sees each notice as it happens
}

}  // namespace velto::tools

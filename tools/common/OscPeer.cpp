#include "OscPeer.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <utility>

#include "Status.h"
#include "common/osc/HJOSCAddress.h"
#include "common/osc/HJOSCBundle.h"
#include "common/osc/HJOSCDecoder.h"
#include "common/osc/HJOSCListener.h"
#include "common/osc/HJOSCMessage.h"
#include "common/osc/HJOSCSender.h"
#include "platform/Log.h"
#include "platform/Udp.h"

namespace velto::tools {

namespace {

// The listener only logs a bind failure and stays deaf; trying the port first
// gives the user the reason in our own words. The probe is released at once,
// so the listener can take the port right after.
Status probePort(std::int32_t port) {
    int error = 0;
    UdpSocket probe = UdpSocket::open(error);
    if (!probe.isValid())
        return Status::failure(std::string("cannot make a UDP socket: ") + std::strerror(error));
    if (const int bindError = probe.bindAny(static_cast<std::uint16_t>(port)); bindError != 0) {
        return Status::failure("cannot listen on UDP port " + std::to_string(port) + ": " +
                               std::strerror(bindError));
    }
    return Status::success();
}

std::string formatNumber(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", value);
    return text;
}

}  // namespace

OscPeer::OscPeer(std::int32_t sendPort, MessageHandler onMessage)
    : sendPort_(sendPort), onMessage_(std::move(onMessage)) {}

OscPeer::~OscPeer() {
    if (listener_) listener_->stopListening();
}

std::shared_ptr<OscPeer> OscPeer::open(RunLoop& loop, std::int32_t listenPort,
                                       std::int32_t sendPort, MessageHandler onMessage,
                                       std::string& error) {
    if (const Status free = probePort(listenPort); !free.ok()) {
        error = free.error();
        return nullptr;
    }
    std::shared_ptr<OscPeer> peer(new OscPeer(sendPort, std::move(onMessage)));
    peer->sender_ = HJOSCSender::senderWithDestinationHostName(loop, kHost, sendPort);
    if (!peer->sender_) {
        error = "cannot make a UDP socket to send to port " + std::to_string(sendPort);
        return nullptr;
    }
    peer->listener_ = HJOSCListener::defaultListenerOnPort(loop, listenPort);
    peer->listener_->setDelegate(peer->weak_from_this());
    // Someone may have taken the port between the probe and now.
    if (peer->listener_->localPort() == 0) {
        error = "cannot listen on UDP port " + std::to_string(listenPort) + " (see the line above)";
        return nullptr;
    }
    return peer;
}

std::uint16_t OscPeer::listenPort() const { return listener_->localPort(); }

void OscPeer::send(std::string_view address, std::vector<HJOSCArgument> arguments) {
    HJOSCMessage message(address);
    if (!arguments.empty()) message.attachArguments(std::move(arguments));
    sender_->addOSCMessage(std::move(message));
}

void OscPeer::dispatchRawPacket(ByteView data) {
    if (const auto packet = HJOSCDecoder::decodeData(data)) deliver(*packet);
}

void OscPeer::deliver(const HJOSCPacket& top) {
    for (const HJOSCMessage& message : HJOSCBundle::messagesOf(top)) onMessage_(message);
}

std::optional<double> OscPeer::numberValue(const HJOSCArgument& argument) {
    switch (argument.type()) {
        case 'i':
            return argument.intValue();
        case 'f':
            return argument.floatValue();
        default:
            return std::nullopt;
    }
}

std::string OscPeer::describe(std::string_view address,
                              const std::vector<HJOSCArgument>& arguments) {
    // Received text is shown escaped: one message, one line, no terminal escapes.
    std::string text = escapeText(address);
    for (const HJOSCArgument& argument : arguments) {
        text += ' ';
        switch (argument.type()) {
            case 'i':
                text += std::to_string(argument.intValue());
                break;
            case 'f':
                text += formatNumber(argument.floatValue());
                break;
            case 's':
                text += '"' + escapeText(argument.stringValue()) + '"';
                break;
            case 'b':
                text += "<blob>";
                break;
            default:
                text += '?';
                break;
        }
    }
    return text;
}

}  // namespace velto::tools

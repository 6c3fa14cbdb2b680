#include "common/osc/HJOSCSender.h"

#include <algorithm>
#include <string>
#include <system_error>
#include <utility>

#include "common/osc/HJOSCBundle.h"
#include "common/osc/HJOSCMessage.h"
#include "common/osc/HJOSCPacket.h"
#include "common/osc/HJOSCTrafficLog.h"
#include "platform/Log.h"
#include "platform/RunLoop.h"

namespace velto {

namespace {

bool isAscii(const std::string& text) {
    return std::all_of(text.begin(), text.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

}  // namespace

std::unique_ptr<HJOSCSender> HJOSCSender::senderWithDestinationHostName(RunLoop& loop,
                                                                        const std::string& host,
                                                                        std::int32_t port) {
    std::unique_ptr<HJOSCSender> sender(new HJOSCSender(loop, host, port));
    if (!sender->prepareSocket()) {
        return nullptr;
    }
    return sender;
}

HJOSCSender::HJOSCSender(RunLoop& loop, std::string host, std::int32_t port)
    : loop_(loop),
      scheduleOrigin_(loop.clock().now()),
      destinationHostName_(std::move(host)),
      portNumber_(port) {}

HJOSCSender::~HJOSCSender() {
    // Dropped by its owner: what is pending still goes out, and nothing lingers.
    sendMainBundle();
    timer_.reset();
    socket_.close();
}

bool HJOSCSender::prepareSocket() {
    int error = 0;
    socket_ = UdpSocket::open(error);
    if (!socket_.isValid()) {
        Log::systemError("socket", error);
        return false;
    }
    if (destinationHostName_.empty() || !isAscii(destinationHostName_)) {
        return false;
    }
    const auto address = resolveIPv4(destinationHostName_);
    if (!address) {
        return false;
    }
    // Only the low 16 bits of the port count: 70000 gives 4464, -1 gives 65535.
    destinationAddress_ = Ipv4Endpoint{*address, static_cast<std::uint16_t>(portNumber_)};
    return true;
}

bool HJOSCSender::sendOSCPacket(const HJOSCPacket& packet) {
    encodeBuffer_.clear();
    if (!packet.appendPacketizedData(encodeBuffer_)) {
        return false;
    }
    return sendEncoded(encodeBuffer_, packet);
}

void HJOSCSender::addOSCMessage(HJOSCMessage message) {
    if (!mainBundle_) {
        mainBundle_ = HJOSCBundle::bundleWithTimestamp(loop_.clock().date());
        pendingSize_ = HJOSCBundle::kHeadSize;
        armFlush();
    }
    pendingSize_ += HJOSCBundle::kElementSizeField + message.encodedSize();
    mainBundle_->attachObject(std::move(message));
    if (pendingSize_ > kMaxPendingSize) {
        sendMainBundle();
    }
}

void HJOSCSender::sendMainBundle() {
    if (timer_) {
        timer_->invalidate();
    }
    const auto bundle = std::exchange(mainBundle_, nullptr);
    pendingSize_ = 0;
    if (!bundle) {
        return;
    }
    encodeBuffer_.clear();
    if (!bundle->appendPacketizedData(encodeBuffer_)) {
        return;
    }
    if (encodeBuffer_.size() <= kMaxBundleSize) {
        sendEncoded(encodeBuffer_, *bundle);
    } else {
        sendSplit(*bundle);
    }
}

void HJOSCSender::armFlush() {
    // The first slot of the schedule strictly after the loop last served its
    // timers: one that went by while the loop was busy is due at once.
    const Duration elapsed = loop_.timersCheckedAt() - scheduleOrigin_;
    const auto slot = std::max<Duration::rep>(elapsed / kFlushInterval + 1, 1);
    const Instant due = scheduleOrigin_ + slot * kFlushInterval;
    timer_ = loop_.scheduleTimerAt(due, kFlushInterval, false, [this] { sendMainBundle(); });
}

void HJOSCSender::sendSplit(const HJOSCBundle& bundle) {
    for (const HJOSCBundle& part :
         HJOSCBundle::pack(bundle.messages(), bundle.timeStamp(), kMaxBundleSize)) {
        sendOSCPacket(part);
    }
}

bool HJOSCSender::sendEncoded(ByteView datagram, const HJOSCPacket& packet) {
    if (Log::isVerbose()) {
        HJOSCTrafficLog::logSent(destinationAddress_.port, packet);
    }
    const int error = socket_.sendTo(datagram, destinationAddress_);
    if (error != 0) {
        noteRefusal(datagram.size(), error);
    }
    return error == 0;
}

void HJOSCSender::noteRefusal(std::size_t size, int error) {
    ++refusedDatagrams_;
    // A system out of buffer space refuses a flood datagram by datagram: one
    // line a second says it, with the count so far.
    const Instant now = loop_.clock().now();
    if (nextRefusalLog_ && now < *nextRefusalLog_) {
        return;
    }
    nextRefusalLog_ = now + std::chrono::seconds(1);
    Log::message("dropped a datagram of " + std::to_string(size) + " bytes for port " +
                 std::to_string(destinationAddress_.port) + ": " +
                 std::generic_category().message(error) + " (" + std::to_string(refusedDatagrams_) +
                 " so far)");
}

}  // namespace velto

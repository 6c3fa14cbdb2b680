#include "common/osc/HJOSCListener.h"

#include <mutex>
#include <new>
#include <string>
#include <utility>

#include "common/osc/HJOSCDispatcher.h"
#include "common/osc/HJOSCListenerDelegate.h"
#include "platform/Log.h"
#include "platform/RunLoop.h"

namespace velto {

namespace {

constexpr Duration kDropReportInterval = std::chrono::seconds(1);

}  // namespace

// What the receive thread and the calls it posts share with the listener. It
// outlives the listener for as long as posted calls still hold it.
struct HJOSCListener::HandOff {
    mutable std::mutex delegateMutex;
    std::weak_ptr<HJOSCListenerDelegate> delegate;  // guarded by delegateMutex

    std::atomic<std::size_t> waiting{0};
    std::atomic<std::size_t> waitingBytes{0};
    std::atomic<std::uint64_t> dropped{0};
    std::atomic<std::uint64_t> unreportedDrops{0};
    std::atomic<std::uint64_t> unreportedFailures{0};
    std::atomic<bool> reportPosted{false};

    // Main thread only; cleared when the listener ends.
    HJOSCListener* owner = nullptr;

    std::weak_ptr<HJOSCListenerDelegate> currentDelegate() const {
        const std::lock_guard lock(delegateMutex);
        return delegate;
    }

    // On the receive thread.
    void receive(RunLoop& loop, ByteView datagram, const std::shared_ptr<HandOff>& self) {
        std::weak_ptr<HJOSCListenerDelegate> target = currentDelegate();
        if (target.expired()) {
            return;  // nobody to hand it to
        }
        // Only this thread adds to the waiting counts, so the tests and the
        // increments cannot let more than the bounds through.
        if (waiting.load() >= kMaxWaitingDatagrams ||
            waitingBytes.load() + datagram.size() > kMaxWaitingBytes) {
            drop(loop, unreportedDrops, self);
            return;
        }
        waiting.fetch_add(1);
        waitingBytes.fetch_add(datagram.size());
        try {
            loop.post([self, target = std::move(target),
                       bytes = Bytes(datagram.begin(), datagram.end())] {
                self->waiting.fetch_sub(1);
                self->waitingBytes.fetch_sub(bytes.size());
                if (const auto delegate = target.lock()) {
                    delegate->dispatchRawPacket(bytes);
                }
            });
        } catch (const std::bad_alloc&) {
            waiting.fetch_sub(1);
            waitingBytes.fetch_sub(datagram.size());
            drop(loop, unreportedFailures, self);
        }
    }

    // Counts a dropped datagram and asks the main thread to report it.
    void drop(RunLoop& loop, std::atomic<std::uint64_t>& unreported,
              const std::shared_ptr<HandOff>& self) {
        dropped.fetch_add(1);
        unreported.fetch_add(1);
        if (reportPosted.exchange(true)) {
            return;
        }
        try {
            loop.post([self] {
                self->reportPosted.store(false);
                if (self->owner != nullptr) {
                    self->owner->reportDrops();
                }
            });
        } catch (const std::bad_alloc&) {
            reportPosted.store(false);  // the next drop asks again
        }
    }
};

std::unique_ptr<HJOSCListener> HJOSCListener::defaultListenerOnPort(RunLoop& loop,
                                                                    std::int32_t port) {
    auto listener = std::make_unique<HJOSCListener>(loop);
    listener->stockDispatcher_ = std::make_shared<HJOSCDispatcher>();
    listener->setDelegate(listener->stockDispatcher_);
    listener->startListeningOnPort(port);
    return listener;
}

HJOSCListener::HJOSCListener(RunLoop& loop) : handOff_(std::make_shared<HandOff>()), loop_(loop) {
    handOff_->owner = this;
}

HJOSCListener::~HJOSCListener() {
    if (socketDescriptor_.load() > 0) {
        stopListening();
    }
    receiver_.reset();
    handOff_->owner = nullptr;
}

void HJOSCListener::startListeningOnPort(std::int32_t port) {
    if (socketDescriptor_.load() > 0) {
        stopListening();
    }
    localPort_ = 0;
    startError_.clear();
    const auto fail = [this](const std::string& what, int error) {
        startError_ = Log::systemError(what, error);
    };

    int error = 0;
    socket_ = UdpSocket::open(error);
    if (!socket_.isValid()) {
        socketDescriptor_.store(-1);
        fail("socket", error);
        return;
    }
    socketDescriptor_.store(socket_.descriptor());

    // Only the low 16 bits of the port count.
    if (const int bindError = socket_.bindAny(static_cast<std::uint16_t>(port)); bindError != 0) {
        fail("bind " + std::to_string(static_cast<std::uint16_t>(port)), bindError);
        return;
    }
    localPort_ = socket_.localPort();

    RunLoop& loop = loop_;
    receiver_ = std::make_unique<DatagramReceiver>(
        socket_,
        [handOff = handOff_, &loop](ByteView datagram) {
            handOff->receive(loop, datagram, handOff);
        },
        [handOff = handOff_, &loop](const std::string&) {
            // Only a failed copy or post throws: the datagram is lost for want of memory.
            handOff->drop(loop, handOff->unreportedFailures, handOff);
        });
}

void HJOSCListener::stopListening() {
    // The receiver must stop reading before the descriptor is closed, or a new
    // socket could get the same number while the old thread still reads it.
    if (receiver_) {
        receiver_->stop();
        receiver_.reset();
    }
    socket_.close();
    socketDescriptor_.store(-1);
}

std::shared_ptr<HJOSCListenerDelegate> HJOSCListener::delegate() const {
    return handOff_->currentDelegate().lock();
}

void HJOSCListener::setDelegate(std::weak_ptr<HJOSCListenerDelegate> delegate) {
    const std::lock_guard lock(handOff_->delegateMutex);
    handOff_->delegate = std::move(delegate);
}

bool HJOSCListener::isListening() const { return receiver_ && receiver_->isRunning(); }

std::size_t HJOSCListener::waitingDatagramCount() const { return handOff_->waiting.load(); }

std::uint64_t HJOSCListener::droppedDatagramCount() const { return handOff_->dropped.load(); }

void HJOSCListener::reportDrops() {
    if (!Log::isVerbose()) {
        handOff_->unreportedDrops.store(0);
        if (handOff_->unreportedFailures.load() == 0) {
            return;
        }
    }
    const Instant now = loop_.clock().now();
    if (hasReported_ && now < nextReportAllowed_) {
        // Too soon after the last report: say it when the second is up.
        if (!reportTimer_ || !reportTimer_->isValid()) {
            reportTimer_ = loop_.scheduleTimerAt(nextReportAllowed_, kDropReportInterval, false,
                                                 [this] { reportDrops(); });
        }
        return;
    }
    const std::uint64_t count = handOff_->unreportedDrops.exchange(0);
    const std::uint64_t failures = handOff_->unreportedFailures.exchange(0);
    if (count == 0 && failures == 0) {
        return;
    }
    hasReported_ = true;
    nextReportAllowed_ = now + kDropReportInterval;
    const auto report = [this](std::uint64_t dropped, const char* reason) {
        if (dropped != 0) {
            Log::message("dropped " + std::to_string(dropped) + " datagrams on port " +
                         std::to_string(localPort_) + ": " + reason);
        }
    };
    report(count, "too many waiting");
    report(failures, "out of memory");
}

}  // namespace velto

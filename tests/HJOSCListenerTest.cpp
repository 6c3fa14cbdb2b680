// The listener over real loopback UDP: datagrams are received on its thread
// and reach the delegate only when the test runs the main loop.

#include <fcntl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "common/osc/HJOSCAddress.h"
#include "common/osc/HJOSCArgument.h"
#include "common/osc/HJOSCListener.h"
#include "common/osc/HJOSCListenerDelegate.h"
#include "common/osc/HJOSCMessage.h"
#include "platform/Clock.h"
#include "platform/Log.h"
#include "platform/RunLoop.h"
#include "support/UdpTestPeer.h"

namespace velto {
namespace {

using namespace std::chrono_literals;
using test::runLoopUntil;
using test::UdpTestPeer;
using test::waitUntil;

class RecordingDelegate final : public HJOSCListenerDelegate {
public:
    void dispatchRawPacket(ByteView data) override {
        EXPECT_EQ(std::this_thread::get_id(), mainThread) << "delivered off the main thread";
        datagrams.emplace_back(data.begin(), data.end());
    }
    const std::thread::id mainThread = std::this_thread::get_id();
    std::vector<Bytes> datagrams;
};

Bytes indexDatagram(std::uint32_t index) {
    return {std::uint8_t(index >> 24), std::uint8_t(index >> 16), std::uint8_t(index >> 8),
            std::uint8_t(index)};
}

class HJOSCListenerTest : public ::testing::Test {
protected:
    ~HJOSCListenerTest() override { Log::setVerbose(false); }

    // A listener on a port the system picks, delivering to `recorder`.
    std::unique_ptr<HJOSCListener> recordingListener() {
        auto listener = HJOSCListener::defaultListenerOnPort(loop, 0);
        listener->setDelegate(recorder);
        return listener;
    }

    bool send(const HJOSCListener& listener, ByteView datagram) {
        return peer.sendTo(listener.localPort(), datagram);
    }

    bool deliver(std::size_t count) {
        return runLoopUntil(loop, [&] { return recorder->datagrams.size() >= count; });
    }

    // Waits, without running the loop, until the receive thread has taken
    // `count` datagrams (waiting for the main thread or dropped).
    static bool received(const HJOSCListener& listener, std::uint64_t count) {
        return waitUntil([&] {
            return listener.waitingDatagramCount() + listener.droppedDatagramCount() >= count;
        });
    }

    ManualClock clock;
    RunLoop loop{clock};
    UdpTestPeer peer;
    std::shared_ptr<RecordingDelegate> recorder = std::make_shared<RecordingDelegate>();
};

TEST_F(HJOSCListenerTest, DeliversEachDatagramWithItsExactBytesInOrderOnlyWhenTheMainLoopRuns) {
    const auto listener = recordingListener();
    std::vector<Bytes> sent;
    bool largestRefused = false;
    for (const std::size_t size : {0U, 1U, 3U, 1000U, 65506U}) {  // zero-length ones too
        Bytes datagram(size);
        for (std::size_t i = 0; i < size; ++i)
            datagram[i] = static_cast<std::uint8_t>(i * 7 + size);
        const int error = peer.socket().sendTo(datagram, {test::kLoopback, listener->localPort()});
        if (size == 65506U && error == EMSGSIZE) {
            largestRefused =
                true;  // a system that caps datagrams (macOS without a larger send buffer)
            continue;
        }
        ASSERT_EQ(error, 0);
        sent.push_back(datagram);
    }
    ASSERT_TRUE(received(*listener, sent.size()));
    EXPECT_TRUE(recorder->datagrams.empty());
    ASSERT_TRUE(deliver(sent.size()));
    EXPECT_EQ(recorder->datagrams, sent);
    EXPECT_EQ(listener->waitingDatagramCount(), 0U);
    if (largestRefused) GTEST_SKIP() << "this system refuses to send a datagram of 65506 bytes";
}

TEST_F(HJOSCListenerTest, ListenerOnATakenPortLogsBindAndDeliversNothing) {
    std::unique_ptr<HJOSCListener> listener;
    {
        const Log::Capture capture;
        listener = HJOSCListener::defaultListenerOnPort(loop, peer.port());
        EXPECT_EQ(capture.lines(), std::vector<std::string>{"bind " + std::to_string(peer.port()) +
                                                            ": Address already in use"});
    }
    ASSERT_NE(listener, nullptr);
    const int descriptor = listener->socketDescriptor();
    EXPECT_GT(descriptor, 0) << "the socket stays open until stopListening";
    listener->setDelegate(recorder);
    UdpTestPeer other;
    ASSERT_TRUE(other.sendTo(peer.port(), indexDatagram(1)));
    ASSERT_TRUE(peer.receive().has_value());  // the holder of the port gets it
    loop.runUntilIdle();
    EXPECT_TRUE(recorder->datagrams.empty());

    listener->stopListening();
    EXPECT_EQ(::fcntl(descriptor, F_GETFD), -1) << "the socket was not closed";
}

TEST_F(HJOSCListenerTest, PortCanBeBoundAgainAtOnceAndOnlyItsLowSixteenBitsCount) {
    for (const char* release : {"stopListening", "stopListening twice", "destroy"}) {
        SCOPED_TRACE(release);
        auto first = recordingListener();
        const std::uint16_t port = first->localPort();
        if (release == std::string("destroy")) {
            first.reset();
        } else {
            first->stopListening();
            if (release != std::string("stopListening")) first->stopListening();
            EXPECT_EQ(first->socketDescriptor(), -1);
        }
        const Log::Capture capture;
        const auto second = HJOSCListener::defaultListenerOnPort(loop, port + 65536);
        EXPECT_TRUE(capture.lines().empty());
        EXPECT_EQ(second->localPort(), port);
        auto next = std::make_shared<RecordingDelegate>();
        second->setDelegate(next);
        ASSERT_TRUE(peer.sendTo(port, indexDatagram(2)));
        ASSERT_TRUE(runLoopUntil(loop, [&] { return !next->datagrams.empty(); }));
        EXPECT_TRUE(recorder->datagrams.empty()) << "the stopped listener still received";
    }
}

TEST_F(HJOSCListenerTest, DatagramArrivingBeforeSetDelegateGoesToTheStockDispatcher) {
    const auto listener = HJOSCListener::defaultListenerOnPort(loop, 0);
    auto early = HJOSCMessage::messageWithHJOSCAddress(HJOSCAddress::addressWithString("/early"));
    early->attachArgument(HJOSCArgument::withInt(1));
    ASSERT_TRUE(send(*listener, early->packetizedData().value()));
    ASSERT_TRUE(received(*listener, 1));

    listener->setDelegate(recorder);  // the owner takes over; the early call is queued already
    const Log::Capture capture;
    ASSERT_TRUE(runLoopUntil(loop, [&] { return listener->waitingDatagramCount() == 0; }));
    EXPECT_EQ(capture.lines(),
              std::vector<std::string>{"DISPATCH: " + early->stringRepresentation()});
    EXPECT_TRUE(recorder->datagrams.empty());
}

TEST_F(HJOSCListenerTest, DelegateOrListenerGoneBeforeTheCallRunsIsHarmless) {
    const auto listener = recordingListener();
    ASSERT_TRUE(send(*listener, indexDatagram(1)));
    ASSERT_TRUE(received(*listener, 1));
    recorder.reset();
    ASSERT_TRUE(runLoopUntil(loop, [&] { return listener->waitingDatagramCount() == 0; }));

    auto stock = HJOSCListener::defaultListenerOnPort(loop, 0);  // owns the stock dispatcher
    ASSERT_TRUE(send(*stock, indexDatagram(3)));
    ASSERT_TRUE(received(*stock, 1));
    stock.reset();
    const Log::Capture capture;
    loop.runUntilIdle();
    EXPECT_TRUE(capture.lines().empty()) << "the dispatcher went with its listener";
}

// Sends `count` numbered datagrams, a batch at a time so that the socket
// buffer never overflows, and waits until the receive thread has taken each.
void flood(UdpTestPeer& peer, HJOSCListener& listener, std::uint32_t first, std::uint32_t count) {
    const std::uint64_t before = listener.waitingDatagramCount() + listener.droppedDatagramCount();
    for (std::uint32_t sent = 0; sent < count;) {
        for (const std::uint32_t end = std::min(sent + 64, count); sent < end; ++sent) {
            ASSERT_TRUE(peer.sendTo(listener.localPort(), indexDatagram(first + sent)));
        }
        ASSERT_TRUE(waitUntil([&] {
            return listener.waitingDatagramCount() + listener.droppedDatagramCount() >=
                   before + sent;
        }));
    }
}

TEST_F(HJOSCListenerTest,
       HandOffIsBoundedAndDropsAreCountedAndReportedOnlyWhenVerboseAtMostOnceASecond) {
    constexpr std::uint32_t kBound = HJOSCListener::kMaxWaitingDatagrams;
    const auto listener = recordingListener();
    const auto report = [&](int dropped) {
        return "dropped " + std::to_string(dropped) + " datagrams on port " +
               std::to_string(listener->localPort()) + ": too many waiting";
    };
    const Log::Capture capture;
    std::uint32_t next = 0;
    // Floods of the bound and `extra` more; each is delivered in full before the next.
    const auto floodAndDeliver = [&](std::uint32_t extra) {
        const std::size_t before = recorder->datagrams.size();
        ASSERT_NO_FATAL_FAILURE(flood(peer, *listener, next, kBound + extra));
        EXPECT_EQ(listener->waitingDatagramCount(), kBound);
        ASSERT_TRUE(deliver(before + kBound));
        loop.runUntilIdle();
        EXPECT_EQ(recorder->datagrams.size(), before + kBound) << "the drops reached the delegate";
        EXPECT_EQ(recorder->datagrams[before], indexDatagram(next));
        EXPECT_EQ(recorder->datagrams.back(), indexDatagram(next + kBound - 1));
        next += kBound + extra;
    };

    ASSERT_NO_FATAL_FAILURE(floodAndDeliver(3));
    EXPECT_EQ(listener->droppedDatagramCount(), 3U);
    EXPECT_TRUE(capture.lines().empty()) << "reported outside verbose mode";

    Log::setVerbose(true);
    ASSERT_NO_FATAL_FAILURE(floodAndDeliver(10));
    EXPECT_EQ(capture.lines(), std::vector<std::string>{report(10)});

    ASSERT_NO_FATAL_FAILURE(floodAndDeliver(5));  // within the same second: reported once it is up
    EXPECT_EQ(listener->droppedDatagramCount(), 18U);
    clock.advance(999ms);
    loop.runUntilIdle();
    EXPECT_EQ(capture.lines().size(), 1U);
    clock.advance(1ms);
    loop.runUntilIdle();
    EXPECT_EQ(capture.lines(), (std::vector<std::string>{report(10), report(5)}));

    // Bounded by bytes too: 17 datagrams of 60000 bytes fit in 1 MiB, an 18th does not.
    for (std::uint64_t sent = 1; sent <= 18; ++sent) {
        ASSERT_TRUE(send(*listener, Bytes(60000, 0x42)));
        ASSERT_TRUE(received(*listener, 18 + sent));
    }
    EXPECT_EQ(listener->waitingDatagramCount(), 17U);
    EXPECT_EQ(listener->droppedDatagramCount(), 19U);
}

}  // namespace
}  // namespace velto

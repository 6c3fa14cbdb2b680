// The listener over real loopback UDP: datagrams are received on its thread
// and reach the delegate only when the test runs the main loop.

#include "common/osc/HJOSCListener.h"

#include <fcntl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "common/osc/HJOSCAddress.h"
#include "common/osc/HJOSCArgument.h"
#include "common/osc/HJOSCDispatcher.h"
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
        datagrams.emplace_back(data.begin(), data.end());
        threads.push_back(std::this_thread::get_id());
    }
    std::vector<Bytes> datagrams;
    std::vector<std::thread::id> threads;
};

Bytes indexDatagram(std::uint32_t index) {
    return {static_cast<std::uint8_t>(index >> 24), static_cast<std::uint8_t>(index >> 16),
            static_cast<std::uint8_t>(index >> 8), static_cast<std::uint8_t>(index)};
}

class HJOSCListenerTest : public ::testing::Test {
protected:
    ~HJOSCListenerTest() override { Log::setVerbose(false); }

    // A listener on a port the system picks, delivering to `recorder`.
    std::unique_ptr<HJOSCListener> recordingListener() {
        auto listener = HJOSCListener::defaultListenerOnPort(0);
        listener->setDelegate(recorder);
        return listener;
    }

    bool send(const HJOSCListener& listener, ByteView datagram) {
        return peer.sendTo(listener.localPort(), datagram);
    }

    bool deliver(std::size_t count) {
        return runLoopUntil(loop, [&] { return recorder->datagrams.size() >= count; });
    }

    // Waits until the receive thread has taken `count` datagrams in all (each
    // waiting for the main thread, with its delegate chosen, or dropped),
    // without running the loop. The call of the last one may still be on its
    // way into the loop's queue.
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

TEST_F(HJOSCListenerTest, DeliversEachDatagramWithItsExactBytesInOrderOnTheMainThread) {
    const auto listener = recordingListener();
    ASSERT_GT(listener->socketDescriptor(), 0);
    ASSERT_NE(listener->localPort(), 0);

    std::vector<Bytes> sent;
    for (const std::size_t size : {1U, 3U, 4U, 1000U, 65506U}) {
        Bytes datagram(size);
        for (std::size_t i = 0; i < size; ++i) datagram[i] = static_cast<std::uint8_t>(i * 7 + size);
        ASSERT_TRUE(send(*listener, datagram));
        sent.push_back(datagram);
    }
    ASSERT_TRUE(deliver(sent.size()));
    EXPECT_EQ(recorder->datagrams, sent);
    for (const auto& thread : recorder->threads) EXPECT_EQ(thread, std::this_thread::get_id());
}

TEST_F(HJOSCListenerTest, ZeroLengthDatagramReachesTheDelegateAsAnEmptyBuffer) {
    const auto listener = recordingListener();
    ASSERT_TRUE(send(*listener, Bytes{}));
    ASSERT_TRUE(deliver(1));
    EXPECT_TRUE(recorder->datagrams.front().empty());
}

TEST_F(HJOSCListenerTest, NothingReachesTheDelegateUntilTheMainLoopRuns) {
    const auto listener = recordingListener();
    ASSERT_TRUE(send(*listener, indexDatagram(1)));
    ASSERT_TRUE(received(*listener, 1));
    EXPECT_TRUE(recorder->datagrams.empty());
    ASSERT_TRUE(deliver(1));
    EXPECT_EQ(listener->waitingDatagramCount(), 0U);
}

TEST_F(HJOSCListenerTest, OnlyTheLowSixteenBitsOfThePortCount) {
    const std::uint16_t port = test::freePort();
    const auto listener = HJOSCListener::defaultListenerOnPort(port + 65536);
    listener->setDelegate(recorder);
    EXPECT_EQ(listener->localPort(), port);
    ASSERT_TRUE(peer.sendTo(port, indexDatagram(5)));
    ASSERT_TRUE(deliver(1));
}

TEST_F(HJOSCListenerTest, ListenerOnATakenPortLogsBindAndDeliversNothing) {
    std::unique_ptr<HJOSCListener> listener;
    {
        const Log::Capture capture;
        listener = HJOSCListener::defaultListenerOnPort(peer.port());
        EXPECT_EQ(capture.lines(), std::vector<std::string>{"bind: Address already in use"});
    }
    ASSERT_NE(listener, nullptr);
    const int descriptor = listener->socketDescriptor();
    EXPECT_GT(descriptor, 0) << "the socket stays open until stopListening";
    EXPECT_EQ(listener->localPort(), 0);

    listener->setDelegate(recorder);
    UdpTestPeer other;
    ASSERT_TRUE(other.sendTo(peer.port(), indexDatagram(1)));
    ASSERT_TRUE(peer.receive().has_value());  // the holder of the port gets it
    loop.runUntilIdle();
    EXPECT_TRUE(recorder->datagrams.empty());

    listener->stopListening();
    EXPECT_EQ(listener->socketDescriptor(), -1);
    errno = 0;
    EXPECT_EQ(::fcntl(descriptor, F_GETFD), -1) << "the socket was not closed";
    EXPECT_EQ(errno, EBADF);
}

// How a listener is given up before its port is bound again.
enum class Release { stopListening, stopListeningTwice, destroy };

std::ostream& operator<<(std::ostream& out, Release release) {
    switch (release) {
        case Release::stopListening: return out << "stopListening";
        case Release::stopListeningTwice: return out << "stopListeningTwice";
        case Release::destroy: return out << "destroy";
    }
    return out;
}

class HJOSCListenerReleaseTest : public HJOSCListenerTest, public ::testing::WithParamInterface<Release> {};

TEST_P(HJOSCListenerReleaseTest, PortCanBeBoundAgainAtOnce) {
    auto first = recordingListener();
    const std::uint16_t port = first->localPort();
    switch (GetParam()) {
        case Release::stopListeningTwice:
            first->stopListening();
            [[fallthrough]];
        case Release::stopListening:
            first->stopListening();
            EXPECT_EQ(first->socketDescriptor(), -1);
            break;
        case Release::destroy:
            first.reset();
            break;
    }

    const Log::Capture capture;
    const auto second = HJOSCListener::defaultListenerOnPort(port);
    EXPECT_TRUE(capture.lines().empty());
    EXPECT_EQ(second->localPort(), port);

    auto next = std::make_shared<RecordingDelegate>();
    second->setDelegate(next);
    ASSERT_TRUE(peer.sendTo(port, indexDatagram(2)));
    ASSERT_TRUE(runLoopUntil(loop, [&] { return !next->datagrams.empty(); }));
    EXPECT_TRUE(recorder->datagrams.empty()) << "the stopped listener still received";
}

INSTANTIATE_TEST_SUITE_P(Release, HJOSCListenerReleaseTest,
                         ::testing::Values(Release::stopListening, Release::stopListeningTwice,
                                           Release::destroy),
                         ::testing::PrintToStringParamName());

TEST_F(HJOSCListenerTest, DatagramArrivingBeforeSetDelegateGoesToTheStockDispatcher) {
    const auto listener = HJOSCListener::defaultListenerOnPort(0);
    ASSERT_NE(std::dynamic_pointer_cast<HJOSCDispatcher>(listener->delegate()), nullptr);

    auto early = HJOSCMessage::messageWithHJOSCAddress(HJOSCAddress::addressWithString("/early"));
    early->attachArgument(HJOSCArgument::withInt(1));
    ASSERT_TRUE(send(*listener, early->packetizedData().value()));
    ASSERT_TRUE(received(*listener, 1));

    listener->setDelegate(recorder);  // the owner takes over; the early call is queued already
    EXPECT_EQ(listener->delegate(), recorder);
    {
        const Log::Capture capture;
        ASSERT_TRUE(runLoopUntil(loop, [&] { return listener->waitingDatagramCount() == 0; }));
        EXPECT_EQ(capture.lines(), std::vector<std::string>{"DISPATCH: " + early->stringRepresentation()});
    }
    EXPECT_TRUE(recorder->datagrams.empty());

    const Log::Capture capture;
    ASSERT_TRUE(send(*listener, indexDatagram(2)));
    ASSERT_TRUE(deliver(1));
    EXPECT_TRUE(capture.lines().empty());
}

TEST_F(HJOSCListenerTest, DelegateGoneBeforeItsCallRunsIsSkipped) {
    const auto listener = recordingListener();
    ASSERT_TRUE(send(*listener, indexDatagram(1)));
    ASSERT_TRUE(received(*listener, 1));
    const std::weak_ptr<RecordingDelegate> gone = recorder;
    recorder.reset();
    ASSERT_TRUE(gone.expired());

    ASSERT_TRUE(runLoopUntil(loop, [&] { return listener->waitingDatagramCount() == 0; }));
    EXPECT_EQ(listener->delegate(), nullptr);

    // Reception goes on for the next delegate.
    recorder = std::make_shared<RecordingDelegate>();
    listener->setDelegate(recorder);
    ASSERT_TRUE(send(*listener, indexDatagram(2)));
    ASSERT_TRUE(deliver(1));
    EXPECT_EQ(recorder->datagrams, std::vector<Bytes>{indexDatagram(2)});
}

TEST_F(HJOSCListenerTest, DatagramsWaitingWhenTheListenerEndsDoNoHarm) {
    auto listener = HJOSCListener::defaultListenerOnPort(0);  // the stock dispatcher, owned by it
    ASSERT_TRUE(send(*listener, indexDatagram(1)));
    ASSERT_TRUE(received(*listener, 1));
    listener.reset();

    const Log::Capture capture;
    loop.runUntilIdle();
    EXPECT_TRUE(capture.lines().empty()) << "the dispatcher went with its listener";
}

// Sends `count` numbered datagrams, a batch at a time so that the socket
// buffer never overflows, and waits until the receive thread has taken each.
void flood(UdpTestPeer& peer, HJOSCListener& listener, std::uint32_t first, std::uint32_t count) {
    constexpr std::uint32_t kBatch = 64;
    const std::uint64_t before = listener.waitingDatagramCount() + listener.droppedDatagramCount();
    for (std::uint32_t sent = 0; sent < count;) {
        const std::uint32_t batch = std::min(kBatch, count - sent);
        for (std::uint32_t i = 0; i < batch; ++i) {
            ASSERT_TRUE(peer.sendTo(listener.localPort(), indexDatagram(first + sent + i)));
        }
        sent += batch;
        ASSERT_TRUE(waitUntil([&] {
            return listener.waitingDatagramCount() + listener.droppedDatagramCount() >= before + sent;
        }));
    }
}

TEST_F(HJOSCListenerTest, HandOffIsBoundedAndDropsBeyondItAreCountedAndReported) {
    constexpr std::uint32_t kBound = HJOSCListener::kMaxWaitingDatagrams;
    Log::setVerbose(true);
    const auto listener = recordingListener();
    const std::string port = std::to_string(listener->localPort());

    ASSERT_NO_FATAL_FAILURE(flood(peer, *listener, 0, kBound + 10));
    EXPECT_EQ(listener->waitingDatagramCount(), kBound);
    EXPECT_EQ(listener->droppedDatagramCount(), 10U);
    {
        // The flood ended with drops, so every call it posted is queued.
        const Log::Capture capture;
        loop.runUntilIdle();
        EXPECT_EQ(capture.lines(),
                  std::vector<std::string>{"dropped 10 datagrams on port " + port + ": too many waiting"});
    }
    ASSERT_EQ(recorder->datagrams.size(), kBound);
    EXPECT_EQ(recorder->datagrams.front(), indexDatagram(0));
    EXPECT_EQ(recorder->datagrams.back(), indexDatagram(kBound - 1));
    EXPECT_EQ(listener->waitingDatagramCount(), 0U);

    // Room again; a second flood within the same second is reported once the
    // second is up.
    const Log::Capture capture;
    ASSERT_NO_FATAL_FAILURE(flood(peer, *listener, kBound + 10, kBound + 5));
    ASSERT_TRUE(deliver(2 * kBound));
    loop.runUntilIdle();
    EXPECT_EQ(recorder->datagrams.size(), 2U * kBound);
    EXPECT_EQ(recorder->datagrams.back(), indexDatagram(2 * kBound + 9));
    EXPECT_EQ(listener->droppedDatagramCount(), 15U);
    EXPECT_TRUE(capture.lines().empty());

    clock.advance(999ms);
    loop.runUntilIdle();
    EXPECT_TRUE(capture.lines().empty());
    clock.advance(1ms);
    loop.runUntilIdle();
    EXPECT_EQ(capture.lines(),
              std::vector<std::string>{"dropped 5 datagrams on port " + port + ": too many waiting"});
}

TEST_F(HJOSCListenerTest, DropsAreNotReportedOutsideVerboseMode) {
    const auto listener = recordingListener();
    const Log::Capture capture;
    ASSERT_NO_FATAL_FAILURE(flood(peer, *listener, 0, HJOSCListener::kMaxWaitingDatagrams + 1));
    ASSERT_TRUE(deliver(HJOSCListener::kMaxWaitingDatagrams));
    // Delivered after anything that the drop queued.
    ASSERT_TRUE(send(*listener, indexDatagram(0)));
    ASSERT_TRUE(deliver(HJOSCListener::kMaxWaitingDatagrams + 1));
    EXPECT_EQ(listener->droppedDatagramCount(), 1U);
    EXPECT_TRUE(capture.lines().empty());
}

}  // namespace
}  // namespace velto

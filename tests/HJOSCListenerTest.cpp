// The listener over real loopback UDP: datagrams are received on its thread
// and reach the delegate only when the test runs the main loop.

#include <fcntl.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "common/osc/HJOSCListener.h"
#include "common/osc/HJOSCListenerDelegate.h"
#include "platform/Clock.h"
#include "platform/Log.h"
#include "platform/RunLoop.h"
#include "support/UdpTestPeer.h"

namespace velto {
namespace {

using test::runLoopUntil;
using test::waitUntil;

struct RecordingDelegate final : HJOSCListenerDelegate {
    void dispatchRawPacket(ByteView data) override {
        EXPECT_EQ(std::this_thread::get_id(), mainThread) << "delivered off the main thread";
        datagrams.emplace_back(data.begin(), data.end());
    }
    const std::thread::id mainThread = std::this_thread::get_id();
    std::vector<Bytes> datagrams;
};

Bytes numbered(std::uint32_t n) { return {Bytes::value_type(n >> 8), Bytes::value_type(n)}; }

class HJOSCListenerTest : public ::testing::Test {
protected:
    ~HJOSCListenerTest() override { Log::setVerbose(false); }

    // Sends the datagrams, 64 small ones at a time so that the socket buffer never overflows, and
    // waits (without running the loop) until the receive thread has taken each: to wait, or
    // dropped.
    void sendAll(const std::vector<Bytes>& datagrams) {
        const std::uint64_t before = taken();
        for (std::size_t sent = 0; sent < datagrams.size(); ++sent) {
            ASSERT_TRUE(peer.sendTo(listener->localPort(), datagrams[sent]));
            const bool batchEnds = sent % 64 == 63 || datagrams[sent].size() > 100;
            if (batchEnds || sent + 1 == datagrams.size()) {
                ASSERT_TRUE(waitUntil([&] { return taken() >= before + sent + 1; }));
            }
        }
    }
    std::uint64_t taken() const {
        return listener->waitingDatagramCount() + listener->droppedDatagramCount();
    }
    bool deliver(std::size_t count) {
        return runLoopUntil(loop, [&] { return recorder->datagrams.size() >= count; });
    }

    ManualClock clock;
    RunLoop loop{clock};
    test::UdpTestPeer peer;
    std::shared_ptr<RecordingDelegate> recorder = std::make_shared<RecordingDelegate>();
    std::unique_ptr<HJOSCListener> listener = HJOSCListener::defaultListenerOnPort(loop, 0);
};

TEST_F(HJOSCListenerTest, EarlyDatagramGoesToTheStockDispatcherThenExactBytesInOrder) {
    sendAll({{'/', 'e', 0, 0, ',', 0, 0, 0}});
    listener->setDelegate(recorder);  // the owner takes over; the early call is queued already
    {
        const Log::Capture capture;
        ASSERT_TRUE(runLoopUntil(loop, [&] { return listener->waitingDatagramCount() == 0; }));
        EXPECT_EQ(capture.lines(),
                  std::vector<std::string>{"DISPATCH: MESSAGE:\naddress:/e\n types:,"});
    }
    EXPECT_TRUE(recorder->datagrams.empty());
    std::vector<Bytes> sent;
    for (const std::size_t size : {0U, 1U, 3U, 1000U, 65507U})  // zero-length ones too
        sent.emplace_back(size, static_cast<std::uint8_t>(size));
    // A system that caps datagrams (macOS without a larger send buffer) refuses the largest.
    if (peer.socket().sendTo(sent.back(), {test::kLoopback, 1}) != 0) sent.pop_back();
    sendAll(sent);
    ASSERT_TRUE(deliver(sent.size()));
    if (sent.back().size() == 65507U) sent.back().pop_back();  // cut to the largest received
    EXPECT_EQ(recorder->datagrams, sent);
}

// Bound to every local address, not to 127.0.0.1 alone: on Linux all of 127/8 reaches it.
TEST_F(HJOSCListenerTest, HearsEveryLocalAddress) {
#ifdef __APPLE__
    GTEST_SKIP() << "127.0.0.1 is the only loopback address here unless one adds an alias";
#endif
    listener->setDelegate(recorder);
    if (peer.socket().sendTo(numbered(1), {0x7f000002, listener->localPort()}) != 0)
        GTEST_SKIP() << "127.0.0.2 is not reachable here";
    sendAll({numbered(2)});
    ASSERT_TRUE(deliver(1));
    EXPECT_EQ(recorder->datagrams[0], numbered(1));
}

TEST_F(HJOSCListenerTest, TakenPortIsLoggedAndAFreedPortCanBeBoundAgainAtOnce) {
    const Log::Capture capture;
    const auto taken = HJOSCListener::defaultListenerOnPort(loop, peer.port());
    EXPECT_EQ(capture.lines(), std::vector<std::string>{"bind " + std::to_string(peer.port()) +
                                                        ": Address already in use"});
    const int descriptor = taken->socketDescriptor();
    taken->stopListening();
    taken->stopListening();
    EXPECT_EQ(::fcntl(descriptor, F_GETFD), -1) << "the socket was not closed";

    const std::uint16_t port = listener->localPort();
    listener.reset();
    listener = HJOSCListener::defaultListenerOnPort(loop, port + 65536);  // low 16 bits count
    EXPECT_EQ(listener->localPort(), port);
}

TEST_F(HJOSCListenerTest, GoneDelegateOrListenerIsHarmless) {
    listener->setDelegate(recorder);
    sendAll({numbered(1)});
    recorder.reset();
    ASSERT_TRUE(runLoopUntil(loop, [&] { return listener->waitingDatagramCount() == 0; }));
    listener = HJOSCListener::defaultListenerOnPort(loop, 0);  // owns the stock dispatcher
    sendAll({numbered(3)});
    listener.reset();
    loop.runUntilIdle();
}

// At most 4096 datagrams or 1 MiB wait for the main thread; drops are reported when verbose,
// at most once a second.
TEST_F(HJOSCListenerTest, HandOffIsBoundedAndDropsAreCountedAndReported) {
    listener->setDelegate(recorder);
    const auto report = [&](int dropped) {
        return "dropped " + std::to_string(dropped) + " datagrams on port " +
               std::to_string(listener->localPort()) + ": too many waiting";
    };
    const Log::Capture capture;
    std::uint32_t next = 0;
    const auto floodAndDeliver = [&](std::uint32_t extra) {  // 4096 and `extra` more
        const std::size_t before = recorder->datagrams.size();
        std::vector<Bytes> flood;
        for (std::uint32_t i = 0; i < 4096 + extra; ++i) flood.push_back(numbered(next + i));
        ASSERT_NO_FATAL_FAILURE(sendAll(flood));
        EXPECT_EQ(listener->waitingDatagramCount(), 4096U);
        ASSERT_TRUE(deliver(before + 4096));
        loop.runUntilIdle();
        EXPECT_EQ(
            std::vector<Bytes>(recorder->datagrams.begin() + before, recorder->datagrams.end()),
            std::vector<Bytes>(flood.begin(), flood.begin() + 4096));
        next += 4096 + extra;
    };
    ASSERT_NO_FATAL_FAILURE(floodAndDeliver(3));
    EXPECT_TRUE(capture.lines().empty()) << "reported outside verbose mode";
    Log::setVerbose(true);
    ASSERT_NO_FATAL_FAILURE(floodAndDeliver(10));
    ASSERT_NO_FATAL_FAILURE(floodAndDeliver(5));  // within the same second: reported once it is up
    EXPECT_EQ(listener->droppedDatagramCount(), 18U);
    clock.advance(std::chrono::milliseconds(999));
    loop.runUntilIdle();
    EXPECT_EQ(capture.lines(), std::vector<std::string>{report(10)});
    clock.advance(std::chrono::milliseconds(1));
    loop.runUntilIdle();
    EXPECT_EQ(capture.lines(), (std::vector<std::string>{report(10), report(5)}));
    // Bounded by bytes too: 17 datagrams of 60000 bytes fit in 1 MiB, an 18th does not.
    ASSERT_NO_FATAL_FAILURE(sendAll(std::vector<Bytes>(18, Bytes(60000, 0x42))));
    EXPECT_EQ(listener->waitingDatagramCount(), 17U);
    EXPECT_EQ(listener->droppedDatagramCount(), 19U);
}

}  // namespace
}  // namespace velto

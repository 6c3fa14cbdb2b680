// The sender over real loopback UDP, with the flush ticks driven by a manual
// clock: each test steps the clock to an instant and runs one loop pass.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "common/osc/HJOSCAddress.h"
#include "common/osc/HJOSCArgument.h"
#include "common/osc/HJOSCBundle.h"
#include "common/osc/HJOSCDecoder.h"
#include "common/osc/HJOSCMessage.h"
#include "common/osc/HJOSCSender.h"
#include "platform/Clock.h"
#include "platform/Log.h"
#include "platform/RunLoop.h"
#include "support/UdpTestPeer.h"

namespace velto {
namespace {

using namespace std::chrono_literals;

// A message with an int and, when asked for, a blob of `blobSize` bytes.
HJOSCMessage message(const std::string& address, std::int32_t value, int blobSize = -1) {
    HJOSCMessage message(address);
    message.attachArgument(HJOSCArgument::withInt(value));
    if (blobSize >= 0) message.attachArgument(HJOSCArgument::withDataBlob(Bytes(blobSize, 0xab)));
    return message;
}

// What a bundle carries, as (address, first int argument) in order.
using Summary = std::vector<std::pair<std::string, std::int32_t>>;

struct ReceivedBundle {
    Date timeStamp;
    Summary messages;
    std::size_t size = 0;
};

class HJOSCSenderTest : public ::testing::Test {
protected:
    void runAt(Duration offset, bool run = true) {  // steps the clock to t0 + offset
        ASSERT_GE(t0 + offset, clock.now()) << "the clock only moves forward";
        clock.advance(t0 + offset - clock.now());
        if (run) loop.runOnce();
    }

    ReceivedBundle receiveBundle() {
        const auto datagram = peer.receive().value_or(Bytes{});
        const auto packet = HJOSCDecoder::decodeData(datagram);
        const HJOSCBundle* bundle = packet ? packet->asBundle() : nullptr;
        if (bundle == nullptr) return ADD_FAILURE() << "no bundle arrived", ReceivedBundle{};
        ReceivedBundle received{bundle->timeStamp(), {}, datagram.size()};
        for (const auto& element : bundle->attachedObjects()) {  // the sender bundles messages
            const HJOSCMessage& message = *element->asMessage();
            received.messages.emplace_back(message.address().address(),
                                           message.attachedObjects().front().intValue());
        }
        return received;
    }

    // Proves that nothing was sent so far: a marker sent now on the same socket
    // must be the first datagram that arrives (loopback keeps the order).
    void expectNothingSentYet() {
        ASSERT_TRUE(sender->sendOSCPacket(message("/marker", 0)));
        EXPECT_EQ(peer.receive(), message("/marker", 0).packetizedData()) << "sent before";
    }

    void expectStampedAt(Date stamp, Duration offset) const {  // to a microsecond
        EXPECT_NEAR(stamp.secondsSinceReferenceDate,
                    1000.0 + std::chrono::duration<double>(t0 + offset - start).count(), 1e-6);
    }

    ManualClock clock{Date{1000.0}};
    RunLoop loop{clock};
    test::UdpTestPeer peer;
    const Instant start = clock.now();
    Instant t0 = start;  // the sender's creation
    std::unique_ptr<HJOSCSender> sender =
        HJOSCSender::senderWithDestinationHostName(loop, "127.0.0.1", peer.port());
};

TEST_F(HJOSCSenderTest, BundleLeavesExactlyAtTheNextTickOfTheSendersSchedule) {
    const struct {
        Duration added, leaves;  // from the sender's creation; the loop has run at `added`
    } cases[] = {{0ms, 10ms}, {1ns, 10ms}, {9999us, 10ms}, {10ms, 20ms}, {1234567us, 1240ms}};
    for (const auto& grid : cases) {
        SCOPED_TRACE(::testing::Message() << "added at +" << grid.added.count() << " ns");
        t0 = clock.now();
        sender = HJOSCSender::senderWithDestinationHostName(loop, "127.0.0.1", peer.port());
        runAt(grid.added);
        sender->addOSCMessage(message("/grid", 7));
        runAt(grid.leaves - 1ns, false);
        sender->addOSCMessage(message("/more", 8));
        loop.runOnce();
        expectNothingSentYet();
        runAt(grid.leaves);
        const ReceivedBundle bundle = receiveBundle();  // one bundle, stamped with the first add
        EXPECT_EQ(bundle.messages, (Summary{{"/grid", 7}, {"/more", 8}}));
        expectStampedAt(bundle.timeStamp, grid.added);
    }
    runAt(1h);  // an idle sender sends nothing
    expectNothingSentYet();
}

TEST_F(HJOSCSenderTest, LateTickSendsOnceAndDoesNotShiftTheSchedule) {
    runAt(23ms, false);
    sender->addOSCMessage(message("/late", 1));
    runAt(47ms);  // the loop was busy through the 30 and 40 ms ticks
    EXPECT_EQ(receiveBundle().messages, (Summary{{"/late", 1}}));
    sender->addOSCMessage(message("/ontime", 2));
    runAt(50ms - 1ns);
    expectNothingSentYet();
    runAt(50ms);
    EXPECT_EQ(receiveBundle().messages, (Summary{{"/ontime", 2}}));
    loop.post([&] {
        runAt(62ms, false);  // busy across the 60 ms tick: that slot is served late in this pass
        sender->addOSCMessage(message("/busy", 3));
    });
    loop.runOnce();
    EXPECT_EQ(receiveBundle().messages, (Summary{{"/busy", 3}}));
}

TEST_F(HJOSCSenderTest, HostsThatDoNotResolveGiveNoSenderAndPortsCountSixteenBits) {
    const Log::Capture capture;
    EXPECT_EQ(HJOSCSender::senderWithDestinationHostName(loop, "no-such-host.invalid", 1), nullptr);
    EXPECT_EQ(HJOSCSender::senderWithDestinationHostName(loop, "", 5000), nullptr);
    EXPECT_TRUE(capture.lines().empty());
    const auto wrapped = HJOSCSender::senderWithDestinationHostName(loop, "localhost", -1);
    EXPECT_EQ(wrapped->destinationAddress(), (Ipv4Endpoint{0x7f000001, 65535}));
}

TEST_F(HJOSCSenderTest, RefusedDatagramIsCountedAndLoggedOnceASecondAtMost) {
    const Log::Capture capture;
    EXPECT_FALSE(sender->sendOSCPacket(message("/b", 1, 70000)));
    EXPECT_FALSE(sender->sendOSCPacket(message("/b", 1, 70000)));
    runAt(1s, false);
    EXPECT_FALSE(sender->sendOSCPacket(message("/b", 1, 80000)));
    expectNothingSentYet();
    EXPECT_EQ(sender->refusedDatagramCount(), 3U);
    const std::string port = std::to_string(peer.port());
    EXPECT_EQ(capture.lines(),
              (std::vector<std::string>{"dropped a datagram of 70020 bytes for port " + port +
                                            ": Message too long (1 so far)",
                                        "dropped a datagram of 80020 bytes for port " + port +
                                            ": Message too long (3 so far)"}));
}

// A message with a blob of n bytes (n a multiple of 4) encodes to n + 20 bytes: blobs of 4000
// and 4128 bytes make a bundle of 16 + 4 + 4020 + 4 + 4148 = 8192 bytes.
TEST_F(HJOSCSenderTest, BundleOver8192BytesLeavesInTheSameTickAsPartsInOrder) {
    const struct {
        int second;  // blob bytes of the second message
        std::size_t datagrams;
    } cases[] = {{4128, 1}, {4132, 2}, {12320, 2}};  // 8192 bytes, 8196, too big for any part
    Duration now = 0ms;
    for (const auto& split : cases) {
        SCOPED_TRACE(split.second);
        sender->addOSCMessage(message("/b", 0, 4000));
        sender->addOSCMessage(message("/b", 1, split.second));
        const Duration added = now;
        runAt(now += 10ms);
        Summary received;
        for (std::size_t part = 0; part < split.datagrams; ++part) {
            const ReceivedBundle bundle = receiveBundle();  // all left in this one tick
            EXPECT_TRUE(split.datagrams == 2 || bundle.size == 8192U) << bundle.size;
            expectStampedAt(bundle.timeStamp, added);
            received.insert(received.end(), bundle.messages.begin(), bundle.messages.end());
        }
        EXPECT_EQ(received, (Summary{{"/b", 0}, {"/b", 1}}));
    }
    expectNothingSentYet();
}

TEST_F(HJOSCSenderTest, PendingBundlePast65536BytesLeavesAtOnceInPartsInOrder) {
    // Fifteen messages of 4020 bytes and one of 5156 make, with the bundle's head and the size
    // fields, 65536 bytes: they wait for the tick. With one of 5160 they make 65540 and leave at
    // once. Parts take two messages of 4020 bytes or one alone, to stay within 8192 bytes.
    for (const int lastBlob : {5136, 5140}) {
        SCOPED_TRACE(lastBlob);
        for (std::int32_t i = 0; i < 15; ++i) sender->addOSCMessage(message("/b", i, 4000));
        sender->addOSCMessage(message("/b", 15, lastBlob));
        EXPECT_EQ(sender->mainBundle() == nullptr, lastBlob == 5140);
        runAt(10ms);
        Summary received, expected;
        for (int part = 0; part < 9; ++part) {
            const ReceivedBundle bundle = receiveBundle();
            received.insert(received.end(), bundle.messages.begin(), bundle.messages.end());
        }
        for (std::int32_t i = 0; i < 16; ++i) expected.emplace_back("/b", i);
        EXPECT_EQ(received, expected);
    }
}

TEST_F(HJOSCSenderTest, DroppedSenderSendsItsPendingBundleAtOnceAndStopsTicking) {
    sender->addOSCMessage(message("/last", 9));
    sender.reset();
    EXPECT_EQ(receiveBundle().messages, (Summary{{"/last", 9}}));
    runAt(10ms);  // the flush timer must be gone with its sender
    EXPECT_FALSE(peer.receiveNow().has_value());
}

}  // namespace
}  // namespace velto

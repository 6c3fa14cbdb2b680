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

constexpr double kStartDate = 1000.0;

HJOSCMessage intMessage(const std::string& address, std::int32_t value) {
    HJOSCMessage message(address);
    message.attachArgument(HJOSCArgument::withInt(value));
    return message;
}

HJOSCMessage blobMessage(std::int32_t index, std::size_t blobSize) {
    auto message = intMessage("/b", index);
    message.attachArgument(HJOSCArgument::withDataBlob(Bytes(blobSize, 0xAB)));
    return message;
}

std::size_t encodedSize(const HJOSCPacket& packet) {
    return packet.packetizedData().value().size();
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
    ~HJOSCSenderTest() override { Log::setVerbose(false); }

    // Steps the clock to t0 + offset.
    void advanceTo(Duration offset) {
        ASSERT_GE(t0 + offset, clock.now()) << "the clock only moves forward";
        clock.advance(t0 + offset - clock.now());
    }
    void runAt(Duration offset) {
        advanceTo(offset);
        loop.runOnce();
    }

    ReceivedBundle receiveBundle() {
        const auto datagram = peer.receive();
        const auto packet = datagram ? HJOSCDecoder::decodeData(*datagram) : nullptr;
        const HJOSCBundle* bundle = packet ? packet->asBundle() : nullptr;
        if (bundle == nullptr) {
            ADD_FAILURE() << "no bundle arrived";
            return {};
        }
        ReceivedBundle received{bundle->timeStamp(), {}, datagram->size()};
        for (const auto& element : bundle->attachedObjects()) {
            const HJOSCMessage& message =
                *element->asMessage();  // the sender bundles only messages
            received.messages.emplace_back(message.address().address(),
                                           message.attachedObjects().front().intValue());
        }
        return received;
    }

    // Proves that nothing was sent so far: a marker sent now on the same socket
    // must be the first datagram that arrives (loopback keeps the order).
    void expectNothingSentYet() {
        const auto marker = intMessage("/marker", 0);
        ASSERT_TRUE(sender->sendOSCPacket(marker));
        EXPECT_EQ(peer.receive(), marker.packetizedData())
            << "something was sent before the marker";
    }

    void expectStampedAt(Date stamp, Duration offset) const {
        // NTP time tags resolve 2^-32 s; a microsecond is plenty.
        EXPECT_NEAR(stamp.secondsSinceReferenceDate,
                    kStartDate + std::chrono::duration<double>(t0 + offset - start).count(), 1e-6);
    }

    ManualClock clock{Date{kStartDate}};
    RunLoop loop{clock};
    test::UdpTestPeer peer;
    const Instant start = clock.now();
    Instant t0 = start;  // the sender's creation
    std::unique_ptr<HJOSCSender> sender =
        HJOSCSender::senderWithDestinationHostName(loop, "127.0.0.1", peer.port());
};

TEST_F(HJOSCSenderTest, MessagesAddedWithinOneTickLeaveAsOneBundleStampedWithTheFirstAdd) {
    ASSERT_NE(sender, nullptr);
    advanceTo(2ms);
    sender->addOSCMessage(intMessage("/stagevue/ping", 1));
    advanceTo(5ms);
    sender->addOSCMessage(intMessage("/two", 2));
    sender->addOSCMessage(intMessage("/three", 3));
    runAt(9ms);
    expectNothingSentYet();

    runAt(10ms);
    const ReceivedBundle bundle = receiveBundle();
    EXPECT_EQ(bundle.messages, (Summary{{"/stagevue/ping", 1}, {"/two", 2}, {"/three", 3}}));
    expectStampedAt(bundle.timeStamp, 2ms);
}

TEST_F(HJOSCSenderTest, IdleSenderSendsNothingBeforeOrAfterABundle) {
    for (int step = 1; step <= 100; ++step) runAt(step * 7ms);
    expectNothingSentYet();
    sender->addOSCMessage(intMessage("/once", 1));
    runAt(710ms);
    EXPECT_EQ(receiveBundle().messages, (Summary{{"/once", 1}}));
    for (int tick = 72; tick <= 150; ++tick) runAt(tick * 10ms);
    runAt(1h);
    expectNothingSentYet();
}

TEST_F(HJOSCSenderTest, BundleLeavesExactlyAtTheNextTickOfTheSendersSchedule) {
    const struct {
        Duration added, leaves;  // from the sender's creation; the loop has run at `added`
    } cases[] = {{0ms, 10ms}, {1ns, 10ms}, {9999us, 10ms}, {10ms, 20ms}, {1234567us, 1240ms}};
    for (const auto& grid : cases) {
        SCOPED_TRACE(::testing::Message() << "added at +" << grid.added.count() << " ns");
        t0 = clock.now();
        sender = HJOSCSender::senderWithDestinationHostName(loop, "127.0.0.1", peer.port());
        runAt(grid.added);
        sender->addOSCMessage(intMessage("/grid", 7));
        runAt(grid.leaves - 1ns);
        expectNothingSentYet();
        runAt(grid.leaves);
        const ReceivedBundle bundle = receiveBundle();
        EXPECT_EQ(bundle.messages, (Summary{{"/grid", 7}}));
        expectStampedAt(bundle.timeStamp, grid.added);
    }
}

TEST_F(HJOSCSenderTest, LateTickSendsOnceAndDoesNotShiftTheSchedule) {
    advanceTo(23ms);
    sender->addOSCMessage(intMessage("/late", 1));
    runAt(47ms);  // the loop was busy through the 30 and 40 ms ticks
    EXPECT_EQ(receiveBundle().messages, (Summary{{"/late", 1}}));

    sender->addOSCMessage(intMessage("/ontime", 2));
    runAt(50ms - 1ns);
    expectNothingSentYet();
    runAt(50ms);
    EXPECT_EQ(receiveBundle().messages, (Summary{{"/ontime", 2}}));
}

TEST_F(HJOSCSenderTest, SlotMissedWhileTheLoopWasBusyIsServedLateInThatPass) {
    advanceTo(5ms);
    loop.post([&] {
        advanceTo(12ms);  // busy across the 10 ms tick
        sender->addOSCMessage(intMessage("/busy", 1));
    });
    loop.runOnce();
    EXPECT_EQ(receiveBundle().messages, (Summary{{"/busy", 1}}));
}

TEST_F(HJOSCSenderTest, HostThatDoesNotResolveGivesNoSenderAndLogsNothing) {
    const Log::Capture capture;
    for (const std::string host : {"no-such-host.invalid", ""}) {
        EXPECT_EQ(HJOSCSender::senderWithDestinationHostName(loop, host, 5000), nullptr) << host;
    }
    EXPECT_TRUE(capture.lines().empty());
}

TEST_F(HJOSCSenderTest, OnlyTheLowSixteenBitsOfThePortCount) {
    const auto atMinusOne = HJOSCSender::senderWithDestinationHostName(loop, "localhost", -1);
    ASSERT_NE(atMinusOne, nullptr);
    EXPECT_EQ(atMinusOne->destinationAddress(), (Ipv4Endpoint{test::kLoopback, 65535}));
    for (const std::int32_t port : {peer.port() + 65536, peer.port() - 65536}) {
        const auto wrapped = HJOSCSender::senderWithDestinationHostName(loop, "127.0.0.1", port);
        ASSERT_NE(wrapped, nullptr);
        ASSERT_TRUE(wrapped->sendOSCPacket(intMessage("/wrapped", port)));
        EXPECT_TRUE(peer.receive().has_value()) << port;
    }
}

TEST_F(HJOSCSenderTest, RefusedDatagramIsCountedAndLoggedOnceASecondAtMost) {
    const Log::Capture capture;
    EXPECT_FALSE(sender->sendOSCPacket(blobMessage(1, 70000)));
    EXPECT_FALSE(sender->sendOSCPacket(blobMessage(1, 70000)));
    advanceTo(1s);
    EXPECT_FALSE(sender->sendOSCPacket(blobMessage(1, 80000)));
    expectNothingSentYet();
    EXPECT_EQ(sender->refusedDatagramCount(), 3U);
    const std::string port = std::to_string(peer.port());
    EXPECT_EQ(capture.lines(),
              (std::vector<std::string>{"dropped a datagram of 70020 bytes for port " + port +
                                            ": Message too long (1 so far)",
                                        "dropped a datagram of 80020 bytes for port " + port +
                                            ": Message too long (3 so far)"}));
}

TEST_F(HJOSCSenderTest, OversizedBundleLeavesInTheSameTickAsPartsWithinTheLimitInOrder) {
    // A blob whose length is a multiple of 4 adds exactly its length to the encoding.
    auto pair = HJOSCBundle::bundleWithTimestamp(Date{});
    pair->attachObject(blobMessage(0, 0));
    pair->attachObject(blobMessage(1, 0));
    const std::size_t room =
        HJOSCSender::kMaxBundleSize - encodedSize(*pair) - 4000;  // fills a pair exactly
    ASSERT_EQ(room % 4, 0U);
    const struct {
        std::size_t over;  // bytes of the pair beyond the limit
        bool third;        // a small third message follows the pair
        std::vector<std::size_t> messagesPerDatagram;
    } cases[] = {
        {0, false, {2}},
        {4, false, {1, 1}},
        {0, true, {2, 1}},
        {HJOSCSender::kMaxBundleSize, true, {1, 1, 1}}};  // too big for any part: travels alone
    Duration now = 0ms;
    for (const auto& split : cases) {
        SCOPED_TRACE(::testing::Message()
                     << "over by " << split.over << (split.third ? " with a third" : ""));
        sender->addOSCMessage(blobMessage(0, 4000));
        sender->addOSCMessage(blobMessage(1, room + split.over));
        ASSERT_EQ(encodedSize(*sender->mainBundle()), HJOSCSender::kMaxBundleSize + split.over);
        Summary expected{{"/b", 0}, {"/b", 1}};
        if (split.third) {
            sender->addOSCMessage(intMessage("/third", 2));
            expected.emplace_back("/third", 2);
        }
        const Duration added = now;
        runAt(now += 10ms);

        Summary received;
        for (const std::size_t count : split.messagesPerDatagram) {
            const ReceivedBundle part = receiveBundle();  // all left in this one tick
            EXPECT_EQ(part.messages.size(), count);
            if (count > 1) {
                EXPECT_LE(part.size, HJOSCSender::kMaxBundleSize);
            }
            expectStampedAt(part.timeStamp, added);
            received.insert(received.end(), part.messages.begin(), part.messages.end());
        }
        EXPECT_EQ(received, expected);
    }
    expectNothingSentYet();
}

TEST_F(HJOSCSenderTest, PendingBundlePastSixtyFourKilobytesLeavesAtOnceInPartsInOrder) {
    // Each message encodes to 4016 bytes: 16 fit in 65536 with the bundle's head, the 17th does
    // not.
    for (std::int32_t i = 0; i < 16; ++i) sender->addOSCMessage(blobMessage(i, 4000));
    expectNothingSentYet();
    sender->addOSCMessage(blobMessage(16, 4000));
    EXPECT_EQ(sender->mainBundle(), nullptr);
    Summary received;
    for (int part = 0; part < 9; ++part) {
        const ReceivedBundle bundle = receiveBundle();
        EXPECT_LE(bundle.size, 8192U);
        received.insert(received.end(), bundle.messages.begin(), bundle.messages.end());
    }
    Summary expected;
    for (std::int32_t i = 0; i < 17; ++i) expected.emplace_back("/b", i);
    EXPECT_EQ(received, expected);
}

TEST_F(HJOSCSenderTest, DroppedSenderSendsItsPendingBundleAtOnceAndStopsTicking) {
    advanceTo(3ms);
    sender->addOSCMessage(intMessage("/last", 9));
    sender.reset();
    EXPECT_EQ(receiveBundle().messages, (Summary{{"/last", 9}}));

    runAt(10ms);  // the flush timer must be gone with its sender
    loop.runUntilIdle();
    EXPECT_FALSE(peer.receiveNow().has_value());
}

TEST_F(HJOSCSenderTest, VerboseModeLogsEachMessageSentOnOneLine) {
    Log::setVerbose(true);
    const Log::Capture capture;
    sender->addOSCMessage(intMessage("/loud", 4));
    sender->addOSCMessage(intMessage("/louder", 5));
    runAt(10ms);
    Log::setVerbose(false);
    ASSERT_TRUE(peer.receive().has_value());
    const std::string port = std::to_string(peer.port());
    EXPECT_EQ(capture.lines(), (std::vector<std::string>{"SEND " + port + ": /loud i 4",
                                                         "SEND " + port + ": /louder i 5"}));
}

}  // namespace
}  // namespace velto

// The sender over real loopback UDP, with the flush ticks driven by a manual
// clock: each test steps the clock to an instant and runs one loop pass.

#include "common/osc/HJOSCSender.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <ostream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "common/osc/HJOSCAddress.h"
#include "common/osc/HJOSCArgument.h"
#include "common/osc/HJOSCBundle.h"
#include "common/osc/HJOSCDecoder.h"
#include "common/osc/HJOSCMessage.h"
#include "platform/Clock.h"
#include "platform/Log.h"
#include "platform/RunLoop.h"
#include "support/UdpTestPeer.h"

namespace velto {
namespace {

using namespace std::chrono_literals;
using test::UdpTestPeer;

constexpr double kStartDate = 1000.0;

std::shared_ptr<HJOSCMessage> intMessage(const std::string& address, std::int32_t value) {
    auto message = HJOSCMessage::messageWithHJOSCAddress(HJOSCAddress::addressWithString(address));
    message->attachArgument(HJOSCArgument::withInt(value));
    return message;
}

std::shared_ptr<HJOSCMessage> blobMessage(std::int32_t index, std::size_t blobSize) {
    auto message = HJOSCMessage::messageWithHJOSCAddress(HJOSCAddress::addressWithString("/b"));
    message->attachArgument(HJOSCArgument::withInt(index));
    message->attachArgument(HJOSCArgument::withDataBlob(Bytes(blobSize, 0xAB)));
    return message;
}

std::size_t encodedSize(const HJOSCPacket& packet) { return packet.packetizedData().value().size(); }

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

    // Steps the clock to t0 + offset; t0 is the sender's creation.
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
        if (!datagram) {
            ADD_FAILURE() << "no datagram arrived";
            return {};
        }
        const auto packet = HJOSCDecoder::decodeData(*datagram);
        const HJOSCBundle* bundle = packet ? packet->asBundle() : nullptr;
        if (bundle == nullptr) {
            ADD_FAILURE() << "the datagram is not a bundle";
            return {};
        }
        ReceivedBundle received{bundle->timeStamp(), {}, datagram->size()};
        for (const auto& element : bundle->attachedObjects()) {
            const HJOSCMessage* message = element->asMessage();
            if (message == nullptr) {
                ADD_FAILURE() << "a bundle element is not a message";
                continue;
            }
            const auto& arguments = message->attachedObjects();
            received.messages.emplace_back(message->address().address(),
                                           arguments.empty() ? 0 : arguments.front().intValue());
        }
        return received;
    }

    // Proves that nothing was sent so far: a marker sent now on the same socket
    // must be the first datagram that arrives (loopback keeps the order).
    void expectNothingSentYet() {
        const auto marker = intMessage("/marker", 0);
        ASSERT_TRUE(sender->sendOSCPacket(*marker));
        const auto first = peer.receive();
        ASSERT_TRUE(first.has_value());
        EXPECT_EQ(*first, marker->packetizedData().value()) << "something was sent before the marker";
    }

    static Date dateAt(Duration offset) {
        return Date{kStartDate + std::chrono::duration<double>(offset).count()};
    }

    ManualClock clock{Date{kStartDate}};
    RunLoop loop{clock};
    UdpTestPeer peer;
    const Instant t0 = clock.now();
    std::unique_ptr<HJOSCSender> sender =
        HJOSCSender::senderWithDestinationHostName("127.0.0.1", peer.port());
};

void expectSameDate(Date actual, Date expected) {
    // NTP time tags resolve 2^-32 s; a microsecond is plenty.
    EXPECT_NEAR(actual.secondsSinceReferenceDate, expected.secondsSinceReferenceDate, 1e-6);
}

TEST_F(HJOSCSenderTest, MessagesAddedWithinOneTickLeaveAsOneBundleStampedWithTheFirstAdd) {
    ASSERT_NE(sender, nullptr);
    advanceTo(2ms);
    sender->addOSCMessage(intMessage("/one", 1));
    advanceTo(5ms);
    sender->addOSCMessage(intMessage("/two", 2));
    sender->addOSCMessage(intMessage("/three", 3));
    runAt(9ms);
    expectNothingSentYet();

    runAt(10ms);
    const ReceivedBundle bundle = receiveBundle();
    EXPECT_EQ(bundle.messages, (Summary{{"/one", 1}, {"/two", 2}, {"/three", 3}}));
    expectSameDate(bundle.timeStamp, dateAt(2ms));
    EXPECT_EQ(sender->mainBundle(), nullptr);
}

TEST_F(HJOSCSenderTest, MessageAddedRightAfterATickLeavesAtTheNextTickInABundleOfItsOwn) {
    advanceTo(4ms);
    sender->addOSCMessage(intMessage("/first", 1));
    runAt(10ms);
    sender->addOSCMessage(intMessage("/second", 2));  // same instant, after the tick

    EXPECT_EQ(receiveBundle().messages, (Summary{{"/first", 1}}));
    runAt(20ms);
    const ReceivedBundle next = receiveBundle();
    EXPECT_EQ(next.messages, (Summary{{"/second", 2}}));
    expectSameDate(next.timeStamp, dateAt(10ms));
}

TEST_F(HJOSCSenderTest, IdleSenderSendsNothingHoweverLongItRuns) {
    for (int step = 1; step <= 2000; ++step) {
        runAt(step * 7ms);
    }
    runAt(1h);
    expectNothingSentYet();
}

TEST_F(HJOSCSenderTest, SenderFallsIdleAgainAfterSendingItsBundle) {
    sender->addOSCMessage(intMessage("/once", 1));
    runAt(10ms);
    EXPECT_EQ(receiveBundle().messages, (Summary{{"/once", 1}}));
    for (int tick = 2; tick <= 100; ++tick) {
        runAt(tick * 10ms);
    }
    expectNothingSentYet();
}

// A message added at `added` leaves exactly at the first 10 ms slot after it.
struct GridCase {
    Duration added;
    Duration leaves;
    friend std::ostream& operator<<(std::ostream& out, const GridCase& grid) {
        return out << "added at +" << grid.added.count() << " ns, leaves at +" << grid.leaves.count() << " ns";
    }
};

class HJOSCSenderGridTest : public HJOSCSenderTest, public ::testing::WithParamInterface<GridCase> {};

TEST_P(HJOSCSenderGridTest, BundleLeavesExactlyAtTheNextTickOfTheSendersSchedule) {
    const GridCase grid = GetParam();
    advanceTo(grid.added);
    sender->addOSCMessage(intMessage("/grid", 7));
    runAt(grid.leaves - 1ns);
    expectNothingSentYet();
    runAt(grid.leaves);
    const ReceivedBundle bundle = receiveBundle();
    EXPECT_EQ(bundle.messages, (Summary{{"/grid", 7}}));
    expectSameDate(bundle.timeStamp, dateAt(grid.added));
}

INSTANTIATE_TEST_SUITE_P(Schedule, HJOSCSenderGridTest,
                         ::testing::Values(GridCase{0ms, 10ms}, GridCase{1ns, 10ms},
                                           GridCase{9999us, 10ms}, GridCase{10ms, 20ms},
                                           GridCase{23ms, 30ms}, GridCase{30500us, 40ms},
                                           GridCase{1234567us, 1240ms}));

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

TEST_F(HJOSCSenderTest, HostThatDoesNotResolveGivesNoSenderAndLogsNothing) {
    const Log::Capture capture;
    for (const std::string host : {"no-such-host.invalid", "", "caf\xC3\xA9.invalid"}) {
        EXPECT_EQ(HJOSCSender::senderWithDestinationHostName(host, 5000), nullptr) << host;
    }
    EXPECT_TRUE(capture.lines().empty());
}

TEST_F(HJOSCSenderTest, OnlyTheLowSixteenBitsOfThePortCount) {
    const auto at70000 = HJOSCSender::senderWithDestinationHostName("127.0.0.1", 70000);
    const auto atMinusOne = HJOSCSender::senderWithDestinationHostName("localhost", -1);
    ASSERT_NE(at70000, nullptr);
    ASSERT_NE(atMinusOne, nullptr);
    EXPECT_EQ(at70000->destinationAddress(), (Ipv4Endpoint{test::kLoopback, 4464}));
    EXPECT_EQ(atMinusOne->destinationAddress(), (Ipv4Endpoint{test::kLoopback, 65535}));
    EXPECT_EQ(at70000->portNumber(), 70000);

    // And datagrams really go there.
    for (const std::int32_t port : {peer.port() + 65536, peer.port() - 65536, peer.port() + 131072}) {
        const auto wrapped = HJOSCSender::senderWithDestinationHostName("127.0.0.1", port);
        ASSERT_NE(wrapped, nullptr);
        ASSERT_TRUE(wrapped->sendOSCPacket(*intMessage("/wrapped", port)));
        const auto datagram = peer.receive();
        ASSERT_TRUE(datagram.has_value()) << port;
    }
}

TEST_F(HJOSCSenderTest, SendOSCPacketSendsAtOnceAndReportsARefusal) {
    const auto message = intMessage("/now", 5);
    EXPECT_TRUE(sender->sendOSCPacket(*message));
    EXPECT_EQ(peer.receive(), message->packetizedData());

    // More than one IPv4 datagram can hold: refused, not sent.
    EXPECT_FALSE(sender->sendOSCPacket(*blobMessage(1, 70000)));
    expectNothingSentYet();
}

TEST_F(HJOSCSenderTest, OversizedBundleLeavesInTheSameTickAsPackedPartsInMessageOrder) {
    Summary added;
    std::vector<std::size_t> sizes;
    for (std::int32_t i = 0; i < 300; ++i) {
        const auto message = blobMessage(i, 100 + static_cast<std::size_t>(i % 7) * 13);
        sizes.push_back(encodedSize(*message));
        added.emplace_back("/b", i);
        sender->addOSCMessage(message);
    }
    advanceTo(3ms);
    ASSERT_GT(encodedSize(*sender->mainBundle()), 4 * HJOSCSender::kMaxBundleSize);
    runAt(10ms);

    Summary received;
    std::size_t parts = 0;
    while (received.size() < added.size()) {
        const auto datagram = peer.receive();  // the loop does not run again: all left in this tick
        ASSERT_TRUE(datagram.has_value()) << "after " << received.size() << " messages";
        const auto packet = HJOSCDecoder::decodeData(*datagram);
        ASSERT_NE(packet, nullptr);
        const HJOSCBundle* bundle = packet->asBundle();
        ASSERT_NE(bundle, nullptr);
        EXPECT_LE(datagram->size(), HJOSCSender::kMaxBundleSize);
        expectSameDate(bundle->timeStamp(), dateAt(0ms));
        for (const auto& element : bundle->attachedObjects()) {
            received.emplace_back(element->asMessage()->address().address(),
                                  element->asMessage()->attachedObjects().front().intValue());
        }
        // Packed: the next message would not have fitted into this part.
        if (received.size() < added.size()) {
            EXPECT_GT(datagram->size() + 4 + sizes[received.size()], HJOSCSender::kMaxBundleSize);
        }
        ++parts;
    }
    EXPECT_EQ(received, added);
    EXPECT_GE(parts, 5U);
    expectNothingSentYet();
}

struct BoundaryCase {
    std::size_t pairSize;                   // encoded size of a bundle of the first two messages
    bool third;                             // whether a small third message follows them
    std::vector<std::size_t> messagesPerDatagram;
    friend std::ostream& operator<<(std::ostream& out, const BoundaryCase& boundary) {
        return out << boundary.pairSize << " bytes" << (boundary.third ? " and a third message" : "");
    }
};

class HJOSCSenderSplitBoundaryTest : public HJOSCSenderTest,
                                     public ::testing::WithParamInterface<BoundaryCase> {};

TEST_P(HJOSCSenderSplitBoundaryTest, BundlesAndPartsAreFilledUpToTheLimitExactly) {
    const BoundaryCase boundary = GetParam();
    // A blob whose length is a multiple of 4 adds exactly its length to the
    // encoding; the rest is measured with the codec.
    auto empty = HJOSCBundle::bundleWithTimestamp(Date{});
    empty->attachObject(blobMessage(0, 0));
    empty->attachObject(blobMessage(1, 0));
    const std::size_t overhead = encodedSize(*empty);
    ASSERT_EQ((boundary.pairSize - overhead) % 4, 0U);
    const std::size_t firstBlob = 4000;
    const std::size_t secondBlob = boundary.pairSize - overhead - firstBlob;

    sender->addOSCMessage(blobMessage(0, firstBlob));
    sender->addOSCMessage(blobMessage(1, secondBlob));
    ASSERT_EQ(encodedSize(*sender->mainBundle()), boundary.pairSize);
    Summary expected{{"/b", 0}, {"/b", 1}};
    if (boundary.third) {
        sender->addOSCMessage(intMessage("/third", 2));
        expected.emplace_back("/third", 2);
    }
    runAt(10ms);

    Summary received;
    for (const std::size_t count : boundary.messagesPerDatagram) {
        const ReceivedBundle part = receiveBundle();
        EXPECT_EQ(part.messages.size(), count);
        EXPECT_LE(part.size, HJOSCSender::kMaxBundleSize);
        received.insert(received.end(), part.messages.begin(), part.messages.end());
    }
    EXPECT_EQ(received, expected);
    expectNothingSentYet();
}

INSTANTIATE_TEST_SUITE_P(
    Limit, HJOSCSenderSplitBoundaryTest,
    ::testing::Values(BoundaryCase{HJOSCSender::kMaxBundleSize, false, {2}},
                      BoundaryCase{HJOSCSender::kMaxBundleSize + 4, false, {1, 1}},
                      BoundaryCase{HJOSCSender::kMaxBundleSize, true, {2, 1}}));

TEST_F(HJOSCSenderTest, MessageTooBigForAnyPartTravelsAloneBetweenTheOthers) {
    sender->addOSCMessage(intMessage("/before", 1));
    sender->addOSCMessage(blobMessage(2, 2 * HJOSCSender::kMaxBundleSize));
    sender->addOSCMessage(intMessage("/after", 3));
    runAt(10ms);

    EXPECT_EQ(receiveBundle().messages, (Summary{{"/before", 1}}));
    const ReceivedBundle big = receiveBundle();
    EXPECT_EQ(big.messages, (Summary{{"/b", 2}}));
    EXPECT_GT(big.size, HJOSCSender::kMaxBundleSize);
    EXPECT_EQ(receiveBundle().messages, (Summary{{"/after", 3}}));
}

TEST_F(HJOSCSenderTest, DroppedSenderSendsItsPendingBundleAtOnceAndStopsTicking) {
    advanceTo(3ms);
    sender->addOSCMessage(intMessage("/last", 9));
    sender.reset();

    const auto datagram = peer.receive();
    ASSERT_TRUE(datagram.has_value()) << "the pending bundle did not leave with the sender";
    const auto packet = HJOSCDecoder::decodeData(*datagram);
    ASSERT_NE(packet, nullptr);
    ASSERT_NE(packet->asBundle(), nullptr);
    EXPECT_EQ(packet->asBundle()->attachedObjects().size(), 1U);

    runAt(10ms);  // the flush timer must be gone with its sender
    loop.runUntilIdle();
    EXPECT_FALSE(peer.receiveNow().has_value());
}

TEST_F(HJOSCSenderTest, VerboseModeLogsEachDatagramAsText) {
    Log::setVerbose(true);
    const Log::Capture capture;
    const auto message = intMessage("/loud", 4);
    sender->addOSCMessage(message);
    runAt(10ms);
    ASSERT_TRUE(peer.receive().has_value());

    const auto lines = capture.lines();
    ASSERT_EQ(lines.size(), 1U);
    EXPECT_EQ(lines[0].rfind("SEND " + std::to_string(peer.port()) + ":\n", 0), 0U) << lines[0];
    EXPECT_NE(lines[0].find(message->stringRepresentation()), std::string::npos) << lines[0];
}

TEST_F(HJOSCSenderTest, ThreadWithoutARunLoopGetsNoSender) {
    bool made = true;
    std::thread([&] { made = HJOSCSender::senderWithDestinationHostName("127.0.0.1", 5000) != nullptr; })
        .join();
    EXPECT_FALSE(made);
}

}  // namespace
}  // namespace velto

#include <gtest/gtest.h>

#include <cerrno>
#include <new>
#include <string>
#include <utility>

#include "platform/Udp.h"
#include "support/UdpTestPeer.h"

namespace velto {
namespace {

using test::kLoopback;

Bytes bytesOf(const std::string& text) { return Bytes(text.begin(), text.end()); }

class UdpTest : public ::testing::Test {
protected:
    void SetUp() override {
        int error = -1;
        receiving = UdpSocket::open(error);
        ASSERT_EQ(receiving.bindAny(0), 0);
        port = receiving.localPort();
    }
    // A receiver handing each datagram, and each error as "error: <what>", to the peer.
    DatagramReceiver forwarder(DatagramReceiver::Handler handler = {}) {
        const auto to = [this](const std::string& text) {
            peer.sendTo(peer.port(), bytesOf(text));
        };
        if (!handler) handler = [to](ByteView datagram) { to({datagram.begin(), datagram.end()}); };
        return {receiving, handler, [to](const std::string& what) { to("error: " + what); }};
    }
    std::optional<std::string> next() {
        const auto datagram = peer.receive();
        return datagram ? std::optional(std::string(datagram->begin(), datagram->end()))
                        : std::nullopt;
    }

    UdpSocket receiving;
    std::uint16_t port = 0;
    test::UdpTestPeer peer;
};

TEST(ResolveIPv4, GivesTheFirstIPv4AddressOrNothing) {
    EXPECT_EQ(resolveIPv4("127.0.0.1"), kLoopback);
    EXPECT_EQ(resolveIPv4("localhost"), kLoopback);
    EXPECT_EQ(resolveIPv4(""), std::nullopt);
    EXPECT_EQ(resolveIPv4("no-such-host.invalid"), std::nullopt);
}

// Bound to every local address, not to 127.0.0.1 alone: on Linux all of 127/8 reaches it.
TEST_F(UdpTest, ReceivesOnEveryLocalAddress) {
    const DatagramReceiver receiver = forwarder();
    if (peer.socket().sendTo(bytesOf("other"), {0x7f000002, port}) != 0)
        GTEST_SKIP() << "127.0.0.2 is not reachable here";
    ASSERT_TRUE(peer.sendTo(port, bytesOf("marker")));
    EXPECT_EQ(next(), "other");
}

TEST_F(UdpTest, LongestDatagramIsCutTo65506Bytes) {
    std::string longest(65507, '\0');
    for (std::size_t i = 0; i < longest.size(); ++i) longest[i] = static_cast<char>(i * 7);
    const DatagramReceiver receiver = forwarder();
    if (peer.socket().sendTo(bytesOf(longest), {kLoopback, port}) == EMSGSIZE)
        GTEST_SKIP() << "this system sends no datagram that large";
    EXPECT_TRUE(next() == longest.substr(0, 65506));
}

// stop() returns only once the thread is gone; the socket stays open (and its
// port taken) until its owner closes it, and then the port is free at once.
TEST_F(UdpTest, ReceivesUntilStopWithoutASpuriousDatagramAndClosingFreesThePort) {
    DatagramReceiver receiver = forwarder();
    ASSERT_TRUE(peer.sendTo(port, bytesOf("before")));
    ASSERT_TRUE(peer.sendTo(port, {}));  // a real empty datagram is handed on
    EXPECT_EQ(next(), "before");
    EXPECT_EQ(next(), "");
    receiver.stop();
    receiver.stop();
    EXPECT_FALSE(receiver.isRunning());
    ASSERT_TRUE(peer.sendTo(port, bytesOf("after")));
    EXPECT_EQ(peer.receive(std::chrono::milliseconds(50)), std::nullopt)
        << "stopping is no datagram";
    int error = -1;
    UdpSocket again = UdpSocket::open(error);
    EXPECT_EQ(again.bindAny(port), EADDRINUSE);
    receiving.close();
    EXPECT_EQ(again.bindAny(port), 0);
}

TEST_F(UdpTest, HandlerExceptionLosesOnlyItsDatagramAndTheThreadGoesOn) {
    bool failed = false;  // on the receive thread only
    DatagramReceiver receiver = forwarder([&](ByteView datagram) {
        if (!std::exchange(failed, true)) throw std::bad_alloc();
        peer.sendTo(peer.port(), datagram);
    });
    ASSERT_TRUE(peer.sendTo(port, bytesOf("first")));
    EXPECT_EQ(next(), "error: std::bad_alloc");
    ASSERT_TRUE(peer.sendTo(port, bytesOf("second")));
    EXPECT_EQ(next(), "second");
    EXPECT_TRUE(receiver.isRunning());
}

}  // namespace
}  // namespace velto

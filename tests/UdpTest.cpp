#include <gtest/gtest.h>

#include <cerrno>
#include <new>
#include <string>
#include <utility>

#include "platform/Udp.h"
#include "support/UdpTestPeer.h"

namespace velto {
namespace {

// A receiver hands each datagram (or "error: <what>" when its handler throws) to a peer, so
// the test waits on that peer's socket with a time limit.
class UdpTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(receiving.bindAny(0), 0); }
    void send(const std::string& text) {
        ASSERT_TRUE(peer.sendTo(receiving.localPort(), Bytes(text.begin(), text.end())));
    }
    void forward(const std::string& text) {
        inbox.sendTo(inbox.port(), Bytes(text.begin(), text.end()));
    }
    std::optional<std::string> next(std::chrono::milliseconds limit = test::kWaitLimit) {
        const auto datagram = inbox.receive(limit);
        if (!datagram) return std::nullopt;
        return std::string(datagram->begin(), datagram->end());
    }

    int error = -1;
    UdpSocket receiving = UdpSocket::open(error);
    test::UdpTestPeer peer, inbox;
};

// stop() returns only once the thread is gone; the socket stays open (and its
// port taken) until its owner closes it, and then the port is free at once.
// A handler that throws loses only its datagram.
TEST_F(UdpTest, ReceivesUntilStopAndClosingFreesThePort) {
    bool failed = false;  // on the receive thread only
    DatagramReceiver receiver(
        receiving,
        [&](ByteView datagram) {
            if (!std::exchange(failed, true)) throw std::bad_alloc();
            forward({datagram.begin(), datagram.end()});
        },
        [&](const std::string& what) { forward("error: " + what); });
    send("first");
    EXPECT_EQ(next(), "error: std::bad_alloc");
    send("");  // a real empty datagram is handed on
    EXPECT_EQ(next(), "");
    receiver.stop();
    receiver.stop();
    EXPECT_FALSE(receiver.isRunning());
    send("after");
    EXPECT_EQ(next(std::chrono::milliseconds(50)), std::nullopt) << "stopping is no datagram";
    UdpSocket again = UdpSocket::open(error);
    EXPECT_EQ(again.bindAny(receiving.localPort()), EADDRINUSE);
    const std::uint16_t port = receiving.localPort();
    receiving.close();
    EXPECT_EQ(again.bindAny(port), 0);
}

}  // namespace
}  // namespace velto

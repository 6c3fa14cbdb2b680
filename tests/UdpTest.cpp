#include <gtest/gtest.h>

#include <new>
#include <string>
#include <utility>

#include "platform/Udp.h"
#include "support/UdpTestPeer.h"

namespace velto {
namespace {

Bytes bytes(const std::string& text) { return Bytes(text.begin(), text.end()); }

// A handler that throws loses only its datagram: the receiver reports it and goes on. The
// receive thread hands what it gets to `inbox`, where the test waits with a time limit.
TEST(UdpTest, HandlerThatThrowsLosesOnlyItsDatagram) {
    int error = -1;
    UdpSocket receiving = UdpSocket::open(error);
    ASSERT_EQ(receiving.bindAny(0), 0);
    test::UdpTestPeer peer, inbox;
    const auto forward = [&](const std::string& text) { inbox.sendTo(inbox.port(), bytes(text)); };
    bool failed = false;  // on the receive thread only
    DatagramReceiver receiver(
        receiving,
        [&](ByteView datagram) {
            if (!std::exchange(failed, true)) throw std::bad_alloc();
            forward({datagram.begin(), datagram.end()});
        },
        [&](const std::string& what) { forward("error: " + what); });
    ASSERT_TRUE(peer.sendTo(receiving.localPort(), bytes("first")));
    ASSERT_TRUE(peer.sendTo(receiving.localPort(), bytes("second")));
    EXPECT_EQ(inbox.receive(), bytes("error: std::bad_alloc"));
    EXPECT_EQ(inbox.receive(), bytes("second"));
    receiver.stop();
    receiver.stop();
    EXPECT_FALSE(receiver.isRunning());
}

}  // namespace
}  // namespace velto

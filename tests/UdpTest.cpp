#include "platform/Udp.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

namespace velto {
namespace {

constexpr std::uint32_t kLoopback = 0x7f000001;
constexpr auto kPatience = std::chrono::seconds(5);

Bytes bytesOf(const std::string& text) { return Bytes(text.begin(), text.end()); }

// Whether a datagram waits on the socket (unread), within the time limit.
bool waitsUnread(const UdpSocket& socket) {
    pollfd fd{socket.descriptor(), POLLIN, 0};
    return poll(&fd, 1, static_cast<int>(std::chrono::milliseconds(kPatience).count())) == 1;
}

// What a receiver hands on, collected on its thread and read on the test's.
class Inbox {
public:
    DatagramReceiver::Handler handler() {
        return [this](ByteView datagram) {
            std::lock_guard lock(mutex_);
            datagrams_.emplace_back(datagram.begin(), datagram.end());
            changed_.notify_all();
        };
    }
    DatagramReceiver::ErrorHandler onError() {
        return [this](const std::string& what) {
            std::lock_guard lock(mutex_);
            errors_.push_back(what);
            changed_.notify_all();
        };
    }
    bool waitForDatagrams(std::size_t count) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, kPatience, [&] { return datagrams_.size() >= count; });
    }
    bool waitForErrors(std::size_t count) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, kPatience, [&] { return errors_.size() >= count; });
    }
    std::vector<Bytes> datagrams() const {
        std::lock_guard lock(mutex_);
        return datagrams_;
    }
    std::vector<std::string> errors() const {
        std::lock_guard lock(mutex_);
        return errors_;
    }

private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Bytes> datagrams_;
    std::vector<std::string> errors_;
};

class UdpTest : public ::testing::Test {
protected:
    void SetUp() override {
        int error = -1;
        receiving = UdpSocket::open(error);
        ASSERT_EQ(error, 0);
        ASSERT_EQ(receiving.bindAny(0), 0);
        port = receiving.localPort();
        ASSERT_NE(port, 0);
        sending = UdpSocket::open(error);
        ASSERT_EQ(error, 0);
    }
    void send(const Bytes& datagram) {
        ASSERT_EQ(sending.sendTo(datagram, Ipv4Endpoint{kLoopback, port}), 0);
    }

    UdpSocket receiving;
    UdpSocket sending;
    std::uint16_t port = 0;
    Inbox inbox;
};

struct ResolveCase {
    const char* host;
    std::optional<std::uint32_t> address;
    friend std::ostream& operator<<(std::ostream& out, const ResolveCase& c) {
        return out << '"' << c.host << '"';
    }
};

class ResolveTest : public ::testing::TestWithParam<ResolveCase> {};

TEST_P(ResolveTest, GivesTheFirstIPv4AddressOrNothing) {
    EXPECT_EQ(resolveIPv4(GetParam().host), GetParam().address);
}

INSTANTIATE_TEST_SUITE_P(Hosts, ResolveTest,
                         ::testing::Values(ResolveCase{"127.0.0.1", kLoopback},
                                           ResolveCase{"10.1.2.3", 0x0a010203u},
                                           ResolveCase{"localhost", kLoopback},
                                           ResolveCase{"", std::nullopt},
                                           ResolveCase{"no-such-host.invalid", std::nullopt}));

TEST_F(UdpTest, SocketMovesAndClosesLikeAnOwner) {
    const int fd = receiving.descriptor();
    UdpSocket moved = std::move(receiving);
    EXPECT_FALSE(receiving.isValid());
    EXPECT_EQ(moved.descriptor(), fd);
    EXPECT_EQ(moved.localPort(), port);
    moved.close();
    EXPECT_FALSE(moved.isValid());
    EXPECT_EQ(fcntl(fd, F_GETFD), -1) << "descriptor left open";
    EXPECT_EQ(moved.sendTo(bytesOf("x"), Ipv4Endpoint{kLoopback, port}), EBADF);
}

TEST_F(UdpTest, BindingATakenPortFails) {
    int error = -1;
    UdpSocket second = UdpSocket::open(error);
    EXPECT_EQ(second.bindAny(port), EADDRINUSE);
}

TEST_F(UdpTest, DatagramsArriveInOrderWithTheirBytesIncludingEmptyOnes) {
    DatagramReceiver receiver(receiving, inbox.handler(), inbox.onError());
    EXPECT_TRUE(receiver.isRunning());
    send(bytesOf("one"));
    send(Bytes{});
    send(Bytes{0, 0xff, 0x80});
    ASSERT_TRUE(inbox.waitForDatagrams(3));
    EXPECT_EQ(inbox.datagrams(), (std::vector<Bytes>{bytesOf("one"), Bytes{}, Bytes{0, 0xff, 0x80}}));
}

TEST_F(UdpTest, LongestDatagramIsCutToTheReceiveSize) {
    Bytes longest(65507);
    for (std::size_t i = 0; i < longest.size(); ++i) longest[i] = static_cast<std::uint8_t>(i * 7);
    const int sent = sending.sendTo(longest, Ipv4Endpoint{kLoopback, port});
    if (sent == EMSGSIZE) GTEST_SKIP() << "this system sends no datagram that large";
    ASSERT_EQ(sent, 0);
    DatagramReceiver receiver(receiving, inbox.handler(), inbox.onError());
    ASSERT_TRUE(inbox.waitForDatagrams(1));
    const Bytes got = inbox.datagrams().at(0);
    ASSERT_EQ(got.size(), kMaxDatagramSize);
    EXPECT_TRUE(std::equal(got.begin(), got.end(), longest.begin()));
}

TEST_F(UdpTest, StopEndsAnIdleReceiverAtOnceAndThePortCanBeBoundAgain) {
    DatagramReceiver receiver(receiving, inbox.handler(), inbox.onError());
    receiver.stop();
    EXPECT_FALSE(receiver.isRunning());
    EXPECT_TRUE(inbox.datagrams().empty()) << "stopping must not look like an empty datagram";
    EXPECT_NE(fcntl(receiving.descriptor(), F_GETFD), -1) << "the receiver must not close the socket";
    receiving.close();
    int error = -1;
    UdpSocket again = UdpSocket::open(error);
    EXPECT_EQ(again.bindAny(port), 0);
}

TEST_F(UdpTest, NothingIsHandedOnAfterStopReturns) {
    DatagramReceiver receiver(receiving, inbox.handler(), inbox.onError());
    send(bytesOf("before"));
    ASSERT_TRUE(inbox.waitForDatagrams(1));
    receiver.stop();
    send(bytesOf("after"));
    EXPECT_TRUE(waitsUnread(receiving));
    EXPECT_EQ(inbox.datagrams(), std::vector<Bytes>{bytesOf("before")});
}

TEST_F(UdpTest, HandlerExceptionIsReportedAndEndsTheThread) {
    DatagramReceiver receiver(
        receiving, [](ByteView) { throw std::runtime_error("bad datagram"); }, inbox.onError());
    send(bytesOf("first"));
    ASSERT_TRUE(inbox.waitForErrors(1));
    EXPECT_EQ(inbox.errors(), std::vector<std::string>{"bad datagram"});
    send(bytesOf("second"));
    EXPECT_TRUE(waitsUnread(receiving)) << "the thread should have ended";
    receiver.stop();
    EXPECT_FALSE(receiver.isRunning());
    EXPECT_EQ(inbox.errors().size(), 1u);
}

TEST_F(UdpTest, StopTwiceAndDestroyingARunningReceiverAreSafe) {
    {
        DatagramReceiver receiver(receiving, inbox.handler(), inbox.onError());
        receiver.stop();
        receiver.stop();
    }
    {
        DatagramReceiver receiver(receiving, inbox.handler(), inbox.onError());
        send(bytesOf("x"));
        ASSERT_TRUE(inbox.waitForDatagrams(1));
    }
    EXPECT_EQ(inbox.datagrams().size(), 1u);
}

TEST(DatagramReceiver, WithoutASocketReceivesNothing) {
    UdpSocket none;
    Inbox inbox;
    DatagramReceiver receiver(none, inbox.handler(), inbox.onError());
    EXPECT_FALSE(receiver.isRunning());
    receiver.stop();
}

}  // namespace
}  // namespace velto

#include <gtest/gtest.h>
#include <poll.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <new>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "platform/Udp.h"

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

// What a receiver hands on, collected on its thread and read on the test's:
// each datagram as a string, each error as "error: <what>".
class Inbox {
public:
    DatagramReceiver::Handler handler() {
        return [this](ByteView datagram) { add(std::string(datagram.begin(), datagram.end())); };
    }
    DatagramReceiver::ErrorHandler onError() {
        return [this](const std::string& what) { add("error: " + what); };
    }
    bool waitFor(std::size_t count) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, kPatience, [&] { return items_.size() >= count; });
    }
    std::vector<std::string> items() const {
        std::lock_guard lock(mutex_);
        return items_;
    }

private:
    void add(std::string item) {
        std::lock_guard lock(mutex_);
        items_.push_back(std::move(item));
        changed_.notify_all();
    }
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::string> items_;
};

class UdpTest : public ::testing::Test {
protected:
    void SetUp() override {
        receiving = openSocket();
        ASSERT_EQ(receiving.bindAny(0), 0);
        port = receiving.localPort();
        ASSERT_NE(port, 0);
        sending = openSocket();
    }
    static UdpSocket openSocket() {
        int error = -1;
        UdpSocket socket = UdpSocket::open(error);
        EXPECT_EQ(error, 0);
        return socket;
    }
    void send(const Bytes& datagram) {
        ASSERT_EQ(sending.sendTo(datagram, Ipv4Endpoint{kLoopback, port}), 0);
    }

    UdpSocket receiving;
    UdpSocket sending;
    std::uint16_t port = 0;
    Inbox inbox;
};

TEST(ResolveIPv4, GivesTheFirstIPv4AddressOrNothing) {
    EXPECT_EQ(resolveIPv4("127.0.0.1"), kLoopback);
    EXPECT_EQ(resolveIPv4("localhost"), kLoopback);
    EXPECT_EQ(resolveIPv4(""), std::nullopt);
    EXPECT_EQ(resolveIPv4("no-such-host.invalid"), std::nullopt);
}

TEST_F(UdpTest, LongestDatagramIsCutToTheReceiveSize) {
    std::string longest(65507, '\0');
    for (std::size_t i = 0; i < longest.size(); ++i) longest[i] = static_cast<char>(i * 7);
    const int sent = sending.sendTo(bytesOf(longest), Ipv4Endpoint{kLoopback, port});
    if (sent == EMSGSIZE) GTEST_SKIP() << "this system sends no datagram that large";
    ASSERT_EQ(sent, 0);
    DatagramReceiver receiver(receiving, inbox.handler(), inbox.onError());
    ASSERT_TRUE(inbox.waitFor(1));
    EXPECT_TRUE(inbox.items().at(0) == longest.substr(0, kMaxDatagramSize));
}

// stop() returns only once the thread is gone; the socket stays open (and its
// port taken) until its owner closes it, and then the port is free at once.
TEST_F(UdpTest, ReceivesUntilStopWithoutASpuriousDatagramAndClosingFreesThePort) {
    DatagramReceiver receiver(receiving, inbox.handler(), inbox.onError());
    send(bytesOf("before"));
    send(Bytes{});  // a real empty datagram is handed on
    ASSERT_TRUE(inbox.waitFor(2));
    receiver.stop();
    receiver.stop();
    EXPECT_FALSE(receiver.isRunning());
    send(bytesOf("after"));
    EXPECT_TRUE(waitsUnread(receiving));
    EXPECT_EQ(inbox.items(), (std::vector<std::string>{"before", ""}))
        << "stopping is no empty datagram";
    UdpSocket again = openSocket();
    EXPECT_EQ(again.bindAny(port), EADDRINUSE);
    receiving.close();
    EXPECT_EQ(again.bindAny(port), 0);
}

TEST_F(UdpTest, HandlerExceptionLosesOnlyItsDatagramAndTheThreadGoesOn) {
    bool failed = false;  // on the receive thread only
    DatagramReceiver receiver(
        receiving,
        [&](ByteView datagram) {
            if (!std::exchange(failed, true)) throw std::bad_alloc();
            inbox.handler()(datagram);
        },
        inbox.onError());
    send(bytesOf("first"));
    ASSERT_TRUE(inbox.waitFor(1));
    send(bytesOf("second"));
    ASSERT_TRUE(inbox.waitFor(2)) << "the thread ended";
    EXPECT_TRUE(receiver.isRunning());
    receiver.stop();
    EXPECT_EQ(inbox.items(), (std::vector<std::string>{"error: std::bad_alloc", "second"}));
}

}  // namespace
}  // namespace velto

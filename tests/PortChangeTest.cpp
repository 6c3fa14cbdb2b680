// Ports changed with SIGHUP while datagrams keep arriving. After each reload
// that velto confirms: the old listen ports are free (velto reads nothing
// there any more, we can bind them), the new ones answer each press exactly
// once, nothing caused after the reload reaches the old peers, and velto holds
// exactly as many descriptors and threads as before (/proc/PID).
//
// A traffic thread sends presses and reports throughout, at a pace velto
// follows even in a sanitizer build, to the ports in use at that moment; it
// keeps sending to the old ones for a moment after each switch.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>

#include "platform/Udp.h"
#include "support/LoopbackUdp.h"
#include "support/VeltoProcess.h"

namespace velto {
namespace {

using namespace std::chrono_literals;
using test::PeerRecorder;
using test::Recording;
using test::VeltoPorts;
using test::VeltoProcess;

constexpr auto kLimit = 5000ms;
constexpr std::uint32_t kLoopback = 0x7F000001;  // 127.0.0.1
constexpr int kReloads = 4;
constexpr int kMarkersPerReload = 3;

// Markers go to layer 2's slider (the grid's row 2, counted from the top as
// the grid counts); the traffic uses the sliders of layers 1 and 3.
const std::string kMarkerAddress = "/stagevue/layer/media/time/2";

bool portIsFree(std::uint16_t port) {
    int error = 0;
    UdpSocket socket = UdpSocket::open(error);
    return socket.isValid() && socket.bindAny(port) == 0;
}

// Sends presses to the grid port and reports to the video port in use, until stopped.
class Traffic {
public:
    explicit Traffic(const VeltoPorts& ports)
        : monomePort_(ports.monomeListen), stagevuePort_(ports.stagevueListen) {
        thread_ = std::thread([this] { run(); });
    }
    ~Traffic() {
        stop_.store(true);
        thread_.join();
    }
    void retarget(const VeltoPorts& ports) {
        monomePort_.store(ports.monomeListen);
        stagevuePort_.store(ports.stagevueListen);
    }
    std::uint64_t sent() const { return sent_.load(); }

private:
    void run() {
        int error = 0;
        UdpSocket socket = UdpSocket::open(error);
        const Bytes presses[] = {test::pressDatagram(1, 3, 1), test::pressDatagram(6, 1, 1)};
        const Bytes report = test::floatDatagram("/stagevue/layer/media/time/3", 0.5f);
        for (std::uint64_t i = 0; !stop_.load(); ++i) {
            socket.sendTo(presses[i % 2], Ipv4Endpoint{kLoopback, monomePort_.load()});
            socket.sendTo(report, Ipv4Endpoint{kLoopback, stagevuePort_.load()});
            sent_.fetch_add(2);
            std::this_thread::sleep_for(1ms);  // the pace of the traffic, not a wait
        }
    }

    std::atomic<std::uint16_t> monomePort_;
    std::atomic<std::uint16_t> stagevuePort_;
    std::atomic<bool> stop_{false};
    std::atomic<std::uint64_t> sent_{0};
    std::thread thread_;
};

std::size_t markerCount(const PeerRecorder& video) {
    return video.snapshot().valuesFor(kMarkerAddress).size();
}

// The cell that the marker report at 0.875 lights: column 7 of layer 2's row.
bool hasMarkerLight(const Recording& recording) {
    for (const auto& light : recording.lights) {
        if (light.x == 7 && light.y == 2 && light.state == 1) return true;
    }
    return false;
}

TEST(PortChangeTest, SighupMovesEveryEndpointUnderTrafficWithoutStrayReadsOrLeakedDescriptors) {
    if (!test::canReadProcessStats()) GTEST_SKIP() << "this system gives no process statistics";
    VeltoProcess velto(VELTO_EXECUTABLE);
    ASSERT_TRUE(velto.waitUntilStarted(kLimit)) << velto.process().transcript();
    const auto start = velto.stats();
    ASSERT_TRUE(start.has_value());

    // Two pairs of peers; each reload moves the send ports to the other pair.
    PeerRecorder otherVideo;
    PeerRecorder otherGrid;
    PeerRecorder* videoPeers[] = {&velto.video(), &otherVideo};
    PeerRecorder* gridPeers[] = {&velto.grid(), &otherGrid};

    Traffic traffic(velto.ports());
    ASSERT_TRUE(
        velto.video().waitFor([](const Recording& r) { return r.values.size() >= 4; }, kLimit))
        << "no traffic answered before the first reload\n"
        << velto.process().transcript();

    std::size_t markersSent = 0;
    for (int reload = 1; reload <= kReloads; ++reload) {
        SCOPED_TRACE("reload " + std::to_string(reload));
        const VeltoPorts old = velto.ports();
        const auto listen = test::freeLoopbackUdpPorts(2);
        PeerRecorder& video = *videoPeers[reload % 2];
        PeerRecorder& grid = *gridPeers[reload % 2];
        PeerRecorder& oldVideo = *videoPeers[(reload + 1) % 2];
        PeerRecorder& oldGrid = *gridPeers[(reload + 1) % 2];
        const VeltoPorts next{video.port(), listen[0], grid.port(), listen[1]};

        ASSERT_TRUE(velto.reloadWithPorts(next, kLimit)) << velto.process().transcript();
        traffic.retarget(next);
        // The old senders flushed on their way out, before velto confirmed;
        // what they sent may still be on its way to the old peers, but no
        // marker and no marker's light can be among it.
        oldVideo.clear();
        oldGrid.clear();
        video.clear();
        grid.clear();

        EXPECT_TRUE(portIsFree(old.stagevueListen)) << "velto still holds the old video app port";
        EXPECT_TRUE(portIsFree(old.monomeListen)) << "velto still holds the old grid port";

        // Markers through the new grid port, one at a time, each answered at
        // the new video peer.
        for (int i = 0; i < kMarkersPerReload; ++i) {
            const std::size_t expected = static_cast<std::size_t>(i) + 1;
            ASSERT_TRUE(velto.sendToMonome(test::pressDatagram(2 + i, 2, 1)));
            ASSERT_TRUE(video.waitFor(
                [&](const Recording& r) { return r.valuesFor(kMarkerAddress).size() >= expected; },
                kLimit))
                << "marker " << i << " was not answered at the new video port\n"
                << velto.process().transcript();
        }
        markersSent += kMarkersPerReload;
        // A report at the new video app port lights the grid's row of that slider.
        ASSERT_TRUE(velto.sendToStagevue(test::floatDatagram(kMarkerAddress, 0.875f)));
        ASSERT_TRUE(grid.waitFor(hasMarkerLight, kLimit))
            << "the report at the new video app port was not drawn\n"
            << velto.process().transcript();

        // Each marker answered once: no second listener read it.
        EXPECT_EQ(markerCount(video), static_cast<std::size_t>(kMarkersPerReload));
        EXPECT_EQ(markerCount(oldVideo), 0u) << "a marker reached the old video peer";
        EXPECT_FALSE(hasMarkerLight(oldGrid.snapshot()))
            << "the marker's light reached the old grid peer";

        const auto now = velto.stats();
        ASSERT_TRUE(now.has_value());
        EXPECT_EQ(now->openDescriptors, start->openDescriptors);
        EXPECT_EQ(now->threads, start->threads);
    }
    EXPECT_EQ(markersSent, static_cast<std::size_t>(kReloads * kMarkersPerReload));
    EXPECT_GT(traffic.sent(), 0u);

    const auto status = velto.terminate(kLimit);
    ASSERT_TRUE(status.has_value()) << "velto did not end on SIGTERM";
    EXPECT_EQ(*status, test::ExitStatus::exitedWith(0)) << velto.process().transcript();
}

}  // namespace
}  // namespace velto

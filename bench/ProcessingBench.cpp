// Velto's own work per received datagram, in process: a whole controller on
// the system clock with its real senders and listeners on loopback, fed the
// datagram as its listener hands it over (dispatchRawPacket). The time runs
// from the call until it returns with every message queued on the senders;
// the flush that follows (encoding and sendto at the next 10 ms slot) is done
// untimed after each iteration, so that every iteration starts from idle
// senders, as a press does in use.
//
//   bench/ProcessingBench [--benchmark_filter=SliderPress]
//
// Each benchmark also reports the median, 99th percentile and maximum of its
// single iterations (p50_ns, p99_ns, max_ns). ReceivePath measures what comes
// before: a datagram sent on loopback until the controller's dispatch starts
// on the main thread (the receive thread, the hand-off queue and the main
// loop's wake-up).

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "VeltoController.h"
#include "common/osc/HJOSCAddress.h"
#include "common/osc/HJOSCArgument.h"
#include "common/osc/HJOSCMessage.h"
#include "common/osc/HJOSCSender.h"
#include "platform/Clock.h"
#include "platform/Log.h"
#include "platform/RunLoop.h"
#include "platform/SettingsStore.h"
#include "platform/Udp.h"
#include "ui/VTVerticalFader.h"

namespace {

using namespace velto;
using SteadyClock = std::chrono::steady_clock;

constexpr std::uint32_t kLoopback = 0x7F000001;

Bytes encodeMessage(const std::string& address, std::vector<HJOSCArgument> arguments) {
    auto message = HJOSCMessage::messageWithHJOSCAddress(HJOSCAddress::addressWithString(address));
    for (auto& argument : arguments) message->attachArgument(std::move(argument));
    Bytes bytes;
    message->appendPacketizedData(bytes);
    return bytes;
}

Bytes press(std::int32_t x, std::int32_t y, std::int32_t state) {
    return encodeMessage("/monome/press", {HJOSCArgument::withInt(x), HJOSCArgument::withInt(y),
                                           HJOSCArgument::withInt(state)});
}

UdpSocket boundSocket() {
    int error = 0;
    UdpSocket socket = UdpSocket::open(error);
    if (!socket.isValid() || socket.bindAny(0) != 0)
        throw std::runtime_error("cannot bind a UDP socket");
    return socket;
}

// A port that was free a moment ago.
std::uint16_t freePort() { return boundSocket().localPort(); }

// The controller with its two peers: sockets that nobody reads (the system
// drops what overflows them).
struct Bridge {
    Bridge() {
        settings.setIntegerForKey(video.localPort(), "stagevueSendPort");
        settings.setIntegerForKey(freePort(), "stagevueListenPort");
        settings.setIntegerForKey(grid.localPort(), "monomeSendPort");
        settings.setIntegerForKey(freePort(), "monomeListenPort");
        controller = std::make_shared<VeltoController>(settings, loop);
        controller->awakeFromNib();
        flush();
    }
    ~Bridge() { controller.reset(); }

    void flush() {
        controller->stagevueSender()->sendMainBundle();
        controller->monomeSender()->sendMainBundle();
    }

    SystemClock clock;
    RunLoop loop{clock};
    MemorySettingsStore settings;
    UdpSocket video = boundSocket();
    UdpSocket grid = boundSocket();
    std::shared_ptr<VeltoController> controller;
};

// Per-iteration times, reported as percentiles with the benchmark's mean.
class Samples {
public:
    void add(SteadyClock::duration time) { samples_.push_back(time); }

    void report(benchmark::State& state) {
        if (samples_.empty()) return;
        std::sort(samples_.begin(), samples_.end());
        const auto at = [&](double q) {
            const auto index =
                static_cast<std::size_t>(q * static_cast<double>(samples_.size() - 1));
            return static_cast<double>(
                std::chrono::duration_cast<std::chrono::nanoseconds>(samples_[index]).count());
        };
        state.counters["p50_ns"] = at(0.50);
        state.counters["p99_ns"] = at(0.99);
        state.counters["max_ns"] = at(1.0);
    }

private:
    std::vector<SteadyClock::duration> samples_;
};

// Times dispatchRawPacket for each datagram in turn; flushes untimed.
void timeDispatch(benchmark::State& state, const std::vector<Bytes>& datagrams) {
    Bridge bridge;
    Samples samples;
    std::size_t next = 0;
    for (auto _ : state) {
        const Bytes& datagram = datagrams[next];
        next = (next + 1) % datagrams.size();
        const auto start = SteadyClock::now();
        bridge.controller->dispatchRawPacket(datagram);
        const auto time = SteadyClock::now() - start;
        state.SetIterationTime(std::chrono::duration<double>(time).count());
        samples.add(time);
        bridge.flush();
    }
    samples.report(state);
}

// A press on the slider of layer 1: one value and eight lights queued.
void SliderPress(benchmark::State& state) {
    std::vector<Bytes> presses;
    for (std::int32_t column = 0; column < 8; ++column) presses.push_back(press(column, 3, 1));
    timeDispatch(state, presses);
}
BENCHMARK(SliderPress)->UseManualTime();

// A press and a release on a fader: each starts a fade (a timer), nothing is
// queued until its first tick.
void FaderPressAndRelease(benchmark::State& state) {
    timeDispatch(state, {press(3, 4, 1), press(3, 4, 0), press(3, 6, 1), press(3, 6, 0)});
}
BENCHMARK(FaderPressAndRelease)->UseManualTime();

// A value reported by the video app for a slider: its row redrawn, nothing sent back.
void VideoReport(benchmark::State& state) {
    std::vector<Bytes> reports;
    for (int i = 0; i < 8; ++i) {
        reports.push_back(encodeMessage("/stagevue/layer/media/time/2",
                                        {HJOSCArgument::withFloat(static_cast<float>(i) / 8.0f)}));
    }
    timeDispatch(state, reports);
}
BENCHMARK(VideoReport)->UseManualTime();

// Datagrams that the decoder throws away.
void MalformedDatagram(benchmark::State& state) {
    Bytes cut = press(1, 3, 1);
    cut.resize(30);
    const std::string garbage = "not OSC at all";
    timeDispatch(state, {cut, Bytes(garbage.begin(), garbage.end()), Bytes{}});
}
BENCHMARK(MalformedDatagram)->UseManualTime();

// One tick of a running fade: a level and three lights queued.
void FadeTick(benchmark::State& state) {
    Bridge bridge;
    auto* fader = dynamic_cast<VTVerticalFader*>(bridge.controller->controls().front().get());
    Samples samples;
    for (auto _ : state) {
        if (!fader->isFading())
            fader->changeToWithTime(fader->currentValue() < 50.0f ? 100.0f : 0.0f, 2000.0f);
        const auto start = SteadyClock::now();
        fader->processChange();
        const auto time = SteadyClock::now() - start;
        state.SetIterationTime(std::chrono::duration<double>(time).count());
        samples.add(time);
        bridge.flush();
    }
    samples.report(state);
}
BENCHMARK(FadeTick)->UseManualTime();

// The flush of a slider press's bundles: the value to the video app and the
// eight lights to the grid, each encoded and sent as one datagram.
void FlushAfterSliderPress(benchmark::State& state) {
    Bridge bridge;
    const Bytes datagram = press(4, 3, 1);
    Samples samples;
    for (auto _ : state) {
        bridge.controller->dispatchRawPacket(datagram);
        const auto start = SteadyClock::now();
        bridge.flush();
        const auto time = SteadyClock::now() - start;
        state.SetIterationTime(std::chrono::duration<double>(time).count());
        samples.add(time);
    }
    samples.report(state);
}
BENCHMARK(FlushAfterSliderPress)->UseManualTime();

// A datagram sent on loopback until the delegate runs on the main thread: the
// listener's receive thread wakes, copies and posts, and the main loop wakes.
class StampingDelegate final : public HJOSCListenerDelegate {
public:
    explicit StampingDelegate(RunLoop& loop) : loop_(loop) {}
    void dispatchRawPacket(ByteView) override {
        arrived = SteadyClock::now();
        loop_.stop();
    }
    SteadyClock::time_point arrived;

private:
    RunLoop& loop_;
};

void ReceivePath(benchmark::State& state) {
    SystemClock clock;
    RunLoop loop(clock);
    HJOSCListener listener(loop);
    listener.startListeningOnPort(0);
    auto delegate = std::make_shared<StampingDelegate>(loop);
    listener.setDelegate(delegate);
    UdpSocket out = boundSocket();
    const Bytes datagram = press(4, 3, 1);
    const Ipv4Endpoint to{kLoopback, listener.localPort()};
    Samples samples;
    for (auto _ : state) {
        const auto start = SteadyClock::now();
        out.sendTo(datagram, to);
        loop.run();  // until the delegate stops it
        const auto time = delegate->arrived - start;
        state.SetIterationTime(std::chrono::duration<double>(time).count());
        samples.add(time);
    }
    samples.report(state);
    listener.stopListening();
}
BENCHMARK(ReceivePath)->UseManualTime();

// How late the main loop fires a timer: a one-shot timer due 1 to 10 ms ahead
// (a flush slot, a fade tick), from its due time until its callback runs.
// Every datagram leaves in such a callback, so this adds to the latency.
void TimerLateness(benchmark::State& state) {
    SystemClock clock;
    RunLoop loop(clock);
    std::uint64_t seed = 88172645463325252ull;  // xorshift: no allocation, no locale
    Samples samples;
    for (auto _ : state) {
        seed ^= seed << 13;
        seed ^= seed >> 7;
        seed ^= seed << 17;
        const Duration ahead = std::chrono::microseconds(1000 + seed % 9000);
        const Instant due = clock.now() + ahead;
        Instant fired{};
        auto timer = loop.scheduleTimerAt(due, ahead, false, [&] {
            fired = clock.now();
            loop.stop();
        });
        loop.run();
        const auto late = fired - due;
        state.SetIterationTime(std::chrono::duration<double>(late).count());
        samples.add(late);
    }
    samples.report(state);
}
BENCHMARK(TimerLateness)->UseManualTime()->Iterations(1000);

}  // namespace

BENCHMARK_MAIN();

// velto-latency: measures a running velto from outside, over loopback, with the
// project's own UDP layer standing in for the grid and the video app.
//
//   velto-latency [options] [mode...]
//
// Modes (default: idle latency fade flood):
//   idle      wake-ups (voluntary context switches), CPU time and resident
//             memory of velto while nothing happens
//   latency   a "/monome/press" on a slider cell sent to velto, until its value
//             datagram arrives at the video app's port: p50, p99, max
//   fade      a fader held until its fade ends: the tick period as the video
//             app receives it, and its jitter
//   flood     what loopback carries (a bare receive thread), then a flood of
//             presses and malformed datagrams to velto: datagrams handled per
//             second, memory, and the answer time of a press sent after it
//   abuse     bursts at both listen ports: 100 fan-out bundles (1,800
//             "/stagevue/layerNumber" messages each), then 2,000 datagrams of
//             65 KB during a fade; peak memory, fade tick intervals, the answer
//             time of a press after each burst; then press latency with two
//             busy processes loading the machine
//   soak      random presses, releases and reports for --soak-seconds, with
//             resident memory sampled every 10 s; every fader must end on its
//             last target
//
// Options:
//   --velto PATH          the velto to start (default: the one of this build)
//   --attach PID PORTS    measure a velto already running, PORTS being its
//                         stagevueSend,stagevueListen,monomeSend,monomeListen;
//                         its send ports must be free for this tool to bind
//   --presses N           latency samples (default 2000)
//   --fades N             fades to time (default 8)
//   --flood N             datagrams in the flood (default 1000000)
//   --idle-seconds S      idle window (default 10)
//   --soak-seconds S      soak length (default 180)
//
// The process's own cost per press (press received to message queued) is
// measured in process by ProcessingBench.

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/Udp.h"
#include "support/PeerRecorder.h"
#include "support/ProcessStats.h"
#include "support/VeltoProcess.h"

namespace {

using namespace std::chrono_literals;
using velto::Bytes;
using velto::ByteView;
using velto::Ipv4Endpoint;
using velto::UdpSocket;
using velto::test::PeerRecorder;
using velto::test::ProcessStats;
using velto::test::Recording;
using velto::test::VeltoPorts;
using SteadyClock = std::chrono::steady_clock;

constexpr std::uint32_t kLoopback = 0x7F000001;
const std::string kSlider1 = "/stagevue/layer/media/time/1";  // the grid's row 3, from the top
const std::string kSlider4 = "/stagevue/layer/media/time/4";  // the grid's row 0
const std::string kOpacity1 = "/stagevue/layer/opacity/1";    // column 3, the grid's rows 4 to 6
const std::vector<std::string> kFaderAddresses{
    "/stagevue/layer/opacity/4",     "/stagevue/layer/opacity/3",
    "/stagevue/layer/opacity/2",     "/stagevue/layer/opacity/1",
    "/stagevue/layer/media/speed/4", "/stagevue/layer/media/speed/3",
    "/stagevue/layer/media/speed/2", "/stagevue/layer/media/speed/1"};

struct Options {
    std::string velto = VELTO_EXECUTABLE;
    std::optional<pid_t> attachPid;
    VeltoPorts attachPorts;
    int presses = 2000;
    int fades = 8;
    long flood = 1'000'000;
    int idleSeconds = 10;
    int soakSeconds = 180;
    std::vector<std::string> modes;
};

[[noreturn]] void usage(const std::string& problem) {
    std::cerr << "velto-latency: " << problem
              << "\nusage: velto-latency [--velto PATH] [--attach PID SSEND,SLISTEN,MSEND,MLISTEN] "
                 "[--presses N]"
                 " [--fades N] [--flood N] [--idle-seconds S] [--soak-seconds S]"
                 " [idle] [latency] [fade] [flood] [soak] [abuse]\n";
    std::exit(2);
}

Options parse(int argc, char** argv) {
    Options options;
    const auto number = [&](int& i) -> long {
        if (i + 1 >= argc) usage(std::string(argv[i]) + " needs a value");
        char* end = nullptr;
        const long value = std::strtol(argv[++i], &end, 10);
        if (*end != '\0' || value <= 0) usage(std::string("not a positive number: ") + argv[i]);
        return value;
    };
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--velto" && i + 1 < argc) {
            options.velto = argv[++i];
        } else if (argument == "--attach" && i + 2 < argc) {
            options.attachPid = static_cast<pid_t>(std::strtol(argv[++i], nullptr, 10));
            std::istringstream ports(argv[++i]);
            char comma = 0;
            unsigned a = 0, b = 0, c = 0, d = 0;
            if (!(ports >> a >> comma >> b >> comma >> c >> comma >> d))
                usage("--attach needs PID and four ports");
            options.attachPorts = {static_cast<std::uint16_t>(a), static_cast<std::uint16_t>(b),
                                   static_cast<std::uint16_t>(c), static_cast<std::uint16_t>(d)};
        } else if (argument == "--presses") {
            options.presses = static_cast<int>(number(i));
        } else if (argument == "--fades") {
            options.fades = static_cast<int>(number(i));
        } else if (argument == "--flood") {
            options.flood = number(i);
        } else if (argument == "--idle-seconds") {
            options.idleSeconds = static_cast<int>(number(i));
        } else if (argument == "--soak-seconds") {
            options.soakSeconds = static_cast<int>(number(i));
        } else if (argument == "idle" || argument == "latency" || argument == "fade" ||
                   argument == "flood" || argument == "soak" || argument == "abuse") {
            options.modes.push_back(argument);
        } else {
            usage("unknown argument " + argument);
        }
    }
    if (options.modes.empty()) options.modes = {"idle", "latency", "fade", "flood"};
    return options;
}

// --- The velto under measurement ------------------------------------------------------

// Either a velto started here, or one already running that this tool joins
// by binding its send ports.
class Subject {
public:
    explicit Subject(const Options& options) {
        if (options.attachPid) {
            pid_ = *options.attachPid;
            ports_ = options.attachPorts;
            ownVideo_ = std::make_unique<PeerRecorder>(ports_.stagevueSend);
            ownGrid_ =
                std::make_unique<PeerRecorder>(ports_.monomeSend, PeerRecorder::Keep::countOnly);
            video_ = ownVideo_.get();
            grid_ = ownGrid_.get();
        } else {
            started_ = std::make_unique<velto::test::VeltoProcess>(
                options.velto, velto::test::VeltoProcess::Options{.countOnlyGrid = true});
            if (!started_->waitUntilStarted(10s)) {
                std::cerr << "velto did not start:\n" << started_->process().transcript();
                std::exit(1);
            }
            pid_ = started_->pid();
            ports_ = started_->ports();
            video_ = &started_->video();
            grid_ = &started_->grid();
        }
        int error = 0;
        out_ = UdpSocket::open(error);
    }

    ~Subject() {
        if (started_) {
            const auto status = started_->terminate(10s);
            if (!status) {
                std::cout << "\nvelto did not end on SIGTERM\n";
            } else if (!(*status == velto::test::ExitStatus::exitedWith(0))) {
                std::cout << "\nvelto ended with " << *status << ":\n"
                          << started_->process().transcript();
            }
        }
    }

    pid_t pid() const { return pid_; }
    PeerRecorder& video() { return *video_; }
    PeerRecorder& grid() { return *grid_; }
    UdpSocket& socket() { return out_; }
    Ipv4Endpoint monome() const { return {kLoopback, ports_.monomeListen}; }
    Ipv4Endpoint stagevue() const { return {kLoopback, ports_.stagevueListen}; }
    bool alive() const { return velto::test::readProcessStats(pid_).has_value(); }

    ProcessStats stats() const {
        const auto stats = velto::test::readProcessStats(pid_);
        if (!stats) {
            if (velto::test::canReadProcessStats()) {
                std::cerr << "velto (pid " << pid_ << ") is gone\n";
            } else {
                std::cerr << "velto-latency: this system gives no process statistics\n";
            }
            std::exit(1);
        }
        return *stats;
    }

    void sendToMonome(ByteView datagram) { out_.sendTo(datagram, monome()); }
    void sendToStagevue(ByteView datagram) { out_.sendTo(datagram, stagevue()); }

    // Until neither peer has received anything for a while: velto is idle.
    void settle() {
        video_->waitForQuiet(300ms, 30s);
        grid_->waitForQuiet(300ms, 30s);
    }

private:
    std::unique_ptr<velto::test::VeltoProcess> started_;
    std::unique_ptr<PeerRecorder> ownVideo_;
    std::unique_ptr<PeerRecorder> ownGrid_;
    PeerRecorder* video_ = nullptr;
    PeerRecorder* grid_ = nullptr;
    pid_t pid_ = 0;
    VeltoPorts ports_;
    UdpSocket out_;
};

// --- Figures -----------------------------------------------------------------------

double ms(SteadyClock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

struct Distribution {
    std::vector<double> sorted;
    explicit Distribution(std::vector<double> values) : sorted(std::move(values)) {
        std::sort(sorted.begin(), sorted.end());
    }
    double at(double q) const {
        if (sorted.empty()) return NAN;
        return sorted[static_cast<std::size_t>(
            std::lround(q * static_cast<double>(sorted.size() - 1)))];
    }
    double mean() const {
        double sum = 0;
        for (const double v : sorted) sum += v;
        return sorted.empty() ? NAN : sum / static_cast<double>(sorted.size());
    }
};

void line(const std::string& what, const std::string& value) {
    std::printf("  %-44s %s\n", what.c_str(), value.c_str());
}

std::string fixed(double value, int decimals = 3) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

// --- Idle ---------------------------------------------------------------------------

void measureIdle(Subject& subject, int seconds, const std::string& when) {
    subject.settle();
    const ProcessStats before = subject.stats();
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    const ProcessStats after = subject.stats();
    const double s = seconds;
    std::printf("idle (%s), over %d s:\n", when.c_str(), seconds);
    line("wake-ups/s, main thread (/proc/PID/status)",
         fixed(static_cast<double>(after.mainThreadVoluntarySwitches -
                                   before.mainThreadVoluntarySwitches) /
                   s,
               2));
    line("wake-ups/s, all " + std::to_string(after.threads) + " threads",
         fixed(static_cast<double>(after.voluntarySwitches - before.voluntarySwitches) / s, 2));
    line("CPU time over the window (ms)", fixed(ms(after.cpuTime - before.cpuTime), 3));
    line("resident memory VmRSS (KiB)", std::to_string(after.residentKiB));
    line("peak resident memory VmHWM (KiB)", std::to_string(after.peakResidentKiB));
    line("open descriptors", std::to_string(after.openDescriptors));
}

// --- Latency ------------------------------------------------------------------------

void measureLatency(Subject& subject, int presses) {
    subject.settle();
    std::mt19937 rng(1);
    std::vector<double> latencies;
    for (int i = 0; i < presses; ++i) {
        // Each press brings exactly one value: clear, so that the wait looks
        // at this press's answer only.
        subject.video().clear();
        const Bytes press = velto::test::pressDatagram(static_cast<std::int32_t>(i % 8), 3, 1);
        const auto sent = SteadyClock::now();
        subject.sendToMonome(press);
        SteadyClock::time_point arrived;
        const bool answered = subject.video().waitFor(
            [&](const Recording& r) {
                for (const auto& value : r.values) {
                    if (value.address == kSlider1) {
                        arrived = value.arrived;
                        return true;
                    }
                }
                return false;
            },
            1s);
        if (answered) latencies.push_back(ms(arrived - sent));
        // A random pause, so that presses fall at every phase of the 10 ms
        // flush schedule; the lights of this press leave meanwhile.
        std::this_thread::sleep_for(std::chrono::microseconds(1000 + rng() % 10'000));
    }
    const Distribution d(latencies);
    std::printf(
        "latency, press sent to value datagram received at the video app's port, %zu presses:\n",
        latencies.size());
    line("p50 (ms)", fixed(d.at(0.50)));
    line("p99 (ms)", fixed(d.at(0.99)));
    line("max (ms)", fixed(d.at(1.0)));
    line("mean (ms)", fixed(d.mean()));
    line("min (ms)", fixed(d.at(0.0)));
    line("unanswered within 1 s", std::to_string(presses - static_cast<int>(latencies.size())));
}

// --- Fade ---------------------------------------------------------------------------

// A fader held at its top (or bottom) fades over 2000 ms, one level every
// 25 ms tick. The video app receives each level at the sender's next 10 ms
// slot, so single intervals on the wire alternate between 20 and 30 ms; two
// ticks span 50 ms, a whole number of slots, so that span shows the timers'
// own jitter.
void measureFade(Subject& subject, int fades) {
    std::vector<double> intervals;
    std::vector<double> slotDeviations;  // single intervals off the nearest multiple of 10 ms
    std::vector<double> spanDeviations;  // two-tick spans off 50 ms
    std::vector<double> periods;         // whole fade: time / ticks
    for (int f = 0; f < fades; ++f) {
        const bool up = f % 2 == 0;
        const std::int32_t row = up ? 4 : 6;  // top (level 100) or bottom (level 0) of column 3
        const float target = up ? 100.0f : 0.0f;
        subject.settle();
        subject.video().clear();
        subject.sendToMonome(velto::test::pressDatagram(3, row, 1));
        const bool ended = subject.video().waitFor(
            [&](const Recording& r) {
                return !r.values.empty() && r.values.back().address == kOpacity1 &&
                       r.values.back().value == target;
            },
            10s);
        const auto values = subject.video().snapshot().valuesFor(kOpacity1);
        subject.sendToMonome(velto::test::pressDatagram(3, row, 0));
        if (!ended || values.size() < 3) {
            std::printf("fade %d did not end on %g\n", f, target);
            continue;
        }
        for (std::size_t j = 0; j + 1 < values.size(); ++j) {
            const double d = ms(values[j + 1].arrived - values[j].arrived);
            intervals.push_back(d);
            slotDeviations.push_back(std::fabs(d - 10.0 * std::round(d / 10.0)));
            if (j + 2 < values.size()) {
                spanDeviations.push_back(
                    std::fabs(ms(values[j + 2].arrived - values[j].arrived) - 50.0));
            }
        }
        periods.push_back(ms(values.back().arrived - values.front().arrived) /
                          static_cast<double>(values.size() - 1));
    }
    const Distribution i(intervals);
    const Distribution slot(slotDeviations);
    const Distribution span(spanDeviations);
    const Distribution period(periods);
    std::size_t near20 = 0;
    std::size_t near30 = 0;
    for (const double d : intervals) {
        if (std::fabs(d - 20.0) < 2.0) ++near20;
        if (std::fabs(d - 30.0) < 2.0) ++near30;
    }
    std::printf("fade ticks as received by the video app, %d fades, %zu intervals:\n", fades,
                intervals.size());
    line("tick period over each fade, mean (ms)", fixed(period.mean()));
    line("interval p50 (ms)", fixed(i.at(0.5)));
    line("intervals near 20 ms / near 30 ms",
         std::to_string(near20) + " / " + std::to_string(near30));
    line("two-tick span off 50 ms: p99 (ms)", fixed(span.at(0.99)));
    line("two-tick span off 50 ms: max (ms)", fixed(span.at(1.0)));
    line("interval off its 10 ms slot: p99 (ms)", fixed(slot.at(0.99)));
    line("interval off its 10 ms slot: max (ms)", fixed(slot.at(1.0)));
}

// --- Flood --------------------------------------------------------------------------

// Half valid slider presses, half datagrams that the decoder throws away.
std::vector<Bytes> floodMix() {
    const auto text = [](std::string_view t) { return Bytes(t.begin(), t.end()); };
    Bytes cut = velto::test::pressDatagram(1, 3, 1);
    cut.resize(30);
    const std::vector<Bytes> junk{
        cut,
        Bytes{},
        text("garbage that is not OSC at all"),
        text(std::string_view("/monome/press\0\0\0,iii", 20)),
        text(std::string_view("#bundle\0\0\0\0\0\0\0\0\1\0\0\0\x40", 20)),
        text(std::string_view("/b\0\0,b\0\0\0\0\0\x64\0\0\0\0", 16)),
        text("#bun"),
    };
    std::vector<Bytes> mix;
    for (std::size_t column = 0; column < 7; ++column) {
        mix.push_back(velto::test::pressDatagram(static_cast<std::int32_t>(column), 3, 1));
        mix.push_back(junk[column]);
    }
    return mix;
}

void measureFlood(Subject& subject, long count) {
    const auto mix = floodMix();
    const Bytes report = velto::test::floatDatagram("/stagevue/layer/media/time/2", 0.25f);
    std::printf("flood of %ld datagrams (half of those to the grid port are slider presses):\n",
                count);

    // What loopback carries here: the same datagrams to a bare receive thread.
    {
        int error = 0;
        UdpSocket sink = UdpSocket::open(error);
        sink.bindAny(0);
        std::atomic<std::uint64_t> received{0};
        std::atomic<std::int64_t> lastArrival{0};
        velto::DatagramReceiver receiver(
            sink,
            [&](ByteView) {
                received.fetch_add(1, std::memory_order_relaxed);
                lastArrival.store(SteadyClock::now().time_since_epoch().count(),
                                  std::memory_order_relaxed);
            },
            [](const std::string&) {});
        const Ipv4Endpoint to{kLoopback, sink.localPort()};
        const auto start = SteadyClock::now();
        for (long i = 0; i < count; ++i)
            subject.socket().sendTo(mix[static_cast<std::size_t>(i) % mix.size()], to);
        const auto sent = SteadyClock::now();
        std::uint64_t seen = 0;
        do {
            seen = received.load();
            std::this_thread::sleep_for(200ms);
        } while (received.load() != seen);
        receiver.stop();
        const SteadyClock::time_point last{SteadyClock::duration(lastArrival.load())};
        line("loopback: sent per second",
             fixed(static_cast<double>(count) / std::chrono::duration<double>(sent - start).count(),
                   0));
        line("loopback: received by a bare thread",
             std::to_string(seen) + " (" +
                 fixed(100.0 * static_cast<double>(seen) / static_cast<double>(count), 1) + " %)");
        line("loopback: received per second",
             fixed(static_cast<double>(seen) / std::chrono::duration<double>(last - start).count(),
                   0));
    }

    subject.settle();
    subject.video().clear();
    const ProcessStats before = subject.stats();
    long presses = 0;
    const auto start = SteadyClock::now();
    for (long i = 0; i < count; ++i) {
        if (i % 8 == 7) {
            subject.sendToStagevue(i % 16 == 15 ? mix[1] : report);
        } else {
            const auto& datagram = mix[static_cast<std::size_t>(i) % mix.size()];
            if (i % 2 == 0) ++presses;
            subject.sendToMonome(datagram);
        }
    }
    const auto sent = SteadyClock::now();
    // A press that the flood did not contain, sent right after it. It waits
    // behind whatever velto still holds of the flood, and while velto's socket
    // is full the system drops it as it drops the flood: it is sent again every
    // 10 ms until answered, and timed from the end of the flood.
    const Bytes probe = velto::test::pressDatagram(5, 0, 1);
    SteadyClock::time_point probeArrived;
    int probes = 0;
    const auto isAnswered = [&](const Recording& r) {
        int looked = 0;
        for (auto it = r.values.rbegin(); it != r.values.rend() && looked < 512; ++it, ++looked) {
            if (it->address == kSlider4) {
                probeArrived = it->arrived;
                return true;
            }
        }
        return false;
    };
    bool answered = false;
    while (!answered && probes < 3000) {
        subject.sendToMonome(probe);
        ++probes;
        answered = subject.video().waitFor(isAnswered, 10ms);
    }
    const ProcessStats peak = subject.stats();
    subject.video().waitForQuiet(300ms, 30s);
    const auto recording = subject.video().snapshot();
    std::size_t answers = 0;
    SteadyClock::time_point lastAnswer = start;
    for (const auto& value : recording.values) {
        if (value.address == kSlider1) {
            ++answers;
            lastAnswer = value.arrived;
        }
    }
    const double seconds = std::chrono::duration<double>(lastAnswer - start).count();
    const double answeredShare = static_cast<double>(answers) / static_cast<double>(presses);
    line(
        "velto: sent per second",
        fixed(static_cast<double>(count) / std::chrono::duration<double>(sent - start).count(), 0));
    line("velto: presses answered", std::to_string(answers) + " of " + std::to_string(presses) +
                                        " (" + fixed(100.0 * answeredShare, 1) + " %)");
    line("velto: presses answered per second", fixed(static_cast<double>(answers) / seconds, 0));
    line("velto: datagrams handled per second (est.)",
         fixed(static_cast<double>(answers) / seconds /
                   (static_cast<double>(presses) / static_cast<double>(count)),
               0));
    line("velto: press after the flood answered in (ms)",
         answered ? fixed(ms(probeArrived - sent)) + " (sent " + std::to_string(probes) + " times)"
                  : "never");
    line("velto: VmRSS before / after (KiB)",
         std::to_string(before.residentKiB) + " / " + std::to_string(subject.stats().residentKiB));
    line("velto: VmHWM after (KiB)", std::to_string(peak.peakResidentKiB));
    line("velto: still running", subject.alive() ? "yes" : "NO");
}

// --- Abuse --------------------------------------------------------------------------

// A bundle as big as a datagram gets, of layer counts alternating 0 and 4: each
// one redraws every control, and the last leaves all layers on.
Bytes fanOutBundle() {
    Bytes bundle{'#', 'b', 'u', 'n', 'd', 'l', 'e', 0, 0, 0, 0, 0, 0, 0, 0, 1};
    for (int i = 0; i < 1800; ++i) {
        const Bytes message = velto::test::intDatagram("/stagevue/layerNumber", i % 2 == 0 ? 0 : 4);
        const auto size = static_cast<std::uint32_t>(message.size());
        bundle.insert(bundle.end(), {std::uint8_t(size >> 24), std::uint8_t(size >> 16),
                                     std::uint8_t(size >> 8), std::uint8_t(size)});
        bundle.insert(bundle.end(), message.begin(), message.end());
    }
    return bundle;
}

// Sends the burst to both listen ports, sampling velto's memory, then the time
// until a slider press sent after it is answered.
void burst(Subject& subject, const std::string& name, const Bytes& datagram, int count) {
    long peakKiB = 0;
    const auto start = SteadyClock::now();
    for (int i = 0; i < count; ++i) {
        subject.sendToStagevue(datagram);
        subject.sendToMonome(datagram);
        if (i % 10 == 0)
            peakKiB = std::max<long>(peakKiB, static_cast<long>(subject.stats().residentKiB));
        std::this_thread::sleep_for(
            100us);  // loopback drops what no one reads in time; velto should get most
    }
    const auto sent = SteadyClock::now();
    const std::size_t seen = subject.video().snapshot().valuesFor(kSlider1).size();
    subject.sendToMonome(velto::test::pressDatagram(5, 3, 1));
    SteadyClock::time_point answered{};
    const bool ok = subject.video().waitFor(
        [&](const Recording& r) {
            std::size_t found = 0;
            for (const auto& value : r.values) {
                if (value.address == kSlider1 && ++found > seen) {
                    answered = value.arrived;
                    return true;
                }
            }
            return false;
        },
        30s);
    peakKiB = std::max<long>(peakKiB, static_cast<long>(subject.stats().residentKiB));
    subject.settle();
    std::printf("%s: %d datagrams of %zu bytes to each listen port in %.0f ms:\n", name.c_str(),
                count, datagram.size(), ms(sent - start));
    line("VmRSS sampled peak during / after (KiB)",
         std::to_string(peakKiB) + " / " + std::to_string(subject.stats().residentKiB));
    line("VmHWM so far (KiB)", std::to_string(subject.stats().peakResidentKiB));
    line("press after the burst answered in (ms)",
         ok ? fixed(ms(answered - sent)) : "never (30 s)");
    line("still running", subject.alive() ? "yes" : "NO");
}

void measureAbuse(Subject& subject, int presses) {
    subject.settle();
    burst(subject, "fan-out bundles", fanOutBundle(), 100);

    // 65 KB datagrams while a fader fades: the intervals between its levels.
    subject.video().clear();
    subject.sendToMonome(velto::test::pressDatagram(3, 4, 1));
    burst(subject, "65 KB datagrams during a fade", Bytes(65000, 0), 2000);
    const auto values = subject.video().snapshot().valuesFor(kOpacity1);
    subject.sendToMonome(velto::test::pressDatagram(3, 4, 0));
    std::vector<double> intervals;
    for (std::size_t j = 0; j + 1 < values.size(); ++j)
        intervals.push_back(ms(values[j + 1].arrived - values[j].arrived));
    const Distribution d(intervals);
    line("fade levels received during the burst", std::to_string(values.size()));
    line("fade interval p50 / max (ms)", fixed(d.at(0.5)) + " / " + fixed(d.at(1.0)));

    // Two busy processes on the machine, then the press latency.
    std::vector<pid_t> busy;
    for (int i = 0; i < 2; ++i) {
        const pid_t pid = ::fork();
        if (pid == 0) {
            for (;;)
                std::atomic_signal_fence(std::memory_order_seq_cst);  // spins, not optimised away
        }
        busy.push_back(pid);
    }
    std::printf("with two busy processes:\n");
    measureLatency(subject, presses);
    for (const pid_t pid : busy) ::kill(pid, SIGKILL);
    for (const pid_t pid : busy) ::waitpid(pid, nullptr, 0);
}

// --- Soak ---------------------------------------------------------------------------

void measureSoak(Subject& subject, int seconds) {
    subject.settle();
    std::printf("soak, %d s of random presses, releases and reports:\n", seconds);
    std::mt19937 rng(7);
    const ProcessStats before = subject.stats();
    const auto start = SteadyClock::now();
    const auto end = start + std::chrono::seconds(seconds);
    auto nextSample = start + 10s;
    std::size_t events = 0;
    std::string samples;  // VmRSS every 10 s
    while (SteadyClock::now() < end) {
        const auto kind = rng() % 10;
        const auto column = static_cast<std::int32_t>(rng() % 8);
        if (kind < 6) {
            subject.sendToMonome(
                velto::test::pressDatagram(column, 4 + static_cast<std::int32_t>(rng() % 3),
                                           static_cast<std::int32_t>(rng() % 2)));
        } else if (kind < 8) {
            subject.sendToMonome(
                velto::test::pressDatagram(column, static_cast<std::int32_t>(rng() % 4), 1));
        } else {
            subject.sendToStagevue(velto::test::floatDatagram(kFaderAddresses[rng() % 8],
                                                              static_cast<float>(rng() % 101)));
        }
        ++events;
        std::this_thread::sleep_for(std::chrono::microseconds(200 + rng() % 1000));
        if (SteadyClock::now() >= nextSample) {
            nextSample += 10s;
            if (!samples.empty()) samples += ' ';
            samples += std::to_string(subject.stats().residentKiB);
            subject.video().clear();  // keeps the recording small
        }
    }
    subject.video().clear();
    std::vector<float> targets;
    for (std::int32_t column = 0; column < 8; ++column) {
        const auto row = 4 + static_cast<std::int32_t>(rng() % 3);
        targets.push_back(static_cast<float>(6 - row) * 50.0f);
        subject.sendToMonome(velto::test::pressDatagram(column, row, 1));
        subject.sendToMonome(velto::test::pressDatagram(column, row, 0));
    }
    const bool settled = subject.video().waitFor(
        [&](const Recording& r) {
            std::map<std::string, float> last;
            for (const auto& value : r.values) last[value.address] = value.value;
            for (std::size_t c = 0; c < 8; ++c) {
                const auto it = last.find(kFaderAddresses[c]);
                if (it == last.end() || it->second != targets[c]) return false;
            }
            return true;
        },
        10s);
    subject.settle();
    const ProcessStats after = subject.stats();
    line("events sent", std::to_string(events));
    line("every fader ended on its last target", settled ? "yes" : "NO");
    line("VmRSS before / after (KiB)",
         std::to_string(before.residentKiB) + " / " + std::to_string(after.residentKiB));
    line("VmRSS every 10 s (KiB)", samples);
    line("open descriptors before / after",
         std::to_string(before.openDescriptors) + " / " + std::to_string(after.openDescriptors));
    line("CPU time (s)",
         fixed(std::chrono::duration<double>(after.cpuTime - before.cpuTime).count()));
}

}  // namespace

int main(int argc, char** argv) {
    const Options options = parse(argc, argv);
    ::signal(SIGPIPE, SIG_IGN);
    Subject subject(options);
    std::printf("velto pid %d\n", static_cast<int>(subject.pid()));
    bool busy = false;
    for (const auto& mode : options.modes) {
        if (mode == "idle") {
            measureIdle(subject, options.idleSeconds,
                        busy ? "after the modes before" : "after the start");
        } else if (mode == "latency") {
            measureLatency(subject, options.presses);
        } else if (mode == "fade") {
            measureFade(subject, options.fades);
        } else if (mode == "flood") {
            measureFlood(subject, options.flood);
        } else if (mode == "abuse") {
            measureAbuse(subject, options.presses);
        } else if (mode == "soak") {
            measureSoak(subject, options.soakSeconds);
        }
        busy = true;
        std::fflush(stdout);
    }
    return subject.alive() ? 0 : 1;
}

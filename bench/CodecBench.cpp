// Decoding and encoding speed of the OSC codec on the datagrams that Velto
// sees: a grid press, and the bundles that the senders send in one 10 ms tick.
// The datagrams are written out here byte by byte, independently of the
// encoder, and the encoder is checked against them before anything is timed.
//
//   bench/CodecBench [--benchmark_filter=Decode]
//
// Decode: bytes to packet objects, and their destruction. Encode: a new
// buffer holding the datagram. EncodeInto: the datagram written into a buffer
// that is reused, as the sender does.

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "common/osc/HJOSCArgument.h"
#include "common/osc/HJOSCBundle.h"
#include "common/osc/HJOSCDecoder.h"
#include "common/osc/HJOSCMessage.h"
#include "common/osc/HJOSCPacket.h"

namespace {

using velto::Bytes;
using velto::ByteView;

// --- Writing the datagrams by hand ---------------------------------------------------

void putString(Bytes& out, std::string_view text) {
    out.insert(out.end(), text.begin(), text.end());
    out.insert(out.end(), 4 - text.size() % 4, 0);
}

void putWord(Bytes& out, std::uint32_t word) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<std::uint8_t>(word >> shift));
}

void putFloat(Bytes& out, float value) {
    std::uint32_t word;
    std::memcpy(&word, &value, 4);
    putWord(out, word);
}

Bytes ints(std::string_view address, std::initializer_list<std::uint32_t> values) {
    Bytes out;
    putString(out, address);
    std::string tags(1 + values.size(), 'i');
    tags[0] = ',';
    putString(out, tags);
    for (const auto value : values) putWord(out, value);
    return out;
}

Bytes oneFloat(std::string_view address, float value) {
    Bytes out;
    putString(out, address);
    putString(out, ",f");
    putFloat(out, value);
    return out;
}

// A bundle stamped with a current date (2026-01-01 00:00:00.25 UTC).
Bytes bundle(const std::vector<Bytes>& elements) {
    Bytes out;
    putString(out, "#bundle");
    putWord(out, 0xed003780u);
    putWord(out, 0x40000000u);
    for (const auto& element : elements) {
        putWord(out, static_cast<std::uint32_t>(element.size()));
        out.insert(out.end(), element.begin(), element.end());
    }
    return out;
}

Bytes press() { return ints("/monome/press", {2, 5, 1}); }

Bytes opacityAndLeds() {
    return bundle({oneFloat("/stagevue/layer/opacity/1", 50.0f), ints("/monome/led", {0, 7, 1}),
                   ints("/monome/led", {0, 6, 1}), ints("/monome/led", {0, 5, 0})});
}

Bytes fiftySixLeds() {
    std::vector<Bytes> elements;
    for (std::uint32_t i = 0; i < 56; ++i) elements.push_back(ints("/monome/led", {i % 8, 7 - i / 8, i % 2}));
    return bundle(elements);
}

Bytes speedsAndLeds() {
    std::vector<Bytes> elements;
    for (int layer = 1; layer <= 8; ++layer) {
        elements.push_back(oneFloat("/stagevue/layer/media/speed/" + std::to_string(layer), 12.5f * layer));
    }
    for (std::uint32_t i = 0; i < 24; ++i) elements.push_back(ints("/monome/led", {i % 8, i / 8, 1}));
    return bundle(elements);
}

// Bundles nested as deep as a 65506-byte datagram allows, a message inside.
Bytes deepest() {
    Bytes inner = ints("/deepest", {42});
    while (inner.size() + 20 <= 65506) inner = bundle({inner});
    return inner;
}

struct Datagram {
    const char* name;
    Bytes bytes;
    int messages;
};

const std::vector<Datagram>& datagrams() {
    static const std::vector<Datagram> all = {
        {"a_press", press(), 1},
        {"b_opacity_3leds", opacityAndLeds(), 4},
        {"c_56leds", fiftySixLeds(), 56},
        {"d_8speeds_24leds", speedsAndLeds(), 32},
        {"e_deepest", deepest(), 1},
    };
    return all;
}

std::shared_ptr<velto::HJOSCPacket> decodeChecked(const Datagram& datagram) {
    auto packet = velto::HJOSCDecoder::decodeData(datagram.bytes);
    if (!packet || packet->packetizedData() != datagram.bytes) {
        std::fprintf(stderr, "%s does not decode and encode to the same bytes\n", datagram.name);
        std::abort();
    }
    return packet;
}

void perDatagram(benchmark::State& state, const Datagram& datagram) {
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * datagram.messages);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * datagram.bytes.size()));
}

void Decode(benchmark::State& state, const Datagram& datagram) {
    decodeChecked(datagram);
    const ByteView bytes = datagram.bytes;
    for (auto _ : state) {
        auto packet = velto::HJOSCDecoder::decodeData(bytes);
        benchmark::DoNotOptimize(packet.get());
    }
    perDatagram(state, datagram);
}

void Encode(benchmark::State& state, const Datagram& datagram) {
    const auto packet = decodeChecked(datagram);
    for (auto _ : state) {
        auto bytes = packet->packetizedData();
        benchmark::DoNotOptimize(bytes->data());
    }
    perDatagram(state, datagram);
}

void EncodeInto(benchmark::State& state, const Datagram& datagram) {
    const auto packet = decodeChecked(datagram);
    Bytes buffer;
    for (auto _ : state) {
        buffer.clear();
        packet->appendPacketizedData(buffer);
        benchmark::DoNotOptimize(buffer.data());
    }
    perDatagram(state, datagram);
}

// What an outbound operation does for a press echo: build the message, then encode it.
void BuildAndEncodePress(benchmark::State& state) {
    for (auto _ : state) {
        auto message = std::make_shared<velto::HJOSCMessage>(velto::HJOSCAddress("/monome/press"));
        message->attachArgument(velto::HJOSCArgument::withInt(2));
        message->attachArgument(velto::HJOSCArgument::withInt(5));
        message->attachArgument(velto::HJOSCArgument::withInt(1));
        auto bytes = message->packetizedData();
        benchmark::DoNotOptimize(bytes->data());
    }
    state.SetItemsProcessed(state.iterations());
}

void registerAll() {
    for (const auto& datagram : datagrams()) {
        benchmark::RegisterBenchmark((std::string("Decode/") + datagram.name).c_str(), Decode, datagram);
        benchmark::RegisterBenchmark((std::string("Encode/") + datagram.name).c_str(), Encode, datagram);
        benchmark::RegisterBenchmark((std::string("EncodeInto/") + datagram.name).c_str(), EncodeInto,
                                     datagram);
    }
    benchmark::RegisterBenchmark("BuildAndEncode/a_press", BuildAndEncodePress);
}

}  // namespace

int main(int argc, char** argv) {
    registerAll();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

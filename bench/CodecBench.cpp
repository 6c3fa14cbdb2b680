// Velto's OSC codec beside the two general OSC libraries that Debian packages,
// liblo (C) and oscpack (zero-copy C++), each through its own public API, on
// the datagrams that Velto sees: (a) a grid press; bundles as the senders send
// them in one 10 ms tick: (b) an opacity value and 3 lights, (c) 56 lights,
// (d) 8 speed values and 24 lights; and (e) bundles nested as deep as a
// 65506-byte datagram allows.
//
//   bench/CodecBench [ROUNDS]
//
// Decode: the datagram's bytes to whatever the library gives, every message's
// address and every argument's value visited (through nested bundles), and
// what was made freed. Encode: the datagram built from its content (addresses
// and values) into a buffer that is reused, as a sender does.
//
// The datagrams are written out here byte by byte. Before anything is timed,
// each library's encoding is compared with those bytes and what it decodes
// with their content: a library that gets one wrong is not timed on it.
// Then ROUNDS rounds (default 25), each timing every library in turn, in an
// order that rotates, on every datagram for about 1 ms: load on the machine
// hits all of them alike. Printed: the median ns per datagram.
//
// liblo and oscpack are optional: without them only Velto is timed.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <bit>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "common/osc/HJOSCArgument.h"
#include "common/osc/HJOSCBundle.h"
#include "common/osc/HJOSCDecoder.h"
#include "common/osc/HJOSCMessage.h"

#ifdef VELTO_BENCH_LIBLO
#include <lo/lo.h>
#endif
#ifdef VELTO_BENCH_OSCPACK
#include <osc/OscOutboundPacketStream.h>
#include <osc/OscReceivedElements.h>
#endif

namespace {

using velto::Bytes;
using velto::ByteView;

// --- The datagrams: content, and bytes written by hand --------------------------------

struct Value {
    char type;  // 'i' or 'f'
    std::uint32_t bits;
    friend bool operator==(const Value&, const Value&) = default;
};

struct Message {
    std::string address;
    std::vector<Value> values;
    friend bool operator==(const Message&, const Message&) = default;
};

// 2026-01-01 00:00:00.25 UTC.
constexpr std::uint32_t kTagSeconds = 0xed003780u;
constexpr std::uint32_t kTagFraction = 0x40000000u;
constexpr velto::Date kDate{(kTagSeconds - 3187296000.0) + 0.25};

struct Datagram {
    const char* name;
    int depth;  // 0: one message; n: n nested bundles, the messages in the innermost
    std::vector<Message> messages;
    Bytes bytes;
};

void putString(Bytes& out, std::string_view text) {
    out.insert(out.end(), text.begin(), text.end());
    out.insert(out.end(), 4 - text.size() % 4, 0);
}

void putWord(Bytes& out, std::uint32_t word) {
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<std::uint8_t>(word >> shift));
}

Bytes handWritten(const Message& message) {
    Bytes out;
    putString(out, message.address);
    std::string tags = ",";
    for (const Value& value : message.values) tags += value.type;
    putString(out, tags);
    for (const Value& value : message.values) putWord(out, value.bits);
    return out;
}

Bytes handWrittenBundle(const std::vector<Bytes>& elements) {
    Bytes out;
    putString(out, "#bundle");
    putWord(out, kTagSeconds);
    putWord(out, kTagFraction);
    for (const auto& element : elements) {
        putWord(out, static_cast<std::uint32_t>(element.size()));
        out.insert(out.end(), element.begin(), element.end());
    }
    return out;
}

Value i(std::int32_t value) { return {'i', static_cast<std::uint32_t>(value)}; }
Value f(float value) { return {'f', std::bit_cast<std::uint32_t>(value)}; }

Message led(int x, int y, int state) { return {"/monome/led", {i(x), i(y), i(state)}}; }

Datagram make(const char* name, int depth, std::vector<Message> messages) {
    Datagram datagram{name, depth, std::move(messages), {}};
    if (depth == 0) {
        datagram.bytes = handWritten(datagram.messages.front());
        return datagram;
    }
    std::vector<Bytes> elements;
    for (const auto& message : datagram.messages) elements.push_back(handWritten(message));
    datagram.bytes = handWrittenBundle(elements);
    for (int level = 1; level < depth; ++level)
        datagram.bytes = handWrittenBundle({datagram.bytes});
    return datagram;
}

std::vector<Datagram> datagrams() {
    std::vector<Message> lights56;
    for (int n = 0; n < 56; ++n) lights56.push_back(led(n % 8, 7 - n / 8, n % 2));
    std::vector<Message> speedsAndLights;
    for (int layer = 1; layer <= 8; ++layer) {
        speedsAndLights.push_back({"/stagevue/layer/media/speed/" + std::to_string(layer),
                                   {f(12.5f * static_cast<float>(layer))}});
    }
    for (int n = 0; n < 24; ++n) speedsAndLights.push_back(led(n % 8, n / 8, 1));
    const Message deepest{"/deepest", {i(42)}};
    // Each level adds a head of 16 bytes and a size field of 4.
    const int depth = static_cast<int>((65506 - handWritten(deepest).size()) / 20);
    return {
        make("(a) press", 0, {{"/monome/press", {i(2), i(5), i(1)}}}),
        make("(b) opacity + 3 lights", 1,
             {{"/stagevue/layer/opacity/1", {f(50.0f)}}, led(0, 7, 1), led(0, 6, 1), led(0, 5, 0)}),
        make("(c) 56 lights", 1, lights56),
        make("(d) 8 speeds + 24 lights", 1, speedsAndLights),
        make("(e) deepest nesting", depth, {deepest}),
    };
}

// --- What decoding visits -----------------------------------------------------------

// For timing: touches each address and value.
struct Checksum {
    std::uint64_t sum = 0;
    void address(std::string_view text) { sum += static_cast<unsigned char>(text[1]); }
    void value(char type, std::uint32_t bits) {
        sum = sum * 31 + static_cast<unsigned char>(type) + bits;
    }
};

// For the check: everything, in order.
struct Recording {
    std::vector<Message> messages;
    void address(std::string_view text) { messages.push_back({std::string(text), {}}); }
    void value(char type, std::uint32_t bits) {
        if (!messages.empty()) messages.back().values.push_back({type, bits});
    }
};

// --- Velto --------------------------------------------------------------------------

struct Velto {
    static constexpr const char* kName = "Velto";

    template <typename Sink>
    static void visit(const velto::HJOSCMessage& message, Sink& sink) {
        sink.address(message.address().address());
        for (const velto::HJOSCArgument& argument : message.attachedObjects()) {
            switch (argument.type()) {
                case 'i':
                    sink.value('i', static_cast<std::uint32_t>(argument.intValue()));
                    break;
                case 'f':
                    sink.value('f', std::bit_cast<std::uint32_t>(argument.floatValue()));
                    break;
                default:
                    sink.value(argument.type(), 0);
                    break;
            }
        }
    }

    template <typename Sink>
    static bool decode(const Datagram& datagram, Sink& sink) {
        velto::HJOSCDecoder::Failure failure{};
        const auto packet = velto::HJOSCDecoder::decode(datagram.bytes, failure);
        if (!packet) return false;
        for (const velto::HJOSCMessage& message : velto::HJOSCBundle::messagesOf(*packet))
            visit(message, sink);
        return true;
    }

    static void attachValues(velto::HJOSCMessage& message, const Message& content) {
        for (const Value& value : content.values) {
            if (value.type == 'i') {
                message.attachArgument(
                    velto::HJOSCArgument::withInt(static_cast<std::int32_t>(value.bits)));
            } else {
                message.attachArgument(
                    velto::HJOSCArgument::withFloat(std::bit_cast<float>(value.bits)));
            }
        }
    }

    static ByteView encode(const Datagram& datagram, Bytes& buffer) {
        buffer.clear();
        if (datagram.depth == 0) {
            velto::HJOSCMessage message(datagram.messages.front().address);
            attachValues(message, datagram.messages.front());
            message.appendPacketizedData(buffer);
            return buffer;
        }
        velto::HJOSCBundle bundle(kDate);
        const auto levels = static_cast<std::size_t>(datagram.depth - 1);
        bundle.reserveObjects(datagram.messages.size(), levels);
        // The nested bundles, built in place: each begins before the messages.
        const auto start = bundle.nestedStart();
        for (const auto& message : datagram.messages)
            attachValues(bundle.attachMessage(message.address), message);
        for (std::size_t level = 0; level < levels; ++level) bundle.closeNested(start, kDate);
        bundle.appendPacketizedData(buffer);
        return buffer;
    }
};

// --- liblo --------------------------------------------------------------------------

#ifdef VELTO_BENCH_LIBLO
struct Liblo {
    static constexpr const char* kName = "liblo";

    // liblo decodes bundles only in its server's dispatch: a server that is
    // never asked to receive, with one method for every message, which reports
    // to the sink of the decode that runs.
    using Report = void (*)(void* sink, const char* path, const char* types, lo_arg** argv,
                            int argc);
    static inline Report report = nullptr;
    static inline void* sink = nullptr;

    static int method(const char* path, const char* types, lo_arg** argv, int argc, lo_message,
                      void*) {
        report(sink, path, types, argv, argc);
        return 0;
    }

    static lo_server server() {
        static const lo_server instance = [] {
            lo_server made = lo_server_new_with_proto(nullptr, LO_UDP, nullptr);
            if (made == nullptr) std::abort();
            lo_server_add_method(made, nullptr, nullptr, method, nullptr);
            return made;
        }();
        return instance;
    }

    template <typename Sink>
    static void reportTo(void* to, const char* path, const char* types, lo_arg** argv, int argc) {
        Sink& into = *static_cast<Sink*>(to);
        into.address(path);
        for (int n = 0; n < argc; ++n) {
            switch (types[n]) {
                case 'i':
                    into.value('i', static_cast<std::uint32_t>(argv[n]->i));
                    break;
                case 'f':
                    into.value('f', std::bit_cast<std::uint32_t>(argv[n]->f));
                    break;
                default:
                    into.value(types[n], 0);
                    break;
            }
        }
    }

    template <typename Sink>
    static bool decode(const Datagram& datagram, Sink& to) {
        const lo_server dispatcher = server();
        report = reportTo<Sink>;
        sink = &to;
        Bytes& copy = scratch();  // liblo takes the bytes as writable
        copy.assign(datagram.bytes.begin(), datagram.bytes.end());
        return lo_server_dispatch_data(dispatcher, copy.data(), copy.size()) ==
               static_cast<int>(copy.size());
    }

    static Bytes& scratch() {
        static Bytes bytes;
        return bytes;
    }

    static lo_message build(const Message& content) {
        lo_message message = lo_message_new();
        for (const Value& value : content.values) {
            if (value.type == 'i') {
                lo_message_add_int32(message, static_cast<std::int32_t>(value.bits));
            } else {
                lo_message_add_float(message, std::bit_cast<float>(value.bits));
            }
        }
        return message;
    }

    static ByteView encode(const Datagram& datagram, Bytes& buffer) {
        buffer.resize(65536);
        std::size_t size = buffer.size();
        if (datagram.depth == 0) {
            lo_message message = build(datagram.messages.front());
            lo_message_serialise(message, datagram.messages.front().address.c_str(), buffer.data(),
                                 &size);
            lo_message_free(message);
            return ByteView(buffer).first(size);
        }
        const lo_timetag tag{kTagSeconds, kTagFraction};
        lo_bundle bundle = lo_bundle_new(tag);
        for (const auto& message : datagram.messages) {
            lo_bundle_add_message(bundle, message.address.c_str(), build(message));
        }
        for (int level = 1; level < datagram.depth; ++level) {
            lo_bundle outer = lo_bundle_new(tag);
            lo_bundle_add_bundle(outer, bundle);
            bundle = outer;
        }
        lo_bundle_serialise(bundle, buffer.data(), &size);
        lo_bundle_free_recursive(bundle);
        return ByteView(buffer).first(size);
    }
};
#endif

// --- oscpack ------------------------------------------------------------------------

#ifdef VELTO_BENCH_OSCPACK
struct Oscpack {
    static constexpr const char* kName = "oscpack";

    template <typename Sink>
    static void visit(const osc::ReceivedMessage& message, Sink& sink) {
        sink.address(message.AddressPattern());
        for (auto argument = message.ArgumentsBegin(); argument != message.ArgumentsEnd();
             ++argument) {
            switch (argument->TypeTag()) {
                case 'i':
                    sink.value('i', static_cast<std::uint32_t>(argument->AsInt32Unchecked()));
                    break;
                case 'f':
                    sink.value('f', std::bit_cast<std::uint32_t>(argument->AsFloatUnchecked()));
                    break;
                default:
                    sink.value(argument->TypeTag(), 0);
                    break;
            }
        }
    }

    template <typename Sink>
    static void visit(const osc::ReceivedBundle& bundle, Sink& sink) {
        for (auto element = bundle.ElementsBegin(); element != bundle.ElementsEnd(); ++element) {
            if (element->IsBundle()) {
                visit(osc::ReceivedBundle(*element), sink);
            } else {
                visit(osc::ReceivedMessage(*element), sink);
            }
        }
    }

    template <typename Sink>
    static bool decode(const Datagram& datagram, Sink& sink) {
        try {
            const osc::ReceivedPacket packet(reinterpret_cast<const char*>(datagram.bytes.data()),
                                             datagram.bytes.size());
            if (packet.IsBundle()) {
                visit(osc::ReceivedBundle(packet), sink);
            } else {
                visit(osc::ReceivedMessage(packet), sink);
            }
            return true;
        } catch (const osc::Exception&) {
            return false;
        }
    }

    static void build(osc::OutboundPacketStream& stream, const Message& content) {
        stream << osc::BeginMessage(content.address.c_str());
        for (const Value& value : content.values) {
            if (value.type == 'i') {
                stream << static_cast<osc::int32>(value.bits);
            } else {
                stream << std::bit_cast<float>(value.bits);
            }
        }
        stream << osc::EndMessage;
    }

    static ByteView encode(const Datagram& datagram, Bytes& buffer) {
        buffer.resize(65536);
        osc::OutboundPacketStream stream(reinterpret_cast<char*>(buffer.data()), buffer.size());
        const osc::uint64 tag = (osc::uint64{kTagSeconds} << 32) | kTagFraction;
        for (int level = 0; level < datagram.depth; ++level) stream << osc::BeginBundle(tag);
        for (const auto& message : datagram.messages) build(stream, message);
        for (int level = 0; level < datagram.depth; ++level) stream << osc::EndBundle;
        return ByteView(buffer).first(stream.Size());
    }
};
#endif

// --- Checking and timing ------------------------------------------------------------

using Clock = std::chrono::steady_clock;

template <typename Library>
double timeDecode(const Datagram& datagram, long count) {
    Checksum sum;
    const auto start = Clock::now();
    for (long n = 0; n < count; ++n) Library::decode(datagram, sum);
    const auto stop = Clock::now();
    benchmark::DoNotOptimize(sum.sum);
    return std::chrono::duration<double, std::nano>(stop - start).count() /
           static_cast<double>(count);
}

template <typename Library>
double timeEncode(const Datagram& datagram, long count) {
    Bytes buffer;
    const auto start = Clock::now();
    for (long n = 0; n < count; ++n) {
        const ByteView bytes = Library::encode(datagram, buffer);
        benchmark::DoNotOptimize(bytes.data());
        benchmark::ClobberMemory();
    }
    const auto stop = Clock::now();
    return std::chrono::duration<double, std::nano>(stop - start).count() /
           static_cast<double>(count);
}

template <typename Library>
bool decodesRight(const Datagram& datagram) {
    Recording recording;
    return Library::decode(datagram, recording) && recording.messages == datagram.messages;
}

template <typename Library>
bool encodesRight(const Datagram& datagram) {
    Bytes buffer;
    const ByteView bytes = Library::encode(datagram, buffer);
    return std::ranges::equal(bytes, datagram.bytes);
}

struct Library {
    const char* name;
    double (*decode)(const Datagram&, long);
    double (*encode)(const Datagram&, long);
    bool (*decodesRight)(const Datagram&);
    bool (*encodesRight)(const Datagram&);
};

template <typename L>
Library library() {
    return {L::kName, timeDecode<L>, timeEncode<L>, decodesRight<L>, encodesRight<L>};
}

double median(std::vector<double> samples) {
    if (samples.empty()) return 0.0;
    std::ranges::sort(samples);
    const std::size_t middle = samples.size() / 2;
    return samples.size() % 2 ? samples[middle] : (samples[middle - 1] + samples[middle]) / 2;
}

// One operation (decode or encode) of one library on one datagram.
struct Series {
    bool valid = false;
    long count = 0;  // repetitions in a sample of about 1 ms
    std::vector<double> samples;
};

void printCell(const Series& series) {
    if (series.valid) {
        std::printf(" %9.0f", median(series.samples));
    } else {
        std::printf(" %9s", "-");
    }
}

}  // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 25;
    const std::vector<Library> libraries = {
        library<Velto>(),
#ifdef VELTO_BENCH_LIBLO
        library<Liblo>(),
#endif
#ifdef VELTO_BENCH_OSCPACK
        library<Oscpack>(),
#endif
    };
    const auto all = datagrams();
    const std::size_t kinds = 2;  // decode, encode
    std::vector<Series> series(all.size() * libraries.size() * kinds);
    const auto at = [&](std::size_t d, std::size_t l, std::size_t k) -> Series& {
        return series[(d * libraries.size() + l) * kinds + k];
    };

    // Checks, and the number of repetitions that takes about 1 ms.
    for (std::size_t d = 0; d < all.size(); ++d) {
        for (std::size_t l = 0; l < libraries.size(); ++l) {
            for (std::size_t k = 0; k < kinds; ++k) {
                const Library& library = libraries[l];
                Series& s = at(d, l, k);
                s.valid = k == 0 ? library.decodesRight(all[d]) : library.encodesRight(all[d]);
                if (!s.valid) {
                    std::printf("%s %s %s wrongly: not timed\n", library.name,
                                k == 0 ? "decodes" : "encodes", all[d].name);
                    if (l == 0) return 1;  // Velto must get every datagram right
                    continue;
                }
                const auto time = k == 0 ? library.decode : library.encode;
                double each = time(all[d], 1);
                if (each > 2e7) {  // over 20 ms a time: timed once, not in the rounds
                    s.samples.push_back(each);
                    continue;
                }
                s.count = 1;
                while (static_cast<double>(s.count) * each < 1e6) {
                    s.count *= 2;
                    each = time(all[d], s.count);
                }
            }
        }
    }

    for (int round = 0; round < rounds; ++round) {
        for (std::size_t d = 0; d < all.size(); ++d) {
            for (std::size_t k = 0; k < kinds; ++k) {
                for (std::size_t n = 0; n < libraries.size(); ++n) {
                    const std::size_t l = (n + static_cast<std::size_t>(round)) % libraries.size();
                    Series& s = at(d, l, k);
                    if (!s.valid || s.count == 0) continue;
                    const auto time = k == 0 ? libraries[l].decode : libraries[l].encode;
                    s.samples.push_back(time(all[d], s.count));
                }
            }
        }
    }

    std::printf("median ns per datagram, %d interleaved rounds; ratio: Velto / fastest peer\n",
                rounds);
    std::printf("%-26s", "datagram");
    for (const char* kind : {"decode", "encode"}) {
        for (const auto& library : libraries) std::printf(" %9s", library.name);
        std::printf(" %6s%s", "ratio", kind[0] == 'd' ? " |" : "");
        (void)kind;
    }
    std::printf("\n");
    double worst[kinds] = {0.0, 0.0};
    bool compared[kinds] = {false, false};
    for (std::size_t d = 0; d < all.size(); ++d) {
        std::printf("%-26s", all[d].name);
        for (std::size_t k = 0; k < kinds; ++k) {
            double fastest = 0.0;
            for (std::size_t l = 0; l < libraries.size(); ++l) {
                printCell(at(d, l, k));
                const Series& s = at(d, l, k);
                if (l > 0 && s.valid && (fastest == 0.0 || median(s.samples) < fastest))
                    fastest = median(s.samples);
                if (l > 0 && s.valid && std::string_view(libraries[l].name) == "oscpack") {
                    worst[k] = std::max(worst[k], median(at(d, 0, k).samples) / median(s.samples));
                    compared[k] = true;
                }
            }
            if (fastest > 0.0) {
                std::printf(" %6.2f", median(at(d, 0, k).samples) / fastest);
            } else {
                std::printf(" %6s", "-");
            }
            std::printf("%s", k == 0 ? " |" : "\n");
        }
    }
    if (compared[0] || compared[1]) {
        std::printf("worst Velto / oscpack: decode %.2f, encode %.2f\n", worst[0], worst[1]);
    } else {
        std::printf("worst Velto / oscpack: oscpack not built in\n");
    }
    return 0;
}

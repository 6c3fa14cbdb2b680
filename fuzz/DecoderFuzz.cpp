// libFuzzer target: any bytes handed to the decoder, as a listener would.
//
// Beyond the sanitizers' checks, every packet that decodes must print and
// encode, and where the format can carry it unchanged, its encoding must
// decode to a packet that encodes to the very same bytes. Not carried
// unchanged, and so left out of that check: text with NULs inside (a NUL may
// end the field early), an address beginning with "#" (it reads as a
// bundle), and bundles without elements (they are written as size 0 and left
// out when read back).

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "common/osc/HJOSCBundle.h"
#include "common/osc/HJOSCDecoder.h"
#include "common/osc/HJOSCMessage.h"

namespace {

using velto::HJOSCDecoder;
using velto::HJOSCPacket;

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "fuzz_decoder: %s\n", what);
    std::abort();
}

bool isCanonicalText(std::string_view text) { return text.find('\0') == std::string::npos; }

bool isCanonicalMessage(const velto::HJOSCMessage& message) {
    const std::string_view address = message.address().address();
    if (!isCanonicalText(address) || (!address.empty() && address.front() == '#')) return false;
    for (const auto& argument : message.attachedObjects()) {
        if (argument.type() == 's' && !isCanonicalText(argument.stringValue())) return false;
    }
    return true;
}

bool encodesCanonically(const HJOSCPacket& packet) {
    for (const auto& message : velto::HJOSCBundle::messagesOf(packet)) {
        if (!isCanonicalMessage(message)) return false;
    }
    // A nested bundle without elements is written as an element of size 0,
    // which reads back as no element at all.
    std::vector<velto::HJOSCBundle::Element> pending;
    if (const auto* bundle = packet.asBundle()) pending = bundle->attachedObjects();
    while (!pending.empty()) {
        const auto element = std::move(pending.back());
        pending.pop_back();
        if (const auto* bundle = element.asBundle()) {
            auto inner = bundle->attachedObjects();
            if (inner.empty()) return false;
            for (auto& nested : inner) pending.push_back(std::move(nested));
        }
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const velto::ByteView bytes(data, size);
    HJOSCDecoder::Failure failure = HJOSCDecoder::Failure::none;
    const auto packet = HJOSCDecoder::decodeData(bytes, failure);
    if ((packet == nullptr) != (failure != HJOSCDecoder::Failure::none)) {
        fail("the failure kind disagrees with the result");
    }
    if (!packet) return 0;

    if (packet->stringRepresentation().empty()) fail("empty text form");
    const auto encoded = packet->packetizedData();
    if (!encoded) return 0;  // a bundle without elements
    const auto again = HJOSCDecoder::decodeData(*encoded);
    if (!encodesCanonically(*packet)) return 0;
    if (!again) fail("the encoding of a decoded packet does not decode");
    if (again->packetizedData() != encoded) fail("re-encoding changed the bytes");
    return 0;
}

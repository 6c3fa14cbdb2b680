#include "common/osc/HJOSCArgument.h"

#include <bit>
#include <cstdio>
#include <cstring>

#include "common/osc/HJOSCDataUtilities.h"
#include "platform/Log.h"

namespace velto {

using Utilities = HJOSCDataUtilities;

std::shared_ptr<HJOSCArgument> HJOSCArgument::argumentWithString(std::string_view text) {
    return std::make_shared<HJOSCArgument>(withString(text));
}

std::shared_ptr<HJOSCArgument> HJOSCArgument::argumentWithInt(std::int32_t value) {
    return std::make_shared<HJOSCArgument>(withInt(value));
}

std::shared_ptr<HJOSCArgument> HJOSCArgument::argumentWithFloat(float value) {
    return std::make_shared<HJOSCArgument>(withFloat(value));
}

std::shared_ptr<HJOSCArgument> HJOSCArgument::argumentWithDataBlob(ByteView blob) {
    return std::make_shared<HJOSCArgument>(withDataBlob(blob));
}

HJOSCArgument HJOSCArgument::withInt(std::int32_t value) {
    return HJOSCArgument('i', static_cast<std::uint32_t>(value));
}

HJOSCArgument HJOSCArgument::withFloat(float value) {
    return HJOSCArgument('f', std::bit_cast<std::uint32_t>(value));
}

HJOSCArgument HJOSCArgument::withString(std::string_view text) {
    HJOSCArgument argument;
    argument.setStringValue(text);
    return argument;
}

HJOSCArgument HJOSCArgument::withDataBlob(ByteView blob) {
    HJOSCArgument argument;
    argument.setDataBlobValue(blob);
    return argument;
}

HJOSCArgument HJOSCArgument::withTypeAndData(char type, ByteView data) {
    return HJOSCArgument(type, data);
}

void HJOSCArgument::setData(ByteView data) {
    // Through a fresh buffer: `data` may lie in our own.
    Data copy;
    copy.append(data.data(), data.data() + data.size());
    data_ = std::move(copy);
}

void HJOSCArgument::setStringValue(std::string_view text) {
    type_ = 's';
    if (!Utilities::isASCII(text)) text = {};
    Data atom;
    atom.assignZeroed(Utilities::paddedLength(text.size()));
    if (!text.empty()) std::memcpy(atom.data(), text.data(), text.size());
    data_ = std::move(atom);
}

void HJOSCArgument::setIntValue(std::int32_t value) {
    *this = HJOSCArgument('i', static_cast<std::uint32_t>(value));
}

void HJOSCArgument::setFloatValue(float value) {
    *this = HJOSCArgument('f', std::bit_cast<std::uint32_t>(value));
}

void HJOSCArgument::setDataBlobValue(ByteView blob) {
    type_ = 'b';
    Data atom;
    atom.assignZeroed(4 + Utilities::paddedLength(blob.size()));
    Utilities::storeUInt(atom.data(), static_cast<std::uint32_t>(blob.size()));
    if (!blob.empty()) std::memcpy(atom.data() + 4, blob.data(), blob.size());
    data_ = std::move(atom);
}

std::string HJOSCArgument::stringValue() const { return Utilities::stringFromDataBlock(data()); }

std::optional<Bytes> HJOSCArgument::dataBlobValue() const {
    return Utilities::blobFromDataBlock(data());
}

Bytes HJOSCArgument::packetizedData() const { return Bytes(data().begin(), data().end()); }

namespace {

// "<01020304 0506>": hexadecimal, a space after every 4 bytes.
std::string hexText(const Bytes& bytes) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text = "<";
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i > 0 && i % 4 == 0) text += ' ';
        text += kDigits[bytes[i] >> 4];
        text += kDigits[bytes[i] & 0x0F];
    }
    text += '>';
    return text;
}

}  // namespace

std::string HJOSCArgument::description() const {
    std::string text(1, type_);
    switch (type_) {
        case 's': {
            const auto value = Utilities::asciiStringFromDataBlock(data());
            return text + " { " + (value ? escapeText(*value) : "(null)") + " }";
        }
        case 'i':
            return text + " { " + std::to_string(intValue()) + " }";
        case 'f': {
            char number[64];
            std::snprintf(number, sizeof number, "%f", static_cast<double>(floatValue()));
            return text + " { " + number + " }";
        }
        case 'b': {
            const auto blob = dataBlobValue();
            return text + " { " + (blob ? hexText(*blob) : "(null)") + " }";
        }
        default:
            return "no arg value";
    }
}

bool operator==(const HJOSCArgument& a, const HJOSCArgument& b) {
    const ByteView x = a.data();
    const ByteView y = b.data();
    return a.type_ == b.type_ && x.size() == y.size() &&
           (x.empty() || std::memcmp(x.data(), y.data(), x.size()) == 0);
}

}  // namespace velto

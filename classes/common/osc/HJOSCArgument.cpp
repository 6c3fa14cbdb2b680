#include "common/osc/HJOSCArgument.h"

#include <bit>
#include <cstdio>
#include <cstring>
#include <functional>

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
    HJOSCArgument argument;
    argument.setIntValue(value);
    return argument;
}

HJOSCArgument HJOSCArgument::withFloat(float value) {
    HJOSCArgument argument;
    argument.setFloatValue(value);
    return argument;
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

HJOSCArgument::HJOSCArgument(const HJOSCArgument& other) : type_(other.type_) {
    setData(other.data());
}

HJOSCArgument& HJOSCArgument::operator=(const HJOSCArgument& other) {
    if (this != &other) {
        type_ = other.type_;
        setData(other.data());
    }
    return *this;
}

std::uint8_t* HJOSCArgument::resize(std::size_t size) {
    if (size <= kInlineCapacity) {
        heap_.reset();
    } else {
        heap_ = std::make_unique_for_overwrite<std::uint8_t[]>(size);
    }
    size_ = static_cast<std::uint32_t>(size);
    return heap_ ? heap_.get() : inline_;
}

bool HJOSCArgument::holds(ByteView bytes) const {
    const std::less<const std::uint8_t*> before;
    return !bytes.empty() && !before(bytes.data(), storage()) &&
           before(bytes.data(), storage() + size_);
}

void HJOSCArgument::setData(ByteView data) {
    if (holds(data)) {
        // Our own bytes: copy them out before the storage changes.
        const Bytes copy(data.begin(), data.end());
        setData(copy);
        return;
    }
    std::uint8_t* at = resize(data.size());
    if (!data.empty()) std::memcpy(at, data.data(), data.size());
}

void HJOSCArgument::setStringValue(std::string_view text) {
    type_ = 's';
    if (!Utilities::isASCII(text)) text = {};
    const std::size_t size = Utilities::paddedLength(text.size());
    std::uint8_t* at = resize(size);
    std::memset(at + text.size(), 0, size - text.size());
    if (!text.empty()) std::memcpy(at, text.data(), text.size());
}

void HJOSCArgument::setIntValue(std::int32_t value) {
    type_ = 'i';
    Utilities::storeUInt(resize(4), static_cast<std::uint32_t>(value));
}

void HJOSCArgument::setFloatValue(float value) {
    type_ = 'f';
    Utilities::storeUInt(resize(4), std::bit_cast<std::uint32_t>(value));
}

void HJOSCArgument::setDataBlobValue(ByteView blob) {
    type_ = 'b';
    if (holds(blob)) {
        const Bytes copy(blob.begin(), blob.end());
        setDataBlobValue(copy);
        return;
    }
    const std::size_t size = 4 + Utilities::paddedLength(blob.size());
    std::uint8_t* at = resize(size);
    Utilities::storeUInt(at, static_cast<std::uint32_t>(blob.size()));
    std::memset(at + 4 + blob.size(), 0, size - 4 - blob.size());
    if (!blob.empty()) std::memcpy(at + 4, blob.data(), blob.size());
}

std::string HJOSCArgument::stringValue() const { return Utilities::stringFromDataBlock(data()); }

std::int32_t HJOSCArgument::intValue() const { return Utilities::intFromDataBlock(data()); }

float HJOSCArgument::floatValue() const { return Utilities::floatFromDataBlock(data()); }

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

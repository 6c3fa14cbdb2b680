#pragma once

// One typed OSC argument: a type tag character ('i', 'f', 's', 'b'; 0 for an
// argument never given a value) and the argument's complete wire encoding,
// padding included, so that encoding a message only copies it.
//
// A value type. Encodings of up to kInlineCapacity bytes ('i', 'f', strings
// of up to 15 characters, blobs of up to 11 bytes) live inside the object and
// cost no allocation of their own. The getters decode the bytes whatever the
// type (the int value of a float argument is the float's bit pattern).
// Main thread, like every packet object.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "common/Bytes.h"
#include "common/osc/HJOSCDataUtilities.h"
#include "common/osc/SmallVector.h"

namespace velto {

class HJOSCArgument {
public:
    static constexpr std::size_t kInlineCapacity = 16;

    static std::shared_ptr<HJOSCArgument> argumentWithString(std::string_view text);
    static std::shared_ptr<HJOSCArgument> argumentWithInt(std::int32_t value);
    static std::shared_ptr<HJOSCArgument> argumentWithFloat(float value);
    static std::shared_ptr<HJOSCArgument> argumentWithDataBlob(ByteView blob);

    static HJOSCArgument withInt(std::int32_t value);
    static HJOSCArgument withFloat(float value);
    static HJOSCArgument withString(std::string_view text);
    static HJOSCArgument withDataBlob(ByteView blob);
    // An argument holding `data` as its encoding, taken as it is.
    static HJOSCArgument withTypeAndData(char type, ByteView data);

    HJOSCArgument() = default;  // type 0, no data
    // Holds `data` as its encoding, taken as it is (withTypeAndData).
    HJOSCArgument(char type, ByteView data) : type_(type) {
        data_.append(data.data(), data.data() + data.size());
    }
    // A 4-byte atom ('i', 'f') from the word that it holds.
    HJOSCArgument(char type, std::uint32_t word) : type_(type) {
        HJOSCDataUtilities::storeUInt(data_.extend(4), word);
    }

    // Each sets the type, then the data to the value's atom.
    void setStringValue(std::string_view text);  // non-ASCII text: the empty string
    void setIntValue(std::int32_t value);
    void setFloatValue(float value);
    void setDataBlobValue(ByteView blob);

    // The empty text when the data does not read as ASCII.
    std::string stringValue() const;
    std::int32_t intValue() const { return HJOSCDataUtilities::intFromDataBlock(data()); }
    float floatValue() const { return HJOSCDataUtilities::floatFromDataBlock(data()); }
    // None when the data holds no complete blob.
    std::optional<Bytes> dataBlobValue() const;

    char type() const { return type_; }
    void setType(char type) { type_ = type; }
    ByteView data() const { return data_.view(); }
    void setData(ByteView data);  // copies

    // The data, unchanged.
    Bytes packetizedData() const;
    // "i { 3 }", "f { 0.500000 }", "s { text }", "b { <01020304 05> }",
    // "no arg value" for any other type. A value that can't be read shows as
    // "(null)".
    std::string description() const;

    friend bool operator==(const HJOSCArgument& a, const HJOSCArgument& b);

private:
    using Data = SmallVector<std::uint8_t, kInlineCapacity>;

    Data data_;
    char type_ = 0;
};

}  // namespace velto

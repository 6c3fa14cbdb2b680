#pragma once

// An OSC address pattern, e.g. "/monome/led": a private copy of the text.
// The text is not checked (it need not begin with "/"); text that is not
// ASCII encodes as the empty string. A plain value; main thread.
//
// Texts of up to kInlineLength characters (every address Velto and its peers
// use) live inside the object: decoding one costs no allocation.

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "common/Bytes.h"
#include "common/osc/HJOSCDataUtilities.h"
#include "common/osc/SmallVector.h"

namespace velto {

class HJOSCAddress {
public:
    static constexpr std::size_t kInlineLength = 40;

    static std::shared_ptr<HJOSCAddress> addressWithString(std::string_view text);
    // "/" before each component: {"monome", "led"} gives "/monome/led"; no
    // components give the empty text.
    static std::shared_ptr<HJOSCAddress> addressWithArray(
        const std::vector<std::string>& components);

    explicit HJOSCAddress(std::string_view text) : ascii_(HJOSCDataUtilities::isASCII(text)) {
        address_.append(text.data(), text.data() + text.size());
    }

    std::string_view address() const { return {address_.data(), address_.size()}; }
    void setAddress(std::string_view text);

    // The text as it goes on the wire: the empty text when it has no ASCII form.
    std::string_view wireText() const { return ascii_ ? address() : std::string_view(); }

    // The string atom of the text.
    Bytes packetizedData() const;
    // Length of that atom, and the atom written at the end of `out`.
    std::size_t encodedSize() const { return (wireText().size() / 4 + 1) * 4; }
    void appendPacketizedData(Bytes& out) const;

    friend bool operator==(const HJOSCAddress& a, const HJOSCAddress& b) {
        return a.address() == b.address();
    }

private:
    SmallVector<char, kInlineLength> address_;
    bool ascii_ = true;  // whether the text has an ASCII form (else it encodes as "")
};

}  // namespace velto

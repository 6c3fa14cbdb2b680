#pragma once

// An OSC address pattern, e.g. "/monome/led": a private copy of the text.
// The text is not checked (it need not begin with "/"); text that is not
// ASCII encodes as the empty string. A plain value; main thread.

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Bytes.h"

namespace velto {

class HJOSCAddress {
public:
    static std::shared_ptr<HJOSCAddress> addressWithString(std::string_view text);
    // "/" before each component: {"monome", "led"} gives "/monome/led"; no
    // components give the empty text.
    static std::shared_ptr<HJOSCAddress> addressWithArray(const std::vector<std::string>& components);

    explicit HJOSCAddress(std::string_view text);

    const std::string& address() const { return address_; }
    void setAddress(std::string_view text);

    // The text as it goes on the wire: the empty text when it has no ASCII form.
    std::string_view wireText() const { return ascii_ ? std::string_view(address_) : std::string_view(); }

    // The string atom of the text.
    Bytes packetizedData() const;
    // Length of that atom, and the atom written at the end of `out`.
    std::size_t encodedSize() const { return (wireText().size() / 4 + 1) * 4; }
    void appendPacketizedData(Bytes& out) const;

    friend bool operator==(const HJOSCAddress& a, const HJOSCAddress& b) {
        return a.address_ == b.address_;
    }

private:
    std::string address_;
    bool ascii_ = true;  // whether the text has an ASCII form (else it encodes as "")
};

}  // namespace velto

#include "web/WebClients.h"

#include <utility>

namespace velto {

bool WebClients::admit() {
    if (count_ >= max_) return false;
    ++count_;
    return true;
}

void WebClients::leave() {
    if (count_ > 0) --count_;
}

bool WebClients::publish(std::string state) {
    if (version_ != 0 && state == state_) return false;
    state_ = std::move(state);
    ++version_;
    return true;
}

const std::string* WebClients::nextFor(std::uint64_t& seen) const {
    if (seen == version_) return nullptr;
    seen = version_;
    return &state_;
}

}  // namespace velto

#pragma once

// The bounds on the page's clients: at most a fixed number at once, and each
// one sent only the latest state, never a backlog. A client that cannot keep
// up skips the states it missed. Main thread only.

#include <cstddef>
#include <cstdint>
#include <string>

namespace velto {

class WebClients {
public:
    explicit WebClients(std::size_t maxClients) : max_(maxClients) {}

    // Takes a place; false when all are taken.
    bool admit();
    void leave();
    std::size_t count() const { return count_; }

    // A new state for every client; false when it is the one they have.
    bool publish(std::string state);
    // The state a client that has seen version `seen` should be sent now, with
    // `seen` moved to it; null when the client is up to date.
    const std::string* nextFor(std::uint64_t& seen) const;

private:
    std::size_t max_;
    std::size_t count_ = 0;
    std::string state_;
    std::uint64_t version_ = 0;  // 0: nothing published yet
};

}  // namespace velto

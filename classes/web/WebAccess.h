#pragma once

// Who may open the page and its socket. On loopback anyone on this machine
// may; beyond it, a request must carry the access token made at start
// ("?token=..."). Either way a socket opened by a page from another site (its
// Origin names another host) is refused, and without a token the request must
// name this machine as its Host, so that a web site open in a browser on this
// machine cannot play the grid. Pure functions; any thread.

#include <optional>
#include <string>
#include <string_view>

namespace velto {

struct WebAccess {
    // 32 hex digits from the system's randomness; none if it cannot be read.
    static std::optional<std::string> makeToken();

    // Whether a request is let in. `expectedToken` empty: no token needed.
    // `origin` empty: the request did not name one (not a browser page).
    // `host`: the request's Host header, "NAME[:PORT]" or "[IPv6][:PORT]".
    static bool admits(std::string_view expectedToken, std::string_view givenToken,
                       std::string_view origin, std::string_view host);

    // Whether the address only reaches this machine (127.x.x.x, ::1, localhost).
    static bool isLoopback(std::string_view host);
};

// One press from the page: "x,y,s" with x and y from 0 to 7 (grid coordinates,
// row from the top) and s 1 for press or 0 for release. Anything else is none.
struct PagePress {
    int x = 0;
    int y = 0;
    int state = 0;
    static std::optional<PagePress> parse(std::string_view frame);
};

}  // namespace velto

#include "web/WebAccess.h"

#include "platform/RandomBytes.h"

namespace velto {

std::optional<std::string> WebAccess::makeToken() {
    const auto bytes = randomBytes(16);
    if (!bytes) return std::nullopt;
    static constexpr char kHex[] = "0123456789abcdef";
    std::string token;
    for (const auto byte : *bytes) {
        token += kHex[byte >> 4];
        token += kHex[byte & 0xf];
    }
    return token;
}

bool WebAccess::admits(std::string_view expectedToken, std::string_view givenToken,
                       std::string_view origin, std::string_view host) {
    if (!origin.empty()) {
        // "http://HOST[:PORT]" of the page itself, HOST[:PORT] as the request's Host.
        constexpr std::string_view kScheme = "http://";
        if (!origin.starts_with(kScheme) || host.empty() || origin.substr(kScheme.size()) != host)
            return false;
    }
    if (expectedToken.empty()) {
        // Without a token only a name of this machine is let in: a site whose
        // own name was made to point here (DNS rebinding) is refused.
        std::string_view name = host;
        if (name.starts_with('[')) {
            name = name.substr(
                1, name.find(']') == std::string_view::npos ? name.size() : name.find(']') - 1);
        } else if (const auto colon = name.rfind(':'); colon != std::string_view::npos) {
            name = name.substr(0, colon);
        }
        return isLoopback(name);
    }
    // Every character compared, so that the time taken tells nothing of how
    // much of a guess was right.
    if (givenToken.size() != expectedToken.size()) return false;
    unsigned difference = 0;
    for (std::size_t i = 0; i < expectedToken.size(); ++i)
        difference |= static_cast<unsigned char>(expectedToken[i]) ^
                      static_cast<unsigned char>(givenToken[i]);
    return difference == 0;
}

bool WebAccess::isLoopback(std::string_view host) {
    return host.starts_with("127.") || host == "::1" || host == "localhost";
}

std::optional<PagePress> PagePress::parse(std::string_view frame) {
    const auto digit = [](char c, char highest) { return c >= '0' && c <= highest; };
    if (frame.size() != 5 || frame[1] != ',' || frame[3] != ',' || !digit(frame[0], '7') ||
        !digit(frame[2], '7') || !digit(frame[4], '1'))
        return std::nullopt;
    return PagePress{frame[0] - '0', frame[2] - '0', frame[4] - '0'};
}

}  // namespace velto

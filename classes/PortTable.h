#pragma once

// The four ports of the bridge, each written once: its settings key, its
// default, its command-line option, the endpoint it moves and its help text.
// Start-up, reload, option parsing and --help all read this table.

#include <array>
#include <cstddef>
#include <cstdint>

namespace velto {

// The controller's four endpoints, in the order of the table.
enum class Endpoint : std::size_t { videoAppSender, videoAppListener, gridSender, gridListener };

struct PortSetting {
    Endpoint endpoint;
    const char* key;
    std::int32_t defaultPort;
    const char* option;
    const char* help;
};

inline constexpr std::array<PortSetting, 4> kPortSettings{{
    {Endpoint::videoAppSender, "stagevueSendPort", 5000, "--stagevue-send-port",
     "port the video app listens on"},
    {Endpoint::videoAppListener, "stagevueListenPort", 5001, "--stagevue-listen-port",
     "port Velto listens on for the video app"},
    {Endpoint::gridSender, "monomeSendPort", 8080, "--monome-send-port",
     "port the grid listens on"},
    {Endpoint::gridListener, "monomeListenPort", 8000, "--monome-listen-port",
     "port Velto listens on for the grid"},
}};

constexpr const PortSetting& portSetting(Endpoint endpoint) {
    return kPortSettings[static_cast<std::size_t>(endpoint)];
}

constexpr bool isListener(Endpoint endpoint) {
    return endpoint == Endpoint::videoAppListener || endpoint == Endpoint::gridListener;
}

}  // namespace velto

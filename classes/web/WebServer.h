#pragma once

// The page and its WebSocket, served by libwebsockets on a libuv loop that
// Velto's run loop drives: the run loop watches libuv's one descriptor and runs
// libuv without waiting when it is ready, so no thread is added. libuv's timers
// (time-outs of half-open connections) are served by a one-shot run-loop timer
// armed only while a connection is open: with no one connected, Velto never
// wakes for the web server.
//
// "GET /" gives the page; a WebSocket on "/" with the subprotocol "velto-grid"
// gets the latest state as a text frame whenever it changes and sends presses
// as "x,y,s" (see PagePress). Main thread only.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "web/WebAccess.h"

namespace velto {

class RunLoop;

class WebServer {
public:
    static constexpr std::size_t kMaxClients = 8;
    // Page input is "x,y,s": anything longer closes the connection.
    static constexpr std::size_t kMaxFrame = 16;

    struct Settings {
        std::string host = "127.0.0.1";
        std::uint16_t port = 0;  // 0: one the system picks
        std::string token;       // empty: none needed
    };
    using PressHandler = std::function<void(const PagePress&)>;

    // Listening, or none when the address cannot be bound (the reason is
    // logged, prefixed "web: ").
    static std::unique_ptr<WebServer> start(RunLoop& loop, Settings settings, std::string_view page,
                                            PressHandler onPress);
    ~WebServer();
    WebServer(const WebServer&) = delete;
    WebServer& operator=(const WebServer&) = delete;

    std::uint16_t port() const;
    std::size_t clientCount() const;

    // The latest state for every page; a page busy with an earlier one gets
    // only the newest once it can take it.
    void publish(std::string state);

    struct Impl;

private:
    explicit WebServer(std::shared_ptr<Impl> impl);
    std::shared_ptr<Impl> impl_;  // shared with the calls it posts, which hold it weakly
};

}  // namespace velto

#pragma once

// A stand-in peer's two UDP endpoints: a listener on its own port and a sender
// to Velto's port on 127.0.0.1, with decoding of what arrives into messages
// (bundles are walked in order, nested ones depth-first).
//
// Main thread only; runs on the given run loop, like the sender and listener.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/osc/HJOSCArgument.h"
#include "common/osc/HJOSCListenerDelegate.h"

namespace velto {
class HJOSCListener;
class HJOSCMessage;
class HJOSCPacket;
class HJOSCSender;
class RunLoop;
}  // namespace velto

namespace velto::tools {

class OscPeer final : public HJOSCListenerDelegate, public std::enable_shared_from_this<OscPeer> {
public:
    using MessageHandler = std::function<void(const HJOSCMessage&)>;

    static constexpr const char* kHost = "127.0.0.1";

    // Listens on listenPort (0: a port that the system picks) and sends to
    // sendPort. Null, with `error` saying why for the user, when the port to
    // listen on is taken or a socket can't be made.
    static std::shared_ptr<OscPeer> open(RunLoop& loop, std::int32_t listenPort,
                                         std::int32_t sendPort, MessageHandler onMessage,
                                         std::string& error);

    // Stops listening; what is still queued for sending leaves at once.
    ~OscPeer() override;
    OscPeer(const OscPeer&) = delete;
    OscPeer& operator=(const OscPeer&) = delete;

    std::uint16_t listenPort() const;
    std::int32_t sendPort() const { return sendPort_; }

    // Queues one message; it leaves with the sender's next tick.
    void send(std::string_view address, std::vector<HJOSCArgument> arguments);

    void dispatchRawPacket(ByteView data) override;

    // The number that an 'i' or 'f' argument holds; none for other types.
    static std::optional<double> numberValue(const HJOSCArgument& argument);
    // "/monome/led 3 4 1": the address and each argument's value.
    static std::string describe(std::string_view address,
                                const std::vector<HJOSCArgument>& arguments);

private:
    OscPeer(std::int32_t sendPort, MessageHandler onMessage);
    void deliver(const HJOSCPacket& packet);

    std::int32_t sendPort_;
    MessageHandler onMessage_;
    std::unique_ptr<HJOSCListener> listener_;
    std::unique_ptr<HJOSCSender> sender_;
};

}  // namespace velto::tools

#pragma once

// The one application object of the bridge. It owns the two UDP endpoints
// towards the video app ("stagevue") and the two towards the grid ("monome"),
// the four port settings they are built from, and the twelve grid controls. It
// routes every received datagram by address and offers presses and reported
// values to the controls. Its class-level outbound operations are the only way
// any part of the program sends: they reach the endpoints through the shared
// controller. The endpoints are UDP unless the maker gives others (a test's
// recorder); the run loop, given at construction, serves them and the faders.
//
// Main thread only. The listeners' receive threads hand datagrams over through
// the run loop's queue and never call in directly.

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "PortTable.h"
#include "VeltoEndpoints.h"
#include "common/Bytes.h"
#include "common/osc/HJOSCArgument.h"
#include "common/osc/HJOSCListener.h"
#include "common/osc/HJOSCMessage.h"
#include "common/osc/HJOSCPacket.h"
#include "common/osc/HJOSCSender.h"
#include "platform/Clock.h"
#include "platform/SettingsStore.h"
#include "ui/VTControl.h"
#include "web/LightObserver.h"

namespace velto {

class RunLoop;
class UdpEndpoints;

class VeltoController final : public HJOSCListenerDelegate,
                              public std::enable_shared_from_this<VeltoController> {
public:
    static constexpr const char* kPeerHost = "127.0.0.1";
    // The video app is greeted again when it is heard from after this long a
    // silence: it may have restarted and lost what it was told.
    static constexpr Duration kVideoSilence = std::chrono::seconds(5);

    // The controller must be owned by a shared_ptr before awakeFromNib, which
    // makes it the delegate of its listeners.
    // Without endpoints the controller makes UDP ones.
    VeltoController(SettingsStore& settings, RunLoop& loop,
                    std::unique_ptr<VeltoEndpoints> endpoints = nullptr);
    ~VeltoController() override;
    VeltoController(const VeltoController&) = delete;
    VeltoController& operator=(const VeltoController&) = delete;

    std::int32_t port(Endpoint endpoint) const {
        return ports_[static_cast<std::size_t>(endpoint)];
    }
    // Stores the port under its key and replaces only that endpoint. Nothing is
    // checked: any integer is stored and handed on.
    void setPort(Endpoint endpoint, std::int32_t port);
    std::int32_t stagevueSendPort() const { return port(Endpoint::videoAppSender); }
    void setStagevueSendPort(std::int32_t port) { setPort(Endpoint::videoAppSender, port); }
    std::int32_t stagevueListenPort() const { return port(Endpoint::videoAppListener); }
    void setStagevueListenPort(std::int32_t port) { setPort(Endpoint::videoAppListener, port); }
    std::int32_t monomeSendPort() const { return port(Endpoint::gridSender); }
    void setMonomeSendPort(std::int32_t port) { setPort(Endpoint::gridSender, port); }
    std::int32_t monomeListenPort() const { return port(Endpoint::gridListener); }
    void setMonomeListenPort(std::int32_t port) { setPort(Endpoint::gridListener, port); }

    // Start-up: shared controller, the four endpoints from the settings, the
    // controls, and the greeting to the video app. A port merely taken leaves
    // its listener failed (logged) and the bridge running; the system refusing
    // a socket, a pipe, a thread or memory throws ResourceFailure,
    // std::system_error or std::bad_alloc, as do the setters.
    void awakeFromNib();

    // Read the settings store again, apply every port that changed through
    // its setter, and greet the video app again (SIGHUP). A key absent from the
    // store keeps its port, and a listener that is not listening is started
    // again even if its port did not change.
    void reloadPorts();

    // "video app: send 5000, listen 5001; grid: send 8080, listen 8000", with
    // " (port N)" after a value outside 1 to 65535 (its low 16 bits are used)
    // and " (failed)" after a listener that is not listening.
    std::string portsDescription() const;

    // "/stagevue/ping": the video app answers with its layer count and every
    // value it holds.
    static void greetVideoApp();

    // Each returns whether the input did anything (false: ignored).
    bool processStagevueAtAddressWithArguments(std::string_view address,
                                               std::span<const HJOSCArgument> arguments);
    bool processMonomeAtAddressWithArguments(std::string_view address,
                                             std::span<const HJOSCArgument> arguments);
    void processPacket(const HJOSCPacket* packet);
    // A datagram that arrived on a listener bound to `port` (for the log).
    void dispatchRawPacketFromPort(ByteView data, std::uint16_t port);
    void dispatchRawPacket(ByteView data) override;

    // Outbound operations. Without a live shared controller, or without a
    // sender for the peer, the message is dropped.
    static void sendMessageWithAddress(std::string_view address);
    static void sendMessageWithAddressAndValue(std::string_view address, float value);
    // Column x and grid row y (from the bottom); the grid gets row 7 - y.
    static void setLightAtXAndYWithState(std::uint32_t x, std::uint32_t y, std::int8_t state);

    // Told of every light sent and of other changes a mirror shows; null: none.
    void setLightObserver(LightObserver* observer) { lightObserver_ = observer; }
    bool videoAppAnswered() const { return videoAppAnswered_; }
    bool gridHeardFrom() const { return gridHeardFrom_; }

    // The first controller to wake up; cleared when it is destroyed.
    static VeltoController* sharedVeltoController();

    const std::vector<std::unique_ptr<VTControl>>& controls() const { return controls_; }
    // The UDP endpoints; null when the controller was given others.
    HJOSCSender* stagevueSender() const;
    HJOSCSender* monomeSender() const;
    HJOSCListener* stagevueListener() const;
    HJOSCListener* monomeListener() const;

private:
    void buildControls();
    std::int32_t storedPortOrDefault(const PortSetting& setting);
    void noteHeardFromVideoApp();

    SettingsStore& settings_;
    RunLoop& loop_;
    std::vector<std::unique_ptr<VTControl>> controls_;
    UdpEndpoints* udp_ = nullptr;  // endpoints_, when it is the UDP one
    std::unique_ptr<VeltoEndpoints> endpoints_;
    std::array<std::int32_t, kPortSettings.size()> ports_{};
    std::optional<std::uint16_t> receivingPort_;  // while a datagram is handled, verbose only
    std::optional<Instant> lastHeardFromVideoApp_;
    bool videoAppAnswered_ = false;
    bool gridHeardFrom_ = false;
    LightObserver* lightObserver_ = nullptr;
};

}  // namespace velto

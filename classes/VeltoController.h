#pragma once

// The one application object of the bridge. It owns the two UDP endpoints
// towards the video app ("stagevue") and the two towards the grid ("monome"),
// the four port settings they are built from, and the twelve grid controls. It
// routes every received datagram by address and offers presses and reported
// values to the controls. Its class-level outbound operations are the only way
// any part of the program sends: they reach the endpoints through the shared
// controller.
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

#include "common/osc/HJOSCArgument.h"
#include "common/osc/HJOSCListener.h"
#include "common/osc/HJOSCMessage.h"
#include "common/osc/HJOSCPacket.h"
#include "common/osc/HJOSCSender.h"
#include "platform/Bytes.h"
#include "platform/Clock.h"
#include "platform/SettingsStore.h"
#include "ui/VTControl.h"
#include "web/LightObserver.h"

namespace velto {

// Thrown when the system refuses a resource that the bridge cannot work without
// (a socket); the failure has been logged already.
struct ResourceFailure : std::runtime_error {
    using std::runtime_error::runtime_error;
};

class VeltoController final : public HJOSCListenerDelegate,
                              public std::enable_shared_from_this<VeltoController> {
public:
    // The settings keys with their defaults, in the order start-up reads them.
    struct PortSetting {
        const char* key;
        std::int32_t defaultPort;
    };
    static constexpr std::array<PortSetting, 4> kPortSettings{{
        {"stagevueSendPort", 5000},
        {"stagevueListenPort", 5001},
        {"monomeSendPort", 8080},
        {"monomeListenPort", 8000},
    }};
    static constexpr const char* kPeerHost = "127.0.0.1";
    // The video app is greeted again when it is heard from after this long a
    // silence: it may have restarted and lost what it was told.
    static constexpr Duration kVideoSilence = std::chrono::seconds(5);

    // The controller must be owned by a shared_ptr before awakeFromNib, which
    // makes it the delegate of its listeners.
    explicit VeltoController(SettingsStore& settings);
    ~VeltoController() override;
    VeltoController(const VeltoController&) = delete;
    VeltoController& operator=(const VeltoController&) = delete;

    std::int32_t stagevueSendPort() const { return stagevueSendPort_; }
    void setStagevueSendPort(std::int32_t port);
    std::int32_t stagevueListenPort() const { return stagevueListenPort_; }
    void setStagevueListenPort(std::int32_t port);
    std::int32_t monomeSendPort() const { return monomeSendPort_; }
    void setMonomeSendPort(std::int32_t port);
    std::int32_t monomeListenPort() const { return monomeListenPort_; }
    void setMonomeListenPort(std::int32_t port);

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
    bool processStagevueAtAddressWithArguments(const std::string& address,
                                               std::span<const HJOSCArgument> arguments);
    bool processMonomeAtAddressWithArguments(const std::string& address,
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
    HJOSCSender* stagevueSender() const { return stagevueSender_.get(); }
    HJOSCSender* monomeSender() const { return monomeSender_.get(); }
    HJOSCListener* stagevueListener() const { return stagevueListener_.get(); }
    HJOSCListener* monomeListener() const { return monomeListener_.get(); }

private:
    void buildControls();
    std::int32_t storedPortOrDefault(const PortSetting& setting);
    std::unique_ptr<HJOSCListener> makeListener(std::int32_t port,
                                                std::shared_ptr<HJOSCListenerDelegate>& portTap);
    void noteHeardFromVideoApp();
    static void queue(HJOSCSender* sender, HJOSCMessage message);

    SettingsStore& settings_;
    std::vector<std::unique_ptr<VTControl>> controls_;
    std::unique_ptr<HJOSCListener> stagevueListener_;
    std::unique_ptr<HJOSCSender> stagevueSender_;
    std::unique_ptr<HJOSCListener> monomeListener_;
    std::unique_ptr<HJOSCSender> monomeSender_;
    std::int32_t stagevueSendPort_ = 0;
    std::int32_t stagevueListenPort_ = 0;
    std::int32_t monomeSendPort_ = 0;
    std::int32_t monomeListenPort_ = 0;
    // Each listener hands its datagrams to a tap that adds its port; the
    // listener holds it weakly, so the controller keeps it.
    std::shared_ptr<HJOSCListenerDelegate> stagevueTap_;
    std::shared_ptr<HJOSCListenerDelegate> monomeTap_;
    std::optional<std::uint16_t> receivingPort_;  // while a datagram is handled, verbose only
    std::optional<Instant> lastHeardFromVideoApp_;
    bool videoAppAnswered_ = false;
    bool gridHeardFrom_ = false;
    LightObserver* lightObserver_ = nullptr;
};

}  // namespace velto

#include "VeltoController.h"

#include <cctype>
#include <climits>
#include <cstdlib>
#include <utility>

#include "common/osc/HJOSCAddress.h"
#include "common/osc/HJOSCBundle.h"
#include "common/osc/HJOSCDecoder.h"
#include "common/osc/HJOSCMessage.h"
#include "common/osc/HJOSCTrafficLog.h"
#include "platform/Log.h"
#include "platform/RunLoop.h"
#include "ui/VTHorizontalSlider.h"
#include "ui/VTVerticalFader.h"

namespace velto {

namespace {

VeltoController* sharedController = nullptr;

enum class ControlKind { fader, slider };

struct ControlLayout {
    ControlKind kind;
    VTRect rect;
    const char* address;
};

// The fixed division of the grid, in the order presses and values are offered.
constexpr std::array<ControlLayout, 12> kLayout{{
    {ControlKind::fader, {{0, 1}, {1, 3}}, "/stagevue/layer/opacity/4"},
    {ControlKind::fader, {{1, 1}, {1, 3}}, "/stagevue/layer/opacity/3"},
    {ControlKind::fader, {{2, 1}, {1, 3}}, "/stagevue/layer/opacity/2"},
    {ControlKind::fader, {{3, 1}, {1, 3}}, "/stagevue/layer/opacity/1"},
    {ControlKind::fader, {{4, 1}, {1, 3}}, "/stagevue/layer/media/speed/4"},
    {ControlKind::fader, {{5, 1}, {1, 3}}, "/stagevue/layer/media/speed/3"},
    {ControlKind::fader, {{6, 1}, {1, 3}}, "/stagevue/layer/media/speed/2"},
    {ControlKind::fader, {{7, 1}, {1, 3}}, "/stagevue/layer/media/speed/1"},
    {ControlKind::slider, {{0, 7}, {8, 1}}, "/stagevue/layer/media/time/4"},
    {ControlKind::slider, {{0, 6}, {8, 1}}, "/stagevue/layer/media/time/3"},
    {ControlKind::slider, {{0, 5}, {8, 1}}, "/stagevue/layer/media/time/2"},
    {ControlKind::slider, {{0, 4}, {8, 1}}, "/stagevue/layer/media/time/1"},
}};

constexpr std::string_view kStagevuePrefix = "/stagevue";
constexpr std::string_view kMonomePrefix = "/monome";
constexpr std::string_view kPressPrefix = "/monome/press";
constexpr std::string_view kLayerNumberPrefix = "/stagevue/layerNumber";
constexpr std::string_view kLightAddress = "/monome/led";

// The text after the last slash, trailing slashes ignored.
std::string_view lastPathComponent(std::string_view path) {
    while (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
    const auto slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

// A text's integer value read the lenient way: leading white space, an optional
// sign, then digits; 0 without digits; saturated at the int32 limits.
std::int32_t lenientIntValue(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    long long value = 0;
    for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > static_cast<long long>(INT_MAX) + 1) break;
    }
    if (negative) value = -value;
    if (value > INT_MAX) return INT_MAX;
    if (value < INT_MIN) return INT_MIN;
    return static_cast<std::int32_t>(value);
}

bool hasPrefix(std::string_view text, std::string_view prefix) { return text.starts_with(prefix); }

// What a listener hands over, passed on with the port it came in on.
class PortTap final : public HJOSCListenerDelegate {
public:
    PortTap(std::weak_ptr<VeltoController> controller, std::uint16_t port)
        : controller_(std::move(controller)), port_(port) {}
    void dispatchRawPacket(ByteView data) override {
        if (const auto controller = controller_.lock())
            controller->dispatchRawPacketFromPort(data, port_);
    }

private:
    std::weak_ptr<VeltoController> controller_;
    std::uint16_t port_;
};

}  // namespace

// Two senders to 127.0.0.1 and two listeners that hand what they receive to
// the controller, with the port it came in on.
class UdpEndpoints final : public VeltoEndpoints {
public:
    UdpEndpoints(VeltoController& owner, RunLoop& loop) : owner_(owner), loop_(loop) {}

    ~UdpEndpoints() override {
        for (Side* side : {&videoApp_, &grid_}) {
            if (side->listener) side->listener->stopListening();
            side->listener.reset();
            side->sender.reset();
        }
    }

    void open(Endpoint endpoint, std::int32_t port) override {
        Side& side = sideOf(endpoint);
        if (!isListener(endpoint)) {
            side.sender.reset();
            side.sender =
                HJOSCSender::senderWithDestinationHostName(loop_, VeltoController::kPeerHost, port);
            if (!side.sender)
                throw ResourceFailure("socket");  // the host is fixed: only the socket can fail
            return;
        }
        stopListening(endpoint);
        side.listener.reset();
        auto listener = HJOSCListener::defaultListenerOnPort(loop_, port);
        if (listener->socketDescriptor() < 0) throw ResourceFailure("socket");
        // Without a shared owner (a controller that was never meant to receive)
        // the listener keeps its stock dispatcher.
        if (auto controller = owner_.weak_from_this(); !controller.expired()) {
            side.tap = std::make_shared<PortTap>(std::move(controller), listener->localPort());
            listener->setDelegate(side.tap);
        }
        side.listener = std::move(listener);
    }

    void stopListening(Endpoint endpoint) override {
        if (auto& listener = sideOf(endpoint).listener) listener->stopListening();
    }

    bool isListening(Endpoint endpoint) const override {
        const auto& listener = sideOf(endpoint).listener;
        return listener && listener->isListening();
    }

    void sendToVideoApp(HJOSCMessage message) override {
        queue(videoApp_.sender.get(), std::move(message));
    }
    void sendToGrid(HJOSCMessage message) override {
        queue(grid_.sender.get(), std::move(message));
    }

    HJOSCSender* sender(Endpoint endpoint) const { return sideOf(endpoint).sender.get(); }
    HJOSCListener* listener(Endpoint endpoint) const { return sideOf(endpoint).listener.get(); }

private:
    struct Side {
        std::unique_ptr<HJOSCListener> listener;
        std::unique_ptr<HJOSCSender> sender;
        // The listener holds its tap weakly, so the side keeps it.
        std::shared_ptr<HJOSCListenerDelegate> tap;
    };

    static void queue(HJOSCSender* sender, HJOSCMessage message) {
        if (sender != nullptr) sender->addOSCMessage(std::move(message));
    }
    Side& sideOf(Endpoint endpoint) {
        return endpoint == Endpoint::videoAppSender || endpoint == Endpoint::videoAppListener
                   ? videoApp_
                   : grid_;
    }
    const Side& sideOf(Endpoint endpoint) const {
        return const_cast<UdpEndpoints*>(this)->sideOf(endpoint);
    }

    VeltoController& owner_;
    RunLoop& loop_;
    Side videoApp_;
    Side grid_;
};

VeltoController::VeltoController(SettingsStore& settings, RunLoop& loop,
                                 std::unique_ptr<VeltoEndpoints> endpoints)
    : settings_(settings), loop_(loop), endpoints_(std::move(endpoints)) {
    if (!endpoints_) {
        auto udp = std::make_unique<UdpEndpoints>(*this, loop_);
        udp_ = udp.get();
        endpoints_ = std::move(udp);
    }
}

VeltoController::~VeltoController() {
    controls_.clear();
    endpoints_.reset();  // stops the listeners and flushes the senders, in order
    if (sharedController == this) sharedController = nullptr;
}

VeltoController* VeltoController::sharedVeltoController() { return sharedController; }

HJOSCSender* VeltoController::stagevueSender() const {
    return udp_ ? udp_->sender(Endpoint::videoAppSender) : nullptr;
}
HJOSCSender* VeltoController::monomeSender() const {
    return udp_ ? udp_->sender(Endpoint::gridSender) : nullptr;
}
HJOSCListener* VeltoController::stagevueListener() const {
    return udp_ ? udp_->listener(Endpoint::videoAppListener) : nullptr;
}
HJOSCListener* VeltoController::monomeListener() const {
    return udp_ ? udp_->listener(Endpoint::gridListener) : nullptr;
}

// Only its low 16 bits reach the socket.
void VeltoController::setPort(Endpoint endpoint, std::int32_t port) {
    ports_[static_cast<std::size_t>(endpoint)] = port;
    settings_.setIntegerForKey(port, portSetting(endpoint).key);
    endpoints_->open(endpoint, port);
}

std::int32_t VeltoController::storedPortOrDefault(const PortSetting& setting) {
    // Stored integers wider than 32 bits keep their low 32 bits.
    const auto stored = static_cast<std::int32_t>(settings_.integerForKey(setting.key));
    return stored != 0 ? stored : setting.defaultPort;
}

void VeltoController::awakeFromNib() {
    if (sharedController == nullptr) sharedController = this;

    for (const auto& setting : kPortSettings)
        setPort(setting.endpoint, storedPortOrDefault(setting));

    controls_.clear();
    buildControls();

    greetVideoApp();
}

void VeltoController::greetVideoApp() { sendMessageWithAddress("/stagevue/ping"); }

void VeltoController::reloadPorts() {
    // Only what the settings hold moves an endpoint: an absent key (or one the
    // file could not say) leaves its port where it is. A listener that is not
    // listening is started again even if its port did not change.
    std::array<std::int32_t, kPortSettings.size()> wanted = ports_;
    for (std::size_t i = 0; i < kPortSettings.size(); ++i) {
        if (settings_.hasValueForKey(kPortSettings[i].key))
            wanted[i] = storedPortOrDefault(kPortSettings[i]);
    }
    // Listen ports that trade places: both let go before either binds again,
    // or the first to move would find its new port still held by the other.
    constexpr auto videoApp = static_cast<std::size_t>(Endpoint::videoAppListener);
    constexpr auto grid = static_cast<std::size_t>(Endpoint::gridListener);
    if (wanted[videoApp] != ports_[videoApp] && wanted[grid] != ports_[grid] &&
        (wanted[videoApp] == ports_[grid] || wanted[grid] == ports_[videoApp])) {
        endpoints_->stopListening(Endpoint::videoAppListener);
        endpoints_->stopListening(Endpoint::gridListener);
    }
    for (std::size_t i = 0; i < kPortSettings.size(); ++i) {
        const Endpoint endpoint = kPortSettings[i].endpoint;
        if (wanted[i] != ports_[i] ||
            (isListener(endpoint) && !endpoints_->isListening(endpoint))) {
            setPort(endpoint, wanted[i]);
        }
    }
    greetVideoApp();
}

std::string VeltoController::portsDescription() const {
    const auto port = [](std::int32_t value) {
        std::string text = std::to_string(value);
        if (value < 1 || value > 65535)
            text += " (port " + std::to_string(static_cast<std::uint16_t>(value)) + ")";
        return text;
    };
    const auto listen = [&](Endpoint listener) {
        return port(this->port(listener)) + (endpoints_->isListening(listener) ? "" : " (failed)");
    };
    return "video app: send " + port(stagevueSendPort()) + ", listen " +
           listen(Endpoint::videoAppListener) + "; grid: send " + port(monomeSendPort()) +
           ", listen " + listen(Endpoint::gridListener);
}

void VeltoController::buildControls() {
    for (const auto& entry : kLayout) {
        if (entry.kind == ControlKind::fader) {
            controls_.push_back(
                VTVerticalFader::controlWithRectAndAddress(entry.rect, entry.address, loop_));
        } else {
            controls_.push_back(
                VTHorizontalSlider::controlWithRectAndAddress(entry.rect, entry.address));
        }
    }
}

// --- Inbound -----------------------------------------------------------------

void VeltoController::dispatchRawPacket(ByteView data) { dispatchRawPacketFromPort(data, 0); }

void VeltoController::dispatchRawPacketFromPort(ByteView data, std::uint16_t port) {
    HJOSCDecoder::Failure failure = HJOSCDecoder::Failure::none;
    const auto packet = HJOSCDecoder::decode(data, failure);
    if (!Log::isVerbose()) {
        processPacket(packet.get());
        return;
    }
    if (!packet) {
        HJOSCTrafficLog::logUndecodable(port, data.size());
        return;
    }
    receivingPort_ = port;
    processPacket(packet.get());
    receivingPort_.reset();
}

void VeltoController::processPacket(const HJOSCPacket* packet) {
    if (packet == nullptr) return;
    // Depth-first, in order, within this call; the time tag is ignored.
    for (const HJOSCMessage& message : HJOSCBundle::messagesOf(*packet)) {
        const std::string_view address = message.address().address();
        const auto arguments = message.attachedObjects();
        bool used = false;
        // Prefix tests, the video app's first: "/stagevuex" is the video app's too.
        if (hasPrefix(address, kStagevuePrefix)) {
            used = processStagevueAtAddressWithArguments(address, arguments);
        } else if (hasPrefix(address, kMonomePrefix)) {
            used = processMonomeAtAddressWithArguments(address, arguments);
        }
        if (receivingPort_) HJOSCTrafficLog::logReceived(*receivingPort_, message, !used);
    }
}

bool VeltoController::processMonomeAtAddressWithArguments(
    std::string_view address, std::span<const HJOSCArgument> arguments) {
    if (!hasPrefix(address, kPressPrefix) || arguments.size() != 3) return false;
    const std::int32_t x = arguments[0].intValue();
    const std::int32_t y = arguments[1].intValue();
    const std::int32_t state = arguments[2].intValue();
    if (lightObserver_ != nullptr) lightObserver_->stateMayHaveChanged();
    // The grid counts rows from the top, the controls from the bottom. Done in
    // unsigned arithmetic: the same bits as 7 - y in 32 bits, without overflow.
    const std::uint32_t column = static_cast<std::uint32_t>(x);
    const std::uint32_t row = 7u - static_cast<std::uint32_t>(y);
    if (!gridHeardFrom_) {
        gridHeardFrom_ = true;
        Log::message("grid heard from: first press");
    }
    bool used = false;
    for (const auto& control : controls_) {
        used = used || (control->enabled() && control->containsCell(column, row));
        if (state != 0) {
            control->processPressAtXAndY(column, row);
        } else {
            control->processReleaseAtXAndY(column, row);
        }
    }
    return used;
}

void VeltoController::noteHeardFromVideoApp() {
    // Measured by the arrival of its messages: nothing runs while all is quiet.
    const Instant now = loop_.clock().now();
    if (!lastHeardFromVideoApp_ || now - *lastHeardFromVideoApp_ >= kVideoSilence) greetVideoApp();
    lastHeardFromVideoApp_ = now;
}

bool VeltoController::processStagevueAtAddressWithArguments(
    std::string_view address, std::span<const HJOSCArgument> arguments) {
    noteHeardFromVideoApp();
    if (lightObserver_ != nullptr) lightObserver_->stateMayHaveChanged();
    if (arguments.empty()) return false;
    const HJOSCArgument& last = arguments.back();
    if (hasPrefix(address, kLayerNumberPrefix)) {
        if (!videoAppAnswered_) {
            videoAppAnswered_ = true;
            Log::message("video app answered: " + std::to_string(last.intValue()) + " layers");
        }
        const float layers = static_cast<float>(last.intValue());
        for (const auto& control : controls_) {
            const auto layer =
                static_cast<std::uint32_t>(lenientIntValue(lastPathComponent(control->address())));
            control->setEnabled(layers >= static_cast<float>(layer));
        }
        return true;
    }
    const float value = last.floatValue();
    bool used = false;
    for (const auto& control : controls_) {
        used = used || (control->enabled() && control->address() == address);
        control->processMessageWithAddressAndValue(address, value);
    }
    return used;
}

// --- Outbound ----------------------------------------------------------------

void VeltoController::sendMessageWithAddress(std::string_view address) {
    if (sharedController == nullptr) return;
    sharedController->endpoints_->sendToVideoApp(HJOSCMessage(address));
}

void VeltoController::sendMessageWithAddressAndValue(std::string_view address, float value) {
    if (sharedController == nullptr) return;
    if (sharedController->lightObserver_ != nullptr)
        sharedController->lightObserver_->stateMayHaveChanged();
    HJOSCMessage message(address);
    message.attachArgument(HJOSCArgument::withFloat(value));
    sharedController->endpoints_->sendToVideoApp(std::move(message));
}

void VeltoController::setLightAtXAndYWithState(std::uint32_t x, std::uint32_t y,
                                               std::int8_t state) {
    if (sharedController == nullptr) return;
    if (sharedController->lightObserver_ != nullptr)
        sharedController->lightObserver_->lightSent(x, 7u - y, state);
    HJOSCMessage message(kLightAddress);
    message.attachArgument(HJOSCArgument::withInt(static_cast<std::int32_t>(x)));
    message.attachArgument(HJOSCArgument::withInt(static_cast<std::int32_t>(7u - y)));
    message.attachArgument(HJOSCArgument::withInt(state));
    sharedController->endpoints_->sendToGrid(std::move(message));
}

}  // namespace velto

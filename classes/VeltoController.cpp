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
        if (const auto controller = controller_.lock()) controller->dispatchRawPacketFromPort(data, port_);
    }

private:
    std::weak_ptr<VeltoController> controller_;
    std::uint16_t port_;
};

}  // namespace

VeltoController::VeltoController(SettingsStore& settings) : settings_(settings) {}

VeltoController::~VeltoController() {
    controls_.clear();
    if (stagevueListener_) stagevueListener_->stopListening();
    stagevueListener_.reset();
    stagevueSender_.reset();
    if (monomeListener_) monomeListener_->stopListening();
    monomeListener_.reset();
    monomeSender_.reset();
    if (sharedController == this) sharedController = nullptr;
}

VeltoController* VeltoController::sharedVeltoController() { return sharedController; }

// Each setter persists its port and rebuilds only its own endpoint. Nothing is
// checked: any integer is stored and handed on (only its low 16 bits reach the socket).
void VeltoController::setStagevueSendPort(std::int32_t port) {
    stagevueSendPort_ = port;
    settings_.setIntegerForKey(stagevueSendPort(), "stagevueSendPort");
    stagevueSender_.reset();
    stagevueSender_ = HJOSCSender::senderWithDestinationHostName(kPeerHost, stagevueSendPort());
    if (!stagevueSender_) throw ResourceFailure("socket");  // the host is fixed: only the socket can fail
}

void VeltoController::setStagevueListenPort(std::int32_t port) {
    stagevueListenPort_ = port;
    settings_.setIntegerForKey(stagevueListenPort(), "stagevueListenPort");
    if (stagevueListener_) stagevueListener_->stopListening();
    stagevueListener_.reset();
    stagevueListener_ = makeListener(stagevueListenPort(), stagevueTap_);
}

void VeltoController::setMonomeSendPort(std::int32_t port) {
    monomeSendPort_ = port;
    settings_.setIntegerForKey(monomeSendPort(), "monomeSendPort");
    monomeSender_.reset();
    monomeSender_ = HJOSCSender::senderWithDestinationHostName(kPeerHost, monomeSendPort());
    if (!monomeSender_) throw ResourceFailure("socket");  // the host is fixed: only the socket can fail
}

void VeltoController::setMonomeListenPort(std::int32_t port) {
    monomeListenPort_ = port;
    settings_.setIntegerForKey(monomeListenPort(), "monomeListenPort");
    if (monomeListener_) monomeListener_->stopListening();
    monomeListener_.reset();
    monomeListener_ = makeListener(monomeListenPort(), monomeTap_);
}

std::unique_ptr<HJOSCListener> VeltoController::makeListener(std::int32_t port,
                                                             std::shared_ptr<HJOSCListenerDelegate>& portTap) {
    auto listener = HJOSCListener::defaultListenerOnPort(port);
    if (listener->socketDescriptor() < 0) throw ResourceFailure("socket");
    // Without a shared owner (a controller that was never meant to receive)
    // the listener keeps its stock dispatcher.
    if (auto self = weak_from_this(); !self.expired()) {
        portTap = std::make_shared<PortTap>(std::move(self), listener->localPort());
        listener->setDelegate(portTap);
    }
    return listener;
}

std::int32_t VeltoController::storedPortOrDefault(const PortSetting& setting) {
    // Stored integers wider than 32 bits keep their low 32 bits.
    const auto stored = static_cast<std::int32_t>(settings_.integerForKey(setting.key));
    return stored != 0 ? stored : setting.defaultPort;
}

void VeltoController::awakeFromNib() {
    if (sharedController == nullptr) sharedController = this;

    setStagevueSendPort(storedPortOrDefault(kPortSettings[0]));
    setStagevueListenPort(storedPortOrDefault(kPortSettings[1]));
    setMonomeSendPort(storedPortOrDefault(kPortSettings[2]));
    setMonomeListenPort(storedPortOrDefault(kPortSettings[3]));

    controls_.clear();
    buildControls();

    greetVideoApp();
}

void VeltoController::greetVideoApp() { sendMessageWithAddress("/stagevue/ping"); }

void VeltoController::reloadPorts() {
    // Only what the settings hold moves an endpoint: an absent key (or one the
    // file could not say) leaves its port where it is. A listener that is not
    // listening is started again even if its port did not change.
    const auto reloaded = [this](const PortSetting& setting, std::int32_t current) {
        return settings_.hasValueForKey(setting.key) ? storedPortOrDefault(setting) : current;
    };
    const auto deaf = [](const std::unique_ptr<HJOSCListener>& listener) {
        return !listener || !listener->isListening();
    };
    // Listen ports that trade places: both let go before either binds again,
    // or the first to move would find its new port still held by the other.
    const auto newStagevueListen = reloaded(kPortSettings[1], stagevueListenPort());
    const auto newMonomeListen = reloaded(kPortSettings[3], monomeListenPort());
    if (newStagevueListen != stagevueListenPort() && newMonomeListen != monomeListenPort() &&
        (newStagevueListen == monomeListenPort() || newMonomeListen == stagevueListenPort())) {
        if (stagevueListener_) stagevueListener_->stopListening();
        if (monomeListener_) monomeListener_->stopListening();
    }
    if (const auto port = reloaded(kPortSettings[0], stagevueSendPort()); port != stagevueSendPort())
        setStagevueSendPort(port);
    if (const auto port = newStagevueListen; port != stagevueListenPort() || deaf(stagevueListener_))
        setStagevueListenPort(port);
    if (const auto port = reloaded(kPortSettings[2], monomeSendPort()); port != monomeSendPort())
        setMonomeSendPort(port);
    if (const auto port = newMonomeListen; port != monomeListenPort() || deaf(monomeListener_))
        setMonomeListenPort(port);
    greetVideoApp();
}

std::string VeltoController::portsDescription() const {
    const auto port = [](std::int32_t value) {
        std::string text = std::to_string(value);
        if (value < 1 || value > 65535) text += " (port " + std::to_string(static_cast<std::uint16_t>(value)) + ")";
        return text;
    };
    const auto listen = [&](std::int32_t value, const HJOSCListener* listener) {
        return port(value) + (listener != nullptr && listener->isListening() ? "" : " (failed)");
    };
    return "video app: send " + port(stagevueSendPort()) + ", listen " +
           listen(stagevueListenPort(), stagevueListener()) + "; grid: send " + port(monomeSendPort()) +
           ", listen " + listen(monomeListenPort(), monomeListener());
}

void VeltoController::buildControls() {
    for (const auto& entry : kLayout) {
        if (entry.kind == ControlKind::fader) {
            controls_.push_back(VTVerticalFader::controlWithRectAndAddress(entry.rect, entry.address));
        } else {
            controls_.push_back(VTHorizontalSlider::controlWithRectAndAddress(entry.rect, entry.address));
        }
    }
}

// --- Inbound -----------------------------------------------------------------

void VeltoController::dispatchRawPacket(ByteView data) { dispatchRawPacketFromPort(data, 0); }

void VeltoController::dispatchRawPacketFromPort(ByteView data, std::uint16_t port) {
    auto packet = HJOSCDecoder::decodeData(data);
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
    if (const HJOSCMessage* message = packet->asMessage()) {
        const std::string& address = message->address().address();
        const auto& arguments = message->attachedObjects();
        bool used = false;
        // Prefix tests, the video app's first: "/stagevuex" is the video app's too.
        if (hasPrefix(address, kStagevuePrefix)) {
            used = processStagevueAtAddressWithArguments(address, arguments);
        } else if (hasPrefix(address, kMonomePrefix)) {
            used = processMonomeAtAddressWithArguments(address, arguments);
        }
        if (receivingPort_) HJOSCTrafficLog::logReceived(*receivingPort_, *message, !used);
        return;
    }
    if (const auto* bundle = dynamic_cast<const HJOSCBundle*>(packet)) {
        // Depth-first, in order, within this call; the time tag is ignored.
        for (const auto& element : bundle->attachedObjects()) processPacket(element.get());
    }
}

bool VeltoController::processMonomeAtAddressWithArguments(const std::string& address,
                                                          std::span<const HJOSCArgument> arguments) {
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
    const RunLoop* loop = RunLoop::current();
    const std::optional<Instant> now = loop ? std::optional(loop->clock().now()) : std::nullopt;
    const bool firstContact = !lastHeardFromVideoApp_;
    if (firstContact || (now && *now - *lastHeardFromVideoApp_ >= kVideoSilence)) greetVideoApp();
    lastHeardFromVideoApp_ = now ? *now : Instant{};
}

bool VeltoController::processStagevueAtAddressWithArguments(const std::string& address,
                                                            std::span<const HJOSCArgument> arguments) {
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
            const auto layer = static_cast<std::uint32_t>(lenientIntValue(lastPathComponent(control->address())));
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

void VeltoController::queue(HJOSCSender* sender, HJOSCMessage message) {
    if (sender != nullptr) sender->addOSCMessage(std::move(message));
}

void VeltoController::sendMessageWithAddress(std::string_view address) {
    if (sharedController == nullptr) return;
    queue(sharedController->stagevueSender(), HJOSCMessage(address));
}

void VeltoController::sendMessageWithAddressAndValue(std::string_view address, float value) {
    if (sharedController == nullptr) return;
    if (sharedController->lightObserver_ != nullptr) sharedController->lightObserver_->stateMayHaveChanged();
    HJOSCMessage message(address);
    message.attachArgument(HJOSCArgument::withFloat(value));
    queue(sharedController->stagevueSender(), std::move(message));
}

void VeltoController::setLightAtXAndYWithState(std::uint32_t x, std::uint32_t y, std::int8_t state) {
    if (sharedController == nullptr) return;
    if (sharedController->lightObserver_ != nullptr) sharedController->lightObserver_->lightSent(x, 7u - y, state);
    HJOSCMessage message(kLightAddress);
    message.attachArgument(HJOSCArgument::withInt(static_cast<std::int32_t>(x)));
    message.attachArgument(HJOSCArgument::withInt(static_cast<std::int32_t>(7u - y)));
    message.attachArgument(HJOSCArgument::withInt(state));
    queue(sharedController->monomeSender(), std::move(message));
}

}  // namespace velto

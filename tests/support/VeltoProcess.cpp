#include "support/VeltoProcess.h"

#include <signal.h>
#include <stdlib.h>

#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <system_error>
#include <utility>

#include "common/osc/HJOSCAddress.h"
#include "common/osc/HJOSCArgument.h"
#include "common/osc/HJOSCMessage.h"
#include "support/LoopbackUdp.h"
#include "support/Sanitizers.h"

namespace velto::test {

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr std::uint32_t kLoopbackAddress = 0x7F000001;
constexpr const char* kPortLineFragment = "; video app: send ";

Bytes encodeMessage(const std::string& address, std::vector<HJOSCArgument> arguments) {
    auto message = HJOSCMessage::messageWithHJOSCAddress(HJOSCAddress::addressWithString(address));
    for (auto& argument : arguments) message->attachArgument(std::move(argument));
    Bytes bytes;
    message->appendPacketizedData(bytes);
    return bytes;
}

fs::path makeTemporaryDirectory() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern =
        (base != nullptr && *base != '\0' ? std::string(base) : std::string("/tmp")) +
        "/velto-test-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) {
        throw std::system_error(errno, std::generic_category(), "mkdtemp");
    }
    return pattern;
}

std::string portLine(const VeltoPorts& ports) {
    return "; video app: send " + std::to_string(ports.stagevueSend) + ", listen " +
           std::to_string(ports.stagevueListen) + "; grid: send " +
           std::to_string(ports.monomeSend) + ", listen " + std::to_string(ports.monomeListen);
}

std::vector<std::string> commandLine(const std::string& executable, const fs::path& settings,
                                     const std::vector<std::string>& extra,
                                     std::vector<std::string> argv) {
    if (kAddressSanitizer) {
        // ASan keeps freed memory in a quarantine of 256 MB by default, which a
        // flood fills; a small one keeps the resident size meaningful. Leak
        // checking and the other options stay as the caller's environment says.
        const char* inherited = std::getenv("ASAN_OPTIONS");
        argv.push_back("env");
        argv.push_back(std::string("ASAN_OPTIONS=") +
                       (inherited != nullptr ? std::string(inherited) + ":" : "") +
                       "quarantine_size_mb=4");
    }
    argv.push_back(executable);
    argv.push_back("--settings");
    argv.push_back(settings.string());
    argv.insert(argv.end(), extra.begin(), extra.end());
    return argv;
}

}  // namespace

Bytes pressDatagram(std::int32_t x, std::int32_t y, std::int32_t state) {
    return encodeMessage("/monome/press", {HJOSCArgument::withInt(x), HJOSCArgument::withInt(y),
                                           HJOSCArgument::withInt(state)});
}

Bytes floatDatagram(const std::string& address, float value) {
    return encodeMessage(address, {HJOSCArgument::withFloat(value)});
}

Bytes intDatagram(const std::string& address, std::int32_t value) {
    return encodeMessage(address, {HJOSCArgument::withInt(value)});
}

VeltoProcess::VeltoProcess(const std::string& executable) : VeltoProcess(executable, Options{}) {}

VeltoProcess::VeltoProcess(const std::string& executable, Options options)
    : directory_(makeTemporaryDirectory()), settingsPath_(directory_ / "settings") {
    try {
        video_ = std::make_unique<PeerRecorder>(0, options.countOnlyVideo
                                                       ? PeerRecorder::Keep::countOnly
                                                       : PeerRecorder::Keep::everything);
        grid_ = std::make_unique<PeerRecorder>(0, options.countOnlyGrid
                                                      ? PeerRecorder::Keep::countOnly
                                                      : PeerRecorder::Keep::everything);
        const auto listenPorts = freeLoopbackUdpPorts(2);
        ports_ = VeltoPorts{video_->port(), listenPorts[0], grid_->port(), listenPorts[1]};
        int error = 0;
        out_ = UdpSocket::open(error);
        if (!out_.isValid()) throw std::runtime_error("cannot open a UDP socket");
        writeSettings(ports_);
        process_ = std::make_unique<ChildProcess>(
            commandLine(executable, settingsPath_, options.extraArguments, options.launcher));
    } catch (...) {
        std::error_code ignored;
        fs::remove_all(directory_, ignored);
        throw;
    }
}

VeltoProcess::~VeltoProcess() {
    process_.reset();  // kills and reaps a velto that still runs
    std::error_code ignored;
    fs::remove_all(directory_, ignored);
}

std::size_t VeltoProcess::portLineCount() const {
    std::size_t count = 0;
    for (const auto& line : process_->lines()) {
        if (line.text.find(kPortLineFragment) != std::string::npos) ++count;
    }
    return count;
}

bool VeltoProcess::waitForPortLines(std::size_t count, std::chrono::milliseconds limit) const {
    return process_->waitForLines(
        [count](const std::vector<ChildProcess::Line>& lines) {
            std::size_t seen = 0;
            for (const auto& line : lines) {
                if (line.text.find(kPortLineFragment) != std::string::npos) ++seen;
            }
            return seen >= count;
        },
        limit);
}

bool VeltoProcess::waitUntilStarted(std::chrono::milliseconds limit) {
    if (!waitForPortLines(1, limit)) return false;
    return video_->waitFor(
        [](const Recording& recording) {
            for (const auto& address : recording.otherAddresses) {
                if (address == "/stagevue/ping") return true;
            }
            return false;
        },
        limit);
}

void VeltoProcess::writeSettings(const VeltoPorts& ports) {
    const fs::path temporary = settingsPath_.string() + ".new";
    {
        std::ofstream out(temporary, std::ios::trunc);
        out << "stagevueSendPort = " << ports.stagevueSend << "\n"
            << "stagevueListenPort = " << ports.stagevueListen << "\n"
            << "monomeSendPort = " << ports.monomeSend << "\n"
            << "monomeListenPort = " << ports.monomeListen << "\n";
        if (!out) throw std::runtime_error("cannot write " + temporary.string());
    }
    fs::rename(temporary, settingsPath_);
}

bool VeltoProcess::reloadWithPorts(const VeltoPorts& ports, std::chrono::milliseconds limit) {
    const std::size_t before = portLineCount();
    writeSettings(ports);
    ports_ = ports;
    if (!process_->sendSignal(SIGHUP)) return false;
    const std::string expected = portLine(ports);
    return process_->waitForLines(
        [&](const std::vector<ChildProcess::Line>& lines) {
            std::size_t seen = 0;
            for (const auto& line : lines) {
                if (line.text.find(kPortLineFragment) == std::string::npos) continue;
                if (++seen > before && line.text.find(expected) != std::string::npos) return true;
            }
            return false;
        },
        limit);
}

bool VeltoProcess::sendToMonome(ByteView datagram) {
    return out_.sendTo(datagram, Ipv4Endpoint{kLoopbackAddress, ports_.monomeListen}) == 0;
}

bool VeltoProcess::sendToStagevue(ByteView datagram) {
    return out_.sendTo(datagram, Ipv4Endpoint{kLoopbackAddress, ports_.stagevueListen}) == 0;
}

std::optional<ExitStatus> VeltoProcess::terminate(std::chrono::milliseconds limit) {
    process_->sendSignal(SIGTERM);
    return process_->waitForExit(limit);
}

}  // namespace velto::test

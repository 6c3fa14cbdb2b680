#include "support/VeltoProcess.h"

#include <signal.h>
#include <stdlib.h>

#include <algorithm>
#include <fstream>
#include <stdexcept>
#include <system_error>

#include "common/osc/HJOSCAddress.h"
#include "common/osc/HJOSCArgument.h"
#include "common/osc/HJOSCMessage.h"
#include "support/LoopbackUdp.h"
#include "support/Sanitizers.h"

namespace velto::test {

namespace {

namespace fs = std::filesystem;

Bytes encodeMessage(const std::string& address, std::vector<HJOSCArgument> arguments) {
    auto message = HJOSCMessage::messageWithHJOSCAddress(HJOSCAddress::addressWithString(address));
    for (auto& argument : arguments) message->attachArgument(std::move(argument));
    return message->packetizedData().value();
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

VeltoProcess::VeltoProcess(const std::string& executable, Options options) {
    std::string pattern = (fs::temp_directory_path() / "velto-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr)
        throw std::system_error(errno, std::generic_category(), "mkdtemp");
    directory_ = pattern;
    try {
        video_ = std::make_unique<PeerRecorder>();
        grid_ = std::make_unique<PeerRecorder>(0, options.countOnlyGrid
                                                      ? PeerRecorder::Keep::countOnly
                                                      : PeerRecorder::Keep::everything);
        const auto listen = freeLoopbackUdpPorts(2);
        ports_ = VeltoPorts{video_->port(), listen[0], grid_->port(), listen[1]};
        int error = 0;
        out_ = UdpSocket::open(error);
        if (!out_.isValid()) throw std::runtime_error("cannot open a UDP socket");
        writeSettings(ports_);
        std::vector<std::string> argv = options.launcher;
        if (kAddressSanitizer) {
            // ASan's default quarantine of 256 MB fills in a flood; a small one
            // keeps the resident size meaningful. Other options stay as given.
            const char* inherited = ::getenv("ASAN_OPTIONS");
            argv.insert(argv.end(), {"env", std::string("ASAN_OPTIONS=") +
                                                (inherited ? std::string(inherited) + ":" : "") +
                                                "quarantine_size_mb=4"});
        }
        argv.insert(argv.end(), {executable, "--settings", (directory_ / "settings").string()});
        argv.insert(argv.end(), options.extraArguments.begin(), options.extraArguments.end());
        process_ = std::make_unique<ChildProcess>(argv);
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

bool VeltoProcess::waitUntilStarted(std::chrono::milliseconds limit) {
    return process_->waitForOutput("; video app: send ", limit) &&
           video_->waitFor(
               [](const Recording& r) {
                   return std::count(r.otherAddresses.begin(), r.otherAddresses.end(),
                                     "/stagevue/ping") > 0;
               },
               limit);
}

void VeltoProcess::writeSettings(const VeltoPorts& ports) {
    const fs::path settings = directory_ / "settings";
    const fs::path temporary = directory_ / "settings.new";
    std::ofstream(temporary) << "stagevueSendPort = " << ports.stagevueSend << "\n"
                             << "stagevueListenPort = " << ports.stagevueListen << "\n"
                             << "monomeSendPort = " << ports.monomeSend << "\n"
                             << "monomeListenPort = " << ports.monomeListen << "\n";
    fs::rename(temporary, settings);
}

bool VeltoProcess::reloadWithPorts(const VeltoPorts& ports, std::chrono::milliseconds limit) {
    writeSettings(ports);
    ports_ = ports;
    const std::string line = "; video app: send " + std::to_string(ports.stagevueSend) +
                             ", listen " + std::to_string(ports.stagevueListen) + "; grid: send " +
                             std::to_string(ports.monomeSend) + ", listen " +
                             std::to_string(ports.monomeListen);
    return process_->sendSignal(SIGHUP) && process_->waitForOutput(line, limit);
}

bool VeltoProcess::sendToMonome(ByteView datagram) {
    return out_.sendTo(datagram, Ipv4Endpoint{0x7F000001, ports_.monomeListen}) == 0;
}

bool VeltoProcess::sendToStagevue(ByteView datagram) {
    return out_.sendTo(datagram, Ipv4Endpoint{0x7F000001, ports_.stagevueListen}) == 0;
}

std::optional<ExitStatus> VeltoProcess::terminate(std::chrono::milliseconds limit) {
    process_->sendSignal(SIGTERM);
    return process_->waitForExit(limit);
}

}  // namespace velto::test

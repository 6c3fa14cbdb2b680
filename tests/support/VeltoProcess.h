#pragma once

// A velto executable running on loopback with its settings in a temporary
// directory of its own: its two peers are PeerRecorders on ports that the
// system picked, its listen ports were free a moment before the start. Used by
// the whole-process tests and the benchmark tools.
//
// Under AddressSanitizer the child gets a small allocator quarantine, so that
// its resident memory says how much it keeps, not how much ASan holds back.

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "support/ChildProcess.h"
#include "support/PeerRecorder.h"
#include "support/ProcessStats.h"

namespace velto::test {

struct VeltoPorts {
    std::uint16_t stagevueSend = 0;
    std::uint16_t stagevueListen = 0;
    std::uint16_t monomeSend = 0;
    std::uint16_t monomeListen = 0;
};

// "/monome/press" with int32 x, y (the grid's rows, from the top) and state.
Bytes pressDatagram(std::int32_t x, std::int32_t y, std::int32_t state);
// A message with one float argument, as the video app reports a value.
Bytes floatDatagram(const std::string& address, float value);
// A message with one int32 argument ("/stagevue/layerNumber").
Bytes intDatagram(const std::string& address, std::int32_t value);

class VeltoProcess {
public:
    struct Options {
        std::vector<std::string> extraArguments{};  // e.g. "--verbose"
        std::vector<std::string> launcher{};        // runs velto's command line, e.g. "setsid"
        bool countOnlyGrid = false;  // for floods: the grid peer only counts datagrams
    };

    // Starts the executable. Throws std::runtime_error when it can't.
    VeltoProcess(const std::string& executable, Options options);
    ~VeltoProcess();  // kills velto if still running, removes the directory
    VeltoProcess(const VeltoProcess&) = delete;
    VeltoProcess& operator=(const VeltoProcess&) = delete;

    pid_t pid() const { return process_->pid(); }
    ChildProcess& process() { return *process_; }
    PeerRecorder& video() { return *video_; }
    PeerRecorder& grid() { return *grid_; }
    const VeltoPorts& ports() const { return ports_; }

    // Started, and its greeting ("/stagevue/ping") has reached the video peer:
    // from then on velto waits for input and nothing else.
    bool waitUntilStarted(std::chrono::milliseconds limit);
    // Rewrites the settings file with these ports (atomically, as an editor
    // would), sends SIGHUP and waits for velto's line with them: they must not
    // all be the ports it has. Send ports that change must be served by the caller.
    bool reloadWithPorts(const VeltoPorts& ports, std::chrono::milliseconds limit);

    // Sends to one of velto's listen ports from a socket of the test's own.
    bool sendToMonome(ByteView datagram);
    bool sendToStagevue(ByteView datagram);

    std::optional<ProcessStats> stats() const { return readProcessStats(pid()); }
    // SIGTERM and wait; the exit status, or none at the limit.
    std::optional<ExitStatus> terminate(std::chrono::milliseconds limit);

private:
    void writeSettings(const VeltoPorts& ports);

    std::filesystem::path directory_;
    std::unique_ptr<PeerRecorder> video_;
    std::unique_ptr<PeerRecorder> grid_;
    VeltoPorts ports_;
    UdpSocket out_;
    std::unique_ptr<ChildProcess> process_;
};

}  // namespace velto::test

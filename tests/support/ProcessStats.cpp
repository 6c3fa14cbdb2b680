#include "support/ProcessStats.h"

#include <unistd.h>

#ifdef __APPLE__
#include <libproc.h>
#include <mach/mach_time.h>
#include <sys/resource.h>

#include <algorithm>
#include <vector>
#else
#include <filesystem>
#include <fstream>
#include <string>
#endif

namespace velto::test {

#ifdef __APPLE__

std::optional<ProcessStats> readProcessStats(pid_t pid) {
    proc_taskinfo task{};
    rusage_info_v4 usage{};
    mach_timebase_info_data_t timebase{};
    if (::proc_pidinfo(pid, PROC_PIDTASKINFO, 0, &task, sizeof task) != sizeof task ||
        ::proc_pid_rusage(pid, RUSAGE_INFO_V4, reinterpret_cast<rusage_info_t*>(&usage)) != 0 ||
        ::mach_timebase_info(&timebase) != KERN_SUCCESS || timebase.denom == 0)
        return std::nullopt;  // gone, or a zombie
    ProcessStats stats;
    stats.voluntarySwitches = stats.mainThreadVoluntarySwitches = task.pti_csw;
    // CPU times come in Mach absolute time units, nanoseconds only on Intel.
    stats.cpuTime = std::chrono::nanoseconds((usage.ri_user_time + usage.ri_system_time) *
                                             timebase.numer / timebase.denom);
    stats.residentKiB = static_cast<std::int64_t>(usage.ri_phys_footprint / 1024);
    stats.peakResidentKiB = static_cast<std::int64_t>(usage.ri_lifetime_max_phys_footprint / 1024);
    stats.threads = static_cast<std::size_t>(task.pti_threadnum);
    // The first call gives room for the table, the second lists what is open.
    std::vector<proc_fdinfo> fds(
        static_cast<std::size_t>(std::max(::proc_pidinfo(pid, PROC_PIDLISTFDS, 0, nullptr, 0), 0)));
    const int listed = ::proc_pidinfo(pid, PROC_PIDLISTFDS, 0, fds.data(),
                                      static_cast<int>(fds.size() * PROC_PIDLISTFD_SIZE));
    stats.openDescriptors = static_cast<std::size_t>(std::max(listed, 0)) / PROC_PIDLISTFD_SIZE;
    return stats;
}

#else

namespace {

namespace fs = std::filesystem;

// The number after "Name:" in a status file ("VmRSS:   1234 kB" gives 1234).
std::optional<std::int64_t> statusField(const fs::path& status, const std::string& name) {
    std::ifstream in(status);
    for (std::string line; std::getline(in, line);) {
        if (line.starts_with(name + ":")) return std::stoll(line.substr(name.size() + 1));
    }
    return std::nullopt;
}

}  // namespace

std::optional<ProcessStats> readProcessStats(pid_t pid) {
    const fs::path root = fs::path("/proc") / std::to_string(pid);
    const auto rss = statusField(root / "status", "VmRSS");
    const auto switches = statusField(root / "status", "voluntary_ctxt_switches");
    if (!rss || !switches) return std::nullopt;  // gone, or a zombie without memory
    ProcessStats stats;
    stats.residentKiB = *rss;
    stats.peakResidentKiB = statusField(root / "status", "VmHWM").value_or(0);
    stats.mainThreadVoluntarySwitches = static_cast<std::uint64_t>(*switches);
    std::error_code error;
    for (const auto& task : fs::directory_iterator(root / "task", error)) {
        ++stats.threads;
        stats.voluntarySwitches += static_cast<std::uint64_t>(
            statusField(task.path() / "status", "voluntary_ctxt_switches").value_or(0));
        long long onCpu = 0;  // nanoseconds, the first field of schedstat
        if (std::ifstream(task.path() / "schedstat") >> onCpu)
            stats.cpuTime += std::chrono::nanoseconds(onCpu);
    }
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(root / "fd", error))
        ++stats.openDescriptors;
    return stats;
}

#endif

bool canReadProcessStats() { return readProcessStats(::getpid()).has_value(); }

}  // namespace velto::test

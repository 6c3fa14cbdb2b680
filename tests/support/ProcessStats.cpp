#include "support/ProcessStats.h"

#include <unistd.h>

#ifdef __APPLE__
#include <libproc.h>
#include <mach/mach_time.h>
#include <sys/resource.h>
#endif

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace velto::test {

#ifdef __APPLE__

std::optional<ProcessStats> readProcessStats(pid_t pid) {
    proc_taskinfo task{};
    if (::proc_pidinfo(pid, PROC_PIDTASKINFO, 0, &task, sizeof task) !=
        static_cast<int>(sizeof task)) {
        return std::nullopt;  // gone, or a zombie
    }
    rusage_info_v4 usage{};
    if (::proc_pid_rusage(pid, RUSAGE_INFO_V4, reinterpret_cast<rusage_info_t*>(&usage)) != 0)
        return std::nullopt;
    mach_timebase_info_data_t timebase{};
    if (::mach_timebase_info(&timebase) != KERN_SUCCESS || timebase.denom == 0) return std::nullopt;

    ProcessStats stats;
    stats.voluntarySwitches = static_cast<std::uint64_t>(task.pti_csw);
    stats.mainThreadVoluntarySwitches = stats.voluntarySwitches;
    // CPU times come in Mach absolute time units, nanoseconds only on Intel.
    const std::uint64_t ticks = usage.ri_user_time + usage.ri_system_time;
    stats.cpuTime = std::chrono::nanoseconds(ticks * timebase.numer / timebase.denom);
    stats.residentKiB = static_cast<std::int64_t>(usage.ri_phys_footprint / 1024);
    stats.peakResidentKiB = static_cast<std::int64_t>(usage.ri_lifetime_max_phys_footprint / 1024);
    stats.threads = static_cast<std::size_t>(task.pti_threadnum);
    const int bytes = ::proc_pidinfo(pid, PROC_PIDLISTFDS, 0, nullptr, 0);
    if (bytes > 0) {
        std::vector<proc_fdinfo> descriptors(static_cast<std::size_t>(bytes) / PROC_PIDLISTFD_SIZE +
                                             1);
        const int listed =
            ::proc_pidinfo(pid, PROC_PIDLISTFDS, 0, descriptors.data(),
                           static_cast<int>(descriptors.size() * PROC_PIDLISTFD_SIZE));
        if (listed > 0)
            stats.openDescriptors = static_cast<std::size_t>(listed) / PROC_PIDLISTFD_SIZE;
    }
    return stats;
}

#else

namespace {

namespace fs = std::filesystem;

// The number after "Name:" in a status file ("VmRSS:   1234 kB" gives 1234).
std::optional<std::int64_t> statusField(const fs::path& status, std::string_view name) {
    std::ifstream in(status);
    std::string line;
    while (std::getline(in, line)) {
        if (line.size() > name.size() && line.compare(0, name.size(), name) == 0 &&
            line[name.size()] == ':') {
            std::istringstream value(line.substr(name.size() + 1));
            std::int64_t number = 0;
            if (value >> number) return number;
            return std::nullopt;
        }
    }
    return std::nullopt;
}

// Nanoseconds on the CPU from /proc/.../schedstat (its first field), or from
// utime + stime of /proc/.../stat in clock ticks where schedstat is missing.
std::optional<std::chrono::nanoseconds> threadCpuTime(const fs::path& task) {
    {
        std::ifstream in(task / "schedstat");
        long long onCpu = 0;
        if (in >> onCpu) return std::chrono::nanoseconds(onCpu);
    }
    std::ifstream in(task / "stat");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // The command name may hold blanks and parentheses: fields start after the last ')'.
    const auto close = text.rfind(')');
    if (close == std::string::npos) return std::nullopt;
    std::istringstream fields(text.substr(close + 2));
    std::string field;
    long long utime = 0;
    long long stime = 0;
    // Fields 3..13 come first; utime and stime are fields 14 and 15.
    for (int i = 3; i <= 13 && fields >> field; ++i) {
    }
    if (!(fields >> utime >> stime)) return std::nullopt;
    const long ticksPerSecond = ::sysconf(_SC_CLK_TCK);
    if (ticksPerSecond <= 0) return std::nullopt;
    return std::chrono::nanoseconds((utime + stime) * 1'000'000'000LL / ticksPerSecond);
}

}  // namespace

std::optional<ProcessStats> readProcessStats(pid_t pid) {
    const fs::path root = fs::path("/proc") / std::to_string(pid);
    ProcessStats stats;
    const auto rss = statusField(root / "status", "VmRSS");
    const auto mainSwitches = statusField(root / "status", "voluntary_ctxt_switches");
    if (!rss || !mainSwitches) return std::nullopt;  // gone, or a zombie without memory
    stats.residentKiB = *rss;
    stats.peakResidentKiB = statusField(root / "status", "VmHWM").value_or(0);
    stats.mainThreadVoluntarySwitches = static_cast<std::uint64_t>(*mainSwitches);

    std::error_code error;
    for (const auto& task : fs::directory_iterator(root / "task", error)) {
        ++stats.threads;
        stats.voluntarySwitches += static_cast<std::uint64_t>(
            statusField(task.path() / "status", "voluntary_ctxt_switches").value_or(0));
        stats.involuntarySwitches += static_cast<std::uint64_t>(
            statusField(task.path() / "status", "nonvoluntary_ctxt_switches").value_or(0));
        stats.cpuTime += threadCpuTime(task.path()).value_or(std::chrono::nanoseconds(0));
    }
    for (const auto& entry : fs::directory_iterator(root / "fd", error)) {
        (void)entry;
        ++stats.openDescriptors;
    }
    return stats;
}

#endif

bool canReadProcessStats() { return readProcessStats(::getpid()).has_value(); }

}  // namespace velto::test

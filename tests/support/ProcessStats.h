#pragma once

// What Linux tells about a running process in /proc: its wake-ups, CPU time,
// resident memory and open descriptors. Used by the hardening tests and the
// benchmark tools to watch a velto from outside, without changing it.

#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>

namespace velto::test {

struct ProcessStats {
    // Voluntary context switches: each is a wake-up after the thread slept.
    std::uint64_t mainThreadVoluntarySwitches = 0;  // /proc/PID/status: the main thread only
    std::uint64_t voluntarySwitches = 0;            // summed over all threads
    std::uint64_t involuntarySwitches = 0;          // summed over all threads
    std::chrono::nanoseconds cpuTime{0};            // user + system, all live threads
    std::int64_t residentKiB = 0;                   // VmRSS
    std::int64_t peakResidentKiB = 0;               // VmHWM
    std::size_t openDescriptors = 0;                // entries of /proc/PID/fd
    std::size_t threads = 0;
};

// None when the process is gone (or /proc is not there).
std::optional<ProcessStats> readProcessStats(pid_t pid);

}  // namespace velto::test

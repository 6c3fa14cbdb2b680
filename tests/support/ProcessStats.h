#pragma once

// What the system tells about a running process, read from outside without
// changing it: wake-ups, CPU time, memory, descriptors (Linux's /proc, or
// proc_pidinfo on macOS, which counts every context switch as voluntary and
// gives the physical footprint and its lifetime peak as memory).

#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>

namespace velto::test {

struct ProcessStats {
    // Voluntary context switches: each is a wake-up after the thread slept.
    std::uint64_t mainThreadVoluntarySwitches = 0;
    std::uint64_t voluntarySwitches = 0;  // summed over all threads
    std::chrono::nanoseconds cpuTime{0};  // user + system, all live threads
    std::int64_t residentKiB = 0;         // VmRSS
    std::int64_t peakResidentKiB = 0;     // VmHWM
    std::size_t openDescriptors = 0;
    std::size_t threads = 0;
};

// None when the process is gone (or the system gives no readings).
std::optional<ProcessStats> readProcessStats(pid_t pid);

// Whether this system gives readings at all: tests that watch skip where not.
bool canReadProcessStats();

}  // namespace velto::test

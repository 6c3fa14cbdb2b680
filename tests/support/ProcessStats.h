#pragma once

// What the system tells about a running process: its wake-ups, CPU time,
// resident memory and open descriptors. Linux's /proc, or proc_pidinfo on
// macOS. Used by the hardening tests and the benchmark tools to watch a velto
// from outside, without changing it.

#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>

namespace velto::test {

// macOS counts a task's context switches without telling voluntary ones
// apart: all of them count as voluntary there (an upper bound on wake-ups), and
// memory is the task's physical footprint and its lifetime peak.
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

// None when the process is gone (or the system gives no readings).
std::optional<ProcessStats> readProcessStats(pid_t pid);

// Whether this system gives readings at all: tests that measure skip where not.
bool canReadProcessStats();

}  // namespace velto::test

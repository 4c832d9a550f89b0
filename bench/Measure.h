// SPDX-License-Identifier: Apache-2.0
#pragma once
// One measurement in a child process of its own, so that its peak memory is
// its own, and the median of several.

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <vector>

namespace kwbench {

struct Measure {
    double seconds = 0;
    double cpuSeconds = 0; // user and system time of all the child's threads
    long peakKiB = 0;
    bool ok = false;
};

// Runs fn in a child; its exit status says whether it worked.
inline Measure InChild(const std::function<bool()>& fn)
{
    std::fflush(nullptr);
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid == 0) _exit(fn() ? 0 : 1);
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    Measure m;
    m.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    m.peakKiB = usage.ru_maxrss;
    m.cpuSeconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
                   + static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    m.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return m;
}

// The median of the elapsed times and, apart, of the processor times; the
// highest peak; ok only when every run was.
inline Measure Median(std::vector<Measure> runs)
{
    std::sort(runs.begin(), runs.end(),
              [](const Measure& a, const Measure& b) { return a.seconds < b.seconds; });
    Measure m = runs[runs.size() / 2];
    std::vector<double> cpu;
    for (const Measure& r : runs) cpu.push_back(r.cpuSeconds);
    std::sort(cpu.begin(), cpu.end());
    m.cpuSeconds = cpu[cpu.size() / 2];
    for (const Measure& r : runs) {
        m.peakKiB = std::max(m.peakKiB, r.peakKiB);
        m.ok = m.ok && r.ok;
    }
    return m;
}

} // namespace kwbench

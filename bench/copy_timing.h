#pragma once

// What the benchmarks share: each run in a child process of its own, timed,
// with its CPU time and peak memory; cp of the same file, with and without
// an fsync of the copy; the comparison printed per size and summed up.

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace arbel::bench {

struct Timed {
    double seconds = 0;
    double cpuSeconds = 0;  // user + system
    long peakKiB = 0;
    int exitCode = -1;
};

template <typename Body>
Timed inChild(Body body) {
    std::fflush(stdout);
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = fork();
    if (pid == 0) _exit(body());
    int status = 0;
    struct rusage usage {};
    wait4(pid, &status, 0, &usage);
    Timed t;
    t.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    t.peakKiB = usage.ru_maxrss;
    t.cpuSeconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                   static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    t.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return t;
}

inline Timed copyFile(const std::string& from, const std::string& to) {
    return inChild([&] {
        execlp("cp", "cp", from.c_str(), to.c_str(), static_cast<char*>(nullptr));
        return 127;
    });
}

// The repair makes its result durable (fsync at the end of each phase); cp
// leaves the copy in the page cache. Both are measured: cp alone, and cp
// followed by an fsync of the copy.
inline Timed copyAndSync(const std::string& from, const std::string& to) {
    Timed copied = copyFile(from, to);
    Timed synced = inChild([&] {
        execlp("sync", "sync", to.c_str(), static_cast<char*>(nullptr));
        return 127;
    });
    copied.seconds += synced.seconds;
    copied.exitCode = copied.exitCode ? copied.exitCode : synced.exitCode;
    return copied;
}

// The best of two rounds at one size.
struct Comparison {
    double mib = 0;
    double copySeconds = 0, copyCpuSeconds = 0, syncedSeconds = 0;
    double repairSeconds = 0, repairCpuSeconds = 0;
    double repairPeakMiB = 0;
};

// Two rounds of cp, cp + fsync and the repair, each printed, then the best of
// each and the repair's peak memory. False when a run failed.
inline bool compareWithCopy(const std::string& damaged, const std::string& copy, const std::function<Timed()>& repair,
                            Comparison* summary = nullptr) {
    const double mib = static_cast<double>(std::filesystem::file_size(damaged)) / (1 << 20);
    copyFile(damaged, copy);  // warms the page cache for both runs
    std::filesystem::remove(copy);

    double copyBest = 1e9, syncedBest = 1e9, repairBest = 1e9, copyCpuBest = 1e9, repairCpuBest = 1e9;
    long repairPeak = 0;
    for (int round = 1; round <= 2; ++round) {
        const Timed c = copyFile(damaged, copy);
        std::filesystem::remove(copy);
        const Timed cs = copyAndSync(damaged, copy);
        std::filesystem::remove(copy);
        const Timed r = repair();
        if (c.exitCode != 0 || cs.exitCode != 0 || r.exitCode != 0) {
            std::fprintf(stderr, "round %d failed (cp %d, cp+sync %d, repair %d)\n", round, c.exitCode, cs.exitCode,
                         r.exitCode);
            return false;
        }
        std::printf("round %d: cp %.2f s (%.0f MiB/s, %.2f s CPU), cp+fsync %.2f s (%.0f MiB/s), repair %.2f s "
                    "(%.0f MiB/s, %.2f s CPU), repair peak %.1f MiB\n",
                    round, c.seconds, mib / c.seconds, c.cpuSeconds, cs.seconds, mib / cs.seconds, r.seconds,
                    mib / r.seconds, r.cpuSeconds, r.peakKiB / 1024.0);
        copyBest = std::min(copyBest, c.seconds);
        syncedBest = std::min(syncedBest, cs.seconds);
        repairBest = std::min(repairBest, r.seconds);
        copyCpuBest = std::min(copyCpuBest, c.cpuSeconds);
        repairCpuBest = std::min(repairCpuBest, r.cpuSeconds);
        repairPeak = std::max(repairPeak, r.peakKiB);
    }
    std::printf("best: cp %.0f MiB/s, cp+fsync %.0f MiB/s, repair %.0f MiB/s\n", mib / copyBest, mib / syncedBest,
                mib / repairBest);
    std::printf("repair time / cp time %.2f, / cp+fsync time %.2f\n", repairBest / copyBest, repairBest / syncedBest);
    std::printf("repair CPU / cp CPU %.2f (%.2f s / %.2f s)\n", repairCpuBest / copyCpuBest, repairCpuBest, copyCpuBest);
    std::printf("peak memory: %.1f MiB\n", repairPeak / 1024.0);
    if (summary) *summary = {mib, copyBest, copyCpuBest, syncedBest, repairBest, repairCpuBest, repairPeak / 1024.0};
    return true;
}

// One line per size: the figures the closing note and the README quote.
inline void printSummary(const char* engine, const std::vector<Comparison>& rows) {
    std::printf("\n%s: size | repair/cp | repair/(cp+fsync) | repair CPU/cp CPU | repair MiB/s | peak MiB\n", engine);
    for (const Comparison& c : rows) {
        std::printf("%s: %.0f MiB | %.2f | %.2f | %.2f | %.0f | %.1f\n", engine, c.mib, c.repairSeconds / c.copySeconds,
                    c.repairSeconds / c.syncedSeconds, c.repairCpuSeconds / c.copyCpuSeconds,
                    c.mib / c.repairSeconds, c.repairPeakMiB);
    }
}

// "1024,4403" as sizes in MiB.
inline std::vector<uint64_t> sizesFrom(const std::string& list) {
    std::vector<uint64_t> sizes;
    size_t at = 0;
    while (at < list.size()) {
        sizes.push_back(std::strtoull(list.c_str() + at, nullptr, 10));
        const size_t comma = list.find(',', at);
        if (comma == std::string::npos) break;
        at = comma + 1;
    }
    return sizes;
}

// 1 GiB and 4.3 GiB: a result on each side of 4 GiB.
inline const char* kDefaultSizes = "1024,4403";

}  // namespace arbel::bench

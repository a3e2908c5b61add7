// Repair speed against copying: builds a camera-like damaged recording of at
// least 1 GiB from the units of the bundled reference (its frames and audio
// chunks repeated, no movie atom), then times `cp` of that file and a repair
// of it with zero pacing, each in its own child process so that peak memory
// is the repair's own.
//
//   arbel-bench-mov [--size-mib N] [--work DIR] [--keep]
#include "platform/pacing.h"
#include "support/camera_clip.h"
#include "support/engine_run.h"
#include "support/temp_dir.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

using namespace arbel;
using namespace arbel::test;

namespace {

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

Timed copyFile(const std::string& from, const std::string& to) {
    return inChild([&] {
        execlp("cp", "cp", from.c_str(), to.c_str(), static_cast<char*>(nullptr));
        return 127;
    });
}

// The repair makes its result durable (fsync at the end of each phase); cp
// leaves the copy in the page cache. Both are measured: cp alone, and cp
// followed by an fsync of the copy.
Timed copyAndSync(const std::string& from, const std::string& to) {
    Timed copied = copyFile(from, to);
    Timed synced = inChild([&] {
        execlp("sync", "sync", to.c_str(), static_cast<char*>(nullptr));
        return 127;
    });
    copied.seconds += synced.seconds;
    copied.exitCode = copied.exitCode ? copied.exitCode : synced.exitCode;
    return copied;
}

Timed repairFile(const std::string& reference, const std::string& damaged, const std::string& resultBase) {
    return inChild([&] {
        setenv("ARBEL_RESULT_BASE", resultBase.c_str(), 1);
        Pacing::setMode(Pacing::Mode::Zero);
        const MovRepairOutcome o = runMovRepair(reference, damaged);
        if (!o.completed()) {
            std::fprintf(stderr, "repair did not complete: %s\n", o.statusTrail().c_str());
            return 1;
        }
        std::printf("  repair: variant %s, %llu video samples, %llu audio chunks\n", o.scanVariant.c_str(),
                    static_cast<unsigned long long>(o.videoSamples), static_cast<unsigned long long>(o.audioChunks));
        std::fflush(stdout);
        return 0;
    });
}

}  // namespace

int main(int argc, char** argv) {
    uint64_t sizeMiB = 1024;
    std::string work = "/tmp/arbel-bench-mov";
    bool keep = false;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--size-mib") && i + 1 < argc) sizeMiB = std::strtoull(argv[++i], nullptr, 10);
        else if (!std::strcmp(argv[i], "--work") && i + 1 < argc) work = argv[++i];
        else if (!std::strcmp(argv[i], "--keep")) keep = true;
        else {
            std::fprintf(stderr, "usage: arbel-bench-mov [--size-mib N] [--work DIR] [--keep]\n");
            return 2;
        }
    }
    const std::string reference = std::string(ARBEL_SAMPLES_DIR) + "/reference.mov";
    std::string error;
    const auto tracks = readTracks(reference, error);
    const TrackUnits* video = nullptr;
    const TrackUnits* audio = nullptr;
    for (const auto& t : tracks) {
        if (t.handler == "vide") video = &t;
        if (t.handler == "soun") audio = &t;
    }
    if (!video || !audio || video->units.empty() || audio->units.size() < video->units.size()) {
        std::fprintf(stderr, "cannot take units from %s: %s\n", reference.c_str(), error.c_str());
        return 1;
    }

    std::filesystem::create_directories(work);
    const std::string damaged = work + "/damaged.mov";
    const std::string copy = work + "/copy.mov";
    const std::string results = work + "/results";

    // The recording: the reference's ftyp, an mdat whose size was never
    // written, then frame + audio chunk pairs until the size is reached.
    const ByteString referenceBytes = readWholeFile(reference);
    uint64_t largestUnit = 0;
    {
        std::ofstream out(damaged, std::ios::binary | std::ios::trunc);
        const uint32_t ftypSize = (uint32_t(referenceBytes[0]) << 24) | (uint32_t(referenceBytes[1]) << 16) |
                                  (uint32_t(referenceBytes[2]) << 8) | referenceBytes[3];
        out.write(reinterpret_cast<const char*>(referenceBytes.data()), ftypSize);
        const char mdat[8] = {0, 0, 0, 0, 'm', 'd', 'a', 't'};
        out.write(mdat, 8);
        uint64_t written = ftypSize + 8;
        const uint64_t target = sizeMiB << 20;
        for (size_t i = 0; written < target; i = (i + 1) % video->units.size()) {
            for (const UnitPlace* u : {&video->units[i], &audio->units[i]}) {
                out.write(reinterpret_cast<const char*>(referenceBytes.data() + u->offset),
                          static_cast<std::streamsize>(u->size));
                written += u->size;
                largestUnit = std::max(largestUnit, u->size);
            }
        }
    }
    const double mib = static_cast<double>(std::filesystem::file_size(damaged)) / (1 << 20);
    std::printf("damaged recording: %s, %.1f MiB (units of %s)\n", damaged.c_str(), mib, reference.c_str());

    copyFile(damaged, copy);  // warms the page cache for both runs
    std::filesystem::remove(copy);

    double copyBest = 1e9, syncedBest = 1e9, repairBest = 1e9;
    long repairPeak = 0;
    for (int round = 1; round <= 2; ++round) {
        const Timed c = copyFile(damaged, copy);
        std::filesystem::remove(copy);
        const Timed cs = copyAndSync(damaged, copy);
        std::filesystem::remove(copy);
        const Timed r = repairFile(reference, damaged, results);
        std::filesystem::remove_all(results);
        if (c.exitCode != 0 || cs.exitCode != 0 || r.exitCode != 0) {
            std::fprintf(stderr, "round %d failed (cp %d, cp+sync %d, repair %d)\n", round, c.exitCode, cs.exitCode,
                         r.exitCode);
            return 1;
        }
        std::printf("round %d: cp %.2f s (%.0f MiB/s), cp+fsync %.2f s (%.0f MiB/s), repair %.2f s (%.0f MiB/s, "
                    "%.2f s CPU), repair peak %.1f MiB\n",
                    round, c.seconds, mib / c.seconds, cs.seconds, mib / cs.seconds, r.seconds, mib / r.seconds,
                    r.cpuSeconds, r.peakKiB / 1024.0);
        copyBest = std::min(copyBest, c.seconds);
        syncedBest = std::min(syncedBest, cs.seconds);
        repairBest = std::min(repairBest, r.seconds);
        repairPeak = std::max(repairPeak, r.peakKiB);
    }
    std::printf("best: cp %.0f MiB/s, cp+fsync %.0f MiB/s, repair %.0f MiB/s\n", mib / copyBest, mib / syncedBest,
                mib / repairBest);
    std::printf("repair time / cp time %.2f, / cp+fsync time %.2f (target <= 1.5)\n", repairBest / copyBest,
                repairBest / syncedBest);
    std::printf("peak memory: %.1f MiB, largest unit %.2f MiB (target: peak <= 64 MiB + largest unit)\n",
                repairPeak / 1024.0, static_cast<double>(largestUnit) / (1 << 20));
    if (!keep) std::filesystem::remove(damaged);
    return 0;
}

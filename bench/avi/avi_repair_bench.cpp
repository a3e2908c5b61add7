// Repairs a 1 GiB AVI whose index is lost and copies the same file with cp,
// in the same run, with the page cache warm for both. The repair ends with
// an fsync of its result, so it is also compared with cp followed by sync.
//
//   arbel_avi_bench [--benchmark_counters_tabular=true]
//
// The input is made once in the build folder from an ffmpeg clip whose
// movie chunks are repeated; it is not part of the sources.
#include "progress/notification.h"
#include "engine/avi/repair_file_avi.h"
#include "engine/engine_reporter.h"
#include "platform/file_reader.h"
#include "platform/output_writer.h"
#include "platform/pacing.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

constexpr uint64_t kTargetBytes = 1ull << 30;
const std::string kFolder = ARBEL_AVI_BENCH_DIR;

bool run(const std::vector<std::string>& argv) {
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawnp(&pid, args[0], nullptr, nullptr, args.data(), environ) != 0) return false;
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

uint64_t sizeOf(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
}

// The clip's header up to its movie list, then its movie chunks over and
// over until the file passes 1 GiB; no index, as after a cut recording.
std::string bigInput() {
    const std::string path = kFolder + "/avi_bench_input.avi";
    if (sizeOf(path) >= kTargetBytes) return path;
    const std::string clip = kFolder + "/avi_bench_clip.avi";
    if (sizeOf(clip) == 0 &&
        !run({"ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i", "testsrc=size=640x480:rate=25", "-f", "lavfi", "-i",
              "sine=frequency=440:sample_rate=44100", "-t", "10", "-c:v", "mjpeg", "-q:v", "3", "-c:a", "pcm_s16le",
              "-ac", "2", clip}))
        return {};

    arbel::FileReader reader(clip);
    const std::vector<uint8_t> bytes = reader.readAt(0, static_cast<size_t>(reader.size()));
    const uint8_t* movi = static_cast<const uint8_t*>(memmem(bytes.data(), bytes.size(), "movi", 4));
    const uint8_t* idx1 = static_cast<const uint8_t*>(memmem(bytes.data(), bytes.size(), "idx1", 4));
    if (!movi || !idx1 || idx1 < movi) return {};
    const size_t moviData = static_cast<size_t>(movi - bytes.data()) + 4;
    const size_t moviEnd = static_cast<size_t>(idx1 - bytes.data());

    arbel::OutputWriter out(8 << 20);
    if (!out.create(path + ".tmp")) return {};
    out.append(bytes.data(), moviData);
    while (out.cursor() < kTargetBytes) out.append(bytes.data() + moviData, moviEnd - moviData);
    if (!out.close() || std::rename((path + ".tmp").c_str(), path.c_str()) != 0) return {};
    return path;
}

double seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

// Each timed step starts with no dirty pages of an earlier step still
// waiting to be written back.
void settle() { run({"sync"}); }

double timedCopy(const std::string& from, const std::string& to, bool durable) {
    settle();
    const auto start = std::chrono::steady_clock::now();
    const bool ok = run({"cp", from, to}) && (!durable || run({"sync", to}));
    const double elapsed = seconds(start);
    std::remove(to.c_str());
    return ok ? elapsed : -1;
}

struct RepairRun {
    double total = -1;
    double scan = 0;  // header pass and chunk scan; the rest is writing
    uint64_t chunks = 0;
};

RepairRun timedRepair(const std::string& input, const std::string& output) {
    settle();
    RepairRun r;
    arbel::NotificationCenter center;
    bool completed = false;
    auto start = std::chrono::steady_clock::now();
    center.addObserver(arbel::kProgressNotificationName, [&](const std::string&, const arbel::NotifDict& d) {
        const auto progress = arbel::notifNumber(d, "progress");
        if (progress == 80.0) r.scan = seconds(start);
        if (progress == 100.0) completed = true;
    });
    {
        arbel::RepairRequest request = arbel::RepairRequest::forFiles(input);
        request.center = &center;
        request.resultPath = output;
        arbel::RepairFileAvi engine(request);
        start = std::chrono::steady_clock::now();
        if (engine.fileValidityCheck()) engine.retrieveAudioVideoSamples();
        r.total = seconds(start);
        r.chunks = engine.videosamplecount + engine.audiosamplecount;
    }
    std::remove(output.c_str());
    if (!completed) r.total = -1;
    return r;
}

template <typename T, typename Key>
T median(std::vector<T> runs, Key key) {
    std::sort(runs.begin(), runs.end(), [&](const T& a, const T& b) { return key(a) < key(b); });
    return runs[runs.size() / 2];
}

// Five rounds of each contender, interleaved; the medians are reported
// (a virtual disk varies a lot from one write to the next).
void AviRepairAgainstCopy(benchmark::State& state) {
    arbel::Pacing::setMode(arbel::Pacing::Mode::Zero);
    const std::string input = bigInput();
    if (input.empty()) {
        state.SkipWithError("could not make the 1 GiB input (is ffmpeg installed?)");
        return;
    }
    const std::string output = kFolder + "/avi_bench_output.avi";
    const double megabytes = static_cast<double>(sizeOf(input)) / 1e6;
    // Warm the page cache, so that both contenders read from memory.
    {
        arbel::FileReader warm(input);
        std::vector<uint8_t> piece(8 << 20);
        for (uint64_t at = 0; at < warm.size(); at += piece.size()) warm.readAt(at, piece.data(), piece.size());
    }

    std::vector<double> copies, durableCopies;
    std::vector<RepairRun> repairs;
    for (auto _ : state) {
        for (int round = 0; round < 5; ++round) {
            copies.push_back(timedCopy(input, output, false));
            repairs.push_back(timedRepair(input, output));
            durableCopies.push_back(timedCopy(input, output, true));
        }
        state.SetIterationTime(median(repairs, [](const RepairRun& r) { return r.total; }).total);
    }
    const double copy = median(copies, [](double v) { return v; });
    const double durableCopy = median(durableCopies, [](double v) { return v; });
    const RepairRun repair = median(repairs, [](const RepairRun& r) { return r.total; });
    for (const RepairRun& r : repairs) {
        if (r.total <= 0) {
            state.SkipWithError("a repair did not complete");
            return;
        }
    }
    if (copy <= 0 || durableCopy <= 0) {
        state.SkipWithError("cp failed");
        return;
    }
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    state.counters["input_MB"] = megabytes;
    state.counters["chunks"] = static_cast<double>(repair.chunks);
    state.counters["repair_s"] = repair.total;
    state.counters["scan_s"] = repair.scan;
    state.counters["write_s"] = repair.total - repair.scan;
    state.counters["repair_MBps"] = megabytes / repair.total;
    state.counters["cp_s"] = copy;
    state.counters["cp_MBps"] = megabytes / copy;
    state.counters["ratio_to_cp"] = repair.total / copy;
    state.counters["cp_sync_s"] = durableCopy;
    state.counters["ratio_to_cp_sync"] = repair.total / durableCopy;
    state.counters["peak_rss_MiB"] = static_cast<double>(usage.ru_maxrss) / 1024.0;
}

BENCHMARK(AviRepairAgainstCopy)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();

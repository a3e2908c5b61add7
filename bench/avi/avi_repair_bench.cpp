// Repairs AVIs of 1 GiB and 4.3 GiB whose index is lost and copies the same
// files with cp, in the same run, with the page cache warm for both. The
// repair ends with an fsync of its result, so it is also compared with cp
// followed by sync. Each contender runs in a child process of its own: its
// wall time, CPU time and peak memory are its own.
//
//   arbel_avi_bench [--sizes-mib 1024,4403] [--work DIR] [--keep]
//
// The inputs are made from an ffmpeg clip whose movie chunks are repeated
// (the clip is kept in the work folder); they are not part of the sources.
#include "../copy_timing.h"
#include "engine/avi/repair_file_avi.h"
#include "platform/file_reader.h"
#include "platform/output_writer.h"
#include "platform/pacing.h"

#include <cstring>
#include <spawn.h>
#include <sys/stat.h>

extern char** environ;

using namespace arbel::bench;

namespace {

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
// over until the file holds `target` bytes; no index, as after a cut recording.
std::string bigInput(const std::string& folder, uint64_t target) {
    const std::string path = folder + "/avi_bench_input.avi";
    const std::string clip = folder + "/avi_bench_clip.avi";
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
    if (!out.create(path)) return {};
    out.append(bytes.data(), moviData);
    while (out.cursor() < target) out.append(bytes.data() + moviData, moviEnd - moviData);
    if (!out.close()) return {};
    return path;
}

Timed repairInChild(const std::string& input, const std::string& output) {
    const Timed t = inChild([&] {
        arbel::Pacing::setMode(arbel::Pacing::Mode::Zero);
        arbel::RepairRequest request = arbel::RepairRequest::forFiles(input);
        request.resultPath = output;
        arbel::RepairFileAvi engine(request);
        if (!engine.fileValidityCheck()) return 1;
        const arbel::RepairReport r = engine.retrieveAudioVideoSamples();
        if (!r.completed()) {
            std::fprintf(stderr, "repair did not complete: %s\n", r.reason.c_str());
            return 1;
        }
        std::printf("  repair: %llu video chunks, %llu audio chunks, result %.1f MiB\n",
                    static_cast<unsigned long long>(engine.videosamplecount),
                    static_cast<unsigned long long>(engine.audiosamplecount),
                    static_cast<double>(r.resultSize) / (1 << 20));
        std::fflush(stdout);
        return 0;
    });
    std::remove(output.c_str());
    return t;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<uint64_t> sizes = sizesFrom(kDefaultSizes);
    std::string work = ARBEL_AVI_BENCH_DIR;
    bool keep = false;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--sizes-mib") && i + 1 < argc) sizes = sizesFrom(argv[++i]);
        else if (!std::strcmp(argv[i], "--work") && i + 1 < argc) work = argv[++i];
        else if (!std::strcmp(argv[i], "--keep")) keep = true;
        else {
            std::fprintf(stderr, "usage: arbel_avi_bench [--sizes-mib 1024,4403] [--work DIR] [--keep]\n");
            return 2;
        }
    }
    std::filesystem::create_directories(work);
    std::vector<Comparison> rows;
    for (const uint64_t sizeMiB : sizes) {
        const std::string input = bigInput(work, sizeMiB << 20);
        if (input.empty()) {
            std::fprintf(stderr, "could not make the input (is ffmpeg installed?)\n");
            return 1;
        }
        std::printf("damaged AVI: %s, %.1f MiB\n", input.c_str(), static_cast<double>(sizeOf(input)) / (1 << 20));
        const std::string output = work + "/avi_bench_output.avi";
        Comparison row;
        if (!compareWithCopy(input, work + "/avi_bench_copy.avi", [&] { return repairInChild(input, output); }, &row))
            return 1;
        rows.push_back(row);
        if (!keep) std::remove(input.c_str());
    }
    printSummary("AVI", rows);
    return 0;
}

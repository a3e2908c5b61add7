// Repair speed against copying: builds camera-like damaged recordings of
// 1 GiB and 4.3 GiB from the units of the bundled reference (its frames and
// audio chunks repeated, no movie atom), then times `cp` of each file and a
// repair of it with zero pacing, each in its own child process so that peak
// memory is the repair's own.
//
//   arbel-bench-mov [--sizes-mib 1024,4403] [--work DIR] [--keep]
#include "bench_timing.h"
#include "support/camera_clip.h"
#include "support/temp_dir.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

using namespace arbel;
using namespace arbel::bench;
using namespace arbel::test;

int main(int argc, char** argv) {
    std::vector<uint64_t> sizes = sizesFrom(kDefaultSizes);
    std::string work = "/tmp/arbel-bench-mov";
    bool keep = false;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--sizes-mib") && i + 1 < argc) sizes = sizesFrom(argv[++i]);
        else if (!std::strcmp(argv[i], "--work") && i + 1 < argc) work = argv[++i];
        else if (!std::strcmp(argv[i], "--keep")) keep = true;
        else {
            std::fprintf(stderr, "usage: arbel-bench-mov [--sizes-mib 1024,4403] [--work DIR] [--keep]\n");
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

    std::vector<Comparison> rows;
    for (const uint64_t sizeMiB : sizes) {
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

        const auto repair = [&] { return repairInChild(reference, damaged, results, ScanChoice::Auto); };
        Comparison row;
        if (!compareWithCopy(damaged, copy, repair, &row)) return 1;
        std::printf("largest unit %.2f MiB (target: peak <= 64 MiB + 16 bytes a unit)\n",
                    static_cast<double>(largestUnit) / (1 << 20));
        rows.push_back(row);
        if (!keep) std::filesystem::remove(damaged);
    }
    printSummary("QuickTime", rows);
    return 0;
}

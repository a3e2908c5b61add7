// Codec-aware repair speed against copying: a phone-like H.264 + AAC MP4 as
// ffmpeg's muxer lays it out, its movie atom lost, of at least 1 GiB (the
// media data of a ten-second 1080p encode, repeated), repaired with the
// codec-aware scan in a child process of its own, beside cp of the same file.
//
//   arbel-bench-codec [--size-mib N] [--work DIR] [--keep]
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

namespace {

uint64_t be32(const ByteString& b, uint64_t at) {
    return (uint64_t{b[at]} << 24) | (uint64_t{b[at + 1]} << 16) | (uint64_t{b[at + 2]} << 8) | b[at + 3];
}

// The healthy clip, encoded once and kept in the work folder.
bool encodeReference(const std::string& path) {
    if (std::filesystem::exists(path)) return true;
    const ProgramRun run = runProgram(
        {"ffmpeg", "-nostdin", "-v", "error", "-y", "-f", "lavfi", "-i",
         "testsrc2=size=1920x1080:rate=30:duration=10", "-f", "lavfi", "-i",
         "anoisesrc=a=0.2:d=10:r=48000:c=pink", "-vf", "noise=alls=12:allf=t", "-c:v", "libx264", "-preset",
         "veryfast", "-b:v", "12M", "-maxrate", "12M", "-bufsize", "24M", "-g", "30", "-c:a", "aac", "-b:a", "160k",
         "-ac", "2", path});
    if (run.exitCode != 0) std::fprintf(stderr, "ffmpeg failed: %s\n", run.output.c_str());
    return run.exitCode == 0;
}

}  // namespace

int main(int argc, char** argv) {
    uint64_t sizeMiB = 1024;
    std::string work = "/tmp/arbel-bench-codec";
    bool keep = false;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--size-mib") && i + 1 < argc) sizeMiB = std::strtoull(argv[++i], nullptr, 10);
        else if (!std::strcmp(argv[i], "--work") && i + 1 < argc) work = argv[++i];
        else if (!std::strcmp(argv[i], "--keep")) keep = true;
        else {
            std::fprintf(stderr, "usage: arbel-bench-codec [--size-mib N] [--work DIR] [--keep]\n");
            return 2;
        }
    }
    std::filesystem::create_directories(work);
    const std::string reference = work + "/reference.mp4";
    if (!programAvailable("ffmpeg") || !encodeReference(reference)) return 1;

    // The reference's top-level boxes: its ftyp, and its media data to repeat.
    const ByteString clip = readWholeFile(reference);
    uint64_t ftypEnd = 0, mediaStart = 0, mediaEnd = 0;
    for (uint64_t at = 0; at + 8 <= clip.size();) {
        const uint64_t size = be32(clip, at);
        if (size < 8 || size > clip.size() - at) break;
        if (!std::memcmp(clip.data() + at + 4, "ftyp", 4)) ftypEnd = at + size;
        if (!std::memcmp(clip.data() + at + 4, "mdat", 4)) {
            mediaStart = at + 8;
            mediaEnd = at + size;
        }
        at += size;
    }
    if (ftypEnd == 0 || mediaEnd <= mediaStart) {
        std::fprintf(stderr, "%s holds no ftyp and mdat\n", reference.c_str());
        return 1;
    }

    // The recording: ftyp, an mdat whose size was never written, the media
    // data again and again, no movie atom.
    const std::string damaged = work + "/damaged.mp4";
    const std::string copy = work + "/copy.mp4";
    const std::string results = work + "/results";
    {
        std::ofstream out(damaged, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(clip.data()), static_cast<std::streamsize>(ftypEnd));
        const char mdat[8] = {0, 0, 0, 0, 'm', 'd', 'a', 't'};
        out.write(mdat, 8);
        for (uint64_t written = ftypEnd + 8; written < (sizeMiB << 20); written += mediaEnd - mediaStart)
            out.write(reinterpret_cast<const char*>(clip.data() + mediaStart),
                      static_cast<std::streamsize>(mediaEnd - mediaStart));
    }
    std::printf("damaged recording: %s, %.1f MiB (the media of %s repeated)\n", damaged.c_str(),
                static_cast<double>(std::filesystem::file_size(damaged)) / (1 << 20), reference.c_str());

    const auto repair = [&] { return repairInChild(reference, damaged, results, ScanChoice::Codec); };
    if (!compareWithCopy(damaged, copy, repair)) return 1;
    if (!keep) std::filesystem::remove(damaged);
    return 0;
}

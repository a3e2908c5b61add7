// Recordings as ffmpeg's own muxers write them, which no camera rule fits,
// damaged four ways and repaired by the codec-aware scan: from the engine,
// and from the command line with --verify.
#include "platform/pacing.h"
#include "support/camera_clip.h"
#include "support/engine_run.h"
#include "support/recovery_check.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>

namespace arbel {
namespace {

using namespace arbel::test;

ClipCache& cache() {
    static ClipCache c(ARBEL_CLIP_CACHE);
    return c;
}

struct Kind {
    const char* name;
    const char* container;              // ffmpeg muxer: "mp4" or "mov"
    std::vector<std::string> codecs;    // encoder options
    const char* videoCodec;             // as ffprobe names it
    const char* scan;                   // the report's words
    bool cameraRefuses;                 // the camera rules alone refuse it (else: they recover little)
};

const std::vector<Kind>& kinds() {
    static const std::vector<Kind> k = {
        {"phone", "mp4", {"-c:v", "libx264", "-bf", "0", "-g", "30", "-c:a", "aac", "-b:a", "96k"}, "h264",
         "codec-aware: H.264 + AAC", true},
        {"bframes", "mp4", {"-c:v", "libx264", "-bf", "3", "-g", "30", "-c:a", "aac"}, "h264",
         "codec-aware: H.264 + AAC", false},
        {"hevc", "mp4",
         {"-c:v", "libx265", "-x265-params", "log-level=error", "-g", "30", "-tag:v", "hvc1", "-c:a", "aac"}, "hevc",
         "codec-aware: HEVC + AAC", true},
        {"delimiters", "mp4", {"-c:v", "libx264", "-bf", "0", "-x264-params", "aud=1", "-g", "30", "-c:a", "aac"},
         "h264", "codec-aware: H.264 + AAC", true},
        // A timecode track: its one sample stands at the start of the media.
        {"pcm", "mov", {"-c:v", "libx264", "-bf", "0", "-g", "30", "-c:a", "pcm_s16le", "-timecode", "01:00:00:00"},
         "h264", "codec-aware: H.264 + PCM", false},
        {"mjpeg", "mov", {"-c:v", "mjpeg", "-q:v", "5", "-c:a", "pcm_s16le"}, "mjpeg", "codec-aware: MJPEG + PCM",
         true},
    };
    return k;
}

enum class Damage { Truncated, MovieAtomLost, HeaderZeroed, MiddleOverwritten };

const char* damageName(Damage d) {
    switch (d) {
    case Damage::Truncated: return "truncated";
    case Damage::MovieAtomLost: return "moov_lost";
    case Damage::HeaderZeroed: return "header_zeroed";
    case Damage::MiddleOverwritten: return "middle_overwritten";
    }
    return "";
}

// 320x240 at 30 fps with pink-noise sound; the reference and the recording
// differ in length and in what they show and sound.
std::optional<std::string> recording(const Kind& kind, double seconds, int seed, std::string& error) {
    std::vector<std::string> args = {"-f", "lavfi", "-i",
                                     "testsrc2=size=320x240:rate=30:duration=" + std::to_string(seconds), "-f",
                                     "lavfi", "-i",
                                     "anoisesrc=a=0.2:c=pink:r=48000:seed=" + std::to_string(seed) +
                                         ":d=" + std::to_string(seconds)};
    if (seed != 1) args.insert(args.end(), {"-vf", "hue=h=" + std::to_string(seed * 40)});
    args.insert(args.end(), kind.codecs.begin(), kind.codecs.end());
    args.insert(args.end(), {"-ac", "2", "-f", kind.container});
    const auto bytes = cache().encoded(args, kind.container, error);
    if (!bytes) return std::nullopt;
    // The cache names files by their arguments; hand back a copy's path.
    static TempDir folder;
    return folder.write(std::string(kind.name) + "-" + std::to_string(seed) + "." + kind.container, *bytes);
}

ByteString damaged(const CameraFile& f, Damage d) {
    switch (d) {
    case Damage::Truncated: return truncatedRecording(f, f.mdatOffset + (f.moovOffset - f.mdatOffset) * 7 / 10);
    case Damage::MovieAtomLost: return truncatedRecording(f, f.moovOffset);
    case Damage::HeaderZeroed: return headerZeroed(f, 4096);
    case Damage::MiddleOverwritten: {
        const uint64_t middle = f.mdatOffset + (f.moovOffset - f.mdatOffset) / 2;
        return mediaOverwritten(f, middle, middle + 20000);
    }
    }
    return {};
}

struct Probe {
    std::vector<double> videoTimes;  // presentation time of each frame decoded, in order shown
    std::vector<double> packetTimes; // presentation time of each video sample, in file order
    double videoStart = 0, audioStart = 0;
    bool opened = false;
};

Probe probe(const std::string& path) {
    Probe p;
    const ProgramRun frames = runProgram({"ffprobe", "-v", "error", "-select_streams", "v:0", "-show_entries",
                                          "frame=best_effort_timestamp_time", "-of", "csv=p=0", path});
    std::istringstream lines(frames.output);
    for (std::string line; std::getline(lines, line);)
        if (!line.empty() && line != "N/A") p.videoTimes.push_back(std::atof(line.c_str()));
    const ProgramRun packets = runProgram({"ffprobe", "-v", "error", "-select_streams", "v:0", "-show_entries",
                                           "packet=pts_time", "-of", "csv=p=0", path});
    std::istringstream packetLines(packets.output);
    for (std::string line; std::getline(packetLines, line);)
        if (!line.empty()) p.packetTimes.push_back(std::atof(line.c_str()));
    const ProgramRun starts = runProgram(
        {"ffprobe", "-v", "error", "-show_entries", "stream=codec_type,start_time", "-of", "csv=p=0", path});
    p.opened = starts.exitCode == 0;
    std::istringstream streams(starts.output);
    for (std::string line; std::getline(streams, line);) {
        const auto comma = line.find(',');
        if (comma == std::string::npos) continue;
        const double t = std::atof(line.c_str() + comma + 1);
        if (line.compare(0, comma, "video") == 0) p.videoStart = t;
        if (line.compare(0, comma, "audio") == 0) p.audioStart = t;
    }
    return p;
}

using Case = std::tuple<size_t, Damage>;

class CodecAwareEndToEnd : public ::testing::TestWithParam<Case> {
protected:
    void SetUp() override {
        if (!programAvailable("ffmpeg") || !programAvailable("ffprobe"))
            GTEST_SKIP() << "ffmpeg and ffprobe are needed to make and check real recordings";
        Pacing::setMode(Pacing::Mode::Zero);
    }
    TempDir dir;
    ScopedResultBase base{dir.file("results")};
};

TEST_P(CodecAwareEndToEnd, RecoversWhatSurvivedAndPlaysIt) {
    const Kind& kind = kinds()[std::get<0>(GetParam())];
    const Damage damage = std::get<1>(GetParam());
    std::string error;
    const auto referencePath = recording(kind, 2, 1, error);
    const auto originalPath = recording(kind, 4, 7, error);
    ASSERT_TRUE(referencePath && originalPath) << error;
    const CameraFile original = cameraFileOf(*originalPath, error);
    ASSERT_TRUE(error.empty() && !original.videoFrames.empty() && !original.audioUnits.empty()) << error;
    const ByteString bad = damaged(original, damage);
    const std::string badPath = dir.write(std::string("damaged.") + kind.container, bad);

    const MovRepairOutcome run = runMovRepair(*referencePath, badPath);
    ASSERT_TRUE(run.completed()) << run.statusTrail();
    EXPECT_EQ(run.report.scan, kind.scan);
    const Recovery r = recoveryOf(run.resultPath, original, bad);
    std::printf("[%s/%s] video %zu/%zu, audio %zu/%zu, foreign %zu + %zu\n", kind.name, damageName(damage),
                r.video.recovered, r.video.survived, r.audio.recovered, r.audio.survived, r.video.foreign,
                r.audio.foreign);
    EXPECT_EQ(r.error, "");
    ASSERT_GT(r.video.survived, 0u);
    EXPECT_GE(r.video.recovered * 100, r.video.survived * 99);
    EXPECT_GE(r.audio.recovered * 100, r.audio.survived * 99);
    EXPECT_EQ(r.video.foreign, 0u) << "video samples that are no frame of the recording";
    EXPECT_EQ(r.audio.foreign, 0u) << "audio that is no sound of the recording";

    const Probe p = probe(run.resultPath);
    ASSERT_TRUE(p.opened);
    // Every sample has a time of its own: the pictures are put in order.
    ASSERT_EQ(p.packetTimes.size(), r.video.resultUnits);
    std::vector<double> shown = p.packetTimes;
    std::sort(shown.begin(), shown.end());
    EXPECT_EQ(std::adjacent_find(shown.begin(), shown.end()), shown.end()) << "two samples shown at one time";
    EXPECT_LE(std::fabs(p.videoStart - p.audioStart), 1024.0 / 48000) << "sound and picture start apart";
    // Where the damage is only at the end, every frame decodes cleanly and
    // plays in order. (Damage at the start or in the middle takes reference
    // pictures with it: the decoder drops or conceals what depends on them.)
    if (damage == Damage::Truncated || damage == Damage::MovieAtomLost) {
        const ProgramRun decode =
            runProgram({"ffmpeg", "-nostdin", "-v", "error", "-i", run.resultPath, "-f", "null", "-"});
        EXPECT_EQ(decode.exitCode, 0);
        EXPECT_EQ(decode.output, "");
        EXPECT_EQ(p.videoTimes.size(), r.video.resultUnits);
        for (size_t i = 1; i < p.videoTimes.size(); ++i)
            ASSERT_LT(p.videoTimes[i - 1], p.videoTimes[i]) << "frame " << i << " is shown out of order";
    }
}

std::string caseName(const ::testing::TestParamInfo<Case>& info) {
    return std::string(kinds()[std::get<0>(info.param)].name) + "_" + damageName(std::get<1>(info.param));
}

INSTANTIATE_TEST_SUITE_P(FfmpegRecordings, CodecAwareEndToEnd,
                         ::testing::Combine(::testing::Range<size_t>(0, 6),
                                            ::testing::Values(Damage::Truncated, Damage::MovieAtomLost,
                                                              Damage::HeaderZeroed, Damage::MiddleOverwritten)),
                         caseName);

unsigned long numberAfter(const std::string& text, const std::string& key) {
    const auto at = text.find("\"" + key + "\": ");
    return at == std::string::npos ? 0 : std::strtoul(text.c_str() + at + key.size() + 4, nullptr, 10);
}

// The command line takes the codec-aware scan by itself, says so, and with
// --verify says what plays; forced to the camera rules it refuses these
// recordings or recovers far less of them.
TEST(CodecAwareCommandLine, RepairsVerifiesAndReportsTheScan) {
    if (!programAvailable("ffmpeg") || !programAvailable("ffprobe")) GTEST_SKIP() << "ffmpeg is needed";
    TempDir dir;
    std::string error;
    for (const Kind& kind : kinds()) {
        SCOPED_TRACE(kind.name);
        const auto referencePath = recording(kind, 2, 1, error);
        const auto originalPath = recording(kind, 4, 7, error);
        ASSERT_TRUE(referencePath && originalPath) << error;
        const CameraFile original = cameraFileOf(*originalPath, error);
        const std::string bad = dir.write(std::string("damaged.") + kind.container, damaged(original, Damage::MovieAtomLost));
        const std::string out = dir.file(std::string(kind.name) + "-repaired.mov");
        const InputGuard inputs({*referencePath, bad});
        const ProgramRun run =
            runProgram({ARBEL_CLI_PATH, "repair", "--json", "--verify", "-r", *referencePath, bad, "-o", out});
        inputs.expectUnchanged();
        ASSERT_EQ(run.exitCode, 0) << run.output;
        EXPECT_NE(run.output.find(std::string("\"scan\": \"") + kind.scan + "\""), std::string::npos) << run.output;
        EXPECT_NE(run.output.find("\"scanVariant\": \"codec\""), std::string::npos) << run.output;
        EXPECT_NE(run.output.find("\"decodedVideoFrames\": " + std::to_string(original.videoFrames.size()) + ","),
                  std::string::npos)
            << run.output;
        EXPECT_NE(run.output.find("\"decodeErrors\": 0,"), std::string::npos) << run.output;
        EXPECT_NE(run.output.find("\"verification\": \"Recovered " + std::to_string(original.videoFrames.size()) +
                                  " frames (0:00\u20130:03) and 0:0"),
                  std::string::npos)
            << run.output;

        const std::string cameraOut = dir.file(std::string(kind.name) + "-camera.mov");
        const ProgramRun camera = runProgram({ARBEL_CLI_PATH, "repair", "--json", "--scan", "camera", "-r",
                                              *referencePath, bad, "-o", cameraOut});
        inputs.expectUnchanged();
        if (kind.cameraRefuses) {
            EXPECT_EQ(camera.exitCode, 1) << camera.output;
            EXPECT_FALSE(std::filesystem::exists(cameraOut));
        } else {
            EXPECT_EQ(camera.exitCode, 0) << camera.output;
            EXPECT_LT(numberAfter(camera.output, "videoSamples") * 2, numberAfter(run.output, "videoSamples"));
        }
    }
}

}  // namespace
}  // namespace arbel

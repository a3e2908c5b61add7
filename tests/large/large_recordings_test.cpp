// Recordings whose results pass 4 GiB, repaired by the command line as a
// user runs it: one per scan that can meet such a recording, and an AVI.
// Each recording is a short real encode repeated to 4.3 GiB and cut while it
// was written (no movie atom, no index). Every result must open in
// ffprobe with as many frames and packets as survived, decode its last
// seconds cleanly and read back with every size and offset consistent.
//
// Label "large": some 10 GiB of disk and a minute or two per recording.
// ARBEL_LARGE_BYTES sets another size (for a quick look at the machinery).
#include "support/camera_clip.h"
#include "support/large_recording.h"
#include "support/recovery_check.h"
#include "support/riff_tree.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>

namespace arbel {
namespace {

using namespace arbel::test;

constexpr uint64_t kDefaultTarget = 4617089843ull;  // 4.3 GiB
// The repair's own memory beside its tables, whatever the file's size.
constexpr uint64_t kFixedMemoryBudget = 64ull << 20;
constexpr uint64_t kTableBytesPerUnit = 16;
constexpr uint64_t kCodecAwareTableBytesPerUnit = 64;

ClipCache& cache() {
    static ClipCache c(ARBEL_CLIP_CACHE);
    return c;
}

uint64_t targetBytes() {
    const char* v = std::getenv("ARBEL_LARGE_BYTES");
    return v && *v ? std::strtoull(v, nullptr, 10) : kDefaultTarget;
}

// The checks that only a result past 4 GiB can pass.
bool past4GiB() { return targetBytes() > (1ull << 32) + (64 << 20); }

// A short encode: the healthy reference, and the clip whose media the big
// recording repeats, with the bytes that stand in front of that media.
struct Source {
    CameraFile reference;
    CameraFile clip;
    ByteString prefix;
    bool aac = false;
};

class LargeRecordings : public ::testing::Test {
protected:
    void SetUp() override {
        if (!programAvailable("ffmpeg") || !programAvailable("ffprobe"))
            GTEST_SKIP() << "ffmpeg and ffprobe are needed to make and check real recordings";
        const uint64_t need = 2 * targetBytes() + (1ull << 30);
        if (freeBytesAt(dir.path()) < need)
            GTEST_SKIP() << "the large-file tests need " << (need >> 30) << " GiB free in " << dir.path();
    }

    // The command line's repair, its JSON report, memory and the result.
    struct Repaired {
        MeasuredRun cli;
        std::string json;
        std::string result;
    };
    Repaired repair(const std::string& damaged, const std::string& reference, const std::string& result) {
        Repaired r;
        r.result = result;
        std::filesystem::remove(result);
        std::vector<std::string> argv = {ARBEL_CLI_PATH, "repair", "--json", "--output", result};
        if (!reference.empty()) argv.insert(argv.end(), {"--reference", reference});
        argv.push_back(damaged);
        r.cli = runMeasured(argv);
        const size_t open = r.cli.run.output.find("{\"schema\"");
        if (open != std::string::npos) r.json = r.cli.run.output.substr(open, r.cli.run.output.rfind('}') + 1 - open);
        return r;
    }

    // What every result must show, whatever its container.
    // audioShortBy: sound a scan leaves out by design (the MJPEG scan takes
    // the audio in front of its first frame at the length it estimates).
    static void expectPlaysToTheEnd(const Repaired& r, const Intact& intact, bool aac, uint64_t audioShortBy = 0,
                                    uint64_t tableBytesPerUnit = kTableBytesPerUnit) {
        ASSERT_EQ(r.cli.run.exitCode, 0) << r.cli.run.output.substr(0, 2000);
        EXPECT_EQ(jsonNumber(r.json, "videoSamples"), intact.video) << r.json;
        if (!aac) {
            EXPECT_LE(jsonNumber(r.json, "audioBytes"), intact.audioBytes) << r.json;
            EXPECT_GE(jsonNumber(r.json, "audioBytes") + audioShortBy, intact.audioBytes) << r.json;
        }
        if (past4GiB()) { EXPECT_GT(jsonNumber(r.json, "outputBytes"), 1ull << 32) << "the result must pass 4 GiB"; }

        std::string error;
        const auto streams = probeStreams(r.result, error);
        EXPECT_EQ(error, "");
        const ProbedStream* video = nullptr;
        const ProbedStream* audio = nullptr;
        for (const auto& s : streams) (s.type == "video" ? video : audio) = &s;
        ASSERT_NE(video, nullptr) << "no video stream";
        ASSERT_NE(audio, nullptr) << "no audio stream";
        EXPECT_EQ(video->frames, intact.video);
        EXPECT_EQ(video->packets, intact.video);
        if (aac) { EXPECT_EQ(audio->packets, intact.audio); }
        EXPECT_GT(audio->packets, 0u);
        EXPECT_EQ(decodeEnd(r.result, video->seconds), "") << "the last frames do not decode cleanly";

        const uint64_t units = jsonNumber(r.json, "videoSamples") + jsonNumber(r.json, "audioChunks");
        if (r.cli.peakKiB >= 0) {
            EXPECT_LE(static_cast<uint64_t>(r.cli.peakKiB) << 10, kFixedMemoryBudget + tableBytesPerUnit * units)
                << "peak memory " << r.cli.peakKiB << " KiB for " << units << " units";
        }
        std::printf("  %s: %.1f s, peak %.1f MiB, %llu video, %llu audio units\n", jsonText(r.json, "scan").c_str(),
                    r.cli.seconds, r.cli.peakKiB / 1024.0, static_cast<unsigned long long>(intact.video),
                    static_cast<unsigned long long>(intact.audio));
    }

    // The QuickTime path: the recording cut, its movie atom never written.
    void repairQuickTime(const Source& source, const std::string& scanMarker, uint64_t audioShortBy = 0,
                         uint64_t tableBytesPerUnit = kTableBytesPerUnit) {
        const std::string reference = dir.write("reference.mov", source.reference.bytes);
        std::string error;
        const auto big = writeRepeatedRecording(dir.file("damaged.mov"), source.prefix, clipMediaOf(source.clip),
                                                targetBytes(), error);
        ASSERT_TRUE(big) << error;
        const std::string result = dir.file("repaired.mov");

        const Repaired r = repair(big->path, reference, result);
        EXPECT_EQ(jsonText(r.json, "scanVariant"), scanMarker) << r.json;
        expectPlaysToTheEnd(r, big->intact(), source.aac, audioShortBy, tableBytesPerUnit);

        const QuickTimeReadBack back = readQuickTimeBack(result);
        EXPECT_TRUE(back.errors.empty()) << back.errors.front();
        if (past4GiB()) {
            EXPECT_GT(back.mediaEnd, 1ull << 32);
            EXPECT_TRUE(back.wideMediaHeader);
            for (const std::string& table : back.chunkTables) EXPECT_EQ(table, "co64");
        }
    }

    TempDir dir;
};

// Ten seconds of 640x480 MJPEG and 16-bit stereo PCM as ffmpeg writes an AVI.
std::optional<ByteString> aviClip(std::string& error) {
    return cache().encoded({"-f", "lavfi", "-i", "testsrc=size=640x480:rate=25", "-f", "lavfi", "-i",
                            "sine=frequency=440:sample_rate=44100", "-t", "10", "-c:v", "mjpeg", "-q:v", "3", "-c:a",
                            "pcm_s16le", "-ac", "2", "-f", "avi"},
                           ".avi", error);
}

Source cameraSource(const CameraRecording& recording) {
    return {recording.reference, recording.original, cutRecordingPrefix(recording.original)};
}

TEST_F(LargeRecordings, GenericScanOfH264WithPcm) {
    std::string error;
    auto refVideo = cache().h264(320, 240, 30, 30, 0, 30, true, error);
    auto recVideo = cache().h264(320, 240, 30, 300, 300, 30, true, error);
    auto audio = cache().audio(AudioCodec::In24, 48000, 2, 10.5, 450, error);
    ASSERT_TRUE(refVideo && recVideo && audio) << error;
    audio->waveExtension = true;
    LayoutOptions layout;
    layout.nal = {0x25, 0x21, false};
    const CameraRecording recording{layOutCameraFile(*refVideo, *audio, layout),
                                    layOutCameraFile(*recVideo, *audio, layout)};
    repairQuickTime(cameraSource(recording), "1");
}

TEST_F(LargeRecordings, CameraVariantOfCanonPcm) {
    const CameraSettings* camera = cameraFamily("canon-pcm");
    ASSERT_NE(camera, nullptr);
    std::string error;
    const auto recording = cameraRecording(cache(), *camera, error);
    ASSERT_TRUE(recording) << error;
    repairQuickTime(cameraSource(*recording), camera->markers.front());
}

TEST_F(LargeRecordings, MjpegScan) {
    std::string error;
    auto refVideo = cache().mjpeg(640, 480, 30, 150, 0, error);
    auto recVideo = cache().mjpeg(640, 480, 30, 300, 600, error);
    auto audio = cache().audio(AudioCodec::Ulaw, 8000, 1, 15.5, 400, error);
    ASSERT_TRUE(refVideo && recVideo && audio) << error;
    LayoutOptions layout;
    layout.framesPerVideoChunk = 15;
    layout.audioFirst = true;
    const CameraRecording recording{layOutCameraFile(*refVideo, *audio, layout),
                                    layOutCameraFile(*recVideo, *audio, layout)};
    // At most the first chunk of sound falls short: see expectPlaysToTheEnd.
    repairQuickTime(cameraSource(recording), "MJPEG", recording.original.audioChunks.front().size);
}

TEST_F(LargeRecordings, CodecAwareScanOfAnMp4WithAac) {
    std::string error;
    const auto encode = [&](double seconds, int seed) -> std::optional<CameraFile> {
        std::vector<std::string> args = {
            "-f", "lavfi", "-i", "testsrc2=size=320x240:rate=30:duration=" + std::to_string(seconds), "-f", "lavfi",
            "-i", "anoisesrc=a=0.2:c=pink:r=48000:seed=" + std::to_string(seed) + ":d=" + std::to_string(seconds),
            "-c:v", "libx264", "-bf", "0", "-g", "30", "-c:a", "aac", "-b:a", "96k", "-ac", "2", "-f", "mp4"};
        const auto bytes = cache().encoded(args, ".mp4", error);
        if (!bytes) return std::nullopt;
        const std::string path = dir.write("encode-" + std::to_string(seed) + ".mp4", *bytes);
        return cameraFileOf(path, error);
    };
    const auto reference = encode(4, 1);
    const auto clip = encode(10, 2);
    ASSERT_TRUE(reference && clip) << error;
    Source source{*reference, *clip, cutRecordingPrefix(*clip), true};
    // Its tables keep more a sample than the camera scans' 16 bytes (offset,
    // size, key flag, presentation order, chunk mark, and growth room): this
    // bound keeps them from growing further.
    repairQuickTime(source, "codec", 0, kCodecAwareTableBytesPerUnit);
}

// An ffmpeg MJPEG + PCM AVI: its header up to the movie list, then its movie
// chunks over and over, cut inside a chunk: no index, no end to any list.
TEST_F(LargeRecordings, AviChunkScanWritesRiffAvixLists) {
    std::string error;
    const auto clip = aviClip(error);
    ASSERT_TRUE(clip) << error;
    const ByteString& b = *clip;
    const auto find = [&](const char* code) {
        return static_cast<uint64_t>(std::search(b.begin(), b.end(), code, code + 4) - b.begin());
    };
    const uint64_t movi = find("movi"), idx1 = find("idx1");
    ASSERT_LT(movi, idx1);
    ClipMedia media;
    media.file = &b;
    media.begin = movi + 4;  // chunk headers are repeated too; a unit is a chunk's data
    media.end = idx1;
    for (uint64_t at = media.begin; at + 8 <= media.end;) {
        const uint32_t size = b[at + 4] | (b[at + 5] << 8) | (b[at + 6] << 16) | (uint32_t{b[at + 7]} << 24);
        const std::string id(reinterpret_cast<const char*>(b.data() + at), 4);
        if (id == "00dc" || id == "01wb") media.units.push_back({at + 8, size, id == "00dc"});
        at += 8 + size + (size & 1);
    }
    const ByteString prefix(b.begin(), b.begin() + static_cast<std::ptrdiff_t>(media.begin));
    const auto big = writeRepeatedRecording(dir.file("damaged.avi"), prefix, media, targetBytes(), error);
    ASSERT_TRUE(big) << error;

    const Repaired r = repair(big->path, "", dir.file("repaired.avi"));
    const Intact intact = big->intact();
    expectPlaysToTheEnd(r, intact, false);
    std::string probeError;
    for (const auto& s : probeStreams(r.result, probeError))
        if (s.type == "audio") { EXPECT_EQ(s.packets, intact.audio); }

    const RiffReadBack back = readRiffBack(r.result);
    EXPECT_TRUE(back.consistent()) << back.errors.front();
    if (past4GiB()) { EXPECT_GE(back.listTypes.size(), 5u); }
    EXPECT_EQ(back.listTypes.front(), "AVI ");
    for (uint64_t size : back.listSizes) EXPECT_LT(size, 1ull << 31) << "each RIFF list stays near 1 GiB";
    EXPECT_EQ(back.videoIndexed, intact.video);
    EXPECT_EQ(back.audioIndexed, intact.audio);
    EXPECT_EQ(back.extendedFrames, back.listTypes.size() > 1 ? intact.video : 0);
    EXPECT_EQ(back.videoStandardIndexes, back.listTypes.size());
}

// A recorder's own large AVI: ffmpeg's muxer, looping the clip, writes a
// "RIFF AVI " list and "RIFF AVIX" lists of 1 GiB, each movie list closed by
// its standard indexes. Cut inside its last list, it is scanned through all
// of them: every whole chunk comes back but the one right in front of each
// index (a chunk counts only when another chunk follows it).
TEST_F(LargeRecordings, AviWithAvixListsIsScannedThroughThem) {
    std::string error;
    const auto clip = aviClip(error);
    ASSERT_TRUE(clip) << error;
    const std::string clipPath = dir.write("clip.avi", *clip);
    const uint64_t target = std::min<uint64_t>(targetBytes(), 2500ull << 20);
    const std::string recorded = dir.file("recorded.avi");
    const ProgramRun mux = runProgram({"ffmpeg", "-nostdin", "-v", "error", "-stream_loop",
                                       std::to_string(target / clip->size()), "-i", clipPath, "-c", "copy", "-f",
                                       "avi", recorded});
    ASSERT_EQ(mux.exitCode, 0) << mux.output;

    // Where each packet lies (its data; ffprobe names stream, size, position), before the cut.
    const ProgramRun packets = runProgram({"ffprobe", "-v", "error", "-show_entries", "packet=stream_index,pos,size",
                                           "-of", "csv=p=0", recorded});
    ASSERT_EQ(packets.exitCode, 0) << packets.output.substr(0, 500);
    const uint64_t cut = std::filesystem::file_size(recorded) * 19 / 20;
    Intact intact;
    size_t at = 0;
    while (at < packets.output.size()) {
        const size_t end = std::min(packets.output.find('\n', at), packets.output.size());
        unsigned stream = 0;
        unsigned long long pos = 0, size = 0;
        if (std::sscanf(packets.output.c_str() + at, "%u,%llu,%llu", &stream, &size, &pos) == 3 && pos + size <= cut)
            ++(stream == 0 ? intact.video : intact.audio);
        at = end + 1;
    }
    std::filesystem::resize_file(recorded, cut);

    const Repaired r = repair(recorded, "", dir.file("repaired.avi"));
    ASSERT_EQ(r.cli.run.exitCode, 0) << r.cli.run.output.substr(0, 2000);
    // ffmpeg starts a list every 1 GiB; each list's indexes cost a chunk of each stream.
    const uint64_t lists = cut / (1ull << 30) + 1;
    const uint64_t video = jsonNumber(r.json, "videoSamples"), audio = jsonNumber(r.json, "audioChunks");
    EXPECT_LE(video, intact.video);
    EXPECT_GE(video + lists, intact.video) << r.json;
    EXPECT_LE(audio, intact.audio);
    EXPECT_GE(audio + lists, intact.audio) << r.json;

    std::string probeError;
    const auto streams = probeStreams(r.result, probeError);
    EXPECT_EQ(probeError, "");
    ASSERT_FALSE(streams.empty());
    EXPECT_EQ(streams.front().packets, video);
    EXPECT_EQ(decodeEnd(r.result, streams.front().seconds), "");
    const RiffReadBack back = readRiffBack(r.result);
    EXPECT_TRUE(back.consistent()) << back.errors.front();
    EXPECT_EQ(back.videoIndexed, video);
    EXPECT_EQ(back.audioIndexed, audio);
}

}  // namespace
}  // namespace arbel

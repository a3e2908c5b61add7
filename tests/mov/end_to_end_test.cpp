// Camera-like recordings made from real codecs, damaged the way cameras damage
// them, repaired by the engine and by the command-line program, then opened
// and decoded by ffprobe / ffmpeg.
#include "platform/pacing.h"
#include "support/camera_clip.h"
#include "support/engine_run.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

namespace arbel {
namespace {

using namespace arbel::test;

ClipCache& cache() {
    static ClipCache c(ARBEL_CLIP_CACHE);
    return c;
}

struct Recording {
    CameraFile reference;  // healthy clip from the same camera
    CameraFile original;   // the recording before it was damaged
};

struct Outcome {
    MovRepairOutcome run;
    Survivors survived;
    size_t videoFramesRecovered = 0;
    size_t foreignVideo = 0;
    size_t audioUnitsRecovered = 0;
    uint64_t audioBytesRecovered = 0;
    size_t foreignAudio = 0;
};

class EndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        if (!programAvailable("ffmpeg") || !programAvailable("ffprobe"))
            GTEST_SKIP() << "ffmpeg and ffprobe are needed to make and check real recordings";
        Pacing::setMode(Pacing::Mode::Zero);
    }

    // H.264 (320x240, 30 fps, IDR every second) with 24-bit PCM that carries a
    // "wave" extension, one audio chunk after every frame.
    Recording h264WithPcm(AudioCodec codec, bool wave, uint32_t framesPerChunk, const NalHeaders& nal) {
        Recording r;
        std::string error;
        auto refVideo = cache().h264(320, 240, 30, 30, 0, 30, true, error);
        auto recVideo = cache().h264(320, 240, 30, 90, 300, 30, true, error);
        auto audio = cache().audio(codec, 48000, 2, 3.2, 450, error);
        if (!refVideo || !recVideo || !audio) {
            ADD_FAILURE() << error;
            return r;
        }
        EXPECT_EQ(refVideo->sps, recVideo->sps) << "the two clips must share their parameter sets";
        audio->waveExtension = wave;
        LayoutOptions layout;
        layout.framesPerVideoChunk = framesPerChunk;
        layout.nal = nal;
        r.reference = layOutCameraFile(*refVideo, *audio, layout);
        r.original = layOutCameraFile(*recVideo, *audio, layout);
        return r;
    }

    // Checks that the healthy reference itself plays, then repairs.
    Outcome repair(const Recording& recording, const ByteString& damaged, const std::string& videoCodec) {
        Outcome o;
        const std::string ref = dir.write("reference.mov", recording.reference.bytes);
        {
            SCOPED_TRACE("the reference as laid out");
            expectPlayable(ref, videoCodec);
        }
        const std::string bad = dir.write("damaged.mov", damaged);
        o.survived = survivorsOf(recording.original, damaged);
        o.run = runMovRepair(ref, bad);
        if (!o.run.completed()) return o;

        std::string error;
        const auto tracks = readTracks(o.run.resultPath, error);
        EXPECT_EQ(error, "");
        for (const auto& track : tracks) {
            if (track.handler == "vide") {
                auto m = matchUnits(o.run.resultPath, track.units, recording.original.bytes,
                                    recording.original.videoFrames, o.survived.videoFrames);
                o.videoFramesRecovered = m.matchedOriginals;
                o.foreignVideo = m.foreign;
            } else if (track.handler == "soun") {
                auto m = matchUnits(o.run.resultPath, track.units, recording.original.bytes,
                                    recording.original.audioUnits, o.survived.audioUnits);
                o.audioUnitsRecovered = m.matchedOriginals;
                o.foreignAudio = m.foreign;
                for (const auto& u : track.units) o.audioBytesRecovered += u.size;
            }
        }
        return o;
    }

    // The result opens in ffprobe with a video stream, and decodes without a
    // single error line.
    static void expectPlayable(const std::string& path, const std::string& videoCodec) {
        ProgramRun probe = runProgram({"ffprobe", "-v", "error", "-show_entries", "stream=codec_type,codec_name",
                                       "-of", "csv=p=0", path});
        EXPECT_EQ(probe.exitCode, 0) << probe.output;
        EXPECT_NE(probe.output.find(videoCodec + ",video"), std::string::npos) << probe.output;
        ProgramRun decode = runProgram({"ffmpeg", "-nostdin", "-v", "error", "-i", path, "-f", "null", "-"});
        EXPECT_EQ(decode.exitCode, 0);
        EXPECT_EQ(decode.output, "") << "decoding the repaired file reported errors";
    }

    static void expectMostVideo(const Outcome& o) {
        ASSERT_FALSE(o.survived.videoFrames.empty());
        EXPECT_GE(o.videoFramesRecovered * 100, o.survived.videoFrames.size() * 95)
            << o.videoFramesRecovered << " of " << o.survived.videoFrames.size() << " intact frames recovered";
        EXPECT_EQ(o.foreignVideo, 0u) << "video samples that are no frame of the recording";
    }
    static void expectMostAudio(const Outcome& o) {
        ASSERT_FALSE(o.survived.audioUnits.empty());
        EXPECT_GE(o.audioUnitsRecovered * 100, o.survived.audioUnits.size() * 95)
            << o.audioUnitsRecovered << " of " << o.survived.audioUnits.size() << " intact audio units recovered";
        EXPECT_EQ(o.foreignAudio, 0u) << "audio chunks that are no chunk of the recording";
    }
    static void report(const char* name, const Outcome& o) {
        std::printf("[%s] variant %s: video %zu/%zu frames, audio %zu/%zu units (%llu of %llu bytes)\n", name,
                    o.run.scanVariant.c_str(), o.videoFramesRecovered, o.survived.videoFrames.size(),
                    o.audioUnitsRecovered, o.survived.audioUnits.size(),
                    static_cast<unsigned long long>(o.audioBytesRecovered),
                    static_cast<unsigned long long>(o.survived.audioBytes));
    }

    TempDir dir;
    ScopedResultBase base{dir.file("results")};
};

// Canon-style NAL headers (nal_ref_idc 1): IDR 25 88, P 21 9A/9B.
const NalHeaders kLowPriorityHeaders{0x25, 0x21, false};

TEST_F(EndToEnd, GenericScanRepairsARecordingCutBeforeItsMovieAtom) {
    const Recording rec = h264WithPcm(AudioCodec::In24, true, 1, kLowPriorityHeaders);
    ASSERT_FALSE(rec.original.videoFrames.empty());
    // Power lost two thirds into the recording, in the middle of a frame.
    const auto& cutFrame = rec.original.videoFrames[60];
    const ByteString damaged = truncatedRecording(rec.original, cutFrame.offset + cutFrame.size / 2);

    const Outcome o = repair(rec, damaged, "h264");
    report("generic/truncated", o);
    ASSERT_TRUE(o.run.completed()) << o.run.statusTrail();
    EXPECT_EQ(o.run.scanVariant, "1");
    EXPECT_EQ(o.run.values.count("video"), 1u);
    expectPlayable(o.run.resultPath, "h264");
    expectMostVideo(o);
    expectMostAudio(o);
}

TEST_F(EndToEnd, GenericScanRepairsARecordingWhoseHeaderWasLostOrWhoseMediaWasOverwritten) {
    const Recording rec = h264WithPcm(AudioCodec::In24, true, 1, kLowPriorityHeaders);
    ASSERT_FALSE(rec.original.videoFrames.empty());
    {
        SCOPED_TRACE("first 64 KiB zeroed, movie atom still at the end");
        const Outcome o = repair(rec, headerZeroed(rec.original, 65536), "h264");
        report("generic/header", o);
        ASSERT_TRUE(o.run.completed()) << o.run.statusTrail();
        expectPlayable(o.run.resultPath, "h264");
        expectMostVideo(o);
        expectMostAudio(o);
    }
    {
        SCOPED_TRACE("a stretch in the middle of the media lost");
        const auto& from = rec.original.videoFrames[30];
        const auto& to = rec.original.videoFrames[40];
        const Outcome o = repair(rec, mediaOverwritten(rec.original, from.offset + 100, to.offset + 10), "h264");
        report("generic/overwritten", o);
        ASSERT_TRUE(o.run.completed()) << o.run.statusTrail();
        expectPlayable(o.run.resultPath, "h264");
        expectMostVideo(o);
        expectMostAudio(o);
    }
}

// Plain "sowt" without the "wave" extension: the generic scan finds frames by
// their neighbours, so the camera writes video in runs with one audio chunk
// per run. The audio it recovers is printed for the record.
TEST_F(EndToEnd, GenericScanWithPlainSowtRecoversTheVideoRuns) {
    const Recording rec = h264WithPcm(AudioCodec::Sowt, false, 15, kLowPriorityHeaders);
    ASSERT_FALSE(rec.original.videoFrames.empty());
    const Outcome o = repair(rec, truncatedRecording(rec.original, rec.original.moovOffset), "h264");
    report("generic/plain-sowt", o);
    ASSERT_TRUE(o.run.completed()) << o.run.statusTrail();
    EXPECT_EQ(o.run.scanVariant, "1");
    expectPlayable(o.run.resultPath, "h264");
    expectMostVideo(o);
    EXPECT_EQ(o.foreignAudio, 0u);
}

// One chunk of 1/25 s of plain PCM after every frame, from the first byte:
// each frame is confirmed by the chunk and the frame behind it, so every
// intact frame and chunk comes back, byte for byte, from the engine and from
// the command line.
TEST_F(EndToEnd, GenericScanRecoversEveryFrameAndChunkOfARecordingThatAlternatesThem) {
    std::string error;
    const auto made = frameAndChunkRecording(cache(), error);
    ASSERT_TRUE(made) << error;
    const Recording rec{made->reference, made->original};
    const auto& cut = rec.original.videoFrames[90];
    const ByteString damaged = truncatedRecording(rec.original, cut.offset + cut.size / 2);

    const Outcome o = repair(rec, damaged, "h264");
    report("generic/frame-and-chunk", o);
    ASSERT_TRUE(o.run.completed()) << o.run.statusTrail();
    EXPECT_EQ(o.run.scanVariant, "1");
    expectPlayable(o.run.resultPath, "h264");
    EXPECT_EQ(o.videoFramesRecovered, o.survived.videoFrames.size());
    EXPECT_EQ(o.audioUnitsRecovered, o.survived.audioUnits.size());
    EXPECT_EQ(o.foreignVideo, 0u);
    EXPECT_EQ(o.foreignAudio, 0u);

    const std::string out = dir.file("cli.mov");
    const InputGuard inputs({dir.file("reference.mov"), dir.file("damaged.mov")});
    ProgramRun run = runProgram({ARBEL_CLI_PATH, "repair", "--json", "-r", dir.file("reference.mov"),
                                 dir.file("damaged.mov"), "-o", out});
    inputs.expectUnchanged();
    ASSERT_EQ(run.exitCode, 0) << run.output;
    EXPECT_NE(run.output.find("\"videoSamples\": " + std::to_string(o.survived.videoFrames.size()) + ","),
              std::string::npos)
        << run.output;
    EXPECT_NE(run.output.find("\"audioChunks\": " + std::to_string(o.survived.audioUnits.size()) + ","),
              std::string::npos)
        << run.output;
    expectPlayable(out, "h264");
}

// Motion JPEG 640x480 at 30 fps in chunks of fifteen frames, 8 kHz mu-law
// audio before each chunk.
TEST_F(EndToEnd, MjpegPathRepairsATruncatedRecording) {
    std::string error;
    auto refVideo = cache().mjpeg(640, 480, 30, 150, 0, error);
    auto recVideo = cache().mjpeg(640, 480, 30, 180, 600, error);
    auto audio = cache().audio(AudioCodec::Ulaw, 8000, 1, 6.5, 400, error);
    ASSERT_TRUE(refVideo && recVideo && audio) << error;
    for (const auto& frame : recVideo->frames) {
        ASSERT_GT(frame.size(), 583u);
        ASSERT_TRUE(frame[581] == 0xFF && frame[582] == 0xDA) << "start of scan must sit at offset 581";
    }
    LayoutOptions layout;
    layout.framesPerVideoChunk = 15;
    layout.audioFirst = true;
    Recording rec{layOutCameraFile(*refVideo, *audio, layout), layOutCameraFile(*recVideo, *audio, layout)};

    const auto& cut = rec.original.videoFrames[170];
    const Outcome o = repair(rec, truncatedRecording(rec.original, cut.offset + 1000), "mjpeg");
    report("mjpeg/truncated", o);
    ASSERT_TRUE(o.run.completed()) << o.run.statusTrail();
    expectPlayable(o.run.resultPath, "mjpeg");
    // Only whole groups of fifteen frames are kept.
    ASSERT_FALSE(o.survived.videoFrames.empty());
    const size_t wholeGroups = o.survived.videoFrames.size() / 15 * 15;
    EXPECT_GE(o.videoFramesRecovered * 100, wholeGroups * 95);
    EXPECT_EQ(o.foreignVideo, 0u);
    EXPECT_GE(o.audioUnitsRecovered * 100, (wholeGroups / 15) * 95);
    EXPECT_EQ(o.foreignAudio, 0u);
}

// Audio unit starts of the camera rows, on the first bytes of a unit.
// Mono: a single channel element, tag 0, global_gain of 128 or more, then
// the sine window on a long, long-start or long-stop block with max_sfb
// 44-47 (16, 17, 57, D7) or on eight short ones (9B).
bool monoCameraUnitStart(const uint8_t* a) {
    return a[0] == 0x01 && (a[2] == 0x16 || a[2] == 0x17 || a[2] == 0x57 || a[2] == 0x9B || a[2] == 0xD7);
}
// Stereo: a channel pair element with tag 1 and a common window, then a long
// block with the sine window (max_sfb 40-43, or 0-3 for silence).
bool stereoCameraUnitStart(const uint8_t* a) { return a[0] == 0x23 && (a[1] == 0x0A || a[1] == 0x00); }

// Share of the recording's audio units that begin as `start` wants.
double shareOfUnitsStarting(const CameraFile& file, bool (*start)(const uint8_t*)) {
    size_t hits = 0;
    for (const auto& u : file.audioUnits)
        if (u.size >= 3 && start(file.bytes.data() + u.offset)) ++hits;
    return file.audioUnits.empty() ? 0.0 : double(hits) / double(file.audioUnits.size());
}

// 240 frames of H.264 in one-second chunks (IDR every second), 8.5 s of AAC,
// one audio chunk behind each video chunk.
struct AacCase {
    uint32_t sampleRate;
    uint16_t channels;
    AacEncoding encoding;
    LayoutOptions layout;
};

Recording aacRecording(const AacCase& c) {
    Recording r;
    std::string error;
    auto refVideo = cache().h264(320, 240, 30, 120, 0, 30, false, error);
    auto recVideo = cache().h264(320, 240, 30, 240, 300, 30, false, error);
    auto audio = cache().audio(AudioCodec::Aac, c.sampleRate, c.channels, 8.5, 440, error, c.encoding);
    if (!refVideo || !recVideo || !audio) {
        ADD_FAILURE() << error;
        return r;
    }
    EXPECT_EQ(refVideo->sps, recVideo->sps);
    r.reference = layOutCameraFile(*refVideo, *audio, c.layout);
    r.original = layOutCameraFile(*recVideo, *audio, c.layout);
    return r;
}

// A Canon-style MOV: IDR slices with nal_ref_idc 1 written as slice_type 2
// (25 B8), P slices 21 9A/9B, the model text in udta, mono AAC whose long
// blocks use the sine window. ffmpeg at 32 kHz with a 13.6 kHz band gives
// max_sfb 47 and global_gain above 128, so once the window-shape bit is
// cleared the units begin 01 ?? 17 (LONG_START 57, LONG_STOP D7).
// Variant "7" ends an audio run at the first unit start from byte 161 on. At
// 56 kb/s the units are 181-258 bytes: each run is one unit, and few bytes of
// a unit lie where a chance 01 ?? 16|17|57|9B|D7 inside it would cut it short
// (the cut unit and its neighbour would come back as two foreign chunks that
// no decoder accepts). This clip has no such chance start; 48 kHz at
// 128 kb/s, with units of about 340 bytes, has five in 400 units.
// The recording is cut ten bytes into frame 200.
TEST_F(EndToEnd, CanonVariantRecoversTheVideoAndTheAacUnitsOfATruncatedRecording) {
    AacCase c{32000, 1, AacEncoding{56000, 13600}, {}};
    c.layout.framesPerVideoChunk = 30;
    c.layout.nal = NalHeaders{0x25, 0x21, true};
    c.layout.cameraModel = "Canon EOS 5D Mark II";
    c.layout.aac.sineWindow = true;
    const Recording rec = aacRecording(c);
    ASSERT_FALSE(rec.original.videoFrames.empty());
    const auto& first = rec.reference.videoFrames[0];
    ASSERT_EQ(rec.reference.bytes[first.offset + 4], 0x25);
    ASSERT_EQ(rec.reference.bytes[first.offset + 5], 0xB8) << "the tag pair 25 B8";
    const double share = shareOfUnitsStarting(rec.original, monoCameraUnitStart);
    std::printf("[aac/canon] %.1f%% of %zu AAC units begin 01 ?? 16|17|57|9B|D7\n", share * 100,
                rec.original.audioUnits.size());
    EXPECT_GE(share, 0.95);

    const auto& cut = rec.original.videoFrames[200];
    const Outcome o = repair(rec, truncatedRecording(rec.original, cut.offset + 10), "h264");
    report("aac/canon", o);
    ASSERT_TRUE(o.run.completed()) << o.run.statusTrail();
    EXPECT_EQ(o.run.scanVariant, "7");
    expectPlayable(o.run.resultPath, "h264");
    expectMostVideo(o);
    expectMostAudio(o);
}

// An MP4 camera layout: IDR slices as slice_type 2 (65 B8), P slices 61,
// stereo AAC as one channel pair element with tag 1 and a common window.
// ffmpeg's encoder tags the pair 0 and uses the KBD window; with both fields
// rewritten and an 11.5 kHz band at 32 kHz (max_sfb 42) its units begin
// 23 0A. Variant "3" reads at most 600 bytes of a run and ends it at the last
// unit start it met: at 96 kb/s the units are 346-424 bytes, so one unit
// always fits and two never do, and each run is one unit (units below 300
// bytes would come back two to a chunk). A chance 23 0A or 23 00 within those
// 600 bytes would misplace the end of a run; this clip has none, 48 kHz at
// 128 kb/s has three in 400 units. The recording is cut ten bytes into
// frame 200.
TEST_F(EndToEnd, StereoAacRecordingTakesVariantThreeAndKeepsVideoAndAudio) {
    AacCase c{32000, 2, AacEncoding{96000, 11500}, {}};
    c.layout.brand = Brand::Isom;
    c.layout.framesPerVideoChunk = 30;
    c.layout.nal = NalHeaders{0x65, 0x61, true};
    c.layout.aac.sineWindow = true;
    c.layout.aac.instanceTag = 1;
    const Recording rec = aacRecording(c);
    ASSERT_FALSE(rec.original.videoFrames.empty());
    const auto& first = rec.reference.videoFrames[0];
    ASSERT_EQ(rec.reference.bytes[first.offset + 4], 0x65);
    ASSERT_EQ(rec.reference.bytes[first.offset + 5], 0xB8) << "IDR slice_type 2 gives the tag pair 65 B8";
    const double share = shareOfUnitsStarting(rec.original, stereoCameraUnitStart);
    std::printf("[aac/stereo] %.1f%% of %zu AAC units begin 23 0A|00\n", share * 100, rec.original.audioUnits.size());
    EXPECT_GE(share, 0.95);

    const auto& cut = rec.original.videoFrames[200];
    const Outcome o = repair(rec, truncatedRecording(rec.original, cut.offset + 10), "h264");
    report("aac/stereo", o);
    ASSERT_TRUE(o.run.completed()) << o.run.statusTrail();
    EXPECT_EQ(o.run.scanVariant, "3");
    expectPlayable(o.run.resultPath, "h264");
    expectMostVideo(o);
    expectMostAudio(o);
}

TEST_F(EndToEnd, CommandLineRepairsAndDescribesTheResult) {
    const Recording rec = h264WithPcm(AudioCodec::In24, true, 1, kLowPriorityHeaders);
    ASSERT_FALSE(rec.original.videoFrames.empty());
    const std::string ref = dir.write("reference.mov", rec.reference.bytes);
    const std::string bad = dir.write("damaged.mov", truncatedRecording(rec.original, rec.original.moovOffset - 7));
    const std::string out = dir.file("out.mov");

    const InputGuard inputs({ref, bad});
    ProgramRun run = runProgram({ARBEL_CLI_PATH, "repair", "--json", "-r", ref, bad, "-o", out});
    inputs.expectUnchanged();
    ASSERT_EQ(run.exitCode, 0) << run.output;
    EXPECT_TRUE(std::filesystem::exists(out));
    EXPECT_FALSE(std::filesystem::exists(out + ".partial"));
    EXPECT_NE(run.output.find("\"videoCodec\": \"avc1\""), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("\"audioCodec\": \"in24\""), std::string::npos) << run.output;
    const std::string key = "\"videoSamples\": ";
    const auto at = run.output.find(key);
    ASSERT_NE(at, std::string::npos) << run.output;
    const unsigned long samples = std::strtoul(run.output.c_str() + at + key.size(), nullptr, 10);
    const size_t intact = survivorsOf(rec.original, readWholeFile(bad)).videoFrames.size();
    EXPECT_GE(samples * 100, intact * 95) << run.output;
    expectPlayable(out, "h264");
}

}  // namespace
}  // namespace arbel

// Camera-like recordings made from real codecs, damaged the way cameras damage
// them, repaired by the engine and by the command-line program, then opened
// and decoded by ffprobe / ffmpeg.
#include "end_to_end_fixture.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>

namespace arbel {
namespace {

using namespace arbel::test;

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
// per run. The audio it recovers is printed for the record. Left to choose,
// the repair takes the codec-aware scan here (below).
TEST_F(EndToEnd, GenericScanWithPlainSowtRecoversTheVideoRuns) {
    const Recording rec = h264WithPcm(AudioCodec::Sowt, false, 15, kLowPriorityHeaders);
    ASSERT_FALSE(rec.original.videoFrames.empty());
    const Outcome o =
        repair(rec, truncatedRecording(rec.original, rec.original.moovOffset), "h264", ScanChoice::Camera);
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

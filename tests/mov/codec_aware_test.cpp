// The codec-aware scan on crafted recordings: what it learns of the
// reference, where it finds the media, what it recovers through damage, and
// when a repair takes it instead of the camera rules.
#include "engine/mov/codec_scan.h"
#include "engine/mov/reference_model.h"
#include "platform/pacing.h"
#include "support/codec_streams.h"
#include "support/engine_run.h"
#include "support/recovery_check.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

namespace arbel {
namespace {

using namespace arbel::test;

std::span<const uint8_t> moovOf(const CameraFile& f) {
    return std::span<const uint8_t>(f.bytes).subspan(f.moovOffset + 8);
}

struct Crafted {
    CameraFile reference;
    CameraFile original;
};

// Two recordings of one crafted camera: 60 and 150 pictures in chunks of
// three, with AAC or PCM sound after each chunk.
Crafted crafted(bool aac, bool bFrames) {
    LayoutOptions layout;
    layout.brand = Brand::Isom;
    layout.framesPerVideoChunk = 3;
    const AudioStream refSound = aac ? craftedAac(95) : craftedPcm(2.1);
    const AudioStream recSound = aac ? craftedAac(240) : craftedPcm(5.1);
    return {layOutCameraFile(craftedH264(60, 30, bFrames), refSound, layout),
            layOutCameraFile(craftedH264(150, 30, bFrames), recSound, layout)};
}

TEST(ReferenceModel, LearnsEveryTrackItsCodecAndItsChunks) {
    const Crafted aac = crafted(true, true);
    std::string why;
    const auto m = learnMovie(moovOf(aac.reference), {}, why);
    ASSERT_TRUE(m) << why;
    ASSERT_NE(m->videoTrack(), nullptr);
    ASSERT_NE(m->audioTrack(), nullptr);
    const TrackModel& v = *m->videoTrack();
    EXPECT_EQ(v.codec, MediaCodec::H264);
    EXPECT_EQ(v.format, "avc1");
    ASSERT_TRUE(v.stream);
    EXPECT_EQ(v.stream->nalLengthSize, 4u);
    EXPECT_EQ(v.sampleSizes.size(), 60u);
    EXPECT_EQ(v.samplesPerChunk.front(), 3u);
    const TrackModel& a = *m->audioTrack();
    EXPECT_EQ(a.codec, MediaCodec::Aac);
    EXPECT_EQ(a.audioSpecificConfig, (ByteString{0x11, 0x88}));
    EXPECT_EQ(a.channels, 1u);
    EXPECT_EQ(m->codecsText(), "H.264 + AAC");
    // Video and sound chunks take turns.
    ASSERT_GE(m->interleave.size(), 4u);
    EXPECT_NE(m->interleave[0], m->interleave[1]);
    EXPECT_EQ(m->interleave[0], m->interleave[2]);

    const Crafted pcm = crafted(false, false);
    const auto p = learnMovie(moovOf(pcm.reference), {}, why);
    ASSERT_TRUE(p && p->audioTrack()) << why;
    EXPECT_EQ(p->audioTrack()->codec, MediaCodec::Pcm);
    EXPECT_EQ(p->audioTrack()->pcmBytesPerFrame, 4u);
    ASSERT_FALSE(p->audioTrack()->usualChunkBytes.empty());
    EXPECT_EQ(p->audioTrack()->usualChunkBytes.front() % 4, 0u);
    EXPECT_EQ(p->codecsText(), "H.264 + PCM");
}

TEST(ReferenceModel, LearnsFromTheFileTheSliceHeadersItsEncoderWrites) {
    const Crafted c = crafted(true, false);
    TempDir dir;
    const std::string path = dir.write("reference.mov", c.reference.bytes);
    FileReader reader(path);
    std::string why;
    const auto m = learnReference(reader, reader.size(), why);
    ASSERT_TRUE(m && m->videoTrack()) << why;
    const codec::StreamParameters& s = *m->videoTrack()->stream;
    ASSERT_TRUE(s.pictureKindsKnown);
    const uint8_t p0[2] = {0x41, 0}, nonReference[2] = {0x01, 0}, idr[2] = {0x65, 0};
    EXPECT_TRUE(s.pictureHeaderExpected(*codec::parseNalHeader(codec::VideoCodec::H264, p0, 2)));
    EXPECT_FALSE(s.pictureHeaderExpected(*codec::parseNalHeader(codec::VideoCodec::H264, nonReference, 2)))
        << "a clip without B-frames never writes non-reference slices";
    EXPECT_TRUE(s.pictureHeaderExpected(*codec::parseNalHeader(codec::VideoCodec::H264, idr, 2)));
    EXPECT_TRUE(m->audioTrack()->firstBytesKnown);
}

TEST(ReferenceModel, RefusesWhatItCannotScan) {
    std::string why;
    EXPECT_FALSE(learnMovie({}, {}, why));
    EXPECT_EQ(why, "the reference's movie header is missing");
    // Only the sound of a recording: no video to walk.
    LayoutOptions layout;
    CameraFile jpegOnly = layOutCameraFile(craftedH264(10, 10, false), craftedPcm(0.4), layout);
    ByteString moov(jpegOnly.bytes.begin() + static_cast<long>(jpegOnly.moovOffset + 8), jpegOnly.bytes.end());
    const auto avc1 = std::search(moov.begin(), moov.end(), std::begin("avcC"), std::end("avcC") - 1);
    ASSERT_NE(avc1, moov.end());
    *avc1 = 'x';  // the parameter sets are gone
    EXPECT_FALSE(learnMovie(moov, {}, why));
    EXPECT_EQ(why, "the reference has no H.264, HEVC or MJPEG video track");
}

TEST(MediaRange, FromTheHeaderWhenItSurvivesElseUpToTheMovieAtom) {
    auto box = [](uint32_t size, const char* type, size_t payload) {
        ByteString b(8 + payload, 0x77);
        for (int i = 0; i < 4; ++i) {
            b[static_cast<size_t>(i)] = static_cast<uint8_t>(size >> (24 - 8 * i));
            b[static_cast<size_t>(4 + i)] = static_cast<uint8_t>(type[i]);
        }
        return b;
    };
    auto join = [](std::initializer_list<ByteString> parts) {
        ByteString out;
        for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
        return out;
    };
    ByteString wide = join({box(16, "ftyp", 8), box(1, "mdat", 0)});
    wide.insert(wide.end(), {0, 0, 0, 0, 0, 0, 0, 116});
    wide.insert(wide.end(), 100, 0x77);
    struct Case {
        std::string name;
        ByteString file;
        MediaRange range;
    } cases[] = {
        {"mdat of size 0 runs to the end", join({box(16, "ftyp", 8), box(0, "mdat", 500)}), {24, 524, true}},
        {"mdat past the end", join({box(16, "ftyp", 8), box(9000, "mdat", 500)}), {24, 524, true}},
        {"mdat then moov", join({box(16, "ftyp", 8), box(108, "mdat", 100), box(40, "moov", 32)}), {24, 124, true}},
        {"64-bit mdat", wide, {32, 132, true}},
        {"header lost, moov at the end", join({ByteString(300, 0), box(40, "moov", 32)}), {0, 300, false}},
        {"nothing known", ByteString(300, 0x55), {0, 300, false}},
    };
    TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FileReader reader(dir.write("f.mov", c.file));
        const MediaRange r = findMediaRange(reader, c.file.size());
        EXPECT_EQ(r.start, c.range.start);
        EXPECT_EQ(r.end, c.range.end);
        EXPECT_EQ(r.headerFound, c.range.headerFound);
    }
}

TEST(CameraCoverage, CountsTheMediaOutsideZeroedStretches) {
    // 8-byte mdat header, then 10,000 media bytes of which `zeros` are one
    // zeroed stretch.
    auto file = [](size_t zeros) {
        ByteString f{0, 0, 0, 0, 'm', 'd', 'a', 't'};
        for (size_t i = 0; i < 10000; ++i) f.push_back(i < zeros ? 0 : static_cast<uint8_t>(1 + i % 200));
        return f;
    };
    struct Case {
        size_t zeros;
        uint64_t covered;
        bool enough;
    } cases[] = {
        {0, 9000, true},    {0, 8999, false},   {2000, 7200, true}, {2000, 7199, false},
        {300, 8900, false},  // stretches shorter than a sector's worth are no damage
    };
    TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.zeros) + " zeros, " + std::to_string(c.covered) + " covered");
        const ByteString f = file(c.zeros);
        FileReader reader(dir.write("f.mov", f));
        EXPECT_EQ(cameraCoversMedia(reader, f.size(), c.covered), c.enough);
    }
}

enum class Damage { MovieAtomLost, Truncated, HeaderZeroed, MiddleOverwritten };

struct ScanCase {
    const char* name;
    bool aac;
    bool bFrames;
    Damage damage;
};

class CodecAwareScan : public ::testing::TestWithParam<ScanCase> {
protected:
    void SetUp() override { Pacing::setMode(Pacing::Mode::Zero); }
    TempDir dir;
    ScopedResultBase base{dir.file("results")};
};

// Every unit whose bytes survived comes back, and nothing else: through the
// end of the data, a lost header and a stretch of zeros.
TEST_P(CodecAwareScan, RecoversEverySurvivingUnitAndNothingForeign) {
    const ScanCase& c = GetParam();
    const Crafted rec = crafted(c.aac, c.bFrames);
    const CameraFile& f = rec.original;
    ByteString bad;
    switch (c.damage) {
    case Damage::MovieAtomLost: bad = truncatedRecording(f, f.moovOffset); break;
    case Damage::Truncated: bad = truncatedRecording(f, f.videoFrames[100].offset + 7); break;
    case Damage::HeaderZeroed: bad = headerZeroed(f, 600); break;
    case Damage::MiddleOverwritten:
        bad = mediaOverwritten(f, f.videoFrames[60].offset + 30, f.videoFrames[66].offset + 3);
        break;
    }
    const MovRepairOutcome run =
        runMovRepair(dir.write("reference.mov", rec.reference.bytes), dir.write("damaged.mov", bad), ScanChoice::Codec);
    ASSERT_TRUE(run.completed()) << run.statusTrail();
    EXPECT_EQ(run.report.scanMarker, "codec");
    const Recovery r = recoveryOf(run.resultPath, f, bad);
    EXPECT_EQ(r.error, "");
    EXPECT_GT(r.video.survived, 50u);
    EXPECT_EQ(r.video.recovered, r.video.survived);
    EXPECT_EQ(r.audio.recovered, r.audio.survived);
    EXPECT_EQ(r.video.foreign, 0u);
    EXPECT_EQ(r.audio.foreign, 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Crafted, CodecAwareScan,
    ::testing::Values(ScanCase{"aac_moov_lost", true, false, Damage::MovieAtomLost},
                      ScanCase{"aac_bframes_truncated", true, true, Damage::Truncated},
                      ScanCase{"aac_header_zeroed", true, false, Damage::HeaderZeroed},
                      ScanCase{"aac_bframes_overwritten", true, true, Damage::MiddleOverwritten},
                      ScanCase{"pcm_moov_lost", false, false, Damage::MovieAtomLost},
                      ScanCase{"pcm_truncated", false, false, Damage::Truncated},
                      ScanCase{"pcm_header_zeroed", false, false, Damage::HeaderZeroed},
                      ScanCase{"pcm_overwritten", false, false, Damage::MiddleOverwritten}),
    [](const ::testing::TestParamInfo<ScanCase>& p) { return std::string(p.param.name); });

// Which scan a repair takes: the camera rules where they read the
// recording, the codec-aware scan where no camera row fits, either when asked.
TEST(ScanChoice, CameraWhereItFitsCodecAwareWhereNoRowDoesEitherWhenAsked) {
    Pacing::setMode(Pacing::Mode::Zero);
    TempDir dir;
    ScopedResultBase base{dir.file("results")};
    const Crafted rec = crafted(true, false);
    const std::string craftedRef = dir.write("crafted-ref.mov", rec.reference.bytes);
    const std::string craftedBad = dir.write("crafted.mov", truncatedRecording(rec.original, rec.original.moovOffset));
    const Crafted pcm = crafted(false, false);
    const std::string pcmRef = dir.write("pcm-ref.mov", pcm.reference.bytes);
    const std::string pcmBad = dir.write("pcm.mov", truncatedRecording(pcm.original, pcm.original.moovOffset));
    const std::string sampleRef = std::string(ARBEL_SAMPLES_DIR) + "/reference.mov";
    const std::string sampleBad = std::string(ARBEL_SAMPLES_DIR) + "/damaged.mov";
    struct Case {
        std::string name;
        std::string reference, damaged;
        ScanChoice choice;
        bool completes;
        std::string marker;
    } cases[] = {
        // AAC whose pictures open 65 88: camera row 16 is chosen but reads
        // little of it, so left to itself the repair takes the codec-aware scan.
        {"camera row reads little, auto", craftedRef, craftedBad, ScanChoice::Auto, true, "codec"},
        {"camera row reads little, camera", craftedRef, craftedBad, ScanChoice::Camera, true, "16"},
        {"camera row reads little, codec", craftedRef, craftedBad, ScanChoice::Codec, true, "codec"},
        // Plain PCM in long chunks: the generic scan runs and finds nothing,
        // so both scans run, each into a file of its own, and the better stays.
        {"camera finds nothing, auto", pcmRef, pcmBad, ScanChoice::Auto, true, "codec"},
        {"camera finds nothing, camera", pcmRef, pcmBad, ScanChoice::Camera, false, ""},
        // The bundled camera sample: the generic scan reads all of it.
        {"camera sample, auto", sampleRef, sampleBad, ScanChoice::Auto, true, "1"},
        {"camera sample, codec", sampleRef, sampleBad, ScanChoice::Codec, true, "codec"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const MovRepairOutcome run = runMovRepair(c.reference, c.damaged, c.choice);
        EXPECT_EQ(run.completed(), c.completes) << run.statusTrail();
        if (c.completes) {
            EXPECT_EQ(run.report.scanMarker, c.marker);
        }
        // Only the result is left in the results folder: a second attempt's file never stays.
        size_t files = 0;
        for (const auto& e : std::filesystem::recursive_directory_iterator(dir.file("results")))
            files += e.is_regular_file() && e.path().extension() != ".lock";
        EXPECT_LE(files, 1u);
    }
}

TEST(ScanChoice, TheCodecAwareResultIsKeptOnlyWhenItRecoversMore) {
    EXPECT_TRUE(codecAwareRecoversMore(100, 101));
    EXPECT_FALSE(codecAwareRecoversMore(100, 100));
    EXPECT_FALSE(codecAwareRecoversMore(100, 99));
}

}  // namespace
}  // namespace arbel

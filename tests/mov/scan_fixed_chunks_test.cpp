// The scans of length-prefixed frames with audio in fixed chunks (the last
// group's Canon, compact and phone rows, and "8" without AAC), whole access
// units, and raw AAC told apart by how the reference's frames begin.
#include "engine/mov/aac_frame_start.h"
#include "scan_fixture.h"

#include <array>
#include <cctype>
#include <string>
#include <vector>

namespace arbel {
namespace {

using test::ExpectedResult;
using test::MediaDataBuilder;
using F = CameraFlags;
using Unit = MediaDataBuilder::Unit;

class FixedChunkScan : public test::ScanFixture {
protected:
    test::MovStages& prepareRow(const std::vector<uint8_t>& damaged, bool aac, std::array<uint8_t, 2> tagPair,
                                const std::vector<bool CameraFlags::*>& flags, uint64_t sizeAudio) {
        test::MovStages& e = prepare(damaged);
        e.analysis.mp4aPresent = aac ? 1 : 0;
        e.analysis.tagPair = tagPair;
        for (auto flag : flags) e.analysis.flags.*flag = true;
        e.templates.sizeAudio = sizeAudio;
        e.templates.stco_Address_Video_first_chunk_sizetojump = 100;
        e.templates.stco_Address_Audio_sizetojump = 5000;
        return e;
    }
};

// --- uncompressed sound in chunks of sizeAudio bytes -------------------------------

struct PcmRow {
    const char* marker;
    std::array<uint8_t, 2> tagPair;
    std::vector<bool CameraFlags::*> flags;
    std::vector<uint8_t> frame;  // the first bytes behind the length prefix
    uint32_t limit;
};

const PcmRow kPcmRows[] = {
    // Only the reference's tag pair starts these frames.
    {"02/08/19", {0x27, 0x4D}, {&F::bCanon80D, &F::bCanonG7XMarkII}, {0x27, 0x4D}, 2'500'000},
    {"07/08/19", {0x00, 0x00}, {&F::bCanon80D}, {0x25, 0x88, 0x84, 0x00}, 2'499'999},
    {"07/08/19 4;53", {0x00, 0x00}, {&F::bCanon5DMarkIV}, {0x01, 0x9E, 0x33, 0x11}, 2'499'999},
    {"8", {0x25, 0x88}, {&F::bCanon, &F::bCanon80D}, {0x25, 0x88}, 2'499'999},
};

class PcmRowScan : public FixedChunkScan, public ::testing::WithParamInterface<PcmRow> {};

// Pairs of frame and chunk, frames back to back, a chunk of another size
// (dropped with the frame before it), a frame over the limit (it confirms
// nothing), and a last frame with nothing behind it.
TEST_P(PcmRowScan, TakesFramesAndExactChunksOnly) {
    const PcmRow& row = GetParam();
    constexpr uint64_t kChunk = 400;
    MediaDataBuilder m;
    m.fill(21, 0x77);
    const auto f1 = m.nal(3000, row.frame).last();
    const auto f2 = m.nal(row.limit, row.frame).last();
    const auto p1 = m.audio(kChunk).last();
    const auto f3 = m.nal(1500, row.frame).last();
    const auto f4 = m.nal(1200, row.frame).last();
    const auto f5 = m.nal(1000, row.frame).last();
    const auto p2 = m.audio(kChunk).last();
    m.nal(900, row.frame);
    m.audio(kChunk - 10);  // a leftover of another size
    const auto f7 = m.nal(800, row.frame).last();
    m.nal(700, row.frame);
    m.nal(row.limit + 1, row.frame);
    const auto f9 = m.nal(600, row.frame).last();
    m.nal(500, row.frame);
    m.fill(64, 0x77);

    prepareRow(m.data(), false, row.tagPair, row.flags, kChunk);
    scanAs(row.marker);
    ExpectedResult expected(m.data(), 8);
    expected.video(f1).video(f2).audio(p1).video(f3).video(f4).video(f5).audio(p2).video(f7).video(f9);
    test::expectScanResult(*engine, result(), expected);
}

INSTANTIATE_TEST_SUITE_P(Rows, PcmRowScan, ::testing::ValuesIn(kPcmRows),
                         [](const ::testing::TestParamInfo<PcmRow>& param) {
                             std::string name;
                             for (const char* c = param.param.marker; *c; ++c)
                                 name += std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
                             return "row_" + name;
                         });

// --- whole access units ------------------------------------------------------------

// An access unit: length-prefixed units of the given headers and lengths.
Unit accessUnit(MediaDataBuilder& m, std::initializer_list<std::pair<uint32_t, std::vector<uint8_t>>> units) {
    const uint64_t at = m.size();
    for (const auto& [length, header] : units) m.nal(length, header);
    return {at, m.size() - at};
}

const std::vector<uint8_t> kSps{0x67, 0x42, 0xC0};
const std::vector<uint8_t> kPps{0x68, 0xCE};
const std::vector<uint8_t> kIdr{0x65, 0x88};
const std::vector<uint8_t> kIdrMore{0x65, 0x00};  // first_mb_in_slice not 0
const std::vector<uint8_t> kDroneP{0x41, 0x9A, 0xC9};
const std::vector<uint8_t> kSei{0x06, 0x05};
const std::vector<uint8_t> kP{0x41, 0x9A};

// The drone (C14): an IDR is its SPS of 11 bytes, PPS and slices; a P frame
// its slice. The frame is the whole unit, never the SPS alone; sound behind
// the last slice that reads as one more slice is not taken into it.
TEST_F(FixedChunkScan, DroneFramesAreWholeAccessUnits) {
    constexpr uint64_t kChunk = 300;
    MediaDataBuilder m;
    m.fill(16, 0x77);
    const auto idr = accessUnit(m, {{11, kSps}, {4, kPps}, {2000, kIdr}, {1500, kIdrMore}});
    const auto p1 = accessUnit(m, {{900, kDroneP}});
    const auto a1 = m.audio(kChunk, {0x00, 0x00, 0x01, 0x02, 0x41, 0x1A}).last();  // reads as a slice of 258
    const auto p2 = accessUnit(m, {{800, kDroneP}});
    const auto idr2 = accessUnit(m, {{11, kSps}, {4, kPps}, {1800, kIdr}});
    m.nal(11, kSps);  // an SPS and nothing more: no frame
    m.fill(64, 0x77);

    prepareRow(m.data(), false, {0x65, 0x88}, {&F::bSignature0Bg}, kChunk);
    scanAs("05/11/19---g_b_dji_mavic_Air");
    ExpectedResult expected(m.data(), 8);
    expected.video(idr).video(p1).audio(a1).video(p2).video(idr2);
    test::expectScanResult(*engine, result(), expected);
}

// The phone (C15): a user-data SEI opens every frame. Its short length
// prefix (00 00) counts only after a non-zero byte, read from the file when
// the unit starts a window.
TEST_F(FixedChunkScan, PhoneFramesStartAtTheirSeiAndLookBehindAcrossWindows) {
    constexpr uint64_t kChunk = 300;
    MediaDataBuilder m;
    // The first frame's prefix sits exactly at the second window's start.
    m.fill(MediaScanner::kWindowBytes - 1, 0x77);
    m.fill(1, 0x5A);
    const auto f1 = accessUnit(m, {{24, kSei}, {2000, kIdr}, {1200, kIdrMore}});
    const auto f2 = accessUnit(m, {{24, kSei}, {900, kP}});
    const auto a1 = m.audio(kChunk).last();
    accessUnit(m, {{24, kSei}, {800, kP}});  // behind it the damage below: lost
    // A zero byte before a short prefix: the SEI there starts nothing, nor
    // does the non-reference slice behind it.
    m.fill(1, 0x00);
    accessUnit(m, {{24, kSei}, {700, {0x21, 0x9A}}});
    const auto f5 = accessUnit(m, {{24, kSei}, {600, kP}});
    accessUnit(m, {{24, kSei}, {500, kP}});
    m.fill(64, 0x77);

    // A Nikon flag keeps the recording from the generic scan; the phone's row comes first.
    prepareRow(m.data(), false, {0x65, 0x88}, {&F::bAudioSig013499, &F::bNikonTag184}, kChunk);
    scanAs("07/11/19---g_b_sonyxperiaz5");
    ExpectedResult expected(m.data(), 8);
    expected.video(f1).video(f2).audio(a1).video(f5);
    test::expectScanResult(*engine, result(), expected);
}

// --- raw AAC -----------------------------------------------------------------------

// Writes fields most significant bit first.
class BitWriter {
public:
    BitWriter& put(uint32_t value, int bits) {
        for (int i = bits - 1; i >= 0; --i) {
            if (used_ % 8 == 0) bytes_.push_back(0);
            if ((value >> i) & 1u) bytes_.back() |= static_cast<uint8_t>(0x80u >> (used_ % 8));
            ++used_;
        }
        return *this;
    }
    std::vector<uint8_t> bytes() const { return bytes_; }

private:
    std::vector<uint8_t> bytes_;
    size_t used_ = 0;
};

// How one frame's first element begins.
struct AacStart {
    uint8_t element = 0;  // 0 single channel, 1 channel pair
    uint8_t tag = 0;
    bool commonWindow = false;
    uint8_t gain = 150;
    bool reserved = false;
    uint8_t sequence = 0;
    uint8_t shape = 0;
    uint8_t maxSfb = 40;
    uint8_t msMask = 0;
    // Sections: (codebook, bands) until maxSfb is covered.
    std::vector<std::pair<uint8_t, uint8_t>> sections{{1, 20}, {2, 20}};

    std::vector<uint8_t> bytes() const {
        BitWriter w;
        w.put(element, 3).put(tag, 4);
        if (element == 1) w.put(commonWindow ? 1 : 0, 1);
        const bool gainFirst = !(element == 1 && commonWindow);
        if (gainFirst) w.put(gain, 8);
        w.put(reserved ? 1 : 0, 1).put(sequence, 2).put(shape, 1);
        if (sequence == 2) w.put(maxSfb, 4).put(0x7F, 7);  // one window group
        else w.put(maxSfb, 6).put(0, 1);
        if (!gainFirst) w.put(msMask, 2).put(gain, 8);
        const int lengthBits = sequence == 2 ? 3 : 5;
        for (auto [codebook, bands] : sections) {
            w.put(codebook, 4);
            const uint32_t escape = (1u << lengthBits) - 1;
            for (; bands >= escape; bands = static_cast<uint8_t>(bands - escape)) w.put(escape, lengthBits);
            w.put(bands, lengthBits);
        }
        std::vector<uint8_t> out = w.bytes();
        out.resize(AacElementStart::kBytes, 0x33);
        return out;
    }
};

AacStartModel learnedFrom(const std::vector<AacStart>& frames) {
    AacStartModel model;
    for (const AacStart& f : frames) model.learn(f.bytes().data());
    return model;
}

TEST(AacStartModelTest, AcceptsWhatTheReferenceShowsAndRejectsWhatNoFrameCanBe) {
    // A mono camera: gains 140-160, 40-41 bands, sine window, a few silent
    // frames of their own kind that the usual values leave out.
    std::vector<AacStart> mono;
    for (int i = 0; i < 40; ++i) {
        AacStart f;
        f.gain = static_cast<uint8_t>(140 + i % 21);
        f.maxSfb = static_cast<uint8_t>(40 + i % 2);
        f.sections = {{1, 20}, {2, static_cast<uint8_t>(f.maxSfb - 20)}};
        mono.push_back(f);
    }
    AacStart silent;
    silent.gain = 10;
    silent.maxSfb = 0;
    silent.sections = {};
    mono.push_back(silent);
    const AacStartModel model = learnedFrom(mono);

    struct Case {
        const char* name;
        AacStart frame;
        bool accepted;
    };
    const auto with = [](auto change) {
        AacStart f;
        change(f);
        return f;
    };
    const Case cases[] = {
        {"a frame like the learned ones", AacStart{}, true},
        {"gain 24 steps below the usual", with([](AacStart& f) { f.gain = 116; }), true},
        {"gain 25 steps below", with([](AacStart& f) { f.gain = 115; }), false},
        {"gain more than 24 steps above", with([](AacStart& f) { f.gain = 185; }), false},
        {"two bands more", with([](AacStart& f) { f.maxSfb = 43; f.sections = {{1, 43}}; }), true},
        {"three bands more", with([](AacStart& f) { f.maxSfb = 44; f.sections = {{1, 44}}; }), false},
        {"silent frame: left out of the usual", silent, false},
        {"another instance tag", with([](AacStart& f) { f.tag = 1; }), false},
        {"a channel pair", with([](AacStart& f) { f.element = 1; }), false},
        {"reserved bit", with([](AacStart& f) { f.reserved = true; }), false},
        {"KBD window on a long block", with([](AacStart& f) { f.shape = 1; }), false},
        {"reserved codebook", with([](AacStart& f) { f.sections = {{12, 20}, {2, 20}}; }), false},
        {"sections past the bands", with([](AacStart& f) { f.sections = {{1, 30}, {2, 30}}; }), false},
        {"an empty section", with([](AacStart& f) { f.sections = {{1, 0}, {2, 40}}; }), false},
        {"eight short windows, none learned", with([](AacStart& f) { f.sequence = 2; f.maxSfb = 14; f.sections = {{1, 14}}; }), true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(model.accepts(c.frame.bytes().data()), c.accepted);
    }

    // A stereo camera: a channel pair with a common window; the gain comes
    // after the mid/side mask, whose value 3 is reserved.
    std::vector<AacStart> stereo(20, with([](AacStart& f) { f.element = 1; f.tag = 1; f.commonWindow = true; }));
    const AacStartModel pair = learnedFrom(stereo);
    EXPECT_TRUE(pair.accepts(stereo[0].bytes().data()));
    AacStart reservedMask = stereo[0];
    reservedMask.msMask = 3;
    EXPECT_FALSE(pair.accepts(reservedMask.bytes().data()));
    AacStart loud = stereo[0];
    loud.gain = 200;
    EXPECT_FALSE(pair.accepts(loud.bytes().data()));
    EXPECT_TRUE(pair.firstBytes().test(0x23));
    EXPECT_FALSE(pair.firstBytes().test(0x21));
}

// A row of the last group with AAC ("19"): its audio is read as runs whose
// units begin as the reference's frames do and follow a frame's end.
TEST_F(FixedChunkScan, AacRunsUseTheStartsTheReferenceShowed) {
    const std::vector<uint8_t> start = AacStart{}.bytes();
    MediaDataBuilder m;
    m.fill(16, 0x77);
    const auto f1 = m.nal(3000, {0x25, 0x88}).last();
    const auto a1 = m.audio(300, start).last();
    const auto a2 = m.audio(320, start).last();
    const auto f2 = m.nal(1500, {0x01, 0x9E}).last();
    const auto f3 = m.nal(1200, {0x25, 0x88}).last();
    m.audio(280, {0x21, 0x00});  // an AAC frame of another camera: not this one's
    m.nal(1100, {0x25, 0x88});
    m.fill(64, 0x77);

    test::MovStages& e = prepareRow(m.data(), true, {0x25, 0x88}, {&F::bAudioSig211A1495}, 0);
    for (int i = 0; i < 20; ++i) e.templates.aacFrames.starts.learn(start.data());
    e.templates.aacFrames.shortest = 280;
    e.templates.aacFrames.longest = 340;
    scanAs("19");
    ExpectedResult expected(m.data(), 8);
    expected.video(f1).audio(a1).audio(a2).video(f2);
    test::expectScanResult(*engine, result(), expected);
    (void)f3;  // followed by no unit of this camera: not taken
}

}  // namespace
}  // namespace arbel

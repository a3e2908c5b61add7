// The scans of length-prefixed frames with AAC audio in runs ("2", "3", "5",
// "7" and the middle group "8" to "16") on crafted media data.
#include "scan_fixture.h"

#include <array>
#include <string>
#include <vector>

namespace arbel {
namespace {

using test::ExpectedResult;
using test::MediaDataBuilder;

class VariantScan : public test::ScanFixture {
protected:
    // AAC audio; the tag pair and flags pick the variant.
    test::MovStages& prepareVariant(const std::vector<uint8_t>& damaged, const char* marker) {
        test::MovStages& e = prepare(damaged);
        e.analysis.mp4aPresent = 1;
        e.templates.sizeAudio = 371;
        e.templates.stco_Address_Video_first_chunk_sizetojump = 100;
        e.templates.stco_Address_Audio_sizetojump = 5000;
        const std::string m = marker;
        if (m == "2") {
            e.analysis.tagPair = {0x25, 0xB8};
            e.analysis.flags.bAudioSig20_08 = true;
        } else if (m == "3") {
            e.analysis.tagPair = {0x65, 0xB8};
        } else if (m == "5") {
            e.analysis.tagPair = {0x65, 0xB8};
            e.analysis.flags.bAudioSig01_17 = true;
        } else if (m == "7") {
            e.analysis.tagPair = {0x25, 0xB8};
            e.analysis.flags.bCanon5DMarkII = true;
        }
        return e;
    }


};

TEST_F(VariantScan, TwoTakesFramesAndOneChunkPerAudioUnit) {
    MediaDataBuilder m;
    m.fill(21, 0x77);
    const auto f1 = m.nal(3000, {0x25, 0xB8}).last();
    const auto f2 = m.nal(2500, {0x41, 0x01}).last();
    const auto f3 = m.nal(2200, {0x65, 0xB8}).last();
    const auto a1 = m.audio(200, {0x01, 0x00, 0x16}).last();
    const auto a2 = m.audio(300, {0x01, 0x05, 0x9B}).last();  // ends at a frame
    const auto f4 = m.nal(2000, {0x25, 0xB8}).last();
    const auto f5 = m.nal(1800, {0x65, 0xB8}).last();
    const auto a3 = m.audio(250, {0x01, 0x02, 0xD7}).last();
    const auto f6 = m.nal(1500, {0x65, 0xB8}).last();
    m.nal(600, {0x65, 0xB8});  // nothing behind it
    m.fill(64, 0x77);

    prepareVariant(m.data(), "2");
    scanAs("2");
    ExpectedResult expected(m.data(), 8);
    expected.video(f1).video(f2).video(f3).audio(a1).audio(a2).video(f4).video(f5).audio(a3).video(f6);
    test::expectScanResult(*engine, result(), expected);
}

TEST_F(VariantScan, TwoNeedsAFrameOrAudioUnitBehindEachFrame) {
    MediaDataBuilder m;
    m.nal(3000, {0x25, 0xB8});  // junk behind it
    m.fill(100, 0x77);
    const auto confirmedByText = m.nal(2000, {0x65, 0xB8}).last();
    // A unit whose length field reads "dd": too long, but its header confirms.
    m.text("dd").bytes({0x00, 0x10, 0x25, 0xB8}).fill(200, 0x77);
    const auto atLimit = m.nal(2'499'999, {0x65, 0xB8}).last();
    m.nal(100, {0x65, 0xB8});
    m.fill(100, 0x77);
    m.nal(2'500'000, {0x65, 0xB8});  // one byte over the variants' limit
    m.nal(100, {0x65, 0xB8});
    m.fill(100, 0x77);

    prepareVariant(m.data(), "2");
    scanAs("2");
    ExpectedResult expected(m.data(), 8);
    expected.video(confirmedByText).video(atLimit);
    test::expectScanResult(*engine, result(), expected);
}

TEST_F(VariantScan, ThreeTakesOneAudioUnitPerChunkWithinSixHundredBytes) {
    MediaDataBuilder m;
    const auto f1 = m.nal(3000, {0x65, 0xB8}).last();
    const auto f2 = m.nal(2000, {0x01, 0x11}).last();
    // Each unit ends at the next unit start, the last at the frame behind it.
    const auto a1 = m.audio(200, {0x23, 0x0A}).last();
    const auto a2 = m.audio(300, {0x23, 0x00}).last();
    const auto a3 = m.audio(590, {0x23, 0x0A}).last();
    const auto f3 = m.nal(2500, {0x61, 0x22}).last();
    const auto f4 = m.nal(1800, {0x65, 0xB8}).last();
    // A unit longer than 600 bytes ends nowhere within reach: not taken.
    m.audio(700, {0x23, 0x0A});
    const auto f5 = m.nal(1600, {0x01, 0x33}).last();
    const auto f6 = m.nal(1400, {0x65, 0xB8}).last();
    m.nal(500, {0x61, 0x00});
    m.fill(50, 0x77);

    prepareVariant(m.data(), "3");
    scanAs("3");
    ExpectedResult expected(m.data(), 8);
    expected.video(f1).video(f2).audio(a1).audio(a2).audio(a3).video(f3).video(f4).video(f5).video(f6);
    test::expectScanResult(*engine, result(), expected);
}

TEST_F(VariantScan, ThreeEndsARunOnlyAtAShortConfirmedFrame) {
    MediaDataBuilder m;
    const auto f1 = m.nal(3000, {0x65, 0xB8}).last();
    const auto f2 = m.nal(2000, {0x01, 0x11}).last();
    const auto r1 = m.audio(200, {0x23, 0x0A}).last();
    m.audio(200, {0x23, 0x00});  // ends at a frame too long to end a run: lost
    const auto big = m.nal(250'000, {0x61, 0x00}).last();
    const auto f3 = m.nal(1000, {0x65, 0xB8}).last();
    m.nal(500, {0x61, 0x00});
    m.fill(50, 0x77);

    prepareVariant(m.data(), "3");
    scanAs("3");
    ExpectedResult expected(m.data(), 8);
    expected.video(f1).video(f2).audio(r1).video(big).video(f3);
    test::expectScanResult(*engine, result(), expected);
}

TEST_F(VariantScan, FiveAcceptsItsWiderFrameSetAndIsConfirmedByTwentyFiveZero) {
    MediaDataBuilder m;
    const auto f1 = m.nal(3000, {0x06, 0x05}).last();
    const auto f2 = m.nal(2000, {0x21, 0x47}).last();
    const auto f3 = m.nal(2500, {0x25, 0xB8}).last();
    const auto a1 = m.audio(180, {0x01, 0x00, 0x57}).last();
    const auto a2 = m.audio(240, {0x01, 0x00, 0x9B}).last();
    const auto f4 = m.nal(1500, {0x61, 0x10}).last();
    m.nal(400, {0x25, 0x00});  // confirms the frame before it, is none itself
    const auto f5 = m.nal(1300, {0x65, 0xB8}).last();
    m.nal(1100, {0x01, 0x02});  // 25 88 behind it does not confirm it here
    m.nal(500, {0x25, 0x88});
    m.fill(50, 0x77);

    prepareVariant(m.data(), "5");
    scanAs("5");
    ExpectedResult expected(m.data(), 8);
    expected.video(f1).video(f2).video(f3).audio(a1).audio(a2).video(f4).video(f5);
    test::expectScanResult(*engine, result(), expected);
}

TEST_F(VariantScan, SevenTakesItsPairsAndEndsRunsAtAnyConfirmedUnit) {
    MediaDataBuilder m;
    const auto f1 = m.nal(3000, {0x25, 0x88}).last();
    const auto f2 = m.nal(2000, {0x21, 0x9B}).last();
    const auto a1 = m.audio(200, {0x01, 0x00, 0xD7}).last();
    const auto a2 = m.audio(170, {0x01, 0x00, 0x16}).last();
    const auto f3 = m.nal(1500, {0x01, 0x9E}).last();
    const auto f4 = m.nal(1200, {0x65, 0xB8}).last();
    const auto a3 = m.audio(300, {0x01, 0x00, 0x17}).last();
    m.nal(900, {0x61, 0x9A});  // ends the run, but is no frame start of this camera
    const auto f5 = m.nal(1000, {0x21, 0x9A}).last();
    const auto f6 = m.nal(800, {0x06, 0x05}).last();
    m.nal(500, {0x25, 0xB8});
    m.fill(50, 0x77);

    prepareVariant(m.data(), "7");
    scanAs("7");
    ExpectedResult expected(m.data(), 8);
    expected.video(f1).video(f2).audio(a1).audio(a2).video(f3).video(f4).audio(a3).video(f5).video(f6);
    test::expectScanResult(*engine, result(), expected);
}

TEST_F(VariantScan, EachVariantIgnoresTheOthersFrameStarts) {
    // 41 xx is a frame for "2" only; 61 xx for "3" and "5"; 25 88 for "7" only.
    struct Case {
        const char* marker;
        uint8_t h0, h1;
        bool taken;
    };
    const Case cases[] = {
        {"2", 0x41, 0x00, true},  {"3", 0x41, 0x00, false}, {"5", 0x41, 0x00, false}, {"7", 0x41, 0x00, false},
        {"2", 0x61, 0x00, false}, {"3", 0x61, 0x00, true},  {"5", 0x61, 0x00, true},  {"7", 0x61, 0x00, false},
        {"2", 0x25, 0x88, false}, {"3", 0x25, 0x88, false}, {"5", 0x25, 0x88, false}, {"7", 0x25, 0x88, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.marker) + " " + std::to_string(c.h0) + " " + std::to_string(c.h1));
        MediaDataBuilder m;
        const auto candidate = m.nal(1000, {c.h0, c.h1}).last();
        m.nal(800, {0x65, 0xB8});  // confirms for every variant
        m.nal(800, {0x65, 0xB8});
        m.fill(50, 0x77);
        prepareVariant(m.data(), c.marker);
        scanAs(c.marker);
        ASSERT_FALSE(engine->tables.video_buffer_size.empty());
        EXPECT_EQ(engine->tables.video_buffer_size.front() == candidate.length, c.taken);
    }
}

// --- the middle group ------------------------------------------------------------

// One row of the middle group as the scan sees it: the reference that picks
// it, the header bytes of its frames, another camera's frame header, the
// first bytes of its audio units, its frame limit and the bounds of its run
// walk.
struct MiddleRow {
    const char* marker;
    std::array<uint8_t, 2> tagPair;
    std::vector<bool CameraFlags::*> flags;
    std::vector<uint8_t> frame;
    std::vector<uint8_t> otherFrame;
    std::vector<uint8_t> audio;
    uint32_t limit;
    uint32_t walkFirst, walkLast;
};

using F = CameraFlags;
const MiddleRow kMiddleRows[] = {
    {"8", {0x25, 0x88}, {&F::bCanon}, {0x25, 0x88}, {0x21, 0x9A}, {0x01, 0x00, 0x16}, 2'499'999, 151, 549},
    {"10", {0x25, 0xB8}, {}, {0x25, 0xB8}, {0x65, 0x88}, {0x01, 0x00, 0x15}, 2'499'999, 151, 549},
    {"11", {0x25, 0xB8}, {&F::bAudioSig00_40}, {0x25, 0xB8}, {0x65, 0x88}, {0x01, 0x00, 0x00}, 2'499'999, 151, 549},
    {"12", {0x25, 0xB8}, {&F::bAudioSig21}, {0x25, 0xB8}, {0x65, 0x88}, {0x21, 0x00}, 2'499'999, 151, 549},
    {"13", {0x65, 0xB8}, {&F::bAudioSig21, &F::bAudioSig21_55}, {0x65, 0xB8}, {0x25, 0x88}, {0x21, 0x00},
     2'499'999, 151, 549},
    {"14", {0x25, 0x88}, {}, {0x25, 0x88}, {0x65, 0x88}, {0x21, 0x00}, 2'299'999, 151, 549},
    {"15", {0x25, 0x88}, {&F::bAudioSig00_40}, {0x25, 0x88}, {0x65, 0x88}, {0x01, 0x00, 0x34}, 2'299'999, 151, 549},
    {"16", {0x65, 0x88}, {}, {0x65, 0x88}, {0x25, 0x88}, {0x01, 0x00, 0x0B}, 2'299'999, 141, 749},
};

class MiddleGroupScan : public VariantScan, public ::testing::WithParamInterface<MiddleRow> {
protected:
    test::MovStages& prepareRow(const std::vector<uint8_t>& damaged, const MiddleRow& row) {
        test::MovStages& e = prepare(damaged);
        e.analysis.mp4aPresent = 1;
        e.analysis.tagPair = row.tagPair;
        for (auto flag : row.flags) e.analysis.flags.*flag = true;
        return e;
    }
    static MediaDataBuilder::Unit nal(MediaDataBuilder& m, uint32_t length, const std::vector<uint8_t>& header) {
        return m.nal(length, header).last();
    }
    static MediaDataBuilder::Unit audio(MediaDataBuilder& m, size_t n, const std::vector<uint8_t>& head) {
        return m.audio(n, head).last();
    }
};

// Frames at and over the row's limit, runs exactly as long as the walk's
// first and last positions and one byte longer, frames confirmed by a frame,
// by audio, by nothing, and by another camera's frame.
TEST_P(MiddleGroupScan, TakesFramesAndRunsWithinTheRowsLimitsAndBounds) {
    const MiddleRow& row = GetParam();
    MediaDataBuilder m;
    m.fill(21, 0x77);
    const auto f1 = nal(m, 3000, row.frame);
    const auto f2 = nal(m, row.limit, row.frame);       // at the limit, confirmed by audio
    const auto a1 = audio(m, row.walkFirst, row.audio);  // ends at the walk's first position
    const auto a2 = audio(m, row.walkLast, row.audio);   // ends at its last, at a frame
    const auto f3 = nal(m, 1500, row.frame);
    const auto f4 = nal(m, 1200, row.frame);
    audio(m, row.walkLast + 1, row.audio);  // nothing ends it within the walk: lost
    const auto f5 = nal(m, 1000, row.frame);
    nal(m, 900, row.frame);  // nothing behind it confirms it
    m.fill(50, 0x77);
    nal(m, row.limit + 1, row.frame);  // one byte over the limit
    const auto f7 = nal(m, 800, row.frame);
    nal(m, 700, row.frame);  // followed by another camera's frame
    nal(m, 600, row.otherFrame);
    m.fill(50, 0x77);

    prepareRow(m.data(), row);
    scanAs(row.marker);
    ExpectedResult expected(m.data(), 8);
    expected.video(f1).video(f2).audio(a1).audio(a2).video(f3).video(f4).video(f5).video(f7);
    test::expectScanResult(*engine, result(), expected);
}

INSTANTIATE_TEST_SUITE_P(Rows, MiddleGroupScan, ::testing::ValuesIn(kMiddleRows),
                         [](const ::testing::TestParamInfo<MiddleRow>& param) {
                             return std::string("row") + param.param.marker;
                         });

// "10" writes a frame as two slices: the second (first_mb_in_slice not 0)
// joins the first; a slice that begins the next picture stays a frame of its
// own, and a continuing slice never begins a frame. Its own media-data header
// never starts an audio run, even where its size reads as a unit start ("11").
TEST_F(MiddleGroupScan, TwoSliceFramesAndTheMediaHeaderBeforeARun) {
    {
        SCOPED_TRACE("10");
        MediaDataBuilder m;
        m.nal(700, {0x21, 0x1C});  // a continuing slice: no frame start
        const auto first = m.nal(3000, {0x25, 0xB8}).last();
        const auto second = m.nal(2000, {0x25, 0x00}).last();
        const auto alone = m.nal(1500, {0x21, 0x9A}).last();  // the next picture follows it
        const auto p1 = m.nal(1400, {0x21, 0x9A}).last();
        const auto p2 = m.nal(1300, {0x21, 0x1C}).last();
        const auto a = audio(m, 200, {0x01, 0x00, 0x15});
        const auto last = m.nal(1200, {0x21, 0x9A}).last();
        audio(m, 180, {0x01, 0x00, 0x15});
        m.nal(1100, {0x21, 0x9A});
        m.fill(64, 0x77);
        prepareRow(m.data(), kMiddleRows[1]);
        scanAs("10");
        ExpectedResult expected(m.data(), 8);
        expected.video({first.position, second.position + second.length - first.position}).video(alone);
        expected.video({p1.position, p2.position + p2.length - p1.position}).audio(a).video(last);
        test::expectScanResult(*engine, result(), expected);
    }
    {
        SCOPED_TRACE("11");
        MediaDataBuilder m;
        m.mdatHeader(0x00000177);  // size bytes 2 and 3: 01 77, a unit start of "11"
        const auto a1 = audio(m, 200, {0x01, 0x00});
        const auto a2 = audio(m, 180, {0x01, 0x00});
        const auto f = m.nal(1200, {0x25, 0xB8}).last();
        m.nal(1100, {0x25, 0xB8});
        m.fill(64, 0x77);
        prepareRow(m.data(), kMiddleRows[2]);
        scanAs("11");
        ExpectedResult expected(m.data(), 8);
        expected.audio(a1).audio(a2).video(f);
        test::expectScanResult(*engine, result(), expected);
    }
}

}  // namespace
}  // namespace arbel

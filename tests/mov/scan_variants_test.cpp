// The camera variants "2", "3", "5" and "7" on crafted media data: H.264
// frames behind length prefixes and AAC audio in runs of variable units.
#include "scan_fixture.h"

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

    void scanAs(const char* marker) {
        ASSERT_TRUE(scanVariants());
        ASSERT_EQ(engine->report.scanMarker, marker);
    }

    void expectResult(const ExpectedResult& expected) { test::expectScanResult(*engine, result(), expected); }
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
    expectResult(expected);
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
    expectResult(expected);
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
    expectResult(expected);
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
    expectResult(expected);
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
    expectResult(expected);
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
    expectResult(expected);
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

}  // namespace
}  // namespace arbel

// The choice of scan: one table of (condition, variant) rows, the log line and
// status that start a scan, and what happens when nothing fits.
#include "platform/system_log.h"
#include "scan_fixture.h"

#include <array>
#include <vector>
#include <sys/stat.h>

namespace arbel {
namespace {

using Flag = bool CameraFlags::*;

// A reference as the dispatch sees it: AAC or not, its tag pair, its flags.
struct DispatchCase {
    const char* name;
    bool aac;
    std::array<uint8_t, 2> tagPair;
    std::vector<Flag> flags;
    const char* marker;  // nullptr: no row holds
    bool stopMotion = false;

    void applyTo(test::MovStages& e) const {
        e.analysis.mp4aPresent = aac ? 1 : 0;
        e.analysis.tagPair = tagPair;
        e.analysis.bIsStopMotionFile = stopMotion ? 1 : 0;
        for (Flag f : flags) e.analysis.flags.*f = true;
    }
};

void aac(test::MovStages& e, uint8_t t0, uint8_t t1) {
    e.analysis.mp4aPresent = 1;
    e.analysis.tagPair = {t0, t1};
}

using C = CameraFlags;
constexpr std::array<uint8_t, 2> k25B8{0x25, 0xB8}, k65B8{0x65, 0xB8}, k2588{0x25, 0x88}, k6588{0x65, 0x88},
    kNone{0x00, 0x00};

// At least one reference per row, in the rows' order, and the references
// that an earlier row takes from a later one.
const DispatchCase kCases[] = {
    {"plain audio, no camera flag", false, kNone, {}, "1"},
    {"Canon 70D even with AAC", true, k25B8, {&C::bCanon70D}, "1"},
    {"Canon with plain audio and 25 88 is read by 1 before 8", false, k2588, {&C::bCanon}, "1"},
    {"stop-motion without AAC", false, kNone, {}, nullptr, true},
    {"AAC, group signature, 25 B8", true, k25B8, {&C::bAudioSig20_08}, "2"},
    {"AAC, group signature, 65 B8 is 2 before 3", true, k65B8, {&C::bAudioSig01_17Iso}, "2"},
    {"AAC, group signature 20 09, 65 B8", true, k65B8, {&C::bAudioSig20_09}, "2"},
    {"AAC, 65 B8", true, k65B8, {}, "3"},
    {"AAC, 65 B8, 00 40 is 3 before 11", true, k65B8, {&C::bAudioSig00_40}, "3"},
    {"AAC, 65 B8, signature 01 17", true, k65B8, {&C::bAudioSig01_17}, "5"},
    {"AAC, 65 B8, 21 55, 5D Mark II", true, k65B8, {&C::bAudioSig21_55, &C::bCanon5DMarkII}, "7"},
    {"AAC, 25 B8, 5D Mark II", true, k25B8, {&C::bCanon5DMarkII}, "7"},
    {"Canon with AAC and 25 88", true, k2588, {&C::bCanon}, "8"},
    {"Canon 80D with 25 88 is read by 8", true, k2588, {&C::bCanon, &C::bCanon80D}, "8"},
    {"Canon 1D X Mark II with plain audio and 25 88", false, k2588, {&C::bCanon, &C::bCanon1DXMarkII}, "8"},
    {"AAC, 25 B8", true, k25B8, {}, "10"},
    {"AAC, 25 B8, 00 40", true, k25B8, {&C::bAudioSig00_40}, "11"},
    {"AAC, 65 B8, 00 40, 21 55", true, k65B8, {&C::bAudioSig00_40, &C::bAudioSig21_55}, "11"},
    {"AAC, 25 B8, 21", true, k25B8, {&C::bAudioSig21}, "12"},
    {"AAC, 25 B8, 01 17", true, k25B8, {&C::bAudioSig01_17}, "12"},
    {"AAC, 25 B8, 21, HERO 1.15", true, k25B8, {&C::bAudioSig21, &C::bHero115}, "13"},
    {"AAC, 65 B8, 21, 21 55", true, k65B8, {&C::bAudioSig21, &C::bAudioSig21_55}, "13"},
    {"AAC, 25 88", true, k2588, {}, "14"},
    {"AAC, 25 88, 00 40", true, k2588, {&C::bAudioSig00_40}, "15"},
    {"AAC, 65 88", true, k6588, {}, "16"},
    {"HERO 1.30 with AAC", true, kNone, {&C::bHero130}, "17"},
    {"HERO 1.30 with plain audio is read by 1", false, kNone, {&C::bHero130}, "1"},
    {"HERO 1.30 with AAC and 25 88 is not 14", true, k2588, {&C::bHero130}, "17"},
    {"signature 64", false, kNone, {&C::bSignature64}, "18"},
    {"AAC 01 9B 2D, 65 88", true, k6588, {&C::bAudioSig01_9B2D}, "17....78787878"},
    {"AAC 01 36 2D, 65 88", true, k6588, {&C::bAudioSig01_362D}, "17....97979797"},
    {"AAC 01 15", true, kNone, {&C::bAudioSig01_15}, "17....666666666"},
    {"AAC 21 55, 25 B8", true, k25B8, {&C::bAudioSig21_55}, "17....666666666++++++33333"},
    {"G7 X Mark II with AAC and 25 88", true, k2588, {&C::bCanon, &C::bCanonG7XMarkII}, "02/08/19"},
    {"VIXIA with AAC", true, kNone, {&C::bVixia}, "02/08/19"},
    {"Canon 1D X Mark II", false, kNone, {&C::bCanon1DXMarkII}, "06/08/19"},
    {"Canon 80D", false, kNone, {&C::bCanon80D}, "07/08/19"},
    {"Canon 5D Mark IV", false, kNone, {&C::bCanon5DMarkIV}, "07/08/19 4;53"},
    {"GH4 logs no marker", false, kNone, {&C::bGH4}, ""},
    {"GH5", false, kNone, {&C::bGH5}, "14/08/19"},
    {"HERO3 with AAC", true, kNone, {&C::bH3B}, "g_b_GoProHero3"},
    {"Sony keeps the Canon 70D away from 1", false, kNone, {&C::bCanon70D, &C::bSonyA7S}, "21/08/19"},
    {"Nikon without AAC", false, kNone, {&C::bNikonBrand20}, "21/08/19"},
    {"Nikon with AAC", true, kNone, {&C::bNikonBrand20}, nullptr},
    {"P600 with AAC", true, kNone, {&C::bP600}, "22/08/19"},
    {"AAC 20 6C", true, kNone, {&C::bAudioFirst20_6C}, "22/08/19---g_b_SonyHDRCX405"},
    {"01 98 DA", false, kNone, {&C::bAudioSig0198DA}, "10/10/19---g_b_dji osmo"},
    {"signature 0Bg", false, kNone, {&C::bSignature0Bg}, "05/11/19---g_b_dji_mavic_Air"},
    {"AAC 01 34 99", true, kNone, {&C::bAudioSig013499}, "07/11/19---g_b_sonyxperiaz5"},
    {"Nikon tag 184, lower case", false, kNone, {&C::bNikonTag184Lower}, "26/11/19---g_b_Nikon_coolpix_P1"},
    {"Nikon tag 186", false, kNone, {&C::bNikonTag186}, "26/11/19---g_b_Nikon_coolpix_SQ"},
    {"Nikon tag 184", false, kNone, {&C::bNikonTag184}, "26/11/19---g_b_Nikon_L5"},
    {"AAC 21 1A 14 95 with 25 88 is not 14", true, k2588, {&C::bAudioSig211A1495}, "19"},
    {"AAC, 25 88, 5D Mark II", true, k2588, {&C::bCanon5DMarkII}, "14"},
};

TEST(ScanDispatch, EachRowPicksItsMarkerAndTheFirstMatchWins) {
    for (const DispatchCase& c : kCases) {
        SCOPED_TRACE(c.name);
        test::MovStages engine;
        c.applyTo(engine);
        const ScanDispatchRow* row = chooseScanVariant(engine.analysis);
        if (c.marker == nullptr) {
            EXPECT_EQ(row, nullptr) << (row ? row->marker : "");
        } else {
            ASSERT_NE(row, nullptr);
            EXPECT_STREQ(row->marker, c.marker);
        }
    }
}

TEST(ScanDispatch, EveryRowIsReachableAndScans) {
    // A row hidden behind earlier ones would never run; one without a scan
    // would refuse every recording of its camera.
    for (const ScanDispatchRow& row : scanDispatchTable()) {
        SCOPED_TRACE(row.family);
        EXPECT_NE(row.scan, nullptr);
        bool reached = false;
        for (const DispatchCase& c : kCases) {
            test::MovStages engine;
            c.applyTo(engine);
            if (chooseScanVariant(engine.analysis) == &row) reached = true;
        }
        EXPECT_TRUE(reached);
    }
}

class ScanStart : public test::LoggingScanFixture {
protected:
    std::vector<uint8_t> twoFrames() {
        test::MediaDataBuilder m;
        m.nal(1000, {0x65, 0xB8}).nal(1000, {0x65, 0xB8}).nal(1000, {0x65, 0xB8});
        return m.data();
    }
};

TEST_F(ScanStart, ChosenVariantLogsItsMarkerThenReportsLocating) {
    test::MovStages& e = prepare(twoFrames());
    aac(e, 0x65, 0xB8);
    ASSERT_TRUE(scanVariants());
    EXPECT_EQ(e.report.scanMarker, "3");
    EXPECT_EQ(logLines, (std::vector<std::string>{"3"}));
    ASSERT_EQ(posts.size(), 1u);
    EXPECT_EQ(notifString(posts[0], "status"), std::string(kLocatingText));
    EXPECT_EQ(notifNumber(posts[0], "progress"), 50.0);
    EXPECT_EQ(e.tables.sample_count(), 2u);
}

TEST_F(ScanStart, NoRowGoesToTheWritersWithEmptyTables) {
    struct Case {
        const char* name;
        Flag flag;
        std::vector<std::string> log;
    };
    for (const Case& c : {Case{"no row", nullptr, {}}}) {
        SCOPED_TRACE(c.name);
        posts.clear();
        logLines.clear();
        test::MovStages& e = prepare(twoFrames());
        e.analysis.bIsStopMotionFile = 1;
        if (c.flag) e.analysis.flags.*c.flag = true;
        // Whatever an earlier scan left is cleared by the set-up.
        e.tables.recordVideo(0, 1);
        e.tables.video_buffer_size = {1, 2, 3};
        e.tables.Sum_video = 77;
        e.tables.sum_audio = 99;
        ASSERT_TRUE(scanVariants());
        EXPECT_EQ(e.report.scanMarker.empty(), c.log.empty());
        EXPECT_EQ(e.tables.sample_count(), 0u);
        EXPECT_TRUE(e.tables.video_buffer_size.empty());
        EXPECT_EQ(e.tables.Avc_audioCount(), 0u);
        EXPECT_EQ(e.tables.Sum_video, 0u);
        EXPECT_EQ(e.tables.sum_audio, 0u);
        EXPECT_EQ(e.tables.ullBytesTraversed, 0u);  // a later full-frame pass starts at the beginning
        EXPECT_TRUE(posts.empty());
        EXPECT_EQ(logLines, c.log);
        EXPECT_TRUE(result().empty());
    }
}

TEST_F(ScanStart, UnreadableDamagedFileIsAnUnsupportedFormat) {
    const std::string folder = dir.file("a-folder.mov");
    ASSERT_EQ(::mkdir(folder.c_str(), 0755), 0);
    for (const std::string& path : {folder, dir.file("missing.mov")}) {
        SCOPED_TRACE(path);
        posts.clear();
        test::MovStages& e = prepareFile(path);
        e.corruptFileSize = 4096;
        EXPECT_FALSE(scanVariants());
        ASSERT_EQ(posts.size(), 1u);
        EXPECT_EQ(notifString(posts[0], "status"), std::string(kUnsupportedText));
        EXPECT_EQ(notifNumber(posts[0], "progress"), 101.0);

        posts.clear();
        e.analysis.Mjpeg_code_present = 1;
        EXPECT_FALSE(scanMjpeg());
        ASSERT_EQ(posts.size(), 1u);
        EXPECT_EQ(notifString(posts[0], "status"), std::string(kUnsupportedText));
    }
}

TEST_F(ScanStart, EmptyDamagedFileIsScannedToNothing) {
    prepare({});
    ASSERT_TRUE(scanVariants());
    EXPECT_EQ(engine->report.scanMarker, "1");
    EXPECT_EQ(engine->tables.sample_count(), 0u);
    EXPECT_EQ(statuses(), (std::vector<std::string>{kLocatingText}));
}

}  // namespace
}  // namespace arbel

// The choice of scan: one table of (condition, variant) rows, the log line and
// status that start a scan, and what happens when nothing fits.
#include "platform/system_log.h"
#include "scan_fixture.h"

#include <functional>
#include <sys/stat.h>

namespace arbel {
namespace {

struct DispatchCase {
    const char* name;
    std::function<void(test::MovStages&)> setUp;
    const char* marker;  // nullptr: no row holds
};

void aac(test::MovStages& e, uint8_t t0, uint8_t t1) {
    e.analysis.mp4aPresent = 1;
    e.analysis.tagPair = {t0, t1};
}

const DispatchCase kCases[] = {
    {"plain audio, no camera flag", [](test::MovStages&) {}, "1"},
    {"Canon 70D even with AAC", [](test::MovStages& e) { aac(e, 0x25, 0xB8); e.analysis.flags.bCanon70D = true; }, "1"},
    {"camera flag keeps plain audio away from 1", [](test::MovStages& e) { e.analysis.flags.bGH4 = true; }, nullptr},
    {"Sony keeps the Canon 70D away from 1",
     [](test::MovStages& e) { e.analysis.flags.bCanon70D = true; e.analysis.flags.bSonyA7S = true; }, nullptr},
    {"stop-motion without AAC", [](test::MovStages& e) { e.analysis.bIsStopMotionFile = 1; }, nullptr},
    {"AAC, group signature, 25 B8", [](test::MovStages& e) { aac(e, 0x25, 0xB8); e.analysis.flags.bAudioSig20_08 = true; }, "2"},
    {"AAC, group signature, 65 B8 is 2 before 3",
     [](test::MovStages& e) { aac(e, 0x65, 0xB8); e.analysis.flags.bAudioSig01_17Iso = true; }, "2"},
    {"AAC, group signature 20 09, 65 B8", [](test::MovStages& e) { aac(e, 0x65, 0xB8); e.analysis.flags.bAudioSig20_09 = true; }, "2"},
    {"AAC, 65 B8", [](test::MovStages& e) { aac(e, 0x65, 0xB8); }, "3"},
    {"AAC, 65 B8, signature 01 17", [](test::MovStages& e) { aac(e, 0x65, 0xB8); e.analysis.flags.bAudioSig01_17 = true; }, "5"},
    {"AAC, 65 B8, 21 55, 5D Mark II",
     [](test::MovStages& e) { aac(e, 0x65, 0xB8); e.analysis.flags.bAudioSig21_55 = true; e.analysis.flags.bCanon5DMarkII = true; }, "7"},
    {"AAC, 25 B8, 5D Mark II", [](test::MovStages& e) { aac(e, 0x25, 0xB8); e.analysis.flags.bCanon5DMarkII = true; }, "7"},
    {"AAC, 65 B8, 21 55", [](test::MovStages& e) { aac(e, 0x65, 0xB8); e.analysis.flags.bAudioSig21_55 = true; }, nullptr},
    {"AAC, 25 B8, signature 01 17", [](test::MovStages& e) { aac(e, 0x25, 0xB8); e.analysis.flags.bAudioSig01_17 = true; }, nullptr},
    {"AAC, 25 88", [](test::MovStages& e) { aac(e, 0x25, 0x88); }, nullptr},
    {"AAC, 25 B8 without signature", [](test::MovStages& e) { aac(e, 0x25, 0xB8); }, nullptr},
    {"AAC, 5D Mark II, 25 88", [](test::MovStages& e) { aac(e, 0x25, 0x88); e.analysis.flags.bCanon5DMarkII = true; }, nullptr},
};

TEST(ScanDispatch, EachRowPicksItsMarkerAndTheFirstMatchWins) {
    for (const DispatchCase& c : kCases) {
        SCOPED_TRACE(c.name);
        test::MovStages engine;
        c.setUp(engine);
        const ScanDispatchRow* row = chooseScanVariant(engine.analysis);
        if (c.marker == nullptr) {
            EXPECT_EQ(row, nullptr) << (row ? row->marker : "");
        } else {
            ASSERT_NE(row, nullptr);
            EXPECT_STREQ(row->marker, c.marker);
        }
    }
}

TEST(ScanDispatch, EveryRowIsReachable) {
    // A row hidden behind earlier ones would never run.
    for (const ScanDispatchRow& row : scanDispatchTable()) {
        SCOPED_TRACE(row.marker);
        bool reached = false;
        for (const DispatchCase& c : kCases) {
            test::MovStages engine;
            c.setUp(engine);
            if (chooseScanVariant(engine.analysis) == &row) reached = true;
        }
        EXPECT_TRUE(reached);
    }
}

class ScanStart : public test::ScanFixture {
protected:
    void SetUp() override {
        ScanFixture::SetUp();
        SystemLog::setSink([this](std::string_view line) {
            std::lock_guard<std::mutex> lock(postsMutex);
            logLines.emplace_back(line);
        });
    }
    void TearDown() override { SystemLog::silence(); }

    std::vector<uint8_t> twoFrames() {
        test::MediaDataBuilder m;
        m.nal(1000, {0x65, 0xB8}).nal(1000, {0x65, 0xB8}).nal(1000, {0x65, 0xB8});
        return m.data();
    }

    std::vector<std::string> logLines;
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
    test::MovStages& e = prepare(twoFrames());
    aac(e, 0x25, 0x88);
    // Whatever an earlier scan left is cleared by the set-up.
    e.tables.recordVideo(0, 1);
    e.tables.video_buffer_size = {1, 2, 3};
    e.tables.Sum_video = 77;
    e.tables.sum_audio = 99;
    ASSERT_TRUE(scanVariants());
    EXPECT_TRUE(e.report.scanMarker.empty());
    EXPECT_EQ(e.tables.sample_count(), 0u);
    EXPECT_TRUE(e.tables.video_buffer_size.empty());
    EXPECT_EQ(e.tables.Avc_audioCount(), 0u);
    EXPECT_EQ(e.tables.Sum_video, 0u);
    EXPECT_EQ(e.tables.sum_audio, 0u);
    EXPECT_EQ(e.tables.ullBytesTraversed, 0u);  // a later full-frame pass starts at the beginning
    EXPECT_TRUE(posts.empty());
    EXPECT_TRUE(logLines.empty());
    EXPECT_TRUE(result().empty());
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

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
    std::function<void(RepairFile&)> setUp;
    const char* marker;  // nullptr: no row holds
};

void aac(RepairFile& e, uint8_t t0, uint8_t t1) {
    e.mp4aPresent = 1;
    e.tagPair = {t0, t1};
}

const DispatchCase kCases[] = {
    {"plain audio, no camera flag", [](RepairFile&) {}, "1"},
    {"Canon 70D even with AAC", [](RepairFile& e) { aac(e, 0x25, 0xB8); e.flags.bCanon70D = true; }, "1"},
    {"camera flag keeps plain audio away from 1", [](RepairFile& e) { e.flags.bGH4 = true; }, nullptr},
    {"Sony keeps the Canon 70D away from 1",
     [](RepairFile& e) { e.flags.bCanon70D = true; e.flags.bSonyA7S = true; }, nullptr},
    {"stop-motion without AAC", [](RepairFile& e) { e.bIsStopMotionFile = 1; }, nullptr},
    {"AAC, group signature, 25 B8", [](RepairFile& e) { aac(e, 0x25, 0xB8); e.flags.bAudioSig20_08 = true; }, "2"},
    {"AAC, group signature, 65 B8 is 2 before 3",
     [](RepairFile& e) { aac(e, 0x65, 0xB8); e.flags.bAudioSig01_17Iso = true; }, "2"},
    {"AAC, group signature 20 09, 65 B8", [](RepairFile& e) { aac(e, 0x65, 0xB8); e.flags.bAudioSig20_09 = true; }, "2"},
    {"AAC, 65 B8", [](RepairFile& e) { aac(e, 0x65, 0xB8); }, "3"},
    {"AAC, 65 B8, signature 01 17", [](RepairFile& e) { aac(e, 0x65, 0xB8); e.flags.bAudioSig01_17 = true; }, "5"},
    {"AAC, 65 B8, 21 55, 5D Mark II",
     [](RepairFile& e) { aac(e, 0x65, 0xB8); e.flags.bAudioSig21_55 = true; e.flags.bCanon5DMarkII = true; }, "7"},
    {"AAC, 25 B8, 5D Mark II", [](RepairFile& e) { aac(e, 0x25, 0xB8); e.flags.bCanon5DMarkII = true; }, "7"},
    {"AAC, 65 B8, 21 55", [](RepairFile& e) { aac(e, 0x65, 0xB8); e.flags.bAudioSig21_55 = true; }, nullptr},
    {"AAC, 25 B8, signature 01 17", [](RepairFile& e) { aac(e, 0x25, 0xB8); e.flags.bAudioSig01_17 = true; }, nullptr},
    {"AAC, 25 88", [](RepairFile& e) { aac(e, 0x25, 0x88); }, nullptr},
    {"AAC, 25 B8 without signature", [](RepairFile& e) { aac(e, 0x25, 0xB8); }, nullptr},
    {"AAC, 5D Mark II, 25 88", [](RepairFile& e) { aac(e, 0x25, 0x88); e.flags.bCanon5DMarkII = true; }, nullptr},
};

TEST(ScanDispatch, EachRowPicksItsMarkerAndTheFirstMatchWins) {
    for (const DispatchCase& c : kCases) {
        SCOPED_TRACE(c.name);
        RepairFile engine;
        c.setUp(engine);
        const ScanDispatchRow* row = chooseScanVariant(engine);
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
            RepairFile engine;
            c.setUp(engine);
            if (chooseScanVariant(engine) == &row) reached = true;
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
    RepairFile& e = prepare(twoFrames());
    aac(e, 0x65, 0xB8);
    ASSERT_TRUE(scanVariants());
    EXPECT_EQ(e.scanVariant, "3");
    EXPECT_EQ(logLines, (std::vector<std::string>{"3"}));
    ASSERT_EQ(posts.size(), 1u);
    EXPECT_EQ(notifString(posts[0], "status"), std::string(kLocatingText));
    EXPECT_EQ(notifNumber(posts[0], "progress"), 50.0);
    EXPECT_EQ(e.sample_count, 2u);
}

TEST_F(ScanStart, TagPairIsTakenFromTheReferenceChunkBytes) {
    RepairFile& e = prepare(twoFrames());
    e.mp4aPresent = 1;
    e.b_finding_Tag = {0x00, 0x00, 0x00, 0x65, 0xB8, 0x10};
    e.tag = 3;
    ASSERT_TRUE(scanVariants());
    EXPECT_EQ(e.scanVariant, "3");
}

TEST_F(ScanStart, NoRowGoesToTheWritersWithEmptyTables) {
    RepairFile& e = prepare(twoFrames());
    aac(e, 0x25, 0x88);
    // Whatever an earlier scan left is cleared by the set-up.
    e.sample_count = 5;
    e.video_buffer_size = {1, 2, 3};
    e.Sum_video = 77;
    e.sum_audio = 99;
    ASSERT_TRUE(scanVariants());
    EXPECT_TRUE(e.scanVariant.empty());
    EXPECT_EQ(e.sample_count, 0u);
    EXPECT_TRUE(e.video_buffer_size.empty());
    EXPECT_EQ(e.Avc_audioCount, 0u);
    EXPECT_EQ(e.Sum_video, 0u);
    EXPECT_EQ(e.sum_audio, 0u);
    EXPECT_EQ(e.ullBytesTraversed, 0u);  // a later full-frame pass starts at the beginning
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
        RepairFile& e = prepareFile(path);
        e.corruptFileSize = 4096;
        EXPECT_FALSE(scanVariants());
        ASSERT_EQ(posts.size(), 1u);
        EXPECT_EQ(notifString(posts[0], "status"), std::string(kUnsupportedText));
        EXPECT_EQ(notifNumber(posts[0], "progress"), 101.0);

        posts.clear();
        e.Mjpeg_code_present = 1;
        EXPECT_FALSE(scanMjpeg());
        ASSERT_EQ(posts.size(), 1u);
        EXPECT_EQ(notifString(posts[0], "status"), std::string(kUnsupportedText));
    }
}

TEST_F(ScanStart, EmptyDamagedFileIsScannedToNothing) {
    prepare({});
    ASSERT_TRUE(scanVariants());
    EXPECT_EQ(engine->scanVariant, "1");
    EXPECT_EQ(engine->sample_count, 0u);
    EXPECT_EQ(statuses(), (std::vector<std::string>{kLocatingText}));
}

}  // namespace
}  // namespace arbel

// The final phase of the general path: header rewrite, reports, refusals and
// the pass for full-size raw frames.
#include "engine/byte_order.h"
#include "engine/mov/movie_atom.h"
#include "writer_fixture.h"

#include <functional>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace arbel::test {
namespace {

class FinalPhase : public WriterTest {};

TEST_F(FinalPhase, ThirtyTwoBitHeaderHoldsTheLengthOfTheMediaData) {
    openOutput(8);
    addInterleaved(3, 2);
    const uint64_t mediaEnd = engine.result.outputfile.cursor();
    engine.finishGeneralPath();
    expectCompleted();

    const AtomTree tree = result();
    const auto& b = tree.bytes();
    ASSERT_GE(b.size(), 8u);
    EXPECT_EQ(std::vector<uint8_t>(b.begin(), b.begin() + 8),
              Bytes().u32be(static_cast<uint32_t>(mediaEnd)).text("mdat").vec());
}

TEST_F(FinalPhase, SixtyFourBitHeaderTakesTheSixteenReservedBytesAndNoMedia) {
    openOutput(16);
    addInterleaved(3, 2);
    const uint64_t mediaEnd = engine.result.outputfile.cursor();
    engine.finishGeneralPath();
    expectCompleted();

    const AtomTree tree = result();
    const auto& b = tree.bytes();
    EXPECT_EQ(std::vector<uint8_t>(b.begin(), b.begin() + 16), Bytes().u32be(1).text("mdat").u64be(mediaEnd).vec());
    ASSERT_EQ(tree.top()[0].type, "mdat");
    EXPECT_EQ(tree.top()[0].headerSize, 16u);
    // The first frame sits right after the header, untouched.
    EXPECT_EQ(engine.tables.video_buffer_start[0], 16u);
    EXPECT_EQ(std::vector<uint8_t>(b.begin() + 16, b.begin() + 16 + 100), unitBytes(100, 0));
}

TEST(MediaHeaderBytes, SixtyFourBitFormExactlyWhenSixteenWereReserved) {
    EXPECT_EQ(mediaHeaderBytes(8, 0xFFFFFFFFull), Bytes().u32be(0xFFFFFFFF).text("mdat").vec());
    EXPECT_EQ(mediaHeaderBytes(16, 1000), Bytes().u32be(1).text("mdat").u64be(1000).vec());
    EXPECT_EQ(mediaHeaderBytes(16, 5ull << 30), Bytes().u32be(1).text("mdat").u64be(5ull << 30).vec());
    // Eight bytes cannot describe media that outgrew 32 bits.
    EXPECT_EQ(mediaHeaderBytes(8, 0x100000000ull), std::nullopt);
}

TEST_F(FinalPhase, ReportsFrameRateDurationAndTracksThenCompletes) {
    openOutput();
    addInterleaved(60, 60);
    engine.finishGeneralPath();

    // 60 frames of 1001/30000 s last 2.002 s at 29.97 frames a second, whatever
    // the length of the reference (300 frames).
    std::vector<std::pair<std::string, std::string>> seen;
    for (const auto& p : posted) seen.emplace_back(p.key, p.text);
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"status", "Repairing the file.."}, {"fps", "29"},  {"duration", "0:0:2"},
        {"track", "2"},                     {"track", "2"}, {"status", "Repair completed."},
    };
    EXPECT_EQ(seen, expected);
    EXPECT_EQ(posted.front().progress, 80.0);
    EXPECT_EQ(posted.back().progress, 100.0);
    EXPECT_EQ(engine.report.fps, "29");
    EXPECT_EQ(engine.report.duration, "0:0:2");
    EXPECT_EQ(engine.report.tracks, 2);
}

TEST_F(FinalPhase, RecordingLongerThanTheReferenceKeepsItsOwnLength) {
    // A one-second reference and a 54-frame recording: the movie, the video
    // track and its media last the 54 frames, not the reference's second.
    engine.templates.duratonFPS = 30030;
    openOutput();
    addInterleaved(54, 54);
    engine.finishGeneralPath();
    expectCompleted();
    const AtomTree tree = result();
    const Atom* mvhd = tree.find("moov/mvhd");
    const Atom* mdhd = tree.find("moov/trak[0]/mdia/mdhd");
    ASSERT_NE(mvhd, nullptr);
    ASSERT_NE(mdhd, nullptr);
    const std::vector<uint8_t> movieHeader = tree.payload(*mvhd);
    const std::vector<uint8_t> mediaHeader = tree.payload(*mdhd);
    EXPECT_EQ(ByteView(movieHeader.data(), movieHeader.size()).u32be(16), 54u * 1001u);
    EXPECT_EQ(ByteView(mediaHeader.data(), mediaHeader.size()).u32be(16), 54u * 1001u);
    EXPECT_EQ(engine.report.fps, "29");
    EXPECT_EQ(engine.report.duration, "0:0:1");
}

TEST_F(FinalPhase, ReferenceTimedRateOfZeroIsReportedAs29) {
    // Without a sample delta the reference's own duration is all there is.
    engine.templates.mvhd_timescale = 1;
    engine.templates.duratonFPS = 5;
    engine.templates.stts_data = atom("stts", Bytes().u32be(0).u32be(1).u32be(300).u32be(0)).vec();
    engine.templates.firstVideoSampleDelta = 0;
    openOutput();
    addInterleaved(1, 1);
    engine.finishGeneralPath();
    ASSERT_EQ(postedWith("fps").size(), 1u);
    EXPECT_EQ(postedWith("fps")[0].text, "29");
    expectCompleted();
}

// Each way the phase must refuse, never followed by "Repair completed.".
TEST_F(FinalPhase, RefusesWithoutSamples) {
    openOutput();
    addInterleaved(0, 4);
    engine.finishGeneralPath();
    expectRefusedOnly();
    EXPECT_TRUE(postedStatus("Repairing the file.."));
    EXPECT_TRUE(postedWith("fps").empty());
}

// A header needs the reference's movie atom, video track header,
// time-to-sample table and sample description: without one there is nothing
// a player could use, and "Repair completed." would be a false success.
TEST_F(FinalPhase, RefusesWhenTheReferenceLacksWhatTheHeaderNeeds) {
    const std::vector<std::pair<const char*, std::function<void(ReferenceTemplates&)>>> cases = {
        {"no movie atom", [](ReferenceTemplates& t) { t.Movfileisvalid = 0; }},
        {"no video track header", [](ReferenceTemplates& t) { t.trak_data.clear(); }},
        {"no time-to-sample table", [](ReferenceTemplates& t) { t.stts_data.clear(); }},
        {"no sample description", [](ReferenceTemplates& t) { t.videoSampleDescription.clear(); }},
    };
    for (const auto& [name, damage] : cases) {
        SCOPED_TRACE(name);
        posted.clear();
        engine.tables = SampleTables{};
        engine.report = RepairReport{};
        giveReferencePieces();
        damage(engine.templates);
        openOutput();
        addInterleaved(5, 5);
        engine.finishGeneralPath();
        expectRefusedOnly();
        EXPECT_EQ(posted.size(), 1u);  // refused before anything else is said
        EXPECT_EQ(engine.report.outcome, RepairOutcome::Refused);
        EXPECT_FALSE(engine.result.outputfile.isOpen());
    }
}

TEST_F(FinalPhase, RefusesWhenTheScanCouldNotWrite) {
    openOutput();
    addInterleaved(5, 5);
    engine.result.writeFailed = true;
    engine.finishGeneralPath();
    expectRefusedOnly();
}

TEST_F(FinalPhase, RefusesWhenTheResultWasNeverCreated) {
    engine.tables.video_buffer_start = {8};
    engine.tables.video_buffer_size = {10};
    engine.finishGeneralPath();
    expectRefusedOnly();
}

TEST_F(FinalPhase, RefusesWhenTheDiskRefusesTheWrites) {
    if (access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full";
    engine.result.mediaHeaderSize = 8;
    ASSERT_TRUE(engine.result.outputfile.create("/dev/full"));
    engine.result.outputfile.appendZeros(8);
    addInterleaved(5, 5);
    engine.finishGeneralPath();
    expectRefusedOnly();
}

// A damaged file with holes, so that frames of 8,294,400 bytes cost no disk.
class FullFramePass : public WriterTest {
protected:
    static constexpr uint64_t kFrame = 8294400;
    std::string damagedPath = dir.file("damaged.mov");

    // The file holds `size` bytes; the engine is told `declared` (the same by default).
    void makeDamaged(uint64_t size, const std::vector<std::pair<uint64_t, uint8_t>>& bytes, uint64_t declared = 0) {
        const int fd = ::open(damagedPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::ftruncate(fd, static_cast<off_t>(size)), 0);
        for (const auto& [at, value] : bytes) ASSERT_EQ(::pwrite(fd, &value, 1, static_cast<off_t>(at)), 1);
        ::close(fd);
        ASSERT_TRUE(engine.inputfilehandle.open(damagedPath));
        engine.corruptFileSize = declared ? declared : size;
        engine.tables.ullBytesTraversed = 0;
        engine.analysis.tagPair = {0xE1, 0x5C};
    }
};

TEST_F(FullFramePass, TakesEveryFrameWhoseNextFrameAlsoStartsWithE1) {
    const uint64_t size = 3 * kFrame + 100000;
    const uint64_t lonely = 65535;                // last byte of the first window, no partner
    const uint64_t first = 65546;                 // frame: partner one frame on
    const uint64_t inside = first + 5000;         // inside the first frame, with a partner: skipped whole
    const uint64_t second = first + kFrame + 1000;
    const uint64_t last = size - 1 - kFrame;      // its partner is the file's last byte
    makeDamaged(size, {{lonely, 0xE1},
                       {first, 0xE1}, {first + 1, 0x11}, {first + kFrame, 0xE1},
                       {inside, 0xE1}, {inside + kFrame, 0xE1},
                       {second, 0xE1}, {second + 1, 0x22}, {second + kFrame, 0xE1},
                       {last, 0xE1}, {last + 1, 0x33}, {size - 1, 0xE1}});
    openOutput();
    addVideo(50, 7);                              // a sample the scan found before
    const uint64_t afterScan = engine.result.outputfile.cursor();

    engine.finishGeneralPath();
    expectCompleted();
    ASSERT_TRUE(postedStatus("Locating audio / video data forks.."));
    EXPECT_EQ(posted.front().progress, 50.0);

    ASSERT_EQ(engine.tables.sample_count(), 4u);
    const std::vector<uint64_t> starts = {8, afterScan, afterScan + kFrame, afterScan + 2 * kFrame};
    EXPECT_EQ(engine.tables.video_buffer_start, starts);
    EXPECT_EQ(engine.tables.video_buffer_size, (std::vector<uint64_t>{50, kFrame, kFrame, kFrame}));
    EXPECT_EQ(engine.tables.ullBytesTraversed, size);

    const AtomTree tree = result();
    const auto& b = tree.bytes();
    ASSERT_GE(b.size(), afterScan + 3 * kFrame);
    EXPECT_EQ(b[afterScan], 0xE1);
    EXPECT_EQ(b[afterScan + 1], 0x11);
    EXPECT_EQ(b[afterScan + 5000], 0xE1);         // the skipped candidate was copied as frame data
    EXPECT_EQ(b[afterScan + kFrame + 1], 0x22);
    EXPECT_EQ(b[afterScan + 2 * kFrame + 1], 0x33);
    EXPECT_EQ(tree.chunkOffsets(*tree.find("moov/trak[0]/mdia/minf/stbl/stco")), starts);
}

TEST_F(FullFramePass, APartnerOnTheLastByteCountsAndTheHeaderSpaceStaysReserved) {
    const uint64_t size = kFrame + 10;
    makeDamaged(size, {{9, 0xE1}, {size - 1, 0xE1}});
    openOutput();
    engine.finishGeneralPath();
    ASSERT_EQ(engine.tables.sample_count(), 1u);
    EXPECT_EQ(engine.tables.video_buffer_start[0], 8u);
    expectCompleted();
}

TEST_F(FullFramePass, APartnerPastTheDamagedFileSizeDoesNotCount) {
    const uint64_t declared = kFrame + 10;
    makeDamaged(declared + 100, {{10, 0xE1}, {declared, 0xE1}}, declared);
    openOutput();
    addVideo(20, 1);
    engine.finishGeneralPath();
    EXPECT_EQ(engine.tables.sample_count(), 1u);
    expectCompleted();
}

TEST_F(FullFramePass, RunsOnlyForTheFullFrameTagPair) {
    makeDamaged(kFrame + 10, {{0, 0xE1}, {kFrame, 0xE1}});
    engine.analysis.tagPair = {0x25, 0x88};
    openOutput();
    addVideo(20, 1);
    engine.finishGeneralPath();
    EXPECT_EQ(engine.tables.sample_count(), 1u);
    EXPECT_FALSE(postedStatus("Locating audio / video data forks.."));
}

TEST_F(FullFramePass, AStopEndsTheRepairWithoutAnotherWord) {
    makeDamaged(kFrame + 10, {{0, 0xE1}, {kFrame, 0xE1}});
    openOutput();
    engine.control->requestStop();
    engine.finishGeneralPath();
    ASSERT_EQ(posted.size(), 1u);
    EXPECT_EQ(posted[0].text, "Locating audio / video data forks..");
    EXPECT_EQ(engine.tables.sample_count(), 0u);
}

}  // namespace
}  // namespace arbel::test

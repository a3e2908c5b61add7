// The writer: the repaired file byte for byte, and every way writing it can
// fail without a result being offered.
#include "avi_engine_fixture.h"

#include "platform/file_system.h"
#include "support/riff_tree.h"

#include <algorithm>
#include <atomic>

#include <csignal>
#include <sys/resource.h>
#include <unistd.h>

namespace arbel {
namespace {

using test::AviHeaderFields;
using test::chunkBaseOf;
using test::riffSpansTheFile;
using test::Bytes;
using test::le32;
using test::mediaChunk;
using test::text4;

class AviWriter : public test::AviEngineTest {};

TEST_F(AviWriter, LaysOutHeadersIndexesAndChunksByteForByte) {
    AviHeaderFields f;
    f.mainHeaderSize = 0x1234;  // a damaged size field: the written header says 56
    Bytes v1 = mediaChunk("00dc", 100, 0x5A);
    Bytes a1 = mediaChunk("01wb", 30, 0x41);
    Bytes v2 = mediaChunk("00dc", 51, 0x42);  // odd size: the index adds no padding
    Bytes damaged = test::aviHeader(f).append(v1).append(a1).append(v2).zeros(1);
    damaged.append(mediaChunk("00dc", 8)).text("idx1");
    ASSERT_FALSE(fs::exists(dir.file("results")));
    auto engine = repair(test::padTo(damaged, test::kRepairableSize));
    ASSERT_EQ(notes.completed(), 1u);
    EXPECT_EQ(notes.statusCount("Repairing the file..", 80.0), 1u);

    // V = 2, A = 1, Fv = 40, Fa = 18.
    Bytes expected;
    expected.text("RIFF").u32le(715).text("AVI ").text("LIST").u32le(398).text("hdrl");
    expected.text("avih").u32le(56).u32le(40000).u32le(1234567).u32le(0).u32le(0x910).u32le(2);
    expected.u32le(0).u32le(2).u32le(0x100000).u32le(320).u32le(240).u32le(0xA1).u32le(0xA2).u32le(0xA3).u32le(0xA4);
    expected.text("LIST").u32le(168).text("strl").text("strh").u32le(56).text("vids").text("MJPG").zeros(12);
    expected.u32le(1).u32le(25).u32le(0).u32le(2).u32le(0x00FFFFFF).u32le(0).u32le(0x5151).zeros(8);
    expected.text("strf").u32le(40).append(test::videoFormat(f));
    expected.text("indx").u32le(44).u16le(4).u8(0).u8(0).u32le(1).text("00db").zeros(12);
    expected.u32le(430).u32le(0).u32le(44).u32le(2).u32le(0);
    expected.text("LIST").u32le(146).text("strl").text("strh").u32le(56).text("auds").u32le(1).zeros(12);
    expected.u32le(4).u32le(176400).u32le(0).u32le(1).u32le(0x00FFFFFF).u32le(0).u32le(0x6161).zeros(8);
    expected.text("strf").u32le(18).append(test::audioFormat(f));
    expected.text("indx").u32le(44).u16le(4).u8(0).u8(0).u32le(1).text("01wb").zeros(12);
    expected.u32le(478).u32le(0).u32le(36).u32le(1).u32le(0);
    expected.text("LIST").u32le(297).text("movi");
    expected.text("ix00").u32le(40).u16le(2).u8(0).u8(1).u32le(2).text("00dc").u32le(518).u32le(0).u32le(0);
    expected.u32le(8).u32le(100).u32le(116).u32le(51);
    expected.text("ix01").u32le(32).u16le(2).u8(0).u8(1).u32le(1).text("01wb").u32le(685).u32le(0).u32le(0);
    expected.u32le(8).u32le(30);
    expected.append(v1).append(v2).append(a1);

    const std::vector<uint8_t> out = result();
    EXPECT_EQ(out, expected.vec());
    // The landmarks of the layout, stated on their own.
    ASSERT_GE(out.size(), 723u);
    EXPECT_EQ(le32(out, 16), 398u);
    EXPECT_EQ(text4(out, 430), "ix00");
    EXPECT_EQ(chunkBaseOf(out, "ix00"), 446u + 40u + 32u);
    EXPECT_EQ(text4(out, chunkBaseOf(out, "ix00")), "00dc");
    EXPECT_EQ(text4(out, chunkBaseOf(out, "ix01")), "01wb");
    EXPECT_TRUE(riffSpansTheFile(out));
    EXPECT_EQ(engine->bytesCopied, 108u + 59u + 38u);
}

TEST_F(AviWriter, WithoutVideoChunksTheFileIsStillWrittenWithEmptyVideoIndex) {
    Bytes damaged = test::aviHeader().append(mediaChunk("01wb", 30)).append(mediaChunk("01wb", 30)).text("idx1");
    auto engine = repair(test::padTo(damaged, test::kRepairableSize));
    ASSERT_EQ(notes.completed(), 1u);
    const std::vector<uint8_t> out = result();
    ASSERT_TRUE(riffSpansTheFile(out));
    EXPECT_EQ(le32(out, 48), 0u);   // total frames
    EXPECT_EQ(le32(out, 140), 0u);  // video length
    EXPECT_EQ(text4(out, 430), "ix00");
    EXPECT_EQ(le32(out, 434), 24u);
    EXPECT_EQ(le32(out, 442), 0u);  // entries in use
    EXPECT_EQ(text4(out, 430 + 32), "ix01");
    EXPECT_EQ(le32(out, 430 + 32 + 12), 1u);
}

TEST_F(AviWriter, TheVideoIndexNamesUncompressedChunksWhenTheFirstCodeWasOfThem) {
    // A stray "00db" chunk before the header makes the validity check set db.
    Bytes damaged = mediaChunk("00db", 16).append(test::aviHeader());
    damaged.append(mediaChunk("00db", 40)).append(mediaChunk("01wb", 20)).append(mediaChunk("00db", 8)).text("idx1");
    auto engine = repair(test::padTo(damaged, test::kRepairableSize));
    ASSERT_TRUE(engine->db);
    ASSERT_EQ(notes.completed(), 1u);
    const std::vector<uint8_t> out = result();
    EXPECT_EQ(text4(out, 228), "00db");       // super index: always "00db"
    EXPECT_EQ(text4(out, 388 + 58), "00db");  // standard index follows db
    EXPECT_EQ(engine->videosamplecount, 1u);  // the stray chunk is followed by "RIFF": not kept
}

TEST_F(AviWriter, AStreamFormatReadShortIsWrittenAtItsCountedSizeWithZeros) {
    AviHeaderFields f;
    f.audioFormatSize = 24;
    f.audioFormatBytes = Bytes().u16le(1).u16le(2).u32le(44100).u32le(176400).u16le(4).u16le(16).text("abcdwxyz").vec();
    Bytes damaged = test::aviHeader(f);
    const std::string path = choose(test::padTo(damaged, test::kRepairableSize));
    auto engine = makeEngine();
    ASSERT_TRUE(engine->fileValidityCheck());
    // The recording shrank after it was chosen: it now ends 20 bytes into the audio format.
    ASSERT_EQ(::truncate(path.c_str(), 296 + 20), 0);

    engine->retrieveAudioVideoSamples();
    ASSERT_EQ(notes.completed(), 1u);
    const std::vector<uint8_t> out = result();
    ASSERT_TRUE(riffSpansTheFile(out));
    EXPECT_EQ(le32(out, 16), 340u + 40u + 24u);
    std::vector<uint8_t> format(f.audioFormatBytes.begin(), f.audioFormatBytes.begin() + 20);
    format.resize(24, 0);
    EXPECT_EQ(std::vector<uint8_t>(out.begin() + 348, out.begin() + 372), format);
    EXPECT_EQ(text4(out, 372), "indx");
}

TEST_F(AviWriter, AChunkCutShortAfterTheScanIsZeroPaddedToItsIndexedSize) {
    Bytes damaged = test::aviHeader().append(mediaChunk("00dc", 100)).append(mediaChunk("01wb", 3000, 0x41));
    const size_t audioAt = damaged.size() - 3008;
    damaged.append(mediaChunk("00dc", 8)).text("idx1");
    const std::string path = choose(test::padTo(damaged, test::kRepairableSize));
    // The writer starts: the file loses everything from 1,000 bytes into the audio data.
    notes.onPost([&](const NotifDict& d) {
        if (notifNumber(d, "progress") == 80.0) {
            ASSERT_EQ(::truncate(path.c_str(), static_cast<off_t>(audioAt + 1008)), 0);
        }
    });
    auto engine = makeEngine();
    ASSERT_TRUE(engine->fileValidityCheck());
    engine->retrieveAudioVideoSamples();

    ASSERT_EQ(notes.completed(), 1u);
    const std::vector<uint8_t> out = result();
    ASSERT_TRUE(riffSpansTheFile(out));
    const size_t audio = chunkBaseOf(out, "ix01");
    EXPECT_EQ(le32(out, audio + 4), 3000u);
    EXPECT_EQ(std::vector<uint8_t>(out.begin() + audio + 8, out.begin() + audio + 1008), std::vector<uint8_t>(1000, 0x41));
    EXPECT_EQ(std::vector<uint8_t>(out.begin() + audio + 1008, out.end()), std::vector<uint8_t>(2000, 0));
}

TEST_F(AviWriter, AResultOfFourGibibytesIsPlannedAsRiffListsOfOneGibibyteInTheRecordingsOrder) {
    // Candidates may overlap, so 10 MB of damaged file can describe 4.4 GB of
    // chunks: 440 headers 16 bytes apart, each of 9,999,000 bytes, each
    // followed by a "JUNK" header just past its data. Planned, not written.
    const uint32_t size = 9999000;
    const size_t count = 440;
    Bytes damaged = test::aviHeader();
    const size_t first = damaged.size();
    for (size_t k = 0; k < count; ++k) damaged.text("00dc").u32le(size).fill(8, 0x5A);
    test::padTo(damaged, first + 8 + size);
    for (size_t k = 0; k < count; ++k) damaged.text("JUNK").fill(12, 0x22);
    choose(damaged);
    auto engine = makeEngine();
    ASSERT_TRUE(engine->fileValidityCheck());
    engine->readStreamHeaders();
    engine->scanForChunks();
    ASSERT_EQ(engine->videosamplecount, count);

    const auto parts = engine->planRiffParts();
    ASSERT_EQ(parts.size(), 5u);  // 107 chunks of 10 MB fit 1 GiB
    uint64_t next = 1;
    for (const auto& part : parts) {
        EXPECT_EQ(part.videoBegin, next);
        EXPECT_LE((part.videoEnd - part.videoBegin) * (size + 16), RepairFileAvi::kExtendedListBytes);
        next = part.videoEnd;
    }
    EXPECT_EQ(next, count + 1);
    EXPECT_EQ(parts[0].videoEnd - parts[0].videoBegin, 107u);
}

// Small limits split a small recording the way a large one is split.
class AviWriterSplit : public AviWriter {
protected:
    struct Written {
        test::RiffReadBack back;
        std::vector<std::pair<bool, std::vector<uint8_t>>> chunks;  // in index order, data only
        std::vector<uint8_t> bytes;
    };

    Written repairSplit(const Bytes& damaged, uint64_t listBytes) {
        notes.clear();
        std::remove(resultPath().c_str());
        choose(test::padTo(const_cast<Bytes&>(damaged), test::kRepairableSize));
        auto engine = makeEngine();
        engine->singleListLimit = 0;
        engine->extendedListBytes = listBytes;
        engine->fileValidityCheck();
        engine->retrieveAudioVideoSamples();
        Written w;
        w.bytes = result();
        w.back = test::readRiffBack(resultPath(), [&](bool video, uint64_t at, uint32_t size) {
            w.chunks.emplace_back(video, std::vector<uint8_t>(w.bytes.begin() + static_cast<std::ptrdiff_t>(at),
                                                              w.bytes.begin() + static_cast<std::ptrdiff_t>(at + size)));
        });
        return w;
    }
};

TEST_F(AviWriterSplit, EveryChunkIsReachedOnceThroughTheSuperAndStandardIndexesOfEachList) {
    // Video and audio interleaved as recorded; fill bytes tell the chunks apart.
    Bytes damaged = test::aviHeader();
    std::vector<std::pair<bool, uint8_t>> recorded;
    for (uint8_t k = 1; k <= 12; ++k) {
        damaged.append(mediaChunk("00dc", 100u + k, k));
        recorded.emplace_back(true, k);
        if (k % 2 == 0) {
            damaged.append(mediaChunk("01wb", 40, static_cast<uint8_t>(0x80 + k)));
            recorded.emplace_back(false, static_cast<uint8_t>(0x80 + k));
        }
    }
    damaged.append(mediaChunk("00dc", 8)).text("idx1");
    struct Case {
        uint64_t listBytes;
        size_t lists;
    };
    // 300 bytes: two or three chunks a list; one byte: every chunk a list of its own.
    for (const Case c : {Case{300, 8}, Case{1, 18}, Case{100000, 1}}) {
        SCOPED_TRACE(c.listBytes);
        const Written w = repairSplit(damaged, c.listBytes);
        ASSERT_EQ(notes.completed(), 1u);
        EXPECT_TRUE(w.back.consistent()) << w.back.errors.front();
        ASSERT_EQ(w.back.listTypes.size(), c.lists);
        for (size_t k = 1; k < w.back.listTypes.size(); ++k) EXPECT_EQ(w.back.listTypes[k], "AVIX");
        EXPECT_EQ(w.back.videoStandardIndexes, c.lists);
        EXPECT_EQ(w.back.audioStandardIndexes, c.lists);
        EXPECT_EQ(w.back.videoLength, 12u);
        EXPECT_EQ(w.back.audioLength, 6u);
        // Video first within each list, then its audio; every chunk once, whole.
        std::vector<std::pair<bool, uint8_t>> video, audio, seenVideo, seenAudio;
        for (const auto& r : recorded) (r.first ? video : audio).push_back(r);
        for (const auto& [isVideo, data] : w.chunks) {
            ASSERT_FALSE(data.empty());
            EXPECT_EQ(data, std::vector<uint8_t>(data.size(), data[0]));
            (isVideo ? seenVideo : seenAudio).emplace_back(isVideo, data[0]);
        }
        EXPECT_EQ(seenVideo, video);
        EXPECT_EQ(seenAudio, audio);
    }
}

TEST_F(AviWriterSplit, TheFirstListCountsItsOwnFramesAndTheExtendedHeaderCountsThemAll) {
    Bytes damaged = test::aviHeader();
    for (int k = 0; k < 9; ++k) damaged.append(mediaChunk("00dc", 200)).append(mediaChunk("01wb", 50));
    damaged.append(mediaChunk("00dc", 8)).text("idx1");
    const Written split = repairSplit(damaged, 700);
    ASSERT_TRUE(split.back.consistent()) << split.back.errors.front();
    EXPECT_EQ(split.back.listTypes.size(), 5u);  // two pairs of 216 + 66 bytes a list
    EXPECT_EQ(split.back.avihFrames, 2u);
    EXPECT_EQ(split.back.extendedFrames, 9u);
    EXPECT_EQ(split.back.videoIndexed, 9u);
    EXPECT_EQ(split.back.audioIndexed, 9u);

    // Nothing changes for a result that fits one list: no extended header.
    const Written whole = repairSplit(damaged, 1 << 20);
    EXPECT_EQ(whole.back.listTypes.size(), 1u);
    EXPECT_EQ(whole.back.avihFrames, 9u);
    EXPECT_EQ(whole.back.extendedFrames, 0u);
    EXPECT_EQ(std::search(whole.bytes.begin(), whole.bytes.end(), std::begin("odml"), std::end("odml") - 1),
              whole.bytes.end());
}

// Stops at the n-th poll point once the writer has begun.
class StopWhileWriting : public RepairControl {
public:
    explicit StopWhileWriting(uint64_t n) : n_(n) {}
    bool poll() const override {
        if (writing && ++polls_ == n_) const_cast<StopWhileWriting*>(this)->requestStop();
        return RepairControl::poll();
    }
    std::atomic<bool> writing{false};

private:
    uint64_t n_;
    mutable std::atomic<uint64_t> polls_{0};
};

TEST_F(AviWriterSplit, AStopWhileAListIsWrittenLeavesNoFile) {
    Bytes damaged = test::aviHeader();
    for (int k = 0; k < 40; ++k) damaged.append(mediaChunk("00dc", 200)).append(mediaChunk("01wb", 50));
    damaged.append(mediaChunk("00dc", 8)).text("idx1");
    auto stopping = std::make_shared<StopWhileWriting>(10);  // a chunk of the third list
    notes.onPost([stopping](const NotifDict& d) {
        if (notifNumber(d, "progress") == 80.0) stopping->writing = true;
    });
    control = stopping;
    choose(test::padTo(damaged, test::kRepairableSize));
    auto engine = makeEngine();
    engine->singleListLimit = 0;
    engine->extendedListBytes = 600;
    ASSERT_TRUE(engine->fileValidityCheck());
    engine->retrieveAudioVideoSamples();
    EXPECT_TRUE(control->stopRequested());
    EXPECT_GT(engine->bytesCopied, 2u * 600u);
    EXPECT_EQ(notes.completed(), 0u);
    EXPECT_EQ(notes.refused(), 0u);
    EXPECT_FALSE(fs::exists(resultPath()));
}

TEST_F(AviWriter, AResultThatCannotBeCreatedIsRefused) {
    const std::string notAFolder = dir.write("plain", {1, 2, 3});
    Bytes damaged = test::aviHeader().append(mediaChunk("00dc", 100)).append(mediaChunk("01wb", 30)).text("idx1");
    choose(test::padTo(damaged, test::kRepairableSize));
    auto engine = makeEngine(notAFolder + "/result.avi");
    ASSERT_TRUE(engine->fileValidityCheck());
    engine->retrieveAudioVideoSamples();
    EXPECT_EQ(notes.refused(), 1u);
    EXPECT_EQ(notes.completed(), 0u);
    EXPECT_EQ(logCount("could not be created"), 1u);
}

// Lowers this process's file size limit; writes beyond it fail with EFBIG.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &saved_);
        previous_ = std::signal(SIGXFSZ, SIG_IGN);
        rlimit lower = saved_;
        lower.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &lower);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &saved_);
        std::signal(SIGXFSZ, previous_);
    }

private:
    rlimit saved_{};
    void (*previous_)(int) = nullptr;
};

TEST_F(AviWriter, AFailedWriteIsRefusedAndLeavesNoFileBehind) {
    Bytes damaged = test::aviHeader();
    for (int k = 0; k < 6; ++k) damaged.append(mediaChunk("00dc", 250000)).append(mediaChunk("01wb", 4000));
    damaged.text("idx1");
    choose(damaged);
    auto engine = makeEngine();
    ASSERT_TRUE(engine->fileValidityCheck());
    {
        FileSizeLimit limit(512 * 1024);
        engine->retrieveAudioVideoSamples();
    }
    EXPECT_EQ(engine->videosamplecount, 6u);
    EXPECT_EQ(notes.refused(), 1u);
    EXPECT_EQ(notes.completed(), 0u);
    EXPECT_FALSE(fs::exists(resultPath()));
    EXPECT_LT(engine->bytesCopied, 6u * 250008u);  // copying ended at the failure
    EXPECT_EQ(logCount("failed"), 1u);
}

}  // namespace
}  // namespace arbel

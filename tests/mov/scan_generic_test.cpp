// The generic scan "1" on crafted media data.
#include "scan_fixture.h"

#include <fcntl.h>
#include <unistd.h>

namespace arbel {
namespace {

using test::ExpectedResult;
using test::MediaDataBuilder;

class GenericScan : public test::ScanFixture {
protected:
    // A reference with uncompressed audio in chunks of `chunk` bytes, video
    // before audio in the reference (no leading-audio look-up).
    test::MovStages& prepareGeneric(const std::vector<uint8_t>& damaged, uint64_t chunk, bool wave) {
        test::MovStages& e = prepare(damaged);
        e.templates.sizeAudio = chunk;
        e.analysis.wave = wave ? 1 : 0;
        e.analysis.mp4aPresent = 0;
        e.templates.stco_Address_Video_first_chunk_sizetojump = 100;
        e.templates.stco_Address_Audio_sizetojump = 5000;
        return e;
    }

    void expectResult(const ExpectedResult& expected) { test::expectScanResult(*engine, result(), expected); }
};

TEST_F(GenericScan, PlainAudioTakesFrameRunsAndTheChunkAfterEachRun) {
    MediaDataBuilder m;
    m.fill(37, 0x00);
    const auto f1 = m.nal(3000, {0x25, 0x88}).last();
    const auto f2 = m.nal(2000, {0x21, 0x9A}).last();
    const auto a1 = m.audio(1000).last();
    const auto f3 = m.nal(2500, {0x25, 0x88}).last();
    const auto f4 = m.nal(1500, {0x01, 0x9E}).last();
    const auto a2 = m.audio(1000).last();
    const auto f5 = m.nal(1200, {0x65, 0x88}).last();
    const auto f6 = m.nal(800, {0x06, 0x05}).last();
    m.nal(700, {0x61, 0x9B});  // nothing behind it confirms this one

    prepareGeneric(m.data(), 1000, false);
    ASSERT_TRUE(scanVariants());
    EXPECT_EQ(engine->report.scanMarker, "1");

    ExpectedResult expected(m.data(), 8);
    expected.video(f1).video(f2).audio(a1).video(f3).video(f4).audio(a2).video(f5).video(f6);
    expectResult(expected);
}

// Plain audio: which units a layout keeps. In a layout, "f" is a frame, "a"
// an audio chunk of sizeAudio bytes and "j" 500 bytes that are neither; a
// kept unit is written in capitals. Every layout ends in a frame that
// nothing confirms.
TEST_F(GenericScan, PlainAudioKeepsFramesConfirmedAheadOrTwiceWithTheirChunks) {
    struct Case {
        const char* name;
        const char* layout;
        const char* kept;
    };
    const Case cases[] = {
        // A frame, one chunk, a frame: confirmed twice, taken with its chunk,
        // and the pair keeps the run going for the frame after it.
        {"a chunk after single frames inside a run", "ffafafaff", "FFAFAFAFF"},
        {"a chunk after every frame from the first byte", "fafafaf", "FAFAFAF"},
        // Followed by something that is not one chunk and a frame, a frame
        // is believed only inside a run of video.
        {"a doubtful frame first", "fjff", "fjFF"},
        {"a doubtful frame after a chunk", "ffafjff", "FFAfjFF"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        MediaDataBuilder m;
        std::vector<std::pair<char, MediaDataBuilder::Unit>> units;
        for (const char* k = c.layout; *k; ++k) {
            const uint32_t n = static_cast<uint32_t>(units.size());
            if (*k == 'f') m.nal(1200 + 37 * n, {n % 2 ? uint8_t{0x25} : uint8_t{0x21}, n % 2 ? uint8_t{0x88} : uint8_t{0x9A}});
            else if (*k == 'a') m.audio(1000);
            else m.fill(500, 0x11);
            units.emplace_back(*k, m.last());
        }
        m.nal(700, {0x61, 0x9B});

        prepareGeneric(m.data(), 1000, false);
        ASSERT_TRUE(scanVariants());
        ExpectedResult expected(m.data(), 8);
        for (size_t i = 0; i < units.size(); ++i) {
            if (c.kept[i] == 'F') expected.video(units[i].second);
            if (c.kept[i] == 'A') expected.audio(units[i].second);
        }
        expectResult(expected);
    }
}

TEST_F(GenericScan, PlainAudioChunkThatLooksLikeAFrameIsTakenAsAudio) {
    MediaDataBuilder m;
    const auto f1 = m.nal(3000, {0x25, 0x88}).last();
    const auto f2 = m.nal(2000, {0x21, 0x9A}).last();
    // Its first bytes read as a 16-byte unit 21 9A; a frame follows sizeAudio on.
    const auto a = m.audio(1000, {0x00, 0x00, 0x00, 0x10, 0x21, 0x9A}).last();
    const auto f3 = m.nal(2000, {0x25, 0x88}).last();
    const auto f4 = m.nal(2000, {0x01, 0x9E}).last();
    m.nal(500, {0x25, 0x88});

    prepareGeneric(m.data(), 1000, false);
    ASSERT_TRUE(scanVariants());
    ExpectedResult expected(m.data(), 8);
    expected.video(f1).video(f2).audio(a).video(f3).video(f4);
    expectResult(expected);
}

TEST_F(GenericScan, FrameLengthLimitIsInclusive) {
    {
        MediaDataBuilder m;
        const auto big = m.nal(2'500'000, {0x25, 0x88}).last();
        const auto f2 = m.nal(100, {0x25, 0x88}).last();
        m.nal(100, {0x25, 0x88});
        prepareGeneric(m.data(), 1000, false);
        ASSERT_TRUE(scanVariants());
        ExpectedResult expected(m.data(), 8);
        expected.video(big).video(f2);
        expectResult(expected);
    }
    // Too long, or a length prefix of 0 (a header with nothing behind it): no frame.
    for (const uint32_t length : {2'500'001u, 0u}) {
        SCOPED_TRACE(length);
        MediaDataBuilder m;
        m.fill(3, 0x00).u32(length).fill(1, 0x25).fill(1, 0x88);
        const auto f2 = m.nal(100, {0x25, 0x88}).last();
        m.nal(100, {0x25, 0x88});
        prepareGeneric(m.data(), 1000, false);
        ASSERT_TRUE(scanVariants());
        ExpectedResult expected(m.data(), 8);
        expected.video(f2);
        expectResult(expected);
    }
}

TEST_F(GenericScan, ConsecutiveFramesAreConfirmedByTheFrameBehindThem) {
    MediaDataBuilder m;
    m.fill(10, 0x77);
    const auto f1 = m.nal(4000, {0x65, 0x88}).last();
    const auto f2 = m.nal(3000, {0x21, 0x9B}).last();
    m.nal(3000, {0x25, 0x88});  // the last one: nothing behind it
    m.fill(600, 0x77);

    prepareGeneric(m.data(), 1000, false);
    ASSERT_TRUE(scanVariants());
    ExpectedResult expected(m.data(), 8);
    expected.video(f1).video(f2);
    expectResult(expected);
    EXPECT_EQ(engine->tables.bVideo, 1);
}

// The damaged file's own media-data header stands right before its first
// audio chunk, and the reference stores audio before video.
class GenericLeadingAudio : public GenericScan {
protected:
    MediaDataBuilder layout(bool wideHeader) {
        MediaDataBuilder m;
        m.u32(24).text("ftyp").text("qt  ").u32(0).text("qt  ").u32(0);
        if (wideHeader) m.u32(1).text("mdat").u32(0).u32(0x10000);
        else m.mdatHeader(0x10000);
        lead = m.audio(1000).last();
        f1 = m.nal(3000, {0x25, 0x88}).last();
        f2 = m.nal(2000, {0x21, 0x9A}).last();
        m.nal(500, {0x25, 0x88});
        return m;
    }
    test::MovStages& prepareLeading(const std::vector<uint8_t>& damaged) {
        test::MovStages& e = prepareGeneric(damaged, 1000, false);
        e.templates.stco_Address_Audio_sizetojump = 40;
        e.templates.stco_Address_Video_first_chunk_sizetojump = 1040;
        return e;
    }
    MediaDataBuilder::Unit lead, f1, f2;
};

TEST_F(GenericLeadingAudio, HeaderAndFirstChunkComeFirstAtOffsetEight) {
    const MediaDataBuilder m = layout(false);
    prepareLeading(m.data());
    ASSERT_TRUE(scanVariants());
    ExpectedResult expected(m.data(), 8);
    expected.audio(lead).video(f1).video(f2);
    expectResult(expected);
    EXPECT_EQ(engine->tables.Audio_buffer_start.at(0), 8u);
    EXPECT_EQ(engine->tables.video_buffer_start.at(0), 1008u);
}

TEST_F(GenericLeadingAudio, SixteenBytesAreReservedForTheWideHeader) {
    const MediaDataBuilder m = layout(false);
    prepareLeading(m.data()).templates.its_A_morethen_4GB_FILE = 1;
    ASSERT_TRUE(scanVariants());
    EXPECT_EQ(engine->result.mediaHeaderSize, 16u);
    ExpectedResult expected(m.data(), 16);
    expected.audio(lead).video(f1).video(f2);
    expectResult(expected);
}

TEST_F(GenericLeadingAudio, DamagedFileWithWideHeaderIsRecognisedToo) {
    const MediaDataBuilder m = layout(true);
    prepareLeading(m.data());
    ASSERT_TRUE(scanVariants());
    ExpectedResult expected(m.data(), 8);
    expected.audio(lead).video(f1).video(f2);
    expectResult(expected);
}

TEST_F(GenericLeadingAudio, NotLookedForWhenTheReferenceStoresVideoFirst) {
    const MediaDataBuilder m = layout(false);
    test::MovStages& e = prepareLeading(m.data());
    e.templates.stco_Address_Audio_sizetojump = e.templates.stco_Address_Video_first_chunk_sizetojump + 1;
    ASSERT_TRUE(scanVariants());
    ExpectedResult expected(m.data(), 8);
    expected.video(f1).video(f2);
    expectResult(expected);
}

TEST_F(GenericLeadingAudio, WithoutHeaderTheResultStartsWithEightZerosAndTheFrame) {
    MediaDataBuilder m;
    m.audio(1000);  // no "mdat" before it
    const auto first = m.nal(3000, {0x25, 0x88}).last();
    const auto second = m.nal(2000, {0x21, 0x9A}).last();
    m.nal(500, {0x25, 0x88});
    prepareLeading(m.data());
    ASSERT_TRUE(scanVariants());

    const std::vector<uint8_t> out = result();
    ASSERT_GE(out.size(), 8u + first.length);
    EXPECT_EQ(std::vector<uint8_t>(out.begin(), out.begin() + 8), std::vector<uint8_t>(8, 0));
    EXPECT_EQ(engine->tables.video_buffer_start.at(0), 8u);
    ExpectedResult expected(m.data(), 8);
    expected.video(first).video(second);
    expectResult(expected);
}

TEST_F(GenericLeadingAudio, ImplausibleChunkSizeSkipsTheLookUp) {
    // The last size would point the look-up, wrapped around, at the "mdat"
    // text placed behind the frames.
    const uint64_t mdatText = layout(false).size() + 16;
    const uint64_t wrapped = f1.position - (mdatText + 4);
    for (uint64_t size : {uint64_t{1} << 40, UINT64_MAX - 3, uint64_t{1'000'000}, wrapped}) {
        SCOPED_TRACE(size);
        MediaDataBuilder m = layout(false);
        m.fill(16, 0x77).text("mdat").fill(64, 0x77);
        prepareLeading(m.data()).templates.sizeAudio = size;
        ASSERT_TRUE(scanVariants());
        ExpectedResult expected(m.data(), 8);
        expected.video(f1).video(f2);
        expectResult(expected);
    }
}

TEST_F(GenericScan, FrameStartsDependOnWhetherTheAudioIsWrapped) {
    struct Case {
        bool wave;
        std::initializer_list<uint8_t> header;
        bool start;
    };
    const Case cases[] = {
        {false, {0x01, 0x9E}, true},  {false, {0x01, 0x9F}, false}, {false, {0x06, 0x05}, true},
        {false, {0x06, 0x06}, false}, {false, {0xF9, 0xED, 0x32, 0x02}, true},
        {false, {0xF9, 0xED, 0x32, 0x03}, false}, {false, {0x21, 0x9A}, true}, {false, {0x21, 0x9B}, true},
        {false, {0x21, 0x9C}, false}, {false, {0x61, 0x9A}, true}, {false, {0x61, 0x9B}, true},
        {false, {0x61, 0x88}, false}, {false, {0x25, 0x88}, true}, {false, {0x65, 0x88}, true},
        {false, {0x65, 0xB8}, false}, {false, {0x09, 0x10}, false}, {false, {0x41, 0x9A}, false},
        {true, {0x01, 0x00}, true},   {true, {0x09, 0x10}, true},   {true, {0x06, 0x05}, true},
        {true, {0x06, 0x04}, false},  {true, {0x21, 0x00}, true},   {true, {0x25, 0x88}, true},
        {true, {0x25, 0xB8}, false},  {true, {0x41, 0x9A}, true},   {true, {0x41, 0x9B}, true},
        {true, {0x41, 0x01}, false},  {true, {0x65, 0x88}, true},   {true, {0x61, 0x9A}, false},
        {true, {0xF9, 0xED, 0x32, 0x02}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "wave " << c.wave << " header " << std::hex << int(*c.header.begin())
                                          << " " << int(*(c.header.begin() + 1)));
        MediaDataBuilder m;
        const auto candidate = m.nal(1000, c.header).last();
        m.nal(800, {0x25, 0x88});
        m.nal(800, {0x25, 0x88});
        prepareGeneric(m.data(), 1000, c.wave);
        ASSERT_TRUE(scanVariants());
        ASSERT_FALSE(engine->tables.video_buffer_size.empty());
        EXPECT_EQ(engine->tables.video_buffer_size.front() == candidate.length, c.start);
    }
}

TEST_F(GenericScan, WrappedAudioFollowsTheFrameUpToTheNextFrameHeader) {
    MediaDataBuilder m;
    const auto f1 = m.nal(3000, {0x65, 0x88}).last();
    const auto a = m.audio(1010).last();  // ten bytes longer than the reference's chunks
    const auto f2 = m.nal(2000, {0x41, 0x9A}).last();
    m.u32(2).bytes({0x0A, 0x0B});  // a 2-byte unit that is no frame start
    const auto f4 = m.nal(1500, {0x25, 0x88}).last();
    m.nal(900, {0x21, 0x00});

    prepareGeneric(m.data(), 1000, true);
    ASSERT_TRUE(scanVariants());
    ExpectedResult expected(m.data(), 8);
    expected.video(f1).audio(a).video(f2).video(f4);
    expectResult(expected);
}

TEST_F(GenericScan, WrappedAudioWithImplausibleChunkSizeTakesOnlyConfirmedFrames) {
    MediaDataBuilder m;
    m.nal(3000, {0x65, 0x88});
    m.audio(1000);
    const auto f2 = m.nal(2000, {0x41, 0x9A}).last();
    const auto f3 = m.nal(2000, {0x01, 0x00}).last();
    m.nal(900, {0x21, 0x00});

    prepareGeneric(m.data(), UINT64_MAX - 100, true);
    ASSERT_TRUE(scanVariants());
    ExpectedResult expected(m.data(), 8);
    expected.video(f2).video(f3);
    expectResult(expected);
}

TEST_F(GenericScan, FileOfTheExcludedSizeIsNotScanned) {
    MediaDataBuilder m;
    m.nal(3000, {0x25, 0x88});
    m.nal(3000, {0x25, 0x88});
    m.nal(3000, {0x25, 0x88});

    // The same bytes in a small file are scanned...
    prepareGeneric(m.data(), 1000, false);
    ASSERT_TRUE(scanVariants());
    EXPECT_EQ(engine->tables.sample_count(), 2u);

    // ...and not at all when the file is exactly 4,281,506,465 bytes long.
    const std::string path = dir.write("sparse.mov", m.data());
    const int fd = ::open(path.c_str(), O_RDWR);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, static_cast<off_t>(kUnscannedFileSize)), 0);
    ::close(fd);
    test::MovStages& e = prepareFile(path);
    ASSERT_EQ(e.corruptFileSize, kUnscannedFileSize);
    e.templates.sizeAudio = 1000;
    e.templates.stco_Address_Video_first_chunk_sizetojump = 100;
    e.templates.stco_Address_Audio_sizetojump = 5000;
    ASSERT_TRUE(scanVariants());
    EXPECT_EQ(e.report.scanMarker, "1");
    EXPECT_EQ(e.tables.sample_count(), 0u);
    EXPECT_EQ(e.tables.Avc_audioCount(), 0u);
    EXPECT_TRUE(result().empty());
}

TEST_F(GenericScan, TablesGrowPastTheOldLimitOfEntries) {
    constexpr size_t kFrames = 140'000;
    MediaDataBuilder m;
    for (size_t i = 0; i < kFrames; ++i) m.nal(2, {0x25, 0x88});

    prepareGeneric(m.data(), 1000, false);
    ASSERT_TRUE(scanVariants());
    // The last frame has nothing behind it.
    ASSERT_EQ(engine->tables.sample_count(), kFrames - 1);
    ASSERT_EQ(engine->tables.video_buffer_start.size(), kFrames - 1);
    EXPECT_EQ(engine->tables.video_buffer_start[131'072], 8u + 131'072u * 6u);
    EXPECT_EQ(engine->tables.video_buffer_size[kFrames - 2], 6u);
    EXPECT_EQ(engine->tables.Sum_video, (kFrames - 1) * 6u);
    EXPECT_EQ(result().size(), 8u + (kFrames - 1) * 6u);
}

TEST_F(GenericScan, LongRecordingAcrossManyWindows) {
    MediaDataBuilder m;
    std::vector<std::pair<bool, MediaDataBuilder::Unit>> taken;
    m.fill(1'500'003, 0x77);  // a damaged stretch longer than a window
    for (int chunk = 0; chunk < 40; ++chunk) {
        for (int f = 0; f < 3; ++f) {
            const uint32_t length = 20'011u + static_cast<uint32_t>((chunk * 7919 + f * 104'729) % 60'000);
            taken.push_back({true, m.nal(length, {0x25, 0x88}).last()});
        }
        taken.push_back({false, m.audio(4004).last()});
    }
    m.nal(100, {0x25, 0x88});

    prepareGeneric(m.data(), 4004, false);
    ASSERT_TRUE(scanVariants());
    ExpectedResult expected(m.data(), 8);
    for (const auto& [video, unit] : taken) {
        if (video) expected.video(unit);
        else expected.audio(unit);
    }
    expectResult(expected);
}

}  // namespace
}  // namespace arbel

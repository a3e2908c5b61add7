// The header pass: which pieces of the main and stream headers are kept,
// which files it refuses, and what it tells the window.
#include "avi_engine_fixture.h"

#include "platform/file_system.h"

#include <unistd.h>

namespace arbel {
namespace {

using test::AviHeaderFields;
using test::Bytes;

class AviHeaderPass : public test::AviEngineTest {
protected:
    // A repairable file: the header, two chunks, padding to 600 KiB.
    static Bytes file(const AviHeaderFields& fields = {}, size_t size = test::kRepairableSize) {
        Bytes b = test::aviHeader(fields);
        b.append(test::mediaChunk("00dc", 100)).append(test::mediaChunk("01wb", 40)).text("idx1");
        return test::padTo(b, size);
    }

    void expectRefused(const RepairFileAvi& engine) {
        EXPECT_EQ(notes.refused(), 1u);
        EXPECT_EQ(notes.completed(), 0u);
        EXPECT_EQ(notes.count("track", "2"), 0u);
        EXPECT_EQ(notes.statusCount("Locating audio / video data forks..", 50.0), 0u);
        EXPECT_FALSE(engine.streamHeadersUsable());
        EXPECT_FALSE(fs::exists(resultPath()));
    }
};

TEST_F(AviHeaderPass, KeepsThePiecesOfAnIntactHeaderAndEndsAtTheSectorThatCompletesThem) {
    auto engine = repair(file());

    EXPECT_TRUE(engine->avihscaleratedatafound);
    EXPECT_TRUE(engine->videocodecfound);
    EXPECT_TRUE(engine->audiocodecfound);
    EXPECT_TRUE(engine->videostrfcodecfound);
    EXPECT_TRUE(engine->audiostrfcodecfound);

    const std::vector<uint8_t> avih1 = Bytes().u32le(56).u32le(40000).u32le(1234567).u32le(0).u32le(0x910);
    EXPECT_EQ(std::vector<uint8_t>(engine->avihdata1.begin(), engine->avihdata1.end()), avih1);
    const std::vector<uint8_t> avih2 =
        Bytes().u32le(0).u32le(2).u32le(0x100000).u32le(320).u32le(240).u32le(0xA1).u32le(0xA2).u32le(0xA3).u32le(0xA4);
    EXPECT_EQ(std::vector<uint8_t>(engine->avihdata2.begin(), engine->avihdata2.end()), avih2);

    EXPECT_EQ(engine->videocodecstring, "MJPG");
    EXPECT_EQ(std::vector<uint8_t>(engine->videoscaleratedata.begin(), engine->videoscaleratedata.end()),
              Bytes().u32le(1).u32le(25).vec());
    EXPECT_EQ(test::le32({engine->videoscaledata.begin(), engine->videoscaledata.end()}, 0), 0x5151u);
    EXPECT_EQ(engine->videostrfsize, 40u);
    EXPECT_EQ(engine->videostrfdata, test::videoFormat({}));
    EXPECT_EQ(RepairFileAvi::codecText(engine->videostrfcodecdata), "MJPG");

    EXPECT_EQ(engine->AVIaudiocodecstring, "?");  // handler 1: not text
    EXPECT_EQ(std::vector<uint8_t>(engine->audioscaleratedata.begin(), engine->audioscaleratedata.end()),
              Bytes().u32le(4).u32le(176400).vec());
    EXPECT_EQ(test::le32({engine->audioscaledata.begin(), engine->audioscaledata.end()}, 0), 0x6161u);
    EXPECT_EQ(engine->audiostrfsize, 18u);
    EXPECT_EQ(engine->audiostrfdata, test::audioFormat({}));
    // Bytes 16 to 19 of an 18-byte wave format run into the next chunk's identifier.
    EXPECT_EQ(std::vector<uint8_t>(engine->audiostrfcodecdata.begin(), engine->audiostrfcodecdata.end()),
              (std::vector<uint8_t>{0, 0, 'L', 'I'}));

    EXPECT_EQ(notes.statusCount("Analyzing the file..", 10.0), 1u);
    EXPECT_EQ(notes.count("video", "MJPG"), 1u);
    EXPECT_EQ(notes.count("audio", "?"), 1u);
    EXPECT_EQ(notes.count("track", "2"), 1u);
    EXPECT_EQ(logCount("Break"), 1u);
    EXPECT_EQ(notes.completed(), 1u);
}

TEST_F(AviHeaderPass, HeadersFurtherInAreFoundSectorBySectorWithinFiftyKibibytes) {
    // The header starts 2.5 KiB in: the audio stream header lies in sector 3.
    Bytes late = Bytes().fill(2560, 0x11).append(file());
    auto engine = repair(test::padTo(late, test::kRepairableSize));
    EXPECT_EQ(notes.statusCount("Analyzing the file..", 10.0), 3u);
    EXPECT_EQ(notes.count("track", "2"), 1u);
    EXPECT_EQ(notes.completed(), 1u);

    // Beyond the first 50 KiB nothing is looked for.
    Bytes tooLate = Bytes().fill(50 * 1024, 0x11).append(file());
    engine = repair(tooLate);
    EXPECT_EQ(notes.statusCount("Analyzing the file..", 10.0), 50u);
    EXPECT_EQ(notes.refused(), 1u);
}

TEST_F(AviHeaderPass, ALaterStreamHeaderReplacesTheEarlierOne) {
    Bytes b = test::aviHeader();
    b.append(test::streamHeader("vids", "XVID", 1001, 30000, 0, 10)).text("strf").u32le(40);
    AviHeaderFields other;
    other.videoCompression = "DIVX";
    b.append(test::videoFormat(other));
    b.append(test::mediaChunk("00dc", 100)).append(test::mediaChunk("01wb", 40)).text("idx1");
    auto engine = repair(test::padTo(b, test::kRepairableSize));
    EXPECT_EQ(engine->videocodecstring, "XVID");
    EXPECT_EQ(RepairFileAvi::codecText(engine->videostrfcodecdata), "DIVX");
    EXPECT_EQ(test::le32({engine->videoscaleratedata.begin(), engine->videoscaleratedata.end()}, 4), 30000u);
    EXPECT_EQ(notes.count("video", "MJPG"), 1u);
    EXPECT_EQ(notes.count("video", "XVID"), 1u);
}

TEST_F(AviHeaderPass, RefusesAFileWithoutAnAudioStream) {
    AviHeaderFields f;
    f.withAudio = false;
    auto engine = repair(file(f));
    EXPECT_FALSE(engine->audiocodecfound);
    expectRefused(*engine);
}

TEST_F(AviHeaderPass, RefusesUncompressedVideoAndAZeroVideoHandler) {
    AviHeaderFields zeroCompression;
    zeroCompression.videoCompression = std::string(4, '\0');
    auto engine = repair(file(zeroCompression));
    EXPECT_FALSE(engine->videostrfcodecfound);
    expectRefused(*engine);

    AviHeaderFields zeroHandler;
    zeroHandler.videoHandler = std::string(4, '\0');
    engine = repair(file(zeroHandler));
    EXPECT_FALSE(engine->videocodecfound);
    EXPECT_EQ(notes.count("video", ""), 1u);  // still reported, as empty text
    expectRefused(*engine);
}

TEST_F(AviHeaderPass, RefusesAMissingMainHeaderOrOneWhoseSizeFieldStartsWithTwoZeroBytes) {
    Bytes noMain = file();
    std::vector<uint8_t> bytes = noMain.vec();
    std::copy_n("avxh", 4, bytes.begin() + 24);
    auto engine = repair(bytes);
    EXPECT_FALSE(engine->avihscaleratedatafound);
    expectRefused(*engine);

    AviHeaderFields f;
    f.mainHeaderSize = 0x00010000;
    engine = repair(file(f));
    EXPECT_FALSE(engine->avihscaleratedatafound);
    EXPECT_EQ(logCount("NOT FOUND"), 1u);
    expectRefused(*engine);
}

TEST_F(AviHeaderPass, RefusesAnAudioFormatWhoseBytesSixteenToNineteenAreZero) {
    AviHeaderFields f;
    f.audioFormatSize = 20;
    f.audioFormatBytes = Bytes().u16le(1).u16le(2).u32le(44100).u32le(176400).u16le(4).u16le(16).u32le(0).vec();
    auto engine = repair(file(f));
    EXPECT_FALSE(engine->audiostrfcodecfound);
    expectRefused(*engine);
}

TEST_F(AviHeaderPass, OnlyFilesLargerThan512KibibytesAreRepaired) {
    auto engine = repair(file({}, 524288));
    EXPECT_EQ(notes.count("track", "2"), 0u);
    expectRefused(*engine);

    engine = repair(file({}, 524289));
    EXPECT_EQ(notes.count("track", "2"), 1u);
    EXPECT_EQ(notes.completed(), 1u);
    EXPECT_EQ(notes.refused(), 0u);
}

TEST_F(AviHeaderPass, StreamFormatSizesAreBoundedBeforeAnythingIsRead) {
    AviHeaderFields largest;
    largest.audioFormatSize = 64 * 1024;
    auto engine = repair(file(largest));
    EXPECT_EQ(engine->audiostrfdata, test::audioFormat(largest));
    EXPECT_EQ(notes.completed(), 1u);

    AviHeaderFields audioTooLarge;
    audioTooLarge.audioFormatSize = 64 * 1024 + 1;
    engine = repair(file(audioTooLarge));
    EXPECT_TRUE(engine->audiostrfsizeoutofbounds);
    expectRefused(*engine);

    AviHeaderFields tooLarge;
    tooLarge.videoFormatSize = 64 * 1024 + 1;
    engine = repair(file(tooLarge));
    EXPECT_TRUE(engine->videostrfsizeoutofbounds);
    EXPECT_TRUE(engine->videostrfdata.empty());
    expectRefused(*engine);

    // A size field near 4 GiB: nothing is allocated or read.
    std::vector<uint8_t> huge = file().vec();
    const uint8_t sizeField[] = {0xF0, 0xFF, 0xFF, 0xFF};
    std::copy_n(sizeField, 4, huge.begin() + 292);  // the audio "strf" size
    engine = repair(huge);
    EXPECT_TRUE(engine->audiostrfsizeoutofbounds);
    EXPECT_TRUE(engine->audiostrfdata.empty());
    expectRefused(*engine);
}

TEST_F(AviHeaderPass, AStreamFormatReachingPastTheEndOfTheFileIsRefused) {
    // Only the header is there: the video format runs 8 bytes past the end.
    Bytes header = test::aviHeader();
    std::vector<uint8_t> bytes(header.vec().begin(), header.vec().begin() + 204);
    const std::string path = choose(bytes);
    auto engine = makeEngine();
    ASSERT_TRUE(engine->inputfilehandle.open(path));
    engine->readStreamHeaders();
    EXPECT_TRUE(engine->videostrfsizeoutofbounds);
    EXPECT_TRUE(engine->videostrfdata.empty());

    bytes = header.vec();
    choose(bytes);
    engine = makeEngine();
    ASSERT_TRUE(engine->inputfilehandle.open(path));
    engine->readStreamHeaders();
    EXPECT_FALSE(engine->videostrfsizeoutofbounds);
    EXPECT_EQ(engine->videostrfdata.size(), 40u);
}

TEST_F(AviHeaderPass, APieceCutShortByTheEndOfTheFileIsZeroFilled) {
    const std::string path = choose(file());
    auto engine = makeEngine();
    ASSERT_TRUE(engine->inputfilehandle.open(path));
    engine->readStreamHeaders();
    ASSERT_EQ(test::le32({engine->avihdata2.begin(), engine->avihdata2.end()}, 12), 320u);  // width

    // Read again after the file lost everything past the streams field.
    ASSERT_EQ(::truncate(path.c_str(), 60), 0);
    ASSERT_TRUE(engine->inputfilehandle.open(path));
    engine->readStreamHeaders();
    std::vector<uint8_t> expected(36, 0);
    expected[4] = 2;  // streams
    EXPECT_EQ(std::vector<uint8_t>(engine->avihdata2.begin(), engine->avihdata2.end()), expected);
}

TEST(AviCodecText, EndsAtAZeroByteAndKeepsOnlyPrintableText) {
    EXPECT_EQ(RepairFileAvi::codecText({'M', 'J', 'P', 'G'}), "MJPG");
    EXPECT_EQ(RepairFileAvi::codecText({'M', 'J', 0, 'G'}), "MJ");
    EXPECT_EQ(RepairFileAvi::codecText({0, 0, 0, 0}), "");
    EXPECT_EQ(RepairFileAvi::codecText({0xFF, 'a', 0x0A, 'c'}), "?a?c");
}

}  // namespace
}  // namespace arbel

namespace arbel {
namespace {

// The report names the common wave format tags; the stored format chunk
// keeps its bytes.
TEST_F(AviHeaderPass, ReportNamesTheAudioFormatTagAndKeepsItsBytes) {
    const struct {
        uint16_t tag;
        const char* codec;
        const char* format;
    } cases[] = {
        {0x0001, "PCM", "0x0001"},    {0x0002, "ADPCM", "0x0002"}, {0x0003, "IEEE float", "0x0003"},
        {0x0006, "A-law", "0x0006"},  {0x0007, "\xC2\xB5-law", "0x0007"}, {0x0011, "ADPCM", "0x0011"},
        {0x0055, "MP3", "0x0055"},    {0x00FF, "AAC", "0x00ff"},   {0x1610, "AAC", "0x1610"},
        {0x2000, "AC-3", "0x2000"},   {0x706D, "AAC", "0x706d"},
        // Without a common name the handler code stays ("?": not text).
        {0x0161, "?", "0x0161"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.format);
        AviHeaderFields f;
        f.audioFormatBytes = Bytes().u16le(c.tag).u16le(2).u32le(48000).u32le(192000).u16le(4).u16le(16).u16le(0).vec();
        choose(file(f));
        auto engine = makeEngine();
        ASSERT_TRUE(engine->fileValidityCheck());
        const RepairReport report = engine->retrieveAudioVideoSamples();
        EXPECT_EQ(report.audio.codec, c.codec);
        EXPECT_EQ(report.audio.format, c.format);
        EXPECT_EQ(engine->audiostrfdata, f.audioFormatBytes);
        EXPECT_EQ(engine->AVIaudiocodecstring, "?");
    }
}

}  // namespace
}  // namespace arbel

// The Nikon Motion-JPEG rows on crafted media data: frames from one start
// of image to the next within each camera's search, sound between runs.
#include "scan_fixture.h"

#include <string>
#include <vector>

namespace arbel {
namespace {

using test::ExpectedResult;
using test::MediaDataBuilder;
using Unit = MediaDataBuilder::Unit;

class JpegRunScan : public test::ScanFixture {
protected:
    test::MovStages& prepareRow(const std::vector<uint8_t>& damaged, bool CameraFlags::*flag, uint64_t sizeAudio) {
        test::MovStages& e = prepare(damaged);
        e.analysis.flags.*flag = true;
        e.templates.sizeAudio = sizeAudio;
        e.templates.stco_Address_Video_first_chunk_sizetojump = 100;
        e.templates.stco_Address_Audio_sizetojump = 5000;
        return e;
    }
    // A JPEG frame of n bytes followed by `pad` zero bytes, as one unit.
    static Unit frame(MediaDataBuilder& m, size_t n, size_t pad = 0) {
        const uint64_t at = m.size();
        m.jpeg(n).fill(pad, 0x00);
        return {at, n + pad};
    }
};

// P1 layout: a zero byte ends each frame; where sound stands before the
// next start, the frame is kept to its end of image and the chunk taken.
// A frame of 64,999 bytes (with its pad) is the longest the search finds.
TEST_F(JpegRunScan, CoolpixP1TellsFramesFromSoundByTheByteBeforeTheNextStart) {
    constexpr uint64_t kChunk = 700;
    MediaDataBuilder m;
    m.fill(16, 0x77);
    const auto f1 = frame(m, 3000, 1);
    const auto f2 = frame(m, 2500, 1);
    const auto f3 = frame(m, 2000);
    const auto a1 = m.audio(kChunk).last();
    const auto f4 = frame(m, 64'998, 1);  // 64,999 bytes up to the next start
    frame(m, 64'999, 1);                  // 65,000: the next start lies beyond the search
    const auto f6 = frame(m, 1000, 1);
    frame(m, 900, 1);  // nothing follows it
    m.fill(64, 0x77);

    prepareRow(m.data(), &CameraFlags::bNikonTag184Lower, kChunk);
    scanAs("26/11/19---g_b_Nikon_coolpix_P1");
    ExpectedResult expected(m.data(), 8);
    expected.video(f1).video(f2).video(f3).audio(a1).video(f4).video(f6);
    test::expectScanResult(*engine, result(), expected);
}

struct PendingRow {
    const char* marker;
    bool CameraFlags::*flag;
    size_t longest;       // the longest frame whose next start the search finds
    bool lookBehind;      // a start after FF does not count
};

const PendingRow kPendingRows[] = {
    {"26/11/19---g_b_Nikon_coolpix_SQ", &CameraFlags::bNikonTag186, 24'998, true},
    {"26/11/19---g_b_Nikon_L5", &CameraFlags::bNikonTag184, 48'498, false},
};

class PendingSoundScan : public JpegRunScan, public ::testing::WithParamInterface<PendingRow> {};

// Frames back to back; the last of a run has no start within the search, so
// it ends at its end of image and the chunk before the next start is sound.
// A frame one byte longer than the search reaches is not taken, nor the
// chunk behind it: what lies between it and the last frame taken cannot be
// told from damage. Sound behind the last frame of the data is taken when
// the data hold it whole.
TEST_P(PendingSoundScan, FramesUpToTheNextStartAndTheChunkAfterARun) {
    const PendingRow& row = GetParam();
    const uint64_t chunk = row.longest + 5000;  // longer than any search
    MediaDataBuilder m;
    m.fill(16, 0x77);
    const auto f1 = frame(m, 3000);
    const auto f2 = frame(m, row.longest);
    const auto f3 = frame(m, 2000);  // the last of its run
    const auto a1 = m.audio(chunk).last();
    const auto f4 = frame(m, 2500);
    frame(m, row.longest + 1);  // too long for the search, and so is its end of image
    m.audio(chunk);
    const auto f6 = frame(m, 1800);
    m.fill(1, 0xFF);
    const auto f7 = frame(m, 1500);  // after an FF byte
    const auto f8 = frame(m, 1400);
    const auto a3 = m.audio(chunk).last();

    prepareRow(m.data(), row.flag, chunk);
    scanAs(row.marker);
    ExpectedResult expected(m.data(), 8);
    expected.video(f1).video(f2).video(f3).audio(a1).video(f4);
    // The frame before the FF ends there; with the look-behind the frame
    // behind it starts nothing.
    expected.video({f6.position, f6.length + 1});
    if (!row.lookBehind) expected.video(f7);
    expected.video(f8).audio(a3);
    test::expectScanResult(*engine, result(), expected);
}

INSTANTIATE_TEST_SUITE_P(Rows, PendingSoundScan, ::testing::ValuesIn(kPendingRows),
                         [](const ::testing::TestParamInfo<PendingRow>& param) {
                             return param.param.lookBehind ? std::string("CoolpixSq") : std::string("NikonL5");
                         });

}  // namespace
}  // namespace arbel

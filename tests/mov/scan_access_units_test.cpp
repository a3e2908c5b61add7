// The camera rows whose frames are whole H.264 access units: behind a
// delimiter (GoPro, Sony, Panasonic, DJI Osmo, "18") or from the Canon
// EOS-1D X Mark II's first slice. Crafted streams with real parameter sets
// and slice headers, the reference's avcC in its sample description.
#include "scan_fixture.h"
#include "support/nal_builder.h"

#include <string>
#include <vector>

namespace arbel {
namespace {

using test::ExpectedResult;
using test::H264Slice;
using test::MediaDataBuilder;
using F = CameraFlags;
using Bytes = std::vector<uint8_t>;

Bytes delimiter(uint8_t type) { return {0x09, type}; }
Bytes idrSlice(uint32_t firstMb, uint32_t seed) {
    return test::h264SliceNal(H264Slice{0x65, firstMb, 7, 0, 0, 300, seed});
}
Bytes pSlice(uint32_t frame, uint32_t seed) {
    return test::h264SliceNal(H264Slice{0x41, 0, 5, frame, 2 * frame, 300, seed});
}
// A slice NAL unit of exactly `length` bytes.
Bytes sliceOfLength(H264Slice s, size_t length) {
    s.filler = 0;
    s.filler = length - test::h264SliceNal(s).size();
    return test::h264SliceNal(s);
}

// "stbl", then the avcC record (all the scan looks for in the sample
// description).
Bytes sampleDescription() {
    const Bytes avcC = test::avcConfiguration();
    Bytes d{'s', 't', 'b', 'l'};
    const uint32_t size = static_cast<uint32_t>(avcC.size() + 8);
    for (int shift = 24; shift >= 0; shift -= 8) d.push_back(static_cast<uint8_t>(size >> shift));
    d.insert(d.end(), {'a', 'v', 'c', 'C'});
    d.insert(d.end(), avcC.begin(), avcC.end());
    return d;
}

class AccessUnitScan : public test::LoggingScanFixture {
protected:
    test::MovStages& prepareRow(const Bytes& damaged, const std::vector<bool CameraFlags::*>& flags, uint64_t sizeAudio,
                                bool parameterSets = true) {
        test::MovStages& e = prepare(damaged);
        e.analysis.bIsStopMotionFile = 1;  // keeps the generic scan out
        for (auto flag : flags) e.analysis.flags.*flag = true;
        e.templates.sizeAudio = sizeAudio;
        e.templates.stco_Address_Video_first_chunk_sizetojump = 100;
        e.templates.stco_Address_Audio_sizetojump = 5000;
        if (parameterSets) e.templates.videoSampleDescription = sampleDescription();
        return e;
    }
};

// --- the delimited rows
// ------------------------------------------------------------

struct DelimitedRow {
    const char* name;
    const char* marker;
    std::vector<bool CameraFlags::*> flags;
    uint8_t accepted;  // a delimiter type the row takes besides 10
    uint8_t refused;   // one it does not (0: it takes every type)
    bool sound;        // PCM chunks between frames, or video only
    std::vector<std::string> log;
};

const char* const kGoProNotRun = "The end test 00 ?? 02/03 of this camera is not run: it could take units twice";
const char* const kGH4NotRun =
    "The second pass for 09 10 ... 0D 06 of this camera is not run: it could take units twice";

const DelimitedRow kDelimitedRows[] = {
    {"GoPro", "17", {&F::bHero130}, 0x30, 0x50, true, {"17", kGoProNotRun}},
    {"VideoOnly", "18", {&F::bSignature64}, 0x50, 0x70, false, {"18", "Exiting...."}},
    {"Sig9B2D", "17....78787878", {&F::bAudioSig01_9B2D}, 0x30, 0x50, true, {"17....78787878"}},
    {"GH4", "", {&F::bGH4}, 0x70, 0, true, {kGH4NotRun}},
    {"GH5", "14/08/19", {&F::bGH5}, 0x10, 0x30, true, {"14/08/19"}},
    {"Hero3", "g_b_GoProHero3", {&F::bH3B}, 0x30, 0x50, true, {"g_b_GoProHero3"}},
    {"Sony", "21/08/19", {&F::bSonyA6500}, 0x70, 0, true, {"21/08/19"}},
    {"CX405", "22/08/19---g_b_SonyHDRCX405", {&F::bAudioFirst20_6C}, 0x30, 0x50, true, {"22/08/19---g_b_SonyHDRCX405"}},
    {"Osmo", "10/10/19---g_b_dji osmo", {&F::bAudioSig0198DA}, 0x30, 0x50, true, {"10/10/19---g_b_dji osmo"}},
};

class DelimitedRowScan : public AccessUnitScan, public ::testing::WithParamInterface<DelimitedRow> {};

// A frame of two slices after the parameter sets, one with an SEI, one
// ended by a delimiter of a type the camera does not write, one that nothing
// known follows (a unit with a broken header: its own body may be damage),
// one cut by the end of the data. Sound after the last frame of a run is a
// chunk of its own, never the frame's tail.
TEST_P(DelimitedRowScan, TakesWholeAccessUnitsAndTheSoundBehindThem) {
    const DelimitedRow& row = GetParam();
    constexpr uint64_t kChunk = 300;
    MediaDataBuilder m;
    m.fill(16, 0x77);
    const auto f1 = m.unit(test::lengthPrefixed(
                               {delimiter(0x10), test::h264Sps(), test::h264Pps(), idrSlice(0, 1), idrSlice(150, 2)}))
                        .last();
    const auto f2 =
        m.unit(test::lengthPrefixed({delimiter(row.accepted), test::h264Nal(0x06, 8), pSlice(1, 3)})).last();
    const auto a1 = m.audio(kChunk).last();
    const auto f3 = m.unit(test::lengthPrefixed({delimiter(0x10), pSlice(2, 4)})).last();
    if (row.refused != 0) m.unit(test::lengthPrefixed({delimiter(row.refused), pSlice(3, 5)}));
    const auto f4 = m.unit(test::lengthPrefixed({delimiter(0x10), pSlice(4, 6)})).last();
    m.unit(test::lengthPrefixed({Bytes{0xC1, 0x9A, 0x33, 0x44}}));  // forbidden bit: no NAL unit
    m.fill(40, 0x77);
    Bytes cut = test::lengthPrefixed({delimiter(0x10), pSlice(5, 7)});
    cut.resize(cut.size() - 10);
    m.unit(cut);

    prepareRow(m.data(), row.flags, kChunk);
    scanAs(row.marker);
    ExpectedResult expected(m.data(), 8);
    expected.video(f1).video(f2);
    if (row.sound) expected.audio(a1);
    expected.video(f3);
    if (!row.sound) expected.video(f4);  // a row that reads no sound cannot tell it from damage
    test::expectScanResult(*engine, result(), expected);
    EXPECT_EQ(logLines, row.log);
}

INSTANTIATE_TEST_SUITE_P(Rows, DelimitedRowScan, ::testing::ValuesIn(kDelimitedRows),
                         [](const ::testing::TestParamInfo<DelimitedRow>& p) { return std::string(p.param.name); });

// --- the longest access unit a row takes
// --------------------------------------------

struct LimitCase {
    const char* name;
    const char* marker;
    std::vector<bool CameraFlags::*> flags;
    uint64_t limit;
    bool canonStart;  // frames open with the 1D X Mark II's slice, not a delimiter
};

// A frame of exactly `total` bytes.
Bytes frameOf(uint64_t total, bool canonStart, uint32_t seed) {
    if (canonStart) {
        // Its first slice's length prefix reads 00 05 00 00; a second slice fills
        // up.
        const size_t first = 0x50000;
        return test::lengthPrefixed({sliceOfLength(H264Slice{0x25, 0, 7, 0, 0, 0, seed}, first),
                                     sliceOfLength(H264Slice{0x25, 150, 7, 0, 0, 0, seed + 1}, total - first - 8)});
    }
    return test::lengthPrefixed({delimiter(0x10), sliceOfLength(H264Slice{0x65, 0, 7, 0, 0, 0, seed}, total - 10)});
}

class RowLimit : public AccessUnitScan, public ::testing::WithParamInterface<LimitCase> {};

TEST_P(RowLimit, AFrameOfTheLimitIsTakenOneByteMoreIsNot) {
    const LimitCase& c = GetParam();
    for (uint64_t total : {c.limit, c.limit + 1}) {
        SCOPED_TRACE(total);
        logLines.clear();
        MediaDataBuilder m;
        m.fill(16, 0x77);
        const auto big = m.unit(frameOf(total, c.canonStart, 1)).last();
        const auto next = m.unit(frameOf(0x50010, c.canonStart, 9)).last();
        prepareRow(m.data(), c.flags, 0);
        scanAs(c.marker);
        ExpectedResult expected(m.data(), 8);
        if (total == c.limit) expected.video(big);
        expected.video(next);
        test::expectScanResult(*engine, result(), expected);
    }
}

INSTANTIATE_TEST_SUITE_P(Rows, RowLimit,
                         ::testing::Values(LimitCase{"VideoOnly", "18", {&F::bSignature64}, 3'145'728, false},
                                           LimitCase{"GoPro", "17", {&F::bHero130}, 3'145'727, false},
                                           LimitCase{
                                               "Canon1DXMarkII", "06/08/19", {&F::bCanon1DXMarkII}, 400'010, true}),
                         [](const ::testing::TestParamInfo<LimitCase>& p) { return std::string(p.param.name); });

// --- the Canon EOS-1D X Mark II
// ------------------------------------------------------

// Its frames start only at an IDR slice whose length prefix begins 00 05;
// its sound stands between them in chunks.
TEST_F(AccessUnitScan, Canon1DXMarkIIFramesOpenWithTheirPinnedSlice) {
    constexpr uint64_t kChunk = 400;
    MediaDataBuilder m;
    m.fill(16, 0x77);
    const auto f1 = m.unit(test::lengthPrefixed({sliceOfLength(H264Slice{0x25, 0, 7, 0, 0, 0, 1}, 0x50100)})).last();
    const auto a1 = m.audio(kChunk).last();
    const auto f2 = m.unit(frameOf(0x50200, true, 3)).last();
    // 00 04: no frame of this camera's, and nothing in it starts one.
    m.unit(test::lengthPrefixed({sliceOfLength(H264Slice{0x25, 0, 7, 0, 0, 0, 5}, 0x40000)}));
    const auto f3 = m.unit(test::lengthPrefixed({sliceOfLength(H264Slice{0x25, 0, 7, 0, 0, 0, 7}, 0x50300)})).last();

    prepareRow(m.data(), {&F::bCanon1DXMarkII}, kChunk);
    scanAs("06/08/19");
    ExpectedResult expected(m.data(), 8);
    expected.video(f1).audio(a1).video(f2).video(f3);
    test::expectScanResult(*engine, result(), expected);
}

// A GoPro frame that a metadata block follows is confirmed by it; the
// block itself is passed over. Other rows know no such block.
TEST_F(AccessUnitScan, AGoProMetadataBlockEndsAFrame) {
    for (const char* marker : {"17", "17....78787878"}) {
        SCOPED_TRACE(marker);
        logLines.clear();
        MediaDataBuilder m;
        const auto f1 =
            m.unit(test::lengthPrefixed({delimiter(0x10), test::h264Sps(), test::h264Pps(), idrSlice(0, 1)})).last();
        Bytes block{'G', 'P', 0x04, 0x00};
        block.resize(64, 0x11);
        block[16] = 0x20;
        m.unit(block);
        const auto f2 = m.unit(test::lengthPrefixed({delimiter(0x30), pSlice(1, 2)})).last();
        const auto f3 = m.unit(test::lengthPrefixed({delimiter(0x30), pSlice(2, 3)})).last();
        prepareRow(m.data(), {std::string(marker) == "17" ? &F::bHero130 : &F::bAudioSig01_9B2D}, 0);
        scanAs(marker);
        ExpectedResult expected(m.data(), 8);
        if (std::string(marker) == "17") expected.video(f1);
        expected.video(f2).video(f3);
        test::expectScanResult(*engine, result(), expected);
    }
}

// Without parameter sets in the reference no access unit can be walked:
// nothing is taken, and the log says why.
TEST_F(AccessUnitScan, WithoutTheReferencesParameterSetsNothingIsTaken) {
    MediaDataBuilder m;
    m.unit(test::lengthPrefixed({delimiter(0x10), test::h264Sps(), test::h264Pps(), idrSlice(0, 1)}));
    prepareRow(m.data(), {&F::bSignature64}, 0, false);
    scanAs("18");
    EXPECT_EQ(engine->tables.sample_count(), 0u);
    EXPECT_EQ(logLines, (std::vector<std::string>{"18",
                                                  "The reference has no H.264 parameter sets: "
                                                  "its camera's access units cannot be walked"}));
}

}  // namespace
}  // namespace arbel

// Every scan of the damaged file, the input choosing which: the generic
// scan with plain or wrapped audio and the first camera variants as the
// dispatch chooses them, any row of the dispatch run directly (with the
// reference's tag pair, sound and parameter sets chosen too), the MJPEG scan
// and the pass for full-size raw frames. Whatever the bytes, every unit
// recorded lies inside the result, in order, and the sums add up.
#include "engine/mov/scan_skeleton.h"
#include "fuzz_support.h"
#include "support/mov_stages.h"
#include "support/nal_builder.h"

#include <numeric>
#include <sys/stat.h>

namespace {

using namespace arbel;

void expectTablesInside(const std::vector<uint64_t>& starts, const std::vector<uint64_t>& sizes, uint64_t fileSize,
                        uint64_t sum) {
    ARBEL_FUZZ_CHECK(starts.size() == sizes.size());
    uint64_t total = 0;
    for (size_t i = 0; i < starts.size(); ++i) {
        ARBEL_FUZZ_CHECK(sizes[i] > 0 && starts[i] <= fileSize && sizes[i] <= fileSize - starts[i]);
        if (i > 0) ARBEL_FUZZ_CHECK(starts[i] >= starts[i - 1] + sizes[i - 1]);
        total += sizes[i];
    }
    ARBEL_FUZZ_CHECK(total == sum);
}

// The reference's video sample description as the access-unit rows read it.
std::vector<uint8_t> sampleDescription() {
    const std::vector<uint8_t> avcC = arbel::test::avcConfiguration();
    std::vector<uint8_t> d{'s', 't', 'b', 'l', 0, 0, 0, static_cast<uint8_t>(avcC.size() + 8), 'a', 'v', 'c', 'C'};
    d.insert(d.end(), avcC.begin(), avcC.end());
    return d;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::Choices choose(data, size);
    const uint8_t first = choose.byte();
    if (first >= 0x80) {
        // Any row of the dispatch, run as its camera would have it.
        const auto rows = scanDispatchTable();
        const ScanDispatchRow& row = rows[(first - 0x80) % rows.size()];
        test::MovStages stages;
        ReferenceAnalysis& a = stages.analysis;
        ReferenceTemplates& t = stages.templates;
        a.mp4aPresent = choose.flag();
        a.tagPair = {choose.byte(), choose.byte()};
        t.sizeAudio = choose.u32() % 300000;
        if (choose.flag()) t.videoSampleDescription = sampleDescription();
        t.stco_Address_Video_first_chunk_sizetojump = 1000;
        t.stco_Address_Audio_sizetojump = choose.flag() ? 500 : 2000;
        stages.openBytes({}, choose.rest());
        if (!stages.createTemporaryResult(fuzz::scratchFile("scan.mov"))) return 0;
        StageContext ctx = stages.context();
        {
            MediaScanner scanner(ctx, a, t, stages.tables, stages.result);
            ARBEL_FUZZ_CHECK(row.scan(scanner));
        }
        stages.result.outputfile.close();
        const SampleTables& s = stages.tables;
        const uint64_t resultSize = stages.result.outputfile.cursor();
        expectTablesInside(s.video_buffer_start, s.video_buffer_size, resultSize, s.Sum_video);
        expectTablesInside(s.Audio_buffer_start, s.Audio_buffer_size, resultSize, s.sum_audio);
        ARBEL_FUZZ_CHECK(s.Sum_video + s.sum_audio <= resultSize);
        return 0;
    }
    const uint8_t scan = first % 8;
    const bool wave = choose.flag();
    const bool audioFirst = choose.flag();
    const uint64_t sizeAudio = choose.u32() % 300000;
    const std::span<const uint8_t> damaged = choose.rest();

    test::MovStages stages;
    stages.openBytes({}, damaged);
    ReferenceAnalysis& a = stages.analysis;
    ReferenceTemplates& t = stages.templates;
    t.sizeAudio = sizeAudio;
    t.stco_Address_Video_first_chunk_sizetojump = audioFirst ? 2000 : 1000;
    t.stco_Address_Audio_sizetojump = audioFirst ? 1000 : 2000;
    a.wave = wave;
    // Each row of the dispatch as a reference would choose it.
    static const char* const kMarkers[] = {"1", "1", "2", "3", "5", "7"};
    switch (scan) {
    case 0: break;
    case 1: a.wave = 1; break;
    case 2: a.mp4aPresent = 1, a.flags.bAudioSig20_08 = true, a.tagPair = {0x65, 0xB8}; break;
    case 3: a.mp4aPresent = 1, a.tagPair = {0x65, 0xB8}; break;
    case 4: a.mp4aPresent = 1, a.flags.bAudioSig01_17 = true, a.tagPair = {0x65, 0xB8}; break;
    case 5: a.mp4aPresent = 1, a.flags.bCanon5DMarkII = true, a.tagPair = {0x25, 0xB8}; break;
    default: break;
    }

    if (!stages.createTemporaryResult(fuzz::scratchFile("scan.mov"))) return 0;
    bool ran = false;
    if (scan < 6) {
        ran = stages.runVariantScan();
        ARBEL_FUZZ_CHECK(stages.report.scanMarker == kMarkers[scan]);
    } else if (scan == 6) {
        ran = stages.runMjpegScan();
    } else {
        stages.result.outputfile.appendZeros(stages.result.mediaHeaderSize);
        ran = stages.runFullFramePass();
    }
    ARBEL_FUZZ_CHECK(ran);
    stages.result.outputfile.close();

    const SampleTables& s = stages.tables;
    const uint64_t resultSize = stages.result.outputfile.cursor();
    expectTablesInside(s.video_buffer_start, s.video_buffer_size, resultSize, s.Sum_video);
    expectTablesInside(s.Audio_buffer_start, s.Audio_buffer_size, resultSize, s.sum_audio);
    ARBEL_FUZZ_CHECK(s.mjpegFrameLengths.empty() || s.mjpegFrameLengths == s.video_buffer_size);
    // Nothing is invented: the result holds no more than the header and what was read.
    ARBEL_FUZZ_CHECK(s.Sum_video + s.sum_audio <= resultSize);
    return 0;
}

// The reference analysis and the template walk over any reference: every
// template taken is a whole piece of the reference, never more.
#include "engine/byte_order.h"
#include "fuzz_support.h"
#include "support/mov_stages.h"

#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace arbel;
    fuzz::scratch();
    static const std::vector<uint8_t> damaged = {0, 0, 0, 20, 'f', 't', 'y', 'p', 'q', 't', ' ', ' ',
                                                 0, 0, 0, 0,  'q', 't', ' ', ' '};
    test::MovStages stages;
    stages.openBytes({data, size}, damaged);
    if (!stages.signatureWalk() || !stages.takeReferenceTemplates()) return 0;

    const ReferenceTemplates& t = stages.templates;
    for (const auto* piece : {&t.trak_data, &t.bpMdhdDataStore, &t.bpHdlrDataStore, &t.bpMingVmhdDataStore,
                              &t.bpMinfHdlrData, &t.bpMinfDinfData, &t.videoSampleDescription, &t.stts_data,
                              &t.bpMdhdAudioDataStore, &t.bpHdlrAudioDataStore, &t.bpAudioMingSmhdDataStore,
                              &t.bpAudioMinfHdlrData, &t.bpAudioMinfDinfData, &t.Audio_stsd_data})
        ARBEL_FUZZ_CHECK(piece->size() <= size);
    // The copies that are whole atoms say their own length.
    for (const auto* atom : {&t.trak_data, &t.stts_data})
        if (atom->size() >= 8 && readU32BE(atom->data()) != 1) ARBEL_FUZZ_CHECK(readU32BE(atom->data()) == atom->size());
    ARBEL_FUZZ_CHECK(t.videoOffsetCount <= ReferenceTemplates::kVideoOffsetsTaken);
    stages.analysis.decideScanPath();
    return 0;
}

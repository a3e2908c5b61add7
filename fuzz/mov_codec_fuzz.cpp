// The codec-aware scan and its reference model, the input choosing which:
// the model learned from a movie atom that the input is, or the input
// scanned as a damaged recording of one of three crafted cameras (H.264 with
// AAC, with B-frames and AAC, with PCM) and the result finished. Whatever the
// bytes, every sample recorded lies inside the result, in order and apart,
// the sums add up, and a completed result reads back with every atom's size
// equal to its content.
#include "engine/mov/reference_model.h"
#include "fuzz_support.h"
#include "support/atom_tree.h"
#include "support/codec_streams.h"
#include "support/mov_stages.h"

#include <array>
#include <memory>

namespace {

using namespace arbel;

struct Camera {
    test::CameraFile reference;
    ReferenceModel model;
};

const Camera& camera(int which) {
    static const std::array<std::unique_ptr<Camera>, 3> cameras = [] {
        std::array<std::unique_ptr<Camera>, 3> c;
        const test::AudioStream sounds[3] = {test::craftedAac(40), test::craftedAac(40), test::craftedPcm(0.8)};
        for (int i = 0; i < 3; ++i) {
            test::LayoutOptions layout;
            layout.framesPerVideoChunk = 2;
            c[i] = std::make_unique<Camera>();
            c[i]->reference = test::layOutCameraFile(test::craftedH264(24, 12, i == 1), sounds[i], layout);
            FileReader reader;
            reader.openBytes(c[i]->reference.bytes.data(), c[i]->reference.bytes.size());
            std::string why;
            c[i]->model = *learnReference(reader, reader.size(), why);
        }
        return c;
    }();
    return *cameras[static_cast<size_t>(which)];
}

void expectSamplesInside(const TrackSamples& t, uint64_t resultSize) {
    ARBEL_FUZZ_CHECK(t.offsets.size() == t.sizes.size() && t.opensChunk.size() == t.sizes.size());
    uint64_t sum = 0;
    for (size_t i = 0; i < t.sizes.size(); ++i) {
        ARBEL_FUZZ_CHECK(t.sizes[i] > 0 && t.offsets[i] <= resultSize && t.sizes[i] <= resultSize - t.offsets[i]);
        if (i > 0) ARBEL_FUZZ_CHECK(t.offsets[i] >= t.offsets[i - 1] + t.sizes[i - 1]);
        sum += t.sizes[i];
    }
    ARBEL_FUZZ_CHECK(sum == t.bytes);
}

void learnAny(std::span<const uint8_t> moov) {
    std::string why;
    const auto m = learnMovie(moov, {}, why);
    if (!m) {
        ARBEL_FUZZ_CHECK(!why.empty());
        return;
    }
    const TrackModel* v = m->videoTrack();
    ARBEL_FUZZ_CHECK(v && (v->stream || v->codec == MediaCodec::Jpeg) && v->sampleDelta > 0);
    for (const TrackModel& t : m->tracks) {
        ARBEL_FUZZ_CHECK(t.samplesPerChunk.size() == t.chunkOffsets.size());
        ARBEL_FUZZ_CHECK(t.chunkBytes.size() == t.chunkOffsets.size());
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::Choices choose(data, size);
    const uint8_t what = choose.byte() % 4;
    const std::span<const uint8_t> damaged = choose.rest();
    if (what == 3) {
        learnAny(damaged);
        return 0;
    }
    const Camera& cam = camera(what);
    test::MovStages stages;
    stages.openBytes(cam.reference.bytes, damaged);
    if (!stages.createTemporaryResult(fuzz::scratchFile("codec.mov"))) return 0;
    CodecTables tables;
    ARBEL_FUZZ_CHECK(stages.runCodecAwareScan(cam.model, tables));
    const uint64_t mediaEnd = stages.result.outputfile.cursor();
    expectSamplesInside(tables.video, mediaEnd);
    expectSamplesInside(tables.audio, mediaEnd);
    ARBEL_FUZZ_CHECK(tables.video.key.size() == tables.video.count());
    ARBEL_FUZZ_CHECK(tables.recoveredBytes() <= mediaEnd);

    stages.finishCodecAwarePath(cam.model, tables);
    if (stages.report.completed()) {
        const test::AtomTree tree = test::AtomTree::parseFile(fuzz::scratch() + "/codec.mov");
        ARBEL_FUZZ_CHECK(tree.wellFormed());
        ARBEL_FUZZ_CHECK(tables.video.count() > 0);
    } else {
        ARBEL_FUZZ_CHECK(tables.video.count() == 0 || stages.result.broken());
    }
    return 0;
}

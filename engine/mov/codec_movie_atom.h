#pragma once

// The movie atom of a codec-aware result: the reference's movie atom as the
// template, its track headers and sample descriptions kept, the sample
// tables of the kept tracks rebuilt from what the scan found.

#include "codec_scan.h"
#include "reference_model.h"

#include <cstdint>
#include <string>
#include <vector>

namespace arbel {

class BoxWriter;

// Where each video sample is presented when the pictures are reordered
// (B-frames): offsets from its decoding time and the delay that keeps them
// all at or above zero, which the edit list takes away again.
struct CompositionOffsets {
    std::vector<int64_t> offsets;   // empty: presentation follows decoding
    int64_t delay = 0;
};
CompositionOffsets compositionOffsets(const TrackSamples& video, uint32_t sampleDelta);

struct CodecMovieTiming {
    uint64_t fps = 0;        // frames per second, rounded
    uint64_t seconds = 0;    // of the video
    int tracks = 0;
};
CodecMovieTiming codecMovieTiming(const ReferenceModel& model, const CodecTables& tables);

// Writes the movie atom (the caller has nothing open).
void writeCodecMovie(BoxWriter& box, const ReferenceModel& model, const CodecTables& tables);

}  // namespace arbel

#pragma once

// The codec-aware scan: the damaged file's media walked unit by unit with the
// codecs the reference's tracks use, for recordings no camera rule fits.
//
// Video units (H.264 and HEVC access units, JPEG images) are walked from
// their own structure; the bytes between two of them are explained by the
// other tracks: AAC frames that decode cleanly, PCM in whole frames and in
// the reference's chunk sizes, data-track samples by their sizes and leading
// bytes. A video unit is taken only when what follows it is recognised too;
// bytes that nothing explains are skipped, and the walk resynchronises on
// the next unit so confirmed.

#include "engine/codec/picture_order.h"
#include "reference_model.h"
#include "result_file.h"
#include "stage_context.h"

#include <cstdint>
#include <string>
#include <vector>

namespace arbel {

struct ReferenceAnalysis;
struct ReferenceTemplates;

// Where the damaged file's media data lie: behind its mdat header when that
// survived (a size of 0, or one past the end, runs to the end of the file),
// otherwise the whole file up to a movie atom that ends it.
struct MediaRange {
    uint64_t start = 0;
    uint64_t end = 0;
    bool headerFound = false;   // start is the first byte of the first unit
    uint64_t bytes() const { return end - start; }
};
MediaRange findMediaRange(const FileReader& damaged, uint64_t size);

// Bytes of the range that lie in stretches of zeros of at least `run` bytes:
// damage that holds no media, read in pieces.
inline constexpr uint64_t kZeroStretchRun = 512;
uint64_t zeroStretchBytes(const FileReader& damaged, const MediaRange& range, uint64_t run = kZeroStretchRun);

// One track's samples as they landed in the result, in order.
struct TrackSamples {
    std::vector<uint64_t> offsets;
    std::vector<uint32_t> sizes;
    std::vector<uint8_t> key;                       // video: 1 for key frames
    std::vector<codec::PresentationKey> order;      // H.264 / HEVC: where each is presented
    std::vector<uint8_t> opensChunk;                // 1 where the scan began a chunk
    uint64_t bytes = 0;
    size_t count() const { return sizes.size(); }
    // The index of the first sample of each chunk: where the scan began one,
    // or where a sample does not follow the last in the result.
    std::vector<size_t> chunkStarts() const;
};

struct CodecTables {
    TrackSamples video;
    TrackSamples audio;
    uint64_t mediaStart = 0;   // result offset of the first media byte
    uint64_t recoveredBytes() const { return video.bytes + audio.bytes; }
};

// "codec-aware: H.264 + AAC"
std::string codecAwareScanDescription(const ReferenceModel& model);
inline constexpr const char* kCodecAwareMarker = "codec";

// Scans the damaged file into the result (whose header space this writes:
// the reference's ftyp and room for the media-data header). False when the
// user stopped the repair; a write failure leaves the result's writeFailed set.
bool runCodecAwareScan(StageContext& ctx, const ReferenceAnalysis& analysis, const ReferenceTemplates& templates,
                       const ReferenceModel& model, ResultFile& result, CodecTables& tables);

// The share of the damaged file's media (its zeroed stretches aside) that a
// camera scan's units must cover; below it the codec-aware scan runs as well.
inline constexpr double kCameraCoverageWanted = 0.90;
bool cameraCoversMedia(const FileReader& damaged, uint64_t size, uint64_t covered);
// Which result to keep: the codec-aware one only when it recovers more.
inline bool codecAwareRecoversMore(uint64_t cameraBytes, uint64_t codecBytes) { return codecBytes > cameraBytes; }

}  // namespace arbel

#pragma once

// The parameter sets of an H.264 or HEVC stream, as far as the slice headers
// need them, and the sample-entry records (avcC, hvcC) that carry them.

#include "nal_rules.h"

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace arbel::codec {

struct SequenceParameters {
    bool present = false;
    bool separateColourPlane = false;
    uint32_t log2MaxFrameNum = 0;      // H.264
    uint32_t pocType = 0;              // H.264: 0, 1 or 2; HEVC: 0
    uint32_t log2MaxPocLsb = 0;
    bool deltaPicOrderAlwaysZero = false;  // H.264, POC type 1
    bool frameMbsOnly = true;          // H.264
    uint64_t pictureUnits = 0;         // macroblocks (H.264) or coding tree blocks (HEVC) of a frame
};

struct PictureParameters {
    bool present = false;
    uint32_t spsId = 0;
    bool bottomFieldPicOrderInFramePresent = false;  // H.264
    bool dependentSliceSegments = false;             // HEVC
    bool outputFlagPresent = false;                  // HEVC
    uint32_t extraSliceHeaderBits = 0;               // HEVC
};

// What the access-unit walker knows of one stream.
struct StreamParameters {
    VideoCodec codec = VideoCodec::H264;
    unsigned nalLengthSize = 4;             // bytes of each NAL unit's length prefix: 1, 2 or 4
    uint64_t maxNalBytes = 16u << 20;       // longer units are not believed
    uint64_t maxUnitBytes = 64u << 20;      // nor longer access units
    std::array<SequenceParameters, 32> sps{};
    std::array<PictureParameters, 256> pps{};
    // The slice headers the stream's encoder writes: for each NAL unit type,
    // bit 0 set when it was seen with priority zero (H.264 nal_ref_idc),
    // bit 1 with a higher one. Once any is noted, a slice header of another
    // kind is not believed, key pictures aside (a short clip may hold none
    // of the kind a recording has later).
    std::array<uint8_t, 64> pictureKinds{};
    bool pictureKindsKnown = false;
    void notePictureHeader(const NalHeader& header);
    bool pictureHeaderExpected(const NalHeader& header) const;

    // Takes an SPS or PPS NAL unit (header included); false when it is
    // neither or does not parse.
    bool addParameterSet(std::span<const uint8_t> nal);
    const SequenceParameters* spsOfPps(uint32_t ppsId) const;
    bool hasPictureParameters() const;
};

// The avcC / hvcC record of a sample entry (the box's payload): NAL length
// size and every parameter set it carries. nullopt when it does not parse or
// carries no usable picture parameters.
std::optional<StreamParameters> parseAvcConfiguration(std::span<const uint8_t> avcC);
std::optional<StreamParameters> parseHevcConfiguration(std::span<const uint8_t> hvcC);

}  // namespace arbel::codec

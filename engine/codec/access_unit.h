#pragma once

// The access-unit walker: from the first byte of a length-prefixed H.264 or
// HEVC access unit (as MP4 and QuickTime store them) to its last, NAL unit by
// NAL unit, or the reason it is none.
//
//   StreamParameters stream = *parseAvcConfiguration(avcC);
//   AccessUnitResult r = walkAccessUnit(bytes, position, endOfData, stream);
//   if (r.ok()) take [r.unit.start, r.unit.end), r.unit.key says IDR / IRAP.
//
// A unit is the leading NAL units (delimiter, parameter sets, prefix SEI, in
// any order: encoders put their SEI ahead of the first delimiter),
// the slices of one picture, and the trailing ones (suffix SEI, filler, end
// of sequence). Every NAL header must be valid for the stream (nal_rules.h),
// every slice header of a kind the stream's encoder writes (when the stream
// knows them), every length within the stream's bounds, and every slice header must parse
// against the stream's parameter sets: the first slice opens the picture
// (first_mb_in_slice 0, first_slice_segment_in_pic_flag 1), later ones
// continue it. The unit ends before the first NAL unit that opens the next
// one, or before bytes that are no NAL unit of this stream.

#include "byte_source.h"
#include "parameter_sets.h"

#include <cstdint>

namespace arbel::codec {

// The slice header fields that identify a picture and its order.
struct SliceFacts {
    uint8_t nalType = 0;
    uint8_t refIdc = 0;          // H.264
    uint8_t temporalId = 0;      // HEVC
    bool opensPicture = false;   // first_mb_in_slice 0 / first_slice_segment_in_pic_flag 1
    uint32_t address = 0;        // first_mb_in_slice / slice_segment_address
    uint32_t sliceType = 0;
    uint32_t ppsId = 0;
    uint32_t frameNum = 0;       // H.264
    bool fieldPic = false, bottomField = false;
    uint32_t idrPicId = 0;
    bool hasPocLsb = false;
    uint32_t pocLsb = 0;
    int32_t deltaPocBottom = 0;
};

enum class UnitEnding : uint8_t {
    NextUnit,      // the NAL unit behind it opens the next access unit
    Unrecognised,  // behind it stands no NAL unit of this stream (other media, damage)
    DataEnd,       // it ends exactly at the end of the data
};

enum class UnitFault : uint8_t {
    None,
    NoNalUnit,   // the bytes at the start are no NAL unit of this stream
    NoPicture,   // NAL units, but no slice that opens a picture
    Cut,         // the data ends inside the unit
    TooLong,     // longer than the stream allows
};

struct AccessUnit {
    uint64_t start = 0;
    uint64_t end = 0;
    UnitEnding ending = UnitEnding::Unrecognised;
    bool key = false;            // IDR (H.264), random-access point (HEVC)
    uint32_t nalUnits = 0;
    SliceFacts picture;          // of the slice that opens the picture
};

struct AccessUnitResult {
    UnitFault fault = UnitFault::NoNalUnit;
    AccessUnit unit;
    bool ok() const { return fault == UnitFault::None; }
};

// The access unit that starts at `start`; nothing at or beyond `limit` is read.
AccessUnitResult walkAccessUnit(const ByteSource& bytes, uint64_t start, uint64_t limit,
                                const StreamParameters& stream);

// Whether the bytes at `position` start a NAL unit that can open an access
// unit (a leading NAL unit, or a slice that opens a picture): the cheap first
// test before a walk.
bool opensAccessUnit(const ByteSource& bytes, uint64_t position, uint64_t limit, const StreamParameters& stream);

// The slice header of a slice NAL unit (header included, escaped as stored),
// as far as the picture's identity and order go; nullopt when it does not
// parse against the stream's parameter sets.
std::optional<SliceFacts> parseSliceFacts(const uint8_t* nal, size_t n, const StreamParameters& stream);

}  // namespace arbel::codec

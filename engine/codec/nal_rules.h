#pragma once

// NAL unit headers of H.264 and HEVC and what each type is to an access
// unit, as one table per codec. The access-unit walker and the reference
// analysis read them; nothing else decides whether a header is valid.

#include <cstddef>
#include <cstdint>
#include <optional>

namespace arbel::codec {

enum class VideoCodec : uint8_t { H264, Hevc };

const char* codecName(VideoCodec codec);  // "H.264", "HEVC"

// What a NAL unit type is to the access unit around it.
enum class NalRole : uint8_t {
    Invalid,   // not part of a single-layer stream of this codec
    Leading,   // delimiters, parameter sets, prefix SEI: after a picture they open the next unit
    Picture,   // a slice of the coded picture
    Trailing,  // end of sequence or stream, filler, suffix SEI: they close the current unit
};

// H.264: what nal_ref_idc must be; HEVC: what the temporal id must be.
enum class NalPriority : uint8_t { Any, Zero, NonZero };

struct NalTypeRule {
    NalRole role = NalRole::Invalid;
    bool keyPicture = false;     // IDR, or an HEVC random-access point
    NalPriority priority = NalPriority::Any;
};

const NalTypeRule& nalRule(VideoCodec codec, uint8_t type);

struct NalHeader {
    uint8_t type = 0;
    uint8_t refIdc = 0;       // H.264
    uint8_t temporalId = 0;   // HEVC (nuh_temporal_id_plus1 - 1)
    NalTypeRule rule;
};

// Bytes of the header: 1 for H.264, 2 for HEVC.
inline size_t nalHeaderSize(VideoCodec codec) { return codec == VideoCodec::H264 ? 1 : 2; }

// The header at p (n bytes readable), or nullopt when it breaks a rule of the
// table: forbidden bit set, an HEVC layer other than the base, a priority the
// type does not allow, a type not in a single-layer stream.
std::optional<NalHeader> parseNalHeader(VideoCodec codec, const uint8_t* p, size_t n);

// NAL unit types with a meaning of their own outside the table.
namespace nal {
inline constexpr uint8_t kH264Idr = 5, kH264Sps = 7, kH264Pps = 8;
inline constexpr uint8_t kHevcIdrWithLeading = 19, kHevcIdrNoLeading = 20, kHevcCra = 21;
inline constexpr uint8_t kHevcVps = 32, kHevcSps = 33, kHevcPps = 34;
// HEVC random-access skipped/decodable leading pictures and sub-layer non-reference pictures.
inline bool hevcIsIdr(uint8_t t) { return t == kHevcIdrWithLeading || t == kHevcIdrNoLeading; }
inline bool hevcIsIrap(uint8_t t) { return t >= 16 && t <= 23; }
inline bool hevcIsBla(uint8_t t) { return t >= 16 && t <= 18; }
inline bool hevcIsLeadingPicture(uint8_t t) { return t >= 6 && t <= 9; }
inline bool hevcIsSubLayerNonReference(uint8_t t) { return t <= 14 && t % 2 == 0; }
}  // namespace nal

}  // namespace arbel::codec

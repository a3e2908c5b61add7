#include "nal_rules.h"

#include <array>

namespace arbel::codec {

namespace {

using R = NalRole;
using P = NalPriority;

constexpr NalTypeRule rule(R role, P priority = P::Any, bool key = false) {
    return NalTypeRule{role, key, priority};
}

// H.264, by nal_unit_type. Data partitions, auxiliary and extension slices
// belong to profiles no camera writes: invalid here, so they cannot open a unit.
constexpr std::array<NalTypeRule, 32> kH264 = [] {
    std::array<NalTypeRule, 32> t{};
    t[1] = rule(R::Picture);
    t[5] = rule(R::Picture, P::NonZero, true);
    t[6] = rule(R::Leading, P::Zero);                 // SEI
    t[7] = rule(R::Leading, P::NonZero);              // SPS
    t[8] = rule(R::Leading, P::NonZero);              // PPS
    t[9] = rule(R::Leading, P::Zero);                 // access-unit delimiter
    t[10] = rule(R::Trailing, P::Zero);               // end of sequence
    t[11] = rule(R::Trailing, P::Zero);               // end of stream
    t[12] = rule(R::Trailing, P::Zero);               // filler
    t[13] = rule(R::Leading, P::NonZero);             // SPS extension
    t[15] = rule(R::Leading, P::NonZero);             // subset SPS
    return t;
}();

// HEVC, by nal_unit_type (priority: the temporal id).
constexpr std::array<NalTypeRule, 64> kHevc = [] {
    std::array<NalTypeRule, 64> t{};
    for (int i = 0; i <= 9; ++i) t[i] = rule(R::Picture);
    for (int i = 16; i <= 21; ++i) t[i] = rule(R::Picture, P::Zero, true);
    t[32] = rule(R::Leading, P::Zero);                // VPS
    t[33] = rule(R::Leading, P::Zero);                // SPS
    t[34] = rule(R::Leading);                         // PPS
    t[35] = rule(R::Leading);                         // access-unit delimiter
    t[36] = rule(R::Trailing, P::Zero);               // end of sequence
    t[37] = rule(R::Trailing, P::Zero);               // end of bitstream
    t[38] = rule(R::Trailing);                        // filler
    t[39] = rule(R::Leading);                         // prefix SEI
    t[40] = rule(R::Trailing);                        // suffix SEI
    return t;
}();

}  // namespace

const char* codecName(VideoCodec codec) { return codec == VideoCodec::H264 ? "H.264" : "HEVC"; }

const NalTypeRule& nalRule(VideoCodec codec, uint8_t type) {
    static constexpr NalTypeRule kNone{};
    if (codec == VideoCodec::H264) return type < kH264.size() ? kH264[type] : kNone;
    return type < kHevc.size() ? kHevc[type] : kNone;
}

std::optional<NalHeader> parseNalHeader(VideoCodec codec, const uint8_t* p, size_t n) {
    if (n < nalHeaderSize(codec) || (p[0] & 0x80)) return std::nullopt;
    NalHeader h;
    uint8_t priority = 0;
    if (codec == VideoCodec::H264) {
        h.type = p[0] & 0x1F;
        h.refIdc = (p[0] >> 5) & 3;
        priority = h.refIdc;
    } else {
        h.type = (p[0] >> 1) & 0x3F;
        const unsigned layer = ((p[0] & 1u) << 5) | (p[1] >> 3);
        const unsigned temporalPlus1 = p[1] & 7u;
        if (layer != 0 || temporalPlus1 == 0) return std::nullopt;
        h.temporalId = static_cast<uint8_t>(temporalPlus1 - 1);
        priority = h.temporalId;
    }
    h.rule = nalRule(codec, h.type);
    if (h.rule.role == NalRole::Invalid) return std::nullopt;
    if (h.rule.priority == NalPriority::Zero && priority != 0) return std::nullopt;
    if (h.rule.priority == NalPriority::NonZero && priority == 0) return std::nullopt;
    return h;
}

}  // namespace arbel::codec

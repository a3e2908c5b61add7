#include "parameter_sets.h"

#include "bit_reader.h"

namespace arbel::codec {

namespace {

// Parameter sets are short; more than this of one is never read.
constexpr size_t kParameterSetBytes = 4096;

bool skipScalingList(BitReader& r, int size) {
    int last = 8, next = 8;
    for (int j = 0; j < size; ++j) {
        if (next != 0) {
            const auto delta = r.se();
            if (!delta || *delta < -128 || *delta > 127) return false;
            next = (last + *delta + 256) % 256;
        }
        last = next == 0 ? last : next;
    }
    return true;
}

bool highProfile(uint32_t p) {
    switch (p) {
    case 100: case 110: case 122: case 244: case 44: case 83: case 86: case 118: case 128: case 138: case 139:
    case 134: case 135: return true;
    default: return false;
    }
}

bool parseH264Sps(std::span<const uint8_t> rbsp, StreamParameters& s) {
    BitReader r(rbsp);
    const uint32_t profile = r.bits(8);
    r.skip(16);  // constraint flags, level
    const auto id = r.ue(31);
    if (!id) return false;
    SequenceParameters sps;
    if (highProfile(profile)) {
        const auto chroma = r.ue(3);
        if (!chroma) return false;
        if (*chroma == 3) sps.separateColourPlane = r.bit();
        if (!r.ue(6) || !r.ue(6)) return false;  // bit depths
        r.skip(1);
        if (r.bit()) {
            for (int i = 0; i < (*chroma != 3 ? 8 : 12); ++i)
                if (r.bit() && !skipScalingList(r, i < 6 ? 16 : 64)) return false;
        }
    }
    const auto frameNum = r.ue(12);
    const auto pocType = r.ue(2);
    if (!frameNum || !pocType) return false;
    sps.log2MaxFrameNum = *frameNum + 4;
    sps.pocType = *pocType;
    if (sps.pocType == 0) {
        const auto lsb = r.ue(12);
        if (!lsb) return false;
        sps.log2MaxPocLsb = *lsb + 4;
    } else if (sps.pocType == 1) {
        sps.deltaPicOrderAlwaysZero = r.bit();
        if (!r.se() || !r.se()) return false;
        const auto cycle = r.ue(255);
        if (!cycle) return false;
        for (uint32_t i = 0; i < *cycle; ++i)
            if (!r.se()) return false;
    }
    if (!r.ue() ) return false;  // max_num_ref_frames
    r.skip(1);
    const auto width = r.ue(1024);
    const auto height = r.ue(1024);
    if (!width || !height) return false;
    sps.frameMbsOnly = r.bit();
    sps.pictureUnits = uint64_t{*width + 1} * (*height + 1) * (sps.frameMbsOnly ? 1 : 2);
    if (r.overrun()) return false;
    sps.present = true;
    s.sps[*id] = sps;
    return true;
}

bool parseH264Pps(std::span<const uint8_t> rbsp, StreamParameters& s) {
    BitReader r(rbsp);
    const auto id = r.ue(255);
    const auto spsId = r.ue(31);
    if (!id || !spsId) return false;
    PictureParameters pps;
    pps.spsId = *spsId;
    r.skip(1);  // entropy_coding_mode_flag
    pps.bottomFieldPicOrderInFramePresent = r.bit();
    if (r.overrun()) return false;
    pps.present = true;
    s.pps[*id] = pps;
    return true;
}

bool skipProfileTierLevel(BitReader& r, uint32_t maxSubLayersMinus1) {
    r.skip(96);  // general profile, tier, flags and level
    std::array<bool, 8> profilePresent{}, levelPresent{};
    for (uint32_t i = 0; i < maxSubLayersMinus1; ++i) {
        profilePresent[i] = r.bit();
        levelPresent[i] = r.bit();
    }
    if (maxSubLayersMinus1 > 0)
        for (uint32_t i = maxSubLayersMinus1; i < 8; ++i) r.skip(2);
    for (uint32_t i = 0; i < maxSubLayersMinus1; ++i) {
        if (profilePresent[i]) r.skip(88);
        if (levelPresent[i]) r.skip(8);
    }
    return !r.overrun();
}

bool parseHevcSps(std::span<const uint8_t> rbsp, StreamParameters& s) {
    BitReader r(rbsp);
    r.skip(4);
    const uint32_t maxSubLayersMinus1 = r.bits(3);
    r.skip(1);
    if (maxSubLayersMinus1 > 6 || !skipProfileTierLevel(r, maxSubLayersMinus1)) return false;
    const auto id = r.ue(15);
    const auto chroma = r.ue(3);
    if (!id || !chroma) return false;
    SequenceParameters sps;
    if (*chroma == 3) sps.separateColourPlane = r.bit();
    const auto width = r.ue(16888);
    const auto height = r.ue(16888);
    if (!width || !height || *width == 0 || *height == 0) return false;
    if (r.bit())
        for (int i = 0; i < 4; ++i)
            if (!r.ue()) return false;
    if (!r.ue(8) || !r.ue(8)) return false;  // bit depths
    const auto lsb = r.ue(12);
    if (!lsb) return false;
    sps.log2MaxPocLsb = *lsb + 4;
    const bool orderingForEach = r.bit();
    for (uint32_t i = orderingForEach ? 0 : maxSubLayersMinus1; i <= maxSubLayersMinus1; ++i)
        for (int k = 0; k < 3; ++k)
            if (!r.ue()) return false;
    const auto minBlock = r.ue(3);
    const auto diff = r.ue(3);
    if (!minBlock || !diff || *minBlock + 3 + *diff > 6) return false;
    const uint32_t ctb = 1u << (*minBlock + 3 + *diff);
    sps.pictureUnits = uint64_t{(*width + ctb - 1) / ctb} * ((*height + ctb - 1) / ctb);
    if (r.overrun()) return false;
    sps.present = true;
    s.sps[*id] = sps;
    return true;
}

bool parseHevcPps(std::span<const uint8_t> rbsp, StreamParameters& s) {
    BitReader r(rbsp);
    const auto id = r.ue(63);
    const auto spsId = r.ue(15);
    if (!id || !spsId) return false;
    PictureParameters pps;
    pps.spsId = *spsId;
    pps.dependentSliceSegments = r.bit();
    pps.outputFlagPresent = r.bit();
    pps.extraSliceHeaderBits = r.bits(3);
    if (r.overrun()) return false;
    pps.present = true;
    s.pps[*id] = pps;
    return true;
}

// Reads a 16-bit length and that many bytes; false when they are not there.
bool takeSized(std::span<const uint8_t> data, size_t& at, std::span<const uint8_t>& out) {
    if (data.size() - at < 2) return false;
    const size_t n = (size_t{data[at]} << 8) | data[at + 1];
    at += 2;
    if (data.size() - at < n) return false;
    out = data.subspan(at, n);
    at += n;
    return true;
}

}  // namespace

bool StreamParameters::addParameterSet(std::span<const uint8_t> nal) {
    const auto header = parseNalHeader(codec, nal.data(), nal.size());
    if (!header) return false;
    const auto payload = nal.subspan(nalHeaderSize(codec));
    const std::vector<uint8_t> rbsp = unescapeRbsp(payload, kParameterSetBytes);
    if (codec == VideoCodec::H264) {
        if (header->type == nal::kH264Sps) return parseH264Sps(rbsp, *this);
        if (header->type == nal::kH264Pps) return parseH264Pps(rbsp, *this);
        return false;
    }
    if (header->type == nal::kHevcSps) return parseHevcSps(rbsp, *this);
    if (header->type == nal::kHevcPps) return parseHevcPps(rbsp, *this);
    return false;
}

void StreamParameters::notePictureHeader(const NalHeader& h) {
    if (h.rule.role != NalRole::Picture || h.type >= pictureKinds.size()) return;
    pictureKinds[h.type] |= (h.refIdc != 0 || h.temporalId != 0) ? 2 : 1;
    pictureKindsKnown = true;
}

bool StreamParameters::pictureHeaderExpected(const NalHeader& h) const {
    if (!pictureKindsKnown || h.rule.keyPicture) return true;
    if (h.type >= pictureKinds.size()) return false;
    if (codec == VideoCodec::Hevc) return pictureKinds[h.type] != 0;
    return (pictureKinds[h.type] & (h.refIdc != 0 ? 2 : 1)) != 0;
}

const SequenceParameters* StreamParameters::spsOfPps(uint32_t ppsId) const {
    if (ppsId >= pps.size() || !pps[ppsId].present) return nullptr;
    const uint32_t spsId = pps[ppsId].spsId;
    if (spsId >= sps.size() || !sps[spsId].present) return nullptr;
    return &sps[spsId];
}

bool StreamParameters::hasPictureParameters() const {
    for (uint32_t i = 0; i < pps.size(); ++i)
        if (spsOfPps(i)) return true;
    return false;
}

std::optional<StreamParameters> parseAvcConfiguration(std::span<const uint8_t> avcC) {
    if (avcC.size() < 7 || avcC[0] != 1) return std::nullopt;
    StreamParameters s;
    s.codec = VideoCodec::H264;
    s.nalLengthSize = (avcC[4] & 3u) + 1;
    if (s.nalLengthSize == 3) return std::nullopt;
    size_t at = 5;
    const unsigned spsCount = avcC[at++] & 0x1Fu;
    std::span<const uint8_t> nal;
    for (unsigned i = 0; i < spsCount; ++i) {
        if (!takeSized(avcC, at, nal)) return std::nullopt;
        s.addParameterSet(nal);
    }
    if (at >= avcC.size()) return std::nullopt;
    const unsigned ppsCount = avcC[at++];
    for (unsigned i = 0; i < ppsCount; ++i) {
        if (!takeSized(avcC, at, nal)) return std::nullopt;
        s.addParameterSet(nal);
    }
    if (!s.hasPictureParameters()) return std::nullopt;
    return s;
}

std::optional<StreamParameters> parseHevcConfiguration(std::span<const uint8_t> hvcC) {
    if (hvcC.size() < 23 || hvcC[0] != 1) return std::nullopt;
    StreamParameters s;
    s.codec = VideoCodec::Hevc;
    s.nalLengthSize = (hvcC[21] & 3u) + 1;
    if (s.nalLengthSize == 3) return std::nullopt;
    size_t at = 22;
    const unsigned arrays = hvcC[at++];
    for (unsigned a = 0; a < arrays; ++a) {
        if (hvcC.size() - at < 3) return std::nullopt;
        at += 1;  // completeness and NAL unit type: the units say it themselves
        const unsigned count = (unsigned{hvcC[at]} << 8) | hvcC[at + 1];
        at += 2;
        std::span<const uint8_t> nal;
        for (unsigned i = 0; i < count; ++i) {
            if (!takeSized(hvcC, at, nal)) return std::nullopt;
            s.addParameterSet(nal);
        }
    }
    if (!s.hasPictureParameters()) return std::nullopt;
    return s;
}

}  // namespace arbel::codec

#include "access_unit.h"

#include "bit_reader.h"

#include <algorithm>
#include <array>

namespace arbel::codec {

namespace {

// Slice headers that matter here fit in this many bytes of a NAL unit.
constexpr size_t kHeaderBytes = 48;

unsigned bitsFor(uint64_t count) {
    unsigned n = 0;
    while ((uint64_t{1} << n) < count) ++n;
    return n;
}

std::optional<SliceFacts> parseH264Slice(BitReader& r, SliceFacts f, const StreamParameters& s) {
    const auto firstMb = r.ue();
    const auto sliceType = r.ue(9);
    const auto ppsId = r.ue(255);
    if (!firstMb || !sliceType || !ppsId) return std::nullopt;
    const SequenceParameters* sps = s.spsOfPps(*ppsId);
    if (!sps) return std::nullopt;
    // IDR pictures hold I (or SI) slices only.
    if (f.nalType == nal::kH264Idr && *sliceType % 5 != 2 && *sliceType % 5 != 4) return std::nullopt;
    f.address = *firstMb;
    f.opensPicture = *firstMb == 0;
    f.sliceType = *sliceType;
    f.ppsId = *ppsId;
    if (sps->separateColourPlane) r.skip(2);
    f.frameNum = r.bits(sps->log2MaxFrameNum);
    if (!sps->frameMbsOnly) {
        f.fieldPic = r.bit();
        if (f.fieldPic) f.bottomField = r.bit();
    }
    const uint64_t units = f.fieldPic ? sps->pictureUnits / 2 : sps->pictureUnits;
    if (f.address >= units) return std::nullopt;
    if (f.nalType == nal::kH264Idr) {
        const auto id = r.ue(65535);
        if (!id) return std::nullopt;
        f.idrPicId = *id;
    }
    if (sps->pocType == 0) {
        f.hasPocLsb = true;
        f.pocLsb = r.bits(sps->log2MaxPocLsb);
        if (s.pps[*ppsId].bottomFieldPicOrderInFramePresent && !f.fieldPic) {
            const auto delta = r.se();
            if (!delta) return std::nullopt;
            f.deltaPocBottom = *delta;
        }
    }
    if (r.overrun()) return std::nullopt;
    return f;
}

std::optional<SliceFacts> parseHevcSlice(BitReader& r, SliceFacts f, const StreamParameters& s) {
    f.opensPicture = r.bit();
    if (nal::hevcIsIrap(f.nalType)) r.skip(1);  // no_output_of_prior_pics_flag
    const auto ppsId = r.ue(63);
    if (!ppsId) return std::nullopt;
    const SequenceParameters* sps = s.spsOfPps(*ppsId);
    if (!sps) return std::nullopt;
    const PictureParameters& pps = s.pps[*ppsId];
    f.ppsId = *ppsId;
    bool dependent = false;
    if (!f.opensPicture) {
        if (pps.dependentSliceSegments) dependent = r.bit();
        f.address = r.bits(bitsFor(sps->pictureUnits));
        if (f.address == 0 || f.address >= sps->pictureUnits) return std::nullopt;
    }
    if (!dependent) {
        r.skip(pps.extraSliceHeaderBits);
        const auto sliceType = r.ue(2);
        if (!sliceType) return std::nullopt;
        // Random-access pictures hold I slices only.
        if (nal::hevcIsIrap(f.nalType) && *sliceType != 2) return std::nullopt;
        f.sliceType = *sliceType;
        if (pps.outputFlagPresent) r.skip(1);
        if (sps->separateColourPlane) r.skip(2);
        if (!nal::hevcIsIdr(f.nalType)) {
            f.hasPocLsb = true;
            f.pocLsb = r.bits(sps->log2MaxPocLsb);
        }
    }
    if (r.overrun()) return std::nullopt;
    return f;
}

// A later slice of the picture that `first` opened (H.264 7.4.1.2.4: the
// fields that tell pictures apart are equal; HEVC: a segment of the same picture).
bool continuesPicture(const SliceFacts& first, const SliceFacts& previous, const SliceFacts& next,
                      VideoCodec codec) {
    if (next.opensPicture || next.nalType != first.nalType || next.ppsId != first.ppsId) return false;
    if (next.address <= previous.address) return false;
    if (codec == VideoCodec::Hevc) return next.temporalId == first.temporalId;
    return (next.refIdc == 0) == (first.refIdc == 0) && next.frameNum == first.frameNum &&
           next.fieldPic == first.fieldPic && next.bottomField == first.bottomField &&
           next.idrPicId == first.idrPicId && next.pocLsb == first.pocLsb &&
           next.deltaPocBottom == first.deltaPocBottom;
}

uint64_t readLength(const uint8_t* p, unsigned size) {
    uint64_t v = 0;
    for (unsigned i = 0; i < size; ++i) v = (v << 8) | p[i];
    return v;
}

// One NAL unit as it stands in the data.
struct NalAt {
    uint64_t end = 0;            // first byte behind it
    NalHeader header;
    std::optional<SliceFacts> slice;  // for slices whose header parses
};

// The NAL unit at pos, or nullopt when the bytes there are none of this
// stream: bad header, length out of bounds, a slice header that does not
// parse. A unit that runs past `limit` is answered with end beyond it.
std::optional<NalAt> nalAt(const ByteSource& bytes, uint64_t pos, uint64_t limit, const StreamParameters& s) {
    std::array<uint8_t, 4 + kHeaderBytes> buf{};
    const unsigned lengthSize = s.nalLengthSize;
    const size_t want = static_cast<size_t>(std::min<uint64_t>(lengthSize + kHeaderBytes, limit - pos));
    const size_t got = bytes.read(pos, buf.data(), want);
    const size_t headerSize = nalHeaderSize(s.codec);
    if (got < lengthSize + headerSize) return std::nullopt;
    const uint64_t length = readLength(buf.data(), lengthSize);
    if (length < headerSize || length > s.maxNalBytes) return std::nullopt;
    const uint8_t* nalBytes = buf.data() + lengthSize;
    const size_t available = static_cast<size_t>(std::min<uint64_t>(length, got - lengthSize));
    const auto header = parseNalHeader(s.codec, nalBytes, available);
    if (!header || (header->rule.role == NalRole::Picture && !s.pictureHeaderExpected(*header))) return std::nullopt;
    NalAt n;
    n.header = *header;
    n.end = pos + lengthSize + length;
    if (header->rule.role == NalRole::Picture) {
        n.slice = parseSliceFacts(nalBytes, available, s);
        if (!n.slice) return std::nullopt;
    }
    return n;
}

}  // namespace

std::optional<SliceFacts> parseSliceFacts(const uint8_t* nalBytes, size_t n, const StreamParameters& s) {
    const auto header = parseNalHeader(s.codec, nalBytes, n);
    if (!header || header->rule.role != NalRole::Picture) return std::nullopt;
    const size_t headerSize = nalHeaderSize(s.codec);
    const std::vector<uint8_t> rbsp =
        unescapeRbsp(std::span<const uint8_t>(nalBytes + headerSize, n - headerSize), kHeaderBytes);
    BitReader r(rbsp);
    SliceFacts f;
    f.nalType = header->type;
    f.refIdc = header->refIdc;
    f.temporalId = header->temporalId;
    return s.codec == VideoCodec::H264 ? parseH264Slice(r, f, s) : parseHevcSlice(r, f, s);
}

bool opensAccessUnit(const ByteSource& bytes, uint64_t position, uint64_t limit, const StreamParameters& s) {
    if (position >= limit) return false;
    const auto n = nalAt(bytes, position, limit, s);
    if (!n) return false;
    if (n->header.rule.role == NalRole::Leading) return true;
    return n->slice && n->slice->opensPicture;
}

AccessUnitResult walkAccessUnit(const ByteSource& bytes, uint64_t start, uint64_t limit, const StreamParameters& s) {
    AccessUnitResult r;
    AccessUnit& u = r.unit;
    u.start = start;
    uint64_t pos = start;
    bool picture = false;
    SliceFacts previous;
    auto finish = [&](UnitEnding ending) {
        u.end = pos;
        u.ending = ending;
        r.fault = UnitFault::None;
        return r;
    };
    auto fail = [&](UnitFault fault) {
        // Before any NAL unit was taken the bytes simply start nothing.
        r.fault = (u.nalUnits == 0 && fault != UnitFault::Cut) ? UnitFault::NoNalUnit : fault;
        u.end = pos;
        return r;
    };

    while (true) {
        if (pos >= limit) return picture ? finish(UnitEnding::DataEnd) : fail(UnitFault::NoPicture);
        if (pos - start > s.maxUnitBytes) return fail(UnitFault::TooLong);
        const auto n = nalAt(bytes, pos, limit, s);
        if (!n) return picture ? finish(UnitEnding::Unrecognised) : fail(UnitFault::NoPicture);
        const NalTypeRule& rule = n->header.rule;
        const bool pastLimit = n->end > limit;

        switch (rule.role) {
        case NalRole::Leading:
            if (picture) return finish(UnitEnding::NextUnit);
            if (pastLimit) return fail(UnitFault::Cut);
            break;
        case NalRole::Picture:
            if (!picture) {
                if (!n->slice->opensPicture) return fail(UnitFault::NoPicture);
                picture = true;
                u.picture = *n->slice;
                u.key = rule.keyPicture;
            } else if (n->slice->opensPicture || !continuesPicture(u.picture, previous, *n->slice, s.codec)) {
                // A slice that opens a picture starts the next unit; one that
                // continues no picture of ours is not believed at all.
                return finish(n->slice->opensPicture ? UnitEnding::NextUnit : UnitEnding::Unrecognised);
            }
            if (pastLimit) return fail(UnitFault::Cut);
            previous = *n->slice;
            break;
        case NalRole::Trailing:
            if (!picture) return fail(UnitFault::NoPicture);
            // A cut trailing unit is not ours to keep; the picture is whole.
            if (pastLimit) return finish(UnitEnding::Unrecognised);
            break;
        case NalRole::Invalid: return fail(UnitFault::NoNalUnit);
        }
        ++u.nalUnits;
        pos = n->end;
    }
}

}  // namespace arbel::codec

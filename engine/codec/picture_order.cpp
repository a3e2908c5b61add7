#include "picture_order.h"

#include <algorithm>
#include <numeric>

namespace arbel::codec {

namespace {

// The most significant part of the count from the last one (H.264 8.2.1.1, HEVC 8.3.1).
int64_t countMsb(int64_t lsb, int64_t prevLsb, int64_t prevMsb, int64_t maxLsb) {
    if (lsb < prevLsb && prevLsb - lsb >= maxLsb / 2) return prevMsb + maxLsb;
    if (lsb > prevLsb && lsb - prevLsb > maxLsb / 2) return prevMsb - maxLsb;
    return prevMsb;
}

}  // namespace

PresentationKey PictureOrder::next(const AccessUnit& unit) {
    const PresentationKey key = stream_.codec == VideoCodec::H264 ? h264(unit) : hevc(unit);
    started_ = true;
    ++decodingIndex_;
    return key;
}

PresentationKey PictureOrder::h264(const AccessUnit& unit) {
    const SliceFacts& f = unit.picture;
    const SequenceParameters* sps = stream_.spsOfPps(f.ppsId);
    const bool idr = f.nalType == nal::kH264Idr;
    if (idr && started_) ++period_;
    // Counts of types 1 and 2 follow the decoding order in the streams
    // cameras write; type 0 carries its own.
    if (!sps || sps->pocType != 0 || !f.hasPocLsb) return {period_, decodingIndex_};
    if (idr) prevMsb_ = prevLsb_ = 0;
    const int64_t maxLsb = int64_t{1} << sps->log2MaxPocLsb;
    const int64_t lsb = f.pocLsb;
    const int64_t msb = countMsb(lsb, prevLsb_, prevMsb_, maxLsb);
    const int64_t top = msb + lsb;
    const int64_t count = f.fieldPic ? top : std::min(top, top + f.deltaPocBottom);
    if (f.refIdc != 0) {
        prevMsb_ = msb;
        prevLsb_ = lsb;
    }
    return {period_, count};
}

PresentationKey PictureOrder::hevc(const AccessUnit& unit) {
    const SliceFacts& f = unit.picture;
    const SequenceParameters* sps = stream_.spsOfPps(f.ppsId);
    const bool restarts = nal::hevcIsIdr(f.nalType) || nal::hevcIsBla(f.nalType);
    if (restarts && started_) ++period_;
    int64_t count = 0;
    if (sps && f.hasPocLsb) {
        const int64_t maxLsb = int64_t{1} << sps->log2MaxPocLsb;
        const int64_t lsb = f.pocLsb;
        // A random-access point that opens the stream or a period starts its count afresh.
        const bool fresh = nal::hevcIsIrap(f.nalType) && (restarts || !started_);
        const int64_t msb = fresh ? 0 : countMsb(lsb, prevLsb_, prevMsb_, maxLsb);
        count = msb + lsb;
    }
    const bool anchors = f.temporalId == 0 && !nal::hevcIsLeadingPicture(f.nalType) &&
                         !nal::hevcIsSubLayerNonReference(f.nalType);
    if (anchors && sps) {
        const int64_t maxLsb = int64_t{1} << sps->log2MaxPocLsb;
        prevLsb_ = ((count % maxLsb) + maxLsb) % maxLsb;
        prevMsb_ = count - prevLsb_;
    }
    return {period_, count};
}

std::vector<uint32_t> presentationRanks(const std::vector<PresentationKey>& keys) {
    std::vector<uint32_t> order(keys.size());
    std::iota(order.begin(), order.end(), 0u);
    std::stable_sort(order.begin(), order.end(), [&](uint32_t a, uint32_t b) { return keys[a] < keys[b]; });
    std::vector<uint32_t> rank(keys.size());
    for (uint32_t r = 0; r < order.size(); ++r) rank[order[r]] = r;
    return rank;
}

}  // namespace arbel::codec

#pragma once

// Picture order counts of H.264 and HEVC access units in decoding order, and
// from them the order in which the pictures are presented.

#include "access_unit.h"

#include <cstdint>
#include <vector>

namespace arbel::codec {

// Where a picture stands in presentation: pictures sort by (period, count).
// A period begins where the count starts again (IDR, BLA).
struct PresentationKey {
    uint32_t period = 0;
    int64_t count = 0;
    bool operator<(const PresentationKey& o) const { return period != o.period ? period < o.period : count < o.count; }
};

class PictureOrder {
public:
    explicit PictureOrder(const StreamParameters& stream) : stream_(stream) {}

    // The key of the next unit in decoding order.
    PresentationKey next(const AccessUnit& unit);

private:
    PresentationKey h264(const AccessUnit& unit);
    PresentationKey hevc(const AccessUnit& unit);

    const StreamParameters& stream_;
    uint32_t period_ = 0;
    bool started_ = false;
    int64_t prevMsb_ = 0;
    int64_t prevLsb_ = 0;
    int64_t decodingIndex_ = 0;
};

// Each picture's place in presentation order (0 = shown first), from its key;
// equal keys keep their decoding order.
std::vector<uint32_t> presentationRanks(const std::vector<PresentationKey>& keys);

}  // namespace arbel::codec

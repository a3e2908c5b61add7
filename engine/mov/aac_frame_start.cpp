// Learning and recognising the first element of a camera's raw AAC frames.
#include "aac_frame_start.h"

#include <algorithm>

namespace arbel {
namespace {

constexpr uint8_t kSce = 0, kCpe = 1, kLfe = 3;
constexpr uint8_t kEightShort = 2;
constexpr int kShortBandsMax = 15;

}  // namespace

AacElementStart AacElementStart::read(const uint8_t* a) {
    size_t at = 0;  // bits read
    const auto take = [&](int n) {
        uint32_t v = 0;
        for (int i = 0; i < n; ++i, ++at) v = v << 1 | ((at < kBytes * 8 ? a[at / 8] >> (7 - at % 8) : 0) & 1u);
        return v;
    };
    AacElementStart s;
    const uint8_t id = static_cast<uint8_t>(take(3));
    const uint8_t tag = static_cast<uint8_t>(take(4));
    s.channelElement = id == kSce || id == kCpe || id == kLfe;
    const bool common = id == kCpe && take(1) == 1;
    s.head = static_cast<uint8_t>(id << 5 | tag << 1 | (common ? 1 : 0));
    if (!common) s.globalGain = static_cast<int>(take(8));
    s.reservedBit = take(1) == 1;
    s.windowSequence = static_cast<uint8_t>(take(2));
    s.windowShape = static_cast<uint8_t>(take(1));
    unsigned groups = 1;
    if (s.windowSequence == kEightShort) {
        s.maxSfb = static_cast<uint8_t>(take(4));
        for (int i = 0; i < 7; ++i) groups += take(1) == 0 ? 1 : 0;  // scale_factor_grouping
    } else {
        s.maxSfb = static_cast<uint8_t>(take(6));
        s.predictor = take(1) == 1;
    }
    if (s.predictor) return s;
    if (common) {
        // The pair's mid/side mask, then the first channel's global gain.
        const uint32_t msMask = take(2);
        s.reservedMsMask = msMask == 3;
        if (msMask == 1) at += groups * s.maxSfb;
        if (at + 8 > kBytes * 8) return s;
        s.globalGain = static_cast<int>(take(8));
    }
    // Section data: per window group, sections of one codebook (4 bits) and
    // a length in pieces of 5 bits (3 for short windows), the all-ones
    // piece meaning "more follows", until the bands coded are covered.
    const int lengthBits = s.windowSequence == kEightShort ? 3 : 5;
    const uint32_t escape = (1u << lengthBits) - 1;
    for (unsigned g = 0; g < groups; ++g) {
        for (unsigned band = 0; band < s.maxSfb;) {
            if (at + 4 + static_cast<size_t>(lengthBits) > kBytes * 8) return s;  // the bytes end first
            const uint32_t codebook = take(4);
            uint32_t length = 0;
            uint32_t piece = 0;
            do {
                if (at + static_cast<size_t>(lengthBits) > kBytes * 8) return s;
                piece = take(lengthBits);
                length += piece;
            } while (piece == escape && length < 64);
            if (codebook == 12 || length == 0 || band + length > s.maxSfb) {
                s.badSections = true;
                return s;
            }
            band += length;
        }
    }
    return s;
}

void AacStartModel::learn(const uint8_t* a) {
    const AacElementStart s = AacElementStart::read(a);
    if (!s.channelElement || s.reservedBit || s.predictor || s.reservedMsMask || s.badSections)
        return;  // not a frame the model can describe
    heads_.set(s.head);
    if (s.windowSequence == kEightShort) {
        shortBands_.push_back(s.maxSfb);
        ++shortShapes_[s.windowShape];
    } else {
        longBands_.push_back(s.maxSfb);
        ++longShapes_[s.windowShape];
    }
    if (s.globalGain >= 0) gains_.push_back(s.globalGain);
    ++frames_;
    refresh();
}

AacStartModel::Range AacStartModel::usual(std::vector<int> values) {
    if (values.empty()) return {};
    std::sort(values.begin(), values.end());
    const size_t trim = values.size() / 20;
    return {values[trim], values[values.size() - 1 - trim]};
}

void AacStartModel::refresh() {
    longRange_ = usual(longBands_);
    shortRange_ = usual(shortBands_);
    gainRange_ = usual(gains_);
}

std::bitset<256> AacStartModel::firstBytes() const {
    // The head's last bit is the common-window flag of a channel pair and the
    // gain's first bit of the other elements.
    std::bitset<256> bytes;
    for (unsigned head = 0; head < 256; ++head) {
        if (!heads_.test(head)) continue;
        bytes.set(head);
        if ((head >> 5) != kCpe) bytes.set(head | 1u);
    }
    return bytes;
}

bool AacStartModel::accepts(const uint8_t* a) const {
    if (!learned()) return false;
    const AacElementStart s = AacElementStart::read(a);
    if (!s.channelElement || !heads_.test(s.head) || s.reservedBit || s.predictor || s.reservedMsMask ||
        s.badSections)
        return false;
    if (s.windowSequence == kEightShort) {
        // Short blocks are rare in the first frames. When some were seen they
        // set the shape and the band count; when none were, the long blocks'
        // shape and any count a short block can have.
        if (shortRange_.empty()) {
            if (longShapes_[s.windowShape] * 10 < longBands_.size() || s.maxSfb > kShortBandsMax) return false;
        } else if (shortShapes_[s.windowShape] == 0 ||
                   !shortRange_.holds(s.maxSfb, kSfbMargin) || s.maxSfb > kShortBandsMax) {
            return false;
        }
    } else {
        // A shape the long blocks use in one frame of ten or more.
        if (longShapes_[s.windowShape] * 10 < longBands_.size()) return false;
        if (longRange_.empty() || !longRange_.holds(s.maxSfb, kSfbMargin)) return false;
    }
    if (s.globalGain >= 0 && !gainRange_.empty() && !gainRange_.holds(s.globalGain, kGainMargin)) return false;
    return true;
}

}  // namespace arbel

#pragma once

// Raw AAC frames as an MP4 track stores them: one raw_data_block each, no
// ADTS header. Cameras write their long blocks with the sine window; ffmpeg's
// encoder writes them with the KBD window, which changes the third byte of a
// mono frame (the second of a stereo one). The rewrite here clears the
// window-shape bit (and, when asked, sets the element instance tag) of a
// frame's first element and touches no other bit: no audio byte is made up,
// and every rewritten frame is still a valid frame of the same audio, which
// the decoder simply overlaps with the sine window.
//
// Header only: the benchmark builds the clip maker from its sources alone.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace arbel::test {

using ByteString = std::vector<uint8_t>;

// id_syn_ele values of the elements whose start the reader understands.
enum class AacElement : uint8_t { Sce = 0, Cpe = 1, Lfe = 3 };

enum class AacWindowSequence : uint8_t { OnlyLong = 0, LongStart = 1, EightShort = 2, LongStop = 3 };

// The first element of a frame, read as far as the ics_info of its first
// channel.
struct AacFrameStart {
    AacElement element = AacElement::Sce;
    uint8_t instanceTag = 0;            // element_instance_tag, 4 bits
    bool commonWindow = false;          // CPE: both channels share one ics_info
    std::optional<uint8_t> globalGain;  // read before ics_info (SCE, LFE, CPE without common window)
    AacWindowSequence windowSequence = AacWindowSequence::OnlyLong;
    uint8_t windowShape = 0;            // 0 sine, 1 KBD
    uint8_t maxSfb = 0;                 // 6 bits for long windows, 4 for eight short ones
    size_t windowShapeBit = 0;          // bit index of window_shape, counted from the frame's first bit
};

struct AacRewrite {
    bool sineWindow = false;             // window_shape of the first element becomes 0
    std::optional<uint8_t> instanceTag;  // element_instance_tag of the first element (0-15)

    bool changesAnything() const { return sineWindow || instanceTag.has_value(); }
};

// Counts of a stream rewrite, for the record.
struct AacRewriteCount {
    size_t rewritten = 0;
    size_t leftAsTheyWere = 0;
};

namespace aac_detail {

// Reads fields most significant bit first; a read past the end fails.
class FieldReader {
public:
    explicit FieldReader(const ByteString& bytes) : bytes_(bytes) {}

    std::optional<uint32_t> bits(int count) {
        if (pos_ + static_cast<size_t>(count) > bytes_.size() * 8) return std::nullopt;
        uint32_t value = 0;
        for (int i = 0; i < count; ++i, ++pos_) value = (value << 1) | ((bytes_[pos_ / 8] >> (7 - pos_ % 8)) & 1u);
        return value;
    }
    size_t position() const { return pos_; }

private:
    const ByteString& bytes_;
    size_t pos_ = 0;
};

inline void setBit(ByteString& bytes, size_t bit, bool value) {
    const auto mask = static_cast<uint8_t>(0x80u >> (bit % 8));
    if (value) bytes[bit / 8] |= mask;
    else bytes[bit / 8] &= static_cast<uint8_t>(~mask);
}

inline constexpr size_t kInstanceTagBit = 3;  // right behind the 3-bit id_syn_ele

}  // namespace aac_detail

// nullopt when the first element is none of SCE, CPE, LFE (a fill element,
// for instance), when the frame ends inside the fields, or when the reserved
// bit of ics_info is set.
inline std::optional<AacFrameStart> readAacFrameStart(const ByteString& frame) {
    aac_detail::FieldReader r(frame);
    const auto id = r.bits(3);
    const auto tag = r.bits(4);
    if (!id || !tag) return std::nullopt;

    AacFrameStart start;
    start.instanceTag = static_cast<uint8_t>(*tag);
    bool gainFirst = true;
    switch (*id) {
    case 0: start.element = AacElement::Sce; break;
    case 3: start.element = AacElement::Lfe; break;
    case 1: {
        start.element = AacElement::Cpe;
        const auto common = r.bits(1);
        if (!common) return std::nullopt;
        start.commonWindow = *common == 1;
        // With a common window, ics_info comes first and each channel's
        // global_gain follows later; without one, channel 0 begins as an SCE.
        gainFirst = !start.commonWindow;
        break;
    }
    default: return std::nullopt;
    }
    if (gainFirst) {
        const auto gain = r.bits(8);
        if (!gain) return std::nullopt;
        start.globalGain = static_cast<uint8_t>(*gain);
    }

    const auto reserved = r.bits(1);
    const auto sequence = r.bits(2);
    if (!reserved || !sequence || *reserved != 0) return std::nullopt;
    start.windowSequence = static_cast<AacWindowSequence>(*sequence);
    start.windowShapeBit = r.position();
    const auto shape = r.bits(1);
    const auto maxSfb = r.bits(start.windowSequence == AacWindowSequence::EightShort ? 4 : 6);
    if (!shape || !maxSfb) return std::nullopt;
    start.windowShape = static_cast<uint8_t>(*shape);
    start.maxSfb = static_cast<uint8_t>(*maxSfb);
    return start;
}

// The frame with those fields rewritten. nullopt when the frame cannot be
// rewritten and must stay as it is: its start cannot be read, the tag does
// not fit in four bits, or the sine window is asked of a CPE without common
// window (its second channel's ics_info lies behind the first channel's
// spectral data).
inline std::optional<ByteString> rewriteAacFrame(const ByteString& frame, const AacRewrite& rewrite) {
    const auto start = readAacFrameStart(frame);
    if (!start) return std::nullopt;
    if (rewrite.instanceTag && *rewrite.instanceTag > 15) return std::nullopt;
    if (rewrite.sineWindow && start->element == AacElement::Cpe && !start->commonWindow) return std::nullopt;

    // Only these bits change; every audio bit of the frame stays as encoded.
    ByteString out = frame;
    if (rewrite.sineWindow) aac_detail::setBit(out, start->windowShapeBit, false);
    if (rewrite.instanceTag) {
        for (size_t i = 0; i < 4; ++i)
            aac_detail::setBit(out, aac_detail::kInstanceTagBit + i, (*rewrite.instanceTag >> (3 - i)) & 1u);
    }
    return out;
}

// Rewrites every frame that can be rewritten; the others stay unchanged.
inline AacRewriteCount rewriteAacFrames(std::vector<ByteString>& frames, const AacRewrite& rewrite) {
    AacRewriteCount count;
    for (ByteString& frame : frames) {
        if (auto rewritten = rewriteAacFrame(frame, rewrite)) {
            frame = std::move(*rewritten);
            ++count.rewritten;
        } else {
            ++count.leftAsTheyWere;
        }
    }
    return count;
}

}  // namespace arbel::test

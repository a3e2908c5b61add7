#pragma once

// The start of a raw AAC frame as a camera writes it, learned from the
// reference. A raw frame has no sync word: what tells its first byte from any
// other is the syntax of its first element (its type and instance tag, the
// channel pair's common-window flag, the global gain, the window and the
// number of bands coded). A camera writes these fields the same way frame
// after frame, so the fields of the reference's first frames say what a frame
// start of this camera looks like; a byte inside a frame matches them only by
// rare chance.

#include <array>
#include <bitset>
#include <cstdint>
#include <vector>

namespace arbel {

// The fields of a frame's first element, read from its first kBytes bytes.
struct AacElementStart {
    static constexpr size_t kBytes = 32;
    uint8_t head = 0;        // id_syn_ele << 5 | element_instance_tag << 1 | common_window
    int globalGain = -1;     // of the first channel; -1: beyond the bytes read
    bool reservedBit = false;
    uint8_t windowSequence = 0;  // 2: eight short windows
    uint8_t windowShape = 0;
    uint8_t maxSfb = 0;
    bool predictor = false;  // long windows: predictor_data_present (never in AAC-LC)
    bool reservedMsMask = false;  // channel pair: ms_mask_present of 3
    // The first channel's section data (which codebook codes which bands)
    // cannot be right: a reserved codebook, an empty section, or sections
    // that run past the bands coded. Not judged when the bytes end first.
    bool badSections = false;
    bool channelElement = false;  // single channel, channel pair or LFE

    static AacElementStart read(const uint8_t* a);
};

class AacStartModel {
public:
    // One frame of the reference (its first AacElementStart::kBytes bytes).
    void learn(const uint8_t* a);
    bool learned() const { return frames_ > 0; }

    // Whether the bytes at a begin a frame as the learned ones do: the same
    // element, tag and common window, no reserved field or predictor, the
    // window shape of the long blocks, a band count within two of the usual
    // ones and a global gain within 24 steps (36 dB) of the usual ones. The
    // usual values leave out the tenth of the frames that stray furthest (a
    // recording starts with a few silent frames of their own kind).
    bool accepts(const uint8_t* a) const;

    // Every first byte that accepts() may accept.
    std::bitset<256> firstBytes() const;

private:
    struct Range {
        int low = 0, high = -1;
        bool empty() const { return high < low; }
        bool holds(int v, int margin) const { return v + margin >= low && v <= high + margin; }
    };
    // The values between the lowest and highest twentieth.
    static Range usual(std::vector<int> values);
    void refresh();

    static constexpr int kSfbMargin = 2;
    static constexpr int kGainMargin = 24;
    std::bitset<256> heads_;
    std::array<unsigned, 2> longShapes_{};
    std::array<unsigned, 2> shortShapes_{};
    std::vector<int> longBands_, shortBands_, gains_;
    Range longRange_, shortRange_, gainRange_;
    unsigned frames_ = 0;
};

}  // namespace arbel

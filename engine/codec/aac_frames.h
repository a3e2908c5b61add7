#pragma once

// Raw AAC frames, as MP4 and QuickTime store them, found by decoding them
// with libavcodec's AAC decoder: a raw frame has no sync word and says its
// length nowhere, so a frame is only what decodes cleanly, and its length is
// what the decoder consumed of it.

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

namespace arbel::codec {

class AacFrames {
public:
    // A decoder for the stream that the AudioSpecificConfig describes; null
    // when libavcodec cannot open one. Frames must decode to `channels`
    // channels of a whole frame's samples.
    static std::unique_ptr<AacFrames> open(std::span<const uint8_t> audioSpecificConfig, unsigned channels);
    ~AacFrames();

    struct Run {
        std::vector<uint32_t> lengths;  // of the frames at the start, in order
        bool whole = false;             // they take every byte given (trailing zero bytes aside)
        uint64_t bytes = 0;             // the sum of the lengths
    };

    // The frames laid end to end at the start of `bytes`, decoded as one
    // packet: each frame's length is the difference between what was left
    // before it and after it. The last frame that decodes before the bytes
    // stop decoding is measured on its own.
    Run frames(std::span<const uint8_t> bytes);

    // The length of the one frame at the start of `bytes` (the shortest
    // prefix that decodes to one whole frame); 0 when there is none.
    uint32_t frameLength(std::span<const uint8_t> bytes);

    unsigned samplesPerFrame() const { return samplesPerFrame_; }

private:
    AacFrames() = default;
    struct Decoder;
    // Decodes the bytes as one packet: the bytes left of it at each frame,
    // and whether it ran out cleanly.
    bool decode(std::span<const uint8_t> bytes, std::vector<int>& remaining, bool& clean);

    std::unique_ptr<Decoder> decoder_;
    unsigned channels_ = 0;
    unsigned samplesPerFrame_ = 1024;
};

}  // namespace arbel::codec

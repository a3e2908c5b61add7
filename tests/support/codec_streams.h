#pragma once

// Crafted streams for the codec-aware scan's tests: H.264 pictures (with
// B-frames when asked) from the NAL builder, raw AAC frames that decode to
// silence, PCM that sounds like a tone. Each unit differs from every other,
// so a test can tell which came back. Nothing here runs an encoder.

#include "camera_clip.h"
#include "nal_builder.h"

#include <cmath>

namespace arbel::test {

// `frames` pictures at 30 fps in decoding order, an IDR every `gop`; with B-frames
// the order is I P B B P B B ... and the counts say where each is shown.
inline VideoStream craftedH264(uint32_t frames, uint32_t gop, bool bFrames) {
    VideoStream v;
    v.format = "avc1";
    v.width = 320;
    v.height = 240;
    v.fps = 30;
    v.sps = h264Sps();
    v.pps = h264Pps();
    uint32_t frameNum = 0;
    for (uint32_t i = 0; i < frames; ++i) {
        const uint32_t inGop = i % gop;
        H264Slice s;
        // Sizes and filler differ from picture to picture.
        s.filler = 60 + (i * 53) % 400;
        s.seed = i + 1;
        if (inGop == 0) {
            frameNum = 0;
            s = {0x65, 0, 7, 0, 0, s.filler, s.seed};
        } else if (!bFrames) {
            s = {0x41, 0, 5, ++frameNum % 16, (2 * inGop) % 256, s.filler, s.seed};
        } else {
            // Decoding order I0 P3 B1 B2 P6 B4 B5 ...: a P stands for the picture
            // two further on in presentation.
            const uint32_t k = (inGop - 1) % 3;
            const uint32_t anchor = inGop - k;
            const uint32_t shown = k == 0 ? std::min(anchor + 2, gop - 1) : anchor + k - 1;
            if (k == 0) s = {0x41, 0, 5, ++frameNum % 16, (2 * shown) % 256, s.filler, s.seed};
            else s = {0x01, 0, 6, (frameNum + 1) % 16, (2 * shown) % 256, s.filler, s.seed};
        }
        v.frames.push_back(lengthPrefixed({h264SliceNal(s)}));
        v.keyframes.push_back(inGop == 0);
    }
    return v;
}

// A raw AAC frame (mono, 48 kHz) that decodes to silence: one channel with no
// scale-factor bands, then `fill` bytes of a fill element, then the end.
inline ByteString craftedAacFrame(uint8_t globalGain, uint32_t fill) {
    BitWriter w;
    w.bits(0, 3).bits(0, 4).bits(globalGain, 8).bits(0, 1).bits(0, 2).bits(0, 1).bits(0, 6).bits(0, 1);
    w.bits(0, 1).bits(0, 1).bits(0, 1);  // no pulse, TNS or gain control data
    if (fill > 0) {
        w.bits(6, 3).bits(fill, 4).bits(0, 4).bits(0, 4);
        for (uint32_t i = 1; i < fill; ++i) w.bits(0xA0 + i, 8);
    }
    w.bits(7, 3);
    return w.aligned();
}

inline AudioStream craftedAac(uint32_t frames) {
    AudioStream a;
    a.codec = AudioCodec::Aac;
    a.sampleRate = 48000;
    a.channels = 1;
    a.audioSpecificConfig = {0x11, 0x88};
    for (uint32_t i = 0; i < frames; ++i) a.aacFrames.push_back(craftedAacFrame(static_cast<uint8_t>(60 + i % 190), i % 12));
    return a;
}

// Stereo 16-bit little-endian samples of two tones.
inline AudioStream craftedPcm(double seconds) {
    AudioStream a;
    a.codec = AudioCodec::Sowt;
    a.sampleRate = 48000;
    a.channels = 2;
    const size_t frames = static_cast<size_t>(seconds * a.sampleRate);
    for (size_t i = 0; i < frames; ++i)
        for (double hz : {440.0, 523.0}) {
            const auto v = static_cast<int16_t>(9000 * std::sin(2 * M_PI * hz * static_cast<double>(i) / 48000) +
                                                 1500 * std::sin(static_cast<double>(i) * 0.37));
            a.pcm.push_back(static_cast<uint8_t>(v & 0xFF));
            a.pcm.push_back(static_cast<uint8_t>((v >> 8) & 0xFF));
        }
    return a;
}

}  // namespace arbel::test

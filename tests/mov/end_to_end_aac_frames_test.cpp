// The AAC rewrite that the end-to-end recordings rely on: it must change the
// window shape and the element tag of a frame's first element and no other
// bit, and leave alone what it cannot reach.
#include "support/aac_frames.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>

namespace arbel {
namespace {

using namespace arbel::test;

// Fields written most significant bit first, padded with the bits of a
// fixed filler so that the bytes behind the fields are not all zero.
class FieldWriter {
public:
    FieldWriter& put(uint32_t value, int count) {
        for (int i = count - 1; i >= 0; --i) bits_.push_back((value >> i) & 1u);
        return *this;
    }
    ByteString frame(size_t bytes) const {
        ByteString out(bytes, 0);
        for (size_t i = 0; i < bytes * 8; ++i) {
            const bool bit = i < bits_.size() ? bits_[i] : ((0xA5C3u >> (i % 16)) & 1u);
            if (bit) out[i / 8] |= static_cast<uint8_t>(0x80u >> (i % 8));
        }
        return out;
    }

private:
    std::vector<bool> bits_;
};

size_t bitsDiffering(const ByteString& a, const ByteString& b) {
    size_t n = 0;
    for (size_t i = 0; i < a.size() && i < b.size(); ++i)
        n += static_cast<size_t>(std::popcount(static_cast<unsigned>(a[i] ^ b[i])));
    return n;
}

// SCE, tag 0, global_gain 150, ics_info of a long block.
ByteString monoFrame(uint32_t sequence, uint32_t shape, uint32_t maxSfb) {
    FieldWriter w;
    w.put(0, 3).put(0, 4).put(150, 8).put(0, 1).put(sequence, 2).put(shape, 1);
    if (sequence == 2) w.put(maxSfb, 4).put(0x5A, 7);  // scale_factor_grouping
    else w.put(maxSfb, 6).put(0, 1);                  // predictor_data_present
    return w.frame(40);
}

TEST(AacFrameRewrite, MonoLongBlockTakesTheSineWindowAndKeepsEveryOtherBit) {
    const ByteString kbd = monoFrame(0, 1, 46);
    const auto start = readAacFrameStart(kbd);
    ASSERT_TRUE(start.has_value());
    EXPECT_EQ(start->element, AacElement::Sce);
    EXPECT_EQ(start->instanceTag, 0);
    EXPECT_EQ(start->globalGain, 150);
    EXPECT_EQ(start->windowSequence, AacWindowSequence::OnlyLong);
    EXPECT_EQ(start->windowShape, 1);
    EXPECT_EQ(start->maxSfb, 46);
    EXPECT_EQ(start->windowShapeBit, 18u);
    EXPECT_EQ(kbd[2], 0x37) << "the KBD start ffmpeg writes";

    AacRewrite sine;
    sine.sineWindow = true;
    const auto out = rewriteAacFrame(kbd, sine);
    ASSERT_TRUE(out.has_value());
    ASSERT_EQ(out->size(), kbd.size());
    EXPECT_EQ(bitsDiffering(kbd, *out), 1u);
    EXPECT_EQ((*out)[0], 0x01);
    EXPECT_EQ((*out)[2], 0x17) << "the start the camera rows look for";
    const auto after = readAacFrameStart(*out);
    ASSERT_TRUE(after.has_value());
    EXPECT_EQ(after->windowShape, 0);
    EXPECT_EQ(after->maxSfb, 46);
    EXPECT_EQ(after->globalGain, 150);

    // A frame that already has the sine window comes back unchanged.
    const auto again = rewriteAacFrame(*out, sine);
    ASSERT_TRUE(again.has_value());
    EXPECT_EQ(*again, *out);
}

TEST(AacFrameRewrite, EveryWindowSequenceKeepsItsMaxSfbWidth) {
    AacRewrite sine;
    sine.sineWindow = true;
    // LONG_START and LONG_STOP carry six bits of max_sfb, eight short windows four.
    const auto start = rewriteAacFrame(monoFrame(1, 1, 46), sine);
    const auto stop = rewriteAacFrame(monoFrame(3, 1, 47), sine);
    const ByteString shortKbd = monoFrame(2, 1, 13);
    const auto shortOut = rewriteAacFrame(shortKbd, sine);
    ASSERT_TRUE(start && stop && shortOut);
    EXPECT_EQ((*start)[2], 0x57);
    EXPECT_EQ((*stop)[2], 0xD7);
    EXPECT_EQ((*shortOut)[2], 0x9B);
    const auto shortStart = readAacFrameStart(shortKbd);
    ASSERT_TRUE(shortStart.has_value());
    EXPECT_EQ(shortStart->windowSequence, AacWindowSequence::EightShort);
    EXPECT_EQ(shortStart->maxSfb, 13);
}

TEST(AacFrameRewrite, ChannelPairWithCommonWindowTakesTagOneAndTheSineWindow) {
    // CPE, tag 0, common_window 1, ics_info: long block, KBD, max_sfb 42.
    FieldWriter w;
    w.put(1, 3).put(0, 4).put(1, 1).put(0, 1).put(0, 2).put(1, 1).put(42, 6).put(0, 1);
    const ByteString kbd = w.frame(24);
    EXPECT_EQ(kbd[0], 0x21);
    EXPECT_EQ(kbd[1], 0x1A);

    const auto start = readAacFrameStart(kbd);
    ASSERT_TRUE(start.has_value());
    EXPECT_EQ(start->element, AacElement::Cpe);
    EXPECT_TRUE(start->commonWindow);
    EXPECT_FALSE(start->globalGain.has_value()) << "with a common window the gains follow ics_info";
    EXPECT_EQ(start->windowShapeBit, 11u);
    EXPECT_EQ(start->maxSfb, 42);

    AacRewrite rewrite;
    rewrite.sineWindow = true;
    rewrite.instanceTag = 1;
    const auto out = rewriteAacFrame(kbd, rewrite);
    ASSERT_TRUE(out.has_value());
    EXPECT_EQ((*out)[0], 0x23);
    EXPECT_EQ((*out)[1], 0x0A);
    EXPECT_EQ(bitsDiffering(kbd, *out), 2u);
    EXPECT_TRUE(std::equal(kbd.begin() + 2, kbd.end(), out->begin() + 2));

    // A tag that needs all four bits.
    rewrite.instanceTag = 15;
    const auto fifteen = rewriteAacFrame(kbd, rewrite);
    ASSERT_TRUE(fifteen.has_value());
    EXPECT_EQ(readAacFrameStart(*fifteen)->instanceTag, 15);
    EXPECT_EQ((*fifteen)[0], 0x3F);
}

TEST(AacFrameRewrite, WhatTheRewriteCannotReachStaysAsItIs) {
    AacRewrite sine;
    sine.sineWindow = true;

    // A channel pair without common window: channel 1's ics_info lies behind
    // channel 0's spectral data. The tag alone can still be set.
    FieldWriter pair;
    pair.put(1, 3).put(0, 4).put(0, 1).put(140, 8).put(0, 1).put(0, 2).put(1, 1).put(42, 6);
    const ByteString separate = pair.frame(24);
    const auto start = readAacFrameStart(separate);
    ASSERT_TRUE(start.has_value());
    EXPECT_FALSE(start->commonWindow);
    EXPECT_EQ(start->globalGain, 140);
    EXPECT_EQ(start->windowShape, 1);
    EXPECT_FALSE(rewriteAacFrame(separate, sine).has_value());
    AacRewrite tagOnly;
    tagOnly.instanceTag = 1;
    EXPECT_TRUE(rewriteAacFrame(separate, tagOnly).has_value());

    // A fill element first, as ffmpeg's first frame has.
    FieldWriter fill;
    fill.put(6, 3).put(15, 4).put(0x20, 8);
    EXPECT_FALSE(readAacFrameStart(fill.frame(12)).has_value());

    // ics_reserved_bit set: no valid frame.
    FieldWriter reserved;
    reserved.put(0, 3).put(0, 4).put(150, 8).put(1, 1).put(0, 2).put(1, 1).put(46, 6);
    EXPECT_FALSE(readAacFrameStart(reserved.frame(12)).has_value());

    // Cut inside max_sfb, empty, a tag beyond four bits.
    ByteString cut = monoFrame(0, 1, 46);
    cut.resize(2);
    EXPECT_FALSE(readAacFrameStart(cut).has_value());
    EXPECT_FALSE(rewriteAacFrame({}, sine).has_value());
    AacRewrite wide;
    wide.instanceTag = 16;
    EXPECT_FALSE(rewriteAacFrame(monoFrame(0, 1, 46), wide).has_value());

    std::vector<ByteString> frames = {fill.frame(12), monoFrame(0, 1, 46), separate, monoFrame(1, 1, 45)};
    const ByteString fillBefore = frames[0];
    const AacRewriteCount count = rewriteAacFrames(frames, sine);
    EXPECT_EQ(count.rewritten, 2u);
    EXPECT_EQ(count.leftAsTheyWere, 2u);
    EXPECT_EQ(frames[0], fillBefore);
    EXPECT_EQ(frames[2], separate);
    EXPECT_EQ(frames[1][2], 0x17);
    EXPECT_EQ(frames[3][2], 0x56);
}

}  // namespace
}  // namespace arbel

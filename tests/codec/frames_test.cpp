// JPEG images walked by their markers, and raw AAC frames measured by
// decoding them: where each ends, and why bytes are none.
#include "engine/codec/aac_frames.h"
#include "engine/codec/jpeg_frame.h"
#include "engine/codec/playback_check.h"
#include "support/codec_streams.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace arbel::codec {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes segment(uint8_t marker, size_t payload, uint8_t fill = 0x11) {
    Bytes s{0xFF, marker, static_cast<uint8_t>((payload + 2) >> 8), static_cast<uint8_t>(payload + 2)};
    s.insert(s.end(), payload, fill);
    return s;
}

// SOI, DQT, SOF0, DHT, SOS, entropy-coded data (with stuffing and a restart
// marker), EOI.
Bytes jpeg(size_t entropy = 300, bool frameHeader = true) {
    Bytes j{0xFF, 0xD8};
    for (const Bytes& s : {segment(0xDB, 65), frameHeader ? segment(0xC0, 15) : Bytes{}, segment(0xC4, 40), segment(0xDA, 10)})
        j.insert(j.end(), s.begin(), s.end());
    for (size_t i = 0; i < entropy; ++i) j.push_back(static_cast<uint8_t>(0x20 + i % 0x50));
    j.insert(j.begin() + static_cast<long>(j.size() - entropy / 2), {0xFF, 0x00, 0x37, 0xFF, 0xD3, 0x42});
    j.insert(j.end(), {0xFF, 0xD9});
    return j;
}

Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

TEST(JpegFrame, EndsAtTheEndOfImageOrSaysWhyNot) {
    const Bytes image = jpeg();
    Bytes secondScan = image;
    // A second table and scan before the end, as progressive images have.
    const Bytes more = concat({segment(0xC4, 20), segment(0xDA, 10), Bytes(50, 0x33)});
    secondScan.insert(secondScan.end() - 2, more.begin(), more.end());
    Bytes shortSegment = image;
    shortSegment[4] = 0, shortSegment[5] = 1;

    struct Case {
        std::string name;
        Bytes data;
        uint64_t limit;   // 0: all of it
        uint64_t most;
        JpegFault fault;
        uint64_t end;
    } cases[] = {
        {"one image", image, 0, 1 << 20, JpegFault::None, image.size()},
        {"the first of two", concat({image, jpeg(500)}), 0, 1 << 20, JpegFault::None, image.size()},
        {"two scans", secondScan, 0, 1 << 20, JpegFault::None, secondScan.size()},
        {"cut in the entropy-coded data", image, image.size() - 20, 1 << 20, JpegFault::Cut, 0},
        {"cut in the frame header", image, 2 + 69 + 10, 1 << 20, JpegFault::Cut, 0},
        {"longer than believed", image, 0, 200, JpegFault::TooLong, 0},
        {"scan without a frame header", jpeg(300, false), 0, 1 << 20, JpegFault::NoImage, 0},
        {"segment length below 2", shortSegment, 0, 1 << 20, JpegFault::NoImage, 0},
        {"no start of image", Bytes(image.begin() + 2, image.end()), 0, 1 << 20, JpegFault::NoImage, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const MemoryBytes bytes(c.data);
        const JpegFrame f = walkJpegFrame(bytes, 0, c.limit ? c.limit : c.data.size(), c.most);
        EXPECT_EQ(static_cast<int>(f.fault), static_cast<int>(c.fault));
        if (f.ok()) {
            EXPECT_EQ(f.end, c.end);
        }
    }
}

class AacFramesTest : public ::testing::Test {
protected:
    void SetUp() override {
        frames = AacFrames::open(config, 1);
        ASSERT_TRUE(frames);
    }
    static Bytes run(std::initializer_list<Bytes> parts) { return concat(parts); }

    const Bytes config{0x11, 0x88};  // AAC LC, 48 kHz, mono
    std::unique_ptr<AacFrames> frames;
    const Bytes a = test::craftedAacFrame(100, 0), b = test::craftedAacFrame(120, 5), c = test::craftedAacFrame(140, 9);
    const Bytes garbage{0x47, 0x11, 0x22, 0x5A, 0x5A, 0x5A};
};

TEST_F(AacFramesTest, MeasuresEachFrameOfARun) {
    const uint32_t la = static_cast<uint32_t>(a.size()), lb = static_cast<uint32_t>(b.size()),
                   lc = static_cast<uint32_t>(c.size());
    const Bytes abc = run({a, b, c});
    struct Case {
        std::string name;
        Bytes data;
        std::vector<uint32_t> lengths;
        bool whole;
    } cases[] = {
        {"frames end to end", run({a, b, c}), {la, lb, lc}, true},
        {"frames then garbage", run({a, b, c, garbage}), {la, lb, lc}, false},
        {"zero bytes behind the last frame are not its own", run({a, b, Bytes(7, 0)}), {la, lb}, false},
        {"cut inside the third frame", Bytes(abc.begin(), abc.end() - 3), {la, lb}, false},
        {"garbage first", run({garbage, a, b}), {}, false},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        const AacFrames::Run r = frames->frames(k.data);
        EXPECT_EQ(r.lengths, k.lengths);
        EXPECT_EQ(r.whole, k.whole);
        uint64_t sum = 0;
        for (uint32_t n : r.lengths) sum += n;
        EXPECT_EQ(r.bytes, sum);
    }
}

TEST_F(AacFramesTest, FindsTheLengthOfOneFrameAlone) {
    EXPECT_EQ(frames->frameLength(run({b, garbage})), b.size());
    EXPECT_EQ(frames->frameLength(b), b.size());
    EXPECT_EQ(frames->frameLength(garbage), 0u);
    EXPECT_EQ(frames->frameLength(Bytes(b.begin(), b.end() - 1)), 0u);
}

TEST(AacFramesOpen, NeedsAConfigAndChannels) {
    EXPECT_TRUE(AacFrames::open(Bytes{0x11, 0x90}, 2));
    EXPECT_FALSE(AacFrames::open(Bytes{}, 1));
    EXPECT_FALSE(AacFrames::open(Bytes{0x11, 0x88}, 0));
}

TEST(PlaybackText, SaysWhatPlaysInWords) {
    struct Case {
        PlaybackCheck check;
        std::string text;
    } cases[] = {
        {{true, true, 1234, 0.0, 41.9, 41.4, 0}, "Recovered 1,234 frames (0:00\u20130:41) and 0:41 of audio, 0 decode errors"},
        {{true, true, 1, 0.0, 0.0, 0.0, 1}, "Recovered 1 frame (0:00\u20130:00), no audio, 1 decode error"},
        {{true, true, 2000000, 1.0, 3725.0, 3724.5, 12345}, "Recovered 2,000,000 frames (0:01\u20131:02:05) and 1:02:04 of audio, 12,345 decode errors"},
        {{true, false}, "The repaired file does not open as a movie"},
        {{false}, ""},
    };
    for (const Case& c : cases) EXPECT_EQ(c.check.text(), c.text);
}

}  // namespace
}  // namespace arbel::codec

// The camera-clip helper itself: the rewrites must leave streams decodable
// and the layout must describe exactly the bytes it wrote, or the end-to-end
// tests would judge the engine by a broken yardstick.
#include "support/camera_clip.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

namespace arbel {
namespace {

using namespace arbel::test;

class BitWriter {
public:
    void bits(uint32_t value, int count) {
        for (int i = count - 1; i >= 0; --i) bits_.push_back((value >> i) & 1);
    }
    void ue(uint32_t v) {
        const uint32_t x = v + 1;
        int len = 0;
        while ((x >> len) > 1) ++len;
        bits(0, len);
        bits(x, len + 1);
    }
    ByteString rbsp(uint8_t header) {
        std::vector<bool> b = bits_;
        b.push_back(true);  // stop bit
        while (b.size() % 8) b.push_back(false);
        ByteString out{header};
        for (size_t i = 0; i < b.size(); i += 8) {
            uint8_t v = 0;
            for (size_t k = 0; k < 8; ++k) v = static_cast<uint8_t>((v << 1) | b[i + k]);
            out.push_back(v);
        }
        return out;
    }

private:
    std::vector<bool> bits_;
};

// An IDR slice header (CAVLC, frame_num of 4 bits) followed by `payload`.
ByteString idrSlice(uint32_t sliceType, const std::vector<std::pair<uint32_t, int>>& payload) {
    BitWriter w;
    w.ue(0);          // first_mb_in_slice
    w.ue(sliceType);  // slice_type
    w.ue(0);          // pic_parameter_set_id
    w.bits(0, 4);     // frame_num
    w.ue(0);          // idr_pic_id
    for (const auto& [value, count] : payload) w.bits(value, count);
    return rbspToNal(w.rbsp(0x65));
}

TEST(SliceTypeRewrite, SevenBecomesTwoAndEveryLaterBitIsKept) {
    // Zero runs in the payload force emulation prevention on both sides of
    // the four-bit shift.
    const std::vector<std::pair<uint32_t, int>> payload = {{0x2A5, 10}, {0, 24}, {1, 2}, {0, 20}, {0x3, 2}, {0xABCD, 16}};
    const ByteString seven = idrSlice(7, payload);
    const ByteString two = idrSlice(2, payload);

    const auto rewritten = rewriteSliceTypeSevenToTwo(seven);
    ASSERT_TRUE(rewritten.has_value());
    EXPECT_EQ(*rewritten, two);
    EXPECT_EQ(sliceTypeOf(*rewritten), 2u);
    EXPECT_EQ((*rewritten)[1], 0xB8) << "the pair the scans look for after an I slice header";
    EXPECT_EQ(seven[1], 0x88);

    // Only slice_type 7 of a slice unit is rewritten.
    EXPECT_FALSE(rewriteSliceTypeSevenToTwo(idrSlice(2, payload)).has_value());
    EXPECT_FALSE(rewriteSliceTypeSevenToTwo(idrSlice(5, payload)).has_value());
    ByteString sps = seven;
    sps[0] = 0x67;
    EXPECT_FALSE(rewriteSliceTypeSevenToTwo(sps).has_value());
    EXPECT_FALSE(rewriteSliceTypeSevenToTwo({}).has_value());
}

TEST(SliceTypeRewrite, EmulationPreventionRoundTrips) {
    const ByteString rbsp = {0x65, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x03, 0x7F};
    const ByteString nal = rbspToNal(rbsp);
    EXPECT_EQ(nal, (ByteString{0x65, 0x00, 0x00, 0x03, 0x00, 0x00, 0x03, 0x00, 0x01, 0x00, 0x00, 0x03, 0x03, 0x7F}));
    EXPECT_EQ(nalToRbsp(nal), rbsp);

    const ByteString annexB = {0, 0, 0, 1, 0x67, 0x42, 0, 0, 1, 0x68, 0xCE, 0, 0, 0, 1, 0x65, 0x88, 0x00, 0x00, 0x03, 0x01};
    const auto nals = splitAnnexB(annexB);
    ASSERT_EQ(nals.size(), 3u);
    EXPECT_EQ(nals[0], (ByteString{0x67, 0x42}));
    EXPECT_EQ(nals[1], (ByteString{0x68, 0xCE}));
    EXPECT_EQ(nals[2], (ByteString{0x65, 0x88, 0x00, 0x00, 0x03, 0x01}));
}

ByteString segment(uint8_t marker, const ByteString& payload) {
    ByteString s{0xFF, marker, static_cast<uint8_t>((payload.size() + 2) >> 8),
                 static_cast<uint8_t>(payload.size() + 2)};
    s.insert(s.end(), payload.begin(), payload.end());
    return s;
}

ByteString huffmanTable(uint8_t classAndId, size_t symbols) {
    ByteString t{classAndId};
    ByteString counts(16, 0);
    counts[8] = static_cast<uint8_t>(std::min<size_t>(symbols, 255));
    t.insert(t.end(), counts.begin(), counts.end());
    t.insert(t.end(), symbols, 0x11);
    return t;
}

TEST(JpegRewrite, TablesAreMergedSoTheScanStartsAt581) {
    ByteString jpeg{0xFF, 0xD8};
    auto add = [&](const ByteString& s) { jpeg.insert(jpeg.end(), s.begin(), s.end()); };
    add(segment(0xE0, ByteString(14, 0x4A)));                    // APP0
    add(segment(0xFE, {'L', 'a', 'v', 'c'}));                    // COM
    ByteString q0(65, 3), q1(65, 5);
    q0[0] = 0x00;
    q1[0] = 0x01;
    add(segment(0xDB, q0));
    add(segment(0xDB, q1));
    add(segment(0xC0, {8, 0x01, 0xE0, 0x02, 0x80, 3, 1, 0x22, 0, 2, 0x11, 1, 3, 0x11, 1}));
    add(segment(0xC4, huffmanTable(0x00, 12)));
    add(segment(0xC4, huffmanTable(0x10, 162)));
    add(segment(0xC4, huffmanTable(0x01, 12)));
    add(segment(0xC4, huffmanTable(0x11, 162)));
    const ByteString scan = {0xFF, 0xDA, 0x00, 0x0C, 3, 1, 0x00, 2, 0x11, 3, 0x11, 0, 0x3F, 0,
                             0x12, 0xFF, 0x00, 0x34, 0xFF, 0xD0, 0x56, 0xFF, 0xD9};
    add(scan);

    const auto out = rewriteJpegHeader(jpeg);
    ASSERT_TRUE(out.has_value());
    ASSERT_GT(out->size(), 583u);
    EXPECT_EQ((*out)[2], 0xFF);
    EXPECT_EQ((*out)[3], 0xDB) << "quantisation tables right after the start of image";
    EXPECT_EQ((*out)[581], 0xFF);
    EXPECT_EQ((*out)[582], 0xDA);
    EXPECT_TRUE(std::equal(scan.begin(), scan.end(), out->end() - static_cast<long>(scan.size())))
        << "entropy-coded data must be untouched";
    EXPECT_EQ(std::search(out->begin(), out->end(), jpeg.begin() + 2, jpeg.begin() + 4), out->end())
        << "APP0 dropped";

    ByteString progressive = jpeg;
    const ByteString sof{0xFF, 0xC0};
    auto at = std::search(progressive.begin(), progressive.end(), sof.begin(), sof.end());
    ASSERT_NE(at, progressive.end());
    at[1] = 0xC2;
    EXPECT_FALSE(rewriteJpegHeader(progressive).has_value());
}

uint64_t u32At(const ByteString& b, uint64_t at) {
    return (uint64_t(b[at]) << 24) | (uint64_t(b[at + 1]) << 16) | (uint64_t(b[at + 2]) << 8) | b[at + 3];
}

// Fake but well-formed streams: the layout must not depend on ffmpeg.
VideoStream fakeVideo(size_t frames) {
    VideoStream v;
    v.format = "avc1";
    v.width = 64;
    v.height = 48;
    v.fps = 30;
    v.sps = {0x67, 0x64, 0x00, 0x0A, 0xAC};
    v.pps = {0x68, 0xEE, 0x3C, 0x80};
    for (size_t i = 0; i < frames; ++i) {
        const bool key = i % 10 == 0;
        ByteString unit = {static_cast<uint8_t>(key ? 0x65 : 0x41), static_cast<uint8_t>(key ? 0x88 : 0x9A)};
        unit.resize(100 + i * 7, static_cast<uint8_t>(i));
        ByteString sample = {0, 0, 0, static_cast<uint8_t>(unit.size())};
        sample.insert(sample.end(), unit.begin(), unit.end());
        v.frames.push_back(sample);
        v.keyframes.push_back(key);
    }
    return v;
}

AudioStream fakePcm(double seconds) {
    AudioStream a;
    a.codec = AudioCodec::Sowt;
    a.sampleRate = 48000;
    a.channels = 2;
    a.pcm.resize(static_cast<size_t>(seconds * 48000) * 4);
    for (size_t i = 0; i < a.pcm.size(); ++i) a.pcm[i] = static_cast<uint8_t>(i * 31);
    return a;
}

TEST(CameraLayout, TablesDescribeTheWrittenUnitsAndDamageIsAccountedFor) {
    TempDir dir;
    LayoutOptions options;
    options.framesPerVideoChunk = 4;
    options.audioFirst = true;
    options.nal = {0x25, 0x21, false};
    const CameraFile file = layOutCameraFile(fakeVideo(22), fakePcm(1.0), options);

    ASSERT_EQ(file.videoFrames.size(), 22u);
    ASSERT_EQ(file.audioChunks.size(), 6u) << "one audio chunk per video chunk";
    EXPECT_EQ(file.audioChunks[0].offset, file.mdatOffset + 8) << "audio first";
    EXPECT_EQ(file.audioChunks[0].size, 4u * 1600 * 4);
    EXPECT_EQ(file.audioChunks[5].size, 2u * 1600 * 4) << "the last chunk carries the audio of its two frames";
    EXPECT_EQ(file.videoFrames[0].offset, file.audioChunks[0].offset + file.audioChunks[0].size);
    EXPECT_EQ(file.bytes[file.videoFrames[0].offset + 4], 0x25);
    EXPECT_EQ(file.bytes[file.videoFrames[1].offset + 4], 0x21);
    EXPECT_EQ(u32At(file.bytes, file.mdatOffset), file.moovOffset - file.mdatOffset);

    std::string error;
    const auto tracks = readTracks(dir.write("clip.mov", file.bytes), error);
    EXPECT_EQ(error, "");
    ASSERT_EQ(tracks.size(), 2u);
    EXPECT_EQ(tracks[0].handler, "vide");
    EXPECT_EQ(tracks[0].format, "avc1");
    ASSERT_EQ(tracks[0].units.size(), file.videoFrames.size());
    for (size_t i = 0; i < file.videoFrames.size(); ++i) {
        EXPECT_EQ(tracks[0].units[i].offset, file.videoFrames[i].offset);
        EXPECT_EQ(tracks[0].units[i].size, file.videoFrames[i].size);
    }
    EXPECT_EQ(tracks[1].handler, "soun");
    ASSERT_EQ(tracks[1].units.size(), file.audioChunks.size());
    for (size_t i = 0; i < file.audioChunks.size(); ++i) {
        EXPECT_EQ(tracks[1].units[i].offset, file.audioChunks[i].offset);
        EXPECT_EQ(tracks[1].units[i].size, file.audioChunks[i].size);
    }

    // Cut in the middle of frame 9: frames 0-8 and the audio chunks before
    // them survive; the result keeps no movie atom and an unset mdat size.
    const auto& cutFrame = file.videoFrames[9];
    const ByteString cut = truncatedRecording(file, cutFrame.offset + 3);
    EXPECT_EQ(u32At(cut, file.mdatOffset), 0u);
    const Survivors s = survivorsOf(file, cut);
    EXPECT_EQ(s.videoFrames.size(), 9u);
    EXPECT_EQ(s.audioUnits.size(), 3u);
    EXPECT_EQ(s.audioBytes, 3u * 4 * 1600 * 4);

    const Survivors zeroed = survivorsOf(file, headerZeroed(file, file.videoFrames[0].offset + 5));
    EXPECT_EQ(zeroed.videoFrames.size(), 21u);
    EXPECT_EQ(zeroed.audioUnits.size(), 5u);
}

}  // namespace
}  // namespace arbel

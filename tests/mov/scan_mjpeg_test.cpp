// The Motion-JPEG scan: groups of fifteen frames with audio between them.
#include "scan_fixture.h"

#include <cstring>

namespace arbel {
namespace {

using test::MediaDataBuilder;

class MjpegScan : public test::ScanFixture {
protected:
    using Frames = std::vector<MediaDataBuilder::Unit>;

    static Frames group(MediaDataBuilder& m, size_t count, size_t base) {
        Frames frames;
        for (size_t i = 0; i < count; ++i) frames.push_back(m.jpeg(base + i * 13).last());
        return frames;
    }

    test::MovStages& prepareMjpeg(const std::vector<uint8_t>& damaged, uint64_t chunk) {
        test::MovStages& e = prepare(damaged);
        e.templates.sizeAudio = chunk;
        e.analysis.Mjpeg_code_present = 1;
        return e;
    }

    // Checks that the result holds `frames` from `offset` on, back to back.
    void expectGroupAt(const std::vector<uint8_t>& source, const Frames& frames, uint64_t offset) {
        const std::vector<uint8_t> out = result();
        for (const auto& f : frames) {
            ASSERT_LE(offset + f.length, out.size());
            EXPECT_EQ(slice(out, offset, f.length), slice(source, f.position, f.length));
            offset += f.length;
        }
    }

    static uint64_t bytesOf(const Frames& frames) {
        uint64_t n = 0;
        for (const auto& f : frames) n += f.length;
        return n;
    }
};

TEST_F(MjpegScan, GroupsOfFifteenWithAudioBetweenThem) {
    MediaDataBuilder m;
    m.mdatHeader(0);
    const auto lead = m.audio(1000).last();
    const Frames g1 = group(m, 15, 700);
    const auto a1 = m.audio(1000).last();
    const Frames g2 = group(m, 15, 900);
    const auto a2 = m.audio(1004).last();  // chunks vary a little
    const Frames g3 = group(m, 15, 650);
    const auto a3 = m.audio(1000).last();  // the file ends in audio

    prepareMjpeg(m.data(), 1000);
    ASSERT_TRUE(scanMjpeg());
    test::MovStages& e = *engine;
    EXPECT_EQ(e.report.scanMarker, "MJPEG");

    ASSERT_EQ(e.tables.sample_count(), 45u);
    std::vector<uint64_t> lengths;
    for (const Frames* g : {&g1, &g2, &g3})
        for (const auto& f : *g) lengths.push_back(f.length);
    EXPECT_EQ(e.tables.mjpegFrameLengths, lengths);
    EXPECT_EQ(e.tables.Sum_video, bytesOf(g1) + bytesOf(g2) + bytesOf(g3));

    const uint64_t g1At = 8 + 1000;
    const uint64_t a1At = g1At + bytesOf(g1);
    const uint64_t g2At = a1At + a1.length;
    const uint64_t a2At = g2At + bytesOf(g2);
    const uint64_t g3At = a2At + a2.length;
    const uint64_t a3At = g3At + bytesOf(g3);
    EXPECT_EQ(e.tables.mjpegLeadingAudioSize, 1000u);
    EXPECT_EQ(e.tables.mjpegVideoChunkOffsets, (std::vector<uint64_t>{g1At, g2At, g3At}));
    EXPECT_EQ(e.tables.mjpegAudioChunkOffsets, (std::vector<uint64_t>{a1At, a2At, a3At}));
    EXPECT_EQ(e.tables.sum_audio, a1.length + a2.length + a3.length);
    EXPECT_EQ(e.tables.Audio_buffer_size, (std::vector<uint64_t>{1000, 1004, 1000}));

    const std::vector<uint8_t> out = result();
    ASSERT_EQ(out.size(), a3At + a3.length);
    EXPECT_EQ(slice(out, 0, 8), (std::vector<uint8_t>{0, 0, 0, 0, 'm', 'd', 'a', 't'}));
    EXPECT_EQ(slice(out, 8, 1000), slice(m.data(), lead.position, lead.length));
    expectGroupAt(m.data(), g1, g1At);
    EXPECT_EQ(slice(out, a2At, a2.length), slice(m.data(), a2.position, a2.length));
    expectGroupAt(m.data(), g3, g3At);
}

TEST_F(MjpegScan, BrokenRunDropsItsPendingFrames) {
    MediaDataBuilder m;
    m.mdatHeader(0);
    m.audio(1000);
    const Frames g1 = group(m, 15, 700);
    const auto a1 = m.audio(1000).last();
    group(m, 7, 800);  // the run breaks on audio after seven frames
    m.audio(1000);
    const Frames g2 = group(m, 15, 760);
    const auto a2 = m.audio(1000).last();

    prepareMjpeg(m.data(), 1000);
    ASSERT_TRUE(scanMjpeg());
    test::MovStages& e = *engine;
    ASSERT_EQ(e.tables.sample_count(), 30u);
    EXPECT_EQ(e.tables.mjpegFrameLengths.size(), 30u);
    EXPECT_EQ(e.tables.video_buffer_size.size(), 30u);
    const uint64_t g2At = 8 + 1000 + bytesOf(g1) + a1.length;
    EXPECT_EQ(e.tables.mjpegVideoChunkOffsets, (std::vector<uint64_t>{1008, g2At}));
    EXPECT_EQ(e.tables.mjpegAudioChunkOffsets, (std::vector<uint64_t>{1008 + bytesOf(g1), g2At + bytesOf(g2)}));
    EXPECT_EQ(e.tables.sum_audio, a1.length + a2.length);
    expectGroupAt(m.data(), g2, g2At);
}

TEST_F(MjpegScan, WhatIsNoFrameBreaksTheGroup) {
    for (int damage = 0; damage < 2; ++damage) {
        SCOPED_TRACE(damage == 0 ? "movie atom inside" : "no start of scan at 581");
        MediaDataBuilder m;
        m.mdatHeader(0);
        m.audio(1000);
        const Frames spoiled = group(m, 15, 700);
        const auto lead = m.audio(1000).last();
        const Frames g = group(m, 15, 700);
        m.audio(1000);
        std::vector<uint8_t> bytes = m.data();
        if (damage == 0) std::memcpy(bytes.data() + spoiled[4].position + 600, "moov", 4);
        else bytes[spoiled[4].position + 582] = 0xDB;

        prepareMjpeg(bytes, 1000);
        ASSERT_TRUE(scanMjpeg());
        EXPECT_EQ(engine->tables.sample_count(), 15u);
        // The audio before the first whole group leads the result.
        EXPECT_EQ(engine->tables.mjpegLeadingAudioSize, 1000u);
        EXPECT_EQ(engine->tables.mjpegVideoChunkOffsets, (std::vector<uint64_t>{1008}));
        EXPECT_EQ(slice(result(), 8, 1000), slice(bytes, lead.position, lead.length));
        expectGroupAt(bytes, g, 1008);
    }
}

TEST_F(MjpegScan, NoLeadingAudioWhenTheFirstFrameIsTooNearTheStart) {
    MediaDataBuilder m;
    m.mdatHeader(0);
    const Frames g = group(m, 15, 700);
    m.audio(1000);

    prepareMjpeg(m.data(), 1000);
    ASSERT_TRUE(scanMjpeg());
    EXPECT_EQ(engine->tables.mjpegLeadingAudioSize, 0u);
    EXPECT_EQ(engine->tables.mjpegVideoChunkOffsets, (std::vector<uint64_t>{8}));
    expectGroupAt(m.data(), g, 8);
}

TEST_F(MjpegScan, WideHeaderMovesEveryOffset) {
    MediaDataBuilder m;
    m.mdatHeader(0);
    m.audio(1000);
    const Frames g = group(m, 15, 700);
    m.audio(1000);

    prepareMjpeg(m.data(), 1000).templates.its_A_morethen_4GB_FILE = 1;
    ASSERT_TRUE(scanMjpeg());
    const std::vector<uint8_t> out = result();
    EXPECT_EQ(slice(out, 0, 16), (std::vector<uint8_t>{0, 0, 0, 1, 'm', 'd', 'a', 't', 0, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(engine->tables.mjpegVideoChunkOffsets, (std::vector<uint64_t>{16 + 1000}));
    EXPECT_EQ(engine->tables.mjpegAudioChunkOffsets, (std::vector<uint64_t>{16 + 1000 + bytesOf(g)}));
    expectGroupAt(m.data(), g, 1016);
}

TEST_F(MjpegScan, ImplausibleChunkSizeIsNeitherReadNorWritten) {
    MediaDataBuilder m;
    m.mdatHeader(0);
    m.audio(1000);
    const Frames g = group(m, 15, 700);
    m.audio(1000);

    prepareMjpeg(m.data(), UINT64_MAX - 7);
    ASSERT_TRUE(scanMjpeg());
    EXPECT_EQ(engine->tables.sample_count(), 15u);
    EXPECT_EQ(engine->tables.mjpegLeadingAudioSize, 0u);
    // Behind the last group only what the file still holds is taken.
    EXPECT_EQ(engine->tables.sum_audio, 1000u);
    EXPECT_EQ(result().size(), 8 + bytesOf(g) + 1000);
}

}  // namespace
}  // namespace arbel

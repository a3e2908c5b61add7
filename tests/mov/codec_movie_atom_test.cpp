// The codec-aware movie atom read back: every size equal to its content, the
// tables describing the samples found, composition offsets and an edit list
// only where pictures are reordered, 64-bit chunk offsets past 4 GiB.
#include "engine/box_writer.h"
#include "engine/mov/codec_movie_atom.h"
#include "platform/output_writer.h"
#include "support/atom_tree.h"
#include "support/codec_streams.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <cmath>

namespace arbel {
namespace {

using namespace arbel::test;
using codec::PresentationKey;

TEST(CompositionOffsets, PutEachPictureWhereItIsShown) {
    struct Case {
        std::string name;
        std::vector<PresentationKey> keys;
        std::vector<int64_t> offsets;
        int64_t delay;
    } cases[] = {
        {"shown as decoded", {{0, 0}, {0, 2}, {0, 4}}, {}, 0},
        {"I P B B", {{0, 0}, {0, 6}, {0, 2}, {0, 4}}, {512, 1536, 0, 0}, 512},
        {"a new period starts its count again", {{0, 0}, {0, 4}, {0, 2}, {1, 0}, {1, 2}}, {512, 1024, 0, 512, 512}, 512},
        {"no keys", {}, {}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TrackSamples video;
        video.order = c.keys;
        video.sizes.assign(c.keys.size(), 10);
        video.offsets.assign(c.keys.size(), 0);
        const CompositionOffsets o = compositionOffsets(video, 512);
        EXPECT_EQ(o.offsets, c.offsets);
        EXPECT_EQ(o.delay, c.delay);
    }
}

class CodecMovie : public ::testing::Test {
protected:
    // The model of a crafted reference (H.264 and the given sound).
    static ReferenceModel modelOf(const AudioStream& sound) {
        LayoutOptions layout;
        const CameraFile ref = layOutCameraFile(craftedH264(30, 30, false), sound, layout);
        std::string why;
        auto m = learnMovie(std::span<const uint8_t>(ref.bytes).subspan(ref.moovOffset + 8), {}, why);
        EXPECT_TRUE(m) << why;
        return *m;
    }

    static void add(TrackSamples& t, uint64_t offset, uint32_t size, bool opensChunk = false) {
        t.offsets.push_back(offset);
        t.sizes.push_back(size);
        t.opensChunk.push_back(opensChunk ? 1 : 0);
        t.bytes += size;
    }

    AtomTree write(const ReferenceModel& m, const CodecTables& tables) {
        const std::string path = dir.file("movie.mov");
        OutputWriter out;
        EXPECT_TRUE(out.create(path, OutputWriter::Creation::Replace));
        {
            BoxWriter box(out, BoxWriter::Format::QuickTime);
            writeCodecMovie(box, m, tables);
        }
        EXPECT_TRUE(out.close());
        AtomTree tree = AtomTree::parseFile(path);
        for (const std::string& e : tree.errors()) ADD_FAILURE() << e;
        return tree;
    }

    TempDir dir;
};

TEST_F(CodecMovie, RebuildsTheTablesAndTimesReorderedPictures) {
    const ReferenceModel m = modelOf(craftedAac(50));
    const uint32_t delta = m.videoTrack()->sampleDelta;
    CodecTables t;
    // I P B B in one chunk, then two AAC frames, then one more.
    add(t.video, 1000, 100);
    add(t.video, 1100, 150);
    add(t.video, 1250, 150);
    add(t.video, 1400, 60);
    t.video.key = {1, 0, 0, 0};
    t.video.order = {{0, 0}, {0, 6}, {0, 2}, {0, 4}};
    add(t.audio, 1460, 10, true);
    add(t.audio, 1470, 12);
    add(t.audio, 2000, 9, true);
    const AtomTree tree = write(m, t);

    const Atom* stbl = tree.find("moov/trak[0]/mdia/minf/stbl");
    ASSERT_NE(stbl, nullptr);
    EXPECT_EQ(tree.timeToSample(*tree.find("moov/trak[0]/mdia/minf/stbl/stts")), (std::vector<uint64_t>{4, delta}));
    EXPECT_EQ(tree.sampleSizes(*tree.find("moov/trak[0]/mdia/minf/stbl/stsz")),
              (std::vector<uint64_t>{100, 150, 150, 60}));
    EXPECT_EQ(tree.chunkOffsets(*tree.find("moov/trak[0]/mdia/minf/stbl/stco")), (std::vector<uint64_t>{1000}));
    // ctts: count/offset pairs; the delay comes back through the edit list.
    const Atom* ctts = tree.find("moov/trak[0]/mdia/minf/stbl/ctts");
    ASSERT_NE(ctts, nullptr);
    const uint64_t c = ctts->payloadOffset();
    EXPECT_EQ(tree.u32(c + 4), 3u);  // (1, d), (1, 3d), (2, 0)
    EXPECT_EQ(tree.u32(c + 12), delta);
    EXPECT_EQ(tree.u32(c + 20), 3 * delta);
    EXPECT_EQ(tree.u32(c + 24), 2u);
    EXPECT_EQ(tree.u32(c + 28), 0u);
    const Atom* elst = tree.find("moov/trak[0]/edts/elst");
    ASSERT_NE(elst, nullptr);
    EXPECT_EQ(tree.u32(elst->payloadOffset() + 12), delta) << "media time of the first picture shown";
    const Atom* stss = tree.find("moov/trak[0]/mdia/minf/stbl/stss");
    if (m.videoTrack()->hasSyncTable) {
        ASSERT_NE(stss, nullptr);
        EXPECT_EQ(tree.u32(stss->payloadOffset() + 4), 1u);
        EXPECT_EQ(tree.u32(stss->payloadOffset() + 8), 1u);
    }
    // The media header says how long the samples last.
    const Atom* mdhd = tree.find("moov/trak[0]/mdia/mdhd");
    EXPECT_EQ(tree.u32(mdhd->payloadOffset() + 16), 4 * delta);

    // Sound: three frames in two chunks.
    EXPECT_EQ(tree.sampleSizes(*tree.find("moov/trak[1]/mdia/minf/stbl/stsz")), (std::vector<uint64_t>{10, 12, 9}));
    EXPECT_EQ(tree.chunkOffsets(*tree.find("moov/trak[1]/mdia/minf/stbl/stco")), (std::vector<uint64_t>{1460, 2000}));
    const Atom* stsc = tree.find("moov/trak[1]/mdia/minf/stbl/stsc");
    EXPECT_EQ(tree.u32(stsc->payloadOffset() + 4), 2u);
    EXPECT_EQ(tree.u32(stsc->payloadOffset() + 12), 2u);
    EXPECT_EQ(tree.u32(stsc->payloadOffset() + 24), 1u);
    EXPECT_EQ(tree.find("moov/trak[1]/edts"), nullptr);
}

TEST_F(CodecMovie, PicturesShownAsDecodedNeedNoOffsetsAndFarOffsetsTakeCo64) {
    const ReferenceModel m = modelOf(craftedAac(50));
    CodecTables t;
    add(t.video, 100, 10);
    add(t.video, (5ull << 30), 10, true);
    t.video.key = {1, 0};
    t.video.order = {{0, 0}, {0, 2}};
    const AtomTree tree = write(m, t);
    EXPECT_EQ(tree.find("moov/trak[0]/mdia/minf/stbl/ctts"), nullptr);
    EXPECT_EQ(tree.find("moov/trak[0]/edts"), nullptr);
    const Atom* co64 = tree.find("moov/trak[0]/mdia/minf/stbl/co64");
    ASSERT_NE(co64, nullptr);
    EXPECT_EQ(tree.chunkOffsets(*co64), (std::vector<uint64_t>{100, 5ull << 30}));
    // No sound found: one track.
    EXPECT_EQ(tree.find("moov/trak[1]"), nullptr);
    EXPECT_EQ(codecMovieTiming(m, t).tracks, 1);
}

TEST_F(CodecMovie, DurationsPastThirtyTwoBitsWidenTheHeadersToVersionOne) {
    ReferenceModel m = modelOf(craftedAac(50));
    TrackModel& video = m.tracks[static_cast<size_t>(m.video)];
    video.sampleDelta = 0x80000000u;  // three pictures last 1.5 × 2^32 media units
    CodecTables t;
    add(t.video, 100, 10);
    add(t.video, 110, 10);
    add(t.video, 120, 10);
    t.video.key = {1, 0, 0};
    t.video.order = {{0, 0}, {0, 4}, {0, 2}};  // reordered: an edit list too
    add(t.audio, 130, 10, true);
    const AtomTree tree = write(m, t);

    const uint64_t media = 3ull * 0x80000000u;
    const uint64_t movie = static_cast<uint64_t>(
        std::llround(static_cast<long double>(media) * m.movieTimescale / video.timescale));
    struct Widened {
        const char* path;
        uint64_t durationAt;  // in the version-1 payload
        uint64_t duration;
        uint32_t field20;     // the field after the times: time scale, or track ID
    };
    for (const Widened& w : {Widened{"moov/mvhd", 24, movie, m.movieTimescale},
                             Widened{"moov/trak[0]/tkhd", 28, movie, 1},
                             Widened{"moov/trak[0]/mdia/mdhd", 24, media, video.timescale}}) {
        SCOPED_TRACE(w.path);
        const Atom* a = tree.find(w.path);
        ASSERT_NE(a, nullptr);
        EXPECT_EQ(tree.bytes().at(a->payloadOffset()), 1u) << "version";
        const uint64_t at = a->payloadOffset() + w.durationAt;
        EXPECT_EQ((uint64_t{tree.u32(at)} << 32) | tree.u32(at + 4), w.duration);
        EXPECT_EQ(tree.u32(a->payloadOffset() + 20), w.field20);
    }
    EXPECT_EQ(tree.find("moov/trak[0]/tkhd")->size, 104u);  // 92 in version 0: three fields 4 bytes wider
    const Atom* elst = tree.find("moov/trak[0]/edts/elst");
    ASSERT_NE(elst, nullptr);
    EXPECT_EQ(tree.bytes().at(elst->payloadOffset()), 1u);
    EXPECT_EQ((uint64_t{tree.u32(elst->payloadOffset() + 8)} << 32) | tree.u32(elst->payloadOffset() + 12), movie);
    // Sound of an ordinary length keeps its version-0 header.
    const Atom* soundHeader = tree.find("moov/trak[1]/mdia/mdhd");
    ASSERT_NE(soundHeader, nullptr);
    EXPECT_EQ(tree.bytes().at(soundHeader->payloadOffset()), 0u);
}

TEST_F(CodecMovie, PcmSamplesAreFramesInChunksOfTheBytesFound) {
    const ReferenceModel m = modelOf(craftedPcm(1.0));
    const TrackModel& a = *m.audioTrack();
    ASSERT_EQ(a.pcmBytesPerFrame, 4u);
    CodecTables t;
    add(t.video, 100, 10);
    t.video.key = {1};
    add(t.audio, 110, 8192, true);
    add(t.audio, 9000, 4096, true);
    const AtomTree tree = write(m, t);
    const Atom* stsz = tree.find("moov/trak[1]/mdia/minf/stbl/stsz");
    ASSERT_NE(stsz, nullptr);
    EXPECT_EQ(tree.u32(stsz->payloadOffset() + 8), 3072u) << "frames, not chunks";
    const Atom* stsc = tree.find("moov/trak[1]/mdia/minf/stbl/stsc");
    EXPECT_EQ(tree.u32(stsc->payloadOffset() + 12), 2048u);
    EXPECT_EQ(tree.u32(stsc->payloadOffset() + 24), 1024u);
    EXPECT_EQ(tree.timeToSample(*tree.find("moov/trak[1]/mdia/minf/stbl/stts")),
              (std::vector<uint64_t>{3072, a.sampleDelta}));
}

}  // namespace
}  // namespace arbel

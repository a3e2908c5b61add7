// The general movie atom read back atom by atom.
#include "engine/box_writer.h"
#include "engine/mov/movie_atom.h"
#include "writer_fixture.h"

namespace arbel::test {
namespace {

class GeneralAtom : public WriterTest {
protected:
    // Runs the final phase over what the test recorded.
    AtomTree repair() {
        engine.finishGeneralPath();
        expectCompleted();
        return result();
    }

    std::vector<uint8_t> fileSlice(const AtomTree& tree, uint64_t offset, uint64_t length) const {
        const auto& b = tree.bytes();
        if (offset + length > b.size()) return {};
        return {b.begin() + static_cast<std::ptrdiff_t>(offset), b.begin() + static_cast<std::ptrdiff_t>(offset + length)};
    }

    void expectTablesMatchUnits(const AtomTree& tree, const std::string& stbl, const std::vector<uint64_t>& starts,
                                const std::vector<uint64_t>& sizes, uint8_t firstSeed, uint8_t seedStep) {
        const Atom* stsz = tree.find(stbl + "/stsz");
        const Atom* stco = tree.find(stbl + "/stco");
        ASSERT_NE(stsz, nullptr);
        ASSERT_NE(stco, nullptr);
        EXPECT_EQ(tree.sampleSizes(*stsz), sizes);
        EXPECT_EQ(tree.chunkOffsets(*stco), starts);
        for (size_t i = 0; i < starts.size(); ++i) {
            EXPECT_EQ(fileSlice(tree, starts[i], sizes[i]),
                      unitBytes(sizes[i], static_cast<uint8_t>(firstSeed + seedStep * i)))
                << stbl << " unit " << i;
        }
    }
};

TEST_F(GeneralAtom, EverySizeEqualsItsContentAndTheTablesPointAtTheUnits) {
    openOutput();
    addInterleaved(12, 9);
    const uint64_t mediaEnd = engine.result.outputfile.cursor();
    const AtomTree tree = repair();

    ASSERT_EQ(tree.top().size(), 2u);
    EXPECT_EQ(tree.top()[0].type, "mdat");
    EXPECT_EQ(tree.top()[0].size, mediaEnd);
    EXPECT_EQ(tree.top()[1].type, "moov");
    EXPECT_EQ(tree.top()[1].offset + tree.top()[1].size, tree.bytes().size());

    expectTablesMatchUnits(tree, "moov/trak[0]/mdia/minf/stbl", engine.tables.video_buffer_start, engine.tables.video_buffer_size, 0, 1);
    expectTablesMatchUnits(tree, "moov/trak[1]/mdia/minf/stbl", engine.tables.Audio_buffer_start, engine.tables.Audio_buffer_size,
                           0x80, 1);

    // One sample per chunk, every sample lasting the reference's delta.
    const Atom* stts = tree.find("moov/trak[0]/mdia/minf/stbl/stts");
    ASSERT_NE(stts, nullptr);
    EXPECT_EQ(tree.timeToSample(*stts), (std::vector<uint64_t>{12, 1001}));
    const Atom* stsc = tree.find("moov/trak[0]/mdia/minf/stbl/stsc");
    ASSERT_NE(stsc, nullptr);
    EXPECT_EQ(tree.payload(*stsc), Bytes().u32be(0).u32be(1).u32be(1).u32be(1).u32be(1).vec());

    // AAC: one stts entry of A samples with delta X0 / A, X0 = tsA * A / (Aref * tsA / DA).
    const Atom* audioStts = tree.find("moov/trak[1]/mdia/minf/stbl/stts");
    ASSERT_NE(audioStts, nullptr);
    const uint64_t q = 47 * 48000 / 48000;
    EXPECT_EQ(tree.timeToSample(*audioStts), (std::vector<uint64_t>{9, 48000 * 9 / q / 9}));

    // The reference's sample descriptions are carried over unchanged.
    const Atom* stsd = tree.find("moov/trak[0]/mdia/minf/stbl");
    ASSERT_NE(stsd, nullptr);
    EXPECT_EQ(fileSlice(tree, stsd->offset + 4, engine.templates.videoSampleDescription.size()), engine.templates.videoSampleDescription);
}

TEST_F(GeneralAtom, MovieAndTrackHeadersCarryTheFixedValuesAndTheReferenceGeometry) {
    openOutput();
    addInterleaved(12, 4);
    const AtomTree tree = repair();

    // 12 samples of 1001 units, reference-timed: the movie lasts 12 * 1001 units, not
    // the reference's 300300, and the rate stays the reference's 30000 / 1001.
    const Atom* mvhd = tree.find("moov/mvhd");
    ASSERT_NE(mvhd, nullptr);
    Bytes expected;
    expected.u32be(0x6C).text("mvhd").u32be(0).u32be(0xCAA25B8C).u32be(0xCAA25B8C).u32be(30000).u32be(12012);
    expected.u32be(0x00010000).u16be(0x00FF).zeros(10);
    expected.u32be(0x00010000).u32be(0).u32be(0).u32be(0).u32be(0x00010000).u32be(0).u32be(0).u32be(0).u32be(0x40000000);
    expected.zeros(24).u32be(3);
    EXPECT_EQ(tree.atomBytes(*mvhd), expected.vec());

    const Atom* tkhd = tree.find("moov/trak[0]/tkhd");
    ASSERT_NE(tkhd, nullptr);
    Bytes video;
    video.u32be(0x5C).text("tkhd").u32be(0xF).u32be(0xC9B7BFD8).u32be(0xCADFC842).u32be(1).u32be(0).u32be(12012);
    video.zeros(16).append(std::vector<uint8_t>(engine.templates.trak_data.begin() + 48, engine.templates.trak_data.end()));
    EXPECT_EQ(tree.atomBytes(*tkhd), video.vec());

    const Atom* soundTkhd = tree.find("moov/trak[1]/tkhd");
    ASSERT_NE(soundTkhd, nullptr);
    Bytes sound;
    sound.u32be(0x5C).text("tkhd").u32be(0xF).u32be(0xC60F8ACE).u32be(0xCAD441C4).u32be(2).u32be(0).u32be(12012);
    sound.zeros(8).u16be(0).u16be(0).u16be(0x0100).u16be(0);
    sound.u32be(0x00010000).u32be(0).u32be(0).u32be(0).u32be(0x00010000).u32be(0).u32be(0).u32be(0).u32be(0x40000000);
    sound.u32be(0).u32be(0);
    EXPECT_EQ(tree.atomBytes(*soundTkhd), sound.vec());

    // The media header: the reference piece, then the duration, then the
    // language taken from the front of the handler piece.
    const Atom* mdhd = tree.find("moov/trak[0]/mdia/mdhd");
    ASSERT_NE(mdhd, nullptr);
    EXPECT_EQ(tree.atomBytes(*mdhd), mediaHeaderPiece(30000).u32be(12012).u32be(0x55C40000).vec());
    const Atom* hdlr = tree.find("moov/trak[0]/mdia/hdlr");
    ASSERT_NE(hdlr, nullptr);
    EXPECT_EQ(tree.atomBytes(*hdlr), handlerAtom("mhlr", "vide").vec());
    EXPECT_NE(tree.find("moov/trak[0]/mdia/minf/vmhd"), nullptr);
    EXPECT_NE(tree.find("moov/trak[0]/mdia/minf/dinf/dref"), nullptr);
    EXPECT_NE(tree.find("moov/trak[1]/mdia/minf/smhd"), nullptr);
}

struct Placement {
    const char* name;
    bool signature64, signature0Bg, aac;
    bool inside;
};

class AudioTrackPlacement : public GeneralAtom, public ::testing::WithParamInterface<Placement> {};

TEST_P(AudioTrackPlacement, AudioTrackLiesInsideOrAfterTheMovieAtom) {
    const Placement& c = GetParam();
    engine.analysis.flags.bSignature64 = c.signature64;
    engine.analysis.flags.bSignature0Bg = c.signature0Bg;
    engine.analysis.mp4aPresent = c.aac ? 1 : 0;
    openOutput();
    addInterleaved(6, 6);
    const AtomTree tree = repair();

    const Atom* moov = tree.find("moov");
    ASSERT_NE(moov, nullptr);
    if (c.inside) {
        ASSERT_EQ(tree.top().size(), 2u);
        EXPECT_NE(tree.find("moov/trak[1]/mdia/minf/stbl/stco"), nullptr);
    } else {
        ASSERT_EQ(tree.top().size(), 3u);
        EXPECT_EQ(tree.find("moov/trak[1]"), nullptr);
        EXPECT_EQ(tree.top()[2].type, "trak");
        EXPECT_EQ(tree.top()[2].offset, moov->offset + moov->size);
        const Atom* stco = tree.find("trak/mdia/minf/stbl/stco");
        ASSERT_NE(stco, nullptr);
        EXPECT_EQ(tree.chunkOffsets(*stco), engine.tables.Audio_buffer_start);
    }
    EXPECT_EQ(postedWith("track").size(), 2u);
}

INSTANTIATE_TEST_SUITE_P(Signatures, AudioTrackPlacement,
                         ::testing::Values(Placement{"PlainAac", false, false, true, true},
                                           Placement{"Signature64", true, false, true, false},
                                           Placement{"Signature0BgAac", false, true, true, false},
                                           Placement{"Signature0BgPcm", false, true, false, true}),
                         [](const auto& param) { return std::string(param.param.name); });

TEST_F(GeneralAtom, StopMotionHasOneTrackAndEndsAfterTheVideoChunkTable) {
    engine.analysis.bIsStopMotionFile = 1;
    openOutput();
    addInterleaved(5, 3);
    const AtomTree tree = repair();

    ASSERT_EQ(tree.top().size(), 2u);
    EXPECT_EQ(tree.find("moov/trak[1]"), nullptr);
    const Atom* stco = tree.find("moov/trak[0]/mdia/minf/stbl/stco");
    ASSERT_NE(stco, nullptr);
    EXPECT_EQ(stco->offset + stco->size, tree.bytes().size());
    ASSERT_EQ(postedWith("track").size(), 1u);
    EXPECT_EQ(postedWith("track")[0].text, "1");
    EXPECT_EQ(postedWith("fps")[0].text, "10");
}

TEST_F(GeneralAtom, TrackGeometryIsTakenFromAVersion1TrackHeaderToo) {
    Bytes version1;
    version1.u32be(104).text("tkhd").u32be(0x0100000F).zeros(48);
    Bytes geometry;
    for (int i = 0; i < 44; ++i) geometry.u8(static_cast<uint8_t>(0x90 + i));
    version1.append(geometry);
    engine.templates.trak_data = version1.vec();
    openOutput();
    addInterleaved(12, 2);
    const AtomTree tree = repair();
    const Atom* tkhd = tree.find("moov/trak[0]/tkhd");
    ASSERT_NE(tkhd, nullptr);
    EXPECT_EQ(std::vector<uint8_t>(tree.bytes().begin() + static_cast<std::ptrdiff_t>(tkhd->offset + 48),
                                   tree.bytes().begin() + static_cast<std::ptrdiff_t>(tkhd->offset + 92)),
              geometry.vec());
}

TEST_F(GeneralAtom, ATrackHeaderTooShortForItsGeometryGetsTheIdentityMatrix) {
    engine.templates.trak_data = Bytes().u32be(40).text("tkhd").zeros(32).vec();
    openOutput();
    addInterleaved(12, 2);
    const AtomTree tree = repair();
    const Atom* tkhd = tree.find("moov/trak[0]/tkhd");
    ASSERT_NE(tkhd, nullptr);
    EXPECT_EQ(tree.u32(tkhd->offset + 48), 0x00010000u);
    EXPECT_EQ(tree.u32(tkhd->offset + 64), 0x00010000u);
    EXPECT_EQ(tree.u32(tkhd->offset + 80), 0x40000000u);
    EXPECT_EQ(tree.u32(tkhd->offset + 84), 0u);
}

TEST_F(GeneralAtom, MissingReferencePiecesLeaveWellFormedContainers) {
    engine.templates.bpMdhdDataStore.clear();          // no media header: its duration and language go with it
    engine.templates.bpMingVmhdDataStore.clear();      // the "minf" type code is still written
    engine.templates.bpMinfDinfData.clear();
    engine.templates.bpAudioMinfHdlrData.clear();
    engine.templates.bpHdlrAudioDataStore.clear();     // audio mdhd keeps a zero language
    engine.templates.Audio_stsd_data.clear();          // the "stbl" type code is still written
    openOutput();
    addInterleaved(4, 4);
    const AtomTree tree = repair();

    EXPECT_EQ(tree.find("moov/trak[0]/mdia/mdhd"), nullptr);
    EXPECT_NE(tree.find("moov/trak[0]/mdia/hdlr"), nullptr);
    EXPECT_EQ(tree.find("moov/trak[0]/mdia/minf/vmhd"), nullptr);
    EXPECT_EQ(tree.find("moov/trak[0]/mdia/minf/dinf"), nullptr);
    EXPECT_NE(tree.find("moov/trak[0]/mdia/minf/stbl/stco"), nullptr);
    EXPECT_EQ(tree.find("moov/trak[1]/mdia/minf/stbl/stsd"), nullptr);
    EXPECT_NE(tree.find("moov/trak[1]/mdia/minf/stbl/stco"), nullptr);
    const Atom* audioMdhd = tree.find("moov/trak[1]/mdia/mdhd");
    ASSERT_NE(audioMdhd, nullptr);
    EXPECT_EQ(audioMdhd->size, 32u);
    EXPECT_EQ(tree.u32(audioMdhd->offset + 28), 0u);
    EXPECT_EQ(tree.find("moov/trak[1]/mdia/hdlr"), nullptr);
}

TEST_F(GeneralAtom, NoAudioFoundGivesAnAudioTrackWithEmptyTables) {
    openOutput();
    addInterleaved(8, 0);
    const AtomTree tree = repair();

    const std::string stbl = "moov/trak[1]/mdia/minf/stbl";
    for (const char* table : {"stts", "stsc", "stsz", "stco"}) {
        const Atom* a = tree.find(stbl + "/" + table);
        ASSERT_NE(a, nullptr) << table;
        EXPECT_LE(a->size, 20u) << table;
    }
    EXPECT_TRUE(tree.sampleSizes(*tree.find(stbl + "/stsz")).empty());
    EXPECT_TRUE(tree.chunkOffsets(*tree.find(stbl + "/stco")).empty());
    const Atom* mdhd = tree.find("moov/trak[1]/mdia/mdhd");
    ASSERT_NE(mdhd, nullptr);
    EXPECT_EQ(tree.u32(mdhd->offset + 24), 0u);  // no media, no media time
}

TEST_F(GeneralAtom, PcmAudioIsDescribedAsOneByteSamplesInFixedChunks) {
    engine.analysis.mp4aPresent = 0;
    engine.templates.Size_ofAudiochunk = 2002;
    openOutput();
    addInterleaved(6, 5);
    const AtomTree tree = repair();

    const std::string stbl = "moov/trak[1]/mdia/minf/stbl";
    EXPECT_EQ(tree.timeToSample(*tree.find(stbl + "/stts")), (std::vector<uint64_t>{5 * 2002, 1}));
    const Atom* stsc = tree.find(stbl + "/stsc");
    EXPECT_EQ(tree.payload(*stsc), Bytes().u32be(0).u32be(1).u32be(1).u32be(2002).u32be(1).vec());
    const Atom* stsz = tree.find(stbl + "/stsz");
    EXPECT_EQ(tree.payload(*stsz), Bytes().u32be(0).u32be(1).u32be(5 * 2002).vec());
    EXPECT_EQ(tree.chunkOffsets(*tree.find(stbl + "/stco")), engine.tables.Audio_buffer_start);
    const Atom* mdhd = tree.find("moov/trak[1]/mdia/mdhd");
    EXPECT_EQ(tree.u32(mdhd->offset + 24), 5u * 2002u);
}

// The writer writes tables, not media: offsets past 4 GiB are set directly
// and the atom is written on its own.
TEST_F(GeneralAtom, ChunkOffsetsFromFourGibOnTurnThatTrackTableIntoCo64) {
    ASSERT_TRUE(engine.result.outputfile.create(outPath));
    const uint64_t fourGiB = 1ull << 32;
    engine.tables.video_buffer_start = {16, 4096, fourGiB + 10};
    engine.tables.video_buffer_size = {100, 200, 300};
    engine.tables.Audio_buffer_start = {1000, 0xFFFFFFFFull};  // 0xFFFFFFFF still fits
    engine.tables.Audio_buffer_size = {10, 20};

    const MovieTiming timing = computeMovieTiming(timingInputFrom(engine.analysis, engine.templates, engine.tables));
    {
        BoxWriter box(engine.result.outputfile, BoxWriter::Format::QuickTime);
        box.open("moov");
        writeMovieHeader(box, 30000, timing.movieDuration, 0);
        writeGeneralVideoTrack(box, engine.templates, engine.tables, timing);
        writeGeneralAudioTrack(box, engine.analysis, engine.templates, engine.tables, timing);
        box.close();
    }
    ASSERT_TRUE(engine.result.outputfile.close());

    const AtomTree tree = result();
    EXPECT_EQ(tree.find("moov/trak[0]/mdia/minf/stbl/stco"), nullptr);
    const Atom* co64 = tree.find("moov/trak[0]/mdia/minf/stbl/co64");
    ASSERT_NE(co64, nullptr);
    EXPECT_EQ(tree.chunkOffsets(*co64), engine.tables.video_buffer_start);
    const Atom* audio = tree.find("moov/trak[1]/mdia/minf/stbl/stco");
    ASSERT_NE(audio, nullptr);
    EXPECT_EQ(tree.chunkOffsets(*audio), engine.tables.Audio_buffer_start);
}

TEST(AtomTreeHelper, ReportsSizesThatDisagreeWithTheirContent) {
    const Bytes good = atom("moov", atom("trak", atom("tkhd", Bytes().zeros(4))));
    EXPECT_TRUE(AtomTree::parse(good).wellFormed());

    Bytes tooLong = good;
    std::vector<uint8_t> bytes = tooLong.vec();
    bytes[11] += 4;  // trak claims 4 bytes more than moov holds
    EXPECT_FALSE(AtomTree::parse(bytes).wellFormed());

    const Bytes badTable = atom("stbl", atom("stco", Bytes().u32be(0).u32be(3).u32be(8).u32be(9)));
    EXPECT_FALSE(AtomTree::parse(badTable).wellFormed());

    const Bytes leftover = Bytes().append(atom("free")).zeros(5);
    EXPECT_FALSE(AtomTree::parse(leftover).wellFormed());
}

}  // namespace
}  // namespace arbel::test

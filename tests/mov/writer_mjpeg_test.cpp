// The MJPEG final phase and its movie atom.
#include "engine/mov/movie_atom.h"
#include "writer_fixture.h"

namespace arbel::test {
namespace {

class MjpegPath : public WriterTest {
protected:
    uint64_t firstVideoChunk = 0;

    // Lays out what the MJPEG scan leaves: the reserved header, an optional
    // leading audio block, then groups of fifteen frames each followed by an
    // audio chunk. `tablesHoldFirst` chooses whether the recorded offset
    // tables list the first video chunk and the leading block too.
    void layOut(int frames, uint64_t leadingAudio, bool audioBetweenGroups, bool tablesHoldFirst) {
        openOutput(engine.result.mediaHeaderSize);
        engine.templates.Size_ofAudiochunk = 400;
        if (leadingAudio) {
            if (tablesHoldFirst) engine.tables.mjpegAudioChunkOffsets.push_back(engine.result.outputfile.cursor());
            engine.result.outputfile.append(unitBytes(leadingAudio, 0xA0));
            engine.tables.mjpegLeadingAudioSize = leadingAudio;
        }
        firstVideoChunk = engine.result.outputfile.cursor();
        for (int i = 0; i < frames; ++i) {
            if (i % 15 == 0 && (i > 0 || tablesHoldFirst))
                engine.tables.mjpegVideoChunkOffsets.push_back(engine.result.outputfile.cursor());
            const uint64_t length = 600 + static_cast<uint64_t>(i);
            engine.tables.recordVideo(engine.result.outputfile.cursor(), length);
            engine.result.outputfile.append(unitBytes(length, static_cast<uint8_t>(i)));
            engine.tables.mjpegFrameLengths.push_back(length);
            if ((i % 15 == 14 || i == frames - 1) && audioBetweenGroups) {
                engine.tables.mjpegAudioChunkOffsets.push_back(engine.result.outputfile.cursor());
                engine.result.outputfile.append(unitBytes(400, 0xB0));
                engine.tables.sum_audio += 400;
            }
        }
    }

    std::vector<uint8_t> moovBytes(const AtomTree& tree) const {
        const Atom* moov = tree.find("moov");
        return moov ? tree.atomBytes(*moov) : std::vector<uint8_t>{};
    }
};

TEST_F(MjpegPath, TwentyTwoFramesMakeOneChunkAndSizesMatchTheirContent) {
    engine.result.mediaHeaderSize = 8;
    layOut(22, 320, false, false);
    const uint64_t mediaEnd = engine.result.outputfile.cursor();
    engine.finishMjpegPath();
    expectCompleted();

    const AtomTree tree = result();
    ASSERT_EQ(tree.top().size(), 2u);
    EXPECT_EQ(tree.top()[0].size, mediaEnd);
    EXPECT_EQ(tree.top()[0].size, 8 + engine.tables.Sum_video + engine.tables.sum_audio + 320);
    const std::string stbl = "moov/trak[0]/mdia/minf/stbl";
    EXPECT_EQ(tree.chunkOffsets(*tree.find(stbl + "/stco")), (std::vector<uint64_t>{8 + 320}));
    EXPECT_EQ(tree.sampleSizes(*tree.find(stbl + "/stsz")), engine.tables.mjpegFrameLengths);
    EXPECT_EQ(tree.timeToSample(*tree.find(stbl + "/stts")), (std::vector<uint64_t>{22, 1}));
    EXPECT_EQ(tree.payload(*tree.find(stbl + "/stsc")), Bytes().u32be(0).u32be(1).u32be(1).u32be(15).u32be(1).vec());

    const Atom* mvhd = tree.find("moov/mvhd");
    ASSERT_NE(mvhd, nullptr);
    EXPECT_EQ(tree.u32(mvhd->offset + 20), 30u);   // time scale
    EXPECT_EQ(tree.u32(mvhd->offset + 24), 22u);   // one frame per unit
    const Atom* tkhd = tree.find("moov/trak[0]/tkhd");
    EXPECT_EQ(tree.u32(tkhd->offset + 84), 0x02800000u);
    EXPECT_EQ(tree.u32(tkhd->offset + 88), 0x01E00000u);
    EXPECT_NE(tree.find("moov/trak[0]/mdia/minf/dinf/dref"), nullptr);

    // The leading block is the one audio chunk.
    const std::string audio = "moov/trak[1]/mdia/minf/stbl";
    EXPECT_EQ(tree.chunkOffsets(*tree.find(audio + "/stco")), (std::vector<uint64_t>{8}));
    EXPECT_EQ(tree.payload(*tree.find(audio + "/stsz")), Bytes().u32be(0).u32be(1).u32be(400).vec());
}

TEST_F(MjpegPath, TwentyThreeFramesMakeTwoChunks) {
    engine.result.mediaHeaderSize = 8;
    layOut(23, 320, true, false);
    engine.finishMjpegPath();
    expectCompleted();

    const AtomTree tree = result();
    const auto offsets = tree.chunkOffsets(*tree.find("moov/trak[0]/mdia/minf/stbl/stco"));
    ASSERT_EQ(offsets.size(), 2u);
    EXPECT_EQ(offsets[0], firstVideoChunk);
    EXPECT_EQ(offsets[1], engine.tables.mjpegVideoChunkOffsets[0]);
    // The second chunk starts with its first frame.
    const auto& b = tree.bytes();
    EXPECT_EQ(std::vector<uint8_t>(b.begin() + static_cast<std::ptrdiff_t>(offsets[1]),
                                   b.begin() + static_cast<std::ptrdiff_t>(offsets[1] + 615)),
              unitBytes(615, 15));

    // Leading block plus one chunk after each of the two groups.
    const auto audio = tree.chunkOffsets(*tree.find("moov/trak[1]/mdia/minf/stbl/stco"));
    EXPECT_EQ(audio.size(), 3u);
    EXPECT_EQ(audio.front(), 8u);
    const Atom* audioMdhd = tree.find("moov/trak[1]/mdia/mdhd");
    EXPECT_EQ(tree.u32(audioMdhd->offset + 20), 8000u);
    EXPECT_EQ(tree.u32(audioMdhd->offset + 24), 3u * 400u);
}

TEST_F(MjpegPath, OffsetTablesWithOrWithoutTheFirstChunkGiveTheSameAtom) {
    engine.result.mediaHeaderSize = 8;
    layOut(45, 200, true, false);
    const uint64_t mediaEnd = engine.result.outputfile.cursor();
    const MjpegChunks without = mjpegChunks(engine.tables, 8, mediaEnd);

    engine.tables.mjpegVideoChunkOffsets.insert(engine.tables.mjpegVideoChunkOffsets.begin(), firstVideoChunk);
    engine.tables.mjpegAudioChunkOffsets.insert(engine.tables.mjpegAudioChunkOffsets.begin(), 8);
    const MjpegChunks with = mjpegChunks(engine.tables, 8, mediaEnd);

    EXPECT_EQ(without.video, with.video);
    EXPECT_EQ(without.audio, with.audio);
    EXPECT_EQ(without.video.size(), 3u);
    EXPECT_EQ(without.audio.size(), 4u);
}

TEST_F(MjpegPath, OffsetsOutsideTheMediaDataAreNotListed) {
    engine.result.mediaHeaderSize = 8;
    layOut(30, 100, true, false);
    const uint64_t mediaEnd = engine.result.outputfile.cursor();
    engine.tables.mjpegVideoChunkOffsets.push_back(mediaEnd + 50);   // a chunk that was never written
    engine.tables.mjpegAudioChunkOffsets.push_back(mediaEnd);        // nothing after the last byte
    engine.finishMjpegPath();
    expectCompleted();

    const AtomTree tree = result();
    EXPECT_EQ(tree.chunkOffsets(*tree.find("moov/trak[0]/mdia/minf/stbl/stco")).size(), 2u);
    EXPECT_EQ(tree.chunkOffsets(*tree.find("moov/trak[1]/mdia/minf/stbl/stco")).size(), 3u);
}

TEST_F(MjpegPath, WithoutAudioTheMovieHasOneTrackAndNoTrackReport) {
    engine.result.mediaHeaderSize = 8;
    layOut(15, 0, false, true);
    engine.finishMjpegPath();
    expectCompleted();
    const AtomTree tree = result();
    EXPECT_EQ(tree.find("moov/trak[1]"), nullptr);
    EXPECT_TRUE(postedWith("track").empty());
}

TEST_F(MjpegPath, ReportsRateAndDurationThenTracksThenCompletes) {
    engine.result.mediaHeaderSize = 8;
    layOut(450, 100, true, true);
    engine.finishMjpegPath();

    std::vector<std::pair<std::string, std::string>> seen;
    for (const auto& p : posted) seen.emplace_back(p.key, p.text);
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"status", "Repairing the file.."}, {"fps", "29"}, {"duration", "0:0:15"},
        {"track", "2"},                     {"status", "Repair completed."},
    };
    EXPECT_EQ(seen, expected);
    EXPECT_EQ(engine.report.tracks, 2);
    result();
}

TEST_F(MjpegPath, SixteenReservedBytesGetTheSixtyFourBitHeader) {
    engine.result.mediaHeaderSize = 16;
    layOut(15, 64, true, false);
    const uint64_t mediaEnd = engine.result.outputfile.cursor();
    engine.finishMjpegPath();
    expectCompleted();
    const AtomTree tree = result();
    EXPECT_EQ(tree.top()[0].headerSize, 16u);
    EXPECT_EQ(tree.top()[0].size, mediaEnd);
    EXPECT_EQ(tree.chunkOffsets(*tree.find("moov/trak[0]/mdia/minf/stbl/stco")), (std::vector<uint64_t>{16 + 64}));
    EXPECT_EQ(tree.chunkOffsets(*tree.find("moov/trak[1]/mdia/minf/stbl/stco")).front(), 16u);
}

TEST_F(MjpegPath, RefusesWhenTheReferenceHadNoMovieAtom) {
    engine.result.mediaHeaderSize = 8;
    layOut(30, 100, true, false);
    engine.templates.Movfileisvalid = 0;
    engine.finishMjpegPath();
    expectRefusedOnly();
    EXPECT_EQ(posted.size(), 1u);
    EXPECT_EQ(AtomTree::parseFile(outPath).find("moov"), nullptr);
}

TEST_F(MjpegPath, RefusesFewerThanSevenFrames) {
    engine.result.mediaHeaderSize = 8;
    layOut(6, 100, true, false);
    engine.finishMjpegPath();
    expectRefusedOnly();
    EXPECT_TRUE(postedStatus("Repairing the file.."));
    EXPECT_EQ(AtomTree::parseFile(outPath).find("moov"), nullptr);
}

TEST_F(MjpegPath, RefusesWhenTheScanCouldNotWrite) {
    engine.result.mediaHeaderSize = 8;
    layOut(30, 100, true, false);
    engine.result.writeFailed = true;
    engine.finishMjpegPath();
    expectRefusedOnly();
}

TEST_F(MjpegPath, AStopInsideTheTablesLeavesTheAtomUnfinishedAndSilent) {
    engine.result.mediaHeaderSize = 8;
    layOut(30, 100, true, false);
    center.addObserver("", [this](const std::string&, const NotifDict& info) {
        if (info.count("duration")) engine.control->requestStop();
    });
    engine.finishMjpegPath();
    ASSERT_FALSE(posted.empty());
    EXPECT_EQ(posted.back().key, "duration");
    EXPECT_FALSE(postedStatus("Repair completed."));
    EXPECT_FALSE(postedStatus("Can not repair this file.."));
}

}  // namespace
}  // namespace arbel::test

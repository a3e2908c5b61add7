// References with sizes that lie: truncated, undersized, oversized and
// random atoms. Nothing may be read or copied beyond the file or the movie
// atom, and no size may stall a walk (the sanitizer build checks the reads).
#include "reference_fixture.h"

#include "engine/byte_order.h"

#include <random>

namespace arbel {
namespace {

using test::atom;
using test::Bytes;
using test::ReferenceLayout;
using test::ReferenceOptions;

void putU32(std::vector<uint8_t>& bytes, uint64_t at, uint32_t value) {
    putU32BE(bytes.data() + at, value);
}

// A reference whose pieces exercise most of the walk.
ReferenceOptions richReference() {
    ReferenceOptions o = test::cameraReference();
    o.model = "Canon EOS 70D";
    o.tracks[1].format = "mp4a";
    o.tracks[1].sampleEntryExtra = test::waveAtom();
    return o;
}

// The size field at `at` of a copy (0 when the copy is too short to hold it).
uint64_t sizeFieldOf(const std::vector<uint8_t>& copy, size_t at) {
    return copy.size() >= at + 4 ? readU32BE(copy.data() + at) : 0;
}

class MalformedReference : public test::ReferenceTest {
protected:
    // Every copy is one whole atom of the file, its length what its own
    // size field says, and nothing longer than the file.
    static void expectWholeAtoms(const test::MovStages& e, uint64_t fileLength) {
        if (!e.templates.trak_data.empty()) {
            EXPECT_EQ(sizeFieldOf(e.templates.trak_data, 0), e.templates.trak_data.size());
        }
        if (!e.templates.videoSampleDescription.empty()) {
            EXPECT_EQ(sizeFieldOf(e.templates.videoSampleDescription, 4) + 4, e.templates.videoSampleDescription.size());
        }
        if (!e.templates.stts_data.empty()) {
            EXPECT_EQ(sizeFieldOf(e.templates.stts_data, 0), e.templates.stts_data.size());
        }
        if (!e.templates.Audio_stsd_data.empty()) {
            EXPECT_EQ(sizeFieldOf(e.templates.Audio_stsd_data, 4) + 4, e.templates.Audio_stsd_data.size());
        }
        for (const auto* piece : {&e.templates.trak_data, &e.templates.videoSampleDescription, &e.templates.stts_data, &e.templates.Audio_stsd_data,
                                  &e.templates.bpMdhdDataStore, &e.templates.bpHdlrDataStore, &e.templates.bpMingVmhdDataStore, &e.templates.bpMinfHdlrData,
                                  &e.templates.bpMinfDinfData, &e.templates.bpMdhdAudioDataStore, &e.templates.bpHdlrAudioDataStore,
                                  &e.templates.bpAudioMingSmhdDataStore, &e.templates.bpAudioMinfHdlrData, &e.templates.bpAudioMinfDinfData})
            EXPECT_LE(piece->size(), fileLength);
        EXPECT_LE(e.templates.videoOffsetCount, 10u);
    }

    // A cut file: what was taken is the intact file's atom, never one
    // finished with zeros.
    static void expectIntactCopies(const test::MovStages& e, const ReferenceLayout& intact) {
        const auto& v = intact.tracks[0];
        if (!e.templates.trak_data.empty()) {
            EXPECT_EQ(e.templates.trak_data, intact.slice(v.tkhd));
        }
        if (!e.templates.videoSampleDescription.empty()) {
            EXPECT_EQ(e.templates.videoSampleDescription, intact.slice(v.stbl.offset + 4, v.stsd.size + 4));
        }
        if (!e.templates.stts_data.empty()) {
            EXPECT_EQ(e.templates.stts_data, intact.slice(v.stts));
        }
    }
};

TEST_F(MalformedReference, TruncatedAnywhereEveryCopyIsWhole) {
    const ReferenceLayout intact = test::buildReference(richReference());
    std::vector<uint64_t> cuts;
    for (uint64_t n = 0; n < 600; n += 13) cuts.push_back(n);
    for (uint64_t n = intact.mdat.offset; n < intact.moov.offset; n += 4099) cuts.push_back(n);
    for (uint64_t n = intact.moov.offset; n < intact.bytes.size(); n += 5) cuts.push_back(n);
    for (const uint64_t cut : cuts) {
        SCOPED_TRACE(cut);
        const std::vector<uint8_t> truncated(intact.bytes.begin(), intact.bytes.begin() + static_cast<std::ptrdiff_t>(cut));
        const auto e = analysed(truncated);
        expectWholeAtoms(*e, cut);
        expectIntactCopies(*e, intact);
        if (::testing::Test::HasFailure()) return;
    }
}

TEST_F(MalformedReference, RandomBytesAndCorruptedSizes) {
    const ReferenceLayout intact = test::buildReference(richReference());
    std::mt19937 random(20240611);
    const auto draw = [&](uint64_t below) { return std::uniform_int_distribution<uint64_t>(0, below - 1)(random); };
    static const char* kCodes[] = {"ftyp", "mdat", "moov", "udta", "tkhd", "mdia", "mdhd", "hdlr", "vmhd", "smhd",
                                   "dinf", "stbl", "stsd", "stts", "stsz", "stsc", "stco", "co64", "soun", "Canon "};

    for (int round = 0; round < 150; ++round) {
        SCOPED_TRACE(round);
        std::vector<uint8_t> bytes = intact.bytes;
        // Sizes and codes inside the movie atom overwritten with random values.
        for (int k = 0; k < 6; ++k) {
            const uint64_t at = intact.moov.offset + draw(intact.moov.size - 4);
            putU32(bytes, at, static_cast<uint32_t>(draw(4) == 0 ? draw(64) : random()));
        }
        expectWholeAtoms(*analysed(bytes), bytes.size());
        if (::testing::Test::HasFailure()) return;
    }

    for (int round = 0; round < 60; ++round) {
        SCOPED_TRACE(round);
        std::vector<uint8_t> bytes(draw(4000));
        for (auto& b : bytes) b = static_cast<uint8_t>(random());
        // Type codes at random places, each after a random size.
        for (int k = 0; k + 8 < static_cast<int>(bytes.size()) / 40; ++k) {
            const char* code = kCodes[draw(std::size(kCodes))];
            const uint64_t at = draw(bytes.size() - 8);
            putU32(bytes, at, static_cast<uint32_t>(draw(3) == 0 ? draw(40) : draw(bytes.size())));
            std::copy_n(code, 4, bytes.begin() + static_cast<std::ptrdiff_t>(at + 4));
        }
        expectWholeAtoms(*analysed(bytes), bytes.size());
        if (::testing::Test::HasFailure()) return;
    }
}

TEST_F(MalformedReference, SizesTooSmallToMoveTheWalkAreSteppedOver) {
    const ReferenceLayout r = test::buildReference(test::cameraReference());
    const auto& v = r.tracks[0];
    struct Case {
        const char* name;
        uint64_t at;
        uint32_t size;
    };
    for (const Case c : {Case{"ftyp 0", r.ftyp.offset, 0}, Case{"ftyp 9", r.ftyp.offset, 9},
                         Case{"tkhd 0", v.tkhd.offset, 0}, Case{"tkhd 20", v.tkhd.offset, 20},
                         Case{"stts 4", v.stts.offset, 4}, Case{"stts 0", v.stts.offset, 0}}) {
        SCOPED_TRACE(c.name);
        std::vector<uint8_t> bytes = r.bytes;
        putU32(bytes, c.at, c.size);
        const auto e = analysed(bytes);
        // The walk went on past the damaged atom to the sound track.
        EXPECT_EQ(e->templates.stco_Address_Audio_sizetojump, r.tracks[1].chunkOffsets[0]);
        if (c.at == v.tkhd.offset) {
            EXPECT_TRUE(e->templates.trak_data.empty());
        }
        if (c.at == v.stts.offset) {
            EXPECT_TRUE(e->templates.stts_data.empty());
            EXPECT_EQ(e->templates.dw_ReffrenceSamplecount, 12u);  // from stsz
            EXPECT_EQ(e->templates.videoOffsetCount, 10u);
        }
        if (c.at == r.ftyp.offset) {
            EXPECT_EQ(e->templates.trak_data, r.slice(v.tkhd));
        }
    }

    // Without its own description the video track lends nothing; the walk
    // still ends.
    std::vector<uint8_t> bytes = r.bytes;
    putU32(bytes, v.stsd.offset, 0);
    const auto e = analysed(bytes);
    EXPECT_NE(e->templates.videoSampleDescription, r.slice(v.stbl.offset + 4, v.stsd.size + 4));
    EXPECT_LT(e->templates.videoSampleDescription.size(), r.moov.size);
}

TEST_F(MalformedReference, SizesPastTheMovieAtomAreNotCopied) {
    const ReferenceLayout r = test::buildReference(test::cameraReference());
    const auto& v = r.tracks[0];

    std::vector<uint8_t> bytes = r.bytes;
    putU32(bytes, v.stsd.offset, 0x7FFFFFF0);
    auto e = analysed(bytes);
    EXPECT_LT(e->templates.videoSampleDescription.size(), r.moov.size);
    EXPECT_LT(e->templates.videoSampleDescription.size(), r.moov.size);
    EXPECT_NE(posted("video"), std::vector<std::string>{"avc1"});

    bytes = r.bytes;
    putU32(bytes, v.stts.offset, static_cast<uint32_t>(r.moov.size));
    e = analysed(bytes);
    EXPECT_TRUE(e->templates.stts_data.empty());
    EXPECT_EQ(e->templates.videoOffsetCount, 10u);

    // Past the movie atom though inside the file.
    bytes = r.bytes;
    bytes.insert(bytes.end(), 4000, 0);
    putU32(bytes, v.tkhd.offset, static_cast<uint32_t>(r.moov.size + 100));
    e = analysed(bytes);
    EXPECT_TRUE(e->templates.trak_data.empty());
    EXPECT_EQ(e->templates.videoSampleDescription, r.slice(v.stbl.offset + 4, v.stsd.size + 4));

    // Longer than a window: the movie atom's walk ends there, as the camera
    // layout cannot be trusted after it.
    putU32(bytes, v.tkhd.offset, 70000);
    e = analysed(bytes);
    EXPECT_TRUE(e->templates.trak_data.empty());
    EXPECT_TRUE(e->templates.videoSampleDescription.empty());
    EXPECT_EQ(e->templates.Movfileisvalid, 1);
}

TEST_F(MalformedReference, MediaPiecesOutOfPlaceAreLeftOut) {
    const ReferenceLayout r = test::buildReference(test::cameraReference());
    const auto& v = r.tracks[0];

    std::vector<uint8_t> bytes = r.bytes;
    putU32(bytes, v.hdlr.offset, 0xFFFF);
    auto e = analysed(bytes);
    EXPECT_EQ(e->templates.bpMdhdDataStore, r.slice(v.mdhd.offset, 24));
    EXPECT_TRUE(e->templates.bpHdlrDataStore.empty());
    EXPECT_TRUE(e->templates.bpMingVmhdDataStore.empty());  // looked for where the handler was
    EXPECT_TRUE(e->templates.bpMinfDinfData.empty());
    EXPECT_EQ(e->templates.bpMdhdAudioDataStore, r.slice(r.tracks[1].mdhd.offset, 24));

    // An mdhd that does not fit the 500 bytes gives no pieces, and is not
    // taken for the sound track's.
    bytes = r.bytes;
    putU32(bytes, v.mdhd.offset, 600);
    e = analysed(bytes);
    EXPECT_TRUE(e->templates.bpMdhdDataStore.empty());
    EXPECT_EQ(e->templates.bpMdhdAudioDataStore, r.slice(r.tracks[1].mdhd.offset, 24));
    EXPECT_EQ(e->templates.mdhdAudioTimeScale, 48000u);

    // A sound handler whose atom is cut short is no sound handler.
    bytes = r.bytes;
    putU32(bytes, r.tracks[1].hdlr.offset, 12);
    e = analysed(bytes);
    EXPECT_EQ(e->templates.mdhdAudioTimeScale, 0u);
    EXPECT_TRUE(e->templates.Audio_stsd_data.empty());
}

TEST_F(MalformedReference, ChunkTablesGiveOnlyTheEntriesTheyHold) {
    ReferenceOptions o = test::cameraReference();
    o.tracks[0] = test::avcVideoTrack(3);
    o.tracks[1] = test::soundTrack("sowt", 1);
    ReferenceLayout r = test::buildReference(o);
    std::vector<uint8_t> bytes = r.bytes;
    putU32(bytes, r.tracks[0].chunkTable.offset + 12, 1000);  // count far beyond the atom
    auto e = analysed(bytes);
    ASSERT_EQ(e->templates.videoOffsetCount, 3u);
    EXPECT_EQ(e->templates.stco_Address_Video_first_chunk_sizetojump, r.tracks[0].chunkOffsets[2]);
    EXPECT_EQ(e->templates.stco_Address_Audio_sizetojump, r.tracks[1].chunkOffsets[0]);
    EXPECT_EQ(e->templates.stco_Address_Audio_second_sizetojump, 0u);

    // Offsets far beyond the file read as nothing.
    o = test::cameraReference();
    o.tracks[0].co64 = true;
    r = test::buildReference(o);
    bytes = r.bytes;
    for (int i = 0; i < 12; ++i) {
        const uint64_t entry = r.tracks[0].chunkTable.offset + 16 + 8 * static_cast<uint64_t>(i);
        putU32(bytes, entry, 0x7FFFFFFF);
        putU32(bytes, entry + 4, 0xFFFFFFF0);
    }
    putU32(bytes, r.tracks[1].chunkTable.offset + 16, 0xFFFFFFF0);
    e = analysed(bytes);
    EXPECT_EQ(e->templates.VideoOffsets[0], 0x7FFFFFFFFFFFFFF0u);
    EXPECT_EQ(e->analysis.Tag_2588_Present + e->analysis.Tag_6588_Present, 0);
    EXPECT_EQ(e->analysis.buffer_for_Address_Video_first_chunk, (std::array<uint8_t, 10>{}));
    EXPECT_TRUE(test::flagsSet(e->analysis.flags).empty());
}

TEST_F(MalformedReference, StopDuringTheTemplateWalkEndsIt) {
    const ReferenceLayout r = test::buildReference(test::cameraReference());
    auto e = engineFor(r.bytes);
    ASSERT_TRUE(e->signatureWalk());
    center.addObserver("", [&e](const std::string&, const NotifDict& info) {
        if (notifNumber(info, "progress") == 3.0) e->control->requestStop();
    });
    EXPECT_FALSE(e->takeReferenceTemplates());
    EXPECT_EQ(e->templates.Movfileisvalid, 0);
    EXPECT_TRUE(e->templates.trak_data.empty());
}

}  // namespace
}  // namespace arbel

// NAL header tags, audio signatures, the probed chunk header and the path
// the damaged file's scan takes.
#include "reference_fixture.h"

#include <algorithm>

namespace arbel {
namespace {

using test::atom;
using test::Bytes;
using test::Names;
using test::ReferenceOptions;

Names sorted(Names names) {
    std::sort(names.begin(), names.end());
    return names;
}

class NalTags : public test::ReferenceTest {
protected:
    // A reference whose video chunks are the given bytes.
    std::unique_ptr<test::MovStages> withVideoChunks(const std::vector<Bytes>& chunks) {
        ReferenceOptions o = test::cameraReference();
        o.tracks[0].chunks = chunks;
        return analysed(test::buildReference(o).bytes);
    }
    static Bytes untagged(size_t size = 3000) {
        return test::chunkStartingWith(Bytes().u32be(static_cast<uint32_t>(size - 4)).u8(0x06).u8(0x05), size, 0x3C);
    }
    static Bytes withBytesAt(size_t at, const Bytes& bytes, size_t size = 3000) {
        std::vector<uint8_t> v = untagged(size).vec();
        std::copy(bytes.vec().begin(), bytes.vec().end(), v.begin() + static_cast<std::ptrdiff_t>(at));
        return Bytes().append(v);
    }
};

TEST_F(NalTags, FirstChunkPairsSetTheirClass) {
    struct Case {
        uint8_t nal0, nal1;
        uint8_t tag2588, tag6588;
    };
    for (const Case c : {Case{0x25, 0xB8, 1, 0}, Case{0x25, 0x88, 1, 0}, Case{0x65, 0xB8, 1, 0}, Case{0x65, 0x88, 0, 1}}) {
        SCOPED_TRACE(testing::Message() << std::hex << int(c.nal0) << " " << int(c.nal1));
        ReferenceOptions o = test::cameraReference();
        o.tracks[0] = test::avcVideoTrack(12, c.nal0, c.nal1);
        const auto e = analysed(test::buildReference(o).bytes);
        EXPECT_EQ(e->analysis.Tag_2588_Present, c.tag2588);
        EXPECT_EQ(e->analysis.Tag_6588_Present, c.tag6588);
        EXPECT_EQ(e->analysis.tag, 4);
        EXPECT_EQ(e->analysis.tagPair, (std::array<uint8_t, 2>{c.nal0, c.nal1}));
        EXPECT_EQ(e->analysis.b_finding_Tag.size(), 700u);
        EXPECT_EQ(e->analysis.bIsStopMotionFile, 0);
    }
}

TEST_F(NalTags, FirstHitWinsAndOnlyTheFirst700BytesCount) {
    auto e = withVideoChunks({withBytesAt(100, Bytes{0x65, 0x88, 0x25, 0x88}), untagged(), untagged(), untagged()});
    EXPECT_EQ(e->analysis.Tag_6588_Present, 1);
    EXPECT_EQ(e->analysis.Tag_2588_Present, 0);
    EXPECT_EQ(e->analysis.tag, 100);

    // A pair whose second byte would be byte 700 is not seen.
    e = withVideoChunks({withBytesAt(699, Bytes{0x25, 0x88}), untagged(), untagged()});
    EXPECT_EQ(e->analysis.Tag_2588_Present, 0);
    EXPECT_EQ(e->analysis.b_finding_Tag.size(), 70u);  // the fallback ran
}

TEST_F(NalTags, ThirdChunkIsProbedWhenTheFirstHasNoTag) {
    auto e = withVideoChunks({untagged(), untagged(), withBytesAt(30, Bytes{0x25, 0x88}), untagged()});
    EXPECT_EQ(e->analysis.Tag_2588_Present, 1);
    EXPECT_EQ(e->analysis.tag, 30);
    EXPECT_EQ(e->analysis.tagPair, (std::array<uint8_t, 2>{0x25, 0x88}));
    EXPECT_EQ(e->analysis.b_finding_Tag.size(), 70u);

    // Only 70 bytes of it.
    e = withVideoChunks({untagged(), untagged(), withBytesAt(80, Bytes{0x25, 0x88}), untagged()});
    EXPECT_EQ(e->analysis.Tag_2588_Present, 0);
    EXPECT_EQ(e->analysis.tag, 0);
    EXPECT_EQ(e->analysis.tagPair, (std::array<uint8_t, 2>{0x00, 0x00}));

    // Fewer than three chunks: no second probe.
    e = withVideoChunks({untagged(), untagged()});
    EXPECT_EQ(e->analysis.b_finding_Tag.size(), 700u);
    EXPECT_EQ(e->analysis.Tag_2588_Present + e->analysis.Tag_6588_Present, 0);
}

TEST_F(NalTags, StopMotionMarkerCountsOnlyInTheThirdChunk) {
    auto e = withVideoChunks({untagged(), untagged(), withBytesAt(10, Bytes{0xE1, 0x5C, 0x51}), untagged()});
    EXPECT_EQ(e->analysis.bIsStopMotionFile, 1);
    EXPECT_EQ(e->analysis.tag, 10);
    EXPECT_EQ(e->analysis.tagPair, (std::array<uint8_t, 2>{0xE1, 0x5C}));

    e = withVideoChunks({withBytesAt(10, Bytes{0xE1, 0x5C, 0x51}), untagged(), untagged()});
    EXPECT_EQ(e->analysis.bIsStopMotionFile, 0);

    e = withVideoChunks({untagged(), untagged(), withBytesAt(10, Bytes{0xE1, 0x5C, 0x52}), untagged()});
    EXPECT_EQ(e->analysis.bIsStopMotionFile, 0);
}

struct AudioCase {
    const char* name;
    Bytes first;   // first four bytes of the first sound chunk
    Bytes second;  // of the second
    bool damagedIsIsom;
    Names expected;
};

class AudioSignatures : public test::ReferenceTest {
protected:
    Names classify(const AudioCase& c) {
        Bytes reference;
        reference.zeros(16).append(c.first).zeros(12).append(c.second).zeros(28);
        const Bytes damaged = atom("ftyp", Bytes().text(c.damagedIsIsom ? "isom" : "mp42").zeros(8));
        auto e = engineFor(reference, damaged);
        e->templates.stco_Address_Audio_sizetojump = 16;
        e->templates.stco_Address_Audio_second_sizetojump = 32;
        e->classifyAudioSignatures();
        return sorted(test::flagsSet(e->analysis.flags));
    }
};

TEST_F(AudioSignatures, EveryRowInOrder) {
    const Bytes none{0, 0, 0, 0};
    const auto s = [](uint8_t s0, uint8_t s1, uint8_t s2, uint8_t s3) { return Bytes{s0, s1, s2, s3}; };
    const std::vector<AudioCase> cases = {
        {"1", none, s(0x01, 0, 0x15, 0), false, {"bAudioSig01_15"}},
        {"2", none, s(0x01, 0, 0x17, 0), false, {"bAudioSig01_17"}},
        {"27", none, s(0x01, 0, 0x17, 0), true, {"bAudioSig01_17Iso"}},
        {"3a", none, s(0x01, 0, 0x8F, 0), false, {"bAudioSig00_40"}},
        {"3b", none, s(0x00, 0, 0x40, 0), false, {"bAudioSig00_40"}},
        {"3c", none, s(0x21, 0, 0x9A, 0), false, {"bAudioSig00_40"}},
        {"3d", none, s(0x81, 0, 0x83, 0), false, {"bAudioSig00_40"}},
        {"4 before 6", none, s(0x21, 0, 0x55, 0xF0), false, {"bAudioSig21_55"}},
        {"5 before 8", none, s(0x21, 0x1A, 0x14, 0x95), false, {"bAudioSig211A1495"}},
        {"6 F0", none, s(0x21, 0, 0, 0xF0), false, {"bAudioSig21"}},
        {"6 FC", none, s(0x21, 0, 0, 0xFC), false, {"bAudioSig21"}},
        {"6 20", none, s(0x21, 0, 0, 0x20), false, {"bAudioSig21"}},
        {"6 36", none, s(0x21, 0, 0x36, 0), false, {"bAudioSig21"}},
        {"6 before 7", none, s(0x21, 0, 0xD8, 0xFC), false, {"bAudioSig21"}},
        {"7", none, s(0x21, 0, 0xD8, 0), false, {"bHero115"}},
        {"8 BB B8", none, s(0xBB, 0, 0xB8, 0), false, {"bAudioSig21"}},
        {"8 21 14", none, s(0x21, 0, 0x14, 0), false, {"bAudioSig21"}},
        {"8 20 4F", none, s(0x20, 0, 0x4F, 0), false, {"bAudioSig21"}},
        {"8 20 0C", none, s(0x20, 0, 0x0C, 0), false, {"bAudioSig21"}},
        {"8 21 0F", none, s(0x21, 0, 0x0F, 0), false, {"bAudioSig21"}},
        {"8 E0 11", none, s(0xE0, 0, 0x11, 0), false, {"bAudioSig21"}},
        {"8 E2 E5", none, s(0xE2, 0, 0xE5, 0), false, {"bAudioSig21"}},
        {"9 3A", none, s(0x3A, 0, 0x3A, 0), false, {"bCanon", "bCanonRebelT3i"}},
        {"9 64", none, s(0x64, 0, 0x64, 0), false, {"bCanon", "bCanonRebelT3i"}},
        {"10", none, s(0x44, 0, 0xD3, 0), false, {"bCanon", "bCanon5DMarkII"}},
        {"11", none, s(0x91, 0, 0x91, 0), false, {"bAudioSig91_91", "bCanon"}},
        {"12", none, s(0xE6, 0, 0xE6, 0), false, {"bCanon", "bCanon60D"}},
        {"13", none, s(0xCD, 0, 0xCD, 0), false, {"bAudioSigCD_CD", "bCanon"}},
        {"14", none, s(0x00, 0, 0x58, 0), false, {"bAudioSig00_58", "bCanon"}},
        {"15", none, s(0x78, 0, 0x78, 0), false, {"bAudioSig78_78", "bCanon"}},
        {"16 8E", none, s(0x8E, 0, 0x8E, 0), false, {"bAudioSig8E_8E", "bCanon"}},
        {"16 80", none, s(0x00, 0x80, 0, 0x80), false, {"bAudioSig8E_8E", "bCanon"}},
        {"17 C6", none, s(0xC6, 0, 0xC6, 0), false, {"bAudioSigC6_C6", "bCanon"}},
        {"17 C1", none, s(0xC1, 0, 0xC1, 0), false, {"bAudioSigC6_C6", "bCanon"}},
        {"18", none, s(0xBB, 0, 0x20, 0), false, {"bAudioSigBB_20", "bCanon"}},
        {"19", none, s(0xB5, 0, 0xE0, 0), false, {"bAudioSigB5_E0", "bCanon"}},
        {"20", none, s(0x0C, 0, 0x5C, 0), false, {"bAudioSig0C_5C", "bCanon"}},
        {"21", none, s(0x39, 0, 0x9D, 0), false, {"bAudioSig39_9D", "bCanon"}},
        {"22", none, s(0x21, 0, 0xFC, 0), false, {"bAudioSig21_FC", "bCanon"}},
        {"23", none, s(0xB0, 0, 0xA0, 0), false, {"bCanon", "bCanon6D"}},
        {"24 C4", none, s(0xC4, 0, 0xC4, 0), false, {"bCanon", "bCanon1DXMarkII"}},
        {"24 E5", none, s(0xE5, 0, 0xF8, 0), false, {"bCanon", "bCanon1DXMarkII"}},
        {"25 20", none, s(0x20, 0, 0x09, 0), false, {"bAudioSig20_09"}},
        {"25 00", none, s(0x00, 0, 0xFB, 0), false, {"bAudioSig20_09"}},
        {"26", none, s(0x20, 0, 0x08, 0), false, {"bAudioSig20_08"}},
        {"28 9B", none, s(0x01, 0, 0x9B, 0x2D), false, {"bAudioSig01_9B2D"}},
        {"28 16", none, s(0x01, 0, 0x16, 0x2D), false, {"bAudioSig01_9B2D"}},
        {"29", none, s(0x01, 0, 0x36, 0x2D), false, {"bAudioSig01_362D"}},
        {"29 without 2D", none, s(0x01, 0, 0x36, 0x2C), false, {}},
        {"no row", none, s(0x01, 0x02, 0x03, 0x04), false, {}},
        // The first-chunk and second-chunk flags beside the table.
        {"21 1C 44", s(0x21, 0x1C, 0x44, 0), none, false, {"bAudioFirst211C44"}},
        {"20 6C", s(0x20, 0, 0x6C, 0), none, false, {"bAudioFirst20_6C"}},
        {"20 0C", s(0x20, 0, 0x0C, 0), none, false, {"bAudioFirst20_6C"}},
        {"01 34 99", none, s(0x01, 0x34, 0x99, 0), false, {"bAudioSig013499"}},
        {"01 20 98 9A", none, s(0x01, 0x20, 0x98, 0x9A), false, {"bAudioSig0198DA"}},
        {"01 3C 99 DA", none, s(0x01, 0x3C, 0x99, 0xDA), false, {"bAudioSig0198DA"}},
        {"01 30 98 DA", none, s(0x01, 0x30, 0x98, 0xDA), false, {"bAudioSig0198DA"}},
        {"01 21 98 DA", none, s(0x01, 0x21, 0x98, 0xDA), false, {}},
        {"01 20 9A DA", none, s(0x01, 0x20, 0x9A, 0xDA), false, {}},
        {"both chunks", s(0x21, 0x1C, 0x44, 0), s(0x20, 0, 0x08, 0), true, {"bAudioFirst211C44", "bAudioSig20_08"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(classify(c), sorted(c.expected));
    }
}

TEST_F(AudioSignatures, GroupFlagFollowsItsThreeRows) {
    test::MovStages engine;
    EXPECT_FALSE(engine.analysis.flags.bAudioSigGroup());
    for (bool CameraFlags::*member :
         {&CameraFlags::bAudioSig20_08, &CameraFlags::bAudioSig01_17Iso, &CameraFlags::bAudioSig20_09}) {
        CameraFlags flags;
        flags.*member = true;
        EXPECT_TRUE(flags.bAudioSigGroup());
    }
    CameraFlags notIso;
    notIso.bAudioSig01_17 = true;
    EXPECT_FALSE(notIso.bAudioSigGroup());
}

TEST_F(AudioSignatures, ClassifiedFromTheReferencesOwnSoundChunks) {
    ReferenceOptions o = test::cameraReference();
    o.tracks[1].chunks[0] = test::chunkStartingWith(Bytes{0x21, 0x1C, 0x44, 0x00}, 2048);
    o.tracks[1].chunks[1] = test::chunkStartingWith(Bytes{0x01, 0x00, 0x17, 0x00}, 2048);
    const auto layout = test::buildReference(o);
    EXPECT_EQ(sorted(test::flagsSet(analysed(layout.bytes)->analysis.flags)), sorted({"bAudioFirst211C44", "bAudioSig01_17"}));

    const Bytes isom = atom("ftyp", Bytes().text("isom").zeros(8));
    EXPECT_EQ(sorted(test::flagsSet(analysed(layout.bytes, isom)->analysis.flags)),
              sorted({"bAudioFirst211C44", "bAudioSig01_17Iso"}));

    // These cameras are measured from the second and third sound chunks.
    o.model = "Canon EOS-1D X Mark II";
    o.tracks[1].chunks[2] = test::chunkStartingWith(Bytes{0x20, 0x00, 0x08, 0x00}, 2048);
    const auto later = test::buildReference(o);
    const auto e = analysed(later.bytes);
    EXPECT_EQ(e->templates.stco_Address_Audio_sizetojump, later.tracks[1].chunkOffsets[1]);
    EXPECT_EQ(e->templates.stco_Address_Audio_second_sizetojump, later.tracks[1].chunkOffsets[2]);
    EXPECT_TRUE(e->analysis.flags.bAudioSig20_08);
    EXPECT_FALSE(e->analysis.flags.bAudioFirst211C44);
}

TEST(ProbedChunkHeader, JpegMarkerOrH264FormatCode) {
    test::MovStages engine;
    engine.analysis.buffer_for_Address_Video_first_chunk = {0xFF, 0xD8, 0xFF, 0xE0, 0, 0, 0, 0, 0, 0};
    engine.analysis.codecinformation = {'g', 'e', 'p', 'j'};
    EXPECT_FALSE(engine.analysis.classifyProbedChunkHeader());
    EXPECT_EQ(engine.analysis.Mjpeg_code_present, 0);

    engine.analysis.buffer_for_Address_Video_first_chunk[3] = 0xDB;
    engine.analysis.AVC_Codec_Present = 1;
    EXPECT_TRUE(engine.analysis.classifyProbedChunkHeader());
    EXPECT_EQ(engine.analysis.Mjpeg_code_present, 1);
    EXPECT_EQ(engine.analysis.AVC_Codec_Present, 0);

    test::MovStages avc;
    avc.analysis.buffer_for_Address_Video_first_chunk = {0, 0, 0x10, 0, 0x21, 0x9A, 0, 0, 0, 0};
    avc.analysis.codecinformation = {'1', 'c', 'v', 'a'};
    EXPECT_TRUE(avc.analysis.classifyProbedChunkHeader());
    EXPECT_EQ(avc.analysis.AVC_Codec_Present, 1);
    EXPECT_EQ(avc.analysis.Mjpeg_code_present, 0);
}

TEST(ScanPathDecision, NikonMjpegH264OrRefusal) {
    struct Case {
        const char* name;
        bool CameraFlags::*flag;
        uint8_t mjpeg;
        uint8_t avc;
        ScanPath expected;
    };
    const std::vector<Case> cases = {
        {"MJPEG", nullptr, 1, 0, ScanPath::Mjpeg},
        {"MJPEG beats the brand", nullptr, 1, 1, ScanPath::Mjpeg},
        {"H.264", nullptr, 0, 1, ScanPath::Variant},
        {"neither", nullptr, 0, 0, ScanPath::Refuse},
        {"not exactly 1", nullptr, 0, 2, ScanPath::Refuse},
        {"Nikon 184", &CameraFlags::bNikonTag184, 1, 0, ScanPath::Variant},
        {"nikon 184", &CameraFlags::bNikonTag184Lower, 0, 0, ScanPath::Variant},
        {"Nikon 186", &CameraFlags::bNikonTag186, 0, 0, ScanPath::Variant},
        {"Nikon brand is not enough", &CameraFlags::bNikonBrand20, 0, 0, ScanPath::Refuse},
        {"Sony with MJPEG", &CameraFlags::bSonyA7S, 1, 0, ScanPath::Mjpeg},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::MovStages engine;
        if (c.flag) engine.analysis.flags.*c.flag = true;
        engine.analysis.Mjpeg_code_present = c.mjpeg;
        engine.analysis.AVC_Codec_Present = c.avc;
        EXPECT_EQ(engine.analysis.decideScanPath(), c.expected);
    }
}

}  // namespace
}  // namespace arbel

// The synthetic reference must be what it says it is: other suites compare
// engine results against its layout byte for byte.
#include "engine/byte_order.h"
#include "support/reference_builder.h"

#include <gtest/gtest.h>

#include <string>

namespace arbel {
namespace {

using test::AtomPos;
using test::Bytes;
using test::ReferenceLayout;

std::string typeAt(const ReferenceLayout& r, const AtomPos& a) {
    return std::string(r.bytes.begin() + static_cast<std::ptrdiff_t>(a.offset + 4),
                       r.bytes.begin() + static_cast<std::ptrdiff_t>(a.offset + 8));
}

uint64_t sizeAt(const ReferenceLayout& r, const AtomPos& a) { return readU32BE(r.bytes.data() + a.offset); }

void expectAtom(const ReferenceLayout& r, const AtomPos& a, const std::string& type) {
    ASSERT_TRUE(a.present()) << type;
    ASSERT_LE(a.offset + a.size, r.bytes.size()) << type;
    EXPECT_EQ(typeAt(r, a), type);
    EXPECT_EQ(sizeAt(r, a), a.size) << type;
}

void expectChunkTable(const ReferenceLayout& r, const test::TrackLayout& t, bool co64) {
    const uint8_t* table = r.bytes.data() + t.chunkTable.offset;
    ASSERT_EQ(readU32BE(table + 12), t.chunkOffsets.size());
    for (size_t i = 0; i < t.chunkOffsets.size(); ++i) {
        const uint64_t entry = co64 ? static_cast<uint64_t>(readS64BESaturating(table + 16 + 8 * i))
                                    : readU32BE(table + 16 + 4 * i);
        EXPECT_EQ(entry, t.chunkOffsets[i]) << i;
    }
}

TEST(ReferenceBuilder, EveryRecordedAtomIsWhereTheLayoutSays) {
    test::ReferenceOptions o = test::cameraReference();
    o.model = "Canon EOS 70D";
    const ReferenceLayout r = test::buildReference(o);

    expectAtom(r, r.ftyp, "ftyp");
    expectAtom(r, r.mdat, "mdat");
    expectAtom(r, r.moov, "moov");
    expectAtom(r, r.mvhd, "mvhd");
    expectAtom(r, r.udta, "udta");
    EXPECT_EQ(r.moov.offset + r.moov.size, r.bytes.size());
    ASSERT_EQ(r.tracks.size(), 2u);
    for (const auto& t : r.tracks) {
        expectAtom(r, t.trak, "trak");
        expectAtom(r, t.tkhd, "tkhd");
        expectAtom(r, t.mdhd, "mdhd");
        expectAtom(r, t.hdlr, "hdlr");
        expectAtom(r, t.dataHandler, "hdlr");
        expectAtom(r, t.dinf, "dinf");
        expectAtom(r, t.stsd, "stsd");
        expectAtom(r, t.stts, "stts");
        expectAtom(r, t.stsc, "stsc");
        expectAtom(r, t.stsz, "stsz");
        expectAtom(r, t.chunkTable, "stco");
        EXPECT_EQ(t.tkhd.size, 92u);
        EXPECT_EQ(t.mdhd.size, 32u);
        // The media header follows the media handler inside minf.
        EXPECT_EQ(t.mediaHeader.offset, t.minf.offset + 8);
    }
    expectAtom(r, r.tracks[0].mediaHeader, "vmhd");
    expectAtom(r, r.tracks[1].mediaHeader, "smhd");
}

TEST(ReferenceBuilder, ChunksAreInterleavedAndTheTablesPointAtThem) {
    test::ReferenceOptions o;
    o.tracks = {test::avcVideoTrack(3, 0x65, 0xB8), test::soundTrack("sowt", 2, 100, Bytes{0xAB, 0xCD})};
    const ReferenceLayout r = test::buildReference(o);
    const auto& v = r.tracks[0].chunkOffsets;
    const auto& a = r.tracks[1].chunkOffsets;
    ASSERT_EQ(v.size(), 3u);
    ASSERT_EQ(a.size(), 2u);
    EXPECT_EQ(v[0], r.mdat.offset + 8);
    EXPECT_EQ(a[0], v[0] + o.tracks[0].chunks[0].size());
    EXPECT_EQ(v[1], a[0] + 100);
    EXPECT_EQ(v[2], a[1] + 100);
    EXPECT_EQ(r.bytes[v[1] + 4], 0x65);
    EXPECT_EQ(r.bytes[v[1] + 5], 0xB8);
    EXPECT_EQ(r.bytes[a[1]], 0xAB);
    expectChunkTable(r, r.tracks[0], false);
    expectChunkTable(r, r.tracks[1], false);
}

TEST(ReferenceBuilder, SixtyFourBitFormsAndMoovFirst) {
    test::ReferenceOptions o = test::cameraReference();
    o.mdat64 = true;
    o.moovFirst = true;
    o.tracks[0].co64 = true;
    const ReferenceLayout r = test::buildReference(o);

    EXPECT_LT(r.moov.offset, r.mdat.offset);
    EXPECT_EQ(readU32BE(r.bytes.data() + r.mdat.offset), 1u);
    EXPECT_EQ(static_cast<uint64_t>(readS64BESaturating(r.bytes.data() + r.mdat.offset + 8)), r.mdat.size);
    EXPECT_EQ(r.mdat.offset + r.mdat.size, r.bytes.size());
    EXPECT_EQ(r.tracks[0].chunkOffsets[0], r.mdat.offset + 16);
    expectAtom(r, r.tracks[0].chunkTable, "co64");
    expectChunkTable(r, r.tracks[0], true);
    expectChunkTable(r, r.tracks[1], false);
}

TEST(ReferenceBuilder, ExtrasPatchesAndTrailingBytes) {
    test::ReferenceOptions o = test::cameraReference();
    o.compatibleBrands = {"avc1", "isom"};
    o.ftypTail = Bytes().zeros(200);
    o.moovExtraAtoms = {test::atom("free", Bytes().text("-GH5"))};
    o.trailing = Bytes().text("<Device manufacturer=\"Sony\"/>");
    o.patches = {{130, Bytes().text("HERO")}};
    const ReferenceLayout r = test::buildReference(o);

    EXPECT_EQ(r.ftyp.size, 8u + 8u + 8u + 200u);
    EXPECT_EQ(std::string(r.bytes.begin() + 16, r.bytes.begin() + 20), "avc1");
    EXPECT_EQ(std::string(r.bytes.begin() + 130, r.bytes.begin() + 134), "HERO");
    EXPECT_EQ(r.trailingOffset, r.moov.offset + r.moov.size);
    EXPECT_EQ(r.bytes.size(), r.trailingOffset + o.trailing.size());
    const uint64_t freeAt = r.mvhd.offset + r.mvhd.size;
    EXPECT_EQ(std::string(r.bytes.begin() + freeAt + 4, r.bytes.begin() + freeAt + 12), "free-GH5");
    EXPECT_EQ(r.tracks[0].trak.offset, freeAt + 12);
}

}  // namespace
}  // namespace arbel

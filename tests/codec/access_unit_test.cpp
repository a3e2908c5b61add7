// The access-unit walker on crafted H.264 and HEVC units: where each unit
// ends and why, and why the bytes at a position are no unit.
#include "engine/codec/access_unit.h"
#include "engine/codec/picture_order.h"
#include "support/nal_builder.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace arbel::codec {
namespace {

using namespace arbel::test;
using Bytes = std::vector<uint8_t>;

Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

const StreamParameters& h264Stream() {
    static const StreamParameters s = *parseAvcConfiguration(avcConfiguration());
    return s;
}
const StreamParameters& hevcStream() {
    static const StreamParameters s = *parseHevcConfiguration(hevcConfiguration());
    return s;
}

const Bytes kIdr = h264SliceNal({0x65, 0, 7, 0, 0});
const Bytes kP = h264SliceNal({0x41, 0, 5, 1, 2});
const Bytes kAudio = {0x21, 0x1A, 0x54, 0x9C, 0x33, 0x33, 0x33, 0x33, 0x33, 0x33, 0x33, 0x33};

struct WalkCase {
    std::string name;
    Bytes data;           // the unit under test starts at 0
    uint64_t limit;       // 0: the whole data
    UnitFault fault;
    uint64_t end;         // for units: where the unit ends
    UnitEnding ending;
    uint32_t nalUnits;
    bool key;
};

void expectWalk(const WalkCase& c, const StreamParameters& stream) {
    SCOPED_TRACE(c.name);
    const MemoryBytes bytes(c.data);
    const AccessUnitResult r = walkAccessUnit(bytes, 0, c.limit ? c.limit : c.data.size(), stream);
    ASSERT_EQ(static_cast<int>(r.fault), static_cast<int>(c.fault));
    if (!r.ok()) return;
    EXPECT_EQ(r.unit.end, c.end);
    EXPECT_EQ(static_cast<int>(r.unit.ending), static_cast<int>(c.ending));
    EXPECT_EQ(r.unit.nalUnits, c.nalUnits);
    EXPECT_EQ(r.unit.key, c.key);
}

TEST(AccessUnitWalker, FindsWhereEachH264UnitEndsAndWhy) {
    const Bytes idr = lengthPrefixed({kIdr});
    const Bytes p = lengthPrefixed({kP});
    const Bytes sei = lengthPrefixed({h264Nal(0x06)});
    const Bytes aud = lengthPrefixed({h264Nal(0x09, 1)});
    const Bytes slice0 = lengthPrefixed({h264SliceNal({0x41, 0, 0, 3, 6})});
    const Bytes slice40 = lengthPrefixed({h264SliceNal({0x41, 40, 0, 3, 6})});
    const Bytes slice80 = lengthPrefixed({h264SliceNal({0x41, 80, 0, 3, 6})});
    const Bytes otherFrame40 = lengthPrefixed({h264SliceNal({0x41, 40, 0, 4, 8})});
    const Bytes filler = lengthPrefixed({h264Nal(0x0C, 20)});
    const uint64_t s0 = slice0.size(), s40 = slice40.size();

    const std::vector<WalkCase> cases = {
        {"IDR then P", concat({idr, p}), 0, UnitFault::None, idr.size(), UnitEnding::NextUnit, 1, true},
        {"P at the end of the data", p, 0, UnitFault::None, p.size(), UnitEnding::DataEnd, 1, false},
        {"delimiter and SEI lead the picture", concat({aud, sei, idr, aud, p}), 0, UnitFault::None,
         aud.size() + sei.size() + idr.size(), UnitEnding::NextUnit, 3, true},
        {"SEI between two pictures' slices opens the next", concat({slice0, sei, slice0}), 0, UnitFault::None, s0,
         UnitEnding::NextUnit, 1, false},
        {"delimiter between slices opens the next", concat({slice0, aud, slice40}), 0, UnitFault::None, s0,
         UnitEnding::NextUnit, 1, false},
        {"multi-slice frame", concat({slice0, slice40, slice80, p}), 0, UnitFault::None,
         s0 + s40 + slice80.size(), UnitEnding::NextUnit, 3, false},
        {"a slice of another frame is not believed", concat({slice0, otherFrame40}), 0, UnitFault::None, s0,
         UnitEnding::Unrecognised, 1, false},
        {"filler stays with its picture", concat({p, filler, p}), 0, UnitFault::None, p.size() + filler.size(),
         UnitEnding::NextUnit, 2, false},
        {"audio behind the frame", concat({p, kAudio}), 0, UnitFault::None, p.size(), UnitEnding::Unrecognised, 1,
         false},
        {"cut inside the only slice", concat({p}), p.size() - 5, UnitFault::Cut, 0, {}, 0, false},
        {"cut inside the second slice", concat({slice0, slice40}), s0 + s40 - 3, UnitFault::Cut, 0, {}, 0, false},
        {"cut inside the next unit leaves this one whole", concat({idr, p}), idr.size() + 10, UnitFault::None,
         idr.size(), UnitEnding::NextUnit, 1, true},
        {"audio is no unit", kAudio, 0, UnitFault::NoNalUnit, 0, {}, 0, false},
        {"a later slice opens nothing", slice40, 0, UnitFault::NoNalUnit, 0, {}, 0, false},
        {"SEI without a picture", concat({sei, kAudio}), 0, UnitFault::NoPicture, 0, {}, 0, false},
        {"delimiter after the encoder's SEI", concat({sei, aud, p, aud}), 0, UnitFault::None,
         sei.size() + aud.size() + p.size(), UnitEnding::NextUnit, 3, false},
        {"IDR with nal_ref_idc 0", lengthPrefixed({h264SliceNal({0x05, 0, 7, 0, 0})}), 0, UnitFault::NoNalUnit, 0,
         {}, 0, false},
        {"IDR holding a P slice", lengthPrefixed({h264SliceNal({0x65, 0, 5, 0, 0})}), 0, UnitFault::NoNalUnit, 0, {},
         0, false},
        {"first macroblock past the picture", lengthPrefixed({h264SliceNal({0x41, 300, 0, 3, 6})}), 0,
         UnitFault::NoNalUnit, 0, {}, 0, false},
        {"length past the stream's bound", Bytes{0x01, 0x10, 0x00, 0x00, 0x65, 0x88}, 0, UnitFault::NoNalUnit, 0, {},
         0, false},
    };
    for (const auto& c : cases) expectWalk(c, h264Stream());
}

TEST(AccessUnitWalker, ReadsTwoByteLengthPrefixes) {
    StreamParameters stream = *parseAvcConfiguration(avcConfiguration(2));
    EXPECT_EQ(stream.nalLengthSize, 2u);
    const Bytes data = concat({lengthPrefixed({kIdr}, 2), lengthPrefixed({kP}, 2)});
    expectWalk({"two-byte prefixes", data, 0, UnitFault::None, kIdr.size() + 2, UnitEnding::NextUnit, 1, true},
               stream);
    // Read as four-byte prefixes the same bytes are no unit.
    stream.nalLengthSize = 4;
    expectWalk({"read with the wrong size", data, 0, UnitFault::NoNalUnit, 0, {}, 0, false}, stream);
}

TEST(AccessUnitWalker, FindsWhereEachHevcUnitEndsAndWhy) {
    const Bytes idr = lengthPrefixed({hevcSliceNal({19, 0, true})});
    const Bytes trail = lengthPrefixed({hevcSliceNal({1, 0, true, 0, 1, 4})});
    const Bytes segment = lengthPrefixed({hevcSliceNal({1, 0, false, 10, 1, 4})});
    const Bytes prefixSei = lengthPrefixed({hevcNal(39)});
    const Bytes suffixSei = lengthPrefixed({hevcNal(40)});
    const Bytes aud = lengthPrefixed({hevcNal(35, 1)});
    const Bytes cra = lengthPrefixed({hevcSliceNal({21, 0, true, 0, 2, 16})});

    const std::vector<WalkCase> cases = {
        {"IDR then trailing picture", concat({prefixSei, idr, trail}), 0, UnitFault::None,
         prefixSei.size() + idr.size(), UnitEnding::NextUnit, 2, true},
        {"segments and suffix SEI stay together", concat({trail, segment, suffixSei, aud, trail}), 0,
         UnitFault::None, trail.size() + segment.size() + suffixSei.size(), UnitEnding::NextUnit, 3, false},
        {"CRA is a key picture", concat({cra, kAudio}), 0, UnitFault::None, cra.size(), UnitEnding::Unrecognised, 1,
         true},
        {"prefix SEI between segments opens the next", concat({trail, prefixSei, segment}), 0, UnitFault::None,
         trail.size(), UnitEnding::NextUnit, 1, false},
        {"a later segment opens nothing", segment, 0, UnitFault::NoNalUnit, 0, {}, 0, false},
        {"IDR with a temporal id", lengthPrefixed({hevcSliceNal({19, 1, true})}), 0, UnitFault::NoNalUnit, 0, {}, 0,
         false},
        {"cut in the segment", concat({trail, segment}), trail.size() + 20, UnitFault::Cut, 0, {}, 0, false},
    };
    for (const auto& c : cases) expectWalk(c, hevcStream());
}

TEST(AccessUnitWalker, OpensAccessUnitOnlyWhereAUnitCanStart) {
    const Bytes data = concat({lengthPrefixed({kIdr}), kAudio, lengthPrefixed({h264SliceNal({0x41, 40, 0, 3, 6})})});
    const MemoryBytes bytes(data);
    const uint64_t audioAt = kIdr.size() + 4, laterSliceAt = audioAt + kAudio.size();
    EXPECT_TRUE(opensAccessUnit(bytes, 0, data.size(), h264Stream()));
    EXPECT_FALSE(opensAccessUnit(bytes, audioAt, data.size(), h264Stream()));
    EXPECT_FALSE(opensAccessUnit(bytes, laterSliceAt, data.size(), h264Stream()));
}

TEST(ParameterSets, ReadTheFieldsSliceHeadersNeed) {
    const StreamParameters& h = h264Stream();
    ASSERT_NE(h.spsOfPps(0), nullptr);
    EXPECT_EQ(h.spsOfPps(0)->log2MaxFrameNum, 4u);
    EXPECT_EQ(h.spsOfPps(0)->log2MaxPocLsb, 8u);
    EXPECT_EQ(h.spsOfPps(0)->pictureUnits, 300u);
    const StreamParameters& v = hevcStream();
    ASSERT_NE(v.spsOfPps(0), nullptr);
    EXPECT_EQ(v.spsOfPps(0)->log2MaxPocLsb, 8u);
    EXPECT_EQ(v.spsOfPps(0)->pictureUnits, 20u);
    // A record without picture parameters describes no stream.
    Bytes noPps = avcConfiguration();
    noPps.resize(6 + 2 + h264Sps().size());
    noPps.push_back(0);
    EXPECT_FALSE(parseAvcConfiguration(noPps));
    EXPECT_FALSE(parseAvcConfiguration(Bytes{1, 66, 0, 30, 0xFE, 0xE0, 0}));  // 3-byte lengths
}

// Decoding order I0 P8 B4 b2 b6 (B-pyramid), then a new IDR period.
TEST(PictureOrder, GivesPresentationRanksFromTheCounts) {
    struct Picture {
        uint8_t header;
        uint32_t sliceType, frameNum, pocLsb;
    };
    const std::vector<Picture> pictures = {{0x65, 7, 0, 0}, {0x41, 5, 1, 16}, {0x21, 6, 2, 8}, {0x01, 6, 3, 4},
                                           {0x01, 6, 3, 12}, {0x65, 7, 0, 0}, {0x41, 5, 1, 4}};
    PictureOrder order(h264Stream());
    std::vector<PresentationKey> keys;
    for (const auto& p : pictures) {
        const Bytes unit = lengthPrefixed({h264SliceNal({p.header, 0, p.sliceType, p.frameNum, p.pocLsb})});
        const MemoryBytes bytes(unit);
        const AccessUnitResult r = walkAccessUnit(bytes, 0, unit.size(), h264Stream());
        ASSERT_TRUE(r.ok());
        keys.push_back(order.next(r.unit));
    }
    EXPECT_EQ(presentationRanks(keys), (std::vector<uint32_t>{0, 4, 2, 1, 3, 5, 6}));
}

TEST(PictureOrder, CarriesTheCountAcrossTheLsbWrap) {
    // 8-bit LSBs: after 240, 44 stands for 300 and 30 for 286.
    PictureOrder order(hevcStream());
    std::vector<PresentationKey> keys;
    const std::vector<std::pair<uint8_t, uint32_t>> pictures{{19, 0},   {1, 60}, {1, 120}, {1, 180},
                                                             {1, 240}, {1, 44}, {0, 30}};
    for (const auto& [type, lsb] : pictures) {
        const Bytes unit = lengthPrefixed({hevcSliceNal({type, 0, true, 0, type == 19 ? 2u : 1u, lsb})});
        const MemoryBytes bytes(unit);
        const AccessUnitResult r = walkAccessUnit(bytes, 0, unit.size(), hevcStream());
        ASSERT_TRUE(r.ok());
        keys.push_back(order.next(r.unit));
    }
    EXPECT_EQ(presentationRanks(keys), (std::vector<uint32_t>{0, 1, 2, 3, 4, 6, 5}));
}

}  // namespace
}  // namespace arbel::codec

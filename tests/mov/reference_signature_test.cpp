// Signature walk, movie and user-data scans, Canon model names, camera XML.
#include "reference_fixture.h"

namespace arbel {
namespace {

using test::atom;
using test::Bytes;
using test::Names;

// A top-level atom of `size` bytes (type "free") with `bytes` at `offset`
// from its size field.
Bytes atomWith(uint64_t offset, const Bytes& bytes, uint32_t size = 256) {
    Bytes b;
    b.u32be(size).text("free").zeros(size - 8);
    std::vector<uint8_t> v = b.vec();
    std::copy(bytes.vec().begin(), bytes.vec().end(), v.begin() + static_cast<std::ptrdiff_t>(offset));
    return Bytes().append(v);
}

Bytes sonyXml(const std::string& model) {
    return Bytes().text("<Device manufacturer=\"Sony\" modelName=\"" + model + "\" serialNo=\"1\"/>");
}

// A movie atom holding `children`, and the camera XML of an ILCE-7S after it:
// when the XML flag is set, the walk found nothing and the tail scan ran.
Bytes moovThenSonyTail(const Bytes& children) {
    return Bytes().append(atom("moov", children)).append(atom("free", sonyXml("ILCE-7S")));
}

struct SignatureCase {
    const char* name;
    uint64_t offset;
    Bytes bytes;
    Names expected;
};

class SignatureWalk : public test::ReferenceTest {};

TEST_F(SignatureWalk, EachSignatureSetsItsFlagAndEndsTheWalk) {
    const Bytes k0B = Bytes{0x00, 0x00, 0x00, 0x0B}.text("g");
    // A hit ends the walk, so the camera XML at the end is not looked at;
    // a near miss lets the walk run on and the XML name the camera.
    const Names missed{"bSonyA7S"};
    const std::vector<SignatureCase> cases = {
        {"niko at 20", 20, Bytes().text("niko"), {"bNikonBrand20"}},
        {"Niko at 186", 186, Bytes().text("Niko"), {"bNikonTag186"}},
        {"0B g at 48", 48, k0B, {"bSignature0Bg"}},
        {"niko at 184", 184, Bytes().text("niko"), {"bNikonTag184Lower"}},
        {"Niko at 184", 184, Bytes().text("Niko"), {"bNikonTag184"}},
        {"F9 C0 .. 24", 64, Bytes{0xF9, 0xC0, 0, 0, 0, 0, 0, 0x24}, {"bSignature64"}},
        {"F9 40 .. 24", 64, Bytes{0xF9, 0x40, 0, 0, 0, 0, 0, 0x24}, {"bSignature64"}},
        {"8D 40 .. 24", 64, Bytes{0x8D, 0x40, 0, 0, 0, 0, 0, 0x24}, {"bSignature64"}},
        {"HERO at 130", 130, Bytes().text("HERO"), {"bHero130"}},
        {"HERO at 115", 115, Bytes().text("HERO"), {"bHero115"}},
        {"FC63 at 56", 56, Bytes().text("FC63"), {"bFC63"}},
        {"0B h at 48", 48, Bytes{0x00, 0x00, 0x00, 0x0B}.text("h"), missed},
        {"F9 C0 without 24", 64, Bytes{0xF9, 0xC0, 0, 0, 0, 0, 0, 0x25}, missed},
        {"8D C0 .. 24", 64, Bytes{0x8D, 0xC0, 0, 0, 0, 0, 0, 0x24}, missed},
        {"HERO at 131", 131, Bytes().text("HERO"), missed},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Bytes file = Bytes().append(atomWith(c.offset, c.bytes)).append(moovThenSonyTail({}));
        EXPECT_EQ(test::flagsSet(walked(file)->analysis.flags), c.expected);
    }
}

TEST_F(SignatureWalk, RowsAreTriedInOrderAndOnlyTheFirstCounts) {
    Bytes both = atomWith(20, Bytes().text("niko"));
    std::vector<uint8_t> v = both.vec();
    std::copy_n("NikoHERO", 4, v.begin() + 186);
    std::copy_n("HERO", 4, v.begin() + 130);
    EXPECT_EQ(test::flagsSet(walked(v)->analysis.flags), Names{"bNikonBrand20"});

    // "niko" at 184 comes before "FC63" at 56 in the table.
    Bytes lower = atomWith(184, Bytes().text("niko"));
    std::vector<uint8_t> w = lower.vec();
    std::copy_n("FC63", 4, w.begin() + 56);
    EXPECT_EQ(test::flagsSet(walked(w)->analysis.flags), Names{"bNikonTag184Lower"});
}

TEST_F(SignatureWalk, UpperCaseNikoEndsTheWalkWithoutFlagOrTailScan) {
    const Bytes niko = Bytes().append(atomWith(184, Bytes().text("NIKO"))).append(moovThenSonyTail({}));
    EXPECT_TRUE(test::flagsSet(walked(niko)->analysis.flags).empty());

    const Bytes plain = Bytes().append(atomWith(184, Bytes().text("nope"))).append(moovThenSonyTail({}));
    EXPECT_EQ(test::flagsSet(walked(plain)->analysis.flags), Names{"bSonyA7S"});
}

TEST_F(SignatureWalk, HopsFromAtomToAtomAndStepsOverSizeZero) {
    // The signature sits in the second atom: the walk reaches it by the first one's size.
    const Bytes second = Bytes().append(atomWith(0, {}, 300)).append(atomWith(130, Bytes().text("HERO")));
    EXPECT_EQ(test::flagsSet(walked(second)->analysis.flags), Names{"bHero130"});

    // A size of 0 moves the walk 512 bytes on: an atom at 512 is examined, one at 256 is not.
    Bytes zeroSized;
    zeroSized.u32be(0).text("free").zeros(504);
    const Bytes at512 = Bytes().append(zeroSized).append(atomWith(115, Bytes().text("HERO")));
    EXPECT_EQ(test::flagsSet(walked(at512)->analysis.flags), Names{"bHero115"});

    Bytes at256;
    at256.u32be(0).text("free").zeros(248).append(atomWith(115, Bytes().text("HERO"))).zeros(300);
    EXPECT_TRUE(test::flagsSet(walked(at256)->analysis.flags).empty());
}

TEST_F(SignatureWalk, SixtyFourBitSizeIsFollowedToTheMovieAtom) {
    test::ReferenceOptions o = test::cameraReference();
    o.mdat64 = true;
    o.model = "P520";
    EXPECT_EQ(test::flagsSet(walked(test::buildReference(o).bytes)->analysis.flags), Names{"bP520"});
}

TEST_F(SignatureWalk, MovieAtomNamesAndUserDataTexts) {
    struct Case {
        const char* name;
        Bytes moovChildren;
        Names expected;
    };
    const auto udta = [](const std::string& text) { return atom("udta", atom("\xA9mod", Bytes().text(text).u8(0))); };
    const std::vector<Case> cases = {
        {"VIXIA", atom("free", Bytes().text("Canon VIXIA HF")), {"bVixia"}},
        {"VIXI alone", atom("free", Bytes().text("VIXI-")), {"bSonyA7S"}},
        {"-GH5", atom("free", Bytes().text("DMC-GH5")), {"bGH5"}},
        {"H3B", udta("H3B"), {"bH3B"}},
        {"GH4", udta("GH4"), {"bGH4"}},
        {"GH4x", udta("GH4x"), {"bSonyA7S"}},
        {"P520", udta("P520"), {"bP520"}},
        {"P600", udta("P600"), {"bP600"}},
        {"Zx3", udta("Zx3"), {}},
        {"Zx3A", udta("Zx3A"), {"bSonyA7S"}},
        {"Zi8", udta("Zi8 "), {}},
        {"PLAYF", udta("PLAYFULL"), {}},
        {"VIXIA inside udta is not looked for", udta("VIXIA"), {"bSonyA7S"}},
        {"nothing", atom("mvhd", Bytes().zeros(100)), {"bSonyA7S"}},
        {"Canon model", udta("Canon EOS 70D"), {"bCanon", "bCanon70D", "bSonyA7S"}},
        {"Canon then P520", Bytes().append(udta("Canon EOS 80D")).append(atom("free", Bytes().text("P520"))),
         {"bP520", "bCanon", "bCanon80D"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(test::flagsSet(walked(moovThenSonyTail(c.moovChildren))->analysis.flags), c.expected);
    }
}

TEST_F(SignatureWalk, UserDataScanEndsWithItsWindow) {
    // "P520" lies further from the "udta" than one window reaches.
    Bytes far = atom("udta", Bytes().append(atom("free", Bytes().zeros(70000))).text("P520"));
    EXPECT_EQ(test::flagsSet(walked(moovThenSonyTail(far))->analysis.flags), Names{"bSonyA7S"});

    Bytes near = atom("udta", Bytes().append(atom("free", Bytes().zeros(60000))).text("P520"));
    EXPECT_EQ(test::flagsSet(walked(moovThenSonyTail(near))->analysis.flags), Names{"bP520"});
}

TEST_F(SignatureWalk, CanonModelNamesAreComparedWhole) {
    struct Case {
        const char* text;
        Names expected;
    };
    const std::vector<Case> cases = {
        {"Canon PowerShot G9 X Mark II", {"bCanon", "bCanonG9XMarkII"}},
        {"Canon PowerShot G7 X Mark II", {"bCanon", "bCanonG7XMarkII"}},
        {"Canon EOS Rebel T6i", {"bCanon", "bCanonRebelT6i"}},
        {"Canon EOS REBEL T6i", {"bCanon"}},
        {"Canon EOS-1D X Mark II", {"bCanon", "bCanon1DXMarkII"}},
        {"Canon EOS 70D", {"bCanon", "bCanon70D"}},
        {"Canon EOS 80D", {"bCanon", "bCanon80D"}},
        {"Canon EOS 5D Mark IV", {"bCanon", "bCanon5DMarkIV"}},
        {"Canon EOS 5DS", {"bCanon"}},
        {"Canon EOS REBEL T3i", {"bCanon", "bCanonRebelT3i"}},
        {"Canon EOS 5D Mark III", {"bCanon"}},
        {"Canon EOS 5D Mark II", {"bCanon", "bCanon5DMarkII"}},
        {"Canon EOS 60D", {"bCanon", "bCanon60D"}},
        {"Canon EOS 6D", {"bCanon", "bCanon6D"}},
        {"Canon EOS 6D ", {"bCanon"}},
        {"Cannon EOS 6D", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        test::MovStages engine;
        engine.analysis.flags.bCanon70D = true;  // an earlier model is cleared
        engine.analysis.canonModelComparison(c.text);
        Names expected = c.expected;
        EXPECT_EQ(test::flagsSet(engine.analysis.flags), expected);
    }

    // Through the user data: the model text ends at its zero byte.
    EXPECT_EQ(test::flagsSet(walked(moovThenSonyTail(atom("udta", Bytes().text("Canon EOS 5D Mark III").u8(0))))->analysis.flags),
              (Names{"bCanon", "bSonyA7S"}));
}

TEST_F(SignatureWalk, CameraXmlAtTheEndNamesTheSonyModel) {
    struct Case {
        const char* model;
        Names expected;
    };
    const std::vector<Case> cases = {
        {"ILCE-7S", {"bSonyA7S"}},     {"ILCE-7SM2", {"bSonyA7SM2"}}, {"ILCE-6500", {"bSonyA6500"}},
        {"FDR-AX53", {"bSonyAX53"}},   {"FDR-AX33", {"bSonyAX33"}},   {"FDR-AX1E", {"bSonyAX1E"}},
        {"FDR-AX100", {"bSonyAX100"}}, {"ILCE-7R", {}},               {"DSC-RX100", {}},
    };
    const Bytes moov = atom("moov", atom("mvhd", Bytes().zeros(100)));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.model);
        const Bytes file = Bytes().append(moov).append(atom("free", sonyXml(c.model)));
        EXPECT_EQ(test::flagsSet(walked(file)->analysis.flags), c.expected);
    }

    // A Sony whose model matches no row is passed over for the next one.
    const Bytes two = Bytes().append(moov).append(atom("free", Bytes().append(sonyXml("DSC-RX100")).append(sonyXml("ILCE-7SM2"))));
    EXPECT_EQ(test::flagsSet(walked(two)->analysis.flags), Names{"bSonyA7SM2"});

    // Only the last 512 bytes are searched.
    const Bytes early = Bytes().append(moov).append(atom("free", sonyXml("ILCE-7S"))).append(atom("free", Bytes().zeros(600)));
    EXPECT_TRUE(test::flagsSet(walked(early)->analysis.flags).empty());
}

TEST_F(SignatureWalk, ReferenceShorterThanTheTailIsSearchedWhole) {
    const Bytes tiny = atom("free", sonyXml("ILCE-7S"));
    ASSERT_LT(tiny.size(), 512u);
    EXPECT_EQ(test::flagsSet(walked(tiny)->analysis.flags), Names{"bSonyA7S"});

    for (const Bytes& scrap : {Bytes{}, Bytes{0x00}, Bytes().text("moo"), Bytes{0, 0, 0, 0, 'm', 'o', 'o', 'v'}}) {
        EXPECT_TRUE(test::flagsSet(walked(scrap)->analysis.flags).empty());
    }
}

TEST_F(SignatureWalk, StopEndsTheWalk) {
    auto engine = engineFor(moovThenSonyTail({}));
    engine->control->requestStop();
    EXPECT_FALSE(engine->signatureWalk());
    EXPECT_TRUE(test::flagsSet(engine->analysis.flags).empty());
}

}  // namespace
}  // namespace arbel

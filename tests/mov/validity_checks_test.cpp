#include "engine/mov/repair_file.h"
#include "support/bytes.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

namespace arbel {
namespace {

using test::atom;
using test::Bytes;

TEST(ByteReaders, BigEndianValuesAreUnsignedAndEightByteSaturates) {
    const uint8_t two[] = {0x12, 0xFE};
    EXPECT_EQ(RepairFile::twoByteRead(two), 0x12FEu);

    const uint8_t allOnes[] = {0xFF, 0xFF, 0xFF, 0xFF};
    EXPECT_EQ(RepairFile::fourByteRead(allOnes), 4294967295ull);
    const uint8_t high[] = {0x80, 0x00, 0x00, 0x01};
    EXPECT_EQ(RepairFile::fourByteRead(high), 0x80000001ull);

    const uint8_t fourGiB[] = {0, 0, 0, 1, 0, 0, 0, 0};
    EXPECT_EQ(RepairFile::eightByteRead(fourGiB), 4294967296ll);
    const uint8_t signBit[] = {0x80, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(RepairFile::eightByteRead(signBit), INT64_MAX);
    const uint8_t ff[] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    EXPECT_EQ(RepairFile::eightByteRead(ff), INT64_MAX);
    const uint8_t justBelow[] = {0x7F, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFE};
    EXPECT_EQ(RepairFile::eightByteRead(justBelow), INT64_MAX - 1);
}

class MovChecks : public ::testing::Test {
protected:
    test::TempDir dir;
    test::ScopedResultBase base{dir.file("results")};

    bool referenceAccepted(const std::vector<uint8_t>& bytes) {
        RepairFile engine(RepairRequest::forFiles(dir.write("bad.mov", Bytes().vec()), dir.write("ref.mov", bytes)));
        return engine.referencefileValidityCheck();
    }
    bool damagedAccepted(const std::vector<uint8_t>& bytes) {
        RepairFile engine(RepairRequest::forFiles(dir.write("bad.mov", bytes)));
        return engine.corruptedfileValidityCheck();
    }
};

TEST_F(MovChecks, ReferenceNeedsBothMoovAndMdatAsAtomHeaders) {
    const Bytes ftyp = atom("ftyp", Bytes().text("qt  ").u32be(0).text("qt  "));
    const Bytes mdat = atom("mdat", Bytes().fill(100000, 0x11));
    const Bytes moov = atom("moov", atom("mvhd", Bytes().zeros(100)));

    EXPECT_TRUE(referenceAccepted(Bytes().append(ftyp).append(mdat).append(moov)));
    EXPECT_FALSE(referenceAccepted(Bytes().append(ftyp).append(moov)));
    EXPECT_TRUE(referenceAccepted(Bytes().append(ftyp).append(moov).append(mdat)));
    EXPECT_FALSE(referenceAccepted({}));
    EXPECT_FALSE(referenceAccepted(Bytes().text("random bytes without any atom").vec()));
}

TEST_F(MovChecks, ReferenceCheckRefreshesTheRequestedSize) {
    const Bytes file = Bytes().append(atom("mdat", Bytes().zeros(10))).append(atom("moov"));
    RepairRequest request = RepairRequest::forFiles(dir.write("bad.mov", Bytes().vec()), dir.write("ref.mov", file));
    request.referenceSize = 1;  // stale value from an earlier choice
    RepairFile engine(request);
    EXPECT_TRUE(engine.referencefileValidityCheck());
    EXPECT_EQ(engine.request().referenceSize, file.size());
}

TEST_F(MovChecks, SixtyFourBitMdatIsSearchedThroughByteWise) {
    Bytes mdat;
    mdat.u32be(1).text("mdat").u64be(16 + 200000).fill(200000, 0x22);
    const Bytes file = Bytes().append(atom("ftyp", Bytes().text("qt  ").zeros(4))).append(mdat)
                           .append(atom("moov", atom("mvhd", Bytes().zeros(100))));
    EXPECT_TRUE(referenceAccepted(file));
}

TEST_F(MovChecks, ZeroSizedAtomEndsTheBlockInsteadOfLooping) {
    // "free" of size 0 would hop nowhere; the block ends and the scan goes on
    // with the next block, where the real headers stand.
    Bytes file;
    file.u32be(0).text("free").fill(65535 - 8, 0x33);
    file.append(atom("mdat", Bytes().zeros(16))).append(atom("moov"));
    EXPECT_TRUE(referenceAccepted(file));
}

TEST_F(MovChecks, AtomHeaderAtTheVeryEndOfABlockIsNotReadPastTheBlock) {
    // 65,535-byte blocks: a header whose type would end one byte after the
    // block is not seen in that block.
    Bytes file;
    file.fill(65535 - 7, 0x44);
    file.u32be(8).text("moov");  // type bytes 65,532..65,535: the last byte lies in block two
    file.append(atom("mdat"));
    EXPECT_FALSE(referenceAccepted(file));
}

TEST_F(MovChecks, BlockBoundariesOfTheReferenceScan) {
    // 65,536 bytes: two blocks, the second one byte long; the headers in the
    // first block are found.
    Bytes exact;
    exact.append(atom("mdat", Bytes().zeros(8))).append(atom("moov", Bytes().zeros(8)));
    exact.fill(65536 - exact.size(), 0);
    EXPECT_TRUE(referenceAccepted(exact));

    // The second block starts at 65,535, not 65,536: headers that begin
    // exactly there are found by the scan of block two.
    Bytes second;
    second.fill(65535, 0x55);
    second.append(atom("mdat", Bytes().zeros(8))).append(atom("moov", Bytes().zeros(8)));
    EXPECT_TRUE(referenceAccepted(second));
}

TEST_F(MovChecks, DamagedFileNeedsOneOfTheThreeCodesInsideOneSector) {
    EXPECT_TRUE(damagedAccepted(Bytes().u32be(20).text("ftypqt  ").zeros(100)));
    EXPECT_FALSE(damagedAccepted(Bytes().fill(5000, 0x01)));
    EXPECT_FALSE(damagedAccepted({}));

    Bytes deep;
    deep.fill(1024 * 7 + 100, 0x02).text("moov").fill(50, 0);
    EXPECT_TRUE(damagedAccepted(deep));

    // "mdat" at 1,022 straddles the first two sectors and is not seen.
    Bytes straddle;
    straddle.fill(1022, 0).text("mdat").fill(2000, 0);
    EXPECT_FALSE(damagedAccepted(straddle));
    straddle.text("mdat");
    EXPECT_TRUE(damagedAccepted(straddle));
}

TEST_F(MovChecks, DamagedFileSectorCountFollowsTheRecordedSize) {
    // The last, partial sector is examined: 2,052 bytes are three sectors.
    Bytes file;
    file.fill(2048, 0).text("mdat");
    EXPECT_TRUE(damagedAccepted(file));

    // A file larger than many read pieces: the code in a late sector is found.
    Bytes large;
    large.fill(3u << 20, 0x07).text("ftyp");
    EXPECT_TRUE(damagedAccepted(large));
}

TEST_F(MovChecks, MissingDamagedFileIsRefused) {
    RepairFile engine(RepairRequest::forFiles(dir.file("absent.mov")));
    EXPECT_FALSE(engine.corruptedfileValidityCheck());
}

TEST_F(MovChecks, SymbolicLinkReportsItsTargetsSize) {
    const std::string target = dir.write("target.mov", Bytes().fill(12345, 1));
    const std::string link = dir.file("link.mov");
    ASSERT_EQ(::symlink(target.c_str(), link.c_str()), 0);
    const RepairRequest request = RepairRequest::forFiles(link, link);
    EXPECT_EQ(request.damagedSize, 12345u);
    EXPECT_EQ(request.referenceSize, 12345u);
}

}  // namespace
}  // namespace arbel

#include "engine/avi/repair_file_avi.h"
#include "support/bytes.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

namespace arbel {
namespace {

using test::Bytes;

class AviCheck : public ::testing::Test {
protected:
    test::TempDir dir;
    test::ScopedResultBase base{dir.file("results")};

    // Runs the check on the bytes; returns {accepted, db}.
    std::pair<bool, bool> check(const std::vector<uint8_t>& bytes) {
        RepairFileAvi engine(RepairRequest::forFiles(dir.write("bad.avi", bytes)));
        bool accepted = engine.fileValidityCheck();
        return {accepted, engine.db};
    }
};

TEST(AviReader, FourByteReadIsLittleEndianAndUnsigned) {
    const uint8_t bytes[] = {0x01, 0x02, 0x03, 0x84};
    EXPECT_EQ(RepairFileAvi::fourByteRead(bytes), 0x84030201ull);
}

TEST_F(AviCheck, SizeBelowOneKibibyteIsRefused) {
    EXPECT_FALSE(check(Bytes().text("RIFF").zeros(1019)).first);
    EXPECT_TRUE(check(Bytes().text("RIFF").zeros(1020)).first);
}

TEST_F(AviCheck, FirstCodeDecidesDb) {
    EXPECT_EQ(check(Bytes().text("RIFF").zeros(4).text("AVI LIST").zeros(2000)), std::make_pair(true, false));
    EXPECT_EQ(check(Bytes().fill(3000, 0x11).text("00db").u32le(4).zeros(2000)), std::make_pair(true, true));
    EXPECT_EQ(check(Bytes().fill(3000, 0x11).text("00dc").u32le(4).zeros(2000)), std::make_pair(true, false));
    // "00dc" first, "00db" later: the first met code decides.
    EXPECT_EQ(check(Bytes().fill(100, 0).text("00dc").zeros(100).text("00db").zeros(2000)),
              std::make_pair(true, false));
}

TEST_F(AviCheck, OnlyTheTwelveCodesCountAndOnlyInTheFirstTenSectors) {
    EXPECT_FALSE(check(Bytes().text("AVIX").fill(4000, 0x20)).first);  // "AVI" without the blank
    EXPECT_FALSE(check(Bytes().fill(10 * 1024, 0x01).text("RIFF").zeros(2000)).first);
    EXPECT_TRUE(check(Bytes().fill(9 * 1024 + 1020, 0x01).text("movi").zeros(2000)).first);
    EXPECT_TRUE(check(Bytes().fill(500, 0x01).text("01wb").text("idx1").text("00wb").zeros(2000)).first);
    // A code split over two sectors is not seen.
    EXPECT_FALSE(check(Bytes().fill(1022, 0x01).text("strh").fill(2000, 0x01)).first);
}

}  // namespace
}  // namespace arbel

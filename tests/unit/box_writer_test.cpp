// The box writer: sizes patched from what was written, in each format's
// byte order, also once the writer's buffer has gone to the file.
#include "engine/box_writer.h"
#include "platform/output_writer.h"
#include "support/bytes.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <functional>

namespace arbel {
namespace {

using test::Bytes;

class BoxWriterTest : public ::testing::Test {
protected:
    std::vector<uint8_t> written(BoxWriter::Format format, size_t bufferSize,
                                 const std::function<void(BoxWriter&)>& write) {
        OutputWriter out(bufferSize);
        EXPECT_TRUE(out.create(dir.file("boxes")));
        {
            BoxWriter box(out, format);
            write(box);
        }
        failed = out.failed();
        out.close();
        return test::readWholeFile(dir.file("boxes"));
    }
    test::TempDir dir;
    bool failed = false;
};

TEST_F(BoxWriterTest, NestedBoxesGetTheSizesOfTheirContentInEitherFormat) {
    const auto nested = [](BoxWriter& box) {
        box.open("moov");
        box.open("mvhd");
        box.u16(0x0102);
        box.u32(0x03040506);
        box.close();
        box.open("trak");
        box.u64(0x0708090A0B0C0D0Eull);
        box.zeros(5000);  // more than the smallest buffer: the sizes are patched in the file
        box.close();
        box.close();
    };
    for (size_t buffer : {size_t{4096}, size_t{1} << 20}) {
        SCOPED_TRACE(buffer);
        EXPECT_EQ(written(BoxWriter::Format::QuickTime, buffer, nested),
                  Bytes()
                      .u32be(8 + 14 + 8 + 8 + 5000).text("moov")
                      .u32be(14).text("mvhd").u8(1).u8(2).u32be(0x03040506)
                      .u32be(8 + 8 + 5000).text("trak").u32be(0x0708090A).u32be(0x0B0C0D0E).zeros(5000)
                      .vec());
        EXPECT_FALSE(failed);
        EXPECT_EQ(written(BoxWriter::Format::Riff, buffer, nested),
                  Bytes()
                      .text("moov").u32le(8 + 6 + 8 + 8 + 5000)
                      .text("mvhd").u32le(6).u8(2).u8(1).u32le(0x03040506)
                      .text("trak").u32le(8 + 5000).u32le(0x0B0C0D0E).u32le(0x0708090A).zeros(5000)
                      .vec());
    }
}

TEST_F(BoxWriterTest, ListsPlaceholdersAndFaults) {
    // A list counts its type; a placeholder takes its value later.
    EXPECT_EQ(written(BoxWriter::Format::Riff, 4096,
                      [](BoxWriter& box) {
                          box.openList("LIST", "movi");
                          const uint64_t at = box.placeholderU32();
                          box.fourcc("00dc");
                          box.patchU32(at, 0xAABBCCDD);
                          box.close();
                      }),
              Bytes().text("LIST").u32le(12).text("movi").u32le(0xAABBCCDD).text("00dc").vec());
    EXPECT_FALSE(failed);

    // A box left open has a size nobody wrote: the output is failed.
    written(BoxWriter::Format::QuickTime, 4096, [](BoxWriter& box) { box.open("moov"); });
    EXPECT_TRUE(failed);
}

}  // namespace
}  // namespace arbel

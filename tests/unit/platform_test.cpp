#include "engine/file_kind.h"
#include "engine/result_location.h"
#include "platform/file_reader.h"
#include "platform/file_system.h"
#include "platform/output_writer.h"
#include "platform/pacing.h"
#include "support/bytes.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <thread>
#include <unistd.h>

namespace arbel {
namespace {

using test::Bytes;

TEST(FileReaderReads, ShortAndFailedReadsAreZeroFilled) {
    test::TempDir dir;
    const std::string path = dir.write("f.bin", Bytes().text("abcdef"));
    FileReader reader(path);
    ASSERT_TRUE(reader.isOpen());
    EXPECT_EQ(reader.size(), 6u);

    std::vector<uint8_t> buf(10, 0xEE);
    EXPECT_EQ(reader.readAt(4, buf.data(), buf.size()), 2u);
    EXPECT_EQ(buf, (std::vector<uint8_t>{'e', 'f', 0, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(reader.readAt(1000, 3), (std::vector<uint8_t>{0, 0, 0}));
    EXPECT_EQ(reader.readAt(UINT64_MAX - 1, 2), (std::vector<uint8_t>{0, 0}));

    FileReader missing(dir.file("nothing"));
    EXPECT_FALSE(missing.isOpen());
    EXPECT_EQ(missing.readAt(0, 4), (std::vector<uint8_t>{0, 0, 0, 0}));
}

TEST(OutputWriterWrites, BufferedAppendsPatchesAndCopiesGiveExactBytes) {
    test::TempDir dir;
    const std::string source = dir.write("src.bin", Bytes().text("0123456789"));
    FileReader reader(source);

    OutputWriter out(4096);
    ASSERT_TRUE(out.create(dir.file("out.bin")));
    out.appendZeros(8);
    EXPECT_TRUE(out.append(nullptr, 0));  // an empty piece without a buffer
    EXPECT_TRUE(out.append(std::vector<uint8_t>{}));
    out.append(std::vector<uint8_t>{0x01, 0x02, 0x03, 0x04});
    out.appendFrom(reader, 2, 5);   // "23456"
    out.appendFrom(reader, 8, 6);   // "89" and four zeros: short source padded
    std::vector<uint8_t> big(10000, 0xAB);  // larger than the buffer: written straight through
    out.append(big);
    out.append(std::vector<uint8_t>{0xD4, 0xC3, 0xB2, 0xA1});
    EXPECT_EQ(out.cursor(), 8u + 4 + 5 + 6 + 10000 + 4);
    uint8_t header[8] = {0, 0, 0, 9, 'm', 'd', 'a', 't'};
    EXPECT_TRUE(out.writeAt(0, header, 8));
    EXPECT_FALSE(out.writeAt(out.cursor() - 2, header, 8));  // beyond what was written
    EXPECT_TRUE(out.failed());
    out.close();

    const auto bytes = test::readWholeFile(dir.file("out.bin"));
    ASSERT_EQ(bytes.size(), 8u + 4 + 5 + 6 + 10000 + 4);
    EXPECT_EQ(std::vector<uint8_t>(bytes.begin(), bytes.begin() + 8), std::vector<uint8_t>(header, header + 8));
    EXPECT_EQ(std::string(bytes.begin() + 8, bytes.begin() + 12), std::string("\x01\x02\x03\x04"));
    EXPECT_EQ(std::string(bytes.begin() + 12, bytes.begin() + 17), "23456");
    EXPECT_EQ(std::string(bytes.begin() + 17, bytes.begin() + 23), std::string("89\0\0\0\0", 6));
    EXPECT_EQ(bytes[23], 0xAB);
    EXPECT_EQ(bytes[23 + 9999], 0xAB);
    EXPECT_EQ(std::vector<uint8_t>(bytes.end() - 4, bytes.end()), (std::vector<uint8_t>{0xD4, 0xC3, 0xB2, 0xA1}));
}

TEST(OutputWriterWrites, LargeCopiesKeepOrderWithBufferedBytesAndPadPastTheSource) {
    test::TempDir dir;
    std::vector<uint8_t> source(3u << 20);
    for (size_t i = 0; i < source.size(); ++i) source[i] = static_cast<uint8_t>(i * 7 + 1);
    FileReader reader(dir.write("src.bin", source));

    OutputWriter out(4096);
    ASSERT_TRUE(out.create(dir.file("out.bin")));
    out.append("head", 4);                 // still in the buffer when the large copy starts
    const uint64_t large = 1500000;
    out.appendFrom(reader, 1000, large);   // large: copied outside the buffer
    out.append("mid", 3);
    const uint64_t tailStart = source.size() - 1000000;
    out.appendFrom(reader, tailStart, large);  // runs 500,000 bytes past the source's end
    out.appendFrom(reader, 10, 5);         // small: through the buffer
    EXPECT_EQ(out.cursor(), 4u + large + 3 + large + 5);
    ASSERT_TRUE(out.close());
    EXPECT_FALSE(out.failed());

    std::vector<uint8_t> expected{'h', 'e', 'a', 'd'};
    expected.insert(expected.end(), source.begin() + 1000, source.begin() + 1000 + large);
    expected.insert(expected.end(), {'m', 'i', 'd'});
    expected.insert(expected.end(), source.begin() + static_cast<long>(tailStart), source.end());
    expected.insert(expected.end(), large - 1000000, 0);
    expected.insert(expected.end(), source.begin() + 10, source.begin() + 15);
    EXPECT_EQ(test::readWholeFile(dir.file("out.bin")), expected);
}

TEST(OutputWriterWrites, CreationFailureIsReportedWithItsCause) {
    OutputWriter out;
    EXPECT_FALSE(out.create("/nonexistent-folder/x/out.bin"));
    EXPECT_FALSE(out.append("abcd", 4));
    EXPECT_TRUE(out.failed());
    EXPECT_EQ(out.errorText(), "No such file or directory");
}

TEST(OutputWriterWrites, CreationNeverFollowsALinkAndANewFileMustBeNew) {
    test::TempDir dir;
    const std::string target = dir.write("target", Bytes().text("keep").vec());
    ASSERT_EQ(::symlink(target.c_str(), dir.file("link").c_str()), 0);
    struct Case {
        const char* name;
        OutputWriter::Creation creation;
        bool created;
    };
    const Case cases[] = {
        {"link", OutputWriter::Creation::Replace, false},
        {"link", OutputWriter::Creation::New, false},
        {"target", OutputWriter::Creation::New, false},
        {"fresh", OutputWriter::Creation::New, true},
        {"fresh", OutputWriter::Creation::Replace, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        OutputWriter out;
        EXPECT_EQ(out.create(dir.file(c.name), c.creation), c.created) << out.errorText();
    }
    EXPECT_EQ(test::readWholeFile(target), Bytes().text("keep").vec());
}

TEST(PacingPolicy, ZeroModeWaitsNothingAndWakeCutsADesignedWaitShort) {
    Pacing::setMode(Pacing::Mode::Zero);
    EXPECT_EQ(Pacing::scaled(10.0), 0.0);
    auto start = std::chrono::steady_clock::now();
    Pacing::wait(10.0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));

    Pacing::setMode(Pacing::Mode::Designed);
    EXPECT_EQ(Pacing::scaled(1.5), 1.5);
    std::thread waker([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        Pacing::wake();
    });
    start = std::chrono::steady_clock::now();
    Pacing::wait(10.0);
    waker.join();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    Pacing::setMode(Pacing::Mode::Zero);
}

TEST(ResultLocation, BundleTableAndOverridableBase) {
    EXPECT_EQ(productFolderName("com.ArbelSoftware.ArbelVideoRepairI"), "Arbel Video Repair");
    EXPECT_EQ(productFolderName("com.TolvikSoftware.TolvikVideoRepairI"), "Tolvik Video Repair");
    EXPECT_EQ(productFolderName("com.Kendro.KendroMOVRepairI"), "Kendro MOV Repair");
    EXPECT_EQ(productFolderName("com.Dunmere.DunmereVideoRepairI"), "Dunmere Video Repair");
    EXPECT_EQ(productFolderName("com.unknown.app"), "Tolvik Repair MOV");

    test::TempDir dir;
    test::ScopedResultBase base(dir.path());
    EXPECT_EQ(temporaryResultPath(kArbelBundleIdentifier, ResultKind::Mov),
              dir.path() + "/Arbel Video Repair/.testfile.mov");
    EXPECT_EQ(temporaryResultPath("com.unknown.app", ResultKind::Mov),
              dir.path() + "/Tolvik Repair MOV/.testfile.mov");
    // The AVI result does not depend on the bundle identifier.
    EXPECT_EQ(temporaryResultPath("com.unknown.app", ResultKind::Avi),
              dir.path() + "/Arbel Video Repair/.testfile.avi");
    const std::string path = temporaryResultPath(kArbelBundleIdentifier, ResultKind::Avi);
    EXPECT_FALSE(fs::exists(dir.path() + "/Arbel Video Repair"));
    EXPECT_TRUE(ensureParentFolder(path));
    EXPECT_TRUE(fs::exists(dir.path() + "/Arbel Video Repair"));
}

TEST(ResultLocation, EachRunningProgramClaimsATemporaryResultOfItsOwn) {
    test::TempDir dir;
    test::ScopedResultBase base(dir.path());
    const std::string first = temporaryResultPath(kArbelBundleIdentifier, ResultKind::Mov);
    auto one = std::make_unique<TemporaryResultClaim>(kArbelBundleIdentifier, ResultKind::Mov);
    TemporaryResultClaim two(kArbelBundleIdentifier, ResultKind::Mov);
    TemporaryResultClaim avi(kArbelBundleIdentifier, ResultKind::Avi);
    EXPECT_EQ(one->path(), first);
    EXPECT_EQ(two.path(), dir.path() + "/Arbel Video Repair/.testfile-2.mov");
    EXPECT_EQ(avi.path(), dir.path() + "/Arbel Video Repair/.testfile.avi");
    // The name of a program that has ended is taken up again.
    one.reset();
    EXPECT_EQ(TemporaryResultClaim(kArbelBundleIdentifier, ResultKind::Mov).path(), first);
}

TEST(ResultLocation, DefaultBaseIsTheXdgDataHome) {
    const char* saved = std::getenv("XDG_DATA_HOME");
    std::string savedValue = saved ? saved : "";
    unsetenv("ARBEL_RESULT_BASE");
    setenv("XDG_DATA_HOME", "/tmp/xdg-data", 1);
    EXPECT_EQ(resultBaseFolder(), "/tmp/xdg-data");
    unsetenv("XDG_DATA_HOME");
    setenv("HOME", "/home/someone", 1);
    EXPECT_EQ(resultBaseFolder(), "/home/someone/.local/share");
    if (saved) setenv("XDG_DATA_HOME", savedValue.c_str(), 1);
}

TEST(FileKinds, ExtensionsComparedWithoutCase) {
    EXPECT_EQ(fileKindForPath("/a/b.MOV"), FileKind::QuickTime);
    EXPECT_EQ(fileKindForPath("/a/b.Mp4"), FileKind::QuickTime);
    EXPECT_EQ(fileKindForPath("clip.m4v"), FileKind::QuickTime);
    EXPECT_EQ(fileKindForPath("/x.y/clip.AvI"), FileKind::Avi);
    EXPECT_EQ(fileKindForPath("/x.avi/clip"), FileKind::None);
    EXPECT_EQ(fileKindForPath("clip.mkv"), FileKind::None);
    EXPECT_EQ(fs::lastPathComponent("/a/b/c.mov"), "c.mov");
}

}  // namespace
}  // namespace arbel

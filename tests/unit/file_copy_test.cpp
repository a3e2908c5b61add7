// Saving's copy of the repaired file: exact bytes, stop and pause, every
// failure ending without a partial file, and destinations it must not write.
#include "platform/file_copy.h"
#include "platform/pacing.h"
#include "support/scripted_copy_io.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <functional>
#include <sys/mount.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace arbel {
namespace {

std::vector<uint8_t> pattern(size_t size) {
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>((i * 131) ^ (i >> 9));
    return bytes;
}

class FileCopyTest : public ::testing::Test {
protected:
    void SetUp() override { Pacing::setMode(Pacing::Mode::Zero); }

    // A source of `size` bytes and a request to copy it into the folder.
    CopyRequest request(size_t size, size_t pieceSize = kCopyPieceSize) {
        sourceBytes = pattern(size);
        CopyRequest r;
        r.source = dir.write(".testfile.mov", sourceBytes);
        r.destination = dir.file("repaired.mov");
        r.need = size;
        r.pieceSize = pieceSize;
        r.io = &io;
        return r;
    }

    CopyResult copy(const CopyRequest& r) { return copyFile(r, CopyFlags{pause, stop}, progress); }

    // What every copy that did not complete must leave: no partial file, no
    // new file, the source as it was.
    void expectNothingWritten(const CopyRequest& r) {
        EXPECT_FALSE(pathTaken(partialPathFor(r.destination)));
        EXPECT_FALSE(pathTaken(r.destination));
        EXPECT_EQ(test::readWholeFile(r.source), sourceBytes);
        EXPECT_FALSE(progress.durable.load());
    }

    test::TempDir dir;
    test::ScriptedCopyIo io;
    std::atomic<bool> pause{false}, stop{false};
    CopyProgress progress;
    std::vector<uint8_t> sourceBytes;
};

TEST_F(FileCopyTest, EveryByteArrivesInWholePiecesAndALastShortOne) {
    struct Case {
        size_t size, piece;
        int writes;
    };
    const size_t P = kCopyPieceSize;
    for (const Case& c : {Case{0, 1024, 0}, Case{1, 1024, 1}, Case{1023, 1024, 1}, Case{1024, 1024, 1},
                          Case{1025, 1024, 2}, Case{2048, 1024, 2}, Case{2049, 1024, 3}, Case{P - 1, P, 1},
                          Case{P, P, 1}, Case{P + 1, P, 2}}) {
        SCOPED_TRACE(::testing::Message() << c.size << " bytes in pieces of " << c.piece);
        io.writes = 0;
        ::unlink(dir.file("repaired.mov").c_str());
        const CopyRequest r = request(c.size, c.piece);
        const CopyResult result = copy(r);
        ASSERT_EQ(result.outcome, CopyOutcome::Copied) << result.reason;
        EXPECT_EQ(result.copied, c.size);
        EXPECT_EQ(io.writes, c.writes);
        EXPECT_EQ(test::readWholeFile(r.destination), sourceBytes);
        EXPECT_FALSE(pathTaken(partialPathFor(r.destination)));
        EXPECT_EQ(progress.copied.load(), c.size);
        EXPECT_TRUE(progress.durable.load());
    }
}

TEST_F(FileCopyTest, StopAfterAPieceLeavesNoFile) {
    for (int k : {1, 2, 4}) {
        SCOPED_TRACE(k);
        io.writes = 0;
        stop = false;
        io.afterWrite = [&](int piece) {
            if (piece == k) stop = true;
        };
        const CopyRequest r = request(4 * 1024, 1024);
        const CopyResult result = copy(r);
        // Even after the last piece the stop wins over the rename.
        EXPECT_EQ(result.outcome, CopyOutcome::Stopped);
        EXPECT_EQ(result.copied, k * 1024u);
        expectNothingWritten(r);
    }
}

TEST_F(FileCopyTest, PauseHoldsTheCopyAndResumeFinishesItExactly) {
    const CopyRequest r = request(8 * 1024, 1024);
    io.afterWrite = [&](int piece) {
        if (piece == 3) pause = true;
    };
    CopyResult result;
    std::thread worker([&] { result = copy(r); });
    while (!pause) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(progress.copied.load(), 3 * 1024u);
    EXPECT_EQ(io.writes, 3);
    pause = false;
    worker.join();
    ASSERT_EQ(result.outcome, CopyOutcome::Copied) << result.reason;
    EXPECT_EQ(test::readWholeFile(r.destination), sourceBytes);
}

TEST_F(FileCopyTest, StopWhilePausedEndsTheCopy) {
    const CopyRequest r = request(4 * 1024, 1024);
    pause = true;
    CopyResult result;
    std::thread worker([&] { result = copy(r); });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    stop = true;
    worker.join();
    EXPECT_EQ(result.outcome, CopyOutcome::Stopped);
    expectNothingWritten(r);
}

TEST_F(FileCopyTest, EveryFailureIsReportedAndRemovesThePartialFile) {
    struct Case {
        const char* name;
        std::function<void(test::ScriptedCopyIo&, const CopyRequest&)> breakIt;
        std::string reason;
    };
    const Case cases[] = {
        {"disk full on the second piece", [](test::ScriptedCopyIo& s, const CopyRequest&) { s.failWriteAt = 2, s.writeError = ENOSPC; },
         std::strerror(ENOSPC)},
        {"write error", [](test::ScriptedCopyIo& s, const CopyRequest&) { s.failWriteAt = 1, s.writeError = EIO; },
         std::strerror(EIO)},
        {"sync error", [](test::ScriptedCopyIo& s, const CopyRequest&) { s.syncError = EIO; }, "to disk"},
        {"read error", [](test::ScriptedCopyIo& s, const CopyRequest&) { s.readError = EIO; }, "Cannot read"},
        {"source shrank", [](test::ScriptedCopyIo& s, const CopyRequest& r) {
             s.afterWrite = [path = r.source](int piece) {
                 if (piece == 1) {
                     ASSERT_EQ(::truncate(path.c_str(), 1500), 0);
                 }
             };
         },
         "ended after 1500 of 4096 bytes"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        io.writes = 0;
        io.failWriteAt = io.writeError = io.readError = io.syncError = 0;
        io.afterWrite = nullptr;
        const CopyRequest r = request(4096, 1024);
        c.breakIt(io, r);
        const CopyResult result = copy(r);
        EXPECT_EQ(result.outcome, CopyOutcome::Failed);
        EXPECT_NE(result.reason.find(c.reason), std::string::npos) << result.reason;
        EXPECT_FALSE(pathTaken(partialPathFor(r.destination)));
        EXPECT_FALSE(pathTaken(r.destination));
        EXPECT_FALSE(progress.durable.load());
        // The temporary result is kept for another try.
        EXPECT_TRUE(pathTaken(r.source));
    }
}

TEST_F(FileCopyTest, FailureLeavesTheFileItWasToReplaceAsItWas) {
    CopyRequest r = request(4096, 1024);
    const std::vector<uint8_t> earlier = pattern(77);
    test::writeWholeFile(r.destination, earlier);
    r.replaceExisting = true;
    io.failWriteAt = 3;
    io.writeError = ENOSPC;
    EXPECT_EQ(copy(r).outcome, CopyOutcome::Failed);
    EXPECT_EQ(test::readWholeFile(r.destination), earlier);
    EXPECT_FALSE(pathTaken(partialPathFor(r.destination)));
}

TEST_F(FileCopyTest, RealFullDiskOnASmallTmpfs) {
    const std::string mountPoint = dir.file("small");
    ASSERT_EQ(::mkdir(mountPoint.c_str(), 0755), 0);
    if (::mount("tmpfs", mountPoint.c_str(), "tmpfs", 0, "size=64k") != 0)
        GTEST_SKIP() << "cannot mount a tmpfs here: " << std::strerror(errno);
    struct Unmount {
        std::string path;
        ~Unmount() { ::umount(path.c_str()); }
    } unmount{mountPoint};
    CopyRequest r = request(512 * 1024, 16 * 1024);
    r.destination = mountPoint + "/repaired.mov";
    r.io = nullptr;
    const CopyResult result = copy(r);
    EXPECT_EQ(result.outcome, CopyOutcome::Failed);
    EXPECT_NE(result.reason.find(std::strerror(ENOSPC)), std::string::npos) << result.reason;
    EXPECT_FALSE(pathTaken(partialPathFor(r.destination)));
    EXPECT_FALSE(pathTaken(r.destination));
    EXPECT_EQ(test::readWholeFile(r.source), sourceBytes);
}

TEST_F(FileCopyTest, WhatStandsAtTheDestination) {
    enum class Expect { Copied, Refused };
    struct Case {
        const char* name;
        // Lays the destination folder out; returns the file that must not change.
        std::function<std::string(test::TempDir&, CopyRequest&)> layOut;
        Expect expect;
    };
    const Case cases[] = {
        {"a link is replaced, its target untouched",
         [](test::TempDir& d, CopyRequest& r) {
             const std::string target = d.write("target.mov", pattern(10));
             EXPECT_EQ(::symlink(target.c_str(), r.destination.c_str()), 0);
             r.replaceExisting = true;
             return target;
         },
         Expect::Copied},
        {"a hard link to the damaged file is refused",
         [](test::TempDir& d, CopyRequest& r) {
             const std::string damaged = d.write("damaged.mov", pattern(10));
             EXPECT_EQ(::link(damaged.c_str(), r.destination.c_str()), 0);
             r.protectedPaths = {damaged};
             r.replaceExisting = true;
             return damaged;
         },
         Expect::Refused},
        {"the reference itself is refused",
         [](test::TempDir& d, CopyRequest& r) {
             r.destination = d.write("reference.mov", pattern(10));
             r.protectedPaths = {d.file("damaged.mov"), r.destination};
             r.replaceExisting = true;
             return r.destination;
         },
         Expect::Refused},
        {"the source itself is refused",
         [](test::TempDir&, CopyRequest& r) {
             r.destination = r.source;
             r.replaceExisting = true;
             return std::string();
         },
         Expect::Refused},
        {"a partial name that is the damaged file is refused",
         [](test::TempDir& d, CopyRequest& r) {
             const std::string damaged = d.write("damaged.mov", pattern(10));
             EXPECT_EQ(::link(damaged.c_str(), partialPathFor(r.destination).c_str()), 0);
             r.protectedPaths = {damaged};
             return damaged;
         },
         Expect::Refused},
        {"an existing file is kept unless the user agreed",
         [](test::TempDir& d, CopyRequest& r) {
             d.write("repaired.mov", pattern(10));
             return r.destination;
         },
         Expect::Refused},
        {"an existing file is replaced when the user agreed",
         [](test::TempDir& d, CopyRequest& r) {
             d.write("repaired.mov", pattern(10));
             r.replaceExisting = true;
             return std::string();
         },
         Expect::Copied},
        {"a folder in the way is refused",
         [](test::TempDir&, CopyRequest& r) {
             EXPECT_EQ(::mkdir(r.destination.c_str(), 0755), 0);
             r.replaceExisting = true;
             return std::string();
         },
         Expect::Refused},
        {"a partial file left behind is replaced, a link there not followed",
         [](test::TempDir& d, CopyRequest& r) {
             const std::string victim = d.write("victim.bin", pattern(10));
             EXPECT_EQ(::symlink(victim.c_str(), partialPathFor(r.destination).c_str()), 0);
             return victim;
         },
         Expect::Copied},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test::TempDir folder;
        CopyRequest r = request(3000, 1024);
        r.source = folder.write(".testfile.mov", sourceBytes);
        r.destination = folder.file("repaired.mov");
        const std::string untouched = c.layOut(folder, r);
        const std::vector<uint8_t> before = untouched.empty() ? std::vector<uint8_t>{} : test::readWholeFile(untouched);

        const CopyResult result = copy(r);
        if (c.expect == Expect::Copied) {
            ASSERT_EQ(result.outcome, CopyOutcome::Copied) << result.reason;
            struct stat st {};
            ASSERT_EQ(::lstat(r.destination.c_str(), &st), 0);
            EXPECT_TRUE(S_ISREG(st.st_mode));
            EXPECT_EQ(test::readWholeFile(r.destination), sourceBytes);
        } else {
            EXPECT_EQ(result.outcome, CopyOutcome::Failed);
            EXPECT_FALSE(result.reason.empty());
            EXPECT_EQ(io.writes, 0);
        }
        if (!untouched.empty()) {
            EXPECT_EQ(test::readWholeFile(untouched), before);
        }
        EXPECT_TRUE(pathTaken(r.source));
        io.writes = 0;
    }
}

TEST_F(FileCopyTest, MissingSourceIsRefused) {
    CopyRequest r = request(100);
    r.source = dir.file("gone.mov");
    const CopyResult result = copy(r);
    EXPECT_EQ(result.outcome, CopyOutcome::Failed);
    EXPECT_NE(result.reason.find("Cannot open"), std::string::npos);
    EXPECT_FALSE(pathTaken(r.destination));
    EXPECT_FALSE(pathTaken(partialPathFor(r.destination)));
}

TEST(CopyPercent, NeverAheadOfTheBytesAndFullOnlyWhenDurable) {
    struct Case {
        uint64_t copied, need;
        bool durable;
        int percent;
    };
    const uint64_t huge = uint64_t{1} << 62;
    for (const Case& c : {Case{0, 0, false, 0}, Case{0, 0, true, 100}, Case{0, 99, false, 0}, Case{1, 3, false, 33},
                          Case{50, 100, false, 50}, Case{99, 100, false, 99}, Case{100, 100, false, 99},
                          Case{100, 100, true, 100}, Case{huge - 1, huge, false, 99},
                          Case{huge / 2, huge + 1, false, 49}, Case{UINT64_MAX / 2, UINT64_MAX, false, 49}}) {
        SCOPED_TRACE(::testing::Message() << c.copied << " of " << c.need << (c.durable ? " durable" : ""));
        EXPECT_EQ(copyPercent(c.copied, c.need, c.durable), c.percent);
    }
}

}  // namespace
}  // namespace arbel

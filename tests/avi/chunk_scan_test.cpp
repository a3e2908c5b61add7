// The chunk scan: which candidates become table entries, where the tables
// point, and that reading in large pieces finds what the 1 KiB sector walk
// with its 3 KiB window finds.
#include "avi_engine_fixture.h"

#include "platform/file_reader.h"

#include <fcntl.h>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

namespace arbel {
namespace {

using test::Bytes;
using test::mediaChunk;

struct Found {
    std::vector<uint64_t> videoOffsets, videoSizes, audioOffsets, audioSizes;
    bool operator==(const Found&) const = default;
};

Found tablesOf(const RepairFileAvi& e) {
    auto tail = [](const std::vector<uint64_t>& table, uint64_t count) {
        EXPECT_EQ(table.size(), count + 1);
        EXPECT_EQ(table.at(0), 0u);  // entry 0 is never used
        return std::vector<uint64_t>(table.begin() + 1, table.end());
    };
    return {tail(e.videosampleoffsetarray, e.videosamplecount), tail(e.videosamplesizearray, e.videosamplecount),
            tail(e.audiosampleoffsetarray, e.audiosamplecount), tail(e.audiosamplesizearray, e.audiosamplecount)};
}

class AviChunkScan : public test::AviEngineTest {
protected:
    const uint64_t start = test::aviHeader().size();  // where the movie data begins

    // Header, the given movie data, an "idx1" marker, padding to 600 KiB.
    Found scan(const Bytes& movie, const std::string& after = "idx1") {
        Bytes b = test::aviHeader();
        b.append(movie).text(after);
        auto engine = repair(test::padTo(b, test::kRepairableSize));
        EXPECT_EQ(notes.completed(), 1u);
        return tablesOf(*engine);
    }
};

TEST_F(AviChunkScan, AChunkCountsWhenAnotherChunkFollowsAfterAtMostTwoPadBytes) {
    Bytes movie;
    const uint64_t v1 = start + movie.size();
    movie.append(mediaChunk("00dc", 100));  // next chunk right behind
    const uint64_t a1 = start + movie.size();
    movie.append(mediaChunk("01wb", 50)).zeros(1);  // one pad byte
    const uint64_t v2 = start + movie.size();
    movie.append(mediaChunk("00db", 101)).zeros(2);  // two pad bytes, then JUNK
    movie.append(test::chunk("JUNK", Bytes().fill(20, 0x22)));
    movie.append(mediaChunk("01wb", 30)).zeros(3);  // three pad bytes: too many
    const uint64_t v3 = start + movie.size();
    movie.append(mediaChunk("00dc", 64));  // followed by "00dc"
    movie.append(mediaChunk("00dc", 8));   // the last one, before "idx1"

    Found f = scan(movie);
    EXPECT_EQ(f.videoOffsets, (std::vector<uint64_t>{v1, v2, v3}));
    EXPECT_EQ(f.videoSizes, (std::vector<uint64_t>{100, 101, 64}));
    EXPECT_EQ(f.audioOffsets, (std::vector<uint64_t>{a1}));
    EXPECT_EQ(f.audioSizes, (std::vector<uint64_t>{50}));
}

TEST_F(AviChunkScan, TheLastChunkBeforeAnIndexOrAListIsNotCollected) {
    for (const std::string after : {"idx1", "ix00", "LIST"}) {
        Bytes movie = mediaChunk("00dc", 40).append(mediaChunk("01wb", 40));
        Found f = scan(movie, after);
        EXPECT_EQ(f.videoOffsets, (std::vector<uint64_t>{start})) << after;
        EXPECT_TRUE(f.audioOffsets.empty()) << after;
    }
}

TEST_F(AviChunkScan, AudioOfStreamZeroAndVideoOfStreamOneAreNeverCollectedNorFollowers) {
    Bytes movie;
    movie.append(mediaChunk("00wb", 40));  // followed by "00dc", still not collected
    movie.append(mediaChunk("00dc", 40));  // followed by "01dc": not a chunk to follow
    movie.append(mediaChunk("01dc", 40));  // followed by "01wb", still not collected
    movie.append(mediaChunk("01wb", 40));  // followed by "00wb": not a chunk to follow
    movie.append(mediaChunk("00wb", 40));
    Found f = scan(movie);
    EXPECT_TRUE(f.videoOffsets.empty());
    EXPECT_TRUE(f.audioOffsets.empty());
}

TEST_F(AviChunkScan, SizeFieldsOfZeroOrAboveNineMillionNineHundredNinetyNineThousandAreDropped) {
    Bytes movie;
    movie.text("00dc").u32le(0);  // size 0, "01wb" right behind
    movie.append(mediaChunk("01wb", 9999999));
    movie.append(mediaChunk("00dc", 10000000));
    movie.append(mediaChunk("00dc", 4));
    Found f = scan(movie);
    EXPECT_EQ(f.audioOffsets, (std::vector<uint64_t>{start + 8}));
    EXPECT_EQ(f.audioSizes, (std::vector<uint64_t>{9999999}));
    EXPECT_TRUE(f.videoOffsets.empty());
}

TEST_F(AviChunkScan, EveryPositionIsTestedSoAChunkInsideAnotherChunkIsCollectedToo) {
    Bytes inner = Bytes().fill(10, 0x5A).append(mediaChunk("01wb", 6)).text("JUNK").fill(10, 0x5A);
    Bytes movie = test::chunk("00dc", inner);
    movie.append(mediaChunk("00dc", 4));
    Found f = scan(movie);
    EXPECT_EQ(f.videoOffsets, (std::vector<uint64_t>{start}));
    EXPECT_EQ(f.audioOffsets, (std::vector<uint64_t>{start + 8 + 10}));
}

TEST_F(AviChunkScan, TheLastSectorIsScannedWhetherOrNotTheSizeIsAMultipleOfOneKibibyte) {
    for (size_t size : {size_t{600 * 1024}, size_t{600 * 1024 + 37}}) {
        Bytes b = test::aviHeader().append(mediaChunk("00dc", 10)).text("idx1");
        test::padTo(b, size - 14);
        b.text("01wb").u32le(2).text("zz").text("00dc");  // the file's last 14 bytes
        ASSERT_EQ(b.size(), size);
        auto engine = repair(b);
        EXPECT_EQ(engine->numberofsectors, (size + 1023) / 1024);
        EXPECT_EQ(tablesOf(*engine).audioOffsets, (std::vector<uint64_t>{size - 14})) << size;
    }
}

TEST_F(AviChunkScan, TablesStopAtTheirCapacityAndSayItOnce) {
    const uint64_t capacity = RepairFileAvi::kChunkTableEntries - 1;
    Bytes b = test::aviHeader();
    b.append(mediaChunk("01wb", 16));
    for (uint64_t k = 0; k < capacity + 5; ++k) b.text("00dc").u32le(1).u8('v');
    b.text("00dc").u32le(1).u8('v').text("idx1");
    auto engine = repair(b);

    EXPECT_EQ(engine->videosamplecount, capacity);
    EXPECT_EQ(engine->videosamplesizearray.size(), RepairFileAvi::kChunkTableEntries);
    EXPECT_EQ(engine->videosampleoffsetarray.back(), start + 24 + (capacity - 1) * 9);
    EXPECT_EQ(engine->audiosamplecount, 1u);  // the other stream is unaffected
    EXPECT_TRUE(engine->videotablefull);
    EXPECT_FALSE(engine->audiotablefull);
    EXPECT_EQ(logCount("video chunks: the rest of that stream is left out"), 1u);

    // The result lists exactly the kept chunks.
    ASSERT_EQ(notes.completed(), 1u);
    const std::vector<uint8_t> out = result();
    ASSERT_TRUE(test::riffSpansTheFile(out));
    EXPECT_EQ(test::text4(out, 384 + 40 + 6), "ix00");
    EXPECT_EQ(test::le32(out, 384 + 40 + 10), 24 + 8 * capacity);  // its size
    EXPECT_EQ(test::le32(out, 384 + 40 + 18), capacity);            // entries in use
}

// The plain sector walk, as slow as it is clear: 1 KiB sectors, a 3 KiB window read
// for each, a file read for each size field and each follow-up.
Found sectorWalk(const std::string& path, uint64_t size) {
    FileReader file(path);
    Found f;
    const uint64_t sectors = size <= 1024 ? 1 : size / 1024 + (size % 1024 != 0);
    std::vector<uint8_t> window(3072);
    for (uint64_t sector = 1; sector <= sectors; ++sector) {
        file.readAt((sector - 1) * 1024, window.data(), window.size());
        for (size_t i = 0; i < 1024; ++i) {
            const std::string code(reinterpret_cast<const char*>(&window[i]), 4);
            const bool video = code == "00db" || code == "00dc";
            if (!video && code != "01wb") continue;
            const uint64_t p = (sector - 1) * 1024 + i;
            const auto sizeField = file.readAt(p + 4, 4);
            const uint64_t z = RepairFileAvi::fourByteRead(sizeField.data());
            if (z == 0 || z > 9999999) continue;
            const auto next = file.readAt(p + 8 + z, 6);
            bool followed = false;
            for (size_t skip = 0; skip <= 2; ++skip)
                for (const char* follower : {"JUNK", "01wb", "00db", "00dc"})
                    followed = followed || std::equal(follower, follower + 4, next.begin() + skip);
            if (!followed) continue;
            (video ? f.videoOffsets : f.audioOffsets).push_back(p);
            (video ? f.videoSizes : f.audioSizes).push_back(z);
        }
    }
    return f;
}

TEST_F(AviChunkScan, FindsWhatTheSectorWalkFindsAcrossEveryReadBoundary) {
    std::mt19937 random(20240611);
    auto pick = [&random](uint32_t lo, uint32_t hi) { return std::uniform_int_distribution<uint32_t>(lo, hi)(random); };
    static const char* const kIds[] = {"00dc", "01wb", "00db", "00dc", "01wb", "00wb", "01dc", "JUNK", "idx1", "ix00"};

    Bytes b = test::aviHeader();
    while (b.size() < 9500 * 1024) {
        const uint32_t kind = pick(0, 999);
        const uint32_t size = kind < 985 ? pick(1, 3000) : kind < 993 ? pick(200000, 400000) : kind < 997 ? 0 : 9999999;
        b.text(kIds[pick(0, 9)]).u32le(size);
        const size_t dataBytes = std::min<size_t>(size, 400000);
        for (size_t k = 0; k < dataBytes; ++k) b.u8(static_cast<uint8_t>(pick(0, 255)));
        b.zeros(pick(0, 3));
    }
    std::vector<uint8_t> bytes = b.vec();
    auto plant = [&bytes](uint64_t at, const std::string& id, uint32_t size, const std::string& follower) {
        std::copy(id.begin(), id.end(), bytes.begin() + static_cast<std::ptrdiff_t>(at));
        for (int k = 0; k < 4; ++k) bytes[at + 4 + k] = static_cast<uint8_t>(size >> (8 * k));
        std::copy(follower.begin(), follower.end(), bytes.begin() + static_cast<std::ptrdiff_t>(at + 8 + size));
    };
    const uint64_t piece = 4 << 20;
    plant(piece - 2, "00dc", 100, "01wb");                 // identifier across the first piece boundary
    plant(piece + 1024 - 1, "01wb", 50, "00dc");           // across a sector boundary
    plant(2 * piece - 3, "00db", 500, "JUNK");             // across the second piece boundary
    plant(piece - 100, "01wb", (256 << 10) + 90, "JUNK");  // follow-up across the end of what a piece holds
    plant(2 * piece - 1000, "00dc", 9000, "00dc");

    auto engine = repair(bytes);
    const Found expected = sectorWalk(dir.file("damaged.avi"), bytes.size());
    EXPECT_GT(expected.videoOffsets.size() + expected.audioOffsets.size(), 300u);
    EXPECT_TRUE(tablesOf(*engine) == expected);
    EXPECT_EQ(tablesOf(*engine).videoOffsets.size(), expected.videoOffsets.size());
    EXPECT_EQ(tablesOf(*engine).audioOffsets.size(), expected.audioOffsets.size());
}

TEST_F(AviChunkScan, OffsetsBeyondFourGibibytesAreKeptAndCopiedWhole) {
    // A sparse file on a memory file system: 4 GiB of nothing costs no disk.
    const std::string path = "/dev/shm/arbel-avi-4gib-" + std::to_string(::getpid()) + ".avi";
    const int fd = ::open(path.c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0600);
    if (fd < 0) GTEST_SKIP() << "no /dev/shm";
    struct Unlink {
        std::string path;
        ~Unlink() { ::unlink(path.c_str()); }
    } cleanup{path};

    const uint64_t far = (1ull << 32) + 1000;
    Bytes head = test::aviHeader();
    test::padTo(head, test::kRepairableSize);
    Bytes tail = Bytes().text("00dc").u32le(16).text("0123456789abcdef").append(mediaChunk("01wb", 8)).text("00dc");
    const bool written = ::pwrite(fd, head.vec().data(), head.size(), 0) == static_cast<ssize_t>(head.size()) &&
                         ::pwrite(fd, tail.vec().data(), tail.size(), static_cast<off_t>(far)) ==
                             static_cast<ssize_t>(tail.size());
    ::close(fd);
    ASSERT_TRUE(written);

    chooseFile(path);
    auto engine = makeEngine();
    ASSERT_TRUE(engine->fileValidityCheck());
    engine->retrieveAudioVideoSamples();
    const Found f = tablesOf(*engine);
    EXPECT_EQ(f.videoOffsets, (std::vector<uint64_t>{far}));
    EXPECT_EQ(f.audioOffsets, (std::vector<uint64_t>{far + 24}));

    ASSERT_EQ(notes.completed(), 1u);
    const std::vector<uint8_t> out = result();
    ASSERT_TRUE(test::riffSpansTheFile(out));
    // Both chunks, identifiers and data, as they stand 4 GiB into the damaged file.
    const auto copied = out.begin() + static_cast<std::ptrdiff_t>(test::chunkBaseOf(out, "ix00"));
    EXPECT_EQ(std::vector<uint8_t>(copied, out.end()), std::vector<uint8_t>(tail.vec().begin(), tail.vec().end() - 4));
}

}  // namespace
}  // namespace arbel

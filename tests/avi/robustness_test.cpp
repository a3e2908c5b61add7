// Damaged input of every shape: the engine ends with exactly one outcome and
// never reads or writes out of bounds (the sanitizer build runs this too).
#include "avi_engine_fixture.h"

#include "platform/file_system.h"

#include <random>

namespace arbel {
namespace {

using test::Bytes;
using test::mediaChunk;

class AviRobustness : public test::AviEngineTest {
protected:
    // Runs the check and, as the controller would only after a pass but here
    // regardless, the repair; checks what must hold for any input.
    // Answers whether the repair completed.
    bool feed(const std::vector<uint8_t>& bytes, const std::string& what) {
        SCOPED_TRACE(what);
        auto engine = repair(bytes);
        const size_t outcomes = notes.completed() + notes.refused();
        EXPECT_EQ(outcomes, 1u);
        const bool completed = notes.completed() == 1;
        if (completed) {
            const std::vector<uint8_t> out = result();
            EXPECT_TRUE(test::riffSpansTheFile(out));
            EXPECT_EQ(engine->videostrfdata.size(), engine->videostrfsize);
            EXPECT_LE(engine->videostrfsize, RepairFileAvi::kMaxStreamFormatSize);
            EXPECT_LE(engine->audiostrfsize, RepairFileAvi::kMaxStreamFormatSize);
        } else {
            EXPECT_FALSE(fs::exists(resultPath()));
        }
        return completed;
    }
};

TEST_F(AviRobustness, EveryTruncationOfAHealthyFileEndsWithOneOutcome) {
    Bytes healthy = test::aviHeader();
    for (int k = 0; healthy.size() < 700 * 1024; ++k)
        healthy.append(mediaChunk("00dc", 1000 + (k * 37) % 4000)).append(mediaChunk("01wb", 500 + k % 7));
    healthy.text("idx1").u32le(16).zeros(16);
    const std::vector<uint8_t>& all = healthy.vec();
    int completed = 0;
    for (size_t cut : {size_t{0}, size_t{1}, size_t{100}, size_t{1023}, size_t{1024}, size_t{250}, size_t{300},
                       size_t{330}, size_t{524288}, size_t{524289}, size_t{600000}, all.size() - 7, all.size()}) {
        completed += feed(
            std::vector<uint8_t>(all.begin(), all.begin() + static_cast<std::ptrdiff_t>(std::min(cut, all.size()))),
            "cut at " + std::to_string(cut));
    }
    EXPECT_EQ(completed, 4);  // the four cuts longer than 512 KiB
}

TEST_F(AviRobustness, RandomBytesAndRandomlyPlacedCodesWithWildSizes) {
    std::mt19937 random(7);
    auto pick = [&random](uint32_t lo, uint32_t hi) { return std::uniform_int_distribution<uint32_t>(lo, hi)(random); };
    static const char* const kCodes[] = {"vids", "auds", "avih", "strf", "00dc", "00db", "01wb", "JUNK", "RIFF"};
    int completed = 0;
    for (int round = 0; round < 24; ++round) {
        std::vector<uint8_t> bytes(pick(0, 3) == 0 ? pick(0, 4096) : pick(524000, 720000));
        for (auto& b : bytes) b = static_cast<uint8_t>(pick(0, 255));
        // Codes with sizes that are small, at the limits, or near 4 GiB.
        const uint32_t codes = round % 3 == 0 ? 0 : pick(10, 3000);
        for (uint32_t k = 0; k < codes && bytes.size() > 16; ++k) {
            const size_t at = pick(0, static_cast<uint32_t>(bytes.size() - 16));
            const char* code = kCodes[pick(0, 8)];
            const uint32_t kinds[] = {pick(1, 64), 65536, 65537, 9999999, 10000000, 0xFFFFFFF0u, pick(0, 0xFFFFFFFFu)};
            const uint32_t size = kinds[pick(0, 6)];
            std::copy(code, code + 4, bytes.begin() + static_cast<std::ptrdiff_t>(at));
            for (int s = 0; s < 4; ++s) bytes[at + 4 + s] = static_cast<uint8_t>(size >> (8 * s));
        }
        // Half the rounds carry a real header at the start, so the scan runs.
        if (round % 2 == 1 && bytes.size() > 2048) {
            const Bytes header = test::aviHeader();
            std::copy(header.vec().begin(), header.vec().end(), bytes.begin());
        }
        completed += feed(bytes, "round " + std::to_string(round));
    }
    EXPECT_GT(completed, 0);  // some rounds reach the writer
}

TEST_F(AviRobustness, TheValidityCheckCopesWithAnyLength) {
    for (size_t size : {size_t{0}, size_t{3}, size_t{1023}, size_t{1024}, size_t{1027}, size_t{10 * 1024 + 3}}) {
        std::vector<uint8_t> bytes(size, '0');
        choose(bytes);
        auto engine = makeEngine();
        EXPECT_FALSE(engine->fileValidityCheck()) << size;
    }
    chooseFile(dir.file("missing.avi"));
    auto engine = makeEngine();
    EXPECT_FALSE(engine->fileValidityCheck());
    engine->retrieveAudioVideoSamples();
    EXPECT_EQ(notes.refused(), 1u);
}

}  // namespace
}  // namespace arbel

// Truncated, mutated and random input on the reference and damaged-file
// paths: the engine must neither crash nor read out of bounds (the sanitizer
// build runs this), and every repair it starts must end in an outcome.
#include "platform/pacing.h"
#include "support/camera_clip.h"
#include "support/engine_run.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <random>

namespace arbel {
namespace {

using namespace arbel::test;

class Robustness : public ::testing::Test {
protected:
    void SetUp() override {
        Pacing::setMode(Pacing::Mode::Zero);
        reference = readWholeFile(std::string(ARBEL_SAMPLES_DIR) + "/reference.mov");
        damaged = readWholeFile(std::string(ARBEL_SAMPLES_DIR) + "/damaged.mov");
        ASSERT_GT(reference.size(), 4096u) << "the bundled samples are missing";
        ASSERT_GT(damaged.size(), 4096u);
    }

    // Runs one repair and checks what every run must satisfy. Answers the outcome.
    MovRepairOutcome check(const ByteString& ref, const ByteString& bad, const std::string& what) {
        SCOPED_TRACE(what);
        const MovRepairOutcome o = runMovRepair(dir.write("ref.mov", ref), dir.write("bad.mov", bad));
        if (!o.ran()) {
            EXPECT_TRUE(o.statuses.empty()) << "a refused check must not start a repair";
            return o;
        }
        const double last = o.lastProgress();
        EXPECT_TRUE(last == 100.0 || last == 101.0) << o.statusTrail();
        if (o.completed()) expectUsableResult(o.resultPath);
        return o;
    }

    // "Repair completed." promises a file whose media-data header comes
    // first (after a file-type box and padding at most) and whose tables
    // point inside it.
    static void expectUsableResult(const std::string& path) {
        const ByteString bytes = readWholeFile(path);
        ASSERT_GE(bytes.size(), 16u) << "completed over an empty result";
        size_t at = 0;
        auto typeAt = [&](size_t p) { return std::string(reinterpret_cast<const char*>(&bytes[p + 4]), 4); };
        while (at + 8 <= bytes.size() && typeAt(at) != "mdat") {
            const std::string type = typeAt(at);
            ASSERT_TRUE(type == "ftyp" || type == "free" || type == "wide") << type << " before the media data";
            const size_t size = (size_t{bytes[at]} << 24) | (size_t{bytes[at + 1]} << 16) |
                                (size_t{bytes[at + 2]} << 8) | bytes[at + 3];
            ASSERT_GE(size, 8u);
            at += size;
        }
        ASSERT_LE(at + 8, bytes.size()) << "no media data";
        std::string error;
        const auto tracks = readTracks(path, error);
        EXPECT_EQ(error, "");
        ASSERT_FALSE(tracks.empty());
        for (const auto& track : tracks)
            for (const auto& unit : track.units)
                ASSERT_LE(unit.offset + unit.size, bytes.size()) << track.handler << " unit past the end";
    }

    TempDir dir;
    ScopedResultBase base{dir.file("results")};
    ByteString reference;
    ByteString damaged;
};

TEST_F(Robustness, EveryPrefixOfARealReference) {
    // A short damaged recording keeps each run quick; the reference is cut at
    // a coarse stride through its media and a fine one through its header.
    const ByteString bad(damaged.begin(), damaged.begin() + 60000);
    const uint64_t moovRegion = reference.size() > 6000 ? reference.size() - 6000 : 0;
    size_t ran = 0, completed = 0;
    for (uint64_t length = 0; length <= reference.size(); length += length < moovRegion ? 4093 : 53) {
        const ByteString prefix(reference.begin(), reference.begin() + static_cast<long>(length));
        const auto o = check(prefix, bad, "reference cut at " + std::to_string(length));
        ran += o.ran();
        completed += o.completed();
        if (HasFatalFailure()) return;
    }
    const auto whole = check(reference, bad, "whole reference");
    EXPECT_TRUE(whole.ran());
    std::printf("prefix runs: %zu repairs started, %zu completed\n", ran, completed);
}

TEST_F(Robustness, MutatedReferenceHeaders) {
    // Random bytes of the movie atom changed: sizes, counts and offsets that
    // lie about the file.
    std::mt19937 rng(20261208);
    const ByteString bad(damaged.begin(), damaged.begin() + 60000);
    const size_t headerStart = reference.size() > 8000 ? reference.size() - 8000 : 0;
    for (int round = 0; round < 60; ++round) {
        ByteString ref = reference;
        const int changes = 1 + round % 8;
        for (int c = 0; c < changes; ++c) {
            const size_t at = headerStart + rng() % (ref.size() - headerStart);
            ref[at] = round % 3 == 0 ? 0xFF : round % 3 == 1 ? 0x00 : static_cast<uint8_t>(rng());
        }
        check(ref, bad, "mutation round " + std::to_string(round));
        if (HasFatalFailure()) return;
    }
}

TEST_F(Robustness, RandomAndMutatedDamagedFiles) {
    std::mt19937 rng(7);
    for (int round = 0; round < 40; ++round) {
        ByteString bad;
        const char* kind = "";
        switch (round % 4) {
        case 0: {  // random bytes with an "mdat" somewhere so the check lets them in
            kind = "random";
            bad.resize(rng() % 200000 + 16);
            for (auto& b : bad) b = static_cast<uint8_t>(rng());
            const size_t at = rng() % (bad.size() - 8);
            std::copy_n("mdat", 4, bad.begin() + static_cast<long>(at));
            break;
        }
        case 1: {  // the real recording with random stretches zeroed or scrambled
            kind = "scrambled";
            bad = damaged;
            for (int s = 0; s < 6; ++s) {
                const size_t from = rng() % bad.size();
                const size_t to = std::min(bad.size(), from + rng() % 5000);
                for (size_t i = from; i < to; ++i) bad[i] = s % 2 ? 0 : static_cast<uint8_t>(rng());
            }
            break;
        }
        case 2: {  // length prefixes that claim huge or tiny frames
            kind = "lying lengths";
            bad = damaged;
            for (size_t i = 64; i + 8 < bad.size(); i += 997 + rng() % 3000) {
                const uint32_t len = rng() % 2 ? 0xFFFFFFF0u : rng() % 16;
                bad[i] = static_cast<uint8_t>(len >> 24);
                bad[i + 1] = static_cast<uint8_t>(len >> 16);
                bad[i + 2] = static_cast<uint8_t>(len >> 8);
                bad[i + 3] = static_cast<uint8_t>(len);
                bad[i + 4] = rng() % 2 ? 0x25 : 0x21;
                bad[i + 5] = 0x88;
            }
            break;
        }
        default:  // cut anywhere, even inside the first atom
            kind = "cut";
            bad.assign(damaged.begin(), damaged.begin() + static_cast<long>(8 + rng() % (damaged.size() - 8)));
            std::copy_n("ftyp", 4, bad.begin() + 4);
            break;
        }
        check(reference, bad, std::string(kind) + " round " + std::to_string(round));
        if (HasFatalFailure()) return;
    }
}

TEST_F(Robustness, RandomReferencesWithPlantedAtoms) {
    std::mt19937 rng(99);
    for (int round = 0; round < 30; ++round) {
        ByteString ref(rng() % 100000 + 64);
        for (auto& b : ref) b = static_cast<uint8_t>(rng() % 4 ? rng() : 0);
        // Plant a few atom headers of random sizes, including "moov" and
        // "mdat" so the reference check passes and the walks start.
        const char* types[] = {"ftyp", "mdat", "moov", "trak", "mdia", "mdhd", "stbl", "stsd",
                               "stco", "co64", "stsz", "stts", "tkhd", "udta", "wave", "mp4a"};
        for (int a = 0; a < 40; ++a) {
            const size_t at = 4 + rng() % (ref.size() - 8);
            std::copy_n(types[a < 3 ? a : rng() % 16], 4, ref.begin() + static_cast<long>(at));
            const uint32_t size = rng() % 3 == 0 ? 0 : rng() % 3 == 1 ? static_cast<uint32_t>(rng()) : rng() % 600;
            ref[at - 4] = static_cast<uint8_t>(size >> 24);
            ref[at - 3] = static_cast<uint8_t>(size >> 16);
            ref[at - 2] = static_cast<uint8_t>(size >> 8);
            ref[at - 1] = static_cast<uint8_t>(size);
        }
        check(ref, damaged, "random reference " + std::to_string(round));
        if (HasFatalFailure()) return;
    }
}

}  // namespace
}  // namespace arbel

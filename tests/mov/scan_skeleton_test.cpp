// The shared scanning skeleton: windows, look-ahead reads, poll points and the
// copy-and-record of units.
#include "scan_fixture.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <optional>
#include <functional>
#include <thread>

namespace arbel {
namespace {

using test::MediaDataBuilder;

// Deterministic bytes that no scan gives meaning to.
std::vector<uint8_t> patternBytes(size_t n) {
    std::vector<uint8_t> v(n);
    uint32_t x = 12345;
    for (auto& b : v) {
        x = x * 1103515245u + 12345u;
        b = static_cast<uint8_t>(x >> 16);
    }
    return v;
}

// Examines every position and takes nothing; counts the visits.
class CountingVariant : public ScanVariant {
public:
    explicit CountingVariant(size_t size) : visits(size, 0) { markWhere(0, [](uint8_t) { return true; }); }
    bool examine(MediaScanner& s, uint64_t p, const uint8_t* at, ScanStep&) override {
        if (p < visits.size()) ++visits[p];
        // The window bytes given must be the file's.
        LookBuffer scratch;
        const ByteView fromFile = s.bytesAt(p, 8, scratch);
        if (std::memcmp(at, fromFile.data(), 8) != 0) ++mismatches;
        return false;
    }
    std::vector<int> visits;
    int mismatches = 0;
};

// Takes a unit of `unit` bytes at every multiple of `unit`, alternating video
// and audio.
class SlicingVariant : public ScanVariant {
public:
    explicit SlicingVariant(uint64_t unit) : unit_(unit) { markWhere(0, [](uint8_t) { return true; }); }
    bool examine(MediaScanner& s, uint64_t p, const uint8_t*, ScanStep& step) override {
        examined.push_back(p);
        if (p % unit_ != 0 || s.end() - p < unit_) return false;
        step.take((p / unit_) % 2 == 0 ? UnitKind::Video : UnitKind::Audio, p, unit_);
        step.next = p + unit_;
        return true;
    }
    // Stops the repair once this many units were recorded.
    void record(MediaScanner& s, const TakenUnit& u, uint64_t at) override {
        ScanVariant::record(s, u, at);
        if (++recorded == stopAfter && control) control->requestStop();
    }
    int recorded = 0;
    int stopAfter = -1;
    RepairControl* control = nullptr;
    std::vector<uint64_t> examined;

private:
    uint64_t unit_;
};

class Skeleton : public test::ScanFixture {
protected:
    MediaScanner& scannerFor(const std::vector<uint8_t>& bytes) {
        prepare(bytes);
        EXPECT_TRUE(engine->createTemporaryResult(dir.file("result.mov")));
        scanner = engine->makeScanner();
        return *scanner;
    }
    std::unique_ptr<MediaScanner> scanner;
};

TEST_F(Skeleton, EveryPositionIsExaminedOnceAcrossWindows) {
    const size_t size = 2 * MediaScanner::kWindowBytes + 12'345;
    const std::vector<uint8_t> bytes = patternBytes(size);
    MediaScanner& s = scannerFor(bytes);
    CountingVariant variant(size);
    ASSERT_TRUE(s.run(variant, 0));
    EXPECT_EQ(std::count(variant.visits.begin(), variant.visits.end(), 1), static_cast<long>(size));
    EXPECT_EQ(variant.mismatches, 0);
    EXPECT_EQ(engine->tables.ullBytesTraversed, size);
}

TEST_F(Skeleton, UnitsCrossingWindowsAreCopiedWhole) {
    const uint64_t unit = 300'007;  // crosses every window boundary at a new place
    const std::vector<uint8_t> bytes = patternBytes(unit * 9 + 17);
    MediaScanner& s = scannerFor(bytes);
    SlicingVariant variant(unit);
    ASSERT_TRUE(s.run(variant, 0));
    engine->result.outputfile.close();

    EXPECT_EQ(engine->tables.sample_count(), 5u);
    EXPECT_EQ(engine->tables.Avc_audioCount(), 4u);
    EXPECT_EQ(engine->tables.video_buffer_start.at(1), 8 + 2 * unit);
    EXPECT_EQ(engine->tables.Audio_buffer_start.at(0), 8 + unit);
    const std::vector<uint8_t> out = result();
    ASSERT_EQ(out.size(), 8 + 9 * unit);
    EXPECT_EQ(slice(out, 8, 9 * unit), slice(bytes, 0, 9 * unit));
    // Nothing inside a unit taken is looked at again.
    for (uint64_t p : variant.examined) {
        if (p < 9 * unit) {
            ASSERT_EQ(p % unit, 0u) << p;
        }
    }
}

TEST_F(Skeleton, LookAheadReadsAreBoundedByTheEnd) {
    const std::vector<uint8_t> bytes = patternBytes(5000);
    MediaScanner& s = scannerFor(bytes);
    LookBuffer scratch;

    const ByteView tail = s.bytesAt(4990, 512, scratch);
    ASSERT_EQ(tail.size(), 512u);
    EXPECT_EQ(std::vector<uint8_t>(tail.data(), tail.data() + 10), slice(bytes, 4990, 10));
    EXPECT_TRUE(std::all_of(tail.data() + 10, tail.data() + 512, [](uint8_t b) { return b == 0; }));

    const ByteView beyond = s.bytesAt(UINT64_MAX - 3, 16, scratch);
    EXPECT_TRUE(std::all_of(beyond.data(), beyond.data() + beyond.size(), [](uint8_t b) { return b == 0; }));
    // Asking for more than a look-ahead holds gives what fits, never more.
    EXPECT_EQ(s.bytesAt(0, kLookAheadMax * 4, scratch).size(), kLookAheadMax);
}

TEST_F(Skeleton, ScanEndsAtTheChosenSizeEvenWhenTheFileIsLonger) {
    std::vector<uint8_t> bytes = patternBytes(10'000);
    MediaScanner& s0 = scannerFor(bytes);
    EXPECT_EQ(s0.end(), 10'000u);
    engine->corruptFileSize = 6000;
    const auto shorter = engine->makeScanner();
    MediaScanner& s = *shorter;
    EXPECT_EQ(s.end(), 6000u);
    LookBuffer scratch;
    const ByteView v = s.bytesAt(5996, 8, scratch);
    EXPECT_EQ(v.u32be(0), readU32BE(bytes.data() + 5996));
    EXPECT_EQ(v.u32be(4), 0u);
    // Nor does a file shorter than the chosen size let the scan run on.
    engine->corruptFileSize = 1'000'000;
    EXPECT_EQ(engine->makeScanner()->end(), 10'000u);
}

TEST_F(Skeleton, FindSeesPatternsAcrossReadPieces) {
    std::vector<uint8_t> bytes(3 * MediaScanner::kWindowBytes, 0x5A);
    const uint64_t at = 2 * MediaScanner::kWindowBytes + 65'535;  // straddles two 64 KiB pieces
    std::memcpy(bytes.data() + at, "moov", 4);
    bytes[100] = 0xFF;
    bytes[101] = 0xD9;
    MediaScanner& s = scannerFor(bytes);
    EXPECT_EQ(s.find(0, bytes.size(), "moov", 4), at);
    EXPECT_EQ(s.find(at + 1, bytes.size(), "moov", 4), MediaScanner::kNotFound);
    EXPECT_EQ(s.find(0, at + 3, "moov", 4), MediaScanner::kNotFound);  // must fit inside the range
    static constexpr uint8_t kEoi[2] = {0xFF, 0xD9};
    EXPECT_EQ(s.find(0, 1000, kEoi, 2), 100u);
    EXPECT_EQ(s.find(101, 1000, kEoi, 2), MediaScanner::kNotFound);

    // A predicate sees its reach even across pieces, the first hit wins, and
    // the range's end is kept.
    const auto moovThenZero = [](const uint8_t* p) { return std::memcmp(p, "moov", 4) == 0 && p[4] == 0x5A; };
    EXPECT_EQ(s.findIf(0, bytes.size(), moovThenZero), at);
    EXPECT_EQ(s.findIf(0, at, moovThenZero), MediaScanner::kNotFound);
    EXPECT_EQ(s.findIf(50, 1000, [](const uint8_t* p) { return p[0] == 0xFF; }), 100u);
    // Past the end of the scan the predicate reads zeros.
    EXPECT_EQ(s.findIf(bytes.size() - 2, bytes.size(), [](const uint8_t* p) { return p[2] == 0 && p[15] == 0; }),
              bytes.size() - 2);

    // The byte before a position, in the window or read from the file.
    EXPECT_EQ(s.byteBefore(0), std::nullopt);
    EXPECT_EQ(s.byteBefore(101), std::optional<uint8_t>(0xFF));
    EXPECT_EQ(s.byteBefore(at + 1), std::optional<uint8_t>('m'));
}

TEST_F(Skeleton, FindIfStopsWhenTheUserStops) {
    std::vector<uint8_t> bytes(2 * MediaScanner::kWindowBytes, 0x5A);
    MediaScanner& s = scannerFor(bytes);
    engine->control->requestStop();
    EXPECT_EQ(s.findIf(0, bytes.size(), [](const uint8_t* p) { return p[0] == 0x5A; }), MediaScanner::kNotFound);
}

TEST_F(Skeleton, SumsAndOffsetsAreSixtyFourBit) {
    MediaScanner& s = scannerFor(patternBytes(100));
    engine->tables.sum_audio = (uint64_t{1} << 31) - 10;
    engine->tables.Sum_video = (uint64_t{1} << 32) - 1;
    s.recordAudio(uint64_t{5} << 32, 100);
    s.recordVideo(uint64_t{6} << 32, 2);
    EXPECT_EQ(engine->tables.sum_audio, (uint64_t{1} << 31) + 90);
    EXPECT_EQ(engine->tables.Sum_video, (uint64_t{1} << 32) + 1);
    EXPECT_EQ(engine->tables.Audio_buffer_start.back(), uint64_t{5} << 32);
    EXPECT_EQ(engine->tables.video_buffer_start.back(), uint64_t{6} << 32);
}

TEST_F(Skeleton, StopBetweenUnitsEndsTheScanAtOnce) {
    const std::vector<uint8_t> bytes = patternBytes(10 * 1000);
    MediaScanner& s = scannerFor(bytes);
    SlicingVariant variant(1000);
    variant.stopAfter = 3;
    variant.control = engine->control.get();
    EXPECT_FALSE(s.run(variant, 0));
    EXPECT_TRUE(s.stopped());
    EXPECT_EQ(variant.recorded, 3);
    EXPECT_EQ(engine->tables.sample_count() + engine->tables.Avc_audioCount(), 3u);
}

// Asks for a stop at the first position it examines.
class StoppingVariant : public ScanVariant {
public:
    StoppingVariant(uint64_t every, RepairControl& control) : control_(control) {
        markWhere(0, [&](uint8_t b) { return every == 1 || b == 0xA5; });
    }
    bool examine(MediaScanner&, uint64_t p, const uint8_t*, ScanStep&) override {
        lastExamined = p;
        control_.requestStop();
        return false;
    }
    uint64_t lastExamined = 0;

private:
    RepairControl& control_;
};

TEST_F(Skeleton, StopIsSeenWithinAFewThousandPositions) {
    // Examined positions (every one) and passed-over ones (all but every
    // 100,000th) both reach a poll point long before the window ends.
    std::vector<uint8_t> bytes(MediaScanner::kWindowBytes, 0x00);
    for (size_t i = 0; i < bytes.size(); i += 100'000) bytes[i] = 0xA5;
    for (uint64_t every : {uint64_t{1}, uint64_t{100'000}}) {
        SCOPED_TRACE(every);
        MediaScanner& s = scannerFor(bytes);
        StoppingVariant variant(every, *engine->control);
        EXPECT_FALSE(s.run(variant, 0));
        EXPECT_LE(variant.lastExamined, MediaScanner::kPollEveryBytes);
    }
}

TEST_F(Skeleton, WriteFailureIsRecordedAndEndsTheScan) {
    MediaDataBuilder m;
    for (int i = 0; i < 400; ++i) m.nal(10'000, {0x25, 0x88});
    test::MovStages& e = prepare(m.data());
    e.templates.sizeAudio = 1000;
    ASSERT_TRUE(e.createTemporaryResult("/dev/full"));
    ASSERT_TRUE(e.runVariantScan());
    e.result.outputfile.close();
    EXPECT_TRUE(e.result.writeFailed);
    // Nothing more is copied once the file refuses writes.
    EXPECT_LT(e.tables.sample_count(), 399u);
}

// Stop and pause through the real entry, with the scan on its own thread.
class StopAndPause : public test::ScanFixture {
protected:
    std::vector<uint8_t> frames() {
        MediaDataBuilder m;
        for (int i = 0; i < 50; ++i) m.nal(5000, {0x25, 0x88});
        return m.data();
    }
    // Runs the scan on a worker that starts paused; `whilePaused` runs once
    // the scan has reported its start.
    bool runPaused(const std::function<void()>& whilePaused) {
        std::atomic<bool> started{false};
        center.addObserver("", [&](const std::string&, const NotifDict&) { started = true; });
        engine->setPauseRepairing(true);
        EXPECT_TRUE(engine->createTemporaryResult(dir.file("result.mov")));
        bool ok = true;
        std::thread worker([&] { ok = engine->runVariantScan(); });
        while (!started) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        whilePaused();
        worker.join();
        engine->result.outputfile.close();
        return ok;
    }
};

TEST_F(StopAndPause, StopWhilePausedReturnsFalseAndReportsNothingMore) {
    prepare(frames());
    const bool ok = runPaused([&] {
        engine->control->requestStop();
    });
    EXPECT_FALSE(ok);
    EXPECT_EQ(statuses(), (std::vector<std::string>{kLocatingText}));
    EXPECT_EQ(engine->tables.sample_count(), 0u);
    EXPECT_TRUE(result().empty());
}

TEST_F(StopAndPause, ResumedScanTakesEverything) {
    prepare(frames());
    const bool ok = runPaused([&] { engine->setPauseRepairing(false); });
    EXPECT_TRUE(ok);
    EXPECT_EQ(engine->tables.sample_count(), 49u);
    EXPECT_EQ(result().size(), 8u + 49u * 5004u);
}

TEST_F(StopAndPause, StopBeforeTheScanTakesNothing) {
    prepare(frames());
    center.addObserver("", [this](const std::string&, const NotifDict& d) {
        if (notifString(d, "status") == std::string(kLocatingText)) engine->control->requestStop();
    });
    EXPECT_FALSE(scanVariants());
    EXPECT_EQ(engine->tables.sample_count(), 0u);
    EXPECT_EQ(statuses(), (std::vector<std::string>{kLocatingText}));
}

}  // namespace
}  // namespace arbel

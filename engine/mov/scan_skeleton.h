#pragma once

// The one scanning skeleton that every scan of the damaged file runs on.
//
// A scan variant only answers, for a position P of the damaged file, either
// "nothing here" (the scan moves one byte on) or "take these units and go on
// at Q". The skeleton owns everything else: the windows read from the damaged
// file, the poll points for stop and pause, bounded look-ahead reads, the
// copy of each unit into the result and its record in the sample tables, the
// bytes reserved for the media-data header, and the growth of the tables.

#include "engine/byte_order.h"
#include "reference_analysis.h"
#include "reference_templates.h"
#include "result_file.h"
#include "sample_tables.h"
#include "stage_context.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace arbel {

class MediaScanner;

enum class UnitKind : uint8_t {
    Video,
    Audio,
    LeadingAudio,  // the audio block that stands before the first frame
};

struct TakenUnit {
    UnitKind kind = UnitKind::Video;
    uint64_t position = 0;     // in the damaged file
    uint64_t length = 0;
    bool startsChunk = false;  // first frame of a group (MJPEG)
};

// A variant's answer for one position.
struct ScanStep {
    std::vector<TakenUnit> units;
    uint64_t next = 0;  // where the scan goes on; anything not past P counts as P + 1

    void clear() {
        units.clear();
        next = 0;
    }
    void take(UnitKind kind, uint64_t position, uint64_t length, bool startsChunk = false) {
        units.push_back({kind, position, length, startsChunk});
    }
};

// A set of byte values, written as a list: ByteSet{0x01, 0x21}.
struct ByteSet {
    std::array<bool, 256> has{};
    constexpr ByteSet() = default;
    constexpr ByteSet(std::initializer_list<uint8_t> bytes) {
        for (uint8_t b : bytes) has[b] = true;
    }
    constexpr bool contains(uint8_t b) const { return has[b]; }
};

// Room for one look-ahead read that the window cannot serve.
inline constexpr size_t kLookAheadMax = 2048;
using LookBuffer = std::array<uint8_t, kLookAheadMax>;

// Saturating position arithmetic: a size from the file never wraps a position
// back into the file.
inline uint64_t addClamped(uint64_t a, uint64_t b) { return b > UINT64_MAX - a ? UINT64_MAX : a + b; }

class ScanVariant {
public:
    virtual ~ScanVariant() = default;

    // Cheap pre-test: a position is examined only when one of its bytes at
    // the offsets a variant marks (P, or P + 4 for the NAL header behind a
    // length prefix, ...) is marked at that offset. Keeps the cost of a byte
    // that starts nothing to a few table look-ups.
    static constexpr size_t kPreTestReach = 8;
    void markAt(size_t offset, std::initializer_list<uint8_t> bytes) {
        for (uint8_t b : bytes) markAt(offset, b);
    }
    void markAt(size_t offset, const ByteSet& bytes) {
        for (unsigned b = 0; b < 256; ++b)
            if (bytes.has[b]) markAt(offset, static_cast<uint8_t>(b));
    }
    void markAt(size_t offset, uint8_t byte) {
        if (offset >= kPreTestReach) return;
        if (!usesOffset(offset)) preTestOffsets_[preTestCount_++] = static_cast<uint8_t>(offset);
        candidateAt_[offset][byte] = true;
    }
    // Marks every byte at offset that `accepts` accepts.
    template <typename Accepts>
    void markWhere(size_t offset, Accepts accepts) {
        for (unsigned b = 0; b < 256; ++b)
            if (accepts(static_cast<uint8_t>(b))) markAt(offset, static_cast<uint8_t>(b));
    }
    bool isCandidate(const uint8_t* at) const {
        for (size_t k = 0; k < preTestCount_; ++k)
            if (candidateAt_[preTestOffsets_[k]][at[preTestOffsets_[k]]]) return true;
        return false;
    }

    // `at` points at the window bytes of `position`; at least
    // MediaScanner::kDirectBytes of them can be read there. Anything further
    // goes through the scanner's bytesAt().
    virtual bool examine(MediaScanner& scanner, uint64_t position, const uint8_t* at, ScanStep& step) = 0;

    // Whether the damaged file's own media-data header and first audio chunk
    // are looked for right before the first frame.
    virtual bool leadingAudioApplies(const MediaScanner& scanner) const;

    // Records a unit that has just been copied to resultOffset.
    virtual void record(MediaScanner& scanner, const TakenUnit& unit, uint64_t resultOffset);

private:
    bool usesOffset(size_t offset) const {
        for (size_t k = 0; k < preTestCount_; ++k)
            if (preTestOffsets_[k] == offset) return true;
        return false;
    }
    std::array<std::array<bool, 256>, kPreTestReach> candidateAt_{};
    std::array<uint8_t, kPreTestReach> preTestOffsets_{};
    size_t preTestCount_ = 0;
};

class MediaScanner {
public:
    static constexpr size_t kWindowBytes = size_t{1} << 20;
    static constexpr size_t kWindowMargin = 4096;  // read past the window for the tests near its end
    static constexpr size_t kDirectBytes = 64;
    static constexpr uint64_t kNotFound = UINT64_MAX;
    static constexpr unsigned kPollEveryBytes = 4096;

    MediaScanner(StageContext& ctx, const ReferenceAnalysis& analysis, const ReferenceTemplates& templates,
                 SampleTables& tables, ResultFile& result);
    MediaScanner(const MediaScanner&) = delete;
    MediaScanner& operator=(const MediaScanner&) = delete;

    const ReferenceAnalysis& analysis() const { return analysis_; }
    const ReferenceTemplates& templates() const { return templates_; }
    SampleTables& tables() { return tables_; }
    const SampleTables& tables() const { return tables_; }
    ResultFile& result() { return result_; }
    // The damaged file's size as the user chose it.
    uint64_t chosenSize() const { return ctx_.damagedSize; }

    // Where the scan ends: the damaged file's size as chosen, bounded by what
    // the file really holds.
    uint64_t end() const { return end_; }

    // Scans from `start` to the end. False: the user stopped the repair.
    // A write failure ends the scan early with the result's writeFailed set.
    bool run(ScanVariant& variant, uint64_t start);

    // n bytes at pos (n at most kLookAheadMax), zero beyond the end of the
    // scan; served from the window when it holds them, else read into scratch.
    ByteView bytesAt(uint64_t pos, size_t n, LookBuffer& scratch) const;

    // Up to n bytes at pos, never past the end of the scan, from the window
    // when it holds them; answers how many.
    size_t read(uint64_t pos, uint8_t* out, size_t n) const;

    // First occurrence of pattern (1 to 8 bytes) starting in [from, to), read in
    // pieces; kNotFound when there is none.
    uint64_t find(uint64_t from, uint64_t to, const void* pattern, size_t n) const;

    // The first position p in [from, to) where predicate(bytes at p) holds;
    // the predicate sees kFindReach bytes (zeros past the end of the scan).
    // Reads in pieces, stops at the first hit, and polls stop and pause
    // between pieces: kNotFound when there is none or the repair was stopped.
    static constexpr size_t kFindReach = 16;
    template <typename Predicate>
    uint64_t findIf(uint64_t from, uint64_t to, Predicate predicate);

    // The byte before pos, from the window or the file; none at the file's start.
    std::optional<uint8_t> byteBefore(uint64_t pos) const;

    // Copies one unit and records it through the variant. Before the first
    // unit the media-data header is reserved; before the first frame the
    // damaged file's own header + first audio chunk are looked for. False
    // when the result file can no longer be written.
    bool takeUnit(ScanVariant& variant, const TakenUnit& unit);

    // The media-data header's place at the start of the result:
    // mediaHeaderSize bytes, zero or, when `typed`, a size of 0 (or the 64-bit
    // marker 1) and "mdat". Written once.
    bool reserveMediaHeader(bool typed = false);

    // Copies len bytes at pos of the damaged file to the end of the result
    // and answers the result offset where they landed.
    uint64_t copyToResult(uint64_t pos, uint64_t len);

    // The sample tables.
    void recordVideo(uint64_t resultOffset, uint64_t length) { tables_.recordVideo(resultOffset, length); }
    void recordAudio(uint64_t resultOffset, uint64_t length) { tables_.recordAudio(resultOffset, length); }

    // The damaged file's media-data header right before an audio chunk of
    // sizeAudio bytes that ends at framePos. Found: that chunk.
    bool leadingAudioBefore(uint64_t framePos, TakenUnit& chunk) const;

    bool stopped() const { return stopped_; }

private:
    bool poll();
    void loadWindow(uint64_t pos);
    // Reads [pos, pos + n) (zeros past the end) into findPiece_.
    const uint8_t* readPiece(uint64_t pos, size_t n) const;
    bool inWindow(uint64_t pos, uint64_t n) const {
        return pos >= windowStart_ && pos - windowStart_ <= window_.size() &&
               n <= window_.size() - (pos - windowStart_);
    }
    bool checkWrites();

    StageContext& ctx_;
    const ReferenceAnalysis& analysis_;
    const ReferenceTemplates& templates_;
    SampleTables& tables_;
    ResultFile& result_;
    uint64_t end_ = 0;
    std::vector<uint8_t> window_;
    uint64_t windowStart_ = UINT64_MAX;
    mutable std::vector<uint8_t> findPiece_;
    bool stopped_ = false;
};

template <typename Predicate>
uint64_t MediaScanner::findIf(uint64_t from, uint64_t to, Predicate predicate) {
    constexpr size_t kPiece = 1 << 16;
    to = std::min(to, end_);
    while (from < to) {
        if (poll()) return kNotFound;
        const size_t n = static_cast<size_t>(std::min<uint64_t>(kPiece, to - from));
        const uint8_t* piece = readPiece(from, n + kFindReach);
        for (size_t i = 0; i < n; ++i)
            if (predicate(piece + i)) return from + i;
        from += n;
    }
    return kNotFound;
}

// The damaged file is open and its first byte can be read (an empty file
// counts as readable: there is simply nothing to scan).
bool damagedFileReadable(const FileReader& damaged);

// The scans of the damaged file, each preceded by its report at 50. False
// when the repair ends here: stopped, or the damaged file cannot be read
// (the report says which). A scan that met a write failure returns true and
// leaves the result's writeFailed set for the final phase.
bool runVariantScan(StageContext& ctx, const ReferenceAnalysis& analysis, const ReferenceTemplates& templates,
                    SampleTables& tables, ResultFile& result);
bool runMjpegScan(StageContext& ctx, const ReferenceAnalysis& analysis, const ReferenceTemplates& templates,
                  SampleTables& tables, ResultFile& result);

// --- the dispatch among the variants -------------------------------------------

// One row: when `chosen` holds (and no earlier row did), the scan `scan` runs
// and `marker` goes to the log (a row with an empty marker logs nothing).
// `scan` answers false when the user stopped; a row without one is a camera
// whose media is not read yet: the writers find nothing and refuse the file.
struct ScanDispatchRow {
    const char* marker;
    const char* family;  // the cameras or the layout, in words
    bool (*chosen)(const ReferenceAnalysis& analysis);
    bool (*scan)(MediaScanner& scanner);
};

// The rows in the order they are tested (media_scan.cpp).
std::span<const ScanDispatchRow> scanDispatchTable();

// The first row that holds, or nullptr: then no scan runs and the writers get
// empty tables.
const ScanDispatchRow* chooseScanVariant(const ReferenceAnalysis& analysis);

// The scan taken, in words, for the report: "generic scan", "MJPEG scan",
// "camera variant 7 (Canon EOS 5D Mark II)".
std::string scanDescription(const std::string& marker);
std::string scanDescription(const ScanDispatchRow& row);

// The scans themselves.
bool scanGeneric(MediaScanner& scanner);   // "1", media_scan.cpp
// Length-prefixed frames with AAC audio in runs (scan_aac_runs.cpp).
bool scanVariant2(MediaScanner& scanner);
bool scanVariant3(MediaScanner& scanner);
bool scanVariant5(MediaScanner& scanner);
bool scanVariant7(MediaScanner& scanner);
bool scanVariant8(MediaScanner& scanner);
bool scanVariant10(MediaScanner& scanner);
bool scanVariant11(MediaScanner& scanner);
bool scanVariant12(MediaScanner& scanner);
bool scanVariant13(MediaScanner& scanner);
bool scanVariant14(MediaScanner& scanner);  // "14" and "15"
bool scanVariant16(MediaScanner& scanner);

// Length-prefixed frames with audio in fixed chunks (scan_fixed_chunks.cpp).
bool scanPlainFixedChunks(MediaScanner& scanner);  // the generic frame starts and the tag pair
bool scanCanonPcm(MediaScanner& scanner);          // Canon EOS 80D, 5D Mark IV
bool scanVariant19(MediaScanner& scanner);
bool scanDroneAccessUnits(MediaScanner& scanner);  // whole access units from an SPS or P slice
bool scanPhoneAccessUnits(MediaScanner& scanner);  // whole access units from an SEI or IDR slice

// Whole access units behind a delimiter or the camera's own first slice
// (scan_access_units.cpp).
bool scanGoPro(MediaScanner& scanner);            // "17": delimiters 10/30, GoPro metadata between
bool scanDelimitedVideo(MediaScanner& scanner);   // "18": video only
bool scanDelimitedAac(MediaScanner& scanner);     // "17....78787878"
bool scanCanon1DXMarkII(MediaScanner& scanner);
bool scanPanasonicGH4(MediaScanner& scanner);
bool scanPanasonicGH5(MediaScanner& scanner);
bool scanGoProHero3(MediaScanner& scanner);
bool scanSonyDelimited(MediaScanner& scanner);    // Sony, and Nikon without AAC
bool scanSonyCx405(MediaScanner& scanner);
bool scanDjiOsmo(MediaScanner& scanner);

// Nikon Motion-JPEG runs (scan_jpeg_runs.cpp).
bool scanCoolpixP1(MediaScanner& scanner);
bool scanCoolpixSq(MediaScanner& scanner);
bool scanNikonL5(MediaScanner& scanner);

// The generic scan's frame tests when the audio is not wrapped (h at the NAL
// header behind a length prefix); the camera rows that name no frame bytes of
// their own use them too.
bool plainFrameStart(const uint8_t* h);
bool plainNextUnit(const uint8_t* h);

// Longest frame the generic scan accepts (length prefix excluded).
inline constexpr uint64_t kGenericFrameLimit = 2'500'000;

// A damaged file of exactly this size is never scanned.
inline constexpr uint64_t kUnscannedFileSize = 4'281'506'465ull;

}  // namespace arbel

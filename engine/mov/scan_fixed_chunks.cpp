// Camera variants whose frames are H.264 units behind a 4-byte length prefix
// and whose uncompressed audio stands between them in chunks of sizeAudio
// bytes: the last group's Canon, Nikon-compact, Sony phone and drone rows.
// When such a camera writes AAC instead, its frames are read as runs with
// the unit starts the reference's own AAC frames show.
#include "scan_audio.h"
#include "scan_skeleton.h"

#include <algorithm>
#include <array>
#include <bitset>

namespace arbel {
namespace {

using RowTest = bool (*)(const uint8_t* p);

// --- frame starts, at P (the length prefix) ------------------------------------

bool plainFrame(const uint8_t* p) { return plainFrameStart(p + 4); }

// C5, C6 (Canon EOS 80D, 5D Mark IV).
bool frameCanonPcm(const uint8_t* p) {
    if (p[0] != 0x00) return false;
    const uint8_t* h = p + 4;
    return (h[0] == 0x01 && h[1] == 0x9E && h[3] == 0x11) || (h[1] == 0x9A && h[3] == 0x20) ||
           (h[1] == 0x88 && h[3] == 0x00);
}

// C19.
bool frame19(const uint8_t* p) { return (p[4] == 0x25 && p[5] == 0x88) || p[5] == 0x9E; }

// C14: a frame starts with its sequence parameter set (an IDR) or a P slice.
bool frameSpsOrSlice(const uint8_t* p) {
    if (p[0] != 0x00) return false;
    if (p[1] == 0x00 && p[2] == 0x00 && p[3] == 0x0B && p[4] == 0x67) return true;
    return p[4] == 0x41 && p[6] >= 0xC8 && p[6] <= 0xCB;
}

// C15: a short unit (a frame's user-data SEI, most often) or an IDR slice.
// The short form is believed only after a non-zero byte (the scan tests it).
bool frameSeiShortForm(const uint8_t* p) { return p[0] == 0x00 && p[1] == 0x00 && (p[4] > 0x40 || p[5] == 0x05); }
bool frameSeiOrIdr(const uint8_t* p) {
    if (frameSeiShortForm(p)) return true;
    return p[0] == 0x00 && (p[1] == 0x01 || p[1] == 0x02) && p[4] == 0x65 && p[5] == 0x88;
}

// One row of the scheme.
struct FixedChunkRow {
    RowTest frameStart;        // the row's own test at P
    bool tagPairStarts;        // the reference's NAL tag pair also starts a frame
    RowTest confirms;          // what right behind a frame confirms it (at the next unit's prefix)
    uint64_t frameLimit;       // longest length prefix
    bool wholeAccessUnit;      // a frame is every unit of its access unit
    RowTest needsNonZeroBefore;  // where this holds, the byte before P must not be zero
    ByteSet at4;               // pre-tests: every byte at P + 4 ...
    ByteSet at5;               // ... or P + 5 that frameStart may accept
};

bool plainNext(const uint8_t* u) { return plainNextUnit(u + 4); }

constexpr uint64_t kLimit = 2'499'999;

const ByteSet kPlainAt4{0x01, 0x06, 0xF9, 0x21, 0x61, 0x25, 0x65};
// C1, C2, C3, C11: the generic scan's plain frame starts and the reference's tag pair.
const FixedChunkRow kPlainRow{plainFrame, true, plainNext, kGenericFrameLimit, false, nullptr, kPlainAt4, {}};
const FixedChunkRow kCanonPcmRow{frameCanonPcm, false, frameCanonPcm, kLimit, false, nullptr, {}, {0x9E, 0x9A, 0x88}};
const FixedChunkRow kRow19{frame19, false, frame19, kLimit, false, nullptr, {0x25}, {0x9E}};
const FixedChunkRow kDroneRow{frameSpsOrSlice, false, frameSpsOrSlice, kLimit, true, nullptr, {0x67, 0x41}, {}};
// Every byte above 40 at P + 4 can start the short form, and 05 at P + 5.
const ByteSet kAbove40 = [] {
    ByteSet set;
    for (unsigned b = 0x41; b < 256; ++b) set.has[b] = true;
    return set;
}();
const FixedChunkRow kPhoneRow{frameSeiOrIdr, false, frameSeiOrIdr, kLimit, true, frameSeiShortForm, kAbove40, {0x05}};

// --- access units ---------------------------------------------------------------

// H.264 NAL unit types.
constexpr uint8_t kSliceNonIdr = 1;
constexpr uint8_t kSliceIdr = 5;
constexpr uint8_t kSei = 6;
constexpr uint8_t kSps = 7;
constexpr uint8_t kPps = 8;
constexpr uint8_t kDelimiter = 9;

bool isSlice(uint8_t type) { return type == kSliceNonIdr || type == kSliceIdr; }

// The places where the access unit that starts at p may end, longest last:
// behind each slice of it, up to the first unit that begins another access
// unit (a delimiter, parameter set or SEI after a slice, or a slice whose
// first_mb_in_slice is 0) or that is no unit at all. Empty: no slice.
struct AccessUnitEnds {
    static constexpr size_t kMaxUnits = 32;
    std::array<uint64_t, kMaxUnits> ends{};
    size_t count = 0;
};

AccessUnitEnds accessUnitEnds(const MediaScanner& s, uint64_t p, uint64_t limit) {
    AccessUnitEnds found;
    uint64_t pos = p;
    uint8_t sliceType = 0;  // of the access unit's first slice; 0 before it
    for (size_t unit = 0; unit < AccessUnitEnds::kMaxUnits && pos < s.end(); ++unit) {
        LookBuffer scratch;
        const ByteView v = s.bytesAt(pos, 8, scratch);
        const uint64_t length = v.u32be(0);
        const uint8_t header = v.byte(4);
        const uint8_t type = header & 0x1F;
        if (length == 0 || length > limit || (header & 0x80) != 0 || type == 0 || type > 12) break;
        const bool firstMbZero = (v.byte(5) & 0x80) != 0;  // ue(v) of 0 is the single bit 1
        if (sliceType != 0) {
            // Behind a slice only further slices of the same picture belong to it.
            if (!isSlice(type) || type != sliceType || firstMbZero) break;
        } else if (isSlice(type)) {
            sliceType = type;
        } else if (unit > 0 && type != kSps && type != kPps && type != kSei && type != kDelimiter) {
            break;
        }
        pos = addClamped(pos, length + 4);
        if (pos - p > limit + 4) break;
        if (sliceType != 0) found.ends[found.count++] = pos;
    }
    return found;
}

class FixedChunkScan final : public ScanVariant {
public:
    FixedChunkScan(const FixedChunkRow& row, const ReferenceAnalysis& analysis, const ReferenceTemplates& templates)
        : row_(row), tagPair_(analysis.tagPair),
          // AAC is never cut into chunks of one size: without frame starts
          // learned from the reference it is left out.
          chunks_(analysis.mp4aPresent ? 0 : templates.sizeAudio),
          aacFrames_(analysis.mp4aPresent ? &templates.aacFrames : nullptr), runs_(runShape(templates)) {
        markAt(4, row.at4);
        markAt(5, row.at5);
        if (row.tagPairStarts) markAt(4, tagPair_[0]);
        if (learnedAac()) {
            const std::bitset<256> first = aacFrames_->starts.firstBytes();
            markWhere(0, [&](uint8_t b) { return first.test(b); });
        }
    }

    bool examine(MediaScanner& s, uint64_t p, const uint8_t* at, ScanStep& step) override {
        if (frameStart(at) && nonZeroBefore(s, p, at)) return examineFrame(s, p, at, step);
        if (learnedAac() && aacFrames_->startsAt(at)) return runs_.examineRun(s, p, step);
        return false;
    }

    void record(MediaScanner& s, const TakenUnit& unit, uint64_t resultOffset) override {
        ScanVariant::record(s, unit, resultOffset);
        chunks_.recorded(s, unit);
    }

private:
    bool learnedAac() const { return aacFrames_ != nullptr && aacFrames_->learned(); }

    bool frameStart(const uint8_t* at) const {
        return row_.frameStart(at) || (row_.tagPairStarts && at[4] == tagPair_[0] && at[5] == tagPair_[1]);
    }
    // The short form stands also at the second zero of a longer prefix: it
    // is a unit's start only where a non-zero byte ends what came before.
    bool nonZeroBefore(const MediaScanner& s, uint64_t p, const uint8_t* at) const {
        if (!row_.needsNonZeroBefore || !row_.needsNonZeroBefore(at)) return true;
        const std::optional<uint8_t> before = s.byteBefore(p);
        return !before || *before != 0;
    }

    // What right behind a frame confirms it: another frame of the row, or
    // the first AAC frame of the audio between.
    bool confirmedBy(const uint8_t* u) const {
        if ((row_.confirms(u) || (row_.tagPairStarts && u[4] == tagPair_[0] && u[5] == tagPair_[1])) &&
            readU32BE(u) <= row_.frameLimit)
            return true;
        return learnedAac() && aacFrames_->startsAt(u);
    }

    bool examineFrame(MediaScanner& s, uint64_t p, const uint8_t* at, ScanStep& step) {
        const uint64_t length = readU32BE(at);
        if (length == 0 || length > row_.frameLimit) return false;
        AccessUnitEnds ends;
        if (row_.wholeAccessUnit) {
            ends = accessUnitEnds(s, p, row_.frameLimit);
        } else {
            ends.ends[0] = p + length + 4;
            ends.count = 1;
        }
        // The whole access unit, or the longest part of it whose end is
        // confirmed: sound that happens to read as one more slice never
        // costs the frame.
        for (size_t k = ends.count; k-- > 0;) {
            LookBuffer scratch;
            if (confirmedBy(s.bytesAt(ends.ends[k], kUnitRead, scratch).data())) {
                step.take(UnitKind::Video, p, ends.ends[k] - p);
                step.next = ends.ends[k];
                return true;
            }
            if (!learnedAac() && chunks_.pairAfter(s, p, ends.ends[k], frameTest_, step)) return true;
        }
        return !learnedAac() && chunks_.chunkInstead(s, p, frameTest_, step);
    }

    AacRunShape runShape(const ReferenceTemplates& templates) const {
        const ReferenceTemplates::AacFrames& f = templates.aacFrames;
        const UnitTest audio = [frames = &templates.aacFrames](const uint8_t* a) { return frames->startsAt(a); };
        const UnitTest frame = [this](const uint8_t* at) { return frameStart(at); };
        const UnitTest after = [this](const uint8_t* u) { return confirmedBy(u); };
        // A frame of the camera's is seldom shorter than three quarters of
        // the shortest of the reference's first frames, or longer than half
        // again its longest.
        const uint64_t last = std::clamp<uint64_t>(f.longest + f.longest / 2 + 16, 64, kLookAheadMax - kUnitRead);
        const uint64_t first = std::clamp<uint64_t>(f.shortest - f.shortest / 4, 8, last);
        return AacRunShape{audio, frame, after, row_.frameLimit, first, last};
    }

    const FixedChunkRow& row_;
    std::array<uint8_t, 2> tagPair_;
    FixedChunkAudio chunks_;
    const ReferenceTemplates::AacFrames* aacFrames_;
    AacRunAudio runs_;
    const UnitTest frameTest_{[this](const uint8_t* at) { return frameStart(at); }};
};

bool scanWith(MediaScanner& scanner, const FixedChunkRow& row) {
    FixedChunkScan variant(row, scanner.analysis(), scanner.templates());
    return scanner.run(variant, 0);
}

}  // namespace

bool scanPlainFixedChunks(MediaScanner& scanner) { return scanWith(scanner, kPlainRow); }
bool scanCanonPcm(MediaScanner& scanner) { return scanWith(scanner, kCanonPcmRow); }
bool scanVariant19(MediaScanner& scanner) { return scanWith(scanner, kRow19); }
bool scanDroneAccessUnits(MediaScanner& scanner) { return scanWith(scanner, kDroneRow); }
bool scanPhoneAccessUnits(MediaScanner& scanner) { return scanWith(scanner, kPhoneRow); }

}  // namespace arbel

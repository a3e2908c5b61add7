// Camera variants whose frames are H.264 units behind a 4-byte length prefix
// and whose audio is AAC in runs of units: "2", "3", "5", "7" and the middle
// group "8" to "16". One scheme, one row of tests per variant.
#include "scan_audio.h"
#include "scan_skeleton.h"

#include <array>

namespace arbel {
namespace {

// p points at a length prefix, so p + 4 at the NAL header; a at a unit's first byte.
bool pair(const uint8_t* h, uint8_t first, uint8_t second) { return h[0] == first && h[1] == second; }
bool nextLengthPlausible(const uint8_t* u) { return readU32BE(u) < 2'500'000; }

bool aacUnitStart(const uint8_t* a) {
    if (a[0] != 0x01) return false;
    switch (a[2]) {
    case 0x16:
    case 0x17:
    case 0x57:
    case 0x9B:
    case 0xD7: return true;
    default: return false;
    }
}

// --- "2" ---
bool frame2(const uint8_t* p) { return pair(p + 4, 0x65, 0xB8) || pair(p + 4, 0x25, 0xB8) || p[4] == 0x41; }
bool confirms2(const uint8_t* u) {
    const bool sizeOk = nextLengthPlausible(u) || (u[0] == 'd' && u[1] == 'd') || (u[0] == ':' && u[1] == ':');
    return (frame2(u) && sizeOk) || aacUnitStart(u);
}
bool runVideo2(const uint8_t* p) {
    const uint8_t* h = p + 4;
    return h[0] == 0x01 || h[0] == 0x61 || pair(h, 0x25, 0xB8) || pair(h, 0x65, 0xB8);
}
bool afterRunVideo2(const uint8_t* u) {
    return pair(u + 4, 0x65, 0xB8) || u[4] == 0x01 || u[4] == 0x61 || aacUnitStart(u);
}

// --- "3" ---
bool frame3(const uint8_t* p) { return p[4] == 0x01 || p[4] == 0x61 || pair(p + 4, 0x65, 0xB8); }
bool audio3(const uint8_t* a) { return a[0] == 0x23 && (a[1] == 0x0A || a[1] == 0x00); }
bool confirms3(const uint8_t* u) { return (frame3(u) && nextLengthPlausible(u)) || audio3(u); }

// --- "5" ---
bool frame5(const uint8_t* p) {
    const uint8_t* h = p + 4;
    switch (h[0]) {
    case 0x01:
    case 0x21:
    case 0x61: return true;
    case 0x06: return h[1] == 0x05;
    case 0x25:
    case 0x65: return h[1] == 0xB8;
    default: return false;
    }
}
bool confirms5(const uint8_t* u) {
    return ((frame5(u) || pair(u + 4, 0x25, 0x00)) && nextLengthPlausible(u)) || aacUnitStart(u);
}

// --- "7" ---
bool frame7(const uint8_t* p) {
    const uint8_t* h = p + 4;
    switch (h[0]) {
    case 0x21: return h[1] == 0x9A || h[1] == 0x9B;
    case 0x25:
    case 0x65: return h[1] == 0x88 || h[1] == 0xB8;
    case 0x01: return h[1] == 0x9E;
    case 0x06: return h[1] == 0x05;
    default: return false;
    }
}
bool confirms7(const uint8_t* u) { return (frame7(u) && nextLengthPlausible(u)) || aacUnitStart(u); }
bool runVideo7(const uint8_t* p) {
    const uint8_t* h = p + 4;
    return h[0] == 0x01 || h[0] == 0x21 || h[0] == 0x61 || pair(h, 0x25, 0xB8) || pair(h, 0x65, 0xB8);
}

// --- "10": two units of one frame are one sample ---
// A slice whose first_mb_in_slice is not 0 (the first bit behind its header
// clear) continues a picture: it is the second unit of a frame, never the first.
bool continuesPicture(const uint8_t* p) {
    const uint8_t type = p[4] & 0x1F;
    return (type == 1 || type == 5) && (p[5] & 0x80) == 0;
}
bool frame10(const uint8_t* p) { return (p[4] == 0x21 || pair(p + 4, 0x25, 0xB8)) && !continuesPicture(p); }
bool audio10(const uint8_t* a) {
    return a[0] == 0x01 && (a[2] == 0x15 || a[2] == 0x16 || a[2] == 0x17 || a[2] == 0xD5 || a[2] == 0x99);
}
bool unitAfter10(const uint8_t* u) { return u[4] == 0x21 || pair(u + 4, 0x25, 0xB8) || pair(u + 4, 0x25, 0x00); }
bool confirms10(const uint8_t* u) { return unitAfter10(u) || (u[4] == 0x01 && u[6] == 0x15) || audio10(u); }
bool afterRunVideo10(const uint8_t* u) { return unitAfter10(u) || u[0] == 0x21 || audio10(u); }
// What may follow a unit too long to be the second half of a frame.
bool mergeFallback10(const uint8_t* u) {
    return (u[0] == 0x01 && u[2] == 0x15) || (u[0] == 0xBB && u[2] == 0xBB) || (u[0] == 0x20 && u[2] == 0x0C) ||
           (u[0] == 0x21 && (u[2] == 0x36 || u[2] == 0xD8)) || audio10(u);
}

// --- "8" (Canon, 25 88) ---
bool frame8(const uint8_t* p) {
    const uint8_t* h = p + 4;
    return pair(h, 0x25, 0x88) || pair(h, 0x25, 0xB8) || pair(h, 0x65, 0xB8) ||
           (h[0] == 0x61 && (h[1] == 0x9A || h[1] == 0x9B));
}
bool audio8(const uint8_t* a) { return aacUnitStart(a) || (a[0] == 0x01 && a[2] == 0x00); }

// --- "11" ---
bool frame11(const uint8_t* p) { return p[4] == 0x21 || pair(p + 4, 0x25, 0xB8); }
bool audio11(const uint8_t* a) { return a[0] == 0x01 || (a[0] == 0x00 && (a[2] == 0x0D || a[2] == 0x4D)); }

// --- "12" (its audio start is 13's: the dispatch admits only audio starting 01 or 21) ---
bool frame12(const uint8_t* p) {
    return p[4] == 0x01 || p[4] == 0x21 || pair(p + 6, 0x99, 0xCC) || pair(p + 4, 0x06, 0x05) ||
           pair(p + 4, 0x25, 0xB8);
}
bool audio13(const uint8_t* a) { return a[0] == 0x01 || a[0] == 0x21; }

// --- "13" ---
bool frame13(const uint8_t* p) {
    return p[4] == 0x01 || p[4] == 0x21 || pair(p + 4, 0x25, 0xB8) || pair(p + 4, 0x65, 0xB8) ||
           pair(p + 6, 0x00, 0x02);
}

// --- "14" and "15" (they differ only in how much the design reads to confirm) ---
bool frame14(const uint8_t* p) { return pair(p + 4, 0x25, 0x88) || p[4] == 0x21 || pair(p + 4, 0x01, 0x9E); }
bool audio14(const uint8_t* a) {
    return a[0] == 0x21 ||
           (a[0] == 0x01 && (a[2] == 0x34 || a[2] == 0x38 || a[2] == 0x40 || a[2] == 0x58 ||
                             (a[2] == 0x20 && a[3] == 0x06)));
}

// --- "16" (65 88) ---
bool frame16(const uint8_t* p) {
    const uint8_t* h = p + 4;
    return pair(h, 0x65, 0x88) || (h[0] == 0x41 && (h[1] == 0x88 || h[1] == 0x9A || h[1] == 0x9B));
}
bool audio16(const uint8_t* a) {
    if (a[0] == 0x01) {
        if (a[2] == 0x0B) return true;
        switch (a[3]) {
        case 0xFE:
        case 0xA8:
        case 0xAC:
        case 0xD4:
        case 0xDE:
        case 0x20:
        case 0x28:
        case 0x2C: return true;
        default: return false;
        }
    }
    if (a[0] == 0x20) return a[3] == 0xD6 || a[3] == 0xFF;
    return a[0] == 0x00 && a[1] == 0xB4 && a[2] == 0x40 && a[3] == 0x80;
}
bool confirms16(const uint8_t* u) {
    return frame16(u) || audio16(u) || (u[0] == 0xDE && u[1] == 0x04 && u[2] == 0x00 && u[3] == 0x00);
}

// The middle group's confirmation where the design gives none of its own:
// another frame of the row with a plausible length, or an audio unit of the
// row (the last frame before audio is kept).
template <bool (*frame)(const uint8_t*), bool (*audio)(const uint8_t*)>
bool confirmsByRow(const uint8_t* u) {
    return (frame(u) && nextLengthPlausible(u)) || audio(u);
}
template <bool (*frame)(const uint8_t*), bool (*audio)(const uint8_t*)>
bool unitStart(const uint8_t* u) {
    return frame(u) || audio(u);
}

using RowTest = bool (*)(const uint8_t* at);

// One row of tests of the scheme.
struct AacRunRow {
    RowTest frameStart;        // at P (the length prefix)
    uint64_t frameLimit;       // longest length prefix of a frame
    RowTest confirmsFrame;     // the unit right behind a frame
    AacRunShape run;           // the audio between frames
    ByteSet videoAt4;          // every byte at P + 4 that frameStart accepts ...
    ByteSet videoAt6;          // ... or at P + 6
    ByteSet audioAt0;          // every first byte run.audioStart accepts
    // "10": a frame is its unit and the next one together, when a unit start
    // follows both; mergeFallback says when a frame behind which no second
    // unit can be may stand alone.
    RowTest mergeFallback = nullptr;
    // "8" with uncompressed audio: fixed chunks, not runs.
    bool fixedChunksWithoutAac = false;
};

constexpr uint64_t kLimit = 2'499'999;
constexpr uint64_t kShortLimit = 2'299'999;

const AacRunRow kRow2{frame2, kLimit, confirms2, {aacUnitStart, runVideo2, afterRunVideo2, 2'299'999, 161, 550},
                      {0x65, 0x25, 0x41}, {}, {0x01}};
// "3" reaches further (600 bytes) but, like the others, ends a run at the next
// unit start: each chunk holds one AAC unit, as the sample table declares.
const AacRunRow kRow3{frame3, kLimit, confirms3, {audio3, frame3, frame3, 249'999, 161, 600},
                      {0x01, 0x61, 0x65}, {}, {0x23}};
const AacRunRow kRow5{frame5, kLimit, confirms5, {aacUnitStart, frame5, confirms5, 2'299'999, 161, 550},
                      {0x01, 0x06, 0x21, 0x25, 0x61, 0x65}, {}, {0x01}};
const AacRunRow kRow7{frame7, kLimit, confirms7, {aacUnitStart, runVideo7, confirms7, 2'299'999, 161, 550},
                      {0x21, 0x25, 0x65, 0x01, 0x06}, {}, {0x01}};
const AacRunRow kRow8{frame8, kLimit, confirmsByRow<frame8, audio8>,
                      {audio8, frame8, unitStart<frame8, audio8>, kShortLimit, 151, 549},
                      {0x25, 0x65, 0x61}, {}, {0x01}, nullptr, true};
const AacRunRow kRow10{frame10, kLimit, confirms10, {audio10, frame10, afterRunVideo10, kShortLimit, 151, 549},
                       {0x21, 0x25}, {}, {0x01}, mergeFallback10};
const AacRunRow kRow11{frame11, kLimit, confirmsByRow<frame11, audio11>,
                       {audio11, frame11, unitStart<frame11, audio11>, kShortLimit, 151, 549},
                       {0x21, 0x25}, {}, {0x00, 0x01}};
const AacRunRow kRow12{frame12, kLimit, confirmsByRow<frame12, audio13>,
                       {audio13, frame12, unitStart<frame12, audio13>, kShortLimit, 151, 549},
                       {0x01, 0x21, 0x06, 0x25}, {0x99}, {0x01, 0x21}};
const AacRunRow kRow13{frame13, kLimit, confirmsByRow<frame13, audio13>,
                       {audio13, frame13, unitStart<frame13, audio13>, kShortLimit, 151, 549},
                       {0x01, 0x21, 0x25, 0x65}, {0x00}, {0x01, 0x21}};
const AacRunRow kRow14{frame14, kShortLimit, confirmsByRow<frame14, audio14>,
                       {audio14, frame14, unitStart<frame14, audio14>, kShortLimit, 151, 549},
                       {0x25, 0x21, 0x01}, {}, {0x01, 0x21}};
const AacRunRow kRow16{frame16, kShortLimit, confirms16,
                       {audio16, frame16, unitStart<frame16, audio16>, kShortLimit, 141, 749},
                       {0x65, 0x41}, {}, {0x00, 0x01, 0x20}};

class AacRunScan final : public ScanVariant {
public:
    AacRunScan(const AacRunRow& row, const ReferenceAnalysis& analysis, const ReferenceTemplates& templates)
        : row_(row),
          model_(analysis.mp4aPresent && templates.aacFrames.learned() ? &templates.aacFrames : nullptr),
          audio_(runShape()), chunks_(templates.sizeAudio),
          fixedChunks_(row.fixedChunksWithoutAac && !analysis.mp4aPresent) {
        markAt(4, row.videoAt4);
        markAt(6, row.videoAt6);
        if (!fixedChunks_) markAt(0, row.audioAt0);
    }

    bool examine(MediaScanner& s, uint64_t p, const uint8_t* at, ScanStep& step) override {
        if (row_.frameStart(at)) return examineFrame(s, p, at, step);
        if (!fixedChunks_ && audioStart(at)) return audio_.examineRun(s, p, step);
        return false;
    }

    void record(MediaScanner& s, const TakenUnit& unit, uint64_t resultOffset) override {
        ScanVariant::record(s, unit, resultOffset);
        chunks_.recorded(s, unit);
    }

private:
    // The row's unit start, and, when the reference showed how its AAC frames
    // begin, that too: a byte inside a frame that passes the row's few bits
    // seldom passes both, and a unit cut there would be lost twice over.
    bool audioStart(const uint8_t* at) const { return row_.run.audioStart(at) && (!model_ || model_->startsAt(at)); }

    AacRunShape runShape() const {
        AacRunShape shape = row_.run;
        if (model_) shape.audioStart = [this](const uint8_t* at) { return audioStart(at); };
        return shape;
    }

    bool examineFrame(MediaScanner& s, uint64_t p, const uint8_t* at, ScanStep& step) {
        const uint64_t length = readU32BE(at);
        if (length == 0 || length > row_.frameLimit) return false;
        const uint64_t frameEnd = p + length + 4;
        LookBuffer scratch;
        const uint8_t* behind = s.bytesAt(frameEnd, kUnitRead, scratch).data();
        // With uncompressed audio only another frame confirms from right
        // behind: the row's audio test would read sound samples as a start.
        const bool confirmed = fixedChunks_ ? row_.frameStart(behind) && readU32BE(behind) <= row_.frameLimit
                                            : row_.confirmsFrame(behind);
        if (!confirmed) {
            if (!fixedChunks_) return false;
            return chunks_.afterFrame(s, p, frameEnd, frameTest_, frameTest_, step);
        }
        uint64_t end = frameEnd;
        if (row_.mergeFallback) {
            const uint64_t second = readU32BE(behind);
            if (second < 2'500'000) {
                // The frame's second unit, when it continues the picture or a
                // unit of the camera follows both; a unit that begins the
                // next picture is a frame of its own.
                LookBuffer after;
                const uint64_t bothEnd = frameEnd + second + 4;
                const uint8_t* next = s.bytesAt(bothEnd, kUnitRead, after).data();
                if (continuesPicture(behind) ||
                    (!row_.frameStart(behind) && (row_.run.afterRunVideo(next) || row_.frameStart(next))))
                    end = bothEnd;
            } else if (!row_.mergeFallback(behind)) {
                return false;
            }
        }
        step.take(UnitKind::Video, p, end - p);
        step.next = end;
        return true;
    }

    const AacRunRow& row_;
    const ReferenceTemplates::AacFrames* model_;
    AacRunAudio audio_;
    FixedChunkAudio chunks_;
    bool fixedChunks_;
    UnitTest frameTest_{row_.frameStart};
};

bool scanWith(MediaScanner& scanner, const AacRunRow& row) {
    AacRunScan variant(row, scanner.analysis(), scanner.templates());
    return scanner.run(variant, 0);
}

}  // namespace

bool scanVariant2(MediaScanner& scanner) { return scanWith(scanner, kRow2); }
bool scanVariant3(MediaScanner& scanner) { return scanWith(scanner, kRow3); }
bool scanVariant5(MediaScanner& scanner) { return scanWith(scanner, kRow5); }
bool scanVariant7(MediaScanner& scanner) { return scanWith(scanner, kRow7); }
bool scanVariant8(MediaScanner& scanner) { return scanWith(scanner, kRow8); }
bool scanVariant10(MediaScanner& scanner) { return scanWith(scanner, kRow10); }
bool scanVariant11(MediaScanner& scanner) { return scanWith(scanner, kRow11); }
bool scanVariant12(MediaScanner& scanner) { return scanWith(scanner, kRow12); }
bool scanVariant13(MediaScanner& scanner) { return scanWith(scanner, kRow13); }
bool scanVariant14(MediaScanner& scanner) { return scanWith(scanner, kRow14); }
bool scanVariant16(MediaScanner& scanner) { return scanWith(scanner, kRow16); }

}  // namespace arbel

// Camera variants "2", "3", "5" and "7": H.264 frames behind a length prefix
// and AAC audio as runs of variable-length units. One scheme, four rows of
// tests.
#include "scan_skeleton.h"

#include <array>
#include <initializer_list>

namespace arbel {
namespace {

constexpr uint64_t kVariantFrameLimit = 2'499'999;
constexpr uint64_t kNextLengthBound = 2'500'000;  // a following unit's length prefix stays below this
constexpr size_t kRunRead = 1024;

// h points at the two bytes after a length prefix; a at the start of a unit.
bool pair(const uint8_t* h, uint8_t first, uint8_t second) { return h[0] == first && h[1] == second; }

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

bool nextLengthPlausible(const uint8_t* u) { return readU32BE(u) < kNextLengthBound; }

// --- "2" ---
bool frame2(const uint8_t* h) { return pair(h, 0x65, 0xB8) || pair(h, 0x25, 0xB8) || h[0] == 0x41; }
bool confirms2(const uint8_t* u) {
    const bool sizeOk = nextLengthPlausible(u) || (u[0] == 'd' && u[1] == 'd') || (u[0] == ':' && u[1] == ':');
    return (frame2(u + 4) && sizeOk) || aacUnitStart(u);
}
bool runVideo2(const uint8_t* h) {
    return h[0] == 0x01 || h[0] == 0x61 || pair(h, 0x25, 0xB8) || pair(h, 0x65, 0xB8);
}
bool afterRunVideo2(const uint8_t* u) {
    return pair(u + 4, 0x65, 0xB8) || u[4] == 0x01 || u[4] == 0x61 || aacUnitStart(u);
}

// --- "3" ---
bool frame3(const uint8_t* h) { return h[0] == 0x01 || h[0] == 0x61 || pair(h, 0x65, 0xB8); }
bool audio3(const uint8_t* a) { return a[0] == 0x23 && (a[1] == 0x0A || a[1] == 0x00); }
bool confirms3(const uint8_t* u) { return (frame3(u + 4) && nextLengthPlausible(u)) || audio3(u); }
bool afterRunVideo3(const uint8_t* u) { return frame3(u + 4); }

// --- "5" ---
bool frame5(const uint8_t* h) {
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
    return ((frame5(u + 4) || pair(u + 4, 0x25, 0x00)) && nextLengthPlausible(u)) || aacUnitStart(u);
}
bool afterRunVideo5(const uint8_t* u) { return confirms5(u); }

// --- "7" ---
bool frame7(const uint8_t* h) {
    switch (h[0]) {
    case 0x21: return h[1] == 0x9A || h[1] == 0x9B;
    case 0x25:
    case 0x65: return h[1] == 0x88 || h[1] == 0xB8;
    case 0x01: return h[1] == 0x9E;
    case 0x06: return h[1] == 0x05;
    default: return false;
    }
}
bool confirms7(const uint8_t* u) { return (frame7(u + 4) && nextLengthPlausible(u)) || aacUnitStart(u); }
bool runVideo7(const uint8_t* h) {
    return h[0] == 0x01 || h[0] == 0x21 || h[0] == 0x61 || pair(h, 0x25, 0xB8) || pair(h, 0x65, 0xB8);
}
bool afterRunVideo7(const uint8_t* u) { return confirms7(u); }

// A handful of bytes, for the pre-test of the skeleton.
struct FirstBytes {
    std::array<uint8_t, 8> bytes{};
    size_t count = 0;
    constexpr FirstBytes(std::initializer_list<uint8_t> list) {
        for (uint8_t b : list)
            if (count < bytes.size()) bytes[count++] = b;
    }
};

// One row of tests for the shared scheme.
struct AudioRunRow {
    bool (*frameStart)(const uint8_t* h);     // at P + 4
    bool (*confirmsFrame)(const uint8_t* u);  // the unit right behind a frame
    bool (*audioStart)(const uint8_t* a);     // at P
    bool (*runVideo)(const uint8_t* h);       // a frame met inside an audio run
    bool (*afterRunVideo)(const uint8_t* u);  // the unit behind that frame
    uint64_t runFirst;                        // first position of the run walk
    uint64_t runLast;                         // last position of the run walk
    uint64_t runVideoLimit;                   // length prefix of a frame inside the run
    FirstBytes videoFirstBytes;               // every first byte frameStart accepts
    FirstBytes audioFirstBytes;               // every first byte audioStart accepts
};

class AudioRunScan final : public ScanVariant {
public:
    explicit AudioRunScan(const AudioRunRow& row) : row_(row) {
        for (size_t i = 0; i < row.videoFirstBytes.count; ++i) candidateAt4[row.videoFirstBytes.bytes[i]] = true;
        for (size_t i = 0; i < row.audioFirstBytes.count; ++i) candidateAt0[row.audioFirstBytes.bytes[i]] = true;
    }

    bool examine(MediaScanner& s, uint64_t p, const uint8_t* at, ScanStep& step) override {
        if (row_.frameStart(at + 4)) return examineFrame(s, p, at, step);
        if (row_.audioStart(at)) return examineAudioRun(s, p, step);
        return false;
    }

private:
    bool examineFrame(MediaScanner& s, uint64_t p, const uint8_t* at, ScanStep& step) {
        const uint64_t length = readU32BE(at);
        if (length == 0 || length > kVariantFrameLimit) return false;
        const uint64_t frameEnd = p + length + 4;
        LookBuffer scratch;
        if (!row_.confirmsFrame(s.bytesAt(frameEnd, 16, scratch).data())) return false;
        step.take(UnitKind::Video, p, length + 4);
        step.next = frameEnd;
        return true;
    }

    // The frame at b inside the run, confirmed by the unit behind it.
    bool frameEndsRun(MediaScanner& s, uint64_t p, const ByteView& x, uint64_t b) const {
        if (!row_.runVideo(x.data() + b + 4)) return false;
        const uint64_t m = x.u32be(b);
        if (m < 1 || m > row_.runVideoLimit) return false;
        LookBuffer scratch;
        return row_.afterRunVideo(s.bytesAt(p + b + m + 4, 16, scratch).data());
    }

    bool examineAudioRun(MediaScanner& s, uint64_t p, ScanStep& step) {
        LookBuffer scratch;
        const ByteView x = s.bytesAt(p, kRunRead, scratch);
        uint64_t run = 0;
        for (uint64_t b = row_.runFirst; b <= row_.runLast && run == 0; ++b) {
            if (row_.audioStart(x.data() + b) || frameEndsRun(s, p, x, b)) run = b;
        }
        if (run == 0) return false;  // nothing ends the unit within reach
        step.take(UnitKind::Audio, p, run);
        step.next = p + run;
        return true;
    }

    const AudioRunRow& row_;
};

const AudioRunRow kRow2{frame2, confirms2, aacUnitStart, runVideo2, afterRunVideo2, 161, 550, 2'299'999,
                        {0x65, 0x25, 0x41}, {0x01}};
// "3" reaches further (600 bytes) but, like the others, ends a run at the next
// unit start: each chunk holds one AAC unit, as the sample table declares.
const AudioRunRow kRow3{frame3, confirms3, audio3, frame3, afterRunVideo3, 161, 600, 249'999,
                        {0x01, 0x61, 0x65}, {0x23}};
const AudioRunRow kRow5{frame5, confirms5, aacUnitStart, frame5, afterRunVideo5, 161, 550, 2'299'999,
                        {0x01, 0x06, 0x21, 0x25, 0x61, 0x65}, {0x01}};
const AudioRunRow kRow7{frame7, confirms7, aacUnitStart, runVideo7, afterRunVideo7, 161, 550, 2'299'999,
                        {0x21, 0x25, 0x65, 0x01, 0x06}, {0x01}};

bool scanWith(MediaScanner& scanner, const AudioRunRow& row) {
    AudioRunScan variant(row);
    return scanner.run(variant, 0);
}

}  // namespace

bool scanVariant2(MediaScanner& scanner) { return scanWith(scanner, kRow2); }
bool scanVariant3(MediaScanner& scanner) { return scanWith(scanner, kRow3); }
bool scanVariant5(MediaScanner& scanner) { return scanWith(scanner, kRow5); }
bool scanVariant7(MediaScanner& scanner) { return scanWith(scanner, kRow7); }

}  // namespace arbel

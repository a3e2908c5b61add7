// Nikon compact cameras that store Motion-JPEG frame after frame with sound
// between runs of frames: a frame runs from its start of image (FF D8 FF DB)
// to the next one, within a search of the camera's bounds.
#include "scan_skeleton.h"

#include <algorithm>

namespace arbel {
namespace {

bool startOfImage(const uint8_t* at) { return at[0] == 0xFF && at[1] == 0xD8 && at[2] == 0xFF && at[3] == 0xDB; }

constexpr uint64_t kMaxAudioChunk = 4u << 20;  // a larger sizeAudio is not believed

enum class SoundLayout : uint8_t {
    // The byte before the next start tells: 00 ends a frame, anything else
    // ends a chunk of sizeAudio bytes.
    ByteBeforeNextStart,
    // A frame with no other start within the search is the last of its run:
    // the chunk of sizeAudio bytes before the next start is sound.
    PendingAfterLastFrame,
};

struct JpegRunRow {
    bool startAfterNonFf;  // a start counts only after a byte other than FF
    uint64_t lastSearched;  // the last offset b of the search for the next start at b + 1
    SoundLayout sound;
};

const JpegRunRow kCoolpixP1{true, 64'998, SoundLayout::ByteBeforeNextStart};
const JpegRunRow kCoolpixSq{true, 24'997, SoundLayout::PendingAfterLastFrame};
const JpegRunRow kNikonL5{false, 48'497, SoundLayout::PendingAfterLastFrame};

class JpegRunScan final : public ScanVariant {
public:
    JpegRunScan(const JpegRunRow& row, const ReferenceTemplates& templates)
        : row_(row), sizeAudio_(templates.sizeAudio <= kMaxAudioChunk ? templates.sizeAudio : 0) {
        markAt(0, {0xFF});
    }

    bool examine(MediaScanner& s, uint64_t p, const uint8_t* at, ScanStep& step) override {
        if (!startOfImage(at)) return false;
        if (row_.startAfterNonFf) {
            const std::optional<uint8_t> before = s.byteBefore(p);
            if (before && *before == 0xFF) return false;
        }
        // Sound pending since the last frame of a run stands before this start,
        // whatever becomes of the frame here.
        if (pendingSound_) {
            pendingSound_ = false;
            takeSoundBefore(s, p, step);
        }
        const uint64_t next = s.findIf(p + 1, addClamped(p, row_.lastSearched + 2), startOfImage);
        if (next == MediaScanner::kNotFound) {
            if (row_.sound == SoundLayout::PendingAfterLastFrame) lastFrameOfRun(s, p, step);
            step.next = std::max(step.next, p + 1);
            return !step.units.empty();
        }
        if (row_.sound == SoundLayout::ByteBeforeNextStart) {
            const std::optional<uint8_t> before = s.byteBefore(next);
            if (before && *before != 0x00) return frameThenSound(s, p, next, step);
        }
        step.take(UnitKind::Video, p, next - p);
        step.next = next;
        return true;
    }

    // Sound pending behind the last frame of the data: the sizeAudio bytes
    // right behind it, when the file holds them whole.
    bool atEnd(MediaScanner& s, ScanStep& step) override {
        if (!pendingSound_ || sizeAudio_ == 0 || takenEnd_ == 0 || sizeAudio_ > s.end() - takenEnd_) return false;
        step.take(UnitKind::Audio, takenEnd_, sizeAudio_);
        return true;
    }

    void record(MediaScanner& s, const TakenUnit& unit, uint64_t resultOffset) override {
        ScanVariant::record(s, unit, resultOffset);
        takenEnd_ = unit.position + unit.length;
    }

private:
    // sizeAudio bytes of sound that end at `end`, when they lie wholly after
    // everything taken so far with nothing but padding between: a frame lost
    // to damage before a start must not pass for sound.
    bool takeSoundBefore(MediaScanner& s, uint64_t end, ScanStep& step) const {
        const uint64_t lastEnd = step.units.empty() ? takenEnd_ : step.units.back().position + step.units.back().length;
        if (sizeAudio_ == 0 || end < sizeAudio_ || end - sizeAudio_ < lastEnd) return false;
        const uint64_t start = end - sizeAudio_;
        const auto notPadding = [](const uint8_t* b) { return *b != 0x00 && *b != 0xFF; };
        if (lastEnd != 0 && s.findIf(lastEnd, start, notPadding) != MediaScanner::kNotFound) return false;
        step.take(UnitKind::Audio, start, sizeAudio_);
        return true;
    }

    // The end of the frame's image: just past its first end-of-image marker
    // in [p, limit) (the coded data never holds one); 0: none.
    static uint64_t endOfImage(MediaScanner& s, uint64_t p, uint64_t limit) {
        const uint64_t eoi = s.find(p + 4, limit, "\xFF\xD9", 2);
        return eoi == MediaScanner::kNotFound ? 0 : eoi + 2;
    }

    // A frame, then sizeAudio bytes of sound, then the next start: the frame
    // is kept up to its end of image (the design drops it), the sound taken.
    bool frameThenSound(MediaScanner& s, uint64_t p, uint64_t next, ScanStep& step) {
        if (sizeAudio_ != 0 && next >= sizeAudio_ && next - sizeAudio_ > p) {
            const uint64_t frameEnd = endOfImage(s, p, next - sizeAudio_);
            if (frameEnd != 0) step.take(UnitKind::Video, p, frameEnd - p);
        }
        takeSoundBefore(s, next, step);
        step.next = next;
        return true;
    }

    // No other start within the search: the last frame before a chunk of
    // sound. It ends at its end of image within the search (the design
    // drops it); the sound is taken before the next start.
    void lastFrameOfRun(MediaScanner& s, uint64_t p, ScanStep& step) {
        pendingSound_ = true;
        const uint64_t frameEnd = endOfImage(s, p, std::min(addClamped(p, row_.lastSearched + 1), s.end()));
        if (frameEnd == 0) return;
        step.take(UnitKind::Video, p, frameEnd - p);
        step.next = frameEnd;
    }

    const JpegRunRow& row_;
    uint64_t sizeAudio_;
    uint64_t takenEnd_ = 0;
    bool pendingSound_ = false;
};

bool scanWith(MediaScanner& scanner, const JpegRunRow& row) {
    JpegRunScan variant(row, scanner.templates());
    return scanner.run(variant, 0);
}

}  // namespace

bool scanCoolpixP1(MediaScanner& scanner) { return scanWith(scanner, kCoolpixP1); }
bool scanCoolpixSq(MediaScanner& scanner) { return scanWith(scanner, kCoolpixSq); }
bool scanNikonL5(MediaScanner& scanner) { return scanWith(scanner, kNikonL5); }

}  // namespace arbel

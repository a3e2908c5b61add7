// The audio policies of the scans.
#include "scan_audio.h"

#include <algorithm>

namespace arbel {

bool FixedChunkAudio::pairAfter(MediaScanner& s, uint64_t p, uint64_t frameEnd, const UnitTest& nextUnit,
                                ScanStep& step) {
    pairPending_ = false;
    if (sizeAudio_ == 0) return false;
    LookBuffer scratch;
    const uint64_t afterAudio = addClamped(frameEnd, sizeAudio_);
    if (!nextUnit(s.bytesAt(afterAudio, 512, scratch).data())) return false;
    // A frame, one audio chunk, then video again: confirmed twice, so taken
    // with its chunk whatever came before. Cameras that write one chunk of
    // sound after every frame are read this way from their first byte, and
    // the pair keeps a run of video going.
    step.take(UnitKind::Video, p, frameEnd - p);
    step.take(UnitKind::Audio, frameEnd, sizeAudio_);
    step.next = afterAudio;
    pairPending_ = true;
    return true;
}

bool FixedChunkAudio::chunkInstead(MediaScanner& s, uint64_t p, const UnitTest& frameStart, ScanStep& step) const {
    // A frame followed by something else is believed only inside a run of video.
    if (sizeAudio_ == 0 || !s.tables().bVideo) return false;
    LookBuffer scratch;
    const uint64_t audioEnd = addClamped(p, sizeAudio_);
    if (!frameStart(s.bytesAt(audioEnd, 512, scratch).data())) return false;
    // Not a frame after all: an audio chunk that happens to look like one.
    step.take(UnitKind::Audio, p, sizeAudio_);
    step.next = audioEnd;
    return true;
}

void FixedChunkAudio::recorded(MediaScanner& s, const TakenUnit& unit) {
    if (unit.kind == UnitKind::Audio && pairPending_) {
        s.tables().bVideo = 1;
        pairPending_ = false;
    }
}

namespace {

// Whether the bytes before `at` can end a raw AAC frame (the unit before a
// frame or another unit start always is one): every frame ends
// with its END element (three bits set) and zero bits up to the byte's end,
// so the last byte, its trailing zeros dropped, ends in 111 (the 111 may
// also begin in the byte before). A byte inside a frame passes this one
// time in four.
bool endsAacFrame(const uint8_t* at) {
    const uint8_t last = at[-1];
    if (last == 0) return false;
    const int zeros = __builtin_ctz(last);
    if (zeros <= 5) return ((last >> zeros) & 7) == 7;
    const uint8_t before = at[-2];
    return zeros == 6 ? (before & 1) == 1 : (before & 3) == 3;
}

}  // namespace

// The first place within the walk's bounds from `unit` where the unit there
// ends: at another unit start, or at a frame whose own successor is
// confirmed. 0: none. A unit start is believed when the unit it starts ends
// in turn, `chained` units deep; that next unit may also end at any frame
// header (one too long to end a run, say): a frame's bytes that happen to
// look like a start seldom lead to either.
uint64_t AacRunAudio::unitEnd(MediaScanner& s, uint64_t unit, int chained, bool anyFrame) const {
    LookBuffer scratch;
    const ByteView x = s.bytesAt(unit, static_cast<size_t>(std::min<uint64_t>(shape_.last + kUnitRead, kLookAheadMax)), scratch);
    const auto frameEndsRun = [&](uint64_t b) {
        if (!shape_.runVideo(x.data() + b) || !endsAacFrame(x.data() + b)) return false;
        if (anyFrame) return true;
        const uint64_t m = x.u32be(b);
        if (m < 1 || m > shape_.runVideoLimit) return false;
        LookBuffer behind;
        return shape_.afterRunVideo(s.bytesAt(unit + b + m + 4, kUnitRead, behind).data());
    };
    for (uint64_t b = shape_.first; b <= shape_.last && b + kUnitRead <= x.size(); ++b) {
        if (frameEndsRun(b)) return b;
        if (shape_.audioStart(x.data() + b) && endsAacFrame(x.data() + b) &&
            (chained == 0 || unitEnd(s, unit + b, chained - 1, true) != 0))
            return b;
    }
    return 0;
}

bool AacRunAudio::examineRun(MediaScanner& s, uint64_t p, ScanStep& step) const {
    // Never a run inside the damaged file's own media-data header: the
    // scan meets the run's real start behind it.
    LookBuffer scratch;
    if (s.bytesAt(p, 8, scratch).fourcc(2, "mdat")) return false;
    const uint64_t b = unitEnd(s, p, kChainedUnits, false);
    if (b == 0) return false;  // nothing ends the unit within reach
    step.take(UnitKind::Audio, p, b);
    step.next = p + b;
    return true;
}

}  // namespace arbel

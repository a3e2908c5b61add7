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

bool AacRunAudio::examineRun(MediaScanner& s, uint64_t p, ScanStep& step) const {
    LookBuffer scratch;
    const ByteView x = s.bytesAt(p, static_cast<size_t>(std::min<uint64_t>(shape_.last + 16, kLookAheadMax)), scratch);
    // Never a run inside the damaged file's own media-data header: the
    // scan meets the run's real start behind it.
    if (x.fourcc(2, "mdat")) return false;
    const auto frameEndsRun = [&](uint64_t b) {
        if (!shape_.runVideo(x.data() + b)) return false;
        const uint64_t m = x.u32be(b);
        if (m < 1 || m > shape_.runVideoLimit) return false;
        LookBuffer behind;
        return shape_.afterRunVideo(s.bytesAt(p + b + m + 4, 16, behind).data());
    };
    for (uint64_t b = shape_.first; b <= shape_.last && b + 8 <= x.size(); ++b) {
        if (shape_.audioStart(x.data() + b) || frameEndsRun(b)) {
            step.take(UnitKind::Audio, p, b);
            step.next = p + b;
            return true;
        }
    }
    return false;  // nothing ends the unit within reach
}

}  // namespace arbel

#pragma once

// How the scans recognise the audio between frames. Two kinds of camera:
// uncompressed audio in chunks of one fixed size (sizeAudio bytes), and AAC
// audio as runs of units of varying length with no length prefix. Each kind
// is one policy here, shared by every scan that meets it.

#include "scan_skeleton.h"

#include <cstdint>
#include <functional>

namespace arbel {

// The bytes a test may read at a position.
inline constexpr size_t kUnitRead = 32;

// A test of the bytes at a position: at a length prefix for a frame, at a
// unit's first byte for audio. Scans whose tests depend on the reference
// (its NAL tag pair, the first bytes of its AAC frames) bind them here.
using UnitTest = std::function<bool(const uint8_t* at)>;

// Uncompressed audio: a chunk of sizeAudio bytes stands after the last frame
// of a run of video. A frame that the unit behind it did not confirm is
// confirmed a second way: one chunk, then another frame start.
class FixedChunkAudio {
public:
    explicit FixedChunkAudio(uint64_t sizeAudio) : sizeAudio_(sizeAudio) {}

    // The frame [p, frameEnd) was not confirmed by the unit behind it.
    // Answers true with what it took: the frame with the chunk behind it
    // (the pair counts as video for the run), or, inside a run of video, the
    // sizeAudio bytes at p as audio when a frame starts right behind them.
    bool afterFrame(MediaScanner& s, uint64_t p, uint64_t frameEnd, const UnitTest& nextUnit,
                    const UnitTest& frameStart, ScanStep& step) {
        return pairAfter(s, p, frameEnd, nextUnit, step) || chunkInstead(s, p, frameStart, step);
    }
    // The two halves of it: a frame, one chunk and the next unit ...
    bool pairAfter(MediaScanner& s, uint64_t p, uint64_t frameEnd, const UnitTest& nextUnit, ScanStep& step);
    // ... or, inside a run of video, a chunk at p that looked like a frame.
    bool chunkInstead(MediaScanner& s, uint64_t p, const UnitTest& frameStart, ScanStep& step) const;

    // Called for every unit recorded: the chunk of a pair taken keeps the
    // run of video going.
    void recorded(MediaScanner& s, const TakenUnit& unit);

    uint64_t sizeAudio() const { return sizeAudio_; }

private:
    uint64_t sizeAudio_;
    bool pairPending_ = false;
};

// AAC audio as a run of units: the run starts with a unit start of the camera
// and ends where, within the walk's bounds, another unit start of it follows,
// or a frame whose own successor is confirmed.
struct AacRunShape {
    UnitTest audioStart;        // at the first byte of a unit
    UnitTest runVideo;          // a frame inside the run (at its length prefix)
    UnitTest afterRunVideo;     // what must follow that frame
    uint64_t runVideoLimit;     // longest length prefix of a frame inside the run
    uint64_t first;             // first position of the walk, from the run's start
    uint64_t last;              // last position of the walk (below kLookAheadMax - kUnitRead)
};

class AacRunAudio {
public:
    explicit AacRunAudio(const AacRunShape& shape) : shape_(shape) {}

    // An audio run at p (audioStart holds there): takes it and answers true,
    // or false when nothing within the walk ends it.
    bool examineRun(MediaScanner& s, uint64_t p, ScanStep& step) const;

    const AacRunShape& shape() const { return shape_; }

private:
    static constexpr int kChainedUnits = 1;
    uint64_t unitEnd(MediaScanner& s, uint64_t unit, int chained, bool anyFrame) const;

    AacRunShape shape_;
};

}  // namespace arbel

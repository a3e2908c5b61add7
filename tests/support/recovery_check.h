#pragma once

// What a repair recovered of a recording it knows the original of: for each
// track, the original units whose bytes survived the damage, how many of
// them came back byte for byte, and how many units of the result are no part
// of the recording's own units (bytes foreign to the track).

#include "camera_clip.h"

#include <string>

namespace arbel::test {

struct TrackRecovery {
    size_t survived = 0;
    size_t recovered = 0;
    size_t foreign = 0;
    size_t resultUnits = 0;
};

struct Recovery {
    TrackRecovery video;
    TrackRecovery audio;
    std::string error;
};

// A recording written by any muxer, its units as its own tables list them
// (PCM: one unit per chunk).
CameraFile cameraFileOf(const std::string& path, std::string& error);

// PCM units are chunks, and a repair may cut the sound into chunks of its
// own: a surviving chunk counts as recovered when its bytes come back in
// order, and a result chunk is foreign when some of its bytes are no part of
// an original chunk.
Recovery recoveryOf(const std::string& resultPath, const CameraFile& original, const ByteString& damaged);

}  // namespace arbel::test

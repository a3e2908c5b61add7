#pragma once

// What a repaired file holds when it is played: every frame of its video and
// audio decoded with libavformat and libavcodec.

#include <cstdint>
#include <functional>
#include <string>

namespace arbel::codec {

struct PlaybackCheck {
    bool ran = false;              // the check was made (and not stopped)
    bool opened = false;           // the file opened as a movie with a video stream
    uint64_t videoFrames = 0;      // decoded
    double firstSeconds = 0;       // timestamps of the first and last frame shown
    double lastSeconds = 0;
    double audioSeconds = 0;       // of audio decoded
    uint64_t decodeErrors = 0;     // packets or frames the decoders rejected or concealed

    // "Recovered 1,234 frames (0:00–0:41) and 0:41 of audio, 0 decode errors"
    std::string text() const;
};

// Decodes the file at path. `stopped` is asked between packets; a stop ends
// the check unmade.
PlaybackCheck checkPlayback(const std::string& path, const std::function<bool()>& stopped);

// "1,234"; "0:41", "1:02:03".
std::string groupedNumber(uint64_t n);
std::string clockText(double seconds);

}  // namespace arbel::codec

#pragma once

// The timing of a repaired QuickTime movie: durations, time scales, the
// frame rate and length reported, worked out by pure functions over a small
// input so every camera family can be checked without files.

#include "camera_flags.h"

#include <cstdint>
#include <string>
#include <vector>

namespace arbel {

struct ReferenceAnalysis;
struct ReferenceTemplates;
struct SampleTables;

enum class TimingClass {
    ProfileTimed,    // a known camera family fixes the frame delta and durations
    CanonTimed,      // the movie lasts one second per audio chunk
    ReferenceTimed,  // durations scaled from the reference movie
};

// What the timing depends on (timingInputFrom gathers it from a repair).
struct TimingInput {
    CameraFlags flags;
    uint64_t n = 0;                    // video samples found
    uint64_t audioChunks = 0;          // audio chunks found
    uint64_t timeScale = 0;            // reference movie time scale (ts)
    uint64_t duration = 0;             // reference movie duration (D)
    uint64_t audioTimeScale = 0;       // reference audio media time scale
    uint64_t audioDuration = 0;        // reference audio media duration
    uint64_t refVideoSamples = 0;      // reference video sample count
    uint64_t refAudioSamples = 0;      // reference audio sample count
    uint64_t firstVideoDelta = 0;      // reference first stts delta
    uint64_t videoSampleDelta = 0;     // the delta the video stts is written with
    uint64_t videoMediaTimeScale = 0;  // time scale of the reference video mdhd (0: unknown)
    uint64_t samplesPerAudioChunk = 0; // for audio that is not AAC
    bool aac = false;
    bool stopMotion = false;
};

// Audio chunks counted as time: `times` units per chunk, divided by `per`
// (1/2: half a unit per chunk). Not given when times is 0.
struct PerChunk {
    uint32_t times = 0;
    uint32_t per = 1;
    bool given() const { return times != 0; }
    uint32_t of(uint32_t chunks) const;
};

// How one camera family times its recordings. Products wrap at 32 bits on
// purpose: the fields they end up in are 32 bits wide.
struct TimingProfile {
    const char* name;
    bool (*holds)(const CameraFlags& flags);
    uint32_t frameDelta;   // movie time units per frame; 0: the reference's first delta
    PerChunk movieSpan;    // the movie lasts at least this long per audio chunk
    PerChunk audioMedia;   // audio media duration per chunk
    PerChunk audioTrack;   // audio track duration per chunk
};

// A profile's values for n frames and a number of audio chunks.
struct ProfileValues {
    const char* profile = nullptr;  // the profile that holds; null: none
    uint32_t frameDelta = 0;
    uint32_t videoDuration = 0;     // n x frameDelta
    uint32_t movieSpan = 0;         // max(span of the audio, videoDuration)
    uint32_t audioMedia = 0;
    uint32_t audioTrack = 0;
    bool holds() const { return profile != nullptr; }
};

// The families stand side by side; within the audio-paced family the last
// profile that holds wins.
struct CameraTimingValues {
    ProfileValues audioPaced;     // action and hybrid cameras timed by their AAC frames
    ProfileValues signature;      // cameras known by a signature at offset 48 or 64: 1001 per frame
    ProfileValues ntsc;           // Canon EOS-1D X Mark II and Sony: 1001 per frame
    ProfileValues canonCompact;   // Canon compacts and VIXIA: 1000 per frame
    ProfileValues gh4;            // Panasonic GH4: 3003 per frame
};

struct MovieTiming {
    TimingClass timingClass = TimingClass::ReferenceTimed;
    uint64_t timeScale = 0;            // after the defaults
    uint64_t duration = 0;             // after the defaults and the class adjustment
    uint64_t audioTimeScale = 0;
    uint64_t audioDuration = 0;
    uint64_t audioChunksFound = 0;     // A0
    uint64_t audioCount = 0;           // A: A0, or 500 when none was found
    uint64_t classFrameRate = 0;       // frame rate of the Canon and reference classes
    CameraTimingValues camera;

    uint32_t videoDuration = 0;        // video tkhd, in the movie time scale
    uint32_t videoMediaDuration = 0;   // video mdhd, in the media's own time scale
    uint32_t movieDuration = 0;        // mvhd
    uint32_t audioTrackDuration = 0;   // audio tkhd
    uint32_t audioMediaDuration = 0;   // audio mdhd
    uint32_t audioSampleDelta = 0;     // AAC stts delta

    uint64_t fps = 0;                  // reported under "fps"
    uint64_t seconds = 0;              // reported under "duration"
    int tracks = 2;

    bool audioTrackWritten = true;
    bool audioTrackInsideMovie = true; // false: a top-level atom after the movie atom
};

TimingClass timingClassOf(const CameraFlags& flags);
CameraTimingValues cameraTimingValues(const CameraFlags& flags, uint64_t n, uint64_t audioChunksFound,
                                      uint64_t firstVideoDelta);
MovieTiming computeMovieTiming(const TimingInput& in);

// "h:m:s" without padding, as the details screen shows it.
std::string durationText(uint64_t seconds);

struct MjpegTiming {
    uint64_t fps = 0;
    int32_t seconds = 0;
};
// The MJPEG path reports the reference frame rate. When that rate is 0 the
// duration is the written movie's own: n frames at 30 per second.
MjpegTiming computeMjpegTiming(const TimingInput& in);
std::string mjpegDurationText(int32_t seconds);

// The reference video media time scale held in an mdhd piece (version 0 or
// 1); 0 when the piece is missing or too short.
uint64_t mediaTimeScaleOf(const std::vector<uint8_t>& mdhdPiece);

// The delta every video sample is written with: the reference's last one.
uint64_t videoSampleDeltaOf(const ReferenceTemplates& templates);

TimingInput timingInputFrom(const ReferenceAnalysis& analysis, const ReferenceTemplates& templates,
                            const SampleTables& tables);

}  // namespace arbel

#pragma once

// Sample tables, timing and the new movie atom of a repaired QuickTime file.
//
// The timing is worked out by pure functions over a small input struct so it
// can be checked for every camera profile without files. The writers append
// the movie atom through the engine's buffered output writer; every container
// size is computed beforehand from the bytes that will actually be written,
// so a missing reference piece shrinks its container instead of leaving a
// size that disagrees with the content.

#include "camera_flags.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace arbel {

class RepairFile;

// ---------------------------------------------------------------------------
// Timing
// ---------------------------------------------------------------------------

enum class TimingClass {
    ProfileTimed,    // a known camera profile fixes the frame delta and durations
    CanonTimed,      // the movie lasts one second per audio chunk
    ReferenceTimed,  // durations scaled from the reference movie
};

// What the timing depends on, gathered from the engine (timingInputFrom).
struct TimingInput {
    CameraFlags flags;
    uint64_t n = 0;                    // video samples found
    uint64_t audioChunks = 0;          // audio chunks found (A0)
    uint64_t timeScale = 0;            // reference movie time scale (ts)
    uint64_t duration = 0;             // reference movie duration (D)
    uint64_t audioTimeScale = 0;       // reference audio media time scale
    uint64_t audioDuration = 0;        // reference audio media duration
    uint64_t refVideoSamples = 0;      // reference video sample count
    uint64_t refAudioSamples = 0;      // reference audio sample count
    uint64_t firstVideoDelta = 0;      // reference first stts delta (R)
    uint64_t videoSampleDelta = 0;     // the delta the video stts is written with
    uint64_t videoMediaTimeScale = 0;  // time scale of the reference video mdhd (0: unknown)
    uint64_t samplesPerAudioChunk = 0; // for audio that is not AAC
    bool aac = false;
    bool stopMotion = false;
};

// Values of the camera rules. Products of n wrap at 32 bits on purpose: the
// fields they end up in are 32 bits wide.
struct RuleValues {
    bool anyG = false;                 // some G rule held
    uint32_t KG = 0, VG = 0, MG = 0, XG = 0, TG = 0;
    uint32_t VH = 0;
    uint32_t VI = 0, MI = 0, XI = 0;
    uint32_t VJ = 0, MJ = 0, XJ = 0, TJ = 0;
    uint32_t VK = 0, MK = 0, XK = 0;
};

struct MovieTiming {
    TimingClass timingClass = TimingClass::ReferenceTimed;
    uint64_t timeScale = 0;            // after the defaults
    uint64_t duration = 0;             // after the defaults and the class adjustment
    uint64_t audioTimeScale = 0;
    uint64_t audioDuration = 0;
    uint64_t audioChunksFound = 0;     // A0
    uint64_t audioCount = 0;           // A: A0, or 500 when none was found
    uint64_t classFrameRate = 0;       // F of the Canon and reference classes
    RuleValues rules;

    uint32_t videoDuration = 0;        // video tkhd (and mdhd, unless videoMediaDuration says otherwise)
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
RuleValues computeRuleValues(const CameraFlags& flags, uint64_t n, uint64_t audioChunksFound,
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

TimingInput timingInputFrom(const RepairFile& engine);

// ---------------------------------------------------------------------------
// Media-data header
// ---------------------------------------------------------------------------

// The reference video media time scale held in an mdhd piece (version 0 or
// 1); 0 when the piece is missing or too short.
uint64_t mediaTimeScaleOf(const std::vector<uint8_t>& mdhdPiece);

// The bytes that go at offset 0 for media data ending at mediaEnd: the 64-bit
// form exactly when 16 bytes were reserved, the 32-bit form otherwise. No
// value when 8 bytes were reserved and the media outgrew a 32-bit size.
std::optional<std::vector<uint8_t>> mediaHeaderBytes(uint64_t reservedBytes, uint64_t mediaEnd);

// ---------------------------------------------------------------------------
// Chunk tables
// ---------------------------------------------------------------------------

// True when some offset does not fit a 32-bit "stco" entry.
bool needsCo64(const std::vector<uint64_t>& offsets, uint64_t count);

// MJPEG chunk count: n / 15 rounded to the nearest, halves up.
uint64_t mjpegChunkCount(uint64_t n);

// The video chunk offsets the MJPEG atom lists: the first chunk (right after
// the leading audio block) followed by the recorded ones, only those inside
// the media data, at most chunkCount.
std::vector<uint64_t> mjpegVideoChunkEntries(const RepairFile& engine, uint64_t chunkCount, uint64_t mediaEnd);
// The audio chunk offsets: the leading block at the start of the media data
// when there is one, then the recorded ones inside the media data.
std::vector<uint64_t> mjpegAudioChunkEntries(const RepairFile& engine, uint64_t mediaEnd);

// ---------------------------------------------------------------------------
// Movie atoms
// ---------------------------------------------------------------------------

// Sizes of the general movie atom, from the pieces the engine holds.
struct GeneralAtomLayout {
    uint64_t n = 0;
    uint64_t audioEntries = 0;         // A0
    bool videoCo64 = false;
    bool audioCo64 = false;
    uint64_t videoStbl = 0, videoMinf = 0, videoMdia = 0, videoTrak = 0;
    uint64_t audioStbl = 0, audioMinf = 0, audioMdia = 0, audioTrak = 0;
    uint64_t moov = 0;
};
GeneralAtomLayout layoutGeneralMovieAtom(const RepairFile& engine, const MovieTiming& timing);

// The movie header and the video track (and nothing of the audio track).
bool appendGeneralMovieAtom(RepairFile& engine, const GeneralAtomLayout& layout, const MovieTiming& timing);
// The audio track, inside the movie atom or after it as the layout says.
bool appendGeneralAudioTrack(RepairFile& engine, const GeneralAtomLayout& layout, const MovieTiming& timing);

struct MjpegAtomLayout {
    uint64_t n = 0;
    std::vector<uint64_t> videoChunks;
    std::vector<uint64_t> audioChunks;
    bool videoCo64 = false;
    bool audioCo64 = false;
    uint64_t videoStbl = 0, videoMinf = 0, videoMdia = 0, videoTrak = 0;
    uint64_t audioStbl = 0, audioMinf = 0, audioMdia = 0, audioTrak = 0;
    uint64_t moov = 0;
};
MjpegAtomLayout layoutMjpegMovieAtom(const RepairFile& engine, uint64_t mediaEnd);

enum class AtomWrite { Written, Stopped, Failed };
AtomWrite appendMjpegMovieAtom(RepairFile& engine, const MjpegAtomLayout& layout);
AtomWrite appendMjpegAudioTrack(RepairFile& engine, const MjpegAtomLayout& layout);

}  // namespace arbel

#pragma once

// Recordings past 4 GiB for the large-file tests and the benchmarks, made in
// seconds from a short real encode: its media data repeated whole, clip after
// clip (each repetition starts with a key frame), streamed to disk in large
// writes with every byte real, so a scan reads data wherever it looks.

#include "camera_clip.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace arbel::test {

// A unit of the big file: where it lies and whether it is video.
struct LargeUnit {
    uint64_t offset = 0;
    uint64_t size = 0;
    bool video = false;
};

// What a damage left whole: units of each kind, and the audio's bytes.
struct Intact {
    uint64_t video = 0;
    uint64_t audio = 0;
    uint64_t audioBytes = 0;
};

// The big file as written: its units in file order.
struct LargeRecording {
    std::string path;
    uint64_t bytes = 0;
    std::vector<LargeUnit> units;  // whole units only: the cut one is left out

    Intact intact() const;
};

// One clip of media: its bytes [begin, end) inside `file`, the units within.
struct ClipMedia {
    const ByteString* file = nullptr;
    uint64_t begin = 0, end = 0;
    std::vector<LargeUnit> units;  // offsets inside `file`
};

// The media data of a laid-out or muxed recording: from its first unit to
// the end of its last, with video frames and audio units (AAC: frames;
// PCM: chunks).
ClipMedia clipMediaOf(const CameraFile& file);

// Writes `prefix`, then the clip's media over and over until the file holds
// at least targetBytes, then half of the clip's first unit once more: a
// recording cut while it was written. Answers nothing (and says why) when the disk refused.
std::optional<LargeRecording> writeRepeatedRecording(const std::string& path, const ByteString& prefix,
                                                     const ClipMedia& clip, uint64_t targetBytes,
                                                     std::string& error);

// The bytes in front of a camera recording's media data, as a cut
// recording leaves them: its ftyp (if any) and an 8-byte mdat header of size 0.
ByteString cutRecordingPrefix(const CameraFile& file);

// Free bytes on the file system that holds `path`.
uint64_t freeBytesAt(const std::string& path);

// A program run with its peak resident memory (KiB; -1 where GNU time is
// not installed to tell it) and wall time.
struct MeasuredRun {
    ProgramRun run;
    long peakKiB = -1;
    double seconds = 0;
};
MeasuredRun runMeasured(const std::vector<std::string>& argv);

// The number after "field": in a one-line JSON report (0 when absent).
uint64_t jsonNumber(const std::string& json, const std::string& field);
std::string jsonText(const std::string& json, const std::string& field);

// What ffprobe reads in a result: per stream, its type, the frame count its
// header states, the packets demuxed, and the duration in seconds.
struct ProbedStream {
    std::string type;
    uint64_t frames = 0;
    uint64_t packets = 0;
    double seconds = 0;
};
std::vector<ProbedStream> probeStreams(const std::string& path, std::string& error);

// ffmpeg's error lines when it decodes the last `seconds` of the file ("" when clean).
std::string decodeEnd(const std::string& path, double durationSeconds, double seconds = 2.0);

// A QuickTime result of any size read back: its top-level atoms tile the
// file; the atoms outside the media data (movie atom, a track beside it) read
// with every size equal to its content; the media data's header form fits its
// size; every chunk offset lies inside the media data, in co64 tables
// whenever one passes 4 GiB. Answers the errors (none: consistent) and each
// track's sample count and chunk table type.
struct QuickTimeReadBack {
    std::vector<std::string> errors;
    uint64_t mediaEnd = 0;
    bool wideMediaHeader = false;
    std::vector<std::pair<std::string, uint64_t>> trackSamples;  // handler, stsz count
    std::vector<std::string> chunkTables;                       // "stco" / "co64" per track
    std::vector<std::string> headerVersions;                    // e.g. "mvhd1" for a version-1 movie header
};
QuickTimeReadBack readQuickTimeBack(const std::string& path);

}  // namespace arbel::test

#pragma once

// The new movie atom of a repaired QuickTime file, written through the box
// writer so that every atom's size is the size of what was written.

#include "movie_timing.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace arbel {

class BoxWriter;
class RepairControl;
struct ReferenceAnalysis;
struct ReferenceTemplates;
struct SampleTables;

// ---------------------------------------------------------------------------
// Media-data header and chunk tables
// ---------------------------------------------------------------------------

// The bytes that go at offset 0 for media data ending at mediaEnd: the 64-bit
// form exactly when 16 bytes were reserved, the 32-bit form otherwise. No
// value when 8 bytes were reserved and the media outgrew a 32-bit size.
std::optional<std::vector<uint8_t>> mediaHeaderBytes(uint64_t reservedBytes, uint64_t mediaEnd);

// The 16 bytes at headerAt in front of media data ending at mediaEnd: a free
// box and a 32-bit mdat header, or the 64-bit mdat header when the media
// reach 4 GiB.
std::vector<uint8_t> mediaHeaderInRoom(uint64_t headerAt, uint64_t mediaEnd);

// True when some offset does not fit a 32-bit "stco" entry.
bool needsCo64(const std::vector<uint64_t>& offsets);

// MJPEG chunk count: n / 15 rounded to the nearest, halves up.
uint64_t mjpegChunkCount(uint64_t n);

// The video chunk offsets the MJPEG atom lists: the first chunk (right after
// the header and the leading audio block) followed by the recorded ones, only
// those inside the media data, at most chunkCount.
std::vector<uint64_t> mjpegVideoChunkEntries(const SampleTables& tables, uint64_t mediaHeaderSize,
                                             uint64_t chunkCount, uint64_t mediaEnd);
// The audio chunk offsets: the leading block at the start of the media data
// when there is one, then the recorded ones inside the media data.
std::vector<uint64_t> mjpegAudioChunkEntries(const SampleTables& tables, uint64_t mediaHeaderSize,
                                             uint64_t mediaEnd);

// ---------------------------------------------------------------------------
// Movie atoms
// ---------------------------------------------------------------------------

// The first `count` sample sizes ("stsz"), and chunk offsets ("stco", or
// "co64" when one passes 4 GiB). False when the user stopped (control polled
// every thousand entries when given).
bool writeSampleSizes(BoxWriter& box, const std::vector<uint64_t>& sizes, uint64_t count,
                      const RepairControl* control = nullptr);
bool writeSampleSizes(BoxWriter& box, const std::vector<uint32_t>& sizes, uint64_t count,
                      const RepairControl* control = nullptr);
bool writeChunkOffsets(BoxWriter& box, const std::vector<uint64_t>& offsets, const RepairControl* control = nullptr);

// The general path: the movie header and the video track go into the movie
// atom that the caller has opened; the audio track goes wherever the caller
// has the writer (inside that atom, or after it at the top level).
void writeMovieHeader(BoxWriter& box, uint32_t timeScale, uint32_t duration, uint32_t created);
void writeGeneralVideoTrack(BoxWriter& box, const ReferenceTemplates& templates, const SampleTables& tables,
                            const MovieTiming& timing);
void writeGeneralAudioTrack(BoxWriter& box, const ReferenceAnalysis& analysis, const ReferenceTemplates& templates,
                            const SampleTables& tables, const MovieTiming& timing);

// The MJPEG path builds its tracks from fixed atoms around the reference's
// sample descriptions. False: the user stopped while the long tables were
// written (the atom is left unfinished).
struct MjpegChunks {
    uint64_t frames = 0;
    std::vector<uint64_t> video;
    std::vector<uint64_t> audio;
};
MjpegChunks mjpegChunks(const SampleTables& tables, uint64_t mediaHeaderSize, uint64_t mediaEnd);
bool writeMjpegVideoTrack(BoxWriter& box, const ReferenceTemplates& templates, const SampleTables& tables,
                          const MjpegChunks& chunks, const RepairControl& control);
bool writeMjpegAudioTrack(BoxWriter& box, const ReferenceTemplates& templates, const MjpegChunks& chunks,
                          const RepairControl& control);

}  // namespace arbel

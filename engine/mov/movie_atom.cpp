// The new movie atom: sample tables from the scan, header pieces from the
// reference, durations from the timing.
#include "movie_atom.h"

#include "engine/box_writer.h"
#include "engine/byte_order.h"
#include "engine/repair_request.h"
#include "reference_analysis.h"
#include "reference_templates.h"
#include "sample_tables.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace arbel {

namespace {

constexpr uint64_t k32BitMax = 0xFFFFFFFFull;

// Entries are polled for a stop this often inside the long MJPEG loops.
constexpr uint64_t kPollEvery = 1024;

uint32_t low32(uint64_t v) { return static_cast<uint32_t>(v); }

uint64_t mulSat(uint64_t a, uint64_t b) {
    if (a != 0 && b > std::numeric_limits<uint64_t>::max() / a) return std::numeric_limits<uint64_t>::max();
    return a * b;
}

void bytesFrom(BoxWriter& box, const std::vector<uint8_t>& piece, size_t skip) {
    if (piece.size() > skip) box.bytes(piece.data() + skip, piece.size() - skip);
}

void writeMatrix(BoxWriter& box, uint32_t w) {
    for (uint32_t v : {0x00010000u, 0u, 0u, 0u, 0x00010000u, 0u, 0u, 0u, w}) box.u32(v);
}

// Version 0, flags 0xF (enabled, in movie, preview, poster): the part of a
// track header both kinds of track share.
void openTrackHeader(BoxWriter& box, uint32_t created, uint32_t modified, uint32_t trackId, uint32_t duration) {
    box.open("tkhd");
    for (uint32_t v : {0x0000000Fu, created, modified, trackId, 0u, duration}) box.u32(v);
}

// Layer, alternate group, volume 1.0, matrix and zero width/height of a sound track.
void writeSoundTrackHeaderTail(BoxWriter& box, uint32_t matrixW) {
    box.zeros(8);
    for (uint16_t v : {0, 0, 0x0100, 0}) box.u16(v);
    writeMatrix(box, matrixW);
    box.u32(0);
    box.u32(0);
}

// A time-to-sample table of one entry: count samples of delta each.
void writeOneEntryTimeToSample(BoxWriter& box, uint32_t count, uint32_t delta) {
    box.open("stts");
    for (uint32_t v : {0u, 1u, count, delta}) box.u32(v);
    box.close();
}

// A sample-to-chunk table of one entry: from chunk 1 on, samplesPerChunk each.
void writeOneEntrySampleToChunk(BoxWriter& box, uint32_t samplesPerChunk) {
    box.open("stsc");
    for (uint32_t v : {0u, 1u, 1u, samplesPerChunk, 1u}) box.u32(v);
    box.close();
}

// A sample-size table where every one of count samples is one byte.
void writeOneByteSampleSizes(BoxWriter& box, uint32_t count) {
    box.open("stsz");
    for (uint32_t v : {0u, 1u, count}) box.u32(v);
    box.close();
}

// The reference pieces of one track, from its media header down to its
// sample description.
struct TrackPieces {
    const std::vector<uint8_t>& mediaHeader;      // mdhd up to its duration
    uint32_t mediaDuration;
    const std::vector<uint8_t>& handler;          // language and quality, then the hdlr
    const std::vector<uint8_t>& minfOpening;      // "minf" + vmhd or smhd
    const std::vector<uint8_t>& dataHandler;
    const std::vector<uint8_t>& dataInformation;
    const std::vector<uint8_t>& sampleDescription;  // "stbl" + stsd
};

// Opens mdia, minf and stbl around the pieces; the caller writes the sample
// tables and closes the three. The media header piece stops before its
// duration; the handler piece opens with the media header's last 4 bytes
// (language, quality): without a media header those have nowhere to go.
void openMediaUpToSampleTables(BoxWriter& box, const TrackPieces& p) {
    box.open("mdia");
    if (!p.mediaHeader.empty()) {
        box.open("mdhd");
        bytesFrom(box, p.mediaHeader, 8);
        box.u32(p.mediaDuration);
        if (p.handler.size() >= 4) box.bytes(p.handler.data(), 4);
        else box.zeros(4);
        box.close();
    }
    bytesFrom(box, p.handler, 4);
    box.open("minf");
    bytesFrom(box, p.minfOpening, 4);
    box.bytes(p.dataHandler);
    box.bytes(p.dataInformation);
    box.open("stbl");
    bytesFrom(box, p.sampleDescription, 4);
}

void closeMediaAndTrack(BoxWriter& box) {
    for (int i = 0; i < 4; ++i) box.close();  // stbl, minf, mdia, trak
}

// --- the MJPEG path's fixed atoms ------------------------------------------------

void writeMjpegHandler(BoxWriter& box, const char* kind, const char* subtype) {
    box.open("hdlr");
    box.u32(0);
    box.fourcc(kind);
    box.fourcc(subtype);
    box.fourcc("pana");
    box.u32(0);
    box.u32(0);
    box.u16(0);
    box.close();
}

void writeMjpegDataHandlerAndDinf(BoxWriter& box) {
    writeMjpegHandler(box, "dhlr", "alis");
    box.open("dinf");
    box.open("dref");
    box.u32(0);
    box.u32(1);
    box.open("alis");
    box.u32(1);
    box.close();
    box.close();
    box.close();
}

void openMjpegMedia(BoxWriter& box, uint32_t timeScale, uint32_t duration, const char* subtype) {
    box.open("mdia");
    box.open("mdhd");
    for (uint32_t v : {0u, 0xCA167A3Bu, 0xCA167A3Bu, timeScale, duration, 0u}) box.u32(v);
    box.close();
    writeMjpegHandler(box, "mhlr", subtype);
    box.open("minf");
}

void openMjpegSampleTables(BoxWriter& box, const std::vector<uint8_t>& sampleDescription) {
    writeMjpegDataHandlerAndDinf(box);
    box.open("stbl");
    bytesFrom(box, sampleDescription, 4);
}

// Offsets inside the media data, in increasing order, after `first` when
// there is one. Recorded tables may or may not hold the first chunk; either
// way it is listed once.
std::vector<uint64_t> chunkEntries(std::optional<uint64_t> first, const std::vector<uint64_t>& recorded,
                                   uint64_t mediaEnd) {
    std::vector<uint64_t> out;
    if (first && *first < mediaEnd) out.push_back(*first);
    for (uint64_t o : recorded) {
        if (o >= mediaEnd) continue;
        if (!out.empty() && o <= out.back()) continue;
        out.push_back(o);
    }
    return out;
}

}  // namespace

// ---------------------------------------------------------------------------
// Media-data header and chunk tables
// ---------------------------------------------------------------------------

std::optional<std::vector<uint8_t>> mediaHeaderBytes(uint64_t reservedBytes, uint64_t mediaEnd) {
    std::vector<uint8_t> h;
    auto u32 = [&h](uint64_t v) {
        for (int shift = 24; shift >= 0; shift -= 8) h.push_back(static_cast<uint8_t>(v >> shift));
    };
    if (reservedBytes >= 16) {
        u32(1);
        h.insert(h.end(), {'m', 'd', 'a', 't'});
        u32(mediaEnd >> 32);
        u32(mediaEnd & k32BitMax);
        return h;
    }
    if (mediaEnd > k32BitMax) return std::nullopt;
    u32(mediaEnd);
    h.insert(h.end(), {'m', 'd', 'a', 't'});
    return h;
}

std::vector<uint8_t> mediaHeaderInRoom(uint64_t headerAt, uint64_t mediaEnd) {
    std::vector<uint8_t> h(16, 0);
    const uint64_t narrow = mediaEnd - (headerAt + 8);
    if (narrow <= k32BitMax) {
        putU32BE(h.data(), 8);
        std::memcpy(h.data() + 4, "free", 4);
        putU32BE(h.data() + 8, static_cast<uint32_t>(narrow));
        std::memcpy(h.data() + 12, "mdat", 4);
    } else {
        const uint64_t wide = mediaEnd - headerAt;
        putU32BE(h.data(), 1);
        std::memcpy(h.data() + 4, "mdat", 4);
        putU32BE(h.data() + 8, static_cast<uint32_t>(wide >> 32));
        putU32BE(h.data() + 12, static_cast<uint32_t>(wide));
    }
    return h;
}

bool needsCo64(const std::vector<uint64_t>& offsets) {
    return std::any_of(offsets.begin(), offsets.end(), [](uint64_t o) { return o > k32BitMax; });
}

uint64_t mjpegChunkCount(uint64_t n) { return (2 * n + 15) / 30; }

std::vector<uint64_t> mjpegVideoChunkEntries(const SampleTables& t, uint64_t mediaHeaderSize, uint64_t chunkCount,
                                             uint64_t mediaEnd) {
    std::vector<uint64_t> out =
        chunkEntries(mediaHeaderSize + t.mjpegLeadingAudioSize, t.mjpegVideoChunkOffsets, mediaEnd);
    if (out.size() > chunkCount) out.resize(chunkCount);
    return out;
}

std::vector<uint64_t> mjpegAudioChunkEntries(const SampleTables& t, uint64_t mediaHeaderSize, uint64_t mediaEnd) {
    std::optional<uint64_t> leading;
    if (t.mjpegLeadingAudioSize > 0) leading = mediaHeaderSize;
    return chunkEntries(leading, t.mjpegAudioChunkOffsets, mediaEnd);
}

namespace {

template <typename Size>
bool writeSampleSizesOf(BoxWriter& box, const std::vector<Size>& sizes, uint64_t count, const RepairControl* control) {
    box.open("stsz");
    for (uint32_t v : {0u, 0u, low32(count)}) box.u32(v);
    for (uint64_t i = 0; i < count; ++i) {
        if (control && i % kPollEvery == 0 && control->poll()) return false;
        box.u32(low32(sizes[i]));
    }
    box.close();
    return true;
}

}  // namespace

bool writeSampleSizes(BoxWriter& box, const std::vector<uint64_t>& sizes, uint64_t count,
                      const RepairControl* control) {
    return writeSampleSizesOf(box, sizes, count, control);
}

bool writeSampleSizes(BoxWriter& box, const std::vector<uint32_t>& sizes, uint64_t count,
                      const RepairControl* control) {
    return writeSampleSizesOf(box, sizes, count, control);
}

bool writeChunkOffsets(BoxWriter& box, const std::vector<uint64_t>& offsets, const RepairControl* control) {
    const bool co64 = needsCo64(offsets);
    box.open(co64 ? "co64" : "stco");
    box.u32(0);
    box.u32(low32(offsets.size()));
    for (uint64_t i = 0; i < offsets.size(); ++i) {
        if (control && i % kPollEvery == 0 && control->poll()) return false;
        if (co64) box.u64(offsets[i]);
        else box.u32(low32(offsets[i]));
    }
    box.close();
    return true;
}


// ---------------------------------------------------------------------------
// General movie atom
// ---------------------------------------------------------------------------

void writeMovieHeader(BoxWriter& box, uint32_t timeScale, uint32_t duration, uint32_t created) {
    box.open("mvhd");
    for (uint32_t v : {0u, created, created, timeScale, duration}) box.u32(v);
    // Rate, volume, reserved, matrix, the six preview/poster/selection fields
    // and the next track ID.
    box.u32(0x00010000);
    box.u16(0x00FF);
    box.zeros(10);
    writeMatrix(box, 0x40000000);
    box.zeros(24);
    box.u32(3);
    box.close();
}

void writeGeneralVideoTrack(BoxWriter& box, const ReferenceTemplates& e, const SampleTables& tables,
                            const MovieTiming& t) {
    const uint64_t n = tables.sample_count();
    box.open("trak");
    openTrackHeader(box, 0xC9B7BFD8, 0xCADFC842, 1, t.videoDuration);
    box.zeros(16);
    // Matrix, width and height of the reference track header (12 bytes
    // further on in a version-1 header, whose times are 64-bit); a header too
    // short to hold them gets the identity matrix and no size.
    const size_t geometry = (e.trak_data.size() >= 104 && e.trak_data[8] == 1) ? 60 : 48;
    if (e.trak_data.size() >= geometry + 44) {
        box.bytes(e.trak_data.data() + geometry, 44);
    } else {
        writeMatrix(box, 0x40000000);
        box.zeros(8);
    }
    box.close();

    openMediaUpToSampleTables(box, {e.bpMdhdDataStore, t.videoMediaDuration, e.bpHdlrDataStore, e.bpMingVmhdDataStore,
                                    e.bpMinfHdlrData, e.bpMinfDinfData, e.videoSampleDescription});
    // One stts entry: every sample lasts the reference's last delta.
    writeOneEntryTimeToSample(box, low32(n), low32(videoSampleDeltaOf(e)));
    writeOneEntrySampleToChunk(box, 1);
    writeSampleSizes(box, tables.video_buffer_size, n);
    writeChunkOffsets(box, tables.video_buffer_start);
    closeMediaAndTrack(box);
}

void writeGeneralAudioTrack(BoxWriter& box, const ReferenceAnalysis& a, const ReferenceTemplates& e,
                            const SampleTables& tables, const MovieTiming& t) {
    const bool aac = a.mp4aPresent != 0;
    const uint64_t a0 = tables.Avc_audioCount();

    box.open("trak");
    openTrackHeader(box, 0xC60F8ACE, 0xCAD441C4, 2, t.audioTrackDuration);
    writeSoundTrackHeaderTail(box, 0x40000000);
    box.close();

    openMediaUpToSampleTables(box, {e.bpMdhdAudioDataStore, t.audioMediaDuration, e.bpHdlrAudioDataStore,
                                    e.bpAudioMingSmhdDataStore, e.bpAudioMinfHdlrData, e.bpAudioMinfDinfData,
                                    e.Audio_stsd_data});
    if (a0 == 0) {
        // Nothing found: tables without entries.
        for (const char* type : {"stts", "stsc"}) {
            box.open(type);
            box.u32(0);
            box.u32(0);
            box.close();
        }
        box.open("stsz");
        for (uint32_t v : {0u, aac ? 0u : 1u, 0u}) box.u32(v);
        box.close();
        writeChunkOffsets(box, {});
        closeMediaAndTrack(box);
        return;
    }

    const uint32_t pcmSamples = low32(mulSat(a0, e.Size_ofAudiochunk));
    writeOneEntryTimeToSample(box, aac ? low32(a0) : pcmSamples, aac ? t.audioSampleDelta : 1);
    writeOneEntrySampleToChunk(box, aac ? 1 : low32(e.Size_ofAudiochunk));
    if (aac) writeSampleSizes(box, tables.Audio_buffer_size, a0);
    else writeOneByteSampleSizes(box, pcmSamples);
    writeChunkOffsets(box, tables.Audio_buffer_start);
    closeMediaAndTrack(box);
}

// ---------------------------------------------------------------------------
// MJPEG movie atom
// ---------------------------------------------------------------------------

MjpegChunks mjpegChunks(const SampleTables& tables, uint64_t mediaHeaderSize, uint64_t mediaEnd) {
    MjpegChunks c;
    c.frames = std::min<uint64_t>(tables.sample_count(), tables.mjpegFrameLengths.size());
    c.video = mjpegVideoChunkEntries(tables, mediaHeaderSize, mjpegChunkCount(c.frames), mediaEnd);
    c.audio = mjpegAudioChunkEntries(tables, mediaHeaderSize, mediaEnd);
    return c;
}

bool writeMjpegVideoTrack(BoxWriter& box, const ReferenceTemplates& e, const SampleTables& tables,
                          const MjpegChunks& chunks, const RepairControl& control) {
    const uint32_t n = low32(chunks.frames);
    box.open("trak");
    openTrackHeader(box, 0xCA167A3B, 0xCA167A3B, 1, n);
    box.zeros(16);
    writeMatrix(box, 0x40000000);
    box.u32(0x02800000);  // 640
    box.u32(0x01E00000);  // 480
    box.close();

    openMjpegMedia(box, 30, n, "vide");
    box.open("vmhd");
    box.u32(1);
    for (uint16_t v : {0x0040, 0x8000, 0x8000, 0x8000}) box.u16(v);
    box.close();
    openMjpegSampleTables(box, e.videoSampleDescription);
    writeOneEntryTimeToSample(box, n, 1);
    writeOneEntrySampleToChunk(box, 15);  // fifteen frames per chunk
    if (!writeSampleSizes(box, tables.mjpegFrameLengths, chunks.frames, &control)) return false;
    if (!writeChunkOffsets(box, chunks.video, &control)) return false;
    closeMediaAndTrack(box);
    return true;
}

bool writeMjpegAudioTrack(BoxWriter& box, const ReferenceTemplates& e, const MjpegChunks& chunks,
                          const RepairControl& control) {
    const uint32_t samples = low32(mulSat(e.Size_ofAudiochunk, chunks.audio.size()));
    box.open("trak");
    openTrackHeader(box, 0xCA160A3B, 0xCA167A3B, 2, low32(chunks.frames));
    writeSoundTrackHeaderTail(box, 0x28000000);
    box.close();

    openMjpegMedia(box, 8000, samples, "soun");
    box.open("smhd");
    box.u32(0);
    box.u32(0);
    box.close();
    openMjpegSampleTables(box, e.Audio_stsd_data);
    writeOneEntryTimeToSample(box, samples, 1);
    writeOneEntrySampleToChunk(box, low32(e.Size_ofAudiochunk));
    writeOneByteSampleSizes(box, samples);
    if (!writeChunkOffsets(box, chunks.audio, &control)) return false;
    closeMediaAndTrack(box);
    return true;
}

}  // namespace arbel

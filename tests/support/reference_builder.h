#pragma once

#include "support/bytes.h"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace arbel::test {

// A healthy-looking camera reference, built in memory and written by the
// tests: ftyp, mdat with the tracks' chunks interleaved (first chunk of every
// track, then the second of every track, ...), moov with mvhd, optional udta
// and one trak per track, then optional trailing bytes. The layout returned
// says where every atom and chunk landed, so a test can compare what the
// engine took with the bytes of the file.

// One track.
struct TrackOptions {
    std::string handler = "vide";      // media handler subtype: "vide", "soun", "tmcd", ...
    std::string format = "avc1";       // sample-entry format code, 4 bytes (may hold '\0')
    uint32_t timeScale = 600;          // mdhd
    uint32_t duration = 600;           // mdhd
    uint32_t sampleDelta = 20;         // stts: one entry for every sample
    uint32_t samplesPerChunk = 1;      // stsc: one entry
    uint32_t constantSampleSize = 0;   // stsz sample size; 0: one entry per sample
    bool co64 = false;                 // chunk table as "co64" (8-byte entries) instead of "stco"
    Bytes sampleEntryExtra;            // appended inside the sample entry (avcC, a "wave" atom, ...)
    std::vector<Bytes> chunks;         // media of each chunk
};

struct ReferenceOptions {
    std::string majorBrand = "qt  ";
    std::vector<std::string> compatibleBrands{"qt  "};
    Bytes ftypTail;                    // appended to the ftyp payload (room for signature bytes)
    std::vector<Bytes> atomsBeforeMdat;  // whole top-level atoms between ftyp and mdat
    bool mdat64 = false;               // mdat with size field 1 and a 64-bit size
    bool moovFirst = false;            // moov before mdat
    uint32_t movieTimeScale = 600;
    uint32_t movieDuration = 600;
    uint16_t width = 1920;
    uint16_t height = 1080;
    std::string model;                 // udta text (a "\xA9mod" item, zero-terminated); empty: no udta
    bool udtaFirst = false;            // udta as the first child of moov (else the last)
    std::vector<Bytes> moovExtraAtoms; // whole atoms right after mvhd
    std::vector<TrackOptions> tracks;  // in trak order
    Bytes trailing;                    // after the last atom (camera XML)
    std::vector<std::pair<uint64_t, Bytes>> patches;  // written over the finished file, in order
};

// Where an atom starts (its size field) and its whole size.
struct AtomPos {
    uint64_t offset = 0;
    uint64_t size = 0;
    bool present() const { return size != 0; }
};

struct TrackLayout {
    AtomPos trak, tkhd, mdia, mdhd, hdlr, minf;
    AtomPos mediaHeader;               // vmhd, smhd or gmhd
    AtomPos dataHandler;               // the hdlr inside minf
    AtomPos dinf, stbl, stsd, stts, stsc, stsz;
    AtomPos chunkTable;                // stco or co64
    std::vector<uint64_t> chunkOffsets;
};

struct ReferenceLayout {
    std::vector<uint8_t> bytes;
    AtomPos ftyp, mdat, moov, mvhd, udta;
    std::vector<TrackLayout> tracks;
    uint64_t trailingOffset = 0;

    // Copies of parts of the file, for byte-for-byte comparisons.
    std::vector<uint8_t> slice(uint64_t offset, uint64_t length) const;
    std::vector<uint8_t> slice(const AtomPos& atom) const { return slice(atom.offset, atom.size); }
};

ReferenceLayout buildReference(const ReferenceOptions& options);
ReferenceLayout writeReference(const std::string& path, const ReferenceOptions& options);

// Chunk contents.
// `size` bytes that begin with `head` and go on with `fill`.
Bytes chunkStartingWith(const Bytes& head, size_t size, uint8_t fill = 0x5A);
// One length-prefixed H.264 unit whose NAL header bytes are nal0 nal1.
Bytes avcFrame(uint8_t nal0, uint8_t nal1, size_t payloadSize);

// An H.264 video track ("avc1") with `chunkCount` one-frame chunks whose
// first unit starts with the NAL header pair nal0 nal1.
TrackOptions avcVideoTrack(size_t chunkCount = 12, uint8_t nal0 = 0x25, uint8_t nal1 = 0x88);
// A sound track of `chunkCount` chunks of `chunkSize` bytes, each starting
// with `head` (the bytes the audio signatures look at).
TrackOptions soundTrack(const std::string& format = "sowt", size_t chunkCount = 12, size_t chunkSize = 2048,
                        const Bytes& head = Bytes{0x01, 0x02, 0x03, 0x04});
// A "wave" atom as QuickTime writes it inside an "mp4a" sample entry.
Bytes waveAtom();

// A typical camera reference: H.264 video and PCM sound.
ReferenceOptions cameraReference();

}  // namespace arbel::test

#pragma once

// What the codec-aware scan learns of the reference: every track of its
// movie atom with its codec and sample description, how its samples are
// sized, timed and grouped into chunks, and the order in which the tracks'
// chunks interleave. Learned by a bounded walk of the boxes, not by the
// camera rules.

#include "engine/codec/parameter_sets.h"
#include "platform/file_reader.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace arbel {

enum class TrackKind : uint8_t { Video, Audio, Data, Other };
enum class MediaCodec : uint8_t { None, H264, Hevc, Jpeg, Aac, Pcm };

const char* mediaCodecName(MediaCodec codec);  // "H.264", "HEVC", "MJPEG", "AAC", "PCM"

struct TrackModel {
    uint32_t trackId = 0;
    std::string handler;         // "vide", "soun", "tmcd", ...
    std::string format;          // the sample entry's code ("avc1", "sowt", ...)
    TrackKind kind = TrackKind::Other;
    MediaCodec codec = MediaCodec::None;
    uint32_t timescale = 0;
    std::vector<uint8_t> trak;   // the whole track box, the template of the repaired one

    // H.264 / HEVC: NAL length size and parameter sets of avcC / hvcC.
    std::optional<codec::StreamParameters> stream;
    // AAC: the AudioSpecificConfig of esds.
    std::vector<uint8_t> audioSpecificConfig;
    uint32_t sampleRate = 0;
    uint16_t channels = 0;
    // PCM: bytes of one frame of all channels.
    uint32_t pcmBytesPerFrame = 0;

    // The sample tables.
    std::vector<uint32_t> sampleSizes;       // one per sample (PCM: per frame, all equal)
    uint32_t constantSampleSize = 0;         // stsz's own size, 0 when sizes vary
    uint32_t sampleDelta = 0;                // the most common sample duration
    std::vector<uint64_t> chunkOffsets;
    std::vector<uint32_t> samplesPerChunk;   // one per chunk
    std::vector<uint64_t> chunkBytes;        // one per chunk
    bool hasSyncTable = false;               // stss: not every sample is a key frame
    bool hasCompositionOffsets = false;      // ctts

    // What its samples look like, for recognising them: the sizes used, and
    // the bytes every sample (of two or more) begins with.
    std::vector<uint32_t> distinctSizes;
    std::vector<uint8_t> leadingBytes;
    std::array<bool, 256> firstBytes{};      // first bytes of its samples (audio), when read
    bool firstBytesKnown = false;
    uint64_t largestSample = 0;
    uint64_t largestChunk = 0;
    // Chunk sizes in bytes the track uses (its last chunk aside).
    std::vector<uint64_t> usualChunkBytes;
};

struct ReferenceModel {
    std::vector<uint8_t> ftyp;              // the reference's file-type box, when it has one
    std::vector<uint8_t> mvhd;              // its movie header box
    std::vector<std::vector<uint8_t>> movieExtras;  // other movie-atom children kept as they are (udta, meta)
    uint32_t movieTimescale = 0;
    std::vector<TrackModel> tracks;
    std::vector<uint32_t> interleave;       // track index of each chunk in file order (the first ones)
    int video = -1;                         // the track repaired as video
    int audio = -1;                         // and as audio (-1: none)

    const TrackModel* videoTrack() const { return video >= 0 ? &tracks[static_cast<size_t>(video)] : nullptr; }
    const TrackModel* audioTrack() const { return audio >= 0 ? &tracks[static_cast<size_t>(audio)] : nullptr; }
    // "H.264 + AAC", "MJPEG + PCM", "HEVC".
    std::string codecsText() const;
};

// Learns the reference. nullopt (and why) when it has no movie atom or no
// video track of a codec the scan knows.
std::optional<ReferenceModel> learnReference(const FileReader& reference, uint64_t size, std::string& why);
// The same over the movie atom's bytes (and the file-type box's).
std::optional<ReferenceModel> learnMovie(std::span<const uint8_t> moov, std::span<const uint8_t> ftyp,
                                         std::string& why);

}  // namespace arbel

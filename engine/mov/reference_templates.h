#pragma once

#include "aac_frame_start.h"
#include "stage_context.h"

#include <array>
#include <cstdint>
#include <vector>

namespace arbel {

struct ReferenceAnalysis;

// The header atoms of the reference that the repaired file reuses, and the
// numbers that tell how the camera lays out its media. A piece that the
// reference does not hold where the camera writes it stays empty, and the
// writers leave it out.
struct ReferenceTemplates {
    // --- the file ---------------------------------------------------------------
    uint8_t its_A_morethen_4GB_FILE = 0;   // the reference media data has a 64-bit size
    uint8_t Movfileisvalid = 0;            // a movie atom was found
    uint64_t mvhd_timescale = 0;
    uint64_t duratonFPS = 0;               // movie duration in mvhd_timescale units

    // --- video track ---------------------------------------------------------------
    std::vector<uint8_t> trak_data;                // the track header atom, from its size field on
    std::vector<uint8_t> bpMdhdDataStore;          // mdhd, its first size - 8 bytes (up to the duration)
    std::vector<uint8_t> bpHdlrDataStore;          // the 4 bytes before the media hdlr + the hdlr
    std::vector<uint8_t> bpMingVmhdDataStore;      // "minf" + the vmhd
    std::vector<uint8_t> bpMinfHdlrData;           // the data handler hdlr
    std::vector<uint8_t> bpMinfDinfData;           // the dinf
    std::vector<uint8_t> videoSampleDescription;   // "stbl" + the whole stsd
    std::vector<uint8_t> stts_data;                // the whole video stts
    uint64_t firstVideoSampleDelta = 0;            // delta of the first stts entry
    uint64_t dw_ReffrenceSamplecount = 0;          // video samples (stts count, then stsz count)
    static constexpr size_t kVideoOffsetsTaken = 10;
    std::array<uint64_t, kVideoOffsetsTaken> VideoOffsets{};  // the first chunk offsets
    uint32_t videoOffsetCount = 0;                 // entries of VideoOffsets in use
    uint64_t stco_Address_Video_first_chunk_sizetojump = 0;  // the last of those offsets

    // --- sound track ---------------------------------------------------------------
    std::vector<uint8_t> bpMdhdAudioDataStore;
    std::vector<uint8_t> bpHdlrAudioDataStore;
    std::vector<uint8_t> bpAudioMingSmhdDataStore;  // "minf" + the smhd
    std::vector<uint8_t> bpAudioMinfHdlrData;
    std::vector<uint8_t> bpAudioMinfDinfData;
    std::vector<uint8_t> Audio_stsd_data;           // "stbl" + the whole audio stsd
    uint64_t mdhdAudioTimeScale = 0;
    uint64_t Audio_duratonFPS = 0;
    uint64_t dw_ReffrenceSamplecountAudio = 0;
    uint64_t Size_ofAudiochunk = 0;                 // audio samples per chunk (first stsc entry)
    uint64_t stco_Address_Audio_sizetojump = 0;     // the first typical audio chunk
    uint64_t stco_Address_Audio_second_sizetojump = 0;
    uint64_t sizeAudio = 0;                         // bytes from an audio chunk to the next video chunk

    // The reference's first AAC frames, for the scans that meet raw AAC: how
    // a frame of this camera begins, and how long its frames are. Empty
    // unless the audio is AAC.
    struct AacFrames {
        static constexpr size_t kFramesRead = 100;
        AacStartModel starts;
        uint64_t shortest = 0;
        uint64_t longest = 0;
        bool learned() const { return starts.learned(); }
        bool startsAt(const uint8_t* a) const { return starts.accepts(a); }
    };
    AacFrames aacFrames;

    // What a repaired header cannot do without: the video track header, its
    // time-to-sample table and its sample description.
    bool holdsVideoHeader() const;
};

// The second walk over the reference: takes the templates, and the codec,
// NAL tag and audio signature decisions at their points of the walk. False
// when the user stopped the repair.
bool takeReferenceTemplates(StageContext& ctx, ReferenceAnalysis& analysis, ReferenceTemplates& templates);

}  // namespace arbel

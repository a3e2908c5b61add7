#pragma once

#include "camera_flags.h"
#include "stage_context.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace arbel {

struct ReferenceTemplates;

// How the damaged file's media data will be scanned.
enum class ScanPath {
    Refuse,   // neither MJPEG nor H.264 recognised: "Can not repair this file.."
    Mjpeg,    // JPEG frames in groups of fifteen with audio between the groups
    Variant,  // the generic scan "1" or one of the camera variants
};

// What the reference tells about the camera and its codecs: the camera and
// audio signature flags, the codec decisions and the NAL header pair that
// starts the camera's frames. Made by the signature walk and at points of
// the template walk; read by the scans and the writers.
struct ReferenceAnalysis {
    CameraFlags flags;
    uint8_t AVC_Codec_Present = 0;
    uint8_t Mjpeg_code_present = 0;
    std::array<uint8_t, 4> codecinformation{};        // video format code, last byte first
    std::array<uint8_t, 4> AudiocodecInforamtion{};   // audio format code (see decideAudioCodec)
    std::string videoCodecText;                        // as reported under "video"
    std::string audioCodecText;                        // as reported under "audio"
    uint8_t mp4aPresent = 0;                           // the audio is AAC
    uint8_t wave = 0;                                  // the audio description holds a "wave" atom
    std::vector<uint8_t> b_finding_Tag;                // 700 (or 70) bytes of a reference video chunk
    int32_t tag = 0;                                   // offset in b_finding_Tag of the tag pair
    std::array<uint8_t, 2> tagPair{};                  // the two bytes at `tag`
    uint8_t Tag_2588_Present = 0;
    uint8_t Tag_6588_Present = 0;
    uint8_t bIsStopMotionFile = 0;
    std::array<uint8_t, 10> buffer_for_Address_Video_first_chunk{};

    // --- decisions taken at points of the template walk ----------------------
    void decideFtypCodec(const uint8_t* compatibleBrand);
    std::string decideVideoCodec(const uint8_t* formatCode);
    std::string decideAudioCodec(const uint8_t* formatCode);
    // "mp4a" and "wave" in the reference's audio sample description.
    void searchAudioDescription(const std::vector<uint8_t>& audioDescription);
    // True when MJPEG or AVC was recognised in the probed first video chunk.
    bool classifyProbedChunkHeader();
    void canonModelComparison(const std::string& modelText);

    ScanPath decideScanPath() const;
    bool tagPairIs(uint8_t first, uint8_t second) const { return tagPair[0] == first && tagPair[1] == second; }
};

// The signature walk over the top-level atoms, the movie atom and its user
// data, then (when nothing was recognised) the camera XML at the end of the
// file. False when the user stopped the repair.
bool signatureWalk(StageContext& ctx, ReferenceAnalysis& analysis);
void tailScan(StageContext& ctx, ReferenceAnalysis& analysis);

// The NAL header pair of the reference's first video chunks.
void classifyNalTags(const FileReader& reference, const ReferenceTemplates& templates, ReferenceAnalysis& analysis);
// The first bytes of the reference's first two audio chunks (and the damaged
// file's brand, which tells two layouts with the same bytes apart).
void classifyAudioSignatures(const FileReader& reference, const FileReader& damaged,
                             const ReferenceTemplates& templates, ReferenceAnalysis& analysis);

}  // namespace arbel

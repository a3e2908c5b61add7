#pragma once

#include "camera_flags.h"
#include "engine/engine_reporter.h"
#include "platform/file_reader.h"
#include "platform/output_writer.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

namespace arbel {

// How the damaged file's media data will be scanned.
enum class ScanPath {
    Refuse,   // neither MJPEG nor H.264 recognised: "Can not repair this file.."
    Mjpeg,    // JPEG frames in groups of fifteen with audio between the groups
    Variant,  // the generic scan "1" or one of the camera variants
};

// The QuickTime-family repair engine. One object serves one repair: the
// controller creates it, runs the two validity checks on the main thread and
// then repairMOV() on a worker thread. It reports only through the progress
// notification. The stages live in one source file each:
//   validity_checks.cpp       byte readers, the two checks, life cycle
//   reference_analysis.cpp    signature walk, model names, tail scan, codec,
//                             NAL tag and audio signature decisions, path choice
//   reference_templates.cpp   the header atoms taken from the reference
//   media_scan.cpp ...        the scans of the damaged file (scan_*.cpp)
//   movie_atom.cpp            sample tables, timing and the new movie atom
//   repaired_file_writer.cpp  the final phase and its reports
//   repair_mov.cpp            the stages in order
class RepairFile {
public:
    RepairFile();
    ~RepairFile();
    RepairFile(const RepairFile&) = delete;
    RepairFile& operator=(const RepairFile&) = delete;

    // --- small services -------------------------------------------------
    static uint16_t twoByteRead(const uint8_t* bytes);
    static uint64_t fourByteRead(const uint8_t* bytes);
    static int64_t eightByteRead(const uint8_t* bytes);

    void setBundleIdentifierString(const std::string& identifier) { bundleIdentifierString_ = identifier; }
    const std::string& bundleIdentifierString() const { return bundleIdentifierString_; }

    void setPauseRepairing(bool pause);
    bool pauseRepairing() const { return pauseRepairing_.load(std::memory_order_relaxed); }
    const std::atomic<bool>& pauseFlag() const { return pauseRepairing_; }

    // Where the engine's notifications go (the default centre unless a test
    // or front end says otherwise).
    void setNotificationCenter(NotificationCenter* center) { reporter.setCenter(center); }

    // --- checks (main thread) ---------------------------------------------
    // The reference must hold both a "moov" and an "mdat" atom header.
    bool referencefileValidityCheck();
    // The damaged file must hold "ftyp", "moov" or "mdat" somewhere.
    bool corruptedfileValidityCheck();

    // --- the repair (worker thread) ---------------------------------------
    void repairMOV();

    // --- stages, in the order repairMOV runs them ---------------------------
    // Each answers false when the user stopped the repair (nothing more is
    // done then, and nothing is reported).
    void resetForRepair();                 // entry: zeroes the state, opens both files
    bool signatureWalk();                  // camera signatures, moov/udta scans, tail scan
    bool takeReferenceTemplates();         // header templates, codec/NAL/audio decisions
    bool createTemporaryResult();          // the result file (false: could not create it)
    ScanPath decideScanPath() const;
    bool runMjpegScan();
    bool runVariantScan();                 // scan set-up, dispatch, the chosen variant
    void finishGeneralPath();              // final phase after every variant
    void finishMjpegPath();                // final phase after the MJPEG scan
    bool runFullFramePass();               // full-size raw frames left after the scan (false: stopped)

    // Helpers of the reference analysis, called at points of the template walk.
    void tailScan();
    void canonModelComparison(const std::string& modelText);
    void decideFtypCodec(const uint8_t* compatibleBrand);
    std::string decideVideoCodec(const uint8_t* formatCode);
    std::string decideAudioCodec(const uint8_t* formatCode);
    void searchAudioDescription();
    void classifyNalTags();
    void classifyAudioSignatures();
    bool classifyProbedChunkHeader();      // true when MJPEG or AVC was recognised

    // --- session values copied when the engine is made ---------------------
    // A worker never reads a path the main thread may be changing.
    std::string corruptFilePath;
    uint64_t corruptFileSize = 0;
    std::string referenceFilePath;
    uint64_t referenceFileSize = 0;

    // When set, the result is written here instead of the hidden temporary
    // file of the product folder (the command line writes NAME.partial
    // beside the destination and renames it when the repair completes).
    std::string resultPathOverride;
    std::string temporaryResultPath;       // where this repair writes its result

    // --- validity checks ----------------------------------------------------
    FileReader inputfilehandle;            // damaged file
    FileReader referencefilehandle;        // reference file
    bool validitycheck = false;
    uint32_t mod = 0;
    uint32_t sector = 0;
    uint64_t currentoffset = 0;
    bool moovatomfound = false;
    bool mdatatomfound = false;

    // --- reference analysis -------------------------------------------------
    CameraFlags flags;
    uint64_t temBufferSize = 65536;
    uint64_t dwBufferSize = 65536;
    uint64_t ullBytesTraversed = 0;
    uint64_t R_liullbytesmoved = 0;
    uint8_t AVC_Codec_Present = 0;
    uint8_t Mjpeg_code_present = 0;
    std::array<uint8_t, 4> video_Header_ofmjpeg{};
    std::array<uint8_t, 2> video_Header_ofAvc1{};
    std::array<uint8_t, 4> codecinformation{};        // video format code, last byte first
    std::array<uint8_t, 4> AudiocodecInforamtion{};   // audio format code (see decideAudioCodec)
    std::string videoCodecText;                        // as reported under "video"
    std::string audioCodecText;                        // as reported under "audio"
    uint8_t mp4aPresent = 0;
    uint8_t wave = 0;
    uint8_t waveforvalidation = 0;
    std::vector<uint8_t> b_finding_Tag;                // 700 (or 70) bytes of a reference video chunk
    int32_t tag = 0;                                   // offset in b_finding_Tag of the tag pair
    std::array<uint8_t, 2> tagPair{};                  // the two bytes at `tag`
    uint8_t Tag_2588_Present = 0;
    uint8_t Tag_6588_Present = 0;
    uint8_t bIsStopMotionFile = 0;
    std::array<uint8_t, 10> buffer_for_Address_Video_first_chunk{};
    std::array<uint64_t, 1024> VideoOffsets{};
    uint32_t videoOffsetCount = 0;                     // entries of VideoOffsets in use
    bool damagedFileIsIsom = false;                    // brand "isom" at offset 8 of the damaged file

    // --- reference header templates ----------------------------------------
    uint64_t sizeofFtyp = 0;
    uint64_t sizeofmdat = 0;
    uint64_t whloesizeofmdat = 0;
    uint8_t its_A_morethen_4GB_FILE = 0;
    uint64_t moovatomSize = 0;
    uint8_t Movfileisvalid = 0;
    uint64_t udatawholesize = 0;
    uint64_t mvhd_timescale = 0;
    uint64_t duratonFPS = 0;
    std::vector<uint8_t> trak_data;                    // video track header, from its size field on
    uint64_t trak_header_size = 0;
    std::vector<uint8_t> TempBufferMdhd;               // bytes read from the start of an mdhd
    uint64_t lMovetoMdhd = 0;
    uint64_t dSizeOfAtoms = 0;
    // Video media pieces (empty = not taken) and their sizes.
    std::vector<uint8_t> bpMdhdDataStore;              // mdhd, its first size - 8 bytes
    uint64_t dsizeofVideoMdhd = 0;
    std::vector<uint8_t> bpHdlrDataStore;              // 4 bytes before the media hdlr + the hdlr
    uint64_t dsizeOfVideoHdlr = 0;
    std::vector<uint8_t> bpMingVmhdDataStore;          // "minf" + the vmhd
    uint64_t dSizeOfMinfVmhd = 0;
    std::vector<uint8_t> bpMinfHdlrData;               // data handler hdlr
    uint64_t dSizeOfMinfHdlr = 0;
    std::vector<uint8_t> bpMinfDinfData;               // dinf
    uint64_t dSizeOfDminf = 0;
    // Audio media pieces.
    std::vector<uint8_t> bpMdhdAudioDataStore;
    uint64_t dSizeOfAudioMdhd = 0;
    std::vector<uint8_t> bpHdlrAudioDataStore;
    uint64_t dSizeOfAudioMdiaHdlr = 0;
    std::vector<uint8_t> bpAudioMingSmhdDataStore;
    uint64_t dSzieOfAudioMinfSmhd = 0;
    std::vector<uint8_t> bpAudioMinfHdlrData;
    uint64_t dSizeOfAudioMinfHdlr = 0;
    std::vector<uint8_t> bpAudioMinfDinfData;
    uint64_t dSizeOfAudioMinfDinf = 0;
    uint64_t mdhdAudioTimeScale = 0;
    uint64_t Audio_duratonFPS = 0;
    // Video sample description: "stbl" + the whole stsd. Its length is kept
    // apart from whloesizeofstsd, which the scans reuse for frame lengths.
    std::vector<uint8_t> videoSampleDescription;
    uint64_t videoSampleDescriptionLength = 0;
    uint64_t whloesizeofstsd = 0;
    std::vector<uint8_t> stts_data;                    // the whole video stts
    uint64_t wholesizeofstts = 0;
    uint64_t firstVideoSampleDelta = 0;                // delta of the first stts entry
    uint64_t dw_ReffrenceSamplecount = 0;
    uint64_t Numberofsample_inChunck = 0;
    uint64_t stco_Address_Video_first_chunk_sizetojump = 0;
    uint64_t stco_Address_Video_second_chunk_sizetojump = 0;
    std::array<uint8_t, 4> Address_Video_first_chunk{};
    uint64_t Audiosizeosstsd = 0;
    std::vector<uint8_t> Audio_stsd_data;              // "stbl" + the whole audio stsd
    uint64_t AudiostsdAtomdata = 0;
    uint64_t Size_ofAudiochunk = 0;
    uint64_t dw_ReffrenceSamplecountAudio = 0;
    uint64_t stco_Address_Audio_sizetojump = 0;
    uint64_t stco_Address_Audio_second_sizetojump = 0;
    std::array<uint8_t, 4> Address_Audio_first_chunk{};
    uint64_t sizeAudio = 0;
    bool stbl_stsdpresent = false;
    bool forothercheck = false;
    bool bMdhdDataOfVideo = false;
    bool bMdiaHdlrPresent = false;

    // --- scan of the damaged file ------------------------------------------
    // Sample tables grow with the recording.
    std::vector<uint64_t> video_buffer_start;
    std::vector<uint64_t> video_buffer_size;
    std::vector<uint64_t> Audio_buffer_start;
    std::vector<uint64_t> Audio_buffer_size;
    uint64_t sample_count = 0;
    uint64_t Avc_audioCount = 0;
    uint64_t Sum_video = 0;
    uint64_t sum_audio = 0;
    int64_t offset = 0;
    uint64_t li_W_BytesTraversed = 0;
    uint64_t liBytesTraversed = 0;
    uint64_t ullByteswritten = 0;
    uint64_t tempullbyteTravesd = 0;
    uint64_t Avc_videosampleoccur = 0;
    uint8_t bVideo = 0;
    uint64_t fileSize1 = 0;
    uint64_t pointers_To_pointSTCO = 0;
    uint64_t d_sum_n_audio = 0;
    bool bContoorRepair = false;
    std::string scanVariant;                           // marker of the scan taken ("1", "2", "MJPEG", ...)
    // Bytes reserved at the start of the result for the media-data header:
    // 8, or 16 when the 64-bit form will be written.
    uint64_t mediaHeaderSize = 8;
    bool mediaHeaderWritten = false;
    // MJPEG path: frame lengths, result offsets of video and audio chunks.
    std::vector<uint64_t> mjpegFrameLengths;
    std::vector<uint64_t> mjpegVideoChunkOffsets;
    std::vector<uint64_t> mjpegAudioChunkOffsets;
    uint64_t mjpegLeadingAudioSize = 0;                // audio block written at offset 8 before the first frame

    // --- output and what was reported ---------------------------------------
    OutputWriter outputfile;                           // the temporary result
    bool writeFailed = false;
    std::string reportedFps;
    std::string reportedDuration;
    int reportedTracks = 0;

    EngineReporter reporter;

private:
    std::string bundleIdentifierString_;
    std::atomic<bool> pauseRepairing_{false};
};

}  // namespace arbel

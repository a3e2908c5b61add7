#pragma once

#include "engine/engine_reporter.h"
#include "engine/repair_request.h"
#include "platform/file_reader.h"
#include "platform/output_writer.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace arbel {

// The AVI repair engine: no reference is needed. One object serves one
// repair: it is made from a request, and retrieveAudioVideoSamples() returns
// the report. It runs three stages, one source file each:
//   stream_headers.cpp  the header pass over the first 50 KiB
//   chunk_scan.cpp      the scan of the whole file for "00db"/"00dc"/"01wb" chunks
//   riff_writer.cpp     constructRIFFList: a new RIFF file with OpenDML indexes
class RepairFileAvi {
public:
    // Entries per chunk table. Entry 0 is never used, so a stream holds at
    // most kChunkTableEntries - 1 chunks.
    static constexpr uint64_t kChunkTableEntries = 1048576;
    // Largest stream format chunk taken over from a damaged file.
    static constexpr uint64_t kMaxStreamFormatSize = 64 * 1024;
    // A damaged file must be larger than this to be worth repairing.
    static constexpr uint64_t kMinRepairableSize = 524288;
    // Largest chunk data size the scan believes.
    static constexpr uint64_t kMaxChunkSize = 9999999;
    // Every size and offset of one RIFF list is a 32-bit field: a list stays below 4 GiB.
    static constexpr uint64_t kResultSizeLimit = 1ull << 32;
    // Room kept below that limit for the headers and indexes.
    static constexpr uint64_t kHeaderRoom = 1ull << 20;
    // A result whose chunks do not fit one list below kResultSizeLimit is
    // written as a "RIFF AVI " list and "RIFF AVIX" lists, each holding about
    // this many bytes of chunks, as recorders and muxers write them.
    static constexpr uint64_t kExtendedListBytes = 1ull << 30;
    // The header pass looks at this many sectors.
    static constexpr uint64_t kHeaderSectors = 50;

    using FourCC = std::array<uint8_t, 4>;

    explicit RepairFileAvi(RepairRequest request);
    ~RepairFileAvi();
    RepairFileAvi(const RepairFileAvi&) = delete;
    RepairFileAvi& operator=(const RepairFileAvi&) = delete;

    // Little-endian, unsigned (the QuickTime engine's reader is big-endian).
    static uint64_t fourByteRead(const uint8_t* bytes);

    // A handler code as text: stops at the first zero byte; bytes that are
    // not printable ASCII become '?', so the text is always valid UTF-8.
    static std::string codecText(const FourCC& code);

    // True when an AVI structure code occurs in the first 10 KiB.
    bool fileValidityCheck();

    // The repair (worker thread). Tells every outcome by notification and
    // returns the report.
    RepairReport retrieveAudioVideoSamples();

    // Stages, public so that each can be driven on its own.
    void readStreamHeaders();
    bool streamHeadersUsable() const;
    void scanForChunks();
    void constructRIFFList();

    void setPauseRepairingAVI(bool pause) { request_.control->setPaused(pause); }
    bool pauseRepairingAVI() const { return request_.control->paused(); }
    const RepairRequest& request() const { return request_; }
    const EngineReporter& reporter() const { return reporter_; }

    // Where the result goes: the request's path, else the hidden temporary file.
    std::string resultPath() const;

    // The damaged file's size as chosen.
    uint64_t corruptFileSizeCopy = 0;

    FileReader inputfilehandle;
    bool validitycheck = false;
    bool db = false;
    uint32_t buffersize = 1024;
    uint32_t mod = 0;
    uint64_t numberofsectors = 0;
    uint64_t sector = 0;

    bool audiocodecfound = false;
    bool videocodecfound = false;
    bool audiostrfcodecfound = false;
    bool videostrfcodecfound = false;
    bool avihscaleratedatafound = false;

    // Pieces of the main header and the stream headers, kept for the writer.
    std::array<uint8_t, 20> avihdata1{};
    std::array<uint8_t, 36> avihdata2{};
    FourCC videocodec{};
    std::string videocodecstring;
    std::array<uint8_t, 8> videoscaleratedata{};
    FourCC videoscaledata{};
    uint64_t videostrfsize = 0;
    std::vector<uint8_t> videostrfdata;
    FourCC videostrfcodecdata{};
    FourCC audiocodec{};
    std::string AVIaudiocodecstring;
    std::string audiocodecstring;
    std::array<uint8_t, 8> audioscaleratedata{};
    FourCC audioscaledata{};
    uint64_t audiostrfsize = 0;
    std::vector<uint8_t> audiostrfdata;
    FourCC audiostrfcodecdata{};
    // A stream format size that does not fit (over 64 KiB or past the end of
    // the file) was met last: its data was not read and the file is refused.
    bool videostrfsizeoutofbounds = false;
    bool audiostrfsizeoutofbounds = false;

    // Chunk tables, used from index 1: entry k describes the k-th chunk found.
    std::vector<uint64_t> videosamplesizearray{0};
    std::vector<uint64_t> videosampleoffsetarray{0};
    std::vector<uint64_t> audiosamplesizearray{0};
    std::vector<uint64_t> audiosampleoffsetarray{0};
    uint64_t videosamplecount = 0;
    uint64_t audiosamplecount = 0;
    uint64_t videosamplesize = 0;
    bool videotablefull = false;
    bool audiotablefull = false;

    // Chunk data of each stream (headers excluded), and every chunk byte
    // (headers included) copied into the result.
    uint64_t videodatasize = 0;
    uint64_t audiodatasize = 0;
    uint64_t bytesCopied = 0;

    OutputWriter outputfile;

    // The limits the writer splits by (lowered by the tests to split small files).
    uint64_t singleListLimit = kResultSizeLimit - kHeaderRoom;
    uint64_t extendedListBytes = kExtendedListBytes;

    // The chunks of one RIFF list of the result, as ranges of the tables
    // (entries [videoBegin, videoEnd) and [audioBegin, audioEnd)).
    struct RiffPart {
        uint64_t videoBegin = 1, videoEnd = 1;
        uint64_t audioBegin = 1, audioEnd = 1;
    };
    // One part when every chunk and index entry fits below singleListLimit;
    // otherwise parts of at most extendedListBytes of chunks and index
    // entries each (a larger chunk gets a part of its own), the chunks taken
    // in the order the damaged file holds them so each part covers one
    // stretch of the recording.
    std::vector<RiffPart> planRiffParts() const;

private:
    // One poll point: sleeps while paused; true when the user stopped.
    bool pollPoint() const { return request_.control->poll(); }
    bool stopRequested() const { return request_.control->stopRequested(); }
    // The refusal outcome, unless the user stopped (then nothing is said).
    void refuseRepair(RepairOutcome outcome, const std::string& reason);

    void readVideoStreamHeader(uint64_t at);
    void readAudioStreamHeader(uint64_t at);
    void readMainHeader(uint64_t at);
    void recordChunk(bool video, uint64_t offset, uint64_t size);
    void discardResult(const std::string& path);

    RepairRequest request_;
    EngineReporter reporter_;
    RepairReport report_;
};

}  // namespace arbel

#pragma once

// Camera-like QuickTime recordings for the end-to-end tests, the samples and
// the benchmark. Elementary streams come from ffmpeg (cached on disk, keyed
// by their parameters); every atom of the container is written here, the way
// cameras lay their files out: media interleaved unit by unit, fixed-size
// audio chunks, header atoms at the end.

#include "aac_frames.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace arbel::test {

using ByteString = std::vector<uint8_t>;

// ---------------------------------------------------------------------------
// Running programs (no shell).

struct ProgramRun {
    int exitCode = -1;      // -1: could not be started or did not exit normally
    std::string output;     // stdout and stderr together
};
ProgramRun runProgram(const std::vector<std::string>& argv);
bool programAvailable(const std::string& name);

// ---------------------------------------------------------------------------
// Elementary streams.

struct VideoStream {
    std::string format;                 // sample-entry code: "avc1" or "jpeg"
    uint16_t width = 0;
    uint16_t height = 0;
    uint32_t fps = 30;
    ByteString sps, pps;                // H.264 parameter sets (no start code)
    // Stored sample bytes: the length-prefixed NAL units of one access unit,
    // or one JPEG.
    std::vector<ByteString> frames;
    std::vector<bool> keyframes;
};

enum class AudioCodec { Sowt, In24, Ulaw, Aac };

struct AudioStream {
    AudioCodec codec = AudioCodec::Sowt;
    uint32_t sampleRate = 48000;
    uint16_t channels = 2;
    // PCM: a version-1 sound description with a "wave" extension
    // (frma + enda), as some cameras write for their PCM tracks.
    bool waveExtension = false;
    ByteString pcm;                     // PCM codecs: interleaved samples
    std::vector<ByteString> aacFrames;  // AAC: raw frames, 1,024 samples each
    ByteString audioSpecificConfig;     // AAC

    uint32_t bytesPerFrame() const;     // PCM bytes of one sample of all channels
};

// How ffmpeg encodes AAC. The bandwidth decides max_sfb of the long blocks
// and with it the third byte of a mono frame (the second of a stereo one).
struct AacEncoding {
    uint32_t bitRate = 128000;
    uint32_t cutoffHz = 20000;
};

// What a camera puts into each H.264 access unit besides one slice.
struct H264Units {
    uint32_t slicesPerFrame = 1;   // x264 slices
    bool headersPerIdr = false;    // SPS and PPS in front of every IDR slice
    bool userDataSei = false;      // a user-data SEI (payload type 5) in front of every frame
    bool delimiters = false;       // x264's access-unit delimiters (09 10 for I, 09 30 for P pictures)
};

// Where encoded clips are kept between runs.
class ClipCache {
public:
    explicit ClipCache(std::string folder);
    const std::string& folder() const { return folder_; }

    // libx264 without B-frames, SEI dropped, IDR every `gop` frames. The
    // content starts `firstFrame` frames into the test pattern, so two clips
    // of the same settings differ in picture but share SPS and PPS.
    // cabac = false encodes CAVLC (needed to rewrite slice types).
    std::optional<VideoStream> h264(uint16_t width, uint16_t height, uint32_t fps, uint32_t frames,
                                    uint32_t firstFrame, uint32_t gop, bool cabac, std::string& error,
                                    const H264Units& units = {});
    // Baseline JPEG frames (4:2:0, standard Huffman tables, luma and chroma
    // quantisation tables both written), rewritten so that the start of scan
    // sits at offset 581: SOI, DQT, SOF0, DHT, DRI, SOS.
    std::optional<VideoStream> mjpeg(uint16_t width, uint16_t height, uint32_t fps, uint32_t frames,
                                     uint32_t firstFrame, std::string& error);
    // A tone (plus noise for AAC) of the given length.
    std::optional<AudioStream> audio(AudioCodec codec, uint32_t sampleRate, uint16_t channels,
                                     double seconds, uint32_t toneHz, std::string& error,
                                     const AacEncoding& aac = {});

    // What ffmpeg writes for these arguments (the output format named with -f),
    // made once and kept.
    std::optional<ByteString> encoded(const std::vector<std::string>& ffmpegArgs, const std::string& suffix,
                                      std::string& error);

private:
    std::string folder_;
};

// ---------------------------------------------------------------------------
// Rewrites of H.264 units that leave the pictures as they were.

// Calls `unit` for each NAL unit (without its length prefix) of a stored
// sample; the unit may be changed in place but keeps its length.
void forEachUnit(ByteString& sample, const std::function<void(uint8_t* unit, size_t length)>& unit);

// Splits an Annex B stream into NAL units (without start codes).
std::vector<ByteString> splitAnnexB(const ByteString& stream);
// Emulation prevention removed / added.
ByteString nalToRbsp(const ByteString& nal);
ByteString rbspToNal(const ByteString& rbsp);
// An IDR or I slice whose slice_type is 7 ("all slices I") written as 2
// (plain I slice). CAVLC only: the bits after the field are moved up, the
// trailing bits rebuilt. Answers nullopt when the unit is not such a slice.
std::optional<ByteString> rewriteSliceTypeSevenToTwo(const ByteString& nal);
// Reads first_mb_in_slice and slice_type of a slice unit (for tests).
std::optional<uint32_t> sliceTypeOf(const ByteString& nal);

// JPEG marker segments rewritten: APPn and COM dropped, all quantisation
// tables in one DQT, all Huffman tables in one DHT, then DRI, then SOS and
// the entropy-coded data untouched. nullopt when the image is not baseline.
std::optional<ByteString> rewriteJpegHeader(const ByteString& jpeg);

// ---------------------------------------------------------------------------
// Layout.

enum class Brand { QuickTime, Isom };

struct NalHeaders {
    uint8_t idr = 0x65;   // first byte of IDR units (nal_ref_idc may change freely)
    uint8_t p = 0x41;     // first byte of P slices
    bool idrSliceTypeTwo = false;  // IDR slices written with slice_type 2 (B8 after the header)
};

struct LayoutOptions {
    Brand brand = Brand::QuickTime;
    uint32_t framesPerVideoChunk = 1;
    bool audioFirst = false;             // each audio chunk comes before its video chunk
    std::string cameraModel;             // written in udta when not empty
    std::string headerText;              // not empty: a free box after ftyp puts it at headerTextAt
    uint64_t headerTextAt = 0;
    uint32_t movieTimescale = 30000;
    NalHeaders nal;
    AacRewrite aac;                      // applied to every AAC frame that allows it
};

struct UnitPlace {
    uint64_t offset = 0;
    uint64_t size = 0;
};

struct CameraFile {
    ByteString bytes;
    std::vector<UnitPlace> videoFrames;      // one per frame
    std::vector<UnitPlace> audioChunks;      // one per chunk as the tables list them
    std::vector<UnitPlace> audioUnits;       // AAC: one per frame; PCM: same as the chunks
    uint64_t mdatOffset = 0;
    uint64_t moovOffset = 0;
};

// Applies the NAL header rewrites of `nal` to the frames (copy).
VideoStream withNalHeaders(const VideoStream& video, const NalHeaders& nal);
// Applies `rewrite` to the AAC frames (copy); PCM streams are returned as they are.
AudioStream withAacRewrite(const AudioStream& audio, const AacRewrite& rewrite);

// Lays video and audio out as a camera does: ftyp, mdat with one audio chunk
// per video chunk, moov with full sample tables (and udta with the model).
CameraFile layOutCameraFile(const VideoStream& video, const AudioStream& audio, const LayoutOptions& options);

// A reference and a longer recording of the same camera.
struct CameraRecording {
    CameraFile reference;
    CameraFile original;
};

// A camera that writes one chunk of sound after every frame from the first
// byte on: H.264 320x240 at 25 fps with IDR 25 88 and P 21 9A/9B headers,
// and 16-bit stereo PCM ("sowt", no "wave") in chunks of 1/25 s.
std::optional<CameraRecording> frameAndChunkRecording(ClipCache& cache, std::string& error);

// A camera of one family that the scan serves, by what its recordings hold:
// the NAL header bytes and units of its frames, its model text, its sound.
// Two clips of its settings (a reference of 120 frames and a recording of
// 240, 30 fps, IDR every second) make a CameraRecording.
struct CameraSettings {
    std::string name;
    std::vector<std::string> markers;  // the scan rows that read it
    H264Units units;
    NalHeaders nal;
    bool cabac = true;                 // false where slice types are rewritten
    std::string model;
    std::string headerText;            // as LayoutOptions has it
    uint64_t headerTextAt = 0;
    Brand brand = Brand::QuickTime;
    bool aac = false;                  // AAC, or 16-bit PCM
    uint32_t sampleRate = 48000;
    uint16_t channels = 2;
    AacEncoding encoding;
    AacRewrite rewrite;
    uint32_t framesPerChunk = 1;
    uint16_t width = 320, height = 240;
};
const std::vector<CameraSettings>& cameraFamilies();
const CameraSettings* cameraFamily(const std::string& name);
std::optional<CameraRecording> cameraRecording(ClipCache& cache, const CameraSettings& camera, std::string& error);

// ---------------------------------------------------------------------------
// Damage, and what survived it.

struct Survivors {
    std::vector<size_t> videoFrames;  // indexes of frames whose bytes are intact
    std::vector<size_t> audioUnits;   // indexes of audio units whose bytes are intact
    uint64_t audioBytes = 0;
};

// The recording stopped at `cutAt` (inside the media data): no movie atom;
// the media-data size field was never filled in (0).
ByteString truncatedRecording(const CameraFile& file, uint64_t cutAt);
// The first `count` bytes are lost (zero); the movie atom at the end stays.
ByteString headerZeroed(const CameraFile& file, uint64_t count);
// Bytes [from, to) overwritten with a pattern; no movie atom.
ByteString mediaOverwritten(const CameraFile& file, uint64_t from, uint64_t to);

Survivors survivorsOf(const CameraFile& file, const ByteString& damaged);

// ---------------------------------------------------------------------------
// Reading a QuickTime file's tables back.

struct TrackUnits {
    std::string handler;        // "vide", "soun"
    std::string format;         // sample-entry code
    std::vector<UnitPlace> units;  // samples; PCM: one unit per chunk
};

// Walks moov and answers each track's units (bounded: a malformed file gives
// what could be read and an error text).
std::vector<TrackUnits> readTracks(const std::string& path, std::string& error);

// How many of `units` (read from `path`) are byte-equal to one of the
// expected units of `original` (distinct originals counted once), and how
// many are not equal to any.
struct UnitMatch {
    size_t matchedOriginals = 0;
    size_t foreign = 0;
};
UnitMatch matchUnits(const std::string& path, const std::vector<UnitPlace>& units, const ByteString& original,
                     const std::vector<UnitPlace>& originalUnits, const std::vector<size_t>& wanted);

}  // namespace arbel::test

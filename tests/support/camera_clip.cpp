#include "camera_clip.h"

#include "platform/file_reader.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace arbel::test {
namespace {

// ---------------------------------------------------------------------------
// Small byte helpers.

void put16(ByteString& b, uint32_t v) {
    b.push_back(static_cast<uint8_t>(v >> 8));
    b.push_back(static_cast<uint8_t>(v));
}
void put32(ByteString& b, uint32_t v) {
    put16(b, v >> 16);
    put16(b, v & 0xFFFF);
}
void putText(ByteString& b, const std::string& s) { b.insert(b.end(), s.begin(), s.end()); }
void putBytes(ByteString& b, const ByteString& s) { b.insert(b.end(), s.begin(), s.end()); }
void putZeros(ByteString& b, size_t n) { b.insert(b.end(), n, 0); }

ByteString box(const std::string& type, const ByteString& payload) {
    ByteString b;
    put32(b, static_cast<uint32_t>(payload.size() + 8));
    putText(b, type);
    putBytes(b, payload);
    return b;
}
ByteString fullBox(const std::string& type, uint32_t versionAndFlags, const ByteString& payload) {
    ByteString p;
    put32(p, versionAndFlags);
    putBytes(p, payload);
    return box(type, p);
}
ByteString concat(std::initializer_list<ByteString> parts) {
    ByteString b;
    for (const auto& p : parts) putBytes(b, p);
    return b;
}

uint32_t rd32(const uint8_t* p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}

uint64_t fnv1a(const std::string& s) {
    uint64_t h = 1469598103934665603ull;
    for (unsigned char c : s) {
        h ^= c;
        h *= 1099511628211ull;
    }
    return h;
}

std::optional<ByteString> readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    return ByteString(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// ---------------------------------------------------------------------------
// Bit access for H.264 slice headers.

class BitReader {
public:
    BitReader(const ByteString& bytes, size_t startByte) : bytes_(bytes), pos_(startByte * 8) {}
    bool more() const { return pos_ < bytes_.size() * 8; }
    int bit() {
        if (!more()) return -1;
        int b = (bytes_[pos_ / 8] >> (7 - pos_ % 8)) & 1;
        ++pos_;
        return b;
    }
    std::optional<uint32_t> ue() {
        int zeros = 0;
        for (;;) {
            int b = bit();
            if (b < 0 || zeros > 31) return std::nullopt;
            if (b == 1) break;
            ++zeros;
        }
        uint32_t value = 0;
        for (int i = 0; i < zeros; ++i) {
            int b = bit();
            if (b < 0) return std::nullopt;
            value = (value << 1) | static_cast<uint32_t>(b);
        }
        return (1u << zeros) - 1 + value;
    }
    size_t position() const { return pos_; }

private:
    const ByteString& bytes_;
    size_t pos_;
};

std::vector<bool> bitsOf(const ByteString& bytes, size_t fromBit, size_t toBit) {
    std::vector<bool> out;
    for (size_t i = fromBit; i < toBit; ++i) out.push_back((bytes[i / 8] >> (7 - i % 8)) & 1);
    return out;
}

// ---------------------------------------------------------------------------
// JPEG frames of an ffmpeg mjpeg stream.

std::vector<ByteString> splitJpegStream(const ByteString& s) {
    std::vector<ByteString> frames;
    size_t i = 0;
    while (i + 4 <= s.size()) {
        if (!(s[i] == 0xFF && s[i + 1] == 0xD8)) {
            ++i;
            continue;
        }
        // Marker segments up to SOS, then entropy-coded data up to EOI.
        size_t p = i + 2;
        bool ok = false;
        while (p + 4 <= s.size() && s[p] == 0xFF) {
            uint8_t m = s[p + 1];
            size_t len = (size_t(s[p + 2]) << 8) | s[p + 3];
            if (len < 2) break;
            p += 2 + len;
            if (m == 0xDA) {
                ok = true;
                break;
            }
        }
        if (!ok) break;
        while (p + 1 < s.size() && !(s[p] == 0xFF && s[p + 1] == 0xD9)) ++p;
        if (p + 1 >= s.size()) break;
        frames.emplace_back(s.begin() + static_cast<long>(i), s.begin() + static_cast<long>(p + 2));
        i = p + 2;
    }
    return frames;
}

}  // namespace

// ---------------------------------------------------------------------------
// Programs.

ProgramRun runProgram(const std::vector<std::string>& argv) {
    ProgramRun run;
    char logName[] = "/tmp/arbel-run-XXXXXX";
    int logFd = mkstemp(logName);
    if (logFd < 0) return run;

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, logFd, 1);
    posix_spawn_file_actions_adddup2(&actions, logFd, 2);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);

    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_t pid = 0;
    int rc = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc == 0) {
        int status = 0;
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        if (WIFEXITED(status)) run.exitCode = WEXITSTATUS(status);
    }
    close(logFd);
    if (auto text = readFile(logName)) run.output.assign(text->begin(), text->end());
    unlink(logName);
    return run;
}

bool programAvailable(const std::string& name) {
    return runProgram({name, "-version"}).exitCode == 0;
}

// ---------------------------------------------------------------------------
// Streams.

uint32_t AudioStream::bytesPerFrame() const {
    switch (codec) {
    case AudioCodec::Sowt: return 2u * channels;
    case AudioCodec::In24: return 3u * channels;
    case AudioCodec::Ulaw: return 1u * channels;
    case AudioCodec::Aac: return 0;
    }
    return 0;
}

ClipCache::ClipCache(std::string folder) : folder_(std::move(folder)) {
    std::error_code ec;
    std::filesystem::create_directories(folder_, ec);
}

std::optional<ByteString> ClipCache::encoded(const std::vector<std::string>& ffmpegArgs, const std::string& suffix,
                                             std::string& error) {
    std::string key;
    for (const auto& a : ffmpegArgs) key += a + '\x1f';
    char name[32];
    std::snprintf(name, sizeof name, "%016llx", static_cast<unsigned long long>(fnv1a(key)));
    const std::string path = folder_ + "/" + name + "." + suffix;
    if (auto cached = readFile(path); cached && !cached->empty()) return cached;

    // Encode beside the final name and rename, so parallel test runs never
    // read a half-written clip.
    const std::string partial = path + ".part" + std::to_string(getpid());
    std::vector<std::string> argv = {"ffmpeg", "-nostdin", "-v", "error", "-y"};
    argv.insert(argv.end(), ffmpegArgs.begin(), ffmpegArgs.end());
    argv.push_back(partial);
    ProgramRun run = runProgram(argv);
    if (run.exitCode != 0) {
        error = "ffmpeg failed (" + std::to_string(run.exitCode) + "): " + run.output;
        unlink(partial.c_str());
        return std::nullopt;
    }
    if (std::rename(partial.c_str(), path.c_str()) != 0) {
        error = "cannot store " + path;
        return std::nullopt;
    }
    return readFile(path);
}

std::optional<VideoStream> ClipCache::h264(uint16_t width, uint16_t height, uint32_t fps, uint32_t frames,
                                           uint32_t firstFrame, uint32_t gop, bool cabac, std::string& error,
                                           const H264Units& units) {
    const std::string size = std::to_string(width) + "x" + std::to_string(height);
    std::string params = "keyint=" + std::to_string(gop) + ":min-keyint=" + std::to_string(gop) +
                         ":scenecut=0:cabac=" + (cabac ? "1" : "0");
    if (units.slicesPerFrame > 1) params += ":slices=" + std::to_string(units.slicesPerFrame);
    if (units.headersPerIdr) params += ":repeat-headers=1";
    if (units.delimiters) params += ":aud=1";
    auto stream = encoded({"-f", "lavfi", "-i", "testsrc2=size=" + size + ":rate=" + std::to_string(fps), "-vf",
                           "trim=start_frame=" + std::to_string(firstFrame) + ",setpts=PTS-STARTPTS", "-frames:v",
                           std::to_string(frames), "-pix_fmt", "yuv420p", "-c:v", "libx264", "-bf", "0", "-threads",
                           "1", "-x264-params", params, "-crf", "30", "-bsf:v", "filter_units=remove_types=6", "-f",
                           "h264"},
                          "h264", error);
    if (!stream) return std::nullopt;

    VideoStream video;
    video.format = "avc1";
    video.width = width;
    video.height = height;
    video.fps = fps;
    // Units are grouped into access units: a new one begins at a parameter
    // set or a slice whose first_mb_in_slice is 0 after a slice.
    ByteString sample;
    bool sliceSeen = false;
    bool idr = false;
    const auto finishFrame = [&] {
        if (!sliceSeen) return;
        if (units.userDataSei) {
            // A camera's per-frame note: payload type 5 (user data
            // unregistered), a 16-byte UUID and the frame number.
            ByteString sei{0x06, 0x05, 20};
            for (int i = 0; i < 16; ++i) sei.push_back(static_cast<uint8_t>(0xA0 + i));
            const std::string number = std::to_string(10000 + video.frames.size() % 10000).substr(1);
            sei.insert(sei.end(), number.begin(), number.end());  // digits: no zero bytes to escape
            sei.push_back(0x80);
            ByteString withSei;
            put32(withSei, static_cast<uint32_t>(sei.size()));
            putBytes(withSei, sei);
            putBytes(withSei, sample);
            sample = std::move(withSei);
        }
        video.frames.push_back(std::move(sample));
        video.keyframes.push_back(idr);
        sample.clear();
        sliceSeen = idr = false;
    };
    for (auto& nal : splitAnnexB(*stream)) {
        if (nal.empty()) continue;
        const int type = nal[0] & 0x1F;
        const bool slice = type == 1 || type == 5;
        if ((type == 7 || type == 8 || type == 9 || (slice && nal.size() > 1 && (nal[1] & 0x80) != 0)) && sliceSeen)
            finishFrame();
        if (type == 7 && video.sps.empty()) video.sps = nal;
        else if (type == 8 && video.pps.empty()) video.pps = nal;
        if ((type == 7 || type == 8) && !units.headersPerIdr) continue;
        if (!slice && type != 7 && type != 8 && !(type == 9 && units.delimiters)) continue;
        sliceSeen = sliceSeen || slice;
        idr = idr || type == 5;
        put32(sample, static_cast<uint32_t>(nal.size()));
        putBytes(sample, nal);
    }
    finishFrame();
    if (video.sps.empty() || video.pps.empty() || video.frames.size() != frames) {
        error = "unexpected H.264 stream: " + std::to_string(video.frames.size()) + " frames";
        return std::nullopt;
    }
    return video;
}

std::optional<VideoStream> ClipCache::mjpeg(uint16_t width, uint16_t height, uint32_t fps, uint32_t frames,
                                            uint32_t firstFrame, std::string& error) {
    const std::string size = std::to_string(width) + "x" + std::to_string(height);
    auto stream = encoded({"-f", "lavfi", "-i", "testsrc2=size=" + size + ":rate=" + std::to_string(fps), "-vf",
                           "trim=start_frame=" + std::to_string(firstFrame) + ",setpts=PTS-STARTPTS", "-frames:v",
                           std::to_string(frames), "-pix_fmt", "yuvj420p", "-c:v", "mjpeg", "-huffman", "default",
                           "-force_duplicated_matrix", "1", "-q:v", "8", "-threads", "1", "-f", "mjpeg"},
                          "mjpeg", error);
    if (!stream) return std::nullopt;
    VideoStream video;
    video.format = "jpeg";
    video.width = width;
    video.height = height;
    video.fps = fps;
    for (const auto& jpeg : splitJpegStream(*stream)) {
        auto rewritten = rewriteJpegHeader(jpeg);
        if (!rewritten) {
            error = "a JPEG frame is not baseline";
            return std::nullopt;
        }
        video.frames.push_back(std::move(*rewritten));
        video.keyframes.push_back(true);
    }
    if (video.frames.size() != frames) {
        error = "unexpected MJPEG stream: " + std::to_string(video.frames.size()) + " frames";
        return std::nullopt;
    }
    return video;
}

std::optional<AudioStream> ClipCache::audio(AudioCodec codec, uint32_t sampleRate, uint16_t channels, double seconds,
                                            uint32_t toneHz, std::string& error, const AacEncoding& aac) {
    AudioStream audio;
    audio.codec = codec;
    audio.sampleRate = sampleRate;
    audio.channels = channels;
    char duration[32];
    std::snprintf(duration, sizeof duration, "%.3f", seconds);
    const std::string rate = std::to_string(sampleRate);
    const std::string tone = "sine=frequency=" + std::to_string(toneHz) + ":sample_rate=" + rate;

    if (codec == AudioCodec::Aac) {
        auto adts = encoded({"-f", "lavfi", "-i", "anoisesrc=color=pink:amplitude=0.1:seed=7:sample_rate=" + rate,
                             "-f", "lavfi", "-i", tone, "-filter_complex", "[0][1]amix=inputs=2", "-t", duration,
                             "-ac", std::to_string(channels), "-c:a", "aac", "-b:a",
                             std::to_string(aac.bitRate / 1000) + "k", "-cutoff", std::to_string(aac.cutoffHz), "-f",
                             "adts"},
                            "aac", error);
        if (!adts) return std::nullopt;
        size_t i = 0;
        while (i + 7 <= adts->size()) {
            const uint8_t* h = adts->data() + i;
            if (h[0] != 0xFF || (h[1] & 0xF0) != 0xF0) {
                error = "broken ADTS stream";
                return std::nullopt;
            }
            const size_t headerLen = (h[1] & 1) ? 7 : 9;
            const size_t frameLen = ((h[3] & 3u) << 11) | (size_t(h[4]) << 3) | (h[5] >> 5);
            if (frameLen < headerLen || i + frameLen > adts->size()) break;
            if (audio.audioSpecificConfig.empty()) {
                const uint32_t objectType = ((h[2] >> 6) & 3u) + 1;
                const uint32_t frequencyIndex = (h[2] >> 2) & 0xFu;
                const uint32_t channelConfig = ((h[2] & 1u) << 2) | (h[3] >> 6);
                const uint32_t asc = (objectType << 11) | (frequencyIndex << 7) | (channelConfig << 3);
                put16(audio.audioSpecificConfig, asc);
            }
            audio.aacFrames.emplace_back(h + headerLen, h + frameLen);
            i += frameLen;
        }
        if (audio.aacFrames.empty()) {
            error = "no AAC frames";
            return std::nullopt;
        }
        return audio;
    }

    const char* format = codec == AudioCodec::Sowt ? "s16le" : codec == AudioCodec::In24 ? "s24le" : "mulaw";
    auto pcm = encoded({"-f", "lavfi", "-i", tone, "-t", duration, "-ac", std::to_string(channels), "-f", format},
                       format, error);
    if (!pcm) return std::nullopt;
    audio.pcm = std::move(*pcm);
    return audio;
}

// ---------------------------------------------------------------------------
// H.264.

std::vector<ByteString> splitAnnexB(const ByteString& s) {
    std::vector<ByteString> nals;
    size_t i = 0;
    auto startCodeAt = [&](size_t p) { return p + 3 <= s.size() && s[p] == 0 && s[p + 1] == 0 && s[p + 2] == 1; };
    while (i < s.size() && !startCodeAt(i)) ++i;
    while (i < s.size()) {
        size_t begin = i + 3;
        size_t end = begin;
        while (end < s.size() && !startCodeAt(end)) ++end;
        size_t last = end;
        while (last > begin && s[last - 1] == 0) --last;  // zero bytes of a 4-byte start code
        nals.emplace_back(s.begin() + static_cast<long>(begin), s.begin() + static_cast<long>(last));
        i = end;
    }
    return nals;
}

ByteString nalToRbsp(const ByteString& nal) {
    ByteString out;
    int zeros = 0;
    for (uint8_t b : nal) {
        if (zeros >= 2 && b == 3) {
            zeros = 0;
            continue;
        }
        out.push_back(b);
        zeros = b == 0 ? zeros + 1 : 0;
    }
    return out;
}

ByteString rbspToNal(const ByteString& rbsp) {
    ByteString out;
    int zeros = 0;
    for (uint8_t b : rbsp) {
        if (zeros >= 2 && b <= 3) {
            out.push_back(3);
            zeros = 0;
        }
        out.push_back(b);
        zeros = b == 0 ? zeros + 1 : 0;
    }
    return out;
}

std::optional<uint32_t> sliceTypeOf(const ByteString& nal) {
    if (nal.empty()) return std::nullopt;
    const int type = nal[0] & 0x1F;
    if (type != 1 && type != 5) return std::nullopt;
    ByteString rbsp = nalToRbsp(nal);
    BitReader bits(rbsp, 1);
    if (!bits.ue()) return std::nullopt;
    return bits.ue();
}

std::optional<ByteString> rewriteSliceTypeSevenToTwo(const ByteString& nal) {
    if (nal.empty()) return std::nullopt;
    const int type = nal[0] & 0x1F;
    if (type != 1 && type != 5) return std::nullopt;
    ByteString rbsp = nalToRbsp(nal);
    BitReader bits(rbsp, 1);
    if (!bits.ue()) return std::nullopt;
    const size_t typeStart = bits.position();
    auto sliceType = bits.ue();
    if (!sliceType || *sliceType != 7) return std::nullopt;
    const size_t typeEnd = bits.position();

    std::vector<bool> out = bitsOf(rbsp, 8, typeStart);
    out.insert(out.end(), {false, true, true});  // ue(2)
    std::vector<bool> rest = bitsOf(rbsp, typeEnd, rbsp.size() * 8);
    out.insert(out.end(), rest.begin(), rest.end());
    // The stop bit is the last 1; rebuild the alignment zeros after it.
    while (!out.empty() && !out.back()) out.pop_back();
    if (out.empty()) return std::nullopt;
    while (out.size() % 8) out.push_back(false);

    ByteString newRbsp{rbsp[0]};
    for (size_t i = 0; i < out.size(); i += 8) {
        uint8_t b = 0;
        for (size_t k = 0; k < 8; ++k) b = static_cast<uint8_t>((b << 1) | (out[i + k] ? 1 : 0));
        newRbsp.push_back(b);
    }
    return rbspToNal(newRbsp);
}

// ---------------------------------------------------------------------------
// JPEG.

std::optional<ByteString> rewriteJpegHeader(const ByteString& jpeg) {
    if (jpeg.size() < 4 || jpeg[0] != 0xFF || jpeg[1] != 0xD8) return std::nullopt;
    ByteString dqt, dht, sof;
    uint16_t restartInterval = 0;
    size_t p = 2;
    while (p + 4 <= jpeg.size()) {
        if (jpeg[p] != 0xFF) return std::nullopt;
        const uint8_t marker = jpeg[p + 1];
        const size_t len = (size_t(jpeg[p + 2]) << 8) | jpeg[p + 3];
        if (len < 2 || p + 2 + len > jpeg.size()) return std::nullopt;
        const auto body = jpeg.begin() + static_cast<long>(p + 4);
        const auto bodyEnd = jpeg.begin() + static_cast<long>(p + 2 + len);
        if (marker == 0xDA) {
            ByteString out{0xFF, 0xD8};
            auto segment = [&](uint8_t m, const ByteString& payload) {
                out.push_back(0xFF);
                out.push_back(m);
                put16(out, static_cast<uint32_t>(payload.size() + 2));
                putBytes(out, payload);
            };
            if (dqt.empty() || dht.empty() || sof.empty()) return std::nullopt;
            segment(0xDB, dqt);
            segment(0xC0, sof);
            segment(0xC4, dht);
            ByteString dri;
            put16(dri, restartInterval);
            segment(0xDD, dri);
            out.insert(out.end(), jpeg.begin() + static_cast<long>(p), jpeg.end());
            return out;
        }
        if (marker == 0xDB) dqt.insert(dqt.end(), body, bodyEnd);
        else if (marker == 0xC4) dht.insert(dht.end(), body, bodyEnd);
        else if (marker == 0xC0) sof.assign(body, bodyEnd);
        else if (marker == 0xDD && len == 4) restartInterval = static_cast<uint16_t>((jpeg[p + 4] << 8) | jpeg[p + 5]);
        else if ((marker & 0xF0) == 0xC0 && marker != 0xC4 && marker != 0xCC) return std::nullopt;  // not baseline
        // APPn, COM and anything else are dropped.
        p += 2 + len;
    }
    return std::nullopt;
}

// ---------------------------------------------------------------------------
// Layout.

void forEachUnit(ByteString& sample, const std::function<void(uint8_t* unit, size_t length)>& unit) {
    for (size_t at = 0; at + 4 <= sample.size();) {
        const size_t length = (size_t{sample[at]} << 24) | (size_t{sample[at + 1]} << 16) |
                              (size_t{sample[at + 2]} << 8) | sample[at + 3];
        if (length == 0 || length > sample.size() - at - 4) return;
        unit(sample.data() + at + 4, length);
        at += 4 + length;
    }
}

VideoStream withNalHeaders(const VideoStream& video, const NalHeaders& nal) {
    VideoStream out = video;
    if (video.format != "avc1") return out;
    for (ByteString& frame : out.frames) {
        ByteString rebuilt;
        forEachUnit(frame, [&](uint8_t* at, size_t length) {
            ByteString unit(at, at + length);
            const int type = unit[0] & 0x1F;
            if (type == 5) {
                if (nal.idrSliceTypeTwo) {
                    if (auto rewritten = rewriteSliceTypeSevenToTwo(unit)) unit = std::move(*rewritten);
                }
                unit[0] = nal.idr;
            } else if (type == 1 && (unit[0] & 0x60) != 0) {
                unit[0] = nal.p;  // reference P slices only; non-reference ones keep nal_ref_idc 0
            }
            put32(rebuilt, static_cast<uint32_t>(unit.size()));
            putBytes(rebuilt, unit);
        });
        frame = std::move(rebuilt);
    }
    return out;
}

AudioStream withAacRewrite(const AudioStream& audio, const AacRewrite& rewrite) {
    AudioStream out = audio;
    if (audio.codec == AudioCodec::Aac && rewrite.changesAnything()) rewriteAacFrames(out.aacFrames, rewrite);
    return out;
}

namespace {

struct ChunkRun {
    uint32_t firstChunk;
    uint32_t samplesPerChunk;
};

ByteString stscFor(const std::vector<uint32_t>& samplesPerChunk) {
    std::vector<ChunkRun> runs;
    for (uint32_t i = 0; i < samplesPerChunk.size(); ++i)
        if (runs.empty() || runs.back().samplesPerChunk != samplesPerChunk[i])
            runs.push_back({i + 1, samplesPerChunk[i]});
    ByteString p;
    put32(p, static_cast<uint32_t>(runs.size()));
    for (const auto& r : runs) {
        put32(p, r.firstChunk);
        put32(p, r.samplesPerChunk);
        put32(p, 1);
    }
    return fullBox("stsc", 0, p);
}

ByteString stcoFor(const std::vector<uint64_t>& offsets) {
    ByteString p;
    put32(p, static_cast<uint32_t>(offsets.size()));
    for (uint64_t o : offsets) put32(p, static_cast<uint32_t>(o));
    return fullBox("stco", 0, p);
}

ByteString sttsOne(uint32_t count, uint32_t delta) {
    ByteString p;
    put32(p, 1);
    put32(p, count);
    put32(p, delta);
    return fullBox("stts", 0, p);
}

ByteString matrix() {
    ByteString m;
    for (uint32_t v : {0x00010000u, 0u, 0u, 0u, 0x00010000u, 0u, 0u, 0u, 0x40000000u}) put32(m, v);
    return m;
}

constexpr uint32_t kCreationTime = 0xDA1C2B3Cu;  // fixed, so a layout is reproducible

ByteString trackHeader(uint32_t trackId, uint32_t duration, bool audio, uint16_t width, uint16_t height) {
    ByteString p;
    put32(p, kCreationTime);
    put32(p, kCreationTime);
    put32(p, trackId);
    put32(p, 0);
    put32(p, duration);
    putZeros(p, 8);
    put16(p, 0);                   // layer
    put16(p, 0);                   // alternate group
    put16(p, audio ? 0x0100 : 0);  // volume
    put16(p, 0);
    putBytes(p, matrix());
    put32(p, uint32_t(width) << 16);
    put32(p, uint32_t(height) << 16);
    return fullBox("tkhd", 0x00000003, p);
}

ByteString mediaHeader(uint32_t timescale, uint32_t duration, Brand brand) {
    ByteString p;
    put32(p, kCreationTime);
    put32(p, kCreationTime);
    put32(p, timescale);
    put32(p, duration);
    put16(p, brand == Brand::Isom ? 0x55C4 : 0);  // "und" in ISO files
    put16(p, 0);
    return fullBox("mdhd", 0, p);
}

ByteString handler(const std::string& componentType, const std::string& subtype, const std::string& name,
                   Brand brand) {
    ByteString p;
    if (brand == Brand::Isom) {
        put32(p, 0);
        putText(p, subtype);
        putZeros(p, 12);
        putText(p, name);
        p.push_back(0);
    } else {
        putText(p, componentType);
        putText(p, subtype);
        putZeros(p, 12);  // manufacturer, flags, flags mask
        p.push_back(static_cast<uint8_t>(name.size()));
        putText(p, name);
    }
    return fullBox("hdlr", 0, p);
}

ByteString dataInformation(Brand brand) {
    ByteString dref;
    put32(dref, 1);
    putBytes(dref, fullBox(brand == Brand::Isom ? "url " : "alis", 1, {}));
    return box("dinf", fullBox("dref", 0, dref));
}

ByteString videoSampleEntry(const VideoStream& video) {
    ByteString p;
    putZeros(p, 6);
    put16(p, 1);  // data reference index
    put16(p, 0);
    put16(p, 0);
    putZeros(p, 4);  // vendor
    put32(p, 0);     // temporal quality
    put32(p, video.format == "jpeg" ? 0x00000200 : 0);
    put16(p, video.width);
    put16(p, video.height);
    put32(p, 0x00480000);
    put32(p, 0x00480000);
    put32(p, 0);
    put16(p, 1);
    const std::string compressor = video.format == "jpeg" ? "Photo - JPEG" : "H.264";
    ByteString name(32, 0);
    name[0] = static_cast<uint8_t>(compressor.size());
    std::copy(compressor.begin(), compressor.end(), name.begin() + 1);
    putBytes(p, name);
    put16(p, 24);
    put16(p, 0xFFFF);
    if (video.format == "avc1") {
        ByteString avcC{1, video.sps[1], video.sps[2], video.sps[3], 0xFF, 0xE1};
        put16(avcC, static_cast<uint32_t>(video.sps.size()));
        putBytes(avcC, video.sps);
        avcC.push_back(1);
        put16(avcC, static_cast<uint32_t>(video.pps.size()));
        putBytes(avcC, video.pps);
        if (video.sps[1] == 100) {  // High profile: 4:2:0, 8 bits, no SPS extensions
            avcC.insert(avcC.end(), {0xFD, 0xF8, 0xF8, 0x00});
        }
        putBytes(p, box("avcC", avcC));
    }
    return box(video.format, p);
}

ByteString esds(const AudioStream& audio) {
    auto descriptor = [](uint8_t tag, const ByteString& body) {
        ByteString d{tag, static_cast<uint8_t>(body.size())};
        putBytes(d, body);
        return d;
    };
    ByteString decoderConfig{0x40, 0x15, 0x00, 0x18, 0x00};
    put32(decoderConfig, 128000);
    put32(decoderConfig, 128000);
    putBytes(decoderConfig, descriptor(0x05, audio.audioSpecificConfig));
    ByteString es{0x00, 0x02, 0x00};
    putBytes(es, descriptor(0x04, decoderConfig));
    putBytes(es, descriptor(0x06, {0x02}));
    return fullBox("esds", 0, descriptor(0x03, es));
}

ByteString audioSampleEntry(const AudioStream& audio) {
    static const std::map<AudioCodec, std::string> codes = {
        {AudioCodec::Sowt, "sowt"}, {AudioCodec::In24, "in24"}, {AudioCodec::Ulaw, "ulaw"}, {AudioCodec::Aac, "mp4a"}};
    const bool versionOne = audio.waveExtension && audio.codec != AudioCodec::Aac;
    ByteString p;
    putZeros(p, 6);
    put16(p, 1);
    put16(p, versionOne ? 1 : 0);
    put16(p, 0);
    put32(p, 0);
    put16(p, audio.channels);
    put16(p, audio.codec == AudioCodec::In24 ? 24 : 16);
    put16(p, 0);
    put16(p, 0);
    put32(p, audio.sampleRate << 16);
    if (versionOne) {
        const uint32_t bytesPerSample = audio.bytesPerFrame() / audio.channels;
        put32(p, 1);                      // samples per packet
        put32(p, bytesPerSample);         // bytes per packet
        put32(p, audio.bytesPerFrame());  // bytes per frame
        put32(p, bytesPerSample);         // bytes per sample
        ByteString frma;
        putText(frma, codes.at(audio.codec));
        ByteString wave = box("frma", frma);
        putBytes(wave, box("enda", {0x00, 0x01}));  // little-endian samples
        putZeros(wave, 8);                          // terminator atom
        putBytes(p, box("wave", wave));
    }
    if (audio.codec == AudioCodec::Aac) putBytes(p, esds(audio));
    return box(codes.at(audio.codec), p);
}

ByteString sampleDescription(const ByteString& entry) {
    ByteString p;
    put32(p, 1);
    putBytes(p, entry);
    return fullBox("stsd", 0, p);
}

}  // namespace

CameraFile layOutCameraFile(const VideoStream& video, const AudioStream& sourceAudio, const LayoutOptions& options) {
    CameraFile file;
    const VideoStream frames = withNalHeaders(video, options.nal);
    const AudioStream audio = withAacRewrite(sourceAudio, options.aac);
    const bool aac = audio.codec == AudioCodec::Aac;
    const uint32_t perChunk = std::max<uint32_t>(1, options.framesPerVideoChunk);
    const size_t frameCount = frames.frames.size();
    const size_t chunkCount = (frameCount + perChunk - 1) / perChunk;
    const uint32_t bytesPerFrame = audio.bytesPerFrame();
    const uint64_t pcmSamples = bytesPerFrame ? audio.pcm.size() / bytesPerFrame : 0;

    // ftyp
    ByteString ftyp;
    if (options.brand == Brand::Isom) {
        putText(ftyp, "isom");
        put32(ftyp, 0x200);
        putText(ftyp, "isomiso2avc1mp41");
    } else {
        putText(ftyp, "qt  ");
        put32(ftyp, 0x20050300);
        putText(ftyp, "qt  ");
    }
    putBytes(file.bytes, box("ftyp", ftyp));
    if (!options.headerText.empty() && options.headerTextAt >= file.bytes.size() + 8) {
        ByteString free(options.headerTextAt - file.bytes.size() - 8, 0);
        putText(free, options.headerText);
        putBytes(file.bytes, box("free", free));
    }

    // mdat: one audio chunk beside each video chunk.
    file.mdatOffset = file.bytes.size();
    putZeros(file.bytes, 8);
    std::vector<uint64_t> videoChunkOffsets, audioChunkOffsets;
    std::vector<uint32_t> videoPerChunk, audioPerChunk;
    size_t nextAac = 0;
    uint64_t audioSamplesWritten = 0;

    for (size_t c = 0; c < chunkCount; ++c) {
        const size_t firstFrame = c * perChunk;
        const size_t lastFrame = std::min(frameCount, firstFrame + perChunk);
        const uint64_t sampleEnd = uint64_t(lastFrame) * audio.sampleRate / frames.fps;

        auto writeAudio = [&] {
            if (aac) {
                const size_t first = nextAac;
                uint64_t start = file.bytes.size();
                while (nextAac < audio.aacFrames.size() && uint64_t(nextAac) * 1024 < sampleEnd) {
                    file.audioUnits.push_back({file.bytes.size(), audio.aacFrames[nextAac].size()});
                    putBytes(file.bytes, audio.aacFrames[nextAac]);
                    ++nextAac;
                }
                if (nextAac > first) {
                    audioChunkOffsets.push_back(start);
                    audioPerChunk.push_back(static_cast<uint32_t>(nextAac - first));
                    file.audioChunks.push_back({start, file.bytes.size() - start});
                }
                return;
            }
            const uint64_t end = std::min(sampleEnd, pcmSamples);
            if (end <= audioSamplesWritten) return;
            const uint64_t begin = audioSamplesWritten * bytesPerFrame;
            const uint64_t length = (end - audioSamplesWritten) * bytesPerFrame;
            const uint64_t at = file.bytes.size();
            file.bytes.insert(file.bytes.end(), audio.pcm.begin() + static_cast<long>(begin),
                              audio.pcm.begin() + static_cast<long>(begin + length));
            audioChunkOffsets.push_back(at);
            audioPerChunk.push_back(static_cast<uint32_t>(end - audioSamplesWritten));
            file.audioChunks.push_back({at, length});
            file.audioUnits.push_back({at, length});
            audioSamplesWritten = end;
        };

        if (options.audioFirst) writeAudio();
        videoChunkOffsets.push_back(file.bytes.size());
        videoPerChunk.push_back(static_cast<uint32_t>(lastFrame - firstFrame));
        for (size_t f = firstFrame; f < lastFrame; ++f) {
            file.videoFrames.push_back({file.bytes.size(), frames.frames[f].size()});
            putBytes(file.bytes, frames.frames[f]);
        }
        if (!options.audioFirst) writeAudio();
    }
    const uint64_t mdatSize = file.bytes.size() - file.mdatOffset;
    ByteString mdatHeader;
    put32(mdatHeader, static_cast<uint32_t>(mdatSize));
    putText(mdatHeader, "mdat");
    std::copy(mdatHeader.begin(), mdatHeader.end(), file.bytes.begin() + static_cast<long>(file.mdatOffset));

    // moov
    const uint32_t ts = options.movieTimescale;
    const uint32_t frameDelta = ts / frames.fps;
    const uint32_t videoDuration = static_cast<uint32_t>(frameCount * frameDelta);

    ByteString videoSizes;
    put32(videoSizes, 0);
    put32(videoSizes, static_cast<uint32_t>(frameCount));
    for (const auto& f : file.videoFrames) put32(videoSizes, static_cast<uint32_t>(f.size));
    ByteString videoTable = concat({sampleDescription(videoSampleEntry(frames)),
                                    sttsOne(static_cast<uint32_t>(frameCount), frameDelta)});
    if (frames.format == "avc1") {
        ByteString sync;
        std::vector<uint32_t> keys;
        for (uint32_t i = 0; i < frameCount; ++i)
            if (frames.keyframes[i]) keys.push_back(i + 1);
        put32(sync, static_cast<uint32_t>(keys.size()));
        for (uint32_t k : keys) put32(sync, k);
        putBytes(videoTable, fullBox("stss", 0, sync));
    }
    putBytes(videoTable, concat({stscFor(videoPerChunk), fullBox("stsz", 0, videoSizes), stcoFor(videoChunkOffsets)}));

    const bool quickTime = options.brand == Brand::QuickTime;
    auto mediaInformation = [&](const ByteString& header, const ByteString& table) {
        ByteString minf = header;
        if (quickTime) putBytes(minf, handler("dhlr", "alis", "", options.brand));
        putBytes(minf, dataInformation(options.brand));
        putBytes(minf, box("stbl", table));
        return box("minf", minf);
    };

    ByteString videoHeaderBody;
    put16(videoHeaderBody, 0);
    putZeros(videoHeaderBody, 6);
    const ByteString videoTrak = box(
        "trak",
        concat({trackHeader(1, videoDuration, false, frames.width, frames.height),
                box("mdia", concat({mediaHeader(ts, videoDuration, options.brand),
                                    handler("mhlr", "vide", "VideoHandler", options.brand),
                                    mediaInformation(fullBox("vmhd", 1, videoHeaderBody), videoTable)}))}));

    ByteString audioTrak;
    if (!audioChunkOffsets.empty()) {
        ByteString table = sampleDescription(audioSampleEntry(audio));
        uint32_t audioDuration = 0;
        if (aac) {
            const uint32_t count = static_cast<uint32_t>(file.audioUnits.size());
            audioDuration = count * 1024;
            ByteString sizes;
            put32(sizes, 0);
            put32(sizes, count);
            for (const auto& u : file.audioUnits) put32(sizes, static_cast<uint32_t>(u.size));
            putBytes(table, concat({sttsOne(count, 1024), stscFor(audioPerChunk), fullBox("stsz", 0, sizes)}));
        } else {
            audioDuration = static_cast<uint32_t>(audioSamplesWritten);
            ByteString sizes;
            put32(sizes, 1);
            put32(sizes, audioDuration);
            putBytes(table, concat({sttsOne(audioDuration, 1), stscFor(audioPerChunk), fullBox("stsz", 0, sizes)}));
        }
        putBytes(table, stcoFor(audioChunkOffsets));
        ByteString soundHeaderBody;
        putZeros(soundHeaderBody, 4);
        const uint32_t inMovieScale = static_cast<uint32_t>(uint64_t(audioDuration) * ts / audio.sampleRate);
        audioTrak = box("trak", concat({trackHeader(2, inMovieScale, true, 0, 0),
                                        box("mdia", concat({mediaHeader(audio.sampleRate, audioDuration, options.brand),
                                                            handler("mhlr", "soun", "SoundHandler", options.brand),
                                                            mediaInformation(fullBox("smhd", 0, soundHeaderBody),
                                                                             table)}))}));
    }

    ByteString mvhd;
    put32(mvhd, kCreationTime);
    put32(mvhd, kCreationTime);
    put32(mvhd, ts);
    put32(mvhd, videoDuration);
    put32(mvhd, 0x00010000);
    put16(mvhd, 0x0100);
    putZeros(mvhd, 10);
    putBytes(mvhd, matrix());
    putZeros(mvhd, 24);
    put32(mvhd, 3);

    ByteString moov = concat({fullBox("mvhd", 0, mvhd), videoTrak, audioTrak});
    if (!options.cameraModel.empty()) {
        ByteString text;
        put16(text, static_cast<uint32_t>(options.cameraModel.size() + 1));
        put16(text, 0);
        putText(text, options.cameraModel);
        text.push_back(0);
        ByteString udta = box("\xA9mod", text);
        putZeros(udta, 4);
        putBytes(moov, box("udta", udta));
    }
    file.moovOffset = file.bytes.size();
    putBytes(file.bytes, box("moov", moov));
    return file;
}

// ---------------------------------------------------------------------------
// Damage.

ByteString truncatedRecording(const CameraFile& file, uint64_t cutAt) {
    cutAt = std::min<uint64_t>(cutAt, file.moovOffset);
    ByteString out(file.bytes.begin(), file.bytes.begin() + static_cast<long>(cutAt));
    if (out.size() >= file.mdatOffset + 4) std::fill_n(out.begin() + static_cast<long>(file.mdatOffset), 4, 0);
    return out;
}

ByteString headerZeroed(const CameraFile& file, uint64_t count) {
    ByteString out = file.bytes;
    std::fill_n(out.begin(), std::min<uint64_t>(count, out.size()), 0);
    return out;
}

ByteString mediaOverwritten(const CameraFile& file, uint64_t from, uint64_t to) {
    ByteString out(file.bytes.begin(), file.bytes.begin() + static_cast<long>(file.moovOffset));
    to = std::min<uint64_t>(to, out.size());
    if (from < to) std::fill(out.begin() + static_cast<long>(from), out.begin() + static_cast<long>(to), 0);
    return out;
}

Survivors survivorsOf(const CameraFile& file, const ByteString& damaged) {
    Survivors s;
    auto intact = [&](const UnitPlace& u) {
        return u.offset + u.size <= damaged.size() &&
               std::equal(file.bytes.begin() + static_cast<long>(u.offset),
                          file.bytes.begin() + static_cast<long>(u.offset + u.size),
                          damaged.begin() + static_cast<long>(u.offset));
    };
    for (size_t i = 0; i < file.videoFrames.size(); ++i)
        if (intact(file.videoFrames[i])) s.videoFrames.push_back(i);
    for (size_t i = 0; i < file.audioUnits.size(); ++i)
        if (intact(file.audioUnits[i])) {
            s.audioUnits.push_back(i);
            s.audioBytes += file.audioUnits[i].size;
        }
    return s;
}

// ---------------------------------------------------------------------------
// Reading tables back.

namespace {

struct Span {
    uint64_t offset;  // of the payload
    uint64_t size;    // of the payload
    std::string type;
};

std::vector<Span> children(const ByteString& buf, uint64_t begin, uint64_t end) {
    std::vector<Span> out;
    uint64_t p = begin;
    while (p + 8 <= end) {
        uint64_t size = rd32(buf.data() + p);
        uint64_t header = 8;
        if (size == 1) {
            if (p + 16 > end) break;
            size = (uint64_t(rd32(buf.data() + p + 8)) << 32) | rd32(buf.data() + p + 12);
            header = 16;
        } else if (size == 0) {
            size = end - p;
        }
        if (size < header || size > end - p) break;
        out.push_back({p + header, size - header, std::string(buf.begin() + static_cast<long>(p + 4),
                                                              buf.begin() + static_cast<long>(p + 8))});
        p += size;
    }
    return out;
}

const Span* child(const std::vector<Span>& list, const std::string& type) {
    for (const auto& s : list)
        if (s.type == type) return &s;
    return nullptr;
}

}  // namespace

std::vector<TrackUnits> readTracks(const std::string& path, std::string& error) {
    std::vector<TrackUnits> tracks;
    FileReader reader(path);
    if (!reader.isOpen()) {
        error = "cannot open " + path;
        return tracks;
    }
    // Find the top-level moov.
    const uint64_t fileSize = reader.size();
    uint64_t p = 0, moovAt = 0, moovSize = 0;
    while (p + 8 <= fileSize) {
        uint8_t h[16];
        reader.readAt(p, h, sizeof h);
        uint64_t size = rd32(h);
        if (size == 1) size = (uint64_t(rd32(h + 8)) << 32) | rd32(h + 12);
        else if (size == 0) size = fileSize - p;
        if (size < 8 || size > fileSize - p) break;
        if (std::memcmp(h + 4, "moov", 4) == 0) {
            moovAt = p;
            moovSize = size;
            break;
        }
        p += size;
    }
    if (moovSize == 0 || moovSize > (256u << 20)) {
        error = "no usable movie atom";
        return tracks;
    }
    const ByteString moov = reader.readAt(moovAt, moovSize);

    for (const auto& trak : children(moov, 8, moov.size())) {
        if (trak.type != "trak") continue;
        const auto trakKids = children(moov, trak.offset, trak.offset + trak.size);
        const Span* mdia = child(trakKids, "mdia");
        if (!mdia) continue;
        const auto mdiaKids = children(moov, mdia->offset, mdia->offset + mdia->size);
        const Span* hdlr = child(mdiaKids, "hdlr");
        const Span* minf = child(mdiaKids, "minf");
        if (!hdlr || !minf || hdlr->size < 12) continue;
        const auto minfKids = children(moov, minf->offset, minf->offset + minf->size);
        const Span* stbl = child(minfKids, "stbl");
        if (!stbl) continue;
        const auto tables = children(moov, stbl->offset, stbl->offset + stbl->size);
        const Span* stsd = child(tables, "stsd");
        const Span* stsz = child(tables, "stsz");
        const Span* stsc = child(tables, "stsc");
        const Span* stco = child(tables, "stco");
        const Span* co64 = child(tables, "co64");
        if (!stsd || !stsz || !stsc || (!stco && !co64) || stsd->size < 16 || stsz->size < 12 || stsc->size < 8) {
            error = "a track lacks its sample tables";
            continue;
        }
        TrackUnits track;
        track.handler.assign(moov.begin() + static_cast<long>(hdlr->offset + 8),
                             moov.begin() + static_cast<long>(hdlr->offset + 12));
        const uint8_t* entry = moov.data() + stsd->offset + 8;
        track.format.assign(entry + 4, entry + 8);

        // Chunk offsets.
        std::vector<uint64_t> chunks;
        const Span* table = stco ? stco : co64;
        const uint64_t width = stco ? 4 : 8;
        const uint64_t chunkCount = table->size >= 8 ? rd32(moov.data() + table->offset + 4) : 0;
        if (chunkCount > (table->size - 8) / width) {
            error = "chunk table shorter than its count";
            continue;
        }
        for (uint64_t i = 0; i < chunkCount; ++i) {
            const uint8_t* e = moov.data() + table->offset + 8 + i * width;
            chunks.push_back(width == 4 ? rd32(e) : (uint64_t(rd32(e)) << 32) | rd32(e + 4));
        }
        // Samples per chunk.
        const uint64_t runCount = rd32(moov.data() + stsc->offset + 4);
        if (runCount > (stsc->size - 8) / 12) {
            error = "stsc shorter than its count";
            continue;
        }
        std::vector<uint64_t> perChunk(chunks.size(), 0);
        for (uint64_t r = 0; r < runCount; ++r) {
            const uint8_t* e = moov.data() + stsc->offset + 8 + r * 12;
            const uint64_t first = rd32(e);
            const uint64_t next = r + 1 < runCount ? rd32(e + 12) : chunks.size() + 1;
            for (uint64_t c = first; c < next && c >= 1 && c <= chunks.size(); ++c) perChunk[c - 1] = rd32(e + 4);
        }
        // Sample sizes.
        const uint64_t commonSize = rd32(moov.data() + stsz->offset + 4);
        const uint64_t sampleCount = rd32(moov.data() + stsz->offset + 8);
        if (commonSize == 0 && sampleCount > (stsz->size - 12) / 4) {
            error = "stsz shorter than its count";
            continue;
        }
        const bool pcm = commonSize == 1 || track.format == "sowt" || track.format == "twos" ||
                         track.format == "in24" || track.format == "ulaw" || track.format == "raw ";
        uint64_t bytesPerFrame = 1;
        if (pcm && stsd->size >= 8 + 36) {
            const uint16_t version = static_cast<uint16_t>((entry[16] << 8) | entry[17]);
            const uint16_t channels = static_cast<uint16_t>((entry[24] << 8) | entry[25]);
            const uint16_t bits = static_cast<uint16_t>((entry[26] << 8) | entry[27]);
            if (version == 1 && stsd->size >= 8 + 52) bytesPerFrame = rd32(entry + 44);
            else if (track.format == "ulaw" || track.format == "raw ") bytesPerFrame = channels;
            else bytesPerFrame = uint64_t(channels) * bits / 8;
        }
        uint64_t sample = 0;
        for (size_t c = 0; c < chunks.size(); ++c) {
            if (pcm) {
                track.units.push_back({chunks[c], perChunk[c] * bytesPerFrame});
                continue;
            }
            uint64_t at = chunks[c];
            for (uint64_t k = 0; k < perChunk[c] && sample < sampleCount; ++k, ++sample) {
                const uint64_t size = commonSize ? commonSize : rd32(moov.data() + stsz->offset + 12 + sample * 4);
                track.units.push_back({at, size});
                at += size;
            }
        }
        tracks.push_back(std::move(track));
    }
    return tracks;
}

UnitMatch matchUnits(const std::string& path, const std::vector<UnitPlace>& units, const ByteString& original,
                     const std::vector<UnitPlace>& originalUnits, const std::vector<size_t>& wanted) {
    std::multimap<std::pair<uint64_t, uint64_t>, size_t> bySizeAndHash;  // (size, hash) -> original index
    auto hashOf = [](const uint8_t* p, uint64_t n) {
        uint64_t h = 1469598103934665603ull;
        for (uint64_t i = 0; i < n; ++i) {
            h ^= p[i];
            h *= 1099511628211ull;
        }
        return h;
    };
    for (size_t i = 0; i < originalUnits.size(); ++i) {
        const auto& u = originalUnits[i];
        bySizeAndHash.emplace(std::make_pair(u.size, hashOf(original.data() + u.offset, u.size)), i);
    }
    std::vector<bool> wantedFlag(originalUnits.size(), false);
    for (size_t w : wanted)
        if (w < wantedFlag.size()) wantedFlag[w] = true;

    UnitMatch match;
    std::vector<bool> seen(originalUnits.size(), false);
    FileReader reader(path);
    for (const auto& u : units) {
        if (u.size > (64u << 20)) {
            ++match.foreign;
            continue;
        }
        const ByteString bytes = reader.readAt(u.offset, static_cast<size_t>(u.size));
        const auto range = bySizeAndHash.equal_range({u.size, hashOf(bytes.data(), bytes.size())});
        bool found = false;
        for (auto it = range.first; it != range.second; ++it) {
            const auto& o = originalUnits[it->second];
            if (!std::equal(bytes.begin(), bytes.end(), original.begin() + static_cast<long>(o.offset))) continue;
            found = true;
            if (wantedFlag[it->second] && !seen[it->second]) {
                seen[it->second] = true;
                ++match.matchedOriginals;
                break;
            }
        }
        if (!found) ++match.foreign;
    }
    return match;
}

std::optional<CameraRecording> frameAndChunkRecording(ClipCache& cache, std::string& error) {
    const auto refVideo = cache.h264(320, 240, 25, 25, 0, 25, true, error);
    const auto recVideo = cache.h264(320, 240, 25, 100, 300, 25, true, error);
    const auto audio = cache.audio(AudioCodec::Sowt, 48000, 2, 4.2, 440, error);
    if (!refVideo || !recVideo || !audio) return std::nullopt;
    if (refVideo->sps != recVideo->sps) {
        error = "the two clips do not share their parameter sets";
        return std::nullopt;
    }
    LayoutOptions layout;
    layout.framesPerVideoChunk = 1;
    layout.nal = NalHeaders{0x25, 0x21, false};
    return CameraRecording{layOutCameraFile(*refVideo, *audio, layout), layOutCameraFile(*recVideo, *audio, layout)};
}

const std::vector<CameraSettings>& cameraFamilies() {
    static const std::vector<CameraSettings> families = [] {
        const auto named = [](std::string name, std::vector<std::string> markers) {
            CameraSettings c;
            c.name = std::move(name);
            c.markers = std::move(markers);
            return c;
        };
        std::vector<CameraSettings> f;
        // Canon with 25 88 and uncompressed sound between pairs of frames.
        CameraSettings canonPcm = named("canon-pcm", {"8"});
        canonPcm.nal = NalHeaders{0x25, 0x61, false};
        canonPcm.model = "Canon EOS 80D";
        canonPcm.framesPerChunk = 2;
        f.push_back(canonPcm);
        // Two slices per frame (25 B8 and 21), mono AAC whose units begin
        // 01 ?? 15 (sine window, max_sfb 42 at 32 kHz with an 11.5 kHz band).
        // At 640x480 the second slice of an IDR starts at macroblock 600,
        // whose code begins with eight zero bits: 25 00, as the row expects.
        CameraSettings twoSlices = named("two-slices", {"10"});
        twoSlices.units = H264Units{2, false, false};
        twoSlices.nal = NalHeaders{0x25, 0x21, true};
        twoSlices.cabac = false;
        twoSlices.aac = true;
        twoSlices.sampleRate = 32000;
        twoSlices.channels = 1;
        twoSlices.encoding = AacEncoding{56000, 11500};
        twoSlices.rewrite = AacRewrite{true, {}};
        twoSlices.framesPerChunk = 30;
        twoSlices.width = 640;
        twoSlices.height = 480;
        f.push_back(twoSlices);
        // 25 88 and 21 slices with stereo AAC (a channel pair: units begin 21).
        CameraSettings stereo = named("stereo-2588", {"14", "15"});
        stereo.nal = NalHeaders{0x25, 0x21, false};
        stereo.brand = Brand::Isom;
        stereo.aac = true;
        stereo.encoding = AacEncoding{128000, 16000};
        stereo.framesPerChunk = 30;
        f.push_back(stereo);
        // 65 88 and 41 slices with mono AAC whose units begin 01 ?? 0B (sine
        // window, max_sfb 22 at 32 kHz with a 2.6 kHz band).
        CameraSettings mono = named("mono-6588", {"16"});
        mono.nal = NalHeaders{0x65, 0x41, false};
        mono.brand = Brand::Isom;
        mono.aac = true;
        mono.sampleRate = 32000;
        mono.channels = 1;
        mono.encoding = AacEncoding{48000, 2600};
        mono.rewrite = AacRewrite{true, {}};
        mono.framesPerChunk = 30;
        f.push_back(mono);
        // A Canon compact: the generic frame starts and stereo AAC, whose
        // frame starts the scan learns from the reference.
        CameraSettings compact = named("canon-compact", {"02/08/19"});
        compact.nal = NalHeaders{0x25, 0x21, false};
        compact.model = "Canon PowerShot G7 X Mark II";
        compact.brand = Brand::Isom;
        compact.aac = true;
        compact.encoding = AacEncoding{128000, 16000};
        compact.framesPerChunk = 30;
        f.push_back(compact);
        // Access units behind delimiters. A GoPro (known by "HERO" at byte
        // 130 of its file) with stereo AAC in chunks of a second.
        CameraSettings gopro = named("gopro", {"17"});
        gopro.units.delimiters = true;
        gopro.headerText = "HERO4 Black";
        gopro.headerTextAt = 130;
        gopro.nal = NalHeaders{0x25, 0x21, false};  // 65 88 would meet row 16 first
        gopro.brand = Brand::Isom;
        gopro.aac = true;
        gopro.encoding = AacEncoding{128000, 16000};
        gopro.framesPerChunk = 30;
        f.push_back(gopro);
        // A Panasonic GH4 with PCM after every pair of frames.
        CameraSettings gh4 = named("panasonic-gh4", {""});
        gh4.units.delimiters = true;
        gh4.model = "DMC-GH4";
        gh4.framesPerChunk = 2;
        f.push_back(gh4);
        return f;
    }();
    return families;
}

const CameraSettings* cameraFamily(const std::string& name) {
    for (const CameraSettings& c : cameraFamilies())
        if (c.name == name) return &c;
    return nullptr;
}

std::optional<CameraRecording> cameraRecording(ClipCache& cache, const CameraSettings& camera, std::string& error) {
    const auto refVideo = cache.h264(camera.width, camera.height, 30, 120, 0, 30, camera.cabac, error, camera.units);
    const auto recVideo = cache.h264(camera.width, camera.height, 30, 240, 300, 30, camera.cabac, error, camera.units);
    const auto audio = camera.aac ? cache.audio(AudioCodec::Aac, camera.sampleRate, camera.channels, 8.5, 440, error,
                                                camera.encoding)
                                   : cache.audio(AudioCodec::Sowt, camera.sampleRate, camera.channels, 8.5, 440, error);
    if (!refVideo || !recVideo || !audio) return std::nullopt;
    if (refVideo->sps != recVideo->sps) {
        error = "the two clips do not share their parameter sets";
        return std::nullopt;
    }
    LayoutOptions layout;
    layout.brand = camera.brand;
    layout.framesPerVideoChunk = camera.framesPerChunk;
    layout.nal = camera.nal;
    layout.cameraModel = camera.model;
    layout.headerText = camera.headerText;
    layout.headerTextAt = camera.headerTextAt;
    layout.aac = camera.rewrite;
    return CameraRecording{layOutCameraFile(*refVideo, *audio, layout), layOutCameraFile(*recVideo, *audio, layout)};
}

}  // namespace arbel::test

// Sample tables, timing and the new movie atom.
#include "movie_atom.h"

#include "engine/byte_order.h"
#include "engine/repair_values.h"
#include "repair_file.h"

#include <algorithm>
#include <cstdio>
#include <limits>

namespace arbel {

namespace {

constexpr uint64_t k32BitMax = 0xFFFFFFFFull;

uint64_t mulSat(uint64_t a, uint64_t b) {
    if (a != 0 && b > std::numeric_limits<uint64_t>::max() / a) return std::numeric_limits<uint64_t>::max();
    return a * b;
}

// A zero divisor means "no value": the quotient is 0, never a trap.
uint64_t quotient(uint64_t a, uint64_t b) { return b == 0 ? 0 : a / b; }

uint32_t low32(uint64_t v) { return static_cast<uint32_t>(v); }
uint32_t wrapMul(uint32_t a, uint32_t b) { return static_cast<uint32_t>(static_cast<uint64_t>(a) * b); }

bool gCamera(const CameraFlags& f) { return f.bHero115 || f.bH3B || f.bGH5 || f.bHero130 || f.bP520; }
bool narrowI(const CameraFlags& f) { return f.bCanon1DXMarkII || f.bSonyAX33; }
bool narrowJ(const CameraFlags& f) {
    return f.bVixia || f.bCanonG9XMarkII || f.bCanonG7XMarkII || f.bCanonRebelT6i;
}

// How many entries of the sample tables can be used: a counter is never
// trusted beyond the table behind it.
uint64_t usableVideoSamples(const RepairFile& e) {
    return std::min<uint64_t>({e.sample_count, e.video_buffer_start.size(), e.video_buffer_size.size()});
}
uint64_t usableAudioChunks(const RepairFile& e) {
    return std::min<uint64_t>({e.Avc_audioCount, e.Audio_buffer_start.size(), e.Audio_buffer_size.size()});
}

// --- byte pieces of the reference -------------------------------------------

// A piece that begins with the type code of the container it opens ("minf",
// "stbl"): the code is written on its own when the piece is missing.
uint64_t partAfterTypeCode(const std::vector<uint8_t>& piece) { return piece.size() >= 4 ? piece.size() - 4 : 0; }

// The media header piece stops before its duration; the handler piece opens
// with the media header's last 4 bytes (language, quality). Without a media
// header those 4 bytes have nowhere to go and are left out with it.
uint64_t mediaHeaderPart(const std::vector<uint8_t>& mdhd) { return mdhd.empty() ? 0 : mdhd.size() + 8; }
uint64_t handlerPart(const std::vector<uint8_t>& hdlr) { return hdlr.size() > 4 ? hdlr.size() - 4 : 0; }

void writeMediaHeaderAndHandler(OutputWriter& out, const std::vector<uint8_t>& mdhd, uint32_t duration,
                                const std::vector<uint8_t>& hdlr) {
    if (!mdhd.empty()) {
        out.append(mdhd);
        out.appendU32BE(duration);
        if (hdlr.size() >= 4) out.append(hdlr.data(), 4);
        else out.appendZeros(4);
    }
    if (hdlr.size() > 4) out.append(hdlr.data() + 4, hdlr.size() - 4);
}

void writeOpeningPiece(OutputWriter& out, const std::vector<uint8_t>& piece, const char* typeCode) {
    if (piece.size() >= 4) out.append(piece);
    else out.appendFourCC(typeCode);
}

void writeMatrix(OutputWriter& out, uint32_t w) {
    const uint32_t m[9] = {0x00010000, 0, 0, 0, 0x00010000, 0, 0, 0, w};
    for (uint32_t v : m) out.appendU32BE(v);
}

// Rate, volume, reserved, matrix, the six preview/poster/selection fields and
// the next track ID: the 80 bytes that close both movie headers.
void writeMovieHeaderTail(OutputWriter& out) {
    out.appendU32BE(0x00010000);
    out.appendU16BE(0x00FF);
    out.appendZeros(10);
    writeMatrix(out, 0x40000000);
    out.appendZeros(24);
    out.appendU32BE(3);
}

void writeTrackHeaderStart(OutputWriter& out, uint64_t trakSize, uint32_t created, uint32_t modified,
                           uint32_t trackId, uint32_t duration) {
    out.appendU32BE(low32(trakSize));
    out.appendFourCC("trak");
    out.appendU32BE(0x5C);
    out.appendFourCC("tkhd");
    out.appendU32BE(0x0000000F);
    out.appendU32BE(created);
    out.appendU32BE(modified);
    out.appendU32BE(trackId);
    out.appendU32BE(0);
    out.appendU32BE(duration);
}

// Layer, alternate group, volume 1.0, matrix and zero width/height of a sound track.
void writeSoundTrackHeaderTail(OutputWriter& out, uint32_t matrixW) {
    out.appendZeros(8);
    out.appendU16BE(0);
    out.appendU16BE(0);
    out.appendU16BE(0x0100);
    out.appendU16BE(0);
    writeMatrix(out, matrixW);
    out.appendU32BE(0);
    out.appendU32BE(0);
}

uint64_t chunkTableSize(uint64_t entries, bool co64) { return 16 + entries * (co64 ? 8 : 4); }

// A time-to-sample table of one entry: count samples of delta each.
void writeOneEntryTimeToSample(OutputWriter& out, uint32_t count, uint32_t delta) {
    out.appendU32BE(0x18);
    out.appendFourCC("stts");
    for (uint32_t v : {0u, 1u, count, delta}) out.appendU32BE(v);
}

// A sample-to-chunk table of one entry: from chunk 1 on, samplesPerChunk each.
void writeOneEntrySampleToChunk(OutputWriter& out, uint32_t samplesPerChunk) {
    out.appendU32BE(0x1C);
    out.appendFourCC("stsc");
    for (uint32_t v : {0u, 1u, 1u, samplesPerChunk, 1u}) out.appendU32BE(v);
}

// The head of a sample-size table whose count entries follow one by one.
void writeSampleSizesHead(OutputWriter& out, uint64_t count) {
    out.appendU32BE(low32(20 + 4 * count));
    out.appendFourCC("stsz");
    for (uint32_t v : {0u, 0u, low32(count)}) out.appendU32BE(v);
}

// A sample-size table where every one of count samples is one byte.
void writeOneByteSampleSizes(OutputWriter& out, uint32_t count) {
    out.appendU32BE(0x14);
    out.appendFourCC("stsz");
    for (uint32_t v : {0u, 1u, count}) out.appendU32BE(v);
}

void writeChunkTableHeader(OutputWriter& out, uint64_t entries, bool co64) {
    out.appendU32BE(low32(chunkTableSize(entries, co64)));
    out.appendFourCC(co64 ? "co64" : "stco");
    out.appendU32BE(0);
    out.appendU32BE(low32(entries));
}

void writeChunkOffset(OutputWriter& out, uint64_t offset, bool co64) {
    if (co64) out.appendU64BE(offset);
    else out.appendU32BE(low32(offset));
}

// The handler and data-information atoms of the MJPEG tracks.
void writeMjpegHandler(OutputWriter& out, const char* subtype) {
    out.appendU32BE(0x22);
    out.appendFourCC("hdlr");
    out.appendU32BE(0);
    out.appendFourCC("mhlr");
    out.appendFourCC(subtype);
    out.appendFourCC("pana");
    out.appendU32BE(0);
    out.appendU32BE(0);
    out.appendU16BE(0);
}

void writeMjpegDataHandlerAndDinf(OutputWriter& out) {
    out.appendU32BE(0x22);
    out.appendFourCC("hdlr");
    out.appendU32BE(0);
    out.appendFourCC("dhlr");
    out.appendFourCC("alis");
    out.appendFourCC("pana");
    out.appendU32BE(0);
    out.appendU32BE(0);
    out.appendU16BE(0);
    out.appendU32BE(0x24);
    out.appendFourCC("dinf");
    out.appendU32BE(0x1C);
    out.appendFourCC("dref");
    out.appendU32BE(0);
    out.appendU32BE(1);
    out.appendU32BE(0x0C);
    out.appendFourCC("alis");
    out.appendU32BE(1);
}

void writeMjpegMediaHeader(OutputWriter& out, uint64_t mdiaSize, uint32_t timeScale, uint32_t duration) {
    out.appendU32BE(low32(mdiaSize));
    out.appendFourCC("mdia");
    out.appendU32BE(0x20);
    out.appendFourCC("mdhd");
    out.appendU32BE(0);
    out.appendU32BE(0xCA167A3B);
    out.appendU32BE(0xCA167A3B);
    out.appendU32BE(timeScale);
    out.appendU32BE(duration);
    out.appendU32BE(0);  // language, quality
}

// Fixed parts of the MJPEG tracks, in bytes.
constexpr uint64_t kMjpegVideoMinfFixed = 8 + 20 + 34 + 36;   // header, vmhd, hdlr, dinf
constexpr uint64_t kMjpegAudioMinfFixed = 8 + 16 + 34 + 36;   // header, smhd, hdlr, dinf
constexpr uint64_t kMjpegMdiaFixed = 8 + 32 + 34;             // header, mdhd, hdlr
constexpr uint64_t kTrakFixed = 8 + 92;                        // header, tkhd
constexpr uint64_t kMoovFixed = 8 + 108;                       // header, mvhd

// Entries are polled for a stop this often inside the long MJPEG loops.
constexpr uint64_t kPollEvery = 1024;

}  // namespace

// ---------------------------------------------------------------------------
// Timing
// ---------------------------------------------------------------------------

TimingClass timingClassOf(const CameraFlags& f) {
    if (f.bSonyA6500 || f.bSonyAX33 || f.bHero130 || f.bP520 || f.bH3B || f.bGH5 || f.bGH4 || f.bCanonRebelT6i ||
        f.bVixia || f.bCanonG7XMarkII || f.bCanonG9XMarkII || f.bSignature64 || f.bHero115 || f.bCanon1DXMarkII)
        return TimingClass::ProfileTimed;
    if (f.bCanon && !f.bCanon5DMarkIV && !f.bCanon70D) return TimingClass::CanonTimed;
    return TimingClass::ReferenceTimed;
}

RuleValues computeRuleValues(const CameraFlags& f, uint64_t n, uint64_t audioChunksFound, uint64_t firstVideoDelta) {
    RuleValues r;
    const uint32_t n32 = low32(n);
    const uint32_t a = low32(audioChunksFound);

    auto gRule = [&](uint32_t k, uint32_t spanOfAudio, uint32_t mediaValue, uint32_t trackValue) {
        r.anyG = true;
        r.KG = k;
        r.VG = wrapMul(n32, k);
        r.MG = std::max(spanOfAudio, r.VG);
        r.XG = mediaValue;
        r.TG = trackValue;
    };
    // Later rules replace earlier ones.
    if (f.bP520 || f.bHero115 || f.bAudioSig0198DA) gRule(1001, wrapMul(a, 512), wrapMul(a, 1024), wrapMul(a, 512));
    if (f.bGH5) gRule(low32(firstVideoDelta), a / 2, a, a / 2);
    if (f.bAudioSig013499) gRule(11297, wrapMul(a, 512), wrapMul(a, 1024), wrapMul(a, 512));
    if (f.bAudioFirst211C44) gRule(512, wrapMul(a, 512), wrapMul(a, 1024), wrapMul(a, 512));
    if (f.bHero130 || f.bH3B) gRule(3003, wrapMul(a, 512), wrapMul(a, 1024), wrapMul(a, 512));

    if (f.bSignature0Bg || f.bSignature64) r.VH = wrapMul(n32, 1001);
    if (f.bCanon1DXMarkII || f.bSonyAX33 || f.bSonyAX1E || f.bSonyAX53 || f.bSonyA7S || f.bSonyA7SM2 ||
        f.bSonyAX100) {
        r.VI = wrapMul(n32, 1001);
        r.MI = std::max(a, r.VI);
        r.XI = a;
    }
    if (narrowJ(f) || f.bAudioFirst20_6C) {
        r.VJ = wrapMul(n32, 1000);
        r.MJ = std::max(wrapMul(a, 512), r.VJ);
        r.XJ = wrapMul(a, 1024);
        r.TJ = wrapMul(a, 512);
    }
    if (f.bGH4) {
        r.VK = wrapMul(n32, 3003);
        r.MK = std::max(a, r.VK);
        r.XK = a;
    }
    return r;
}

MovieTiming computeMovieTiming(const TimingInput& in) {
    const CameraFlags& f = in.flags;
    MovieTiming t;
    t.timeScale = in.timeScale ? in.timeScale : 1000;
    t.duration = in.duration ? in.duration : 5000;
    t.audioTimeScale = in.audioTimeScale ? in.audioTimeScale : 1000;
    t.audioDuration = in.audioDuration ? in.audioDuration : 5000;
    t.audioChunksFound = in.audioChunks;
    t.audioCount = in.audioChunks ? in.audioChunks : 500;
    t.timingClass = timingClassOf(f);

    const uint64_t ts = t.timeScale;
    const uint64_t A = t.audioCount;
    uint64_t recordingMediaSpan = 0;  // set when the reference class times the recording itself
    if (t.timingClass != TimingClass::ProfileTimed) {
        if (quotient(mulSat(A, t.audioTimeScale), t.audioDuration) == 0)
            t.audioDuration = t.audioDuration / t.audioTimeScale;
        if (t.timingClass == TimingClass::CanonTimed) {
            t.classFrameRate = quotient(mulSat(in.refVideoSamples, ts), t.duration);
            if (t.classFrameRate == 0) t.duration = t.duration / ts;
            t.duration = mulSat(ts, A);
        } else {
            // The reference's own duration says nothing about this recording:
            // its n samples last n times the sample delta. Without a delta or a
            // media time scale the reference duration stands.
            const uint64_t delta = in.videoSampleDelta;
            const uint64_t mediaScale = in.videoMediaTimeScale;
            if (in.n != 0 && delta != 0 && mediaScale != 0) {
                const uint64_t mediaSpan = mulSat(in.n, delta);
                t.duration = std::max<uint64_t>(1, quotient(mulSat(mediaSpan, ts), mediaScale));
                recordingMediaSpan = mediaSpan;
            }
            if (quotient(mulSat(in.n, ts), t.duration) == 0) t.duration = t.duration / ts;
            t.classFrameRate = quotient(mulSat(in.n, ts), t.duration);
        }
    }

    const RuleValues& r = t.rules = computeRuleValues(f, in.n, in.audioChunks, in.firstVideoDelta);

    uint32_t v = low32(t.duration);
    if (gCamera(f)) v = r.VG;
    if (f.bSignature64) v = r.VH;
    if (narrowJ(f)) v = r.VJ;
    if (f.bGH4) v = r.VK;
    if (narrowI(f)) v = r.VI;
    t.videoDuration = v;
    t.videoMediaDuration = recordingMediaSpan != 0 ? low32(recordingMediaSpan) : v;
    t.movieDuration = (f.bSignature0Bg || f.bSignature64) ? r.VH : v;

    uint32_t trackDuration = low32(t.duration);
    if (f.bCanonRebelT6i || f.bAudioSig013499 || gCamera(f)) trackDuration = r.TG;
    if (narrowJ(f)) trackDuration = r.TJ;
    if (f.bCanon1DXMarkII) trackDuration = 0;
    if (f.bGH4) trackDuration = low32(in.audioChunks);
    t.audioTrackDuration = trackDuration;

    if (in.aac) {
        const uint64_t aref = f.bSignature64 ? 1 : in.refAudioSamples;
        const uint64_t q = quotient(mulSat(aref, t.audioTimeScale), t.audioDuration);
        // Q = 0 would divide by zero: fall back to 1024 samples per AAC frame.
        const uint64_t x0 = q == 0 ? mulSat(1024, A) : mulSat(t.audioTimeScale, A) / q;
        uint32_t x = low32(x0);
        if (f.bAudioFirst211C44 || f.bAudioSig0198DA || f.bHero115 || f.bH3B || f.bGH5 || f.bHero130) x = r.XG;
        if (narrowJ(f)) x = r.XJ;
        if (f.bGH4) x = r.XK;
        if (f.bCanon1DXMarkII) x = r.XI;
        t.audioMediaDuration = x;
        t.audioSampleDelta = low32(x0 / A);
    } else {
        t.audioMediaDuration = low32(mulSat(A, in.samplesPerAudioChunk));
    }
    // No audio chunk found: the audio track is written empty, so its media
    // lasts nothing.
    if (in.audioChunks == 0) t.audioMediaDuration = 0;

    // Frame rate.
    uint64_t fps = 0;
    if (t.timingClass == TimingClass::ProfileTimed) {
        if (narrowJ(f)) fps = ts / 1000;
        if (f.bGH4) fps = ts / 3003;
        if (narrowI(f)) fps = ts / 1001;
        if (gCamera(f)) fps = quotient(ts, r.KG);
        if (f.bSignature64) fps = ts / 1001;
    } else {
        fps = t.classFrameRate;
    }
    if (in.stopMotion) fps = 10;
    if (t.timingClass == TimingClass::ReferenceTimed && fps == 0) fps = 29;
    t.fps = fps;

    // Duration in seconds.
    switch (t.timingClass) {
    case TimingClass::ProfileTimed: {
        uint64_t s = 0;
        if (gCamera(f)) s = r.MG / ts;
        if (f.bSignature64) s = r.VH / ts;
        if (narrowJ(f)) s = r.MJ / ts;
        if (f.bGH4) s = r.MK / ts;
        if (narrowI(f)) s = r.MI / ts;
        t.seconds = low32(s);
        break;
    }
    case TimingClass::CanonTimed:
        t.seconds = A;
        break;
    case TimingClass::ReferenceTimed:
        t.seconds = quotient(mulSat(in.n, ts), fps) / ts;
        break;
    }

    t.tracks = in.stopMotion ? 1 : 2;
    t.audioTrackWritten = !in.stopMotion;
    t.audioTrackInsideMovie = t.audioTrackWritten && !f.bSignature64 && !(in.aac && f.bSignature0Bg);
    return t;
}

std::string durationText(uint64_t seconds) {
    char text[96];
    std::snprintf(text, sizeof text, "%llu:%llu:%llu", static_cast<unsigned long long>(seconds / 3600),
                  static_cast<unsigned long long>((seconds % 3600) / 60), static_cast<unsigned long long>(seconds % 60));
    return text;
}

MjpegTiming computeMjpegTiming(const TimingInput& in) {
    const uint64_t ts = in.timeScale ? in.timeScale : 1000;
    uint64_t d = in.duration ? in.duration : 5000;
    if (quotient(mulSat(in.n, ts), d) == 0) d = d / ts;
    MjpegTiming m;
    m.fps = quotient(mulSat(in.refVideoSamples, ts), d);
    const uint64_t s = m.fps != 0 ? quotient(mulSat(ts, in.n), m.fps) / ts : in.n / 30;
    m.seconds = static_cast<int32_t>(low32(s));
    return m;
}

std::string mjpegDurationText(int32_t seconds) {
    char text[48];
    std::snprintf(text, sizeof text, "%d:%d:%d", seconds / 3600, (seconds % 3600) / 60, seconds % 60);
    return text;
}

uint64_t mediaTimeScaleOf(const std::vector<uint8_t>& piece) {
    // size, type, version and flags, then 32- or 64-bit times, then the scale.
    if (piece.size() == 24) return readU32BE(piece.data() + 20);
    if (piece.size() == 36 && piece[8] == 1) return readU32BE(piece.data() + 28);
    return 0;
}

namespace {
uint64_t videoSampleDeltaOf(const RepairFile& e) {
    if (e.stts_data.size() >= 24) return readU32BE(e.stts_data.data() + e.stts_data.size() - 4);
    return e.firstVideoSampleDelta;
}
}  // namespace

TimingInput timingInputFrom(const RepairFile& e) {
    TimingInput in;
    in.flags = e.flags;
    in.n = usableVideoSamples(e);
    in.audioChunks = usableAudioChunks(e);
    in.timeScale = e.mvhd_timescale;
    in.duration = e.duratonFPS;
    in.audioTimeScale = e.mdhdAudioTimeScale;
    in.audioDuration = e.Audio_duratonFPS;
    in.refVideoSamples = e.dw_ReffrenceSamplecount;
    in.refAudioSamples = e.dw_ReffrenceSamplecountAudio;
    in.firstVideoDelta = e.firstVideoSampleDelta;
    in.videoSampleDelta = videoSampleDeltaOf(e);
    in.videoMediaTimeScale = mediaTimeScaleOf(e.bpMdhdDataStore);
    in.samplesPerAudioChunk = e.Size_ofAudiochunk;
    in.aac = e.mp4aPresent != 0;
    in.stopMotion = e.bIsStopMotionFile != 0;
    return in;
}

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

bool needsCo64(const std::vector<uint64_t>& offsets, uint64_t count) {
    const uint64_t n = std::min<uint64_t>(count, offsets.size());
    return std::any_of(offsets.begin(), offsets.begin() + static_cast<std::ptrdiff_t>(n),
                       [](uint64_t o) { return o > k32BitMax; });
}

uint64_t mjpegChunkCount(uint64_t n) { return (2 * n + 15) / 30; }

namespace {

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

std::vector<uint64_t> mjpegVideoChunkEntries(const RepairFile& e, uint64_t chunkCount, uint64_t mediaEnd) {
    std::vector<uint64_t> out =
        chunkEntries(e.mediaHeaderSize + e.mjpegLeadingAudioSize, e.mjpegVideoChunkOffsets, mediaEnd);
    if (out.size() > chunkCount) out.resize(chunkCount);
    return out;
}

std::vector<uint64_t> mjpegAudioChunkEntries(const RepairFile& e, uint64_t mediaEnd) {
    std::optional<uint64_t> leading;
    if (e.mjpegLeadingAudioSize > 0) leading = e.mediaHeaderSize;
    return chunkEntries(leading, e.mjpegAudioChunkOffsets, mediaEnd);
}

// ---------------------------------------------------------------------------
// General movie atom
// ---------------------------------------------------------------------------

GeneralAtomLayout layoutGeneralMovieAtom(const RepairFile& e, const MovieTiming& t) {
    GeneralAtomLayout l;
    l.n = usableVideoSamples(e);
    l.audioEntries = usableAudioChunks(e);
    l.videoCo64 = needsCo64(e.video_buffer_start, l.n);
    l.audioCo64 = needsCo64(e.Audio_buffer_start, l.audioEntries);

    l.videoStbl = 8 + partAfterTypeCode(e.videoSampleDescription) + 24 + 28 + (20 + 4 * l.n) +
                  chunkTableSize(l.n, l.videoCo64);
    l.videoMinf = 8 + partAfterTypeCode(e.bpMingVmhdDataStore) + e.bpMinfHdlrData.size() + e.bpMinfDinfData.size() +
                  l.videoStbl;
    l.videoMdia = 8 + mediaHeaderPart(e.bpMdhdDataStore) + handlerPart(e.bpHdlrDataStore) + l.videoMinf;
    l.videoTrak = kTrakFixed + l.videoMdia;

    const uint64_t a0 = l.audioEntries;
    uint64_t tables = 0;
    if (a0 == 0) tables = 16 + 16 + 20 + 16;  // empty stts, stsc, stsz, stco
    else tables = 24 + 28 + (e.mp4aPresent ? 20 + 4 * a0 : 20) + chunkTableSize(a0, l.audioCo64);
    l.audioStbl = 8 + partAfterTypeCode(e.Audio_stsd_data) + tables;
    l.audioMinf = 8 + partAfterTypeCode(e.bpAudioMingSmhdDataStore) + e.bpAudioMinfHdlrData.size() +
                  e.bpAudioMinfDinfData.size() + l.audioStbl;
    l.audioMdia = 8 + mediaHeaderPart(e.bpMdhdAudioDataStore) + handlerPart(e.bpHdlrAudioDataStore) + l.audioMinf;
    l.audioTrak = kTrakFixed + l.audioMdia;

    l.moov = kMoovFixed + l.videoTrak + (t.audioTrackInsideMovie ? l.audioTrak : 0);
    return l;
}

namespace {

// The reference pieces of one track, from its media atom down to the sample
// description, with the container sizes worked out beforehand.
struct TrackMediaPieces {
    uint64_t mdiaSize, minfSize, stblSize;
    const std::vector<uint8_t>& mediaHeader;
    uint32_t mediaDuration;
    const std::vector<uint8_t>& handler;
    const std::vector<uint8_t>& minfOpening;     // "minf" + vmhd or smhd
    const std::vector<uint8_t>& dataHandler;
    const std::vector<uint8_t>& dataInformation;
    const std::vector<uint8_t>& sampleDescription;  // "stbl" + stsd
};

void writeMediaUpToSampleTables(OutputWriter& out, const TrackMediaPieces& p) {
    out.appendU32BE(low32(p.mdiaSize));
    out.appendFourCC("mdia");
    writeMediaHeaderAndHandler(out, p.mediaHeader, p.mediaDuration, p.handler);
    out.appendU32BE(low32(p.minfSize));
    writeOpeningPiece(out, p.minfOpening, "minf");
    out.append(p.dataHandler);
    out.append(p.dataInformation);
    out.appendU32BE(low32(p.stblSize));
    writeOpeningPiece(out, p.sampleDescription, "stbl");
}

}  // namespace

bool appendGeneralMovieAtom(RepairFile& e, const GeneralAtomLayout& l, const MovieTiming& t) {
    OutputWriter& out = e.outputfile;

    out.appendU32BE(low32(l.moov));
    out.appendFourCC("moov");
    out.appendU32BE(0x6C);
    out.appendFourCC("mvhd");
    out.appendU32BE(0);
    out.appendU32BE(0xCAA25B8C);
    out.appendU32BE(0xCAA25B8C);
    out.appendU32BE(low32(t.timeScale));
    out.appendU32BE(t.movieDuration);
    writeMovieHeaderTail(out);

    writeTrackHeaderStart(out, l.videoTrak, 0xC9B7BFD8, 0xCADFC842, 1, t.videoDuration);
    out.appendZeros(16);
    // Matrix, width and height of the reference track header (12 bytes
    // further on in a version-1 header, whose times are 64-bit); a header too
    // short to hold them gets the identity matrix and no size.
    const size_t geometry = (e.trak_data.size() >= 104 && e.trak_data[8] == 1) ? 60 : 48;
    if (e.trak_data.size() >= geometry + 44) {
        out.append(e.trak_data.data() + geometry, 44);
    } else {
        writeMatrix(out, 0x40000000);
        out.appendZeros(8);
    }

    writeMediaUpToSampleTables(out, {l.videoMdia, l.videoMinf, l.videoStbl, e.bpMdhdDataStore, t.videoMediaDuration,
                                      e.bpHdlrDataStore, e.bpMingVmhdDataStore, e.bpMinfHdlrData, e.bpMinfDinfData,
                                      e.videoSampleDescription});

    // One stts entry: every sample lasts the reference's last delta.
    writeOneEntryTimeToSample(out, low32(l.n), low32(videoSampleDeltaOf(e)));
    writeOneEntrySampleToChunk(out, 1);
    writeSampleSizesHead(out, l.n);
    for (uint64_t i = 0; i < l.n; ++i) out.appendU32BE(low32(e.video_buffer_size[i]));

    writeChunkTableHeader(out, l.n, l.videoCo64);
    for (uint64_t i = 0; i < l.n; ++i) writeChunkOffset(out, e.video_buffer_start[i], l.videoCo64);
    return !out.failed();
}

bool appendGeneralAudioTrack(RepairFile& e, const GeneralAtomLayout& l, const MovieTiming& t) {
    OutputWriter& out = e.outputfile;
    const bool aac = e.mp4aPresent != 0;
    const uint64_t a0 = l.audioEntries;

    writeTrackHeaderStart(out, l.audioTrak, 0xC60F8ACE, 0xCAD441C4, 2, t.audioTrackDuration);
    writeSoundTrackHeaderTail(out, 0x40000000);

    writeMediaUpToSampleTables(out, {l.audioMdia, l.audioMinf, l.audioStbl, e.bpMdhdAudioDataStore,
                                      t.audioMediaDuration, e.bpHdlrAudioDataStore, e.bpAudioMingSmhdDataStore,
                                      e.bpAudioMinfHdlrData, e.bpAudioMinfDinfData, e.Audio_stsd_data});

    if (a0 == 0) {
        // Nothing found: tables without entries.
        out.appendU32BE(16);
        out.appendFourCC("stts");
        out.appendU32BE(0);
        out.appendU32BE(0);
        out.appendU32BE(16);
        out.appendFourCC("stsc");
        out.appendU32BE(0);
        out.appendU32BE(0);
        out.appendU32BE(20);
        out.appendFourCC("stsz");
        out.appendU32BE(0);
        out.appendU32BE(aac ? 0 : 1);
        out.appendU32BE(0);
        writeChunkTableHeader(out, 0, false);
        return !out.failed();
    }

    const uint32_t pcmSamples = low32(mulSat(a0, e.Size_ofAudiochunk));
    writeOneEntryTimeToSample(out, aac ? low32(a0) : pcmSamples, aac ? t.audioSampleDelta : 1);
    writeOneEntrySampleToChunk(out, aac ? 1 : low32(e.Size_ofAudiochunk));
    if (aac) {
        writeSampleSizesHead(out, a0);
        for (uint64_t i = 0; i < a0; ++i) out.appendU32BE(low32(e.Audio_buffer_size[i]));
    } else {
        writeOneByteSampleSizes(out, pcmSamples);
    }

    writeChunkTableHeader(out, a0, l.audioCo64);
    for (uint64_t i = 0; i < a0; ++i) writeChunkOffset(out, e.Audio_buffer_start[i], l.audioCo64);
    return !out.failed();
}

// ---------------------------------------------------------------------------
// MJPEG movie atom
// ---------------------------------------------------------------------------

MjpegAtomLayout layoutMjpegMovieAtom(const RepairFile& e, uint64_t mediaEnd) {
    MjpegAtomLayout l;
    l.n = std::min<uint64_t>(e.sample_count, e.mjpegFrameLengths.size());
    l.videoChunks = mjpegVideoChunkEntries(e, mjpegChunkCount(l.n), mediaEnd);
    l.audioChunks = mjpegAudioChunkEntries(e, mediaEnd);
    l.videoCo64 = needsCo64(l.videoChunks, l.videoChunks.size());
    l.audioCo64 = needsCo64(l.audioChunks, l.audioChunks.size());

    l.videoStbl = 8 + partAfterTypeCode(e.videoSampleDescription) + 24 + 28 + (20 + 4 * l.n) +
                  chunkTableSize(l.videoChunks.size(), l.videoCo64);
    l.videoMinf = kMjpegVideoMinfFixed + l.videoStbl;
    l.videoMdia = kMjpegMdiaFixed + l.videoMinf;
    l.videoTrak = kTrakFixed + l.videoMdia;

    l.audioStbl = 8 + partAfterTypeCode(e.Audio_stsd_data) + 24 + 28 + 20 +
                  chunkTableSize(l.audioChunks.size(), l.audioCo64);
    l.audioMinf = kMjpegAudioMinfFixed + l.audioStbl;
    l.audioMdia = kMjpegMdiaFixed + l.audioMinf;
    l.audioTrak = kTrakFixed + l.audioMdia;

    l.moov = kMoovFixed + l.videoTrak + (l.audioChunks.empty() ? 0 : l.audioTrak);
    return l;
}

AtomWrite appendMjpegMovieAtom(RepairFile& e, const MjpegAtomLayout& l) {
    OutputWriter& out = e.outputfile;
    const uint32_t n = low32(l.n);
    auto stopped = [&e](uint64_t i) { return i % kPollEvery == 0 && pollStopAndPause(e.pauseFlag()); };

    out.appendU32BE(low32(l.moov));
    out.appendFourCC("moov");
    out.appendU32BE(0x6C);
    out.appendFourCC("mvhd");
    out.appendU32BE(0);
    out.appendU32BE(0xC28C93D9);
    out.appendU32BE(0xC28C93D9);
    out.appendU32BE(30);
    out.appendU32BE(n);
    writeMovieHeaderTail(out);

    writeTrackHeaderStart(out, l.videoTrak, 0xCA167A3B, 0xCA167A3B, 1, n);
    out.appendZeros(16);
    writeMatrix(out, 0x40000000);
    out.appendU32BE(0x02800000);  // 640
    out.appendU32BE(0x01E00000);  // 480

    writeMjpegMediaHeader(out, l.videoMdia, 30, n);
    writeMjpegHandler(out, "vide");
    out.appendU32BE(low32(l.videoMinf));
    out.appendFourCC("minf");
    out.appendU32BE(0x14);
    out.appendFourCC("vmhd");
    out.appendU32BE(1);
    out.appendU16BE(0x0040);
    out.appendU16BE(0x8000);
    out.appendU16BE(0x8000);
    out.appendU16BE(0x8000);
    writeMjpegDataHandlerAndDinf(out);

    out.appendU32BE(low32(l.videoStbl));
    writeOpeningPiece(out, e.videoSampleDescription, "stbl");
    writeOneEntryTimeToSample(out, n, 1);
    writeOneEntrySampleToChunk(out, 15);  // fifteen frames per chunk
    writeSampleSizesHead(out, l.n);
    for (uint64_t i = 0; i < l.n; ++i) {
        if (stopped(i)) return AtomWrite::Stopped;
        out.appendU32BE(low32(e.mjpegFrameLengths[i]));
    }

    writeChunkTableHeader(out, l.videoChunks.size(), l.videoCo64);
    for (uint64_t i = 0; i < l.videoChunks.size(); ++i) {
        if (stopped(i)) return AtomWrite::Stopped;
        writeChunkOffset(out, l.videoChunks[i], l.videoCo64);
    }
    return out.failed() ? AtomWrite::Failed : AtomWrite::Written;
}

AtomWrite appendMjpegAudioTrack(RepairFile& e, const MjpegAtomLayout& l) {
    OutputWriter& out = e.outputfile;
    const uint64_t y = l.audioChunks.size();
    const uint32_t samples = low32(mulSat(e.Size_ofAudiochunk, y));

    writeTrackHeaderStart(out, l.audioTrak, 0xCA160A3B, 0xCA167A3B, 2, low32(l.n));
    writeSoundTrackHeaderTail(out, 0x28000000);

    writeMjpegMediaHeader(out, l.audioMdia, 8000, samples);
    writeMjpegHandler(out, "soun");
    out.appendU32BE(low32(l.audioMinf));
    out.appendFourCC("minf");
    out.appendU32BE(0x10);
    out.appendFourCC("smhd");
    out.appendU32BE(0);
    out.appendU32BE(0);
    writeMjpegDataHandlerAndDinf(out);

    out.appendU32BE(low32(l.audioStbl));
    writeOpeningPiece(out, e.Audio_stsd_data, "stbl");
    writeOneEntryTimeToSample(out, samples, 1);
    writeOneEntrySampleToChunk(out, low32(e.Size_ofAudiochunk));
    writeOneByteSampleSizes(out, samples);

    writeChunkTableHeader(out, y, l.audioCo64);
    for (uint64_t i = 0; i < y; ++i) {
        if (i % kPollEvery == 0 && pollStopAndPause(e.pauseFlag())) return AtomWrite::Stopped;
        writeChunkOffset(out, l.audioChunks[i], l.audioCo64);
    }
    return out.failed() ? AtomWrite::Failed : AtomWrite::Written;
}

}  // namespace arbel

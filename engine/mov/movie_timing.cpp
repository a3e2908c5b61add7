// Timing of the repaired movie: the class of the camera, its family's
// profile values, the durations written and the rate and length reported.
#include "movie_timing.h"

#include "engine/byte_order.h"
#include "reference_analysis.h"
#include "reference_templates.h"
#include "sample_tables.h"

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <limits>

namespace arbel {

namespace {

uint64_t mulSat(uint64_t a, uint64_t b) {
    if (a != 0 && b > std::numeric_limits<uint64_t>::max() / a) return std::numeric_limits<uint64_t>::max();
    return a * b;
}

// A zero divisor means "no value": the quotient is 0, never a trap.
uint64_t quotient(uint64_t a, uint64_t b) { return b == 0 ? 0 : a / b; }

uint32_t low32(uint64_t v) { return static_cast<uint32_t>(v); }
uint32_t wrapMul(uint32_t a, uint32_t b) { return static_cast<uint32_t>(static_cast<uint64_t>(a) * b); }

// The cameras whose written durations follow their family's profile (each
// family's profile holds for a few more flags than these).
bool timedByAudioPacedProfile(const CameraFlags& f) { return f.bHero115 || f.bH3B || f.bGH5 || f.bHero130 || f.bP520; }
bool timedByNtscProfile(const CameraFlags& f) { return f.bCanon1DXMarkII || f.bSonyAX33; }
bool timedByCanonCompactProfile(const CameraFlags& f) {
    return f.bVixia || f.bCanonG9XMarkII || f.bCanonG7XMarkII || f.bCanonRebelT6i;
}

constexpr PerChunk kNone{};
constexpr PerChunk kOne{1, 1};
constexpr PerChunk kHalf{1, 2};
constexpr PerChunk kAacHalfFrame{512, 1};   // 1024-sample AAC frames counted at half rate
constexpr PerChunk kAacFrame{1024, 1};

// Later rows replace earlier ones.
const TimingProfile kAudioPacedProfiles[] = {
    {"1001 per frame, AAC (P520, HERO 115, audio 01 98 DA)",
     [](const CameraFlags& f) { return f.bP520 || f.bHero115 || f.bAudioSig0198DA; }, 1001, kAacHalfFrame, kAacFrame,
     kAacHalfFrame},
    {"the reference's own delta, half-rate audio (GH5)", [](const CameraFlags& f) { return f.bGH5; }, 0, kHalf, kOne,
     kHalf},
    {"11297 per frame, AAC (audio 01 34 99)", [](const CameraFlags& f) { return f.bAudioSig013499; }, 11297,
     kAacHalfFrame, kAacFrame, kAacHalfFrame},
    {"512 per frame, AAC (audio 21 1C 44)", [](const CameraFlags& f) { return f.bAudioFirst211C44; }, 512,
     kAacHalfFrame, kAacFrame, kAacHalfFrame},
    {"3003 per frame, AAC (HERO 130, H3B)", [](const CameraFlags& f) { return f.bHero130 || f.bH3B; }, 3003,
     kAacHalfFrame, kAacFrame, kAacHalfFrame},
};

const TimingProfile kSignatureProfile{
    "1001 per frame (signature at 48 or 64)",
    [](const CameraFlags& f) { return f.bSignature0Bg || f.bSignature64; }, 1001, kNone, kNone, kNone};

const TimingProfile kNtscProfile{"1001 per frame, one unit per audio chunk (EOS-1D X Mark II, Sony)",
                                 [](const CameraFlags& f) {
                                     return f.bCanon1DXMarkII || f.bSonyAX33 || f.bSonyAX1E || f.bSonyAX53 ||
                                            f.bSonyA7S || f.bSonyA7SM2 || f.bSonyAX100;
                                 },
                                 1001, kOne, kOne, kNone};

const TimingProfile kCanonCompactProfile{"1000 per frame, AAC (VIXIA, G9 X/G7 X Mark II, Rebel T6i, audio 20 6C)",
                                         [](const CameraFlags& f) {
                                             return timedByCanonCompactProfile(f) || f.bAudioFirst20_6C;
                                         },
                                         1000, kAacHalfFrame, kAacFrame, kAacHalfFrame};

const TimingProfile kGh4Profile{"3003 per frame, one unit per audio chunk (GH4)",
                                [](const CameraFlags& f) { return f.bGH4; }, 3003, kOne, kOne, kNone};

ProfileValues valuesOf(const TimingProfile& p, uint32_t n, uint32_t chunks, uint64_t firstVideoDelta) {
    ProfileValues v;
    v.profile = p.name;
    v.frameDelta = p.frameDelta != 0 ? p.frameDelta : low32(firstVideoDelta);
    v.videoDuration = wrapMul(n, v.frameDelta);
    if (p.movieSpan.given()) v.movieSpan = std::max(p.movieSpan.of(chunks), v.videoDuration);
    v.audioMedia = p.audioMedia.of(chunks);
    v.audioTrack = p.audioTrack.of(chunks);
    return v;
}

}  // namespace

uint32_t PerChunk::of(uint32_t chunks) const { return given() ? wrapMul(chunks, times) / per : 0; }

TimingClass timingClassOf(const CameraFlags& f) {
    if (f.bSonyA6500 || f.bSonyAX33 || f.bHero130 || f.bP520 || f.bH3B || f.bGH5 || f.bGH4 || f.bCanonRebelT6i ||
        f.bVixia || f.bCanonG7XMarkII || f.bCanonG9XMarkII || f.bSignature64 || f.bHero115 || f.bCanon1DXMarkII)
        return TimingClass::ProfileTimed;
    if (f.bCanon && !f.bCanon5DMarkIV && !f.bCanon70D) return TimingClass::CanonTimed;
    return TimingClass::ReferenceTimed;
}

CameraTimingValues cameraTimingValues(const CameraFlags& f, uint64_t n, uint64_t audioChunksFound,
                                      uint64_t firstVideoDelta) {
    const uint32_t n32 = low32(n);
    const uint32_t a = low32(audioChunksFound);
    CameraTimingValues c;
    for (const TimingProfile& p : kAudioPacedProfiles)
        if (p.holds(f)) c.audioPaced = valuesOf(p, n32, a, firstVideoDelta);
    const std::pair<const TimingProfile*, ProfileValues CameraTimingValues::*> families[] = {
        {&kSignatureProfile, &CameraTimingValues::signature},
        {&kNtscProfile, &CameraTimingValues::ntsc},
        {&kCanonCompactProfile, &CameraTimingValues::canonCompact},
        {&kGh4Profile, &CameraTimingValues::gh4},
    };
    for (const auto& [profile, slot] : families)
        if (profile->holds(f)) c.*slot = valuesOf(*profile, n32, a, firstVideoDelta);
    return c;
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
            // A reference duration shorter than the frames is taken as
            // seconds. A duration measured from the recording is right as
            // it is, however slow its frames (under one a second the quotient
            // is 0 too), and must keep agreeing with the media's own.
            if (recordingMediaSpan == 0 && quotient(mulSat(in.n, ts), t.duration) == 0) t.duration = t.duration / ts;
            t.classFrameRate = quotient(mulSat(in.n, ts), t.duration);
        }
    }

    const CameraTimingValues& c = t.camera = cameraTimingValues(f, in.n, in.audioChunks, in.firstVideoDelta);

    uint32_t v = low32(t.duration);
    if (timedByAudioPacedProfile(f)) v = c.audioPaced.videoDuration;
    if (f.bSignature64) v = c.signature.videoDuration;
    if (timedByCanonCompactProfile(f)) v = c.canonCompact.videoDuration;
    if (f.bGH4) v = c.gh4.videoDuration;
    if (timedByNtscProfile(f)) v = c.ntsc.videoDuration;
    t.videoDuration = v;
    t.movieDuration = (f.bSignature0Bg || f.bSignature64) ? c.signature.videoDuration : v;
    // The media header counts in the media's own time scale: the measured
    // span, or the movie-scale duration converted when the two scales differ.
    if (recordingMediaSpan != 0) {
        t.videoMediaDuration = low32(recordingMediaSpan);
    } else if (in.videoMediaTimeScale != 0 && in.videoMediaTimeScale != ts) {
        t.videoMediaDuration = low32(quotient(mulSat(v, in.videoMediaTimeScale), ts));
    } else {
        t.videoMediaDuration = v;
    }

    uint32_t trackDuration = low32(t.duration);
    if (f.bCanonRebelT6i || f.bAudioSig013499 || timedByAudioPacedProfile(f)) trackDuration = c.audioPaced.audioTrack;
    if (timedByCanonCompactProfile(f)) trackDuration = c.canonCompact.audioTrack;
    if (f.bCanon1DXMarkII) trackDuration = 0;
    if (f.bGH4) trackDuration = low32(in.audioChunks);
    t.audioTrackDuration = trackDuration;

    if (in.aac) {
        const uint64_t aref = f.bSignature64 ? 1 : in.refAudioSamples;
        const uint64_t q = quotient(mulSat(aref, t.audioTimeScale), t.audioDuration);
        // Q = 0 would divide by zero: fall back to 1024 samples per AAC frame.
        const uint64_t x0 = q == 0 ? mulSat(1024, A) : mulSat(t.audioTimeScale, A) / q;
        uint32_t x = low32(x0);
        if (f.bAudioFirst211C44 || f.bAudioSig0198DA || f.bHero115 || f.bH3B || f.bGH5 || f.bHero130)
            x = c.audioPaced.audioMedia;
        if (timedByCanonCompactProfile(f)) x = c.canonCompact.audioMedia;
        if (f.bGH4) x = c.gh4.audioMedia;
        if (f.bCanon1DXMarkII) x = c.ntsc.audioMedia;
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
        if (timedByCanonCompactProfile(f)) fps = ts / 1000;
        if (f.bGH4) fps = ts / 3003;
        if (timedByNtscProfile(f)) fps = ts / 1001;
        if (timedByAudioPacedProfile(f)) fps = quotient(ts, c.audioPaced.frameDelta);
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
        if (timedByAudioPacedProfile(f)) s = c.audioPaced.movieSpan / ts;
        if (f.bSignature64) s = c.signature.videoDuration / ts;
        if (timedByCanonCompactProfile(f)) s = c.canonCompact.movieSpan / ts;
        if (f.bGH4) s = c.gh4.movieSpan / ts;
        if (timedByNtscProfile(f)) s = c.ntsc.movieSpan / ts;
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

uint64_t videoSampleDeltaOf(const ReferenceTemplates& t) {
    if (t.stts_data.size() >= 24) return readU32BE(t.stts_data.data() + t.stts_data.size() - 4);
    return t.firstVideoSampleDelta;
}

TimingInput timingInputFrom(const ReferenceAnalysis& a, const ReferenceTemplates& t, const SampleTables& tables) {
    TimingInput in;
    in.flags = a.flags;
    in.n = tables.sample_count();
    in.audioChunks = tables.Avc_audioCount();
    in.timeScale = t.mvhd_timescale;
    in.duration = t.duratonFPS;
    in.audioTimeScale = t.mdhdAudioTimeScale;
    in.audioDuration = t.Audio_duratonFPS;
    in.refVideoSamples = t.dw_ReffrenceSamplecount;
    in.refAudioSamples = t.dw_ReffrenceSamplecountAudio;
    in.firstVideoDelta = t.firstVideoSampleDelta;
    in.videoSampleDelta = videoSampleDeltaOf(t);
    in.videoMediaTimeScale = mediaTimeScaleOf(t.bpMdhdDataStore);
    in.samplesPerAudioChunk = t.Size_ofAudiochunk;
    in.aac = a.mp4aPresent != 0;
    in.stopMotion = a.bIsStopMotionFile != 0;
    return in;
}

}  // namespace arbel

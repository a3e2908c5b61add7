// Timing classes, camera rule values and the reported frame rate and duration.
#include "engine/mov/movie_atom.h"

#include <gtest/gtest.h>

#include <functional>

namespace arbel {
namespace {

// 300 frames of 29.97 fps material with 120 AAC chunks, as a reference gives it.
TimingInput typicalInput() {
    TimingInput in;
    in.n = 300;
    in.audioChunks = 120;
    in.timeScale = 30000;
    in.duration = 300300;
    in.audioTimeScale = 48000;
    in.audioDuration = 480000;
    in.refVideoSamples = 300;
    in.refAudioSamples = 469;
    in.firstVideoDelta = 1001;
    in.samplesPerAudioChunk = 1024;
    in.aac = true;
    return in;
}

TEST(TimingClass, FollowsTheCameraProfileThenCanonThenReference) {
    using Set = std::function<void(CameraFlags&)>;
    const std::vector<std::pair<Set, TimingClass>> cases = {
        {[](CameraFlags&) {}, TimingClass::ReferenceTimed},
        {[](CameraFlags& f) { f.bSonyA6500 = true; }, TimingClass::ProfileTimed},
        {[](CameraFlags& f) { f.bSonyAX33 = true; }, TimingClass::ProfileTimed},
        {[](CameraFlags& f) { f.bHero130 = true; }, TimingClass::ProfileTimed},
        {[](CameraFlags& f) { f.bP520 = true; }, TimingClass::ProfileTimed},
        {[](CameraFlags& f) { f.bH3B = true; }, TimingClass::ProfileTimed},
        {[](CameraFlags& f) { f.bGH5 = true; }, TimingClass::ProfileTimed},
        {[](CameraFlags& f) { f.bGH4 = true; }, TimingClass::ProfileTimed},
        {[](CameraFlags& f) { f.bCanonRebelT6i = true; }, TimingClass::ProfileTimed},
        {[](CameraFlags& f) { f.bVixia = true; }, TimingClass::ProfileTimed},
        {[](CameraFlags& f) { f.bCanonG7XMarkII = true; }, TimingClass::ProfileTimed},
        {[](CameraFlags& f) { f.bCanonG9XMarkII = true; }, TimingClass::ProfileTimed},
        {[](CameraFlags& f) { f.bSignature64 = true; }, TimingClass::ProfileTimed},
        {[](CameraFlags& f) { f.bHero115 = true; }, TimingClass::ProfileTimed},
        {[](CameraFlags& f) { f.bCanon1DXMarkII = true; }, TimingClass::ProfileTimed},
        {[](CameraFlags& f) { f.bCanon = true; }, TimingClass::CanonTimed},
        {[](CameraFlags& f) { f.bCanon = f.bCanon5DMarkIV = true; }, TimingClass::ReferenceTimed},
        {[](CameraFlags& f) { f.bCanon = f.bCanon70D = true; }, TimingClass::ReferenceTimed},
        {[](CameraFlags& f) { f.bCanon = f.bHero115 = true; }, TimingClass::ProfileTimed},
        // Flags outside the profile list leave the class alone.
        {[](CameraFlags& f) { f.bSonyAX1E = f.bSignature0Bg = f.bAudioFirst211C44 = true; },
         TimingClass::ReferenceTimed},
    };
    for (size_t i = 0; i < cases.size(); ++i) {
        CameraFlags f;
        cases[i].first(f);
        EXPECT_EQ(timingClassOf(f), cases[i].second) << "case " << i;
    }
}

TEST(ReferenceTiming, FrameRateAndDurationComeFromTheReferenceMovie) {
    const MovieTiming t = computeMovieTiming(typicalInput());
    EXPECT_EQ(t.timingClass, TimingClass::ReferenceTimed);
    EXPECT_EQ(t.fps, 29u);                               // 300 * 30000 / 300300
    EXPECT_EQ(t.videoDuration, 300300u);
    EXPECT_EQ(t.movieDuration, 300300u);
    EXPECT_EQ(t.audioTrackDuration, 300300u);
    EXPECT_EQ(t.seconds, 10u);                           // (9000000 / 29) / 30000
    EXPECT_EQ(durationText(t.seconds), "0:0:10");
    EXPECT_EQ(t.tracks, 2);
    EXPECT_TRUE(t.audioTrackInsideMovie);
}

TEST(ReferenceTiming, AReferenceTooLongForTheRecordingIsScaledDownFirst) {
    TimingInput in = typicalInput();
    in.duration = 10000000;                              // n * ts / D = 0
    const MovieTiming t = computeMovieTiming(in);
    EXPECT_EQ(t.duration, 333u);                         // D / ts
    EXPECT_EQ(t.videoDuration, 333u);
    EXPECT_EQ(t.fps, 27027u);                            // 9000000 / 333
}

TEST(ReferenceTiming, ZeroFrameRateFallsBackTo29AndStopMotionTo10) {
    TimingInput in = typicalInput();
    in.n = 1;
    in.timeScale = 1;
    in.duration = 5;                                     // 1/5 = 0: D = 5, F = 1/5 = 0
    MovieTiming t = computeMovieTiming(in);
    EXPECT_EQ(t.fps, 29u);
    EXPECT_EQ(t.seconds, 0u);

    in = typicalInput();
    in.stopMotion = true;
    t = computeMovieTiming(in);
    EXPECT_EQ(t.fps, 10u);
    EXPECT_EQ(t.seconds, 30u);                           // (300 * 30000 / 10) / 30000
    EXPECT_EQ(t.tracks, 1);
    EXPECT_FALSE(t.audioTrackWritten);
    EXPECT_FALSE(t.audioTrackInsideMovie);
}

// The track header counts in the movie's time scale, the media header in the
// media's own: whatever the camera family, the two must say the same length,
// also for recordings slower than one frame a second.
TEST(VideoDurations, TheTrackAndTheMediaHeaderSayTheSameLength) {
    struct Case {
        const char* name;
        uint64_t frames;
        double secondsPerFrame;
        void (*set)(CameraFlags&);
    };
    const Case cases[] = {
        {"reference timed", 300, 1001.0 / 30000, [](CameraFlags&) {}},
        {"reference timed, one frame every three seconds", 3, 3.0, [](CameraFlags&) {}},
        {"Canon timed", 300, 1001.0 / 30000, [](CameraFlags& f) { f.bCanon = true; }},
        {"profile timed (GH4)", 300, 1001.0 / 30000, [](CameraFlags& f) { f.bGH4 = true; }},
        {"profile timed (VIXIA)", 300, 1001.0 / 30000, [](CameraFlags& f) { f.bVixia = true; }},
    };
    for (const Case& c : cases) {
        for (const uint64_t mediaScale : {uint64_t{30000}, uint64_t{90000}, uint64_t{15360}}) {
            SCOPED_TRACE(std::string(c.name) + ", media time scale " + std::to_string(mediaScale));
            TimingInput in = typicalInput();
            c.set(in.flags);
            in.n = c.frames;
            in.videoMediaTimeScale = mediaScale;
            in.videoSampleDelta = static_cast<uint64_t>(c.secondsPerFrame * static_cast<double>(mediaScale) + 0.5);
            const MovieTiming t = computeMovieTiming(in);
            const double track = double(t.videoDuration) / double(t.timeScale);
            const double media = double(t.videoMediaDuration) / double(mediaScale);
            EXPECT_NEAR(track, media, 0.002) << t.videoDuration << " / " << t.timeScale << " against "
                                             << t.videoMediaDuration << " / " << mediaScale;
            EXPECT_EQ(t.movieDuration, t.videoDuration);
        }
    }
}

TEST(ReferenceTiming, MissingReferenceValuesTakeTheirDefaults) {
    TimingInput in = typicalInput();
    in.timeScale = in.duration = in.audioTimeScale = in.audioDuration = 0;
    const MovieTiming t = computeMovieTiming(in);
    EXPECT_EQ(t.timeScale, 1000u);
    EXPECT_EQ(t.duration, 5000u);                        // 300 * 1000 / 5000 = 60, kept
    EXPECT_EQ(t.audioTimeScale, 1000u);
    EXPECT_EQ(t.audioDuration, 5000u);
    EXPECT_EQ(t.fps, 60u);
}

TEST(CanonTiming, TheMovieLastsOneSecondPerAudioChunk) {
    TimingInput in = typicalInput();
    in.flags.bCanon = true;
    MovieTiming t = computeMovieTiming(in);
    EXPECT_EQ(t.timingClass, TimingClass::CanonTimed);
    EXPECT_EQ(t.fps, 29u);                               // reference count * ts / D
    EXPECT_EQ(t.duration, 30000u * 120u);
    EXPECT_EQ(t.videoDuration, 3600000u);
    EXPECT_EQ(t.movieDuration, 3600000u);
    EXPECT_EQ(t.audioTrackDuration, 3600000u);
    EXPECT_EQ(t.seconds, 120u);
    EXPECT_EQ(durationText(t.seconds), "0:2:0");

    // A reference count of 0 gives no frame rate; only the reference class falls back to 29.
    in.refVideoSamples = 0;
    t = computeMovieTiming(in);
    EXPECT_EQ(t.fps, 0u);
    EXPECT_EQ(t.duration, 3600000u);

    // No audio found: the timing counts the 500 chunks assumed for it.
    in = typicalInput();
    in.flags.bCanon = true;
    in.audioChunks = 0;
    t = computeMovieTiming(in);
    EXPECT_EQ(t.seconds, 500u);
    EXPECT_EQ(t.audioMediaDuration, 0u);                 // but the empty track has no media time
}

TEST(CanonTiming, AnAudioDurationTooLongForTheChunksIsScaledDown) {
    TimingInput in = typicalInput();
    in.flags.bCanon = true;
    in.audioChunks = 2;
    in.audioDuration = 200000;                           // 2 * 48000 / 200000 = 0
    const MovieTiming t = computeMovieTiming(in);
    EXPECT_EQ(t.audioDuration, 4u);                      // 200000 / 48000
    // Q = 469 * 48000 / 4 = 5628000; X0 = 48000 * 2 / Q = 0.
    EXPECT_EQ(t.audioMediaDuration, 0u);
}

TEST(ProfileTiming, Signature64UsesNtscFramesAndPutsTheAudioTrackOutside) {
    TimingInput in = typicalInput();
    in.n = 100;
    in.flags.bSignature64 = true;
    const MovieTiming t = computeMovieTiming(in);
    EXPECT_EQ(t.camera.signature.videoDuration, 100100u);
    EXPECT_EQ(t.videoDuration, 100100u);
    EXPECT_EQ(t.movieDuration, 100100u);
    EXPECT_EQ(t.audioTrackDuration, 300300u);            // D, untouched for this profile
    EXPECT_EQ(t.fps, 29u);                               // 30000 / 1001
    EXPECT_EQ(t.seconds, 3u);                            // 100100 / 30000
    // The reference audio count counts as 1: Q = 48000 / 480000 = 0, so X0 = 1024 * A.
    EXPECT_EQ(t.audioMediaDuration, 1024u * 120u);
    EXPECT_EQ(t.audioSampleDelta, 1024u);
    EXPECT_TRUE(t.audioTrackWritten);
    EXPECT_FALSE(t.audioTrackInsideMovie);
}

TEST(ProfileTiming, Signature0BgChangesOnlyTheMovieDuration) {
    TimingInput in = typicalInput();
    in.n = 200;
    in.flags.bSignature0Bg = true;
    MovieTiming t = computeMovieTiming(in);
    EXPECT_EQ(t.timingClass, TimingClass::ReferenceTimed);
    EXPECT_EQ(t.videoDuration, 300300u);
    EXPECT_EQ(t.movieDuration, 200u * 1001u);
    EXPECT_FALSE(t.audioTrackInsideMovie);               // AAC

    in.aac = false;
    t = computeMovieTiming(in);
    EXPECT_TRUE(t.audioTrackInsideMovie);
}

TEST(ProfileTiming, Canon1DXMarkIIHasAnAudioTrackOfDurationZero) {
    TimingInput in = typicalInput();
    in.n = 200;
    in.flags.bCanon1DXMarkII = true;
    in.flags.bCanon = true;
    const MovieTiming t = computeMovieTiming(in);
    EXPECT_EQ(t.timingClass, TimingClass::ProfileTimed);
    EXPECT_EQ(t.audioTrackDuration, 0u);
    EXPECT_EQ(t.videoDuration, 200u * 1001u);            // VI
    EXPECT_EQ(t.audioMediaDuration, 120u);               // XI = A0
    EXPECT_EQ(t.fps, 29u);                               // 30000 / 1001
    EXPECT_EQ(t.seconds, 6u);                            // MI / ts = 200200 / 30000
}

TEST(ProfileTiming, GRulesReplaceEachOtherInOrder) {
    struct Case {
        const char* name;
        std::function<void(CameraFlags&)> set;
        uint32_t k;
    };
    const Case cases[] = {
        {"P520", [](CameraFlags& f) { f.bP520 = true; }, 1001},
        {"Hero115", [](CameraFlags& f) { f.bHero115 = true; }, 1001},
        {"0198DA", [](CameraFlags& f) { f.bAudioSig0198DA = true; }, 1001},
        {"GH5", [](CameraFlags& f) { f.bGH5 = true; }, 1001},           // R
        {"013499", [](CameraFlags& f) { f.bAudioSig013499 = true; }, 11297},
        {"211C44", [](CameraFlags& f) { f.bAudioFirst211C44 = true; }, 512},
        {"Hero130", [](CameraFlags& f) { f.bHero130 = true; }, 3003},
        {"H3B", [](CameraFlags& f) { f.bH3B = true; }, 3003},
        {"P520 then 013499", [](CameraFlags& f) { f.bP520 = f.bAudioSig013499 = true; }, 11297},
        {"013499 then Hero130", [](CameraFlags& f) { f.bAudioSig013499 = f.bHero130 = true; }, 3003},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CameraFlags f;
        c.set(f);
        const CameraTimingValues c4 = cameraTimingValues(f, 300, 120, 1001);
        const ProfileValues& r = c4.audioPaced;
        EXPECT_TRUE(r.holds());
        EXPECT_EQ(r.frameDelta, c.k);
        EXPECT_EQ(r.videoDuration, 300u * c.k);
        if (f.bGH5 && !f.bAudioSig013499 && !f.bAudioFirst211C44 && !f.bHero130 && !f.bH3B) {
            EXPECT_EQ(r.movieSpan, 300u * 1001u);               // max(A0 / 2, n * R)
            EXPECT_EQ(r.audioMedia, 120u);
            EXPECT_EQ(r.audioTrack, 60u);
        } else {
            EXPECT_EQ(r.movieSpan, std::max(120u * 512u, 300u * c.k));
            EXPECT_EQ(r.audioMedia, 120u * 1024u);
            EXPECT_EQ(r.audioTrack, 120u * 512u);
        }
    }
    EXPECT_FALSE(cameraTimingValues(CameraFlags{}, 300, 120, 1001).audioPaced.holds());
}

TEST(ProfileTiming, GCamerasReportFromTheirRuleValues) {
    TimingInput in = typicalInput();
    in.flags.bHero130 = true;
    in.audioChunks = 2000;                               // audio span 1024000 beats 300 * 3003
    MovieTiming t = computeMovieTiming(in);
    EXPECT_EQ(t.videoDuration, 900900u);
    EXPECT_EQ(t.audioTrackDuration, 2000u * 512u);
    EXPECT_EQ(t.audioMediaDuration, 2000u * 1024u);
    EXPECT_EQ(t.fps, 9u);                                // 30000 / 3003
    EXPECT_EQ(t.seconds, 34u);                           // 1024000 / 30000

    // GH5 takes the reference's first delta; a delta of 0 gives no rate
    // instead of a division by zero.
    in = typicalInput();
    in.flags.bGH5 = true;
    in.firstVideoDelta = 1001;
    t = computeMovieTiming(in);
    EXPECT_EQ(t.fps, 29u);
    in.firstVideoDelta = 0;
    t = computeMovieTiming(in);
    EXPECT_EQ(t.fps, 0u);
    EXPECT_EQ(t.videoDuration, 0u);
}

TEST(ProfileTiming, AudioFirst211C44AloneKeepsTheReferenceClassButSetsTheAudioMedia) {
    TimingInput in = typicalInput();
    in.flags.bAudioFirst211C44 = true;
    const MovieTiming t = computeMovieTiming(in);
    EXPECT_EQ(t.timingClass, TimingClass::ReferenceTimed);
    EXPECT_EQ(t.videoDuration, 300300u);
    EXPECT_EQ(t.audioTrackDuration, 300300u);
    EXPECT_EQ(t.audioMediaDuration, 120u * 1024u);
}

TEST(ProfileTiming, NarrowJAndGh4Cameras) {
    TimingInput in = typicalInput();
    in.flags.bVixia = true;
    MovieTiming t = computeMovieTiming(in);
    EXPECT_EQ(t.videoDuration, 300000u);
    EXPECT_EQ(t.audioTrackDuration, 120u * 512u);
    EXPECT_EQ(t.audioMediaDuration, 120u * 1024u);
    EXPECT_EQ(t.fps, 30u);
    EXPECT_EQ(t.seconds, 10u);                           // max(61440, 300000) / 30000

    in = typicalInput();
    in.flags.bGH4 = true;
    t = computeMovieTiming(in);
    EXPECT_EQ(t.videoDuration, 300u * 3003u);
    EXPECT_EQ(t.audioTrackDuration, 120u);
    EXPECT_EQ(t.audioMediaDuration, 120u);
    EXPECT_EQ(t.fps, 9u);
    EXPECT_EQ(t.seconds, 30u);                           // 900900 / 30000

    // A profile with no rule of its own reports nothing computed.
    in = typicalInput();
    in.flags.bSonyA6500 = true;
    t = computeMovieTiming(in);
    EXPECT_EQ(t.fps, 0u);
    EXPECT_EQ(t.seconds, 0u);
    EXPECT_EQ(t.videoDuration, 300300u);
}

TEST(AudioMedia, AacDurationAndDeltaComeFromTheReferenceRate) {
    TimingInput in = typicalInput();
    MovieTiming t = computeMovieTiming(in);
    // Q = 469 * 48000 / 480000 = 46; X0 = 48000 * 120 / 46 = 125217.
    EXPECT_EQ(t.audioMediaDuration, 125217u);
    EXPECT_EQ(t.audioSampleDelta, 125217u / 120u);

    in.refAudioSamples = 0;                              // Q = 0: 1024 samples per chunk
    t = computeMovieTiming(in);
    EXPECT_EQ(t.audioMediaDuration, 1024u * 120u);
    EXPECT_EQ(t.audioSampleDelta, 1024u);

    in = typicalInput();
    in.aac = false;
    in.samplesPerAudioChunk = 2002;
    t = computeMovieTiming(in);
    EXPECT_EQ(t.audioMediaDuration, 120u * 2002u);
}

TEST(CameraTimingValues, ProductsOfTheSampleCountWrapAt32Bits) {
    CameraFlags f;
    f.bSignature0Bg = true;
    f.bGH4 = true;
    const CameraTimingValues r = cameraTimingValues(f, 5000000, 7, 0);
    EXPECT_EQ(r.signature.videoDuration, static_cast<uint32_t>(5000000ull * 1001ull));
    EXPECT_EQ(r.gh4.videoDuration, static_cast<uint32_t>(5000000ull * 3003ull));
    EXPECT_EQ(r.gh4.movieSpan, std::max<uint32_t>(7, static_cast<uint32_t>(5000000ull * 3003ull)));
}

TEST(DurationText, HoursMinutesSecondsWithoutPadding) {
    EXPECT_EQ(durationText(95), "0:1:35");
    EXPECT_EQ(durationText(0), "0:0:0");
    EXPECT_EQ(durationText(25 * 3600 + 61), "25:1:1");
    EXPECT_EQ(mjpegDurationText(3725), "1:2:5");
}

TEST(MjpegTiming, ReferenceRateOrTheMovieOwnLength) {
    TimingInput in = typicalInput();
    in.n = 450;
    MjpegTiming m = computeMjpegTiming(in);
    EXPECT_EQ(m.fps, 29u);
    EXPECT_EQ(m.seconds, 15);                            // (30000 * 450 / 29) / 30000

    in.refVideoSamples = 0;                              // no rate: 450 frames at 30 per second
    m = computeMjpegTiming(in);
    EXPECT_EQ(m.fps, 0u);
    EXPECT_EQ(m.seconds, 15);
}

TEST(ChunkTables, Co64OnlyWhenAnOffsetPassesFourGib) {
    EXPECT_FALSE(needsCo64({0, 0xFFFFFFFFull}));
    EXPECT_TRUE(needsCo64({0, 0x100000000ull}));
    EXPECT_FALSE(needsCo64({}));
}

TEST(ChunkTables, MjpegChunkCountRoundsHalvesUp) {
    EXPECT_EQ(mjpegChunkCount(22), 1u);                  // 1.47
    EXPECT_EQ(mjpegChunkCount(23), 2u);                  // 1.53
    EXPECT_EQ(mjpegChunkCount(7), 0u);
    EXPECT_EQ(mjpegChunkCount(8), 1u);
    EXPECT_EQ(mjpegChunkCount(30), 2u);
}

}  // namespace
}  // namespace arbel

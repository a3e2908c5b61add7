#pragma once

// What the end-to-end tests of the QuickTime engine share: the clip cache,
// the repair of a damaged recording with the units that came back counted
// against the ones that survived, and the checks that the result plays.

#include "platform/pacing.h"
#include "support/camera_clip.h"
#include "support/engine_run.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace arbel::test {

inline ClipCache& cache() {
    static ClipCache c(ARBEL_CLIP_CACHE);
    return c;
}

struct Recording {
    CameraFile reference;  // healthy clip from the same camera
    CameraFile original;   // the recording before it was damaged
};

struct Outcome {
    MovRepairOutcome run;
    Survivors survived;
    size_t videoFramesRecovered = 0;
    size_t foreignVideo = 0;
    size_t audioUnitsRecovered = 0;
    uint64_t audioBytesRecovered = 0;
    size_t foreignAudio = 0;
};

class EndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        if (!programAvailable("ffmpeg") || !programAvailable("ffprobe"))
            GTEST_SKIP() << "ffmpeg and ffprobe are needed to make and check real recordings";
        Pacing::setMode(Pacing::Mode::Zero);
    }

    // H.264 (320x240, 30 fps, IDR every second) with 24-bit PCM that carries a
    // "wave" extension, one audio chunk after every frame.
    Recording h264WithPcm(AudioCodec codec, bool wave, uint32_t framesPerChunk, const NalHeaders& nal) {
        Recording r;
        std::string error;
        auto refVideo = cache().h264(320, 240, 30, 30, 0, 30, true, error);
        auto recVideo = cache().h264(320, 240, 30, 90, 300, 30, true, error);
        auto audio = cache().audio(codec, 48000, 2, 3.2, 450, error);
        if (!refVideo || !recVideo || !audio) {
            ADD_FAILURE() << error;
            return r;
        }
        EXPECT_EQ(refVideo->sps, recVideo->sps) << "the two clips must share their parameter sets";
        audio->waveExtension = wave;
        LayoutOptions layout;
        layout.framesPerVideoChunk = framesPerChunk;
        layout.nal = nal;
        r.reference = layOutCameraFile(*refVideo, *audio, layout);
        r.original = layOutCameraFile(*recVideo, *audio, layout);
        return r;
    }

    // Checks that the healthy reference itself plays, then repairs.
    Outcome repair(const Recording& recording, const ByteString& damaged, const std::string& videoCodec,
                   ScanChoice scan = ScanChoice::Auto) {
        Outcome o;
        const std::string ref = dir.write("reference.mov", recording.reference.bytes);
        {
            SCOPED_TRACE("the reference as laid out");
            expectPlayable(ref, videoCodec);
        }
        const std::string bad = dir.write("damaged.mov", damaged);
        o.survived = survivorsOf(recording.original, damaged);
        o.run = runMovRepair(ref, bad, scan);
        if (!o.run.completed()) return o;

        std::string error;
        const auto tracks = readTracks(o.run.resultPath, error);
        EXPECT_EQ(error, "");
        for (const auto& track : tracks) {
            if (track.handler == "vide") {
                auto m = matchUnits(o.run.resultPath, track.units, recording.original.bytes,
                                    recording.original.videoFrames, o.survived.videoFrames);
                o.videoFramesRecovered = m.matchedOriginals;
                o.foreignVideo = m.foreign;
            } else if (track.handler == "soun") {
                auto m = matchUnits(o.run.resultPath, track.units, recording.original.bytes,
                                    recording.original.audioUnits, o.survived.audioUnits);
                o.audioUnitsRecovered = m.matchedOriginals;
                o.foreignAudio = m.foreign;
                for (const auto& u : track.units) o.audioBytesRecovered += u.size;
            }
        }
        return o;
    }

    // The result opens in ffprobe with a video stream, and decodes without a
    // single error line.
    static void expectPlayable(const std::string& path, const std::string& videoCodec) {
        ProgramRun probe = runProgram({"ffprobe", "-v", "error", "-show_entries", "stream=codec_type,codec_name",
                                       "-of", "csv=p=0", path});
        EXPECT_EQ(probe.exitCode, 0) << probe.output;
        EXPECT_NE(probe.output.find(videoCodec + ",video"), std::string::npos) << probe.output;
        ProgramRun decode = runProgram({"ffmpeg", "-nostdin", "-v", "error", "-i", path, "-f", "null", "-"});
        EXPECT_EQ(decode.exitCode, 0);
        EXPECT_EQ(decode.output, "") << "decoding the repaired file reported errors";
    }

    static void expectMostVideo(const Outcome& o) {
        ASSERT_FALSE(o.survived.videoFrames.empty());
        EXPECT_GE(o.videoFramesRecovered * 100, o.survived.videoFrames.size() * 95)
            << o.videoFramesRecovered << " of " << o.survived.videoFrames.size() << " intact frames recovered";
        EXPECT_EQ(o.foreignVideo, 0u) << "video samples that are no frame of the recording";
    }
    static void expectMostAudio(const Outcome& o) {
        ASSERT_FALSE(o.survived.audioUnits.empty());
        EXPECT_GE(o.audioUnitsRecovered * 100, o.survived.audioUnits.size() * 95)
            << o.audioUnitsRecovered << " of " << o.survived.audioUnits.size() << " intact audio units recovered";
        EXPECT_EQ(o.foreignAudio, 0u) << "audio chunks that are no chunk of the recording";
    }
    static void report(const char* name, const Outcome& o) {
        std::printf("[%s] variant %s: video %zu/%zu frames, audio %zu/%zu units (%llu of %llu bytes)\n", name,
                    o.run.scanVariant.c_str(), o.videoFramesRecovered, o.survived.videoFrames.size(),
                    o.audioUnitsRecovered, o.survived.audioUnits.size(),
                    static_cast<unsigned long long>(o.audioBytesRecovered),
                    static_cast<unsigned long long>(o.survived.audioBytes));
    }

    TempDir dir;
    ScopedResultBase base{dir.file("results")};
};

// 240 frames of H.264 in one-second chunks (IDR every second), 8.5 s of AAC,
// one audio chunk behind each video chunk.
struct AacCase {
    uint32_t sampleRate;
    uint16_t channels;
    AacEncoding encoding;
    LayoutOptions layout;
};

inline Recording aacRecording(const AacCase& c) {
    Recording r;
    std::string error;
    auto refVideo = cache().h264(320, 240, 30, 120, 0, 30, false, error);
    auto recVideo = cache().h264(320, 240, 30, 240, 300, 30, false, error);
    auto audio = cache().audio(AudioCodec::Aac, c.sampleRate, c.channels, 8.5, 440, error, c.encoding);
    if (!refVideo || !recVideo || !audio) {
        ADD_FAILURE() << error;
        return r;
    }
    EXPECT_EQ(refVideo->sps, recVideo->sps);
    r.reference = layOutCameraFile(*refVideo, *audio, c.layout);
    r.original = layOutCameraFile(*recVideo, *audio, c.layout);
    return r;
}

}  // namespace arbel::test

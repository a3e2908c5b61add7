// Makes a camera-like reference and damaged recording from clips encoded by
// ffmpeg (see tests/support/camera_clip.h). Used by scripts/make-samples.sh.
#include "support/camera_clip.h"
#include "support/temp_dir.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

using namespace arbel::test;

namespace {

int usage() {
    std::fprintf(stderr,
                 "usage: arbel-make-camera-clip --reference OUT --damaged OUT [--cache DIR]\n"
                 "           [--layout generic|sowt|mjpeg] [--damage truncated|header|overwrite]\n"
                 "           [--seconds N] [--reference-seconds N] [--frames-per-chunk N] [--audio-first]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    std::string referencePath, damagedPath, cacheDir = "clip-cache", layoutName = "generic", damage = "truncated";
    double seconds = 2.0, referenceSeconds = 1.0;
    int framesPerChunk = 0;  // 0: the layout's own
    bool audioFirst = false;
    for (int i = 1; i < argc; ++i) {
        auto value = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
        const char* arg = argv[i];
        const char* v = nullptr;
        if (!std::strcmp(arg, "--reference") && (v = value())) referencePath = v;
        else if (!std::strcmp(arg, "--damaged") && (v = value())) damagedPath = v;
        else if (!std::strcmp(arg, "--cache") && (v = value())) cacheDir = v;
        else if (!std::strcmp(arg, "--layout") && (v = value())) layoutName = v;
        else if (!std::strcmp(arg, "--damage") && (v = value())) damage = v;
        else if (!std::strcmp(arg, "--seconds") && (v = value())) seconds = std::atof(v);
        else if (!std::strcmp(arg, "--reference-seconds") && (v = value())) referenceSeconds = std::atof(v);
        else if (!std::strcmp(arg, "--frames-per-chunk") && (v = value())) framesPerChunk = std::atoi(v);
        else if (!std::strcmp(arg, "--audio-first")) audioFirst = true;
        else return usage();
    }
    if (referencePath.empty() || damagedPath.empty() || seconds <= 0 || referenceSeconds <= 0) return usage();

    ClipCache cache(cacheDir);
    std::string error;
    const bool mjpeg = layoutName == "mjpeg";
    const uint32_t fps = 30;
    // The MJPEG reference needs ten chunks of fifteen frames.
    const auto refFrames = static_cast<uint32_t>((mjpeg ? std::max(referenceSeconds, 5.0) : referenceSeconds) * fps);
    const auto recFrames = static_cast<uint32_t>(seconds * fps);
    const double audioSeconds = std::max(seconds, referenceSeconds) + (mjpeg ? 5.5 : 0.5);

    std::optional<VideoStream> refVideo, recVideo;
    std::optional<AudioStream> audio;
    LayoutOptions layout;
    if (mjpeg) {
        refVideo = cache.mjpeg(640, 480, fps, refFrames, 0, error);
        recVideo = cache.mjpeg(640, 480, fps, recFrames, 600, error);
        audio = cache.audio(AudioCodec::Ulaw, 8000, 1, audioSeconds, 400, error);
        layout.framesPerVideoChunk = 15;
        layout.audioFirst = true;
    } else if (layoutName == "generic" || layoutName == "sowt") {
        refVideo = cache.h264(320, 240, fps, refFrames, 0, fps, true, error);
        recVideo = cache.h264(320, 240, fps, recFrames, 300, fps, true, error);
        const bool wave = layoutName == "generic";
        audio = cache.audio(wave ? AudioCodec::In24 : AudioCodec::Sowt, 48000, 2, audioSeconds, 450, error);
        if (audio) audio->waveExtension = wave;
        layout.framesPerVideoChunk = wave ? 1 : 15;
        layout.nal = {0x25, 0x21, false};
    } else {
        return usage();
    }
    if (framesPerChunk > 0) layout.framesPerVideoChunk = static_cast<uint32_t>(framesPerChunk);
    if (audioFirst) layout.audioFirst = true;
    if (!refVideo || !recVideo || !audio) {
        std::fprintf(stderr, "arbel-make-camera-clip: %s\n", error.c_str());
        return 1;
    }

    const CameraFile reference = layOutCameraFile(*refVideo, *audio, layout);
    const CameraFile recording = layOutCameraFile(*recVideo, *audio, layout);
    ByteString damaged;
    const auto& frames = recording.videoFrames;
    if (damage == "truncated") {
        const auto& last = frames[frames.size() * 9 / 10];
        damaged = truncatedRecording(recording, last.offset + last.size / 2);
    } else if (damage == "header") {
        damaged = headerZeroed(recording, 32768);
    } else if (damage == "overwrite") {
        damaged = mediaOverwritten(recording, frames[frames.size() / 3].offset + 64, frames[frames.size() / 2].offset);
    } else {
        return usage();
    }
    writeWholeFile(referencePath, reference.bytes);
    writeWholeFile(damagedPath, damaged);
    const Survivors s = survivorsOf(recording, damaged);
    std::printf("reference: %s (%zu bytes, %zu frames)\n", referencePath.c_str(), reference.bytes.size(),
                reference.videoFrames.size());
    std::printf("damaged:   %s (%zu bytes; %zu of %zu frames and %zu of %zu audio units intact)\n",
                damagedPath.c_str(), damaged.size(), s.videoFrames.size(), frames.size(), s.audioUnits.size(),
                recording.audioUnits.size());
    return 0;
}

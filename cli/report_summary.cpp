#include "report_summary.h"

namespace arbel::cli {
namespace {

std::string orDashes(const std::string& text) { return text.empty() ? "---" : text; }

std::string codecWithFormat(const TrackReport& track, const char* formatWord) {
    std::string text = orDashes(track.codec);
    if (!track.format.empty()) text += " (" + std::string(formatWord) + track.format + ")";
    return text;
}

}  // namespace

std::vector<std::string> summaryLines(const RepairReport& r) {
    std::vector<std::string> lines;
    const bool avi = r.container == "avi";
    lines.push_back("video codec: " + codecWithFormat(r.video, "") + "   audio codec: " +
                    codecWithFormat(r.audio, avi ? "format " : ""));
    if (!avi)
        lines.push_back("frame rate: " + orDashes(r.fps) + " fps   duration: " + orDashes(r.duration) +
                        "   tracks: " + std::to_string(r.tracks));
    lines.push_back(std::string(avi ? "video chunks: " : "video samples: ") + std::to_string(r.video.units) + " (" +
                    std::to_string(r.video.bytes) + " bytes)   audio chunks: " + std::to_string(r.audio.units) + " (" +
                    std::to_string(r.audio.bytes) + " bytes)");
    lines.push_back("scan: " + orDashes(r.scan));
    if (r.playback.ran) lines.push_back("verified: " + r.playback.text());
    return lines;
}

JsonObject summaryJson(const RepairReport& r) {
    JsonObject json;
    json.add("schema", kJsonSchema)
        .add("outcome", outcomeName(r.outcome))
        .add("kind", r.container)
        .add("videoCodec", r.video.codec)
        .add("audioCodec", r.audio.codec)
        .add("videoFormat", r.video.format)
        .add("audioFormat", r.audio.format)
        .add("fps", r.fps)
        .add("duration", r.duration)
        .add("tracks", r.tracks)
        .add("videoSamples", r.video.units)
        .add("videoBytes", r.video.bytes)
        .add("audioChunks", r.audio.units)
        .add("audioBytes", r.audio.bytes)
        .add("scan", r.scan)
        .add("scanVariant", r.scanMarker);
    // What plays, when the repair was asked to verify it; null otherwise.
    const codec::PlaybackCheck& p = r.playback;
    if (p.ran) {
        json.add("verified", p.opened)
            .add("decodedVideoFrames", p.videoFrames)
            .add("videoStart", p.firstSeconds)
            .add("videoEnd", p.lastSeconds)
            .add("decodedAudioSeconds", p.audioSeconds)
            .add("decodeErrors", p.decodeErrors)
            .add("verification", p.text());
    } else {
        for (const char* key : {"verified", "decodedVideoFrames", "videoStart", "videoEnd", "decodedAudioSeconds",
                                "decodeErrors", "verification"})
            json.addNull(key);
    }
    if (!r.reason.empty()) json.add("reason", r.reason);
    return json;
}

}  // namespace arbel::cli

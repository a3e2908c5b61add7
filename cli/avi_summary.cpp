#include "summaries.h"

#include "engine/avi/repair_file_avi.h"

#include <cstdio>

namespace arbel::cli {
namespace {

// The audio stream format's tag (1 PCM, 0x55 MP3, ...), 0 when none was read.
uint64_t audioFormatTag(const RepairFileAvi& engine) {
    const auto& format = engine.audiostrfdata;
    return format.size() >= 2 ? static_cast<uint64_t>(format[0] | (format[1] << 8)) : 0;
}

std::string hexTag(uint64_t tag) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%04llx", static_cast<unsigned long long>(tag));
    return text;
}

std::string orDashes(const std::string& text) { return text.empty() ? "---" : text; }

}  // namespace

RunOutcome runAviRepair(const std::string& resultPath, const ProgressPrinter& printer) {
    RunOutcome outcome;
    RepairFileAvi engine;
    engine.resultPathOverride = resultPath;
    if (!engine.fileValidityCheck()) {
        outcome.refusal = "Invalid corrupted file: select a movie file";
        return outcome;
    }
    engine.retrieveAudioVideoSamples();

    const std::string compression = RepairFileAvi::codecText(engine.videostrfcodecdata);
    const uint64_t formatTag = audioFormatTag(engine);
    outcome.report.add("kind", "avi")
        .add("videoCodec", printer.video)
        .add("audioCodec", printer.audio)
        .add("videoCompression", compression)
        .add("audioFormatTag", formatTag)
        .add("tracks", printer.track)
        .add("videoChunks", engine.videosamplecount)
        .add("audioChunks", engine.audiosamplecount)
        .add("videoBytes", engine.videodatasize)
        .add("audioBytes", engine.audiodatasize)
        .add("bytesCopied", engine.bytesCopied);
    outcome.lines.push_back("video codec: " + orDashes(printer.video) + " (" + orDashes(compression) +
                            ")   audio codec: " + orDashes(printer.audio) + " (format " + hexTag(formatTag) + ")");
    outcome.lines.push_back("chunks found: " + std::to_string(engine.videosamplecount) + " video (" +
                            std::to_string(engine.videodatasize) + " bytes)   " +
                            std::to_string(engine.audiosamplecount) + " audio (" +
                            std::to_string(engine.audiodatasize) + " bytes)");
    outcome.lines.push_back("bytes copied: " + std::to_string(engine.bytesCopied));
    return outcome;
}

}  // namespace arbel::cli

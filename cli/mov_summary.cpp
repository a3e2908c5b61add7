#include "summaries.h"

#include "engine/mov/repair_file.h"
#include "engine/result_location.h"

namespace arbel::cli {

RunOutcome runMovRepair(const std::string& resultPath, const ProgressPrinter& printer) {
    RunOutcome outcome;
    RepairFile engine;
    engine.setBundleIdentifierString(kArbelBundleIdentifier);
    engine.resultPathOverride = resultPath;
    if (!engine.referencefileValidityCheck()) {
        outcome.refusal = "Invalid reference file: select a healthy movie file";
        return outcome;
    }
    if (!engine.corruptedfileValidityCheck()) {
        outcome.refusal = "Invalid corrupted file: select a movie file";
        return outcome;
    }
    engine.repairMOV();

    const std::string variant = engine.scanVariant.empty() ? "none" : engine.scanVariant;
    outcome.report.add("kind", "quicktime")
        .add("videoCodec", printer.video)
        .add("audioCodec", printer.audio)
        .add("fps", printer.fps)
        .add("duration", printer.duration)
        .add("tracks", printer.track)
        .add("videoSamples", engine.sample_count)
        .add("audioChunks", engine.Avc_audioCount)
        .add("videoBytes", engine.Sum_video)
        .add("audioBytes", engine.sum_audio)
        .add("scanVariant", variant);
    outcome.lines.push_back("video codec: " + printer.video + "   audio codec: " + printer.audio);
    outcome.lines.push_back("frame rate: " + printer.fps + " fps   duration: " + printer.duration +
                            "   tracks: " + printer.track);
    outcome.lines.push_back("video samples: " + std::to_string(engine.sample_count) + " (" +
                            std::to_string(engine.Sum_video) + " bytes)   audio chunks: " +
                            std::to_string(engine.Avc_audioCount) + " (" + std::to_string(engine.sum_audio) +
                            " bytes)");
    outcome.lines.push_back("scan: " + variant);
    return outcome;
}

}  // namespace arbel::cli

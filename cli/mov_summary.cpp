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
    outcome.report.add("kind", "quicktime").add("videoCodec", printer.video).add("audioCodec", printer.audio);
    outcome.lines.push_back("video codec: " + printer.video + ", audio codec: " + printer.audio);
    return outcome;
}

}  // namespace arbel::cli

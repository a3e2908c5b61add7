#include "summaries.h"

#include "engine/avi/repair_file_avi.h"

namespace arbel::cli {

RunOutcome runAviRepair(const std::string& resultPath, const ProgressPrinter& printer) {
    RunOutcome outcome;
    RepairFileAvi engine;
    engine.resultPathOverride = resultPath;
    if (!engine.fileValidityCheck()) {
        outcome.refusal = "Invalid corrupted file: select a movie file";
        return outcome;
    }
    engine.retrieveAudioVideoSamples();
    outcome.report.add("kind", "avi").add("videoCodec", printer.video).add("audioCodec", printer.audio);
    outcome.lines.push_back("video codec: " + printer.video + ", audio codec: " + printer.audio);
    return outcome;
}

}  // namespace arbel::cli

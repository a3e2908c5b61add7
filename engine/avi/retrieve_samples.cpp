// The repair operation of the AVI engine: header pass, chunk scan, writer.
#include "repair_file_avi.h"

#include "engine/repair_values.h"
#include "engine/result_location.h"
#include "platform/system_log.h"

namespace arbel {

bool RepairFileAvi::pollPoint() const { return pollStopAndPause(pauseRepairingAVI_); }

void RepairFileAvi::refuseRepair(const char* reason) const {
    if (reason) SystemLog::write(reason);
    // After a user stop the controller has already gone home: no outcome.
    if (isStopRequested()) return;
    reporter.unrepair(kCannotRepairText, 101.0);
}

std::string RepairFileAvi::resultPath() const {
    if (!resultPathOverride.empty()) return resultPathOverride;
    return temporaryResultPath(kArbelBundleIdentifier, ResultKind::Avi);
}

void RepairFileAvi::retrieveAudioVideoSamples() {
    SystemLog::write("Audio video samples called");
    if (!inputfilehandle.open(corruptFilePath)) SystemLog::write("The damaged file could not be opened");

    videosamplecount = audiosamplecount = videosamplesize = 0;
    videosamplesizearray.assign(1, 0);
    videosampleoffsetarray.assign(1, 0);
    audiosamplesizearray.assign(1, 0);
    audiosampleoffsetarray.assign(1, 0);
    videotablefull = audiotablefull = false;

    sector = 1;
    buffersize = 1024;
    mod = static_cast<uint32_t>(corruptFileSizeCopy % buffersize);
    numberofsectors = corruptFileSizeCopy / buffersize + (mod != 0 ? 1 : 0);
    if (corruptFileSizeCopy <= buffersize) numberofsectors = 1;

    if (!isStopRequested()) readStreamHeaders();
    if (!streamHeadersUsable()) {
        refuseRepair(nullptr);
        return;
    }

    reporter.status(kLocatingText, 50.0);
    if (!isStopRequested()) scanForChunks();
    constructRIFFList();
}

}  // namespace arbel

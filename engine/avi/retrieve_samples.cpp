// The repair operation of the AVI engine.
#include "repair_file_avi.h"

#include "platform/system_log.h"

namespace arbel {

void RepairFileAvi::retrieveAudioVideoSamples() {
    SystemLog::write("Audio video samples called");
    SystemLog::write("AVI repair stages are not part of this build");
    reporter.unrepair(kCannotRepairText, 101.0);
}

}  // namespace arbel

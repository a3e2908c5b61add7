#include "repair_values.h"

#include "platform/pacing.h"

namespace arbel {

RepairValues& repairValues() {
    static RepairValues values;
    return values;
}

void resetRepairValues() {
    RepairValues& v = repairValues();
    v.corruptFilePath.reset();
    v.corruptFileSize = 0;
    v.corruptFileSizeCopy = 0;
    v.referenceFilePath.reset();
    v.referenceFileSize = 0;
    v.referenceFileChosen = 0;
    v.stopRequested.store(0, std::memory_order_relaxed);
    v.saveDestinationFolder.clear();
}

bool pollStopAndPause(const std::atomic<bool>& pauseFlag) {
    if (isStopRequested()) return true;
    while (pauseFlag.load(std::memory_order_relaxed)) {
        if (isStopRequested()) return true;
        Pacing::pauseSleep();
    }
    return isStopRequested();
}

}  // namespace arbel

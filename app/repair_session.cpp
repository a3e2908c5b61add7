#include "repair_session.h"

#include "platform/file_system.h"
#include "repair_values.h"

namespace arbel {

void chooseDamagedFile(const std::string& path) {
    RepairValues& v = repairValues();
    v.corruptFilePath = path;
    v.corruptFileSize = fs::fileSize(path).value_or(0);
    v.corruptFileSizeCopy = v.corruptFileSize;
    v.stopRequested.store(0, std::memory_order_relaxed);
}

void chooseReferenceFile(const std::string& path) {
    RepairValues& v = repairValues();
    v.referenceFileChosen = 1;
    v.referenceFilePath = path;
    v.referenceFileSize = fs::fileSize(path).value_or(0);
    v.stopRequested.store(0, std::memory_order_relaxed);
}

}  // namespace arbel

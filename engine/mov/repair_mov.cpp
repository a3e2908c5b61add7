// The repair operation: the stages of a QuickTime-family repair in order.
#include "repair_file.h"

#include "platform/system_log.h"

namespace arbel {

void RepairFile::repairMOV() {
    reporter.status(kAnalyzingText, 1.0, 1.0);
    SystemLog::write("QuickTime repair stages are not part of this build");
    reporter.status(kCannotRepairText, 101.0, 2.0);
}

}  // namespace arbel

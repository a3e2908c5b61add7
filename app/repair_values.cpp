#include "repair_values.h"

#include "platform/file_system.h"

namespace arbel {

void RepairValues::chooseDamagedFile(const std::string& path) {
    corruptFilePath = path;
    corruptFileSize = fs::fileSize(path).value_or(0);
    corruptFileSizeCopy = corruptFileSize;
}

void RepairValues::chooseReferenceFile(const std::string& path) {
    referenceFileChosen = 1;
    referenceFilePath = path;
    referenceFileSize = fs::fileSize(path).value_or(0);
}

RepairRequest RepairValues::request(const std::string& bundleIdentifier, bool withReference) const {
    RepairRequest r;
    r.damagedPath = corruptFilePath.value_or("");
    r.damagedSize = withReference ? corruptFileSize : corruptFileSizeCopy;
    if (withReference) {
        r.referencePath = referenceFilePath.value_or("");
        r.referenceSize = referenceFileSize;
    }
    r.bundleIdentifier = bundleIdentifier;
    // The details say what of every result plays.
    r.verify = true;
    return r;
}

}  // namespace arbel

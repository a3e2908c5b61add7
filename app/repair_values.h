#pragma once

#include "engine/repair_request.h"

#include <cstdint>
#include <optional>
#include <string>

namespace arbel {

// The values of one repair session that the controller keeps: which files
// were chosen and their sizes. Each repair's request is built from them.
struct RepairValues {
    std::optional<std::string> corruptFilePath;
    uint64_t corruptFileSize = 0;
    uint64_t corruptFileSizeCopy = 0;  // the same size, as the AVI engine is given it
    std::optional<std::string> referenceFilePath;
    uint64_t referenceFileSize = 0;
    uint8_t referenceFileChosen = 0;
    std::string saveDestinationFolder;

    // Recording the user's choices. Sizes follow symbolic links, so a link
    // reports the size of the file it points to.
    void chooseDamagedFile(const std::string& path);
    void chooseReferenceFile(const std::string& path);

    // The request for a repair of the chosen files.
    RepairRequest request(const std::string& bundleIdentifier, bool withReference) const;
};

}  // namespace arbel

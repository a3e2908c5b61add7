#include "result_file.h"

#include "engine/result_location.h"
#include "platform/system_log.h"

namespace arbel {

bool ResultFile::create(const std::string& path, bool wideHeader) {
    temporaryResultPath = path;
    mediaHeaderSize = wideHeader ? 16 : 8;
    mediaHeaderWritten = false;
    writeFailed = false;
    if (!ensureParentFolder(path)) {
        systemLogf("Can not create the folder of %s", path.c_str());
        return false;
    }
    if (!outputfile.create(path)) {
        systemLogf("Can not create %s", path.c_str());
        return false;
    }
    return true;
}

}  // namespace arbel

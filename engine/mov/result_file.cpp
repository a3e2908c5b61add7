#include "result_file.h"

#include "engine/result_location.h"
#include "platform/system_log.h"

namespace arbel {

bool ResultFile::create(const std::string& path, bool wideHeader, bool mustBeNew) {
    temporaryResultPath = path;
    mediaHeaderSize = wideHeader ? 16 : 8;
    mediaHeaderWritten = false;
    writeFailed = false;
    folderFailure_.clear();
    if (!mustBeNew && !ensureParentFolder(path)) {
        folderFailure_ = "its folder could not be made";
        systemLogf("Can not create the folder of %s", path.c_str());
        return false;
    }
    if (!outputfile.create(path, mustBeNew ? OutputWriter::Creation::New : OutputWriter::Creation::Replace)) {
        systemLogf("Can not create %s: %s", path.c_str(), outputfile.errorText().c_str());
        return false;
    }
    return true;
}

std::string ResultFile::failureText() const {
    return folderFailure_.empty() ? outputfile.errorText() : folderFailure_;
}

}  // namespace arbel

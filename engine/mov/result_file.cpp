#include "result_file.h"

#include "engine/result_location.h"
#include "platform/system_log.h"

#include <cstdio>

namespace arbel {

bool ResultFile::create(const std::string& path, bool wideHeader, bool mustBeNew) {
    temporaryResultPath = path;
    mediaHeaderSize = wideHeader ? 16 : 8;
    mediaHeaderWritten = false;
    writeFailed = false;
    made_ = false;
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
    made_ = true;
    return true;
}

void ResultFile::discard() {
    outputfile.close();
    if (made_) std::remove(temporaryResultPath.c_str());
    made_ = false;
}

std::string ResultFile::failureText() const {
    return folderFailure_.empty() ? outputfile.errorText() : folderFailure_;
}

}  // namespace arbel

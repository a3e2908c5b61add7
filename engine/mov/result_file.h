#pragma once

#include "platform/output_writer.h"

#include <cstdint>
#include <string>

namespace arbel {

// The repaired file as it is written: media data from offset 0 (behind the
// bytes reserved for its header), then the movie atom.
struct ResultFile {
    std::string temporaryResultPath;   // where this repair writes
    OutputWriter outputfile;
    // Bytes reserved at the start for the media-data header: 8, or 16 when
    // the 64-bit form will be written.
    uint64_t mediaHeaderSize = 8;
    bool mediaHeaderWritten = false;
    bool writeFailed = false;

    // Creates the file (a new one only, or the program's own one replaced
    // in a folder made when missing). wideHeader: reserve the 64-bit header,
    // because the reference has one or the media may pass 4 GiB.
    bool create(const std::string& path, bool wideHeader, bool mustBeNew = false);
    // Why the file could not be written, as the system says it.
    std::string failureText() const;
    // The file can no longer be trusted to hold what was written.
    bool broken() const { return writeFailed || !outputfile.isOpen() || outputfile.failed(); }
    // Closes and removes the file, when this repair made it: a stopped
    // repair leaves no half-written result (some are gigabytes).
    void discard();

private:
    std::string folderFailure_;
    bool made_ = false;
};

}  // namespace arbel

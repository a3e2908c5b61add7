#pragma once

#include <string>

namespace arbel {

enum class FileKind { None, QuickTime, Avi };

// The repair kind of a chosen file, by its extension compared without regard
// to case: "avi" is an AVI repair; "mov", "mp4" and "m4v" a QuickTime repair.
FileKind fileKindForPath(const std::string& path);

}  // namespace arbel

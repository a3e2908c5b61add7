#include "file_kind.h"

#include "platform/file_system.h"

#include <algorithm>
#include <cctype>

namespace arbel {

FileKind fileKindForPath(const std::string& path) {
    std::string ext = fs::pathExtension(path);
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (ext == "avi") return FileKind::Avi;
    if (ext == "mov" || ext == "mp4" || ext == "m4v") return FileKind::QuickTime;
    return FileKind::None;
}

}  // namespace arbel

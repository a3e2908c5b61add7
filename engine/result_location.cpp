#include "result_location.h"

#include "platform/file_system.h"

#include <cstdlib>

namespace arbel {

std::string productFolderName(const std::string& bundleIdentifier) {
    struct Row {
        const char* identifier;
        const char* folder;
    };
    static const Row table[] = {
        {"com.TolvikSoftware.TolvikVideoRepairI", "Tolvik Video Repair"},
        {"com.TolvikSoftware.TolvikRepairMOVI", "Tolvik Repair MOV"},
        {"com.Kendro.KendroMOVRepairI", "Kendro MOV Repair"},
        {"com.Dunmere.DunmereVideoRepairI", "Dunmere Video Repair"},
        {"com.ArbelSoftware.ArbelVideoRepairI", "Arbel Video Repair"},
    };
    for (const Row& row : table)
        if (bundleIdentifier == row.identifier) return row.folder;
    return "Tolvik Repair MOV";
}

std::string resultBaseFolder() {
    if (const char* base = std::getenv("ARBEL_RESULT_BASE"); base && *base) return base;
    return fs::userDataHome();
}

std::string productFolder(const std::string& bundleIdentifier) {
    return resultBaseFolder() + "/" + productFolderName(bundleIdentifier) + "/";
}

std::string temporaryResultPath(const std::string& bundleIdentifier, ResultKind kind) {
    if (kind == ResultKind::Avi) return productFolder(kArbelBundleIdentifier) + ".testfile.avi";
    return productFolder(bundleIdentifier) + ".testfile.mov";
}

bool ensureParentFolder(const std::string& path) {
    auto slash = path.rfind('/');
    if (slash == std::string::npos || slash == 0) return true;
    return fs::makeFolders(path.substr(0, slash));
}

}  // namespace arbel

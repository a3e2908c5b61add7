#include "result_location.h"

#include "platform/file_system.h"

#include <cstdlib>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

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

TemporaryResultClaim::TemporaryResultClaim(const std::string& bundleIdentifier, ResultKind kind) {
    const std::string first = temporaryResultPath(bundleIdentifier, kind);
    if (!ensureParentFolder(first)) return;
    const std::string extension = kind == ResultKind::Avi ? ".avi" : ".mov";
    const std::string stem = first.substr(0, first.size() - extension.size());
    constexpr int kNames = 64;
    for (int n = 1; n <= kNames; ++n) {
        const std::string candidate = n == 1 ? first : stem + "-" + std::to_string(n) + extension;
        const int fd = ::open((candidate + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd < 0) continue;
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
            path_ = candidate;
            lockFd_ = fd;
            return;
        }
        ::close(fd);
    }
}

TemporaryResultClaim::~TemporaryResultClaim() {
    if (lockFd_ >= 0) ::close(lockFd_);
}

}  // namespace arbel

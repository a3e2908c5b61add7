#pragma once

#include <string>

namespace arbel {

enum class ResultKind { Mov, Avi };

// Name of the application folder that a bundle identifier keeps its hidden
// temporary result in ("Arbel Video Repair", "Tolvik Repair MOV", ...).
std::string productFolderName(const std::string& bundleIdentifier);

// Per-user writable base under which the application folders live:
// $ARBEL_RESULT_BASE when set (tests), else the XDG data home.
std::string resultBaseFolder();

// "<base>/<application folder>/", with the trailing slash.
std::string productFolder(const std::string& bundleIdentifier);

// The hidden temporary result: ".testfile.mov" or ".testfile.avi" in the
// product folder. The AVI result always lives in the Arbel folder.
std::string temporaryResultPath(const std::string& bundleIdentifier, ResultKind kind);

// Creates the folder holding path when it is missing; true when it exists.
bool ensureParentFolder(const std::string& path);

// The hidden temporary result of one running desktop program. Programs
// running at the same time never share one: each holds a lock on its own
// name (".testfile.mov", else ".testfile-2.mov", ...) for as long as it
// runs, and a name whose program has ended is taken up again.
class TemporaryResultClaim {
public:
    TemporaryResultClaim(const std::string& bundleIdentifier, ResultKind kind);
    ~TemporaryResultClaim();
    TemporaryResultClaim(const TemporaryResultClaim&) = delete;
    TemporaryResultClaim& operator=(const TemporaryResultClaim&) = delete;

    // Empty when no name could be claimed (the folder cannot be made).
    const std::string& path() const { return path_; }

private:
    std::string path_;
    int lockFd_ = -1;
};

inline constexpr const char* kArbelBundleIdentifier = "com.ArbelSoftware.ArbelVideoRepairI";

}  // namespace arbel

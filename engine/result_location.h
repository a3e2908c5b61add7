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

inline constexpr const char* kArbelBundleIdentifier = "com.ArbelSoftware.ArbelVideoRepairI";

}  // namespace arbel

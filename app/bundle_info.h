#pragma once

#include <optional>
#include <string>
#include <vector>

namespace arbel {

// A string value of a property-list file (XML or binary); nullopt when the
// file cannot be read, is not a dictionary or has no string under key.
std::optional<std::string> readInfoPlistString(const std::string& plistPath, const std::string& key);

// The same for a property list held in memory (a published version list).
std::optional<std::string> plistDictString(const std::string& bytes, const std::string& key);

// Where a file of the program's resources (the information file, the help
// page) is looked for, in order: beside the program (build tree), in the
// installed data folder next to the program's bin/ folder, and in the build
// tree the program was built in.
std::vector<std::string> resourceCandidates(const std::string& executableDir, const std::string& fileName);

// The first candidate that exists, or an empty string.
std::string locateResource(const std::string& executableDir, const std::string& fileName);

}  // namespace arbel

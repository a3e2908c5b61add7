#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace arbel::fs {

// Size in bytes of the file at path, following symbolic links; nullopt when
// there is no such file.
std::optional<uint64_t> fileSize(const std::string& path);

bool exists(const std::string& path);
bool isRegularFile(const std::string& path);

// Creates the folder and any missing parents; true when it exists afterwards.
bool makeFolders(const std::string& path);

bool removeFile(const std::string& path);

// Renames a finished file into place (same volume).
bool renameFile(const std::string& from, const std::string& to);

// Free bytes for an unprivileged user on the volume holding path.
std::optional<uint64_t> freeSpace(const std::string& path);

// The per-user data base folder: $XDG_DATA_HOME, else $HOME/.local/share.
std::string userDataHome();

// Last path component and extension (without the dot; as written).
std::string lastPathComponent(const std::string& path);
std::string pathExtension(const std::string& path);

}  // namespace arbel::fs

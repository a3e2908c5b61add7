#pragma once

#include <optional>
#include <string>
#include <sys/types.h>

namespace arbel::cli {

// A file as the system knows it: the same (device, inode) is the same file,
// whatever path, link or hard link names it.
struct FileIdentity {
    dev_t device = 0;
    ino_t inode = 0;
    bool operator==(const FileIdentity& other) const { return device == other.device && inode == other.inode; }
};

// What is wrong with a path given as an input, in words, with the exit
// status it calls for; nothing when it names a regular file that can be read.
struct Problem {
    std::string text;
    int exitCode = 0;
};
std::optional<Problem> inputProblem(const std::string& path, FileIdentity& identity);

// What is wrong with a path given for the result: one that names a folder,
// or lies in a folder that is missing, is no folder or cannot be written.
std::optional<Problem> outputProblem(const std::string& path);

// The identity of what path names now (symbolic links followed).
std::optional<FileIdentity> identityOf(const std::string& path);

// The folder a path lies in ("." for a bare name).
std::string folderOf(const std::string& path);

// A new, unpredictable name for the result beside `output` while it is
// written.
std::string temporaryNameBeside(const std::string& output);

// Moves the finished result into place: never over an existing file unless
// `replace`, then makes the move durable. The system's words on failure.
std::optional<std::string> moveIntoPlace(const std::string& from, const std::string& to, bool replace);

}  // namespace arbel::cli

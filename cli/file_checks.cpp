#include "file_checks.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

namespace arbel::cli {
namespace {

const char* kindOf(mode_t mode) {
    if (S_ISDIR(mode)) return "is a folder, not a recording";
    if (S_ISFIFO(mode)) return "is a named pipe (FIFO), not a recording";
    if (S_ISCHR(mode) || S_ISBLK(mode)) return "is a device, not a recording";
    if (S_ISSOCK(mode)) return "is a socket, not a recording";
    return "is not a regular file";
}

}  // namespace

std::optional<FileIdentity> identityOf(const std::string& path) {
    struct stat st {};
    if (path.empty() || ::stat(path.c_str(), &st) != 0) return std::nullopt;
    return FileIdentity{st.st_dev, st.st_ino};
}

std::optional<Problem> inputProblem(const std::string& path, FileIdentity& identity) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return Problem{std::strerror(errno), 3};
    if (!S_ISREG(st.st_mode)) return Problem{kindOf(st.st_mode), 2};
    if (::access(path.c_str(), R_OK) != 0) return Problem{std::strerror(errno), 3};
    identity = {st.st_dev, st.st_ino};
    return std::nullopt;
}

std::string folderOf(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

std::optional<Problem> outputProblem(const std::string& path) {
    if (path.empty()) return Problem{"no file name given", 2};
    const std::string name = path.substr(path.rfind('/') == std::string::npos ? 0 : path.rfind('/') + 1);
    struct stat st {};
    if (name.empty() || name == "." || name == ".." || (::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)))
        return Problem{"names a folder; give the name of the file to write", 2};
    const std::string folder = folderOf(path);
    if (::stat(folder.c_str(), &st) != 0) return Problem{std::strerror(errno), 3};
    if (!S_ISDIR(st.st_mode)) return Problem{std::strerror(ENOTDIR), 3};
    if (::access(folder.c_str(), W_OK | X_OK) != 0) return Problem{std::strerror(errno), 3};
    return std::nullopt;
}

std::string temporaryNameBeside(const std::string& output) {
    static const char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    unsigned char random[8] = {};
    if (::getrandom(random, sizeof random, 0) != static_cast<ssize_t>(sizeof random)) {
        // Without randomness the process id still keeps two runs apart;
        // the file is created exclusively in any case.
        uint64_t pid = static_cast<uint64_t>(::getpid());
        for (unsigned char& r : random) {
            r = static_cast<unsigned char>(pid % 36);
            pid /= 36;
        }
    }
    std::string suffix;
    for (unsigned char r : random) suffix.push_back(kLetters[r % (sizeof kLetters - 1)]);
    return output + "." + suffix + ".partial";
}

std::optional<std::string> moveIntoPlace(const std::string& from, const std::string& to, bool replace) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), replace ? 0 : RENAME_NOREPLACE) != 0)
        return std::string(std::strerror(errno));
    // The new name must survive a power cut as the file does.
    const int folder = ::open(folderOf(to).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        ::fsync(folder);
        ::close(folder);
    }
    return std::nullopt;
}

}  // namespace arbel::cli

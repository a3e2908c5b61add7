#include "file_copy.h"

#include "pacing.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace arbel {

ssize_t CopyIo::readAt(int fd, void* buf, size_t len, off_t offset) { return ::pread(fd, buf, len, offset); }

ssize_t CopyIo::writeAt(int fd, const void* buf, size_t len, off_t offset) {
    return ::pwrite(fd, buf, len, offset);
}

int CopyIo::sync(int fd) { return ::fsync(fd); }

namespace {

std::string describe(const std::string& what, int error) { return what + ": " + std::strerror(error); }

class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() { close(); }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;

    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    // 0, or -1 with errno set.
    int close() {
        if (fd_ < 0) return 0;
        const int rc = ::close(fd_);
        fd_ = -1;
        return rc;
    }

private:
    int fd_;
};

std::string folderOf(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// A rename that fails with EEXIST instead of replacing.
int renameWithoutReplacing(const std::string& from, const std::string& to) {
#ifdef RENAME_NOREPLACE
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
    if (errno != EINVAL && errno != ENOSYS) return -1;
#endif
    // The file system cannot refuse by itself: look first.
    if (pathTaken(to)) {
        errno = EEXIST;
        return -1;
    }
    return std::rename(from.c_str(), to.c_str());
}

// The new name lasts only once the folder holding it is on disk too.
int syncFolder(const std::string& folder, CopyIo& io) {
    Descriptor dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!dir.valid()) return -1;
    // Some file systems cannot sync a folder; they say so with EINVAL.
    if (io.sync(dir.get()) != 0 && errno != EINVAL) return -1;
    return dir.close();
}

bool waitWhilePaused(CopyFlags flags) {
    while (flags.pause.load(std::memory_order_relaxed) && !flags.stop.load(std::memory_order_relaxed))
        Pacing::pauseSleep();
    return !flags.stop.load(std::memory_order_relaxed);
}

}  // namespace

std::string partialPathFor(const std::string& destination) { return destination + ".partial"; }

bool pathTaken(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

std::string destinationConflict(const std::string& destination, const std::vector<std::string>& protectedPaths) {
    // The name itself, not what a link there points to: a link is replaced,
    // its target never written.
    struct stat there {};
    if (::lstat(destination.c_str(), &there) != 0) return {};
    if (S_ISDIR(there.st_mode)) return "A folder named " + destination + " is in the way";
    for (const std::string& path : protectedPaths) {
        struct stat kept {};
        if (::stat(path.c_str(), &kept) == 0 && kept.st_dev == there.st_dev && kept.st_ino == there.st_ino)
            return destination + " is the same file as " + path + ", which saving must not overwrite";
    }
    return {};
}

CopyResult copyFile(const CopyRequest& request, CopyFlags flags, CopyProgress& progress) {
    progress.copied.store(0, std::memory_order_relaxed);
    progress.durable.store(false, std::memory_order_relaxed);
    auto refuse = [](std::string reason) { return CopyResult{CopyOutcome::Failed, std::move(reason), 0}; };

    std::vector<std::string> protectedPaths = request.protectedPaths;
    protectedPaths.push_back(request.source);
    const std::string& destination = request.destination;
    const std::string partial = partialPathFor(destination);
    for (const std::string& path : {destination, partial})
        if (std::string conflict = destinationConflict(path, protectedPaths); !conflict.empty()) return refuse(conflict);
    if (!request.replaceExisting && pathTaken(destination)) return refuse(destination + " already exists");

    CopyIo systemIo;
    CopyIo& io = request.io ? *request.io : systemIo;

    Descriptor source(::open(request.source.c_str(), O_RDONLY | O_CLOEXEC));
    if (!source.valid()) return refuse(describe("Cannot open " + request.source, errno));

    // A partial file is only ever left by a save that did not end; it is
    // not a protected file (checked above), so it can go.
    if (pathTaken(partial)) ::unlink(partial.c_str());
    Descriptor out(::open(partial.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
    if (!out.valid()) return refuse(describe("Cannot create " + partial, errno));

    uint64_t copied = 0;
    auto abandon = [&](CopyOutcome outcome, std::string reason) {
        out.close();
        ::unlink(partial.c_str());
        return CopyResult{outcome, std::move(reason), copied};
    };

    std::vector<unsigned char> piece(std::max<size_t>(request.pieceSize, 1));
    while (copied < request.need) {
        if (!waitWhilePaused(flags)) return abandon(CopyOutcome::Stopped, {});
        const size_t want = static_cast<size_t>(std::min<uint64_t>(piece.size(), request.need - copied));
        for (size_t got = 0; got < want;) {
            const ssize_t n = io.readAt(source.get(), piece.data() + got, want - got, static_cast<off_t>(copied + got));
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) return abandon(CopyOutcome::Failed, describe("Cannot read " + request.source, errno));
            if (n == 0)
                return abandon(CopyOutcome::Failed, request.source + " ended after " + std::to_string(copied + got) +
                                                        " of " + std::to_string(request.need) + " bytes");
            got += static_cast<size_t>(n);
        }
        for (size_t put = 0; put < want;) {
            const ssize_t n = io.writeAt(out.get(), piece.data() + put, want - put, static_cast<off_t>(copied + put));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return abandon(CopyOutcome::Failed, describe("Cannot write " + partial, n < 0 ? errno : EIO));
            put += static_cast<size_t>(n);
        }
        copied += want;
        progress.copied.store(copied, std::memory_order_relaxed);
    }

    if (io.sync(out.get()) != 0) return abandon(CopyOutcome::Failed, describe("Cannot write " + partial + " to disk", errno));
    if (out.close() != 0) return abandon(CopyOutcome::Failed, describe("Cannot close " + partial, errno));
    // A stop confirmed during the last piece still wins over the rename.
    if (!waitWhilePaused(flags)) return abandon(CopyOutcome::Stopped, {});

    const int renamed = request.replaceExisting ? std::rename(partial.c_str(), destination.c_str())
                                                : renameWithoutReplacing(partial, destination);
    if (renamed != 0) return abandon(CopyOutcome::Failed, describe("Cannot rename " + partial + " to " + destination, errno));
    if (syncFolder(folderOf(destination), io) != 0) {
        const int error = errno;
        // The file is ours and complete, but its name may not survive.
        ::unlink(destination.c_str());
        return CopyResult{CopyOutcome::Failed, describe("Cannot write the folder of " + destination + " to disk", error),
                          copied};
    }
    progress.durable.store(true, std::memory_order_release);
    return CopyResult{CopyOutcome::Copied, {}, copied};
}

int copyPercent(uint64_t copied, uint64_t need, bool durable) {
    if (durable) return 100;
    if (need == 0) return 0;
    // Exact for any 64-bit size: copied * 100 needs more than 64 bits.
    __extension__ using Wide = unsigned __int128;
    const Wide percent = static_cast<Wide>(std::min(copied, need)) * 100 / need;
    return std::min(99, static_cast<int>(percent));
}

}  // namespace arbel

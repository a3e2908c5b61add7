#pragma once

#include <sys/types.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace arbel {

// The system calls a copy makes. Tests put faults in through a subclass.
class CopyIo {
public:
    virtual ~CopyIo() = default;
    virtual ssize_t readAt(int fd, void* buf, size_t len, off_t offset);
    virtual ssize_t writeAt(int fd, const void* buf, size_t len, off_t offset);
    virtual int sync(int fd);
};

inline constexpr size_t kCopyPieceSize = 1 << 20;

struct CopyRequest {
    std::string source;
    std::string destination;
    // Bytes to copy: the source's size when the copy was decided. A source
    // that delivers fewer fails the copy.
    uint64_t need = 0;
    // The user agreed to replace what stands at the destination.
    bool replaceExisting = false;
    // Files the destination must never be (the damaged file, the reference);
    // the source is always one of them.
    std::vector<std::string> protectedPaths;
    size_t pieceSize = kCopyPieceSize;
    CopyIo* io = nullptr;  // null: the system's calls
};

// Written by the copy, read by whoever shows its progress.
struct CopyProgress {
    std::atomic<uint64_t> copied{0};
    std::atomic<bool> durable{false};  // the whole file is on disk under its name
};

// Set by the front end while the copy runs.
struct CopyFlags {
    const std::atomic<bool>& pause;  // the copy sleeps while it is set
    const std::atomic<bool>& stop;   // the copy ends and removes its partial file
};

enum class CopyOutcome { Copied, Stopped, Failed };

struct CopyResult {
    CopyOutcome outcome = CopyOutcome::Failed;
    std::string reason;  // failures: what went wrong, for a person
    uint64_t copied = 0;
};

// The partial file a copy writes before it renames it into place.
std::string partialPathFor(const std::string& destination);

// Why a file may not be written at destination ("" when it may): it is one of
// the protected files (same device and inode) or a folder stands there.
std::string destinationConflict(const std::string& destination, const std::vector<std::string>& protectedPaths);

// Something (a file, a link, a folder) already has this name.
bool pathTaken(const std::string& path);

// Copies the source to DESTINATION.partial (created exclusively, links not
// followed), makes it durable, renames it into place and syncs the folder.
// Every call is checked; a failure or a stop removes the partial file and
// never touches the source or what stood at the destination.
CopyResult copyFile(const CopyRequest& request, CopyFlags flags, CopyProgress& progress);

// The whole percent a display may show: never more than copied / need, and
// 100 only once the copy is durable.
int copyPercent(uint64_t copied, uint64_t need, bool durable);

}  // namespace arbel

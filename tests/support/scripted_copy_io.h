#pragma once

#include "platform/file_copy.h"

#include <atomic>
#include <cerrno>
#include <functional>

namespace arbel::test {

// The system's calls of a copy, with hooks that stop, pause, hold or break
// it at the piece a test chooses.
class ScriptedCopyIo : public CopyIo {
public:
    std::atomic<int> writes{0};
    // Runs after the piece'th write (from 1) has landed.
    std::function<void(int piece)> afterWrite;
    // Runs before the file is made durable.
    std::function<void()> beforeSync;
    // The piece'th write fails with writeError; every read or sync with
    // readError or syncError.
    int failWriteAt = 0, writeError = 0, readError = 0, syncError = 0;

    ssize_t readAt(int fd, void* buf, size_t len, off_t offset) override {
        if (readError) return errno = readError, -1;
        return CopyIo::readAt(fd, buf, len, offset);
    }
    ssize_t writeAt(int fd, const void* buf, size_t len, off_t offset) override {
        const int piece = ++writes;
        if (piece == failWriteAt) return errno = writeError, -1;
        const ssize_t n = CopyIo::writeAt(fd, buf, len, offset);
        if (afterWrite) afterWrite(piece);
        return n;
    }
    int sync(int fd) override {
        if (beforeSync) beforeSync();
        if (syncError) return errno = syncError, -1;
        return CopyIo::sync(fd);
    }
};

}  // namespace arbel::test

#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace arbel {

class FileReader;

// Buffered writer for a result file. Appends go through a memory buffer and
// the writer keeps the write cursor, so callers never seek; writeAt() patches
// bytes already written (a header) without moving the cursor. sync() makes
// the file durable: callers use it at the end of a phase, not after every
// field, which gives the same bytes on disk at a fraction of the cost.
// Every failure is remembered: failed() tells whether the file is to be trusted.
class OutputWriter {
public:
    explicit OutputWriter(size_t bufferSize = 1 << 20);
    ~OutputWriter();
    OutputWriter(const OutputWriter&) = delete;
    OutputWriter& operator=(const OutputWriter&) = delete;

    enum class Creation {
        Replace,  // a file of this program's own: truncated, but never through a symbolic link
        New,      // a new file only: nothing that exists at path is touched
    };
    // Creates the file at path and opens it for writing.
    bool create(const std::string& path, Creation creation = Creation::Replace);
    bool isOpen() const { return fd_ >= 0; }

    bool append(const void* data, size_t len);
    bool append(const std::vector<uint8_t>& bytes) { return append(bytes.data(), bytes.size()); }
    bool appendZeros(uint64_t len);

    // Copies len bytes at offset of source to the end of the file, in pieces;
    // what the source cannot deliver is written as zeros, so the result has
    // exactly len bytes. Never holds more than one piece in memory.
    bool appendFrom(const FileReader& source, uint64_t offset, uint64_t len);

    // Writes bytes at an absolute offset inside what has been written
    // (in the buffer when they are still there). Numbers in a byte order are
    // written through the box writer of the engines.
    bool writeAt(uint64_t offset, const void* data, size_t len);

    // Offset at which the next append lands (the file's logical length).
    uint64_t cursor() const { return cursor_; }

    bool flush();
    bool sync();
    bool close();
    bool failed() const { return failed_; }
    // Why the first failure happened, as the system says it ("No space left on device").
    std::string errorText() const;
    // A caller found the bytes it wrote to be wrong: the file is not to be trusted.
    void markFailed() { failed_ = true; }

private:
    bool writeAll(const unsigned char* data, size_t len, uint64_t at);
    bool appendThroughBuffer(const FileReader& source, uint64_t offset, uint64_t len);
    uint64_t copyInKernel(const FileReader& source, uint64_t offset, uint64_t len);
    void startWriteBack();

    int fd_ = -1;
    // Room for `need` more bytes: the buffer grows to its full size as the
    // file does, so a small result costs little; false when it must be flushed.
    bool makeRoom(size_t need);

    // Allocated when a file is created: an unused writer costs nothing.
    std::unique_ptr<unsigned char[]> buffer_;
    size_t allocated_ = 0;
    size_t capacity_;
    size_t used_ = 0;
    uint64_t cursor_ = 0;        // logical end: flushed bytes + buffered bytes
    uint64_t flushedEnd_ = 0;    // bytes that reached the file
    uint64_t writeBackStart_ = 0;  // start of what has not been handed to write-back yet
    bool failed_ = false;
    int errno_ = 0;              // of the first failure
    void fail(int error);
    bool kernelCopy_ = true;     // off once the kernel refused a copy between these files
};

}  // namespace arbel

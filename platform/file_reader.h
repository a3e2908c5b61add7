#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace arbel {

// Read-only handle that reads positionally, from a file or from bytes in
// memory (the fuzz targets and tests read without file I/O). A read past the
// end, or a failed read, leaves zeros in the part of the buffer it could not
// fill: the scans treat those zeros as data and never see stale bytes.
class FileReader {
public:
    FileReader() = default;
    explicit FileReader(const std::string& path) { open(path); }
    ~FileReader();
    FileReader(const FileReader&) = delete;
    FileReader& operator=(const FileReader&) = delete;
    FileReader(FileReader&& other) noexcept;
    FileReader& operator=(FileReader&& other) noexcept;

    bool open(const std::string& path);
    // Reads these bytes instead of a file; they must outlive the reader's use.
    void openBytes(const uint8_t* data, size_t size);
    void close();
    bool isOpen() const { return fd_ >= 0 || memory_ != nullptr; }
    // The file's descriptor; -1 for bytes in memory.
    int descriptor() const { return fd_; }

    // Length of the open file (0 when none is open).
    uint64_t size() const;

    // Reads up to len bytes at offset into buf and zero-fills the rest.
    // Returns how many bytes came from the file.
    size_t readAt(uint64_t offset, void* buf, size_t len) const;

    // The same into a new zero-filled buffer of exactly len bytes.
    std::vector<uint8_t> readAt(uint64_t offset, size_t len) const;

private:
    int fd_ = -1;
    const uint8_t* memory_ = nullptr;
    size_t memorySize_ = 0;
};

}  // namespace arbel

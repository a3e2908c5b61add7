#include "file_reader.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace arbel {

FileReader::~FileReader() { close(); }

FileReader::FileReader(FileReader&& other) noexcept
    : fd_(other.fd_), memory_(other.memory_), memorySize_(other.memorySize_) {
    other.fd_ = -1;
    other.memory_ = nullptr;
    other.memorySize_ = 0;
}

FileReader& FileReader::operator=(FileReader&& other) noexcept {
    if (this != &other) {
        close();
        fd_ = other.fd_;
        memory_ = other.memory_;
        memorySize_ = other.memorySize_;
        other.fd_ = -1;
        other.memory_ = nullptr;
        other.memorySize_ = 0;
    }
    return *this;
}

void FileReader::openBytes(const uint8_t* data, size_t size) {
    close();
    static const uint8_t kNothing = 0;
    memory_ = data ? data : &kNothing;
    memorySize_ = data ? size : 0;
}

bool FileReader::open(const std::string& path) {
    close();
    if (path.empty()) return false;
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    return fd_ >= 0;
}

void FileReader::close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    memory_ = nullptr;
    memorySize_ = 0;
}

uint64_t FileReader::size() const {
    if (memory_) return memorySize_;
    if (fd_ < 0) return 0;
    struct stat st {};
    if (::fstat(fd_, &st) != 0 || st.st_size < 0) return 0;
    return static_cast<uint64_t>(st.st_size);
}

size_t FileReader::readAt(uint64_t offset, void* buf, size_t len) const {
    auto* out = static_cast<unsigned char*>(buf);
    size_t done = 0;
    if (memory_) {
        if (offset < memorySize_) {
            done = static_cast<size_t>(std::min<uint64_t>(len, memorySize_ - offset));
            if (done > 0) std::memcpy(out, memory_ + offset, done);
        }
    } else if (fd_ >= 0 && offset <= static_cast<uint64_t>(INT64_MAX)) {
        while (done < len) {
            const uint64_t at = offset + done;
            if (at > static_cast<uint64_t>(INT64_MAX)) break;
            ssize_t n = ::pread(fd_, out + done, len - done, static_cast<off_t>(at));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            done += static_cast<size_t>(n);
        }
    }
    if (done < len) std::memset(out + done, 0, len - done);
    return done;
}

std::vector<uint8_t> FileReader::readAt(uint64_t offset, size_t len) const {
    std::vector<uint8_t> buffer(len);
    readAt(offset, buffer.data(), len);
    return buffer;
}

}  // namespace arbel

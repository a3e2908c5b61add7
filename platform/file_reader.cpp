#include "file_reader.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace arbel {

FileReader::~FileReader() { close(); }

FileReader::FileReader(FileReader&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }

FileReader& FileReader::operator=(FileReader&& other) noexcept {
    if (this != &other) {
        close();
        fd_ = other.fd_;
        other.fd_ = -1;
    }
    return *this;
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
}

uint64_t FileReader::size() const {
    if (fd_ < 0) return 0;
    struct stat st {};
    if (::fstat(fd_, &st) != 0 || st.st_size < 0) return 0;
    return static_cast<uint64_t>(st.st_size);
}

size_t FileReader::readAt(uint64_t offset, void* buf, size_t len) const {
    auto* out = static_cast<unsigned char*>(buf);
    size_t done = 0;
    if (fd_ >= 0 && offset <= static_cast<uint64_t>(INT64_MAX)) {
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

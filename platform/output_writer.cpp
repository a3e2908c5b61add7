#include "output_writer.h"

#include "file_reader.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace arbel {

OutputWriter::OutputWriter(size_t bufferSize) : capacity_(std::max<size_t>(bufferSize, 4096)) {}

OutputWriter::~OutputWriter() { close(); }

bool OutputWriter::create(const std::string& path, Creation creation) {
    close();
    failed_ = false;
    errno_ = 0;
    used_ = 0;
    cursor_ = flushedEnd_ = writeBackStart_ = 0;
    const int how = creation == Creation::New ? O_CREAT | O_EXCL : O_CREAT | O_TRUNC | O_NOFOLLOW;
    fd_ = ::open(path.c_str(), O_WRONLY | O_CLOEXEC | how, 0644);
    if (fd_ < 0) fail(errno);
    return fd_ >= 0;
}

void OutputWriter::fail(int error) {
    if (!failed_ || errno_ == 0) errno_ = error;
    failed_ = true;
}

std::string OutputWriter::errorText() const {
    if (errno_ != 0) return std::strerror(errno_);
    return failed_ ? "the file could not be written" : "";
}

bool OutputWriter::writeAll(const unsigned char* data, size_t len, uint64_t at) {
    if (fd_ < 0) {
        fail(EBADF);
        return false;
    }
    size_t done = 0;
    while (done < len) {
        ssize_t n = ::pwrite(fd_, data + done, len - done, static_cast<off_t>(at + done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            fail(n < 0 ? errno : ENOSPC);
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

bool OutputWriter::flush() {
    if (used_ == 0) return !failed_;
    bool ok = writeAll(buffer_.get(), used_, flushedEnd_);
    flushedEnd_ += used_;
    used_ = 0;
    startWriteBack();
    return ok && !failed_;
}

void OutputWriter::startWriteBack() {
    // Start writing what reached the file back now, in runs of a few MiB, so
    // the disk works while the caller prepares more and sync() finds little
    // left to do. Only a hint: pipes and devices are unaffected.
    constexpr uint64_t kRun = 4 << 20;
    if (flushedEnd_ - writeBackStart_ < kRun) return;
#if defined(__linux__)
    ::sync_file_range(fd_, static_cast<off_t>(writeBackStart_), static_cast<off_t>(flushedEnd_ - writeBackStart_),
                      SYNC_FILE_RANGE_WRITE);
#endif
    writeBackStart_ = flushedEnd_;
}

bool OutputWriter::append(const void* data, size_t len) {
    if (fd_ < 0) {
        fail(EBADF);
        return false;
    }
    if (len == 0) return !failed_;  // an empty piece may come with no buffer at all
    const auto* bytes = static_cast<const unsigned char*>(data);
    if (len >= capacity_) {
        // Large pieces go straight to the file after what is buffered.
        if (!flush()) return false;
        bool ok = writeAll(bytes, len, flushedEnd_);
        flushedEnd_ += len;
        cursor_ += len;
        return ok;
    }
    if (!makeRoom(len) && !flush()) return false;
    std::memcpy(buffer_.get() + used_, bytes, len);
    used_ += len;
    cursor_ += len;
    return true;
}

bool OutputWriter::makeRoom(size_t need) {
    if (used_ + need <= allocated_) return true;
    if (allocated_ >= capacity_) return used_ == 0;
    size_t size = std::max<size_t>(allocated_ * 2, 64 << 10);
    while (size < used_ + need && size < capacity_) size *= 2;
    size = std::min(size, capacity_);
    std::unique_ptr<unsigned char[]> grown(new unsigned char[size]);
    if (used_ > 0) std::memcpy(grown.get(), buffer_.get(), used_);
    buffer_ = std::move(grown);
    allocated_ = size;
    return used_ + need <= allocated_;
}

bool OutputWriter::appendZeros(uint64_t len) {
    static const unsigned char zeros[4096] = {};
    while (len > 0) {
        size_t piece = static_cast<size_t>(std::min<uint64_t>(len, sizeof zeros));
        if (!append(zeros, piece)) return false;
        len -= piece;
    }
    return true;
}

bool OutputWriter::appendFrom(const FileReader& source, uint64_t offset, uint64_t len) {
    // Pieces of a MiB and more are copied by the kernel from page cache to
    // page cache, never passing through this process. Smaller ones are
    // cheaper to gather in the buffer: measured on camera-sized units of
    // about 10 KiB, the call per unit cost more than the copy it saved.
    constexpr uint64_t kKernelCopyMinimum = 1 << 20;
    if (fd_ < 0) {
        fail(EBADF);
        return false;
    }
    if (kernelCopy_ && len >= kKernelCopyMinimum && source.descriptor() >= 0) {
        if (!flush()) return false;
        const uint64_t copied = copyInKernel(source, offset, len);
        if (failed_) return false;
        offset += copied;
        len -= copied;
        if (len == 0) return true;
        // The source ended early (the rest is zeros) or the kernel declined.
        if (offset >= source.size()) return appendZeros(len);
    }
    return appendThroughBuffer(source, offset, len);
}

uint64_t OutputWriter::copyInKernel(const FileReader& source, uint64_t offset, uint64_t len) {
    loff_t in = static_cast<loff_t>(offset);
    loff_t out = static_cast<loff_t>(flushedEnd_);
    uint64_t done = 0;
    while (done < len) {
        const size_t piece = static_cast<size_t>(std::min<uint64_t>(len - done, 1u << 30));
        ssize_t n = ::copy_file_range(source.descriptor(), &in, fd_, &out, piece, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            if (errno == ENOSPC || errno == EFBIG || errno == EIO || errno == EDQUOT) {
                fail(errno);  // the destination refused the bytes: copying another way would not help
            } else {
                kernelCopy_ = false;  // other file systems, devices: copy the plain way from now on
            }
            break;
        }
        if (n == 0) break;  // end of the source
        done += static_cast<uint64_t>(n);
    }
    if (done > 0) {
        flushedEnd_ += done;
        cursor_ += done;
        startWriteBack();
    }
    return done;
}

bool OutputWriter::appendThroughBuffer(const FileReader& source, uint64_t offset, uint64_t len) {
    constexpr size_t kPiece = 1 << 20;
    while (len > 0) {
        const size_t piece = static_cast<size_t>(std::min<uint64_t>(len, kPiece));
        if (piece > capacity_) {
            std::vector<unsigned char> tmp(piece);
            source.readAt(offset, tmp.data(), piece);
            if (!append(tmp.data(), piece)) return false;
        } else {
            if (!makeRoom(piece) && (!flush() || !makeRoom(piece))) return false;
            source.readAt(offset, buffer_.get() + used_, piece);
            used_ += piece;
            cursor_ += piece;
        }
        offset += piece;
        len -= piece;
    }
    return true;
}

bool OutputWriter::writeAt(uint64_t offset, const void* data, size_t len) {
    if (offset > cursor_ || len > cursor_ - offset) {
        fail(EINVAL);
        return false;
    }
    const auto* bytes = static_cast<const unsigned char*>(data);
    if (offset >= flushedEnd_) {
        // Still in the buffer: patched there, no system call.
        std::memcpy(buffer_.get() + (offset - flushedEnd_), bytes, len);
        return !failed_;
    }
    if (offset + len > flushedEnd_ && !flush()) return false;
    return writeAll(bytes, len, offset);
}

bool OutputWriter::sync() {
    if (!flush()) return false;
    if (::fsync(fd_) != 0) fail(errno);
    return !failed_;
}

bool OutputWriter::close() {
    if (fd_ < 0) return !failed_;
    flush();
    if (::close(fd_) != 0) fail(errno);
    fd_ = -1;
    return !failed_;
}

}  // namespace arbel

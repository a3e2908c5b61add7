#pragma once

// What the fuzz targets share: a quiet, unpaced engine, a scratch folder in
// memory for the results, the fuzzer's bytes read as choices, and a check
// that stops the run on a result that would mislead a user.

#include "platform/pacing.h"
#include "platform/system_log.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <span>
#include <string>
#include <unistd.h>

namespace arbel::fuzz {

// A result that cannot be right: the target stops, and the input becomes a
// named regression file.
#define ARBEL_FUZZ_CHECK(condition)                                                            \
    do {                                                                                        \
        if (!(condition)) {                                                                     \
            std::fprintf(stderr, "%s:%d: misleading result: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                       \
        }                                                                                       \
    } while (0)

// A private folder on a memory file system (results are made durable; on
// disk that would cost more than the work), removed at exit.
inline const std::string& scratch() {
    struct Folder {
        std::string path;
        Folder() {
            const char* base = std::filesystem::is_directory("/dev/shm") ? "/dev/shm" : "/tmp";
            path = std::string(base) + "/arbel-fuzz-" + std::to_string(::getpid());
            std::filesystem::create_directories(path + "/results");
            ::setenv("ARBEL_RESULT_BASE", (path + "/results").c_str(), 1);
            Pacing::setMode(Pacing::Mode::Zero);
            SystemLog::silence();
        }
        ~Folder() {
            std::error_code ec;
            std::filesystem::remove_all(path, ec);
        }
    };
    static const Folder folder;
    return folder.path;
}

inline std::string scratchFile(const char* name) {
    const std::string path = scratch() + "/" + name;
    std::filesystem::remove(path);
    return path;
}

// The fuzzer's bytes taken front to back as the choices a target makes;
// what is left is the file it feeds.
class Choices {
public:
    Choices(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    uint8_t byte() { return at_ < size_ ? data_[at_++] : 0; }
    bool flag() { return byte() & 1; }
    uint32_t u32() {
        uint32_t v = 0;
        for (int i = 0; i < 4; ++i) v = (v << 8) | byte();
        return v;
    }
    // up to `most` bytes, as they are
    std::span<const uint8_t> bytes(size_t most) {
        const size_t n = std::min(most, size_ - std::min(at_, size_));
        std::span<const uint8_t> out(data_ + at_, n);
        at_ += n;
        return out;
    }
    std::span<const uint8_t> rest() { return bytes(size_); }

private:
    const uint8_t* data_;
    size_t size_;
    size_t at_ = 0;
};

}  // namespace arbel::fuzz

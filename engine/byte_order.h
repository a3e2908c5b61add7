#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace arbel {

// Big-endian readers for QuickTime structures.
inline uint16_t readU16BE(const uint8_t* p) { return static_cast<uint16_t>((p[0] << 8) | p[1]); }

inline uint64_t readU32BE(const uint8_t* p) {
    return (static_cast<uint64_t>(p[0]) << 24) | (static_cast<uint64_t>(p[1]) << 16) |
           (static_cast<uint64_t>(p[2]) << 8) | static_cast<uint64_t>(p[3]);
}

// Eight bytes as one big-endian number, saturating at 2^63 - 1 rather than
// turning negative.
inline int64_t readS64BESaturating(const uint8_t* p) {
    uint64_t v = (readU32BE(p) << 32) | readU32BE(p + 4);
    return v > static_cast<uint64_t>(INT64_MAX) ? INT64_MAX : static_cast<int64_t>(v);
}

// Little-endian reader for AVI structures.
inline uint64_t readU32LE(const uint8_t* p) {
    return static_cast<uint64_t>(p[0]) | (static_cast<uint64_t>(p[1]) << 8) |
           (static_cast<uint64_t>(p[2]) << 16) | (static_cast<uint64_t>(p[3]) << 24);
}

inline void putU32BE(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v >> 24);
    p[1] = static_cast<uint8_t>(v >> 16);
    p[2] = static_cast<uint8_t>(v >> 8);
    p[3] = static_cast<uint8_t>(v);
}

// A bounded view of bytes: every read is checked against the end, and a read
// that does not fit answers "nothing there" (zero, or no match) instead of
// touching memory past the buffer.
class ByteView {
public:
    ByteView() = default;
    ByteView(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    size_t size() const { return size_; }
    const uint8_t* data() const { return data_; }

    bool has(uint64_t at, uint64_t count) const {
        return at <= size_ && count <= size_ - at;
    }
    uint8_t byte(uint64_t at) const { return at < size_ ? data_[at] : 0; }
    uint64_t u32be(uint64_t at) const { return has(at, 4) ? readU32BE(data_ + at) : 0; }
    uint16_t u16be(uint64_t at) const { return has(at, 2) ? readU16BE(data_ + at) : 0; }
    int64_t s64be(uint64_t at) const { return has(at, 8) ? readS64BESaturating(data_ + at) : 0; }
    uint64_t u32le(uint64_t at) const { return has(at, 4) ? readU32LE(data_ + at) : 0; }

    // True when the n bytes of code stand at `at`.
    bool matches(uint64_t at, const void* code, size_t n) const {
        return has(at, n) && std::memcmp(data_ + at, code, n) == 0;
    }
    bool fourcc(uint64_t at, const char* code) const { return matches(at, code, 4); }

private:
    const uint8_t* data_ = nullptr;
    size_t size_ = 0;
};

}  // namespace arbel

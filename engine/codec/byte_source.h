#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

namespace arbel::codec {

// Where the codec parsers read the bytes they walk. Positions are absolute;
// a read near the end answers fewer bytes than asked.
class ByteSource {
public:
    virtual ~ByteSource() = default;
    virtual size_t read(uint64_t position, uint8_t* out, size_t n) const = 0;
};

// Bytes in memory, positions counted from `base`.
class MemoryBytes final : public ByteSource {
public:
    explicit MemoryBytes(std::span<const uint8_t> bytes, uint64_t base = 0) : bytes_(bytes), base_(base) {}
    size_t read(uint64_t position, uint8_t* out, size_t n) const override {
        if (position < base_ || position - base_ >= bytes_.size()) return 0;
        const size_t at = static_cast<size_t>(position - base_);
        const size_t got = std::min(n, bytes_.size() - at);
        std::memcpy(out, bytes_.data() + at, got);
        return got;
    }

private:
    std::span<const uint8_t> bytes_;
    uint64_t base_;
};

}  // namespace arbel::codec

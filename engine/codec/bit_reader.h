#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace arbel::codec {

// The payload of a NAL unit with its emulation-prevention bytes (00 00 03)
// removed; at most `most` bytes of it.
std::vector<uint8_t> unescapeRbsp(std::span<const uint8_t> nalPayload, size_t most = SIZE_MAX);

// Reads bits most significant first. Reading past the end gives zero bits
// and marks the reader overrun, so a parse of a cut header fails instead of
// reading memory it does not own.
class BitReader {
public:
    explicit BitReader(std::span<const uint8_t> bytes) : bytes_(bytes) {}

    uint32_t bit();
    uint32_t bits(unsigned n);  // n <= 32
    void skip(uint64_t n);
    // Exp-Golomb codes; nullopt for a code longer than 32 bits or a value
    // above `most`.
    std::optional<uint32_t> ue(uint32_t most = UINT32_MAX);
    std::optional<int32_t> se();

    bool overrun() const { return position_ > uint64_t{bytes_.size()} * 8; }
    uint64_t position() const { return position_; }

private:
    std::span<const uint8_t> bytes_;
    uint64_t position_ = 0;
};

}  // namespace arbel::codec

#include "bit_reader.h"

namespace arbel::codec {

std::vector<uint8_t> unescapeRbsp(std::span<const uint8_t> nal, size_t most) {
    std::vector<uint8_t> out;
    out.reserve(std::min(nal.size(), most));
    int zeros = 0;
    for (uint8_t b : nal) {
        if (out.size() >= most) break;
        if (zeros >= 2 && b == 0x03) {
            zeros = 0;
            continue;
        }
        zeros = b == 0 ? zeros + 1 : 0;
        out.push_back(b);
    }
    return out;
}

uint32_t BitReader::bit() {
    const uint64_t byte = position_ >> 3;
    uint32_t v = 0;
    if (byte < bytes_.size()) v = (bytes_[byte] >> (7 - (position_ & 7))) & 1u;
    ++position_;
    return v;
}

uint32_t BitReader::bits(unsigned n) {
    uint32_t v = 0;
    for (unsigned i = 0; i < n; ++i) v = (v << 1) | bit();
    return v;
}

void BitReader::skip(uint64_t n) { position_ += n; }

std::optional<uint32_t> BitReader::ue(uint32_t most) {
    unsigned zeros = 0;
    while (bit() == 0) {
        if (++zeros > 31 || overrun()) return std::nullopt;
    }
    const uint64_t value = ((uint64_t{1} << zeros) - 1) + bits(zeros);
    if (overrun() || value > most) return std::nullopt;
    return static_cast<uint32_t>(value);
}

std::optional<int32_t> BitReader::se() {
    const auto k = ue();
    if (!k) return std::nullopt;
    const int64_t magnitude = (int64_t{*k} + 1) / 2;
    return static_cast<int32_t>((*k & 1) ? magnitude : -magnitude);
}

}  // namespace arbel::codec

#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

namespace arbel::test {

// Lays out a damaged file's media data: length-prefixed NAL units, JPEG-like
// frames and audio chunks, and remembers where each unit landed so a test can
// state the tables it expects. Filler bytes (0x5A in frames, 0x33 in audio,
// ending with 0x07) start nothing that any scan looks for.
class MediaDataBuilder {
public:
    struct Unit {
        uint64_t position;
        uint64_t length;
    };

    // A NAL unit: 4-byte big-endian length, the header bytes, filler up to
    // `length` bytes after the prefix. The unit is length + 4 bytes long.
    MediaDataBuilder& nal(uint32_t length, std::initializer_list<uint8_t> header) {
        return nal(length, std::vector<uint8_t>(header));
    }
    MediaDataBuilder& nal(uint32_t length, const std::vector<uint8_t>& header) {
        const uint64_t at = data_.size();
        u32(length);
        size_t written = 0;
        for (uint8_t b : header) {
            if (written == length) break;
            data_.push_back(b);
            ++written;
        }
        data_.insert(data_.end(), length - written, uint8_t{0x5A});
        last_ = {at, uint64_t{length} + 4};
        return *this;
    }

    // An audio chunk of n bytes beginning with `head`. Its last byte ends it
    // as a raw AAC frame ends: with the END element's three set bits.
    MediaDataBuilder& audio(size_t n, std::initializer_list<uint8_t> head = {}) {
        return audio(n, std::vector<uint8_t>(head));
    }
    MediaDataBuilder& audio(size_t n, const std::vector<uint8_t>& head) {
        const uint64_t at = data_.size();
        size_t written = 0;
        for (uint8_t b : head) {
            if (written == n) break;
            data_.push_back(b);
            ++written;
        }
        data_.insert(data_.end(), n - written, uint8_t{0x33});
        if (n > written) data_.back() = 0x07;
        last_ = {at, n};
        return *this;
    }

    // A JPEG-like frame of n bytes (n > 584): FF D8 FF DB, FF DA at 581 and
    // 582, filler, FF D9 at the end.
    MediaDataBuilder& jpeg(size_t n) {
        const uint64_t at = data_.size();
        std::vector<uint8_t> f(n, uint8_t{0x5A});
        f[0] = 0xFF, f[1] = 0xD8, f[2] = 0xFF, f[3] = 0xDB;
        f[581] = 0xFF, f[582] = 0xDA;
        f[n - 2] = 0xFF, f[n - 1] = 0xD9;
        data_.insert(data_.end(), f.begin(), f.end());
        last_ = {at, n};
        return *this;
    }

    // Bytes made elsewhere (a whole access unit), remembered as one unit.
    MediaDataBuilder& unit(const std::vector<uint8_t>& b) {
        const uint64_t at = data_.size();
        data_.insert(data_.end(), b.begin(), b.end());
        last_ = {at, b.size()};
        return *this;
    }

    // The 8-byte media-data header of the damaged file itself.
    MediaDataBuilder& mdatHeader(uint32_t size = 0) {
        u32(size);
        text("mdat");
        return *this;
    }

    MediaDataBuilder& bytes(std::initializer_list<uint8_t> b) {
        data_.insert(data_.end(), b);
        return *this;
    }
    MediaDataBuilder& fill(size_t n, uint8_t v) {
        data_.insert(data_.end(), n, v);
        return *this;
    }
    MediaDataBuilder& text(const std::string& s) {
        data_.insert(data_.end(), s.begin(), s.end());
        return *this;
    }
    MediaDataBuilder& u32(uint32_t v) {
        for (int shift = 24; shift >= 0; shift -= 8) data_.push_back(static_cast<uint8_t>(v >> shift));
        return *this;
    }

    // The unit added last.
    Unit last() const { return last_; }
    uint64_t size() const { return data_.size(); }
    const std::vector<uint8_t>& data() const { return data_; }

private:
    std::vector<uint8_t> data_;
    Unit last_{0, 0};
};

}  // namespace arbel::test

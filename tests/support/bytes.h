#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

namespace arbel::test {

// Builds byte strings for synthetic files.
class Bytes {
public:
    Bytes() = default;
    Bytes(std::initializer_list<uint8_t> bytes) : data_(bytes) {}

    Bytes& u8(uint8_t v) { data_.push_back(v); return *this; }
    Bytes& u16be(uint16_t v) { return u8(static_cast<uint8_t>(v >> 8)).u8(static_cast<uint8_t>(v)); }
    Bytes& u32be(uint32_t v) { return u16be(static_cast<uint16_t>(v >> 16)).u16be(static_cast<uint16_t>(v)); }
    Bytes& u64be(uint64_t v) { return u32be(static_cast<uint32_t>(v >> 32)).u32be(static_cast<uint32_t>(v)); }
    Bytes& u16le(uint16_t v) { return u8(static_cast<uint8_t>(v)).u8(static_cast<uint8_t>(v >> 8)); }
    Bytes& u32le(uint32_t v) { return u16le(static_cast<uint16_t>(v)).u16le(static_cast<uint16_t>(v >> 16)); }
    Bytes& text(const std::string& s) { data_.insert(data_.end(), s.begin(), s.end()); return *this; }
    Bytes& zeros(size_t n) { data_.insert(data_.end(), n, 0); return *this; }
    Bytes& fill(size_t n, uint8_t v) { data_.insert(data_.end(), n, v); return *this; }
    Bytes& append(const std::vector<uint8_t>& b) { data_.insert(data_.end(), b.begin(), b.end()); return *this; }
    Bytes& append(const Bytes& b) { return append(b.data_); }

    size_t size() const { return data_.size(); }
    const std::vector<uint8_t>& vec() const { return data_; }
    operator const std::vector<uint8_t>&() const { return data_; }

private:
    std::vector<uint8_t> data_;
};

// A QuickTime atom: 32-bit size, type, payload.
inline Bytes atom(const std::string& type, const Bytes& payload = {}) {
    Bytes b;
    b.u32be(static_cast<uint32_t>(payload.size() + 8)).text(type).append(payload);
    return b;
}

}  // namespace arbel::test

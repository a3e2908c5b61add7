#pragma once

// Bounded reading of ISO / QuickTime boxes held in memory: each box is
// charged against the bytes its parent has left, and a size that does not
// fit ends the list instead of reaching past it.

#include "engine/byte_order.h"
#include "reference_window.h"

#include <cstdint>
#include <optional>
#include <span>

namespace arbel {

struct BoxView {
    uint32_t type = 0;                  // four-character code as a number (fourCode)
    std::span<const uint8_t> whole;     // header included
    std::span<const uint8_t> payload;   // after the header
    ByteView bytes() const { return ByteView(payload.data(), payload.size()); }
};

// The boxes laid end to end in `bytes`; stops at the first size that does
// not fit (a size of 0 runs to the end, 1 takes the 64-bit size).
class BoxList {
public:
    explicit BoxList(std::span<const uint8_t> bytes) : bytes_(bytes) {}

    class Iterator {
    public:
        Iterator(std::span<const uint8_t> rest) : rest_(rest) { advance(); }
        const BoxView& operator*() const { return box_; }
        const BoxView* operator->() const { return &box_; }
        Iterator& operator++() {
            rest_ = rest_.subspan(box_.whole.size());
            advance();
            return *this;
        }
        bool operator!=(const Iterator& o) const { return valid_ != o.valid_ || (valid_ && rest_.data() != o.rest_.data()); }

    private:
        void advance() {
            valid_ = false;
            if (rest_.size() < 8) return;
            uint64_t size = readU32BE(rest_.data());
            size_t header = 8;
            if (size == 1) {
                if (rest_.size() < 16) return;
                size = (readU32BE(rest_.data() + 8) << 32) | readU32BE(rest_.data() + 12);
                header = 16;
            } else if (size == 0) {
                size = rest_.size();
            }
            if (size < header || size > rest_.size()) return;
            box_.type = static_cast<uint32_t>(readU32BE(rest_.data() + 4));
            box_.whole = rest_.first(static_cast<size_t>(size));
            box_.payload = box_.whole.subspan(header);
            valid_ = true;
        }
        std::span<const uint8_t> rest_;
        BoxView box_;
        bool valid_ = false;
        friend class BoxList;
    };

    Iterator begin() const { return Iterator(bytes_); }
    Iterator end() const { return Iterator(std::span<const uint8_t>()); }

    // The first box of this type, if any.
    std::optional<BoxView> find(uint32_t type) const {
        for (const BoxView& b : *this)
            if (b.type == type) return b;
        return std::nullopt;
    }

private:
    std::span<const uint8_t> bytes_;
};

// The child at the end of a path of types (each the first of its kind).
inline std::optional<BoxView> findPath(std::span<const uint8_t> bytes, std::initializer_list<uint32_t> path) {
    std::optional<BoxView> at;
    std::span<const uint8_t> within = bytes;
    for (uint32_t type : path) {
        at = BoxList(within).find(type);
        if (!at) return std::nullopt;
        within = at->payload;
    }
    return at;
}

}  // namespace arbel

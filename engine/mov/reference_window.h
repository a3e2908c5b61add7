#pragma once

#include "engine/byte_order.h"
#include "engine/repair_request.h"
#include "platform/file_reader.h"

#include <algorithm>
#include <cstdint>
#include <vector>

namespace arbel {

// The reference is read in windows of `step` + 512 bytes: a scan moves through
// the first `step` bytes of a window, and the 512 bytes beyond let a comparison
// near the end look ahead without a second read. Views stop at the end of the
// file, so bytes beyond it never match anything.
class ReferenceWindow {
public:
    static constexpr uint64_t kLookAhead = 512;

    static constexpr uint64_t kStep = 65536;

    ReferenceWindow(const FileReader& file, uint64_t fileSize, const RepairControl& control, uint64_t step = kStep)
        : file_(file), fileSize_(fileSize), control_(control), step_(std::max<uint64_t>(step, 1)),
          buffer_(static_cast<size_t>(std::min(step_, fileSize) + kLookAhead)) {}

    // Reads the window that starts at pos. Polls stop and pause first and
    // answers false when the repair must end.
    bool load(uint64_t pos) {
        if (control_.poll()) return false;
        file_.readAt(pos, buffer_.data(), buffer_.size());
        base_ = pos;
        loaded_ = true;
        return true;
    }

    // Makes sure pos lies in the stepping part of the current window.
    bool cover(uint64_t pos) {
        if (loaded_ && pos >= base_ && pos - base_ < step_) return true;
        return load(pos);
    }

    uint64_t base() const { return base_; }
    // First position that the next window covers.
    uint64_t stepEnd() const { return base_ + step_; }
    // First position past the window (which may lie beyond the file).
    uint64_t end() const { return base_ + buffer_.size(); }

    // The bytes from pos to the end of the window or of the file.
    ByteView from(uint64_t pos) const {
        if (!loaded_ || pos < base_ || base_ >= fileSize_) return {};
        const uint64_t limit = std::min<uint64_t>(buffer_.size(), fileSize_ - base_);
        const uint64_t index = pos - base_;
        if (index >= limit) return {};
        return ByteView(buffer_.data() + index, static_cast<size_t>(limit - index));
    }

private:
    const FileReader& file_;
    uint64_t fileSize_;
    const RepairControl& control_;
    uint64_t step_;
    std::vector<uint8_t> buffer_;
    uint64_t base_ = 0;
    bool loaded_ = false;
};

// Four type-code bytes as one number, for switch statements over codes.
constexpr uint32_t fourCode(const char (&code)[5]) {
    return (static_cast<uint32_t>(static_cast<uint8_t>(code[0])) << 24) |
           (static_cast<uint32_t>(static_cast<uint8_t>(code[1])) << 16) |
           (static_cast<uint32_t>(static_cast<uint8_t>(code[2])) << 8) |
           static_cast<uint32_t>(static_cast<uint8_t>(code[3]));
}

// a + b, held at the largest value instead of wrapping.
inline uint64_t saturatingAdd(uint64_t a, uint64_t b) { return b > UINT64_MAX - a ? UINT64_MAX : a + b; }

}  // namespace arbel

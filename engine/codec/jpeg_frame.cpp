#include "jpeg_frame.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace arbel::codec {

namespace {

constexpr uint8_t kSoi = 0xD8, kEoi = 0xD9, kSos = 0xDA;

bool isFrameHeader(uint8_t m) { return m >= 0xC0 && m <= 0xCF && m != 0xC4 && m != 0xC8 && m != 0xCC; }
bool standsAlone(uint8_t m) { return (m >= 0xD0 && m <= 0xD7) || m == 0x01; }
// Markers with a length: frame headers, tables, restart interval, application data, comments.
bool hasSegment(uint8_t m) {
    return isFrameHeader(m) || m == 0xC4 || m == 0xCC || m == 0xDB || m == 0xDD || m == 0xDC || m == 0xDE ||
           m == 0xDF || (m >= 0xE0 && m <= 0xEF) || m == 0xFE || m == kSos;
}

}  // namespace

bool opensJpegFrame(const ByteSource& bytes, uint64_t position, uint64_t limit) {
    if (position >= limit || limit - position < 6) return false;
    std::array<uint8_t, 6> b{};
    if (bytes.read(position, b.data(), b.size()) < b.size()) return false;
    if (b[0] != 0xFF || b[1] != kSoi || b[2] != 0xFF || !hasSegment(b[3]) || b[3] == kSos) return false;
    const uint64_t length = (uint64_t{b[4]} << 8) | b[5];
    return length >= 2 && length <= limit - position - 4;
}

JpegFrame walkJpegFrame(const ByteSource& bytes, uint64_t start, uint64_t limit, uint64_t most) {
    JpegFrame r;
    if (!opensJpegFrame(bytes, start, limit)) return r;
    limit = std::min(limit, start + most);
    uint64_t pos = start + 2;
    bool frameHeader = false;
    std::array<uint8_t, 4> m{};
    std::array<uint8_t, 4096> piece{};
    while (true) {
        // A marker: 0xFF (fill bytes allowed), its code, and a length for segments.
        if (bytes.read(pos, m.data(), 2) < 2 || pos + 2 > limit) {
            r.fault = limit == start + most ? JpegFault::TooLong : JpegFault::Cut;
            return r;
        }
        if (m[0] != 0xFF) return r;
        if (m[1] == 0xFF) {
            ++pos;
            continue;
        }
        const uint8_t marker = m[1];
        if (marker == kEoi) {
            if (!frameHeader) return r;
            r.fault = JpegFault::None;
            r.end = pos + 2;
            return r;
        }
        if (standsAlone(marker)) {
            pos += 2;
            continue;
        }
        if (!hasSegment(marker)) return r;
        if (bytes.read(pos + 2, m.data() + 2, 2) < 2) {
            r.fault = JpegFault::Cut;
            return r;
        }
        const uint64_t length = (uint64_t{m[2]} << 8) | m[3];
        if (length < 2) return r;
        if (isFrameHeader(marker)) frameHeader = true;
        pos += 2 + length;
        if (pos > limit) {
            r.fault = limit == start + most ? JpegFault::TooLong : JpegFault::Cut;
            return r;
        }
        if (marker != kSos) continue;
        if (!frameHeader) return r;
        // Entropy-coded data: up to the first 0xFF that is neither stuffing
        // (FF 00) nor a restart marker.
        bool found = false;
        while (!found) {
            const size_t want = static_cast<size_t>(std::min<uint64_t>(piece.size(), limit - pos));
            const size_t got = want ? bytes.read(pos, piece.data(), want) : 0;
            if (got < 2) {
                r.fault = limit == start + most ? JpegFault::TooLong : JpegFault::Cut;
                return r;
            }
            size_t i = 0;
            while (i + 1 < got) {
                const void* ff = std::memchr(piece.data() + i, 0xFF, got - 1 - i);
                if (!ff) {
                    i = got - 1;
                    break;
                }
                i = static_cast<size_t>(static_cast<const uint8_t*>(ff) - piece.data());
                const uint8_t next = piece[i + 1];
                if (next == 0x00 || (next >= 0xD0 && next <= 0xD7) || next == 0xFF) {
                    i += next == 0xFF ? 1 : 2;
                    continue;
                }
                found = true;
                break;
            }
            pos += i;
        }
    }
}

}  // namespace arbel::codec

#pragma once

// JPEG images as Motion-JPEG stores them, one per sample: from the start of
// image through the marker segments and the entropy-coded data to the end of
// image, or the reason the bytes are none.

#include "byte_source.h"

#include <cstdint>

namespace arbel::codec {

enum class JpegFault : uint8_t {
    None,
    NoImage,     // no start of image, or marker segments that do not hold
    Cut,         // the data ends inside the image
    TooLong,
};

struct JpegFrame {
    JpegFault fault = JpegFault::NoImage;
    uint64_t end = 0;   // first byte behind the end-of-image marker
    bool ok() const { return fault == JpegFault::None; }
};

// The image that starts at `start`; nothing at or beyond `limit` is read,
// and images longer than `most` are not believed. The segments before the
// first scan must include a frame header, and every segment length must fit.
JpegFrame walkJpegFrame(const ByteSource& bytes, uint64_t start, uint64_t limit, uint64_t most);

// Start of image followed by a marker segment whose length fits: the cheap
// first test before a walk.
bool opensJpegFrame(const ByteSource& bytes, uint64_t position, uint64_t limit);

}  // namespace arbel::codec

#include "box_writer.h"

#include "platform/output_writer.h"

#include <cstring>

namespace arbel {

BoxWriter::BoxWriter(OutputWriter& out, Format format) : out_(out), format_(format) {}

// A writer left with open boxes has written sizes nobody patched: a fault of
// the caller, made visible as a failed output rather than a wrong file.
BoxWriter::~BoxWriter() {
    if (!open_.empty()) out_.markFailed();
}

void BoxWriter::encode(uint8_t* at, uint64_t value, int width) const {
    for (int i = 0; i < width; ++i) {
        const int shift = format_ == Format::QuickTime ? 8 * (width - 1 - i) : 8 * i;
        at[i] = static_cast<uint8_t>(value >> shift);
    }
}

void BoxWriter::put(uint64_t value, int width) {
    uint8_t b[8];
    encode(b, value, width);
    out_.append(b, static_cast<size_t>(width));
}

void BoxWriter::open(const char* type) {
    open_.push_back(out_.cursor());
    if (format_ == Format::QuickTime) {
        put(0, 4);
        fourcc(type);
    } else {
        fourcc(type);
        put(0, 4);
    }
}

void BoxWriter::openList(const char* id, const char* listType) {
    open(id);
    fourcc(listType);
}

uint64_t BoxWriter::close() {
    if (open_.empty()) return 0;
    const uint64_t start = open_.back();
    open_.pop_back();
    uint64_t size = out_.cursor() - start;
    uint64_t field = start;
    if (format_ == Format::Riff) {
        size -= 8;
        field += 4;
    }
    if (size > 0xFFFFFFFFull) {
        out_.markFailed();  // cannot be said in 32 bits
        return size;
    }
    patchU32(field, static_cast<uint32_t>(size));
    return size;
}

void BoxWriter::u8(uint8_t v) { out_.append(&v, 1); }
void BoxWriter::u16(uint16_t v) { put(v, 2); }
void BoxWriter::u32(uint32_t v) { put(v, 4); }
void BoxWriter::u64(uint64_t v) { put(v, 8); }
void BoxWriter::fourcc(const char* code) { out_.append(code, 4); }
void BoxWriter::bytes(const void* data, size_t length) { out_.append(data, length); }
void BoxWriter::zeros(uint64_t length) { out_.appendZeros(length); }

uint64_t BoxWriter::placeholderU32() {
    const uint64_t at = out_.cursor();
    put(0, 4);
    return at;
}

uint64_t BoxWriter::placeholderU64() {
    const uint64_t at = out_.cursor();
    put(0, 8);
    return at;
}

void BoxWriter::patchU32(uint64_t position, uint32_t value) {
    uint8_t b[4];
    encode(b, value, 4);
    out_.writeAt(position, b, 4);
}

void BoxWriter::patchU64(uint64_t position, uint64_t value) {
    uint8_t b[8];
    encode(b, value, 8);
    out_.writeAt(position, b, 8);
}

uint64_t BoxWriter::position() const { return out_.cursor(); }
bool BoxWriter::failed() const { return out_.failed(); }

}  // namespace arbel

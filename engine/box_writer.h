#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace arbel {

class OutputWriter;

// Writes nested boxes — QuickTime atoms or RIFF chunks and lists — through
// the result's output writer. A box is opened with a placeholder size, its
// content is written, and closing it patches the size from what was written:
// no size is ever worked out apart from the bytes themselves.
//
//   QuickTime: size (4 bytes, big-endian, header included), type
//   RIFF:      id, size (4 bytes, little-endian, header excluded), content
//              (no pad byte is added: the AVI writer's lists hold chunks
//              copied from the recording as they were found)
//
// Numbers go out in the format's byte order. Every failure of the output is
// remembered by the output writer (failed()).
class BoxWriter {
public:
    enum class Format { QuickTime, Riff };

    BoxWriter(OutputWriter& out, Format format);
    ~BoxWriter();
    BoxWriter(const BoxWriter&) = delete;
    BoxWriter& operator=(const BoxWriter&) = delete;

    // Opens a box of the given four-character type (RIFF: chunk id).
    void open(const char* type);
    // RIFF: a "RIFF" or "LIST" chunk whose content starts with listType.
    void openList(const char* id, const char* listType);
    // Closes the innermost open box; answers its size as written in its
    // size field. A size that does not fit 32 bits fails the output.
    uint64_t close();
    size_t depth() const { return open_.size(); }

    void u8(uint8_t v);
    void u16(uint16_t v);
    void u32(uint32_t v);
    void u64(uint64_t v);
    void fourcc(const char* code);
    void bytes(const void* data, size_t length);
    void bytes(const std::vector<uint8_t>& data) { bytes(data.data(), data.size()); }
    void zeros(uint64_t length);

    // A 4-byte field whose value is known only later: its position now, its
    // value through patchU32 (or patchU64 for 8 bytes written by u64).
    uint64_t placeholderU32();
    uint64_t placeholderU64();
    void patchU32(uint64_t position, uint32_t value);
    void patchU64(uint64_t position, uint64_t value);

    uint64_t position() const;
    bool failed() const;
    OutputWriter& output() { return out_; }

private:
    void put(uint64_t value, int width);
    void encode(uint8_t* at, uint64_t value, int width) const;

    OutputWriter& out_;
    Format format_;
    std::vector<uint64_t> open_;  // start of each open box
};

}  // namespace arbel

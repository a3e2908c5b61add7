#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace arbel::test {

// A QuickTime atom as the tests read it back: where it lies, what its size
// field says, and its children when it is a container.
struct Atom {
    std::string type;
    uint64_t offset = 0;       // of the size field
    uint64_t size = 0;         // as declared (the 64-bit size when the field is 1)
    uint64_t headerSize = 8;   // 8, or 16 for the 64-bit form
    std::vector<Atom> children;

    uint64_t payloadOffset() const { return offset + headerSize; }
    uint64_t payloadSize() const { return size - headerSize; }
};

// Parses a whole file into its top-level atoms, descending into the usual
// containers (moov, trak, mdia, minf, stbl, dinf, edts, udta). Every problem
// is recorded in `errors`: a size smaller than its header, an atom that runs
// past its parent, bytes left over that no atom covers, or a sample table
// (stts, stsc, stsz, stco, co64) whose size disagrees with its entry count.
// A tree with no errors has every size equal to its content.
class AtomTree {
public:
    static AtomTree parse(const std::vector<uint8_t>& bytes);
    static AtomTree parseFile(const std::string& path);

    const std::vector<Atom>& top() const { return top_; }
    const std::vector<std::string>& errors() const { return errors_; }
    bool wellFormed() const { return errors_.empty(); }
    const std::vector<uint8_t>& bytes() const { return bytes_; }

    // Finds an atom by path, e.g. "moov/trak[1]/mdia/minf/stbl/stco";
    // [k] picks the k-th (from 0) atom of that type among its siblings.
    // Answers nullptr when there is none.
    const Atom* find(const std::string& path) const;

    // The whole atom's bytes, and its payload's.
    std::vector<uint8_t> atomBytes(const Atom& atom) const;
    std::vector<uint8_t> payload(const Atom& atom) const;

    // Table entries of a full atom: stsz sizes (or the common size repeated),
    // stco / co64 offsets, stts (count, delta) pairs flattened.
    std::vector<uint64_t> sampleSizes(const Atom& stsz) const;
    std::vector<uint64_t> chunkOffsets(const Atom& stcoOrCo64) const;
    std::vector<uint64_t> timeToSample(const Atom& stts) const;

    uint32_t u32(uint64_t at) const;

private:
    void checkTable(const Atom& atom, const std::string& path);
    void parseLevel(uint64_t begin, uint64_t end, std::vector<Atom>& out, const std::string& where);

    std::vector<uint8_t> bytes_;
    std::vector<Atom> top_;
    std::vector<std::string> errors_;
};

}  // namespace arbel::test

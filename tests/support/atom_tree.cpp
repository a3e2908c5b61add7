#include "atom_tree.h"

#include "temp_dir.h"

#include <algorithm>
#include <set>

namespace arbel::test {

namespace {

bool isContainer(const std::string& type) {
    static const std::set<std::string> containers = {"moov", "trak", "mdia", "minf", "stbl", "dinf", "edts", "udta"};
    return containers.count(type) != 0;
}

}  // namespace

uint32_t AtomTree::u32(uint64_t at) const {
    if (at + 4 > bytes_.size()) return 0;
    return (uint32_t{bytes_[at]} << 24) | (uint32_t{bytes_[at + 1]} << 16) | (uint32_t{bytes_[at + 2]} << 8) |
           uint32_t{bytes_[at + 3]};
}

AtomTree AtomTree::parse(const std::vector<uint8_t>& bytes) {
    AtomTree tree;
    tree.bytes_ = bytes;
    tree.parseLevel(0, bytes.size(), tree.top_, "");
    return tree;
}

AtomTree AtomTree::parseFile(const std::string& path) { return parse(readWholeFile(path)); }

void AtomTree::parseLevel(uint64_t begin, uint64_t end, std::vector<Atom>& out, const std::string& where) {
    uint64_t at = begin;
    while (at < end) {
        if (end - at < 8) {
            errors_.push_back(where + ": " + std::to_string(end - at) + " stray bytes at " + std::to_string(at));
            return;
        }
        Atom a;
        a.offset = at;
        a.type.assign(reinterpret_cast<const char*>(&bytes_[at + 4]), 4);
        uint64_t size = u32(at);
        if (size == 1) {
            if (end - at < 16) {
                errors_.push_back(where + "/" + a.type + ": 64-bit size cut short");
                return;
            }
            size = (uint64_t{u32(at + 8)} << 32) | u32(at + 12);
            a.headerSize = 16;
        } else if (size == 0 && where.empty()) {
            size = end - at;  // runs to the end of the file
        }
        a.size = size;
        const std::string path = where.empty() ? a.type : where + "/" + a.type;
        if (size < a.headerSize) {
            errors_.push_back(path + ": size " + std::to_string(size) + " below its header at " + std::to_string(at));
            return;
        }
        if (size > end - at) {
            errors_.push_back(path + ": size " + std::to_string(size) + " runs " + std::to_string(size - (end - at)) +
                              " bytes past its parent at " + std::to_string(at));
            return;
        }
        if (isContainer(a.type)) parseLevel(at + a.headerSize, at + size, a.children, path);
        else checkTable(a, path);
        out.push_back(std::move(a));
        at += size;
    }
}

void AtomTree::checkTable(const Atom& a, const std::string& path) {
    if (a.headerSize != 8 || a.size < 16) return;
    const uint64_t p = a.payloadOffset();
    const uint64_t count = u32(p + 4);
    uint64_t expected = 0;
    if (a.type == "stts") expected = 16 + 8 * count;
    else if (a.type == "stsc") expected = 16 + 12 * count;
    else if (a.type == "stco") expected = 16 + 4 * count;
    else if (a.type == "co64") expected = 16 + 8 * count;
    else if (a.type == "stsz") expected = a.size < 20 ? 20 : 20 + (u32(p + 4) ? 0 : 4 * uint64_t{u32(p + 8)});
    else return;
    if (expected != a.size)
        errors_.push_back(path + ": " + std::to_string(a.size) + " bytes hold a table of " +
                          std::to_string(expected) + " bytes");
}

const Atom* AtomTree::find(const std::string& path) const {
    const std::vector<Atom>* level = &top_;
    const Atom* found = nullptr;
    size_t start = 0;
    while (start <= path.size()) {
        size_t slash = path.find('/', start);
        if (slash == std::string::npos) slash = path.size();
        std::string part = path.substr(start, slash - start);
        size_t index = 0;
        if (auto bracket = part.find('['); bracket != std::string::npos) {
            index = std::stoul(part.substr(bracket + 1));
            part.resize(bracket);
        }
        found = nullptr;
        for (const Atom& a : *level) {
            if (a.type != part) continue;
            if (index == 0) {
                found = &a;
                break;
            }
            --index;
        }
        if (!found) return nullptr;
        level = &found->children;
        start = slash + 1;
    }
    return found;
}

std::vector<uint8_t> AtomTree::atomBytes(const Atom& a) const {
    return {bytes_.begin() + static_cast<std::ptrdiff_t>(a.offset),
            bytes_.begin() + static_cast<std::ptrdiff_t>(a.offset + a.size)};
}

std::vector<uint8_t> AtomTree::payload(const Atom& a) const {
    return {bytes_.begin() + static_cast<std::ptrdiff_t>(a.payloadOffset()),
            bytes_.begin() + static_cast<std::ptrdiff_t>(a.offset + a.size)};
}

std::vector<uint64_t> AtomTree::sampleSizes(const Atom& stsz) const {
    const uint64_t p = stsz.payloadOffset();
    const uint32_t common = u32(p + 4);
    const uint32_t count = u32(p + 8);
    if (common) return std::vector<uint64_t>(count, common);
    std::vector<uint64_t> sizes;
    for (uint64_t i = 0; i < count && p + 12 + 4 * (i + 1) <= stsz.offset + stsz.size; ++i)
        sizes.push_back(u32(p + 12 + 4 * i));
    return sizes;
}

std::vector<uint64_t> AtomTree::chunkOffsets(const Atom& table) const {
    const uint64_t p = table.payloadOffset();
    const uint32_t count = u32(p + 4);
    const bool wide = table.type == "co64";
    const uint64_t width = wide ? 8 : 4;
    std::vector<uint64_t> offsets;
    for (uint64_t i = 0; i < count && p + 8 + width * (i + 1) <= table.offset + table.size; ++i) {
        const uint64_t at = p + 8 + width * i;
        offsets.push_back(wide ? (uint64_t{u32(at)} << 32) | u32(at + 4) : u32(at));
    }
    return offsets;
}

std::vector<uint64_t> AtomTree::timeToSample(const Atom& stts) const {
    const uint64_t p = stts.payloadOffset();
    const uint32_t count = u32(p + 4);
    std::vector<uint64_t> pairs;
    for (uint64_t i = 0; i < count && p + 8 + 8 * (i + 1) <= stts.offset + stts.size; ++i) {
        pairs.push_back(u32(p + 8 + 8 * i));
        pairs.push_back(u32(p + 12 + 8 * i));
    }
    return pairs;
}

}  // namespace arbel::test

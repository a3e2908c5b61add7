#include "riff_tree.h"

#include "platform/file_reader.h"

#include <array>

namespace arbel::test {
namespace {

class Reader {
public:
    explicit Reader(const std::string& path) : file_(path), size_(file_.size()) {}
    bool open() const { return file_.isOpen(); }
    uint64_t size() const { return size_; }

    uint32_t u32(uint64_t at) const {
        uint8_t b[4];
        file_.readAt(at, b, 4);
        return static_cast<uint32_t>(b[0] | (b[1] << 8) | (b[2] << 16)) | (static_cast<uint32_t>(b[3]) << 24);
    }
    uint64_t u64(uint64_t at) const { return u32(at) | (static_cast<uint64_t>(u32(at + 4)) << 32); }
    std::string id(uint64_t at) const {
        char b[4];
        file_.readAt(at, b, 4);
        return std::string(b, 4);
    }
    std::vector<uint8_t> bytes(uint64_t at, size_t len) const { return file_.readAt(at, len); }

private:
    FileReader file_;
    uint64_t size_;
};

struct SuperEntry {
    uint64_t offset;
    uint32_t duration;
};

struct SuperIndex {
    std::string chunkId;
    std::vector<SuperEntry> entries;
};

class ReadBack {
public:
    ReadBack(const std::string& path, const std::function<void(bool, uint64_t, uint32_t)>& chunk)
        : in_(path), chunk_(chunk) {}

    RiffReadBack run() {
        walkLists();
        if (supers_.size() != 2) {
            fail("not two super indexes");
            return r_;
        }
        followSuperIndex(supers_[0], true);
        followSuperIndex(supers_[1], false);
        return r_;
    }

private:
    void walkLists() {
        if (!in_.open()) return fail("the file does not open");
        uint64_t pos = 0;
        while (pos < in_.size()) {
            if (in_.size() - pos < 12) return fail("bytes after the last RIFF list");
            const uint64_t end = pos + 8 + in_.u32(pos + 4);
            const std::string type = in_.id(pos + 8);
            if (in_.id(pos) != "RIFF") return fail("no RIFF list at " + std::to_string(pos));
            if (end > in_.size()) return fail("a RIFF list runs past the end of the file");
            if (type != (r_.listTypes.empty() ? "AVI " : "AVIX")) fail("a RIFF list of type '" + type + "'");
            r_.listTypes.push_back(type);
            r_.listSizes.push_back(end - pos - 8);
            walkList(pos + 12, end, r_.listTypes.size() == 1);
            pos = end;
        }
    }

    void fail(const std::string& why) {
        if (r_.errors.size() < 20) r_.errors.push_back(why);
    }

    // Calls each(id, at, dataSize) for the children of [begin, end) and
    // checks that they fill it exactly.
    template <typename Each>
    void children(uint64_t begin, uint64_t end, const std::string& where, Each each) {
        uint64_t at = begin;
        while (end - at >= 8) {
            const std::string id = in_.id(at);
            const uint32_t size = in_.u32(at + 4);
            if (at + 8 + size > end) {
                fail(where + ": '" + id + "' at " + std::to_string(at) + " runs past its list");
                return;
            }
            each(id, at, size);
            at += 8 + size;
        }
        if (at != end) fail(where + ": its children do not fill it");
    }

    void walkList(uint64_t begin, uint64_t end, bool first) {
        int movies = 0;
        children(begin, end, "RIFF", [&](const std::string& id, uint64_t at, uint32_t size) {
            if (id != "LIST" || size < 4) return;
            const std::string type = in_.id(at + 8);
            if (type == "hdrl" && first) walkHeader(at + 12, at + 8 + size);
            if (type == "movi") {
                ++movies;
                children(at + 12, at + 8 + size, "movi", [](const std::string&, uint64_t, uint32_t) {});
            }
        });
        if (movies != 1) fail("a RIFF list without exactly one movie list");
    }

    void walkHeader(uint64_t begin, uint64_t end) {
        children(begin, end, "hdrl", [&](const std::string& id, uint64_t at, uint32_t size) {
            if (id == "avih" && size >= 20) r_.avihFrames = in_.u32(at + 8 + 16);
            if (id != "LIST" || size < 4) return;
            const std::string type = in_.id(at + 8);
            if (type == "odml") {
                children(at + 12, at + 8 + size, "odml", [&](const std::string& c, uint64_t cat, uint32_t csize) {
                    if (c == "dmlh" && csize >= 4) r_.extendedFrames = in_.u32(cat + 8);
                });
            }
            if (type != "strl") return;
            std::string kind;
            children(at + 12, at + 8 + size, "strl", [&](const std::string& c, uint64_t cat, uint32_t csize) {
                if (c == "strh" && csize >= 36) {
                    kind = in_.id(cat + 8);
                    (kind == "vids" ? r_.videoLength : r_.audioLength) = in_.u32(cat + 8 + 32);
                }
                if (c == "indx" && csize >= 24) readSuperIndex(cat + 8, csize);
            });
        });
    }

    void readSuperIndex(uint64_t data, uint32_t size) {
        SuperIndex s;
        const uint32_t count = in_.u32(data + 4);
        s.chunkId = in_.id(data + 8);
        if (in_.u32(data) != 0x00000004u) fail("a super index of other than 4 longs per entry");
        if (24 + uint64_t{count} * 16 > size) return fail("a super index with more entries than room");
        for (uint32_t k = 0; k < count; ++k) {
            const uint64_t e = data + 24 + uint64_t{k} * 16;
            s.entries.push_back({in_.u64(e), in_.u32(e + 12)});
        }
        supers_.push_back(s);
    }

    void followSuperIndex(const SuperIndex& s, bool video) {
        const std::string ix = video ? "ix00" : "ix01";
        for (const SuperEntry& e : s.entries) {
            if (e.offset + 32 > in_.size() || in_.id(e.offset) != ix) {
                fail("a super index entry that does not point at '" + ix + "'");
                continue;
            }
            (video ? r_.videoStandardIndexes : r_.audioStandardIndexes) += 1;
            const uint32_t size = in_.u32(e.offset + 4);
            const uint32_t count = in_.u32(e.offset + 12);
            const std::string id = in_.id(e.offset + 16);
            const uint64_t base = in_.u64(e.offset + 20);
            if (24 + uint64_t{count} * 8 != size) fail("'" + ix + "' whose size disagrees with its entry count");
            if (e.duration != count) fail("a super index duration that is not its standard index's count");
            if (video ? (id != "00dc" && id != "00db") : id != "01wb") fail("'" + ix + "' of chunks '" + id + "'");
            const std::vector<uint8_t> entries = in_.bytes(e.offset + 32, size_t{count} * 8);
            for (uint32_t k = 0; k < count; ++k) {
                const uint8_t* p = entries.data() + size_t{k} * 8;
                const uint32_t offset = static_cast<uint32_t>(p[0] | (p[1] << 8) | (p[2] << 16)) |
                                        (static_cast<uint32_t>(p[3]) << 24);
                const uint32_t chunkSize = (static_cast<uint32_t>(p[4] | (p[5] << 8) | (p[6] << 16)) |
                                            (static_cast<uint32_t>(p[7]) << 24)) & 0x7FFFFFFFu;
                const uint64_t header = base + offset - 8;
                if (offset < 8 || header + 8 + chunkSize > in_.size() || in_.id(header) != id ||
                    in_.u32(header + 4) != chunkSize) {
                    fail("an index entry of '" + ix + "' that does not land on its chunk");
                    continue;
                }
                (video ? r_.videoIndexed : r_.audioIndexed) += 1;
                if (chunk_) chunk_(video, header + 8, chunkSize);
            }
        }
    }

    Reader in_;
    const std::function<void(bool, uint64_t, uint32_t)>& chunk_;
    std::vector<SuperIndex> supers_;
    RiffReadBack r_;
};

}  // namespace

RiffReadBack readRiffBack(const std::string& path,
                          const std::function<void(bool video, uint64_t dataAt, uint32_t size)>& chunk) {
    return ReadBack(path, chunk).run();
}

}  // namespace arbel::test

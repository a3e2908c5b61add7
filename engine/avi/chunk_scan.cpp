// The chunk scan: every byte position of the damaged file is tested once for
// a video ("00db", "00dc") or audio ("01wb") chunk identifier. A candidate is
// believed when its size is plausible and another chunk header follows its
// data (after up to two pad bytes).
#include "repair_file_avi.h"

#include "platform/system_log.h"

#include <algorithm>
#include <cstring>

namespace arbel {
namespace {

// Sectors are examined one KiB at a time, with polls and progress per
// sector, but read in large pieces: one read per 4 MiB instead of three per KiB. The piece keeps
// a tail beyond its last sector, so that a position's four bytes and most
// follow-up headers are answered from memory; other reads go to the file.
constexpr uint64_t kPieceBytes = 4 << 20;
constexpr uint64_t kPieceTail = 256 << 10;

class PieceReader {
public:
    // A short scan needs no more than its own bytes and a sector past them.
    PieceReader(const FileReader& file, uint64_t scanEnd)
        : file_(file), bytes_(static_cast<size_t>(std::min<uint64_t>(kPieceBytes + kPieceTail, scanEnd + 1024))) {}

    void load(uint64_t start) {
        start_ = start;
        file_.readAt(start, bytes_.data(), bytes_.size());
    }
    const uint8_t* at(uint64_t offset) const { return bytes_.data() + (offset - start_); }

    // Same bytes as a zero-filled read of the file at offset.
    void read(uint64_t offset, uint8_t* out, size_t len) const {
        if (offset >= start_ && offset - start_ <= bytes_.size() - len) {
            std::memcpy(out, at(offset), len);
        } else {
            file_.readAt(offset, out, len);
        }
    }

private:
    const FileReader& file_;
    std::vector<uint8_t> bytes_;
    uint64_t start_ = 0;
};

bool followedByChunk(const uint8_t next[6]) {
    static const char* const kFollowers[] = {"JUNK", "01wb", "00db", "00dc"};
    for (int skip = 0; skip <= 2; ++skip)
        for (const char* code : kFollowers)
            if (std::memcmp(next + skip, code, 4) == 0) return true;
    return false;
}

}  // namespace

void RepairFileAvi::recordChunk(bool video, uint64_t offset, uint64_t size) {
    uint64_t& count = video ? videosamplecount : audiosamplecount;
    if (count + 1 >= kChunkTableEntries) {
        bool& full = video ? videotablefull : audiotablefull;
        if (!full) {
            systemLogf("More than %llu %s chunks: the rest of that stream is left out",
                       static_cast<unsigned long long>(kChunkTableEntries - 1), video ? "video" : "audio");
        }
        full = true;
        return;
    }
    ++count;
    (video ? videosamplesizearray : audiosamplesizearray).push_back(size);
    (video ? videosampleoffsetarray : audiosampleoffsetarray).push_back(offset);
}

void RepairFileAvi::scanForChunks() {
    const uint64_t scanEnd = numberofsectors * buffersize;
    PieceReader piece(inputfilehandle, scanEnd);
    // The status is the same for every sector: it is said when it changes,
    // not a million times (each post blocks until the window has shown it).
    std::string postedText;
    double postedProgress = -1;

    for (uint64_t pieceStart = 0; pieceStart < scanEnd; pieceStart += kPieceBytes) {
        if (pollPoint()) return;  // stopped: the remaining sectors pass without work
        piece.load(pieceStart);
        const uint64_t pieceEnd = std::min(pieceStart + kPieceBytes, scanEnd);

        for (uint64_t sectorStart = pieceStart; sectorStart < pieceEnd; sectorStart += buffersize) {
            sector = sectorStart / buffersize + 1;
            if (pollPoint()) return;
            if (postedText != kLocatingText || postedProgress != 70.0) {
                postedText = kLocatingText;
                postedProgress = 70.0;
                reporter_.status(postedText, postedProgress);
            }

            const uint8_t* window = piece.at(sectorStart);
            for (uint32_t i = 0; i < buffersize; ++i) {
                // Every identifier of interest begins with '0'.
                const void* hit = std::memchr(window + i, '0', buffersize - i);
                if (!hit) break;
                i = static_cast<uint32_t>(static_cast<const uint8_t*>(hit) - window);
                const uint8_t* code = window + i;
                const bool video = code[1] == '0' && code[2] == 'd' && (code[3] == 'b' || code[3] == 'c');
                const bool audio = code[1] == '1' && code[2] == 'w' && code[3] == 'b';
                if (!video && !audio) continue;

                const uint64_t position = sectorStart + i;
                uint8_t sizeField[4];
                piece.read(position + 4, sizeField, sizeof sizeField);
                videosamplesize = fourByteRead(sizeField);
                if (videosamplesize == 0 || videosamplesize > kMaxChunkSize) continue;

                uint8_t next[6];
                piece.read(position + 8 + videosamplesize, next, sizeof next);
                if (followedByChunk(next)) recordChunk(video, position, videosamplesize);
            }
        }
    }
}

}  // namespace arbel

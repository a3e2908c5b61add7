// The writer: one RIFF "AVI " list with a header list for one video and one
// audio stream, each with an OpenDML super index, and a movie list holding
// the two standard indexes, then every video chunk, then every audio chunk.
#include "repair_file_avi.h"

#include "engine/repair_values.h"
#include "engine/result_location.h"
#include "platform/file_system.h"
#include "platform/system_log.h"

#include <numeric>

namespace arbel {
namespace {

// Size of the main header data as this writer lays it out: 16 bytes of the
// first piece, the total-frames field and the 36-byte second piece.
constexpr uint32_t kMainHeaderDataSize = 56;
constexpr uint32_t kStreamHeaderDataSize = 56;
constexpr uint32_t kSuggestedBufferSize = 0x00FFFFFF;

uint64_t sumOf(const std::vector<uint64_t>& table, uint64_t count) {
    return std::accumulate(table.begin(), table.begin() + static_cast<std::ptrdiff_t>(count + 1), uint64_t{0});
}

// The layout's numbers: all below 4 GiB once the result size has been checked.
uint32_t low32(uint64_t value) { return static_cast<uint32_t>(value); }

}  // namespace

std::array<uint8_t, 4> RepairFileAvi::convertIntToData(uint32_t value) {
    return {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value >> 16),
            static_cast<uint8_t>(value >> 24)};
}

std::array<uint8_t, 8> RepairFileAvi::convertIntTo8byteData(uint32_t value) {
    const auto low = convertIntToData(value);
    return {low[0], low[1], low[2], low[3], 0, 0, 0, 0};
}

void RepairFileAvi::computeRIFFLayout() {
    const uint64_t V = videosamplecount;
    const uint64_t A = audiosamplecount;
    const uint64_t Fv = videostrfsize;
    const uint64_t Fa = audiostrfsize;
    ix00size = 24 + 8 * V;
    ix01size = 24 + 8 * A;
    videodatasize = audiodatasize = 0;
    videoindxsize = audioindxsize = 44;
    ix00location = audioindxsize + 336 + Fv + Fa;
    ix01location = ix00location + ix00size;
    audiostrlListsize = Fa + 84 + audioindxsize;
    videostrlListsize = Fv + 84 + videoindxsize;
    AVILISTsize = audiostrlListsize + 168 + Fv + videoindxsize;
    baseoffsetforvideo = ix01size + 48 + AVILISTsize + ix00size;
    audiodatasize = sumOf(audiosamplesizearray, A);
    videodatasize = sumOf(videosamplesizearray, V);
    movisize = ix00size + ix01size + audiodatasize + videodatasize + 8 * (V + A) + 20;
    RIFFLISTsize = AVILISTsize + 40 + ix00size + ix01size + audiodatasize + videodatasize + 8 * (V + A);
    baseoffsetforaudio = videodatasize + baseoffsetforvideo + 8 * V;
}

bool RepairFileAvi::writeHeaderLists() {
    OutputWriter& out = outputfile;
    auto u32 = [&out](uint64_t v) { return out.append(convertIntToData(low32(v)).data(), 4); };
    auto u64 = [&out](uint64_t v) { return out.append(convertIntTo8byteData(low32(v)).data(), 8); };
    auto code = [&out](const char* c) { return out.appendFourCC(c); };
    auto bytes = [&out](const auto& b) { return out.append(b.data(), b.size()); };
    auto u16 = [&out](uint16_t v) { return out.append(convertIntToData(v).data(), 2); };
    auto u8 = [&out](uint8_t v) { return out.append(&v, 1); };

    const uint64_t V = videosamplecount;
    const uint64_t A = audiosamplecount;

    // The damaged file's own size field is not copied: the header written
    // here always has 56 bytes of data.
    bool ok = code("RIFF") && u32(RIFFLISTsize) && code("AVI ") && code("LIST") && u32(AVILISTsize) &&
              code("hdrl") && code("avih") && u32(kMainHeaderDataSize) &&
              out.append(avihdata1.data() + 4, avihdata1.size() - 4) && u32(V) && bytes(avihdata2);

    ok = ok && code("LIST") && u32(videostrlListsize) && code("strl") && code("strh") && u32(kStreamHeaderDataSize) &&
         code("vids") && bytes(videocodec) && out.appendZeros(12) && bytes(videoscaleratedata) && u32(0) && u32(V) &&
         u32(kSuggestedBufferSize) && u32(0) && bytes(videoscaledata) && out.appendZeros(8) && code("strf") &&
         u32(videostrfsize) && bytes(videostrfdata);
    ok = ok && code("indx") && u32(videoindxsize) && u16(4) && u8(0) && u8(0) && u32(1) && code("00db") &&
         out.appendZeros(12) && u64(ix00location - 8) && u32(ix00size + 4) && u64(V);

    ok = ok && code("LIST") && u32(audiostrlListsize) && code("strl") && code("strh") && u32(kStreamHeaderDataSize) &&
         code("auds") && bytes(audiocodec) && out.appendZeros(12) && bytes(audioscaleratedata) && u32(0) && u32(A) &&
         u32(kSuggestedBufferSize) && u32(0) && bytes(audioscaledata) && out.appendZeros(8) && code("strf") &&
         u32(audiostrfsize) && bytes(audiostrfdata);
    ok = ok && code("indx") && u32(audioindxsize) && u16(4) && u8(0) && u8(0) && u32(1) && code("01wb") &&
         out.appendZeros(12) && u64(ix01location) && u32(ix01size + 4) && u64(A);
    return ok;
}

bool RepairFileAvi::writeStandardIndexes() {
    OutputWriter& out = outputfile;
    auto u32 = [&out](uint64_t v) { return out.append(convertIntToData(low32(v)).data(), 4); };
    auto u64 = [&out](uint64_t v) { return out.append(convertIntTo8byteData(low32(v)).data(), 8); };
    auto indexHeader = [&](const char* id, uint64_t size, uint64_t count, const char* chunkId, uint64_t base) {
        static const uint8_t kChunkIndex[4] = {2, 0, 0, 1};  // 2 longs per entry, sub-type 0, index of chunks
        return out.appendFourCC(id) && u32(size) && out.append(kChunkIndex, 4) && u32(count) &&
               out.appendFourCC(chunkId) && u64(base) && u32(0);
    };
    // Each entry: where the chunk's data starts, relative to the base, and its
    // size; bit 31 stays clear, so every chunk is a key frame.
    auto entries = [&](const std::vector<uint64_t>& sizes, uint64_t count) {
        uint64_t offset = 8;
        for (uint64_t k = 1; k <= count; ++k) {
            pollPoint();  // pause only; a stop is honoured before the chunks are copied
            if (!u32(offset) || !u32(sizes[k])) return false;
            offset += sizes[k] + 8;
        }
        return true;
    };

    return out.appendFourCC("LIST") && u32(movisize) && out.appendFourCC("movi") &&
           indexHeader("ix00", ix00size, videosamplecount, db ? "00db" : "00dc", baseoffsetforvideo) &&
           entries(videosamplesizearray, videosamplecount) &&
           indexHeader("ix01", ix01size, audiosamplecount, "01wb", baseoffsetforaudio) &&
           entries(audiosamplesizearray, audiosamplecount);
}

bool RepairFileAvi::copyChunks(const std::vector<uint64_t>& sizes, const std::vector<uint64_t>& offsets,
                               uint64_t count) {
    for (uint64_t k = 1; k <= count; ++k) {
        if (pollPoint()) return true;  // stopped: cut short, not a failure
        // Identifier, size field and data; a chunk cut off by the end of the
        // file is zero-padded to the size its index entry states.
        if (!outputfile.appendFrom(inputfilehandle, offsets[k], sizes[k] + 8)) return false;
        bytesCopied += sizes[k] + 8;
    }
    return true;
}

void RepairFileAvi::discardResult(const std::string& path) {
    outputfile.close();
    if (fs::isRegularFile(path)) fs::removeFile(path);
}

void RepairFileAvi::constructRIFFList() {
    reporter.status(kRepairingText, 80.0);
    bytesCopied = 0;
    if (!inputfilehandle.open(corruptFilePath)) {
        refuseRepair("The damaged file could not be opened again");
        return;
    }
    if (videostrfdata.size() != videostrfsize || audiostrfdata.size() != audiostrfsize) {
        refuseRepair("The stream formats were not read");
        return;
    }

    computeRIFFLayout();
    if (RIFFLISTsize + 8 >= kResultSizeLimit) {
        systemLogf("The repaired file would take %llu bytes: 4 GiB or more does not fit the 32-bit sizes of "
                   "one RIFF list",
                   static_cast<unsigned long long>(RIFFLISTsize + 8));
        refuseRepair(nullptr);
        return;
    }

    SystemLog::write("Construct RIFF file");
    if (audiocodecfound) {
        audiocodecstring = AVIaudiocodecstring.empty() ? "Unknown" : AVIaudiocodecstring;
        systemLogf("audiocodecstring=%s", audiocodecstring.c_str());
    }

    const std::string path = resultPath();
    if (!ensureParentFolder(path) || !outputfile.create(path)) {
        systemLogf("The repaired file could not be created at %s", path.c_str());
        refuseRepair(nullptr);
        return;
    }

    bool ok = writeHeaderLists() && writeStandardIndexes();
    if (ok && !isStopRequested()) {
        ok = copyChunks(videosamplesizearray, videosampleoffsetarray, videosamplecount);
        if (ok && !isStopRequested())
            ok = copyChunks(audiosamplesizearray, audiosampleoffsetarray, audiosamplecount);
    }
    if (isStopRequested()) {
        // The user stopped: the partial file stays, and nothing is reported.
        outputfile.close();
        SystemLog::write("Repair stopped");
        return;
    }
    ok = ok && outputfile.sync() && outputfile.close();
    if (!ok) {
        systemLogf("Writing the repaired file %s failed", path.c_str());
        discardResult(path);
        refuseRepair(nullptr);
        return;
    }
    SystemLog::write("Repair file completed");
    reporter.status(kCompletedText, 100.0);
}

}  // namespace arbel

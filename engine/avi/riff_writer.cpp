// The writer: one RIFF "AVI " list with a header list for one video and one
// audio stream, each with an OpenDML super index, and a movie list holding
// the two standard indexes, then every video chunk, then every audio chunk.
// Every size and offset is patched in from what was written.
#include "repair_file_avi.h"

#include "engine/box_writer.h"
#include "engine/result_location.h"
#include "platform/file_system.h"
#include "platform/system_log.h"

#include <numeric>

namespace arbel {
namespace {

constexpr uint32_t kSuggestedBufferSize = 0x00FFFFFF;

uint64_t sumOf(const std::vector<uint64_t>& table, uint64_t count) {
    return std::accumulate(table.begin() + 1, table.begin() + static_cast<std::ptrdiff_t>(count + 1), uint64_t{0});
}

// The result's numbers: all below 4 GiB once the result size has been checked.
uint32_t low32(uint64_t value) { return static_cast<uint32_t>(value); }

// What one stream's header list holds.
struct StreamHeader {
    const char* type;                      // "vids", "auds"
    const RepairFileAvi::FourCC& handler;
    const std::array<uint8_t, 8>& scaleAndRate;
    uint64_t length;                       // chunks in the stream
    const RepairFileAvi::FourCC& scale;
    const std::vector<uint8_t>& format;
    const char* chunkId;                   // what the super index indexes
};

// Where the super index's one entry must point; known once the standard
// index is written.
struct SuperIndexEntry {
    uint64_t offset = 0;    // the entry's qwOffset field
    uint64_t size = 0;      // its dwSize field
};

SuperIndexEntry writeStreamList(BoxWriter& box, const StreamHeader& s) {
    box.openList("LIST", "strl");
    box.open("strh");
    box.fourcc(s.type);
    box.bytes(s.handler.data(), s.handler.size());
    box.zeros(12);  // flags, priority, language, initial frames
    box.bytes(s.scaleAndRate.data(), s.scaleAndRate.size());
    box.u32(0);     // start
    box.u32(low32(s.length));
    box.u32(kSuggestedBufferSize);
    box.u32(0);     // quality
    box.bytes(s.scale.data(), s.scale.size());
    box.zeros(8);   // frame rectangle
    box.close();
    box.open("strf");
    box.bytes(s.format);
    box.close();

    // The OpenDML super index: 4 longs per entry, one entry in use.
    box.open("indx");
    box.u16(4);
    box.u8(0);
    box.u8(0);
    box.u32(1);
    box.fourcc(s.chunkId);
    box.zeros(12);
    SuperIndexEntry entry;
    entry.offset = box.placeholderU64();
    entry.size = box.placeholderU32();
    box.u64(low32(s.length));  // the duration, then 4 bytes this writer has always kept zero
    box.close();
    box.close();
    return entry;
}

// A standard index of one stream's chunks, all key frames. Answers where its
// base offset goes; the entries count from 8 past the base, chunk after chunk.
uint64_t writeStandardIndex(BoxWriter& box, const char* id, const char* chunkId, const std::vector<uint64_t>& sizes,
                            uint64_t count, SuperIndexEntry super) {
    const uint64_t start = box.position();
    box.patchU64(super.offset, start);
    box.open(id);
    box.u16(2);     // 2 longs per entry
    box.u8(0);      // sub-type
    box.u8(1);      // an index of chunks
    box.u32(low32(count));
    box.fourcc(chunkId);
    const uint64_t base = box.placeholderU64();
    box.u32(0);
    uint64_t offset = 8;
    for (uint64_t k = 1; k <= count; ++k) {
        box.u32(low32(offset));
        box.u32(low32(sizes[k]));  // bit 31 stays clear: every chunk is a key frame
        offset += sizes[k] + 8;
    }
    const uint64_t size = box.close();
    box.patchU32(super.size, low32(size + 4));
    return base;
}

}  // namespace

void RepairFileAvi::discardResult(const std::string& path) {
    outputfile.close();
    if (fs::isRegularFile(path)) fs::removeFile(path);
}

void RepairFileAvi::constructRIFFList() {
    reporter_.status(kRepairingText, 80.0);
    bytesCopied = 0;
    if (!openSource(inputfilehandle, request_.damagedPath, request_.damagedBytes)) {
        refuseRepair(RepairOutcome::Refused, "The damaged file could not be opened again");
        return;
    }
    if (videostrfdata.size() != videostrfsize || audiostrfdata.size() != audiostrfsize) {
        refuseRepair(RepairOutcome::Refused, "The stream formats were not read");
        return;
    }

    const uint64_t V = videosamplecount;
    const uint64_t A = audiosamplecount;
    videodatasize = sumOf(videosamplesizearray, V);
    audiodatasize = sumOf(audiosamplesizearray, A);
    // The chunks and their index entries alone must leave room below 4 GiB.
    const uint64_t chunkBytes = videodatasize + audiodatasize + 16 * (V + A);
    if (chunkBytes + kHeaderRoom >= kResultSizeLimit) {
        systemLogf("The repaired file would take more than %llu bytes: 4 GiB or more does not fit the 32-bit "
                   "sizes of one RIFF list",
                   static_cast<unsigned long long>(chunkBytes));
        refuseRepair(RepairOutcome::Refused, "the result would not fit one RIFF list");
        return;
    }

    SystemLog::write("Construct RIFF file");
    if (audiocodecfound) {
        audiocodecstring = AVIaudiocodecstring.empty() ? "Unknown" : AVIaudiocodecstring;
        systemLogf("audiocodecstring=%s", audiocodecstring.c_str());
    }

    const std::string path = resultPath();
    const bool mustBeNew = request_.resultMustBeNew;
    if (!mustBeNew && !ensureParentFolder(path)) {
        refuseRepair(RepairOutcome::Failed, "The repaired file could not be created at " + path +
                                                ": its folder could not be made");
        return;
    }
    if (!outputfile.create(path, mustBeNew ? OutputWriter::Creation::New : OutputWriter::Creation::Replace)) {
        refuseRepair(RepairOutcome::Failed,
                     "The repaired file could not be created at " + path + ": " + outputfile.errorText());
        return;
    }

    BoxWriter box(outputfile, BoxWriter::Format::Riff);
    box.openList("RIFF", "AVI ");
    box.openList("LIST", "hdrl");
    // The damaged file's own size field is not copied: the main header
    // written here always has 56 bytes of data.
    box.open("avih");
    box.bytes(avihdata1.data() + 4, avihdata1.size() - 4);
    box.u32(low32(V));  // total frames
    box.bytes(avihdata2.data(), avihdata2.size());
    box.close();
    const SuperIndexEntry videoIndex = writeStreamList(
        box, {"vids", videocodec, videoscaleratedata, V, videoscaledata, videostrfdata, "00db"});
    const SuperIndexEntry audioIndex = writeStreamList(
        box, {"auds", audiocodec, audioscaleratedata, A, audioscaledata, audiostrfdata, "01wb"});
    box.close();

    box.openList("LIST", "movi");
    const uint64_t videoBase =
        writeStandardIndex(box, "ix00", db ? "00db" : "00dc", videosamplesizearray, V, videoIndex);
    const uint64_t audioBase = writeStandardIndex(box, "ix01", "01wb", audiosamplesizearray, A, audioIndex);

    // Identifier, size field and data of each chunk; a chunk cut off by the
    // end of the file is zero-padded to the size its index entry states.
    // Each stream's chunks start where its standard index says.
    const auto copyChunks = [&](const std::vector<uint64_t>& sizes, const std::vector<uint64_t>& offsets,
                                uint64_t count) {
        for (uint64_t k = 1; k <= count; ++k) {
            if (pollPoint()) return true;  // stopped: cut short, not a failure
            if (!outputfile.appendFrom(inputfilehandle, offsets[k], sizes[k] + 8)) return false;
            bytesCopied += sizes[k] + 8;
        }
        return true;
    };
    box.patchU64(videoBase, box.position());
    bool ok = !box.failed() && !stopRequested();
    ok = ok && copyChunks(videosamplesizearray, videosampleoffsetarray, V);
    box.patchU64(audioBase, box.position());
    ok = ok && !stopRequested() && copyChunks(audiosamplesizearray, audiosampleoffsetarray, A);
    if (stopRequested()) {
        // The user stopped: the partial file stays, and nothing is reported.
        outputfile.close();
        report_.outcome = RepairOutcome::Stopped;
        SystemLog::write("Repair stopped");
        return;
    }
    box.close();
    box.close();
    ok = ok && !box.failed() && outputfile.sync() && outputfile.close();
    if (!ok) {
        const std::string cause = outputfile.errorText();
        discardResult(path);
        refuseRepair(RepairOutcome::Failed, "Writing the repaired file " + path + " failed: " + cause);
        return;
    }
    SystemLog::write("Repair file completed");
    report_.outcome = RepairOutcome::Completed;
    reporter_.completed();
}

}  // namespace arbel

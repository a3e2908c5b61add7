// The writer: one RIFF "AVI " list with a header list for one video and one
// audio stream, each with an OpenDML super index, and a movie list holding
// the two standard indexes, then every video chunk, then every audio chunk.
// A result too large for one list continues in "RIFF AVIX" lists, each with
// a movie list of the same layout; the super indexes list every standard
// index and an "odml" list gives the total frame count.
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

// Bytes of the extended header's frame count and its reserved room.
constexpr uint64_t kExtendedHeaderBytes = 248;

uint64_t sumOf(const std::vector<uint64_t>& table, uint64_t begin, uint64_t end) {
    return std::accumulate(table.begin() + static_cast<std::ptrdiff_t>(begin),
                           table.begin() + static_cast<std::ptrdiff_t>(end), uint64_t{0});
}

// The result's numbers: counts below the table size, sizes and offsets
// inside one RIFF list, which the parts keep below 4 GiB.
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
    std::vector<uint64_t> partLengths;     // chunks of the stream in each RIFF list
};

// Where a super index entry must point; known once its standard index is written.
struct SuperIndexEntry {
    uint64_t offset = 0;    // the entry's qwOffset field
    uint64_t size = 0;      // its dwSize field
};

std::vector<SuperIndexEntry> writeStreamList(BoxWriter& box, const StreamHeader& s) {
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

    // The OpenDML super index: 4 longs per entry, one entry per RIFF list.
    box.open("indx");
    box.u16(4);
    box.u8(0);
    box.u8(0);
    box.u32(low32(s.partLengths.size()));
    box.fourcc(s.chunkId);
    box.zeros(12);
    std::vector<SuperIndexEntry> entries;
    for (uint64_t length : s.partLengths) {
        SuperIndexEntry entry;
        entry.offset = box.placeholderU64();
        entry.size = box.placeholderU32();
        box.u32(low32(length));  // the duration
        entries.push_back(entry);
    }
    box.u32(0);  // 4 bytes past the entries this writer has always kept zero
    box.close();
    box.close();
    return entries;
}

// A standard index of one stream's chunks [begin, end), all key frames.
// Answers where its base offset goes; the entries count from 8 past the
// base, chunk after chunk.
uint64_t writeStandardIndex(BoxWriter& box, const char* id, const char* chunkId, const std::vector<uint64_t>& sizes,
                            uint64_t begin, uint64_t end, SuperIndexEntry super) {
    const uint64_t start = box.position();
    box.patchU64(super.offset, start);
    box.open(id);
    box.u16(2);     // 2 longs per entry
    box.u8(0);      // sub-type
    box.u8(1);      // an index of chunks
    box.u32(low32(end - begin));
    box.fourcc(chunkId);
    const uint64_t base = box.placeholderU64();
    box.u32(0);
    uint64_t offset = 8;
    for (uint64_t k = begin; k < end; ++k) {
        box.u32(low32(offset));
        box.u32(low32(sizes[k]));  // bit 31 stays clear: every chunk is a key frame
        offset += sizes[k] + 8;
    }
    const uint64_t size = box.close();
    box.patchU32(super.size, low32(size + 4));
    return base;
}

// The OpenDML extended header: the frames of every RIFF list together.
void writeExtendedHeader(BoxWriter& box, uint64_t totalFrames) {
    box.openList("LIST", "odml");
    box.open("dmlh");
    box.u32(low32(totalFrames));
    box.zeros(kExtendedHeaderBytes - 4);
    box.close();
    box.close();
}

}  // namespace

std::vector<RepairFileAvi::RiffPart> RepairFileAvi::planRiffParts() const {
    const uint64_t V = videosamplecount;
    const uint64_t A = audiosamplecount;
    // A chunk costs its data, its 8-byte header and its 8-byte index entry.
    const uint64_t all = sumOf(videosamplesizearray, 1, V + 1) + sumOf(audiosamplesizearray, 1, A + 1) + 16 * (V + A);
    if (all < singleListLimit) return {RiffPart{1, V + 1, 1, A + 1}};

    std::vector<RiffPart> parts;
    RiffPart part;
    uint64_t bytes = 0;
    uint64_t v = 1, a = 1;
    while (v <= V || a <= A) {
        const bool video = a > A || (v <= V && videosampleoffsetarray[v] <= audiosampleoffsetarray[a]);
        const uint64_t cost = (video ? videosamplesizearray[v] : audiosamplesizearray[a]) + 16;
        if (bytes > 0 && bytes + cost > extendedListBytes) {
            parts.push_back(part);
            part = RiffPart{v, v, a, a};
            bytes = 0;
        }
        if (video) part.videoEnd = ++v;
        else part.audioEnd = ++a;
        bytes += cost;
    }
    parts.push_back(part);
    return parts;
}

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
    videodatasize = sumOf(videosamplesizearray, 1, V + 1);
    audiodatasize = sumOf(audiosamplesizearray, 1, A + 1);
    const std::vector<RiffPart> parts = planRiffParts();
    if (parts.size() > 1) {
        systemLogf("%llu bytes of chunks: written as %zu RIFF lists",
                   static_cast<unsigned long long>(videodatasize + audiodatasize), parts.size());
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

    std::vector<uint64_t> videoLengths, audioLengths;
    for (const RiffPart& part : parts) {
        videoLengths.push_back(part.videoEnd - part.videoBegin);
        audioLengths.push_back(part.audioEnd - part.audioBegin);
    }

    BoxWriter box(outputfile, BoxWriter::Format::Riff);
    box.openList("RIFF", "AVI ");
    box.openList("LIST", "hdrl");
    // The damaged file's own size field is not copied: the main header
    // written here always has 56 bytes of data. Its frame count is that of
    // the first RIFF list; the extended header has them all.
    box.open("avih");
    box.bytes(avihdata1.data() + 4, avihdata1.size() - 4);
    box.u32(low32(videoLengths.front()));
    box.bytes(avihdata2.data(), avihdata2.size());
    box.close();
    const std::vector<SuperIndexEntry> videoIndex = writeStreamList(
        box, {"vids", videocodec, videoscaleratedata, V, videoscaledata, videostrfdata, "00db", videoLengths});
    const std::vector<SuperIndexEntry> audioIndex = writeStreamList(
        box, {"auds", audiocodec, audioscaleratedata, A, audioscaledata, audiostrfdata, "01wb", audioLengths});
    if (parts.size() > 1) writeExtendedHeader(box, V);
    box.close();

    // Identifier, size field and data of each chunk; a chunk cut off by the
    // end of the file is zero-padded to the size its index entry states.
    // Each stream's chunks start where its standard index says.
    const auto copyChunks = [&](const std::vector<uint64_t>& sizes, const std::vector<uint64_t>& offsets,
                                uint64_t begin, uint64_t end) {
        for (uint64_t k = begin; k < end; ++k) {
            if (pollPoint()) return true;  // stopped: cut short, not a failure
            if (!outputfile.appendFrom(inputfilehandle, offsets[k], sizes[k] + 8)) return false;
            bytesCopied += sizes[k] + 8;
        }
        return true;
    };
    bool ok = true;
    for (size_t p = 0; p < parts.size() && ok && !stopRequested(); ++p) {
        const RiffPart& part = parts[p];
        if (p > 0) box.openList("RIFF", "AVIX");
        box.openList("LIST", "movi");
        const uint64_t videoBase = writeStandardIndex(box, "ix00", db ? "00db" : "00dc", videosamplesizearray,
                                                      part.videoBegin, part.videoEnd, videoIndex[p]);
        const uint64_t audioBase = writeStandardIndex(box, "ix01", "01wb", audiosamplesizearray, part.audioBegin,
                                                      part.audioEnd, audioIndex[p]);
        box.patchU64(videoBase, box.position());
        ok = !box.failed() && !stopRequested();
        ok = ok && copyChunks(videosamplesizearray, videosampleoffsetarray, part.videoBegin, part.videoEnd);
        box.patchU64(audioBase, box.position());
        ok = ok && !stopRequested() && copyChunks(audiosamplesizearray, audiosampleoffsetarray, part.audioBegin,
                                                  part.audioEnd);
        if (stopRequested()) break;
        box.close();  // movi
        box.close();  // RIFF
    }
    if (stopRequested()) {
        // The user stopped: nothing is reported, and no half-written file is
        // left where a result is looked for.
        discardResult(path);
        report_.outcome = RepairOutcome::Stopped;
        SystemLog::write("Repair stopped");
        return;
    }
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

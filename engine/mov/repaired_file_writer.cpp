// The final phase: media-data header, reports, movie atom, completion.
#include "movie_atom.h"
#include "repair_file.h"

#include "engine/repair_values.h"
#include "platform/pacing.h"
#include "platform/system_log.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace arbel {

namespace {

// One full-size raw frame of the cameras whose tag pair is E1 5C.
constexpr uint64_t kFullFrameBytes = 8294400;

bool resultBroken(const RepairFile& e) { return e.writeFailed || !e.outputfile.isOpen() || e.outputfile.failed(); }

void refuse(RepairFile& e, double waitSeconds, const char* why) {
    systemLogf("Can not repair: %s", why);
    e.outputfile.close();
    e.reporter.status(kCannotRepairText, 101.0, waitSeconds);
}

// Writes the media-data header over the bytes the scan reserved for it and
// makes the file durable: from here on the media data are final.
bool rewriteMediaHeader(RepairFile& e, uint64_t mediaEnd) {
    const auto header = mediaHeaderBytes(e.mediaHeaderSize, mediaEnd);
    if (!header) {
        systemLogf("Media data of %llu bytes do not fit an 8-byte header", static_cast<unsigned long long>(mediaEnd));
        return false;
    }
    return e.outputfile.writeAt(0, header->data(), header->size()) && e.outputfile.sync();
}

void postTracks(RepairFile& e, int tracks, double waitSeconds) {
    e.reportedTracks = tracks;
    e.reporter.value("track", std::to_string(tracks), waitSeconds);
}

void recordVideoSample(RepairFile& e, uint64_t start, uint64_t size) {
    if (e.video_buffer_start.size() <= e.sample_count) e.video_buffer_start.resize(e.sample_count + 1);
    if (e.video_buffer_size.size() <= e.sample_count) e.video_buffer_size.resize(e.sample_count + 1);
    e.video_buffer_start[e.sample_count] = start;
    e.video_buffer_size[e.sample_count] = size;
    ++e.sample_count;
}

}  // namespace

bool RepairFile::runFullFramePass() {
    reporter.status(kLocatingText, 50.0, 1.5);
    const uint64_t size = corruptFileSize;
    const size_t window = static_cast<size_t>(std::clamp<uint64_t>(temBufferSize, 512, 1 << 20));
    // The byte that opens a frame and the byte one frame further on are
    // tested from two windows read side by side, so positions that are not
    // E1 cost no read of their own.
    std::vector<uint8_t> here(window);
    std::vector<uint8_t> oneFrameOn(window);
    offset = 0;
    while (ullBytesTraversed < size && !resultBroken(*this)) {
        if (pollStopAndPause(pauseFlag())) return false;
        const uint64_t pos = ullBytesTraversed;
        const size_t len = static_cast<size_t>(std::min<uint64_t>(window, size - pos));
        inputfilehandle.readAt(pos, here.data(), len);
        inputfilehandle.readAt(pos + kFullFrameBytes, oneFrameOn.data(), len);

        uint64_t next = pos + len;
        for (size_t i = 0; i < len; ++i) {
            const void* hit = std::memchr(here.data() + i, 0xE1, len - i);
            if (!hit) break;
            i = static_cast<size_t>(static_cast<const uint8_t*>(hit) - here.data());
            const uint64_t p = pos + i;
            if (oneFrameOn[i] != 0xE1 || p + kFullFrameBytes >= size) continue;

            // The header space must stay free even when the scan wrote nothing.
            if (outputfile.cursor() < mediaHeaderSize) outputfile.appendZeros(mediaHeaderSize - outputfile.cursor());
            const uint64_t start = outputfile.cursor();
            if (!outputfile.appendFrom(inputfilehandle, p, kFullFrameBytes)) writeFailed = true;
            recordVideoSample(*this, start, kFullFrameBytes);
            bVideo = 1;
            Sum_video += kFullFrameBytes;
            fileSize1 = pointers_To_pointSTCO = outputfile.cursor();
            next = p + kFullFrameBytes;
            break;
        }
        ullBytesTraversed = next;
    }
    return true;
}

void RepairFile::finishGeneralPath() {
    if (resultBroken(*this)) return refuse(*this, 2.0, "the result file could not be written");
    if (tagPair[0] == 0xE1 && tagPair[1] == 0x5C) {
        if (!runFullFramePass()) return;
        if (resultBroken(*this)) return refuse(*this, 2.0, "the result file could not be written");
    }
    if (Movfileisvalid != 1) return refuse(*this, 2.0, "the reference has no movie atom");

    const uint64_t mediaEnd = outputfile.cursor();
    fileSize1 = li_W_BytesTraversed = mediaEnd;
    reporter.status(kRepairingText, 80.0, 1.5);
    if (mediaEnd >= mediaHeaderSize && !rewriteMediaHeader(*this, mediaEnd))
        return refuse(*this, 2.0, "the media-data header could not be written");

    const TimingInput input = timingInputFrom(*this);
    if (input.n == 0) return refuse(*this, 10.0, "no video sample was found");
    if (mediaEnd < mediaHeaderSize) return refuse(*this, 2.0, "the result holds no media data");

    const MovieTiming timing = computeMovieTiming(input);
    reportedFps = std::to_string(timing.fps);
    reporter.value("fps", reportedFps, 2.0);
    reportedDuration = durationText(timing.seconds);
    reporter.value("duration", reportedDuration, 2.0);

    fileSize1 = li_W_BytesTraversed = outputfile.cursor();
    const uint64_t atomStart = outputfile.cursor();
    const GeneralAtomLayout layout = layoutGeneralMovieAtom(*this, timing);
    bool ok = appendGeneralMovieAtom(*this, layout, timing);
    if (ok && timing.audioTrackWritten) {
        postTracks(*this, timing.tracks, 0);
        ok = appendGeneralAudioTrack(*this, layout, timing);
    }
    li_W_BytesTraversed = outputfile.cursor();
    const uint64_t expected = layout.moov + (timing.audioTrackWritten && !timing.audioTrackInsideMovie ? layout.audioTrak : 0);
    if (ok && outputfile.cursor() - atomStart != expected) {
        systemLogf("Movie atom of %llu bytes written, %llu announced",
                   static_cast<unsigned long long>(outputfile.cursor() - atomStart),
                   static_cast<unsigned long long>(expected));
        ok = false;
    }
    if (!ok || !outputfile.sync()) return refuse(*this, 2.0, "the movie atom could not be written");

    postTracks(*this, timing.tracks, 0);
    if (!outputfile.close()) return refuse(*this, 2.0, "the result file could not be closed");
    Pacing::wait(1.5);
    reporter.status(kCompletedText, 100.0);
}

void RepairFile::finishMjpegPath() {
    // Without a movie atom in the reference, or with too few frames, there is
    // nothing to describe the media data: that is a refusal, not a result.
    if (Movfileisvalid != 1) return refuse(*this, 2.0, "the reference has no movie atom");
    reporter.status(kRepairingText, 80.0);
    if (pollStopAndPause(pauseFlag())) return;

    TimingInput input = timingInputFrom(*this);
    input.n = std::min<uint64_t>(sample_count, mjpegFrameLengths.size());
    if (input.n < 7) return refuse(*this, 2.0, "fewer than 7 frames were found");
    if (resultBroken(*this)) return refuse(*this, 2.0, "the result file could not be written");

    const uint64_t mediaEnd = outputfile.cursor();
    if (mediaEnd < mediaHeaderSize || !rewriteMediaHeader(*this, mediaEnd))
        return refuse(*this, 2.0, "the media-data header could not be written");
    fileSize1 = mediaEnd;

    const MjpegTiming timing = computeMjpegTiming(input);
    reportedFps = std::to_string(timing.fps);
    reporter.value("fps", reportedFps, 2.0);
    reportedDuration = mjpegDurationText(timing.seconds);
    reporter.value("duration", reportedDuration, 1.0);

    li_W_BytesTraversed = outputfile.cursor();
    const MjpegAtomLayout layout = layoutMjpegMovieAtom(*this, mediaEnd);
    AtomWrite written = appendMjpegMovieAtom(*this, layout);
    if (written == AtomWrite::Written && !layout.audioChunks.empty()) {
        postTracks(*this, 2, 1.0);
        written = appendMjpegAudioTrack(*this, layout);
    }
    // A stop leaves the atom unfinished and says nothing more.
    if (written == AtomWrite::Stopped) return;
    li_W_BytesTraversed = outputfile.cursor();
    if (written == AtomWrite::Written && outputfile.cursor() - mediaEnd != layout.moov) {
        systemLogf("MJPEG movie atom of %llu bytes written, %llu announced",
                   static_cast<unsigned long long>(outputfile.cursor() - mediaEnd),
                   static_cast<unsigned long long>(layout.moov));
        written = AtomWrite::Failed;
    }
    if (written != AtomWrite::Written || !outputfile.sync())
        return refuse(*this, 2.0, "the movie atom could not be written");
    if (!outputfile.close()) return refuse(*this, 2.0, "the result file could not be closed");
    reporter.status(kCompletedText, 100.0);
}

}  // namespace arbel

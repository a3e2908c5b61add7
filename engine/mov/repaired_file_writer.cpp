// The final phase: media-data header, reports, movie atom, completion.
#include "repaired_file_writer.h"

#include "engine/box_writer.h"
#include "movie_atom.h"
#include "platform/pacing.h"
#include "platform/system_log.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace arbel {

namespace {

// One full-size raw frame of the cameras whose tag pair is E1 5C.
constexpr uint64_t kFullFrameBytes = 8294400;
constexpr uint64_t kFullFrameWindow = 65536;

void refuse(StageContext& ctx, ResultFile& result, double waitSeconds, const std::string& why) {
    result.outputfile.close();
    ctx.refuse(why, waitSeconds);
}

void failWriting(StageContext& ctx, ResultFile& result, const std::string& why) {
    result.outputfile.close();
    const std::string cause = result.failureText();
    ctx.fail(cause.empty() ? why : why + ": " + cause, 2.0);
}

// Writes the media-data header over the bytes the scan reserved for it and
// makes the file durable: from here on the media data are final.
bool rewriteMediaHeader(ResultFile& result, uint64_t mediaEnd) {
    const auto header = mediaHeaderBytes(result.mediaHeaderSize, mediaEnd);
    if (!header) {
        systemLogf("Media data of %llu bytes do not fit an 8-byte header", static_cast<unsigned long long>(mediaEnd));
        return false;
    }
    return result.outputfile.writeAt(0, header->data(), header->size()) && result.outputfile.sync();
}

void postTracks(StageContext& ctx, int tracks, double waitSeconds) {
    ctx.report.tracks = tracks;
    ctx.reporter.value("track", std::to_string(tracks), waitSeconds);
}

void postRateAndLength(StageContext& ctx, const std::string& fps, const std::string& duration, double durationWait) {
    ctx.report.fps = fps;
    ctx.reporter.value("fps", fps, 2.0);
    ctx.report.duration = duration;
    ctx.reporter.value("duration", duration, durationWait);
}

// Closes the result and says so; false when the close failed.
bool complete(StageContext& ctx, ResultFile& result) {
    if (!result.outputfile.close()) return false;
    ctx.report.outcome = RepairOutcome::Completed;
    return true;
}

}  // namespace

bool runFullFramePass(StageContext& ctx, SampleTables& tables, ResultFile& result) {
    ctx.reporter.status(kLocatingText, 50.0, 1.5);
    const uint64_t size = ctx.damagedSize;
    OutputWriter& out = result.outputfile;
    // The byte that opens a frame and the byte one frame further on are
    // tested from two windows read side by side, so positions that are not
    // E1 cost no read of their own.
    std::vector<uint8_t> here(kFullFrameWindow);
    std::vector<uint8_t> oneFrameOn(kFullFrameWindow);
    while (tables.ullBytesTraversed < size && !result.broken()) {
        if (ctx.stopped()) return false;
        const uint64_t pos = tables.ullBytesTraversed;
        const size_t len = static_cast<size_t>(std::min<uint64_t>(kFullFrameWindow, size - pos));
        ctx.damaged.readAt(pos, here.data(), len);
        ctx.damaged.readAt(pos + kFullFrameBytes, oneFrameOn.data(), len);

        uint64_t next = pos + len;
        for (size_t i = 0; i < len; ++i) {
            const void* hit = std::memchr(here.data() + i, 0xE1, len - i);
            if (!hit) break;
            i = static_cast<size_t>(static_cast<const uint8_t*>(hit) - here.data());
            const uint64_t p = pos + i;
            if (oneFrameOn[i] != 0xE1 || p + kFullFrameBytes >= size) continue;

            // The header space must stay free even when the scan wrote nothing.
            if (out.cursor() < result.mediaHeaderSize) out.appendZeros(result.mediaHeaderSize - out.cursor());
            const uint64_t start = out.cursor();
            if (!out.appendFrom(ctx.damaged, p, kFullFrameBytes)) result.writeFailed = true;
            tables.recordVideo(start, kFullFrameBytes);
            next = p + kFullFrameBytes;
            break;
        }
        tables.ullBytesTraversed = next;
    }
    return true;
}

void finishGeneralPath(StageContext& ctx, const ReferenceAnalysis& analysis, const ReferenceTemplates& templates,
                       SampleTables& tables, ResultFile& result) {
    if (result.broken()) return failWriting(ctx, result, "the result file could not be written");
    if (analysis.tagPairIs(0xE1, 0x5C)) {
        if (!runFullFramePass(ctx, tables, result)) return;
        if (result.broken()) return failWriting(ctx, result, "the result file could not be written");
    }
    if (templates.Movfileisvalid != 1) return refuse(ctx, result, 2.0, "the reference has no movie atom");
    // A header without them would describe nothing a player can use.
    if (!templates.holdsVideoHeader())
        return refuse(ctx, result, 2.0, "the reference lacks the video track header, time-to-sample table or sample description");

    OutputWriter& out = result.outputfile;
    const uint64_t mediaEnd = out.cursor();
    ctx.reporter.status(kRepairingText, 80.0, 1.5);
    if (mediaEnd >= result.mediaHeaderSize && !rewriteMediaHeader(result, mediaEnd))
        return failWriting(ctx, result, "the media-data header could not be written");

    const TimingInput input = timingInputFrom(analysis, templates, tables);
    if (input.n == 0) return refuse(ctx, result, 10.0, "no video sample was found");
    if (mediaEnd < result.mediaHeaderSize) return refuse(ctx, result, 2.0, "the result holds no media data");

    const MovieTiming timing = computeMovieTiming(input);
    postRateAndLength(ctx, std::to_string(timing.fps), durationText(timing.seconds), 2.0);

    BoxWriter box(out, BoxWriter::Format::QuickTime);
    box.open("moov");
    writeMovieHeader(box, static_cast<uint32_t>(timing.timeScale), timing.movieDuration, 0xCAA25B8C);
    writeGeneralVideoTrack(box, templates, tables, timing);
    if (timing.audioTrackWritten) {
        postTracks(ctx, timing.tracks, 0);
        // Some cameras keep the sound track beside the movie atom.
        if (!timing.audioTrackInsideMovie) box.close();
        writeGeneralAudioTrack(box, analysis, templates, tables, timing);
    }
    while (box.depth() > 0) box.close();
    if (out.failed() || !out.sync()) return failWriting(ctx, result, "the movie atom could not be written");

    postTracks(ctx, timing.tracks, 0);
    if (!complete(ctx, result)) return failWriting(ctx, result, "the result file could not be closed");
    Pacing::wait(1.5);
    ctx.reporter.completed();
}

void finishMjpegPath(StageContext& ctx, const ReferenceAnalysis& analysis, const ReferenceTemplates& templates,
                     SampleTables& tables, ResultFile& result) {
    // Without a movie atom in the reference, or with too few frames, there is
    // nothing to describe the media data: that is a refusal, not a result.
    if (templates.Movfileisvalid != 1) return refuse(ctx, result, 2.0, "the reference has no movie atom");
    if (templates.videoSampleDescription.empty())
        return refuse(ctx, result, 2.0, "the reference has no video sample description");
    ctx.reporter.status(kRepairingText, 80.0);
    if (ctx.stopped()) return;

    TimingInput input = timingInputFrom(analysis, templates, tables);
    input.n = std::min<uint64_t>(tables.sample_count(), tables.mjpegFrameLengths.size());
    if (input.n < 7) return refuse(ctx, result, 2.0, "fewer than 7 frames were found");
    if (result.broken()) return failWriting(ctx, result, "the result file could not be written");

    OutputWriter& out = result.outputfile;
    const uint64_t mediaEnd = out.cursor();
    if (mediaEnd < result.mediaHeaderSize || !rewriteMediaHeader(result, mediaEnd))
        return failWriting(ctx, result, "the media-data header could not be written");

    const MjpegTiming timing = computeMjpegTiming(input);
    postRateAndLength(ctx, std::to_string(timing.fps), mjpegDurationText(timing.seconds), 1.0);

    const MjpegChunks chunks = mjpegChunks(tables, result.mediaHeaderSize, mediaEnd);
    BoxWriter box(out, BoxWriter::Format::QuickTime);
    box.open("moov");
    writeMovieHeader(box, 30, static_cast<uint32_t>(chunks.frames), 0xC28C93D9);
    bool written = writeMjpegVideoTrack(box, templates, tables, chunks, ctx.control);
    if (written && !chunks.audio.empty()) {
        postTracks(ctx, 2, 1.0);
        written = writeMjpegAudioTrack(box, templates, chunks, ctx.control);
    }
    // A stop leaves the atom unfinished and says nothing more.
    if (!written) {
        ctx.report.outcome = RepairOutcome::Stopped;
        return;
    }
    box.close();
    if (out.failed() || !out.sync()) return failWriting(ctx, result, "the movie atom could not be written");
    if (!complete(ctx, result)) return failWriting(ctx, result, "the result file could not be closed");
    ctx.reporter.completed();
}

}  // namespace arbel

// Scan of the damaged file for Motion-JPEG frames in groups of fifteen.
#include "scan_skeleton.h"

#include <algorithm>
#include <vector>

namespace arbel {
namespace {

constexpr size_t kGroupFrames = 15;             // the header written for this path says 15 per chunk
constexpr uint64_t kStartOfScanOffset = 581;    // FF DA of the camera's fixed JPEG header
constexpr uint64_t kMaxFrameBytes = 4u << 20;   // no end-of-image marker within this: no frame
constexpr uint64_t kMaxAudioChunk = 4u << 20;   // a larger sizeAudio is not believed
constexpr uint64_t kAudioSlack = 512;           // audio chunks vary a little around sizeAudio

bool startOfImage(const uint8_t* at) { return at[0] == 0xFF && at[1] == 0xD8 && at[2] == 0xFF && at[3] == 0xDB; }

class MjpegScan final : public ScanVariant {
public:
    explicit MjpegScan(const ReferenceTemplates& t) : sizeAudio_(std::min<uint64_t>(t.sizeAudio, kMaxAudioChunk)) {
        markAt(0, {0xFF});
        frames_.reserve(kGroupFrames);
    }

    // The header and the audio before the first group are handled here.
    bool leadingAudioApplies(const MediaScanner&) const override { return false; }

    bool examine(MediaScanner& s, uint64_t p, const uint8_t* at, ScanStep& step) override {
        if (!startOfImage(at)) return false;
        uint64_t end = frameEnd(s, p);
        if (end == 0) return false;

        // A group is fifteen frames back to back.
        frames_.clear();
        frames_.push_back({p, end});
        while (frames_.size() < kGroupFrames) {
            LookBuffer scratch;
            const uint64_t next = frames_.back().end;
            if (!startOfImage(s.bytesAt(next, 4, scratch).data())) break;
            end = frameEnd(s, next);
            if (end == 0) break;
            frames_.push_back({next, end});
        }
        const uint64_t groupEnd = frames_.back().end;
        if (frames_.size() < kGroupFrames) {
            // The run broke before the group was complete: its frames are dropped.
            step.next = groupEnd;
            return true;
        }

        if (s.tables().sample_count() == 0 && sizeAudio_ > 0 && sizeAudio_ <= p)
            step.take(UnitKind::LeadingAudio, p - sizeAudio_, sizeAudio_);
        for (size_t i = 0; i < frames_.size(); ++i)
            step.take(UnitKind::Video, frames_[i].start, frames_[i].end - frames_[i].start, i == 0);

        // The audio chunk runs from the group's end to the next frame; when no
        // frame follows near enough, it is sizeAudio bytes long.
        uint64_t audioEnd = nextFrame(s, groupEnd, addClamped(groupEnd, sizeAudio_ + kAudioSlack));
        if (audioEnd == MediaScanner::kNotFound)
            audioEnd = groupEnd + std::min(sizeAudio_, s.end() > groupEnd ? s.end() - groupEnd : 0);
        if (audioEnd > groupEnd) step.take(UnitKind::Audio, groupEnd, audioEnd - groupEnd);
        step.next = audioEnd;
        return true;
    }

    void record(MediaScanner& s, const TakenUnit& unit, uint64_t resultOffset) override {
        SampleTables& e = s.tables();
        switch (unit.kind) {
        case UnitKind::LeadingAudio:
            e.mjpegLeadingAudioSize = unit.length;
            break;
        case UnitKind::Video:
            if (unit.startsChunk) e.mjpegVideoChunkOffsets.push_back(resultOffset);
            e.mjpegFrameLengths.push_back(unit.length);
            s.recordVideo(resultOffset, unit.length);
            break;
        case UnitKind::Audio:
            e.mjpegAudioChunkOffsets.push_back(resultOffset);
            s.recordAudio(resultOffset, unit.length);
            break;
        }
    }

private:
    struct Frame {
        uint64_t start;
        uint64_t end;
    };

    // The end of the frame at p (behind its FF D9), or 0 when p starts no frame.
    static uint64_t frameEnd(const MediaScanner& s, uint64_t p) {
        LookBuffer scratch;
        const ByteView sos = s.bytesAt(p + kStartOfScanOffset, 2, scratch);
        if (sos.byte(0) != 0xFF || sos.byte(1) != 0xDA) return 0;
        static constexpr uint8_t kEndOfImage[2] = {0xFF, 0xD9};
        const uint64_t eoi = s.find(p + kStartOfScanOffset + 2, addClamped(p, kMaxFrameBytes), kEndOfImage, 2);
        if (eoi == MediaScanner::kNotFound) return 0;
        const uint64_t end = eoi + 2;
        // A movie atom inside means these bytes are the file's header, not a frame.
        if (s.find(p, end, "moov", 4) != MediaScanner::kNotFound) return 0;
        return end;
    }

    // The first frame that starts in [from, to], or kNotFound.
    static uint64_t nextFrame(const MediaScanner& s, uint64_t from, uint64_t to) {
        static constexpr uint8_t kStart[4] = {0xFF, 0xD8, 0xFF, 0xDB};
        while (from <= to) {
            const uint64_t at = s.find(from, addClamped(to, 4), kStart, 4);
            if (at == MediaScanner::kNotFound || at > to) return MediaScanner::kNotFound;
            if (frameEnd(s, at) != 0) return at;
            from = at + 1;
        }
        return MediaScanner::kNotFound;
    }

    uint64_t sizeAudio_;
    std::vector<Frame> frames_;
};

}  // namespace

bool runMjpegScan(StageContext& ctx, const ReferenceAnalysis& analysis, const ReferenceTemplates& templates,
                  SampleTables& tables, ResultFile& result) {
    tables = SampleTables{};
    if (!damagedFileReadable(ctx.damaged)) {
        ctx.unsupported("The damaged file can not be read", 2.0);
        return false;
    }
    ctx.report.scanMarker = "MJPEG";
    ctx.report.scan = scanDescription("MJPEG");
    ctx.reporter.status(kLocatingText, 50.0, 1.5);

    MediaScanner scanner(ctx, analysis, templates, tables, result);
    // The result starts with its media-data header, written before the scan.
    scanner.reserveMediaHeader(true);
    MjpegScan variant(templates);
    if (!scanner.run(variant, 0)) return false;
    if (!result.outputfile.sync()) result.writeFailed = true;
    return true;
}

}  // namespace arbel

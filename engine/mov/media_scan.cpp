// Scan of the damaged file: set-up, the choice of variant, the generic scan.
#include "platform/system_log.h"
#include "scan_skeleton.h"

#include <array>

namespace arbel {

// --- dispatch ------------------------------------------------------------------

namespace {

bool chooseGeneric(const ReferenceAnalysis& a) {
    return !a.flags.excludesGenericScan() && (a.flags.bCanon70D || (!a.mp4aPresent && !a.bIsStopMotionFile));
}

bool choose2(const ReferenceAnalysis& a) {
    return a.mp4aPresent && a.flags.bAudioSigGroup() && (a.tagPairIs(0x65, 0xB8) || a.tagPairIs(0x25, 0xB8));
}

bool choose3(const ReferenceAnalysis& a) {
    return a.mp4aPresent && a.tagPairIs(0x65, 0xB8) && !a.flags.bAudioSig21_55 && !a.flags.bAudioSig01_17;
}

bool choose5(const ReferenceAnalysis& a) { return a.mp4aPresent && a.tagPairIs(0x65, 0xB8) && a.flags.bAudioSig01_17; }

bool choose7(const ReferenceAnalysis& a) {
    return a.mp4aPresent && a.flags.bCanon5DMarkII && (a.tagPairIs(0x25, 0xB8) || a.tagPairIs(0x65, 0xB8));
}

// Tested in this order; the first row that holds is taken. The variants of
// the middle group and the camera variants follow as further rows.
constexpr std::array kDispatch{
    ScanDispatchRow{"1", chooseGeneric, scanGeneric},
    ScanDispatchRow{"2", choose2, scanVariant2},
    ScanDispatchRow{"3", choose3, scanVariant3},
    ScanDispatchRow{"5", choose5, scanVariant5},
    ScanDispatchRow{"7", choose7, scanVariant7},
};

}  // namespace

std::span<const ScanDispatchRow> scanDispatchTable() { return kDispatch; }

const ScanDispatchRow* chooseScanVariant(const ReferenceAnalysis& analysis) {
    for (const ScanDispatchRow& row : kDispatch)
        if (row.chosen(analysis)) return &row;
    return nullptr;
}

std::string scanDescription(const std::string& marker) {
    if (marker.empty()) return "none";
    if (marker == "1") return "generic scan";
    if (marker == "MJPEG") return "MJPEG scan";
    return "camera variant " + marker;
}

bool runVariantScan(StageContext& ctx, const ReferenceAnalysis& analysis, const ReferenceTemplates& templates,
                    SampleTables& tables, ResultFile& result) {
    tables = SampleTables{};
    if (!damagedFileReadable(ctx.damaged)) {
        ctx.unsupported("The damaged file can not be read", 2.0);
        return false;
    }
    const ScanDispatchRow* row = chooseScanVariant(analysis);
    if (!row) return true;  // no variant fits this camera: the writers find empty tables
    ctx.report.scanMarker = row->marker;
    ctx.report.scan = scanDescription(row->marker);
    SystemLog::write(row->marker);
    ctx.reporter.status(kLocatingText, 50.0, 1.5);

    MediaScanner scanner(ctx, analysis, templates, tables, result);
    if (!row->scan(scanner)) return false;
    if (!result.outputfile.sync()) result.writeFailed = true;
    return true;
}

// --- the generic scan "1" -------------------------------------------------------

namespace {

// Frame starts: the NAL header after a 4-byte length prefix (h = the header).
bool frameStartWave(const uint8_t* h) {
    switch (h[0]) {
    case 0x01:
    case 0x09:
    case 0x21: return true;
    case 0x06: return h[1] == 0x05;
    case 0x25:
    case 0x65: return h[1] == 0x88;
    case 0x41: return h[1] == 0x9A || h[1] == 0x9B;
    default: return false;
    }
}

bool frameStartPlain(const uint8_t* h) {
    switch (h[0]) {
    case 0x01: return h[1] == 0x9E;
    case 0x06: return h[1] == 0x05;
    case 0xF9: return h[1] == 0xED && h[2] == 0x32 && h[3] == 0x02;
    case 0x21:
    case 0x61: return h[1] == 0x9A || h[1] == 0x9B;
    case 0x25:
    case 0x65: return h[1] == 0x88;
    default: return false;
    }
}

// What confirms a frame from behind it when the audio is not wrapped.
bool nextUnitPlain(const uint8_t* h) {
    switch (h[0]) {
    case 0x21:
    case 0x61: return true;
    case 0x01: return h[1] == 0x9E;
    case 0x06: return h[1] == 0x05;
    case 0x25:
    case 0x65: return h[1] == 0x88;
    case 0xF9: return h[1] == 0xED && h[2] == 0x32 && h[3] == 0x02;
    default: return false;
    }
}

// A frame header inside the bytes behind a frame and its audio (wrapped audio).
bool headerPairWave(const uint8_t* h) {
    switch (h[0]) {
    case 0x21: return true;
    case 0x01: return h[1] == 0x9E;
    case 0x06: return h[1] == 0x05;
    case 0x25:
    case 0x65: return h[1] == 0x88;
    case 0x41: return h[1] == 0x9A || h[1] == 0x9B;
    default: return false;
    }
}

class GenericScan final : public ScanVariant {
public:
    GenericScan(const ReferenceAnalysis& a, const ReferenceTemplates& t) : wave_(a.wave != 0), sizeAudio_(t.sizeAudio) {
        if (wave_) markAt4({0x01, 0x09, 0x06, 0x21, 0x25, 0x41, 0x65});
        else markAt4({0x01, 0x06, 0xF9, 0x21, 0x61, 0x25, 0x65});
    }

    bool examine(MediaScanner& s, uint64_t p, const uint8_t* at, ScanStep& step) override {
        pairTaken_ = false;
        if (!(wave_ ? frameStartWave(at + 4) : frameStartPlain(at + 4))) return false;
        const uint64_t length = readU32BE(at);
        if (length == 0 || length > kGenericFrameLimit) return false;
        const uint64_t frameEnd = p + length + 4;
        LookBuffer scratch;
        const ByteView behind = s.bytesAt(frameEnd, 512, scratch);
        return wave_ ? examineWave(s, p, frameEnd, behind, step) : examinePlain(s, p, frameEnd, behind, step);
    }

private:
    bool examinePlain(MediaScanner& s, uint64_t p, uint64_t frameEnd, const ByteView& behind, ScanStep& step) {
        if (nextUnitPlain(behind.data() + 4)) {
            step.take(UnitKind::Video, p, frameEnd - p);
            step.next = frameEnd;
            return true;
        }
        if (sizeAudio_ == 0) return false;
        LookBuffer scratch;
        const uint64_t afterAudio = addClamped(frameEnd, sizeAudio_);
        if (nextUnitPlain(s.bytesAt(afterAudio, 512, scratch).data() + 4)) {
            // A frame, one audio chunk, then video again: confirmed twice, so
            // taken with its chunk whatever came before. Cameras that write
            // one chunk of sound after every frame are read this way from
            // their first byte, and the pair keeps a run of video going.
            step.take(UnitKind::Video, p, frameEnd - p);
            step.take(UnitKind::Audio, frameEnd, sizeAudio_);
            step.next = afterAudio;
            pairTaken_ = true;
            return true;
        }
        // A frame followed by something else is believed only inside a run of video.
        if (!s.tables().bVideo) return false;
        const uint64_t audioEnd = addClamped(p, sizeAudio_);
        if (frameStartPlain(s.bytesAt(audioEnd, 512, scratch).data() + 4)) {
            // Not a frame after all: an audio chunk that happens to look like one.
            step.take(UnitKind::Audio, p, sizeAudio_);
            step.next = audioEnd;
            return true;
        }
        return false;
    }

    bool examineWave(MediaScanner& s, uint64_t p, uint64_t frameEnd, const ByteView& behind, ScanStep& step) {
        static constexpr uint8_t kTwoByteUnit[4] = {0, 0, 0, 2};
        if (frameStartWave(behind.data() + 4) || behind.matches(0, kTwoByteUnit, 4)) {
            step.take(UnitKind::Video, p, frameEnd - p);
            step.next = frameEnd;
            return true;
        }
        // Frame, then one audio chunk of about sizeAudio bytes, then the next frame.
        LookBuffer scratch;
        const uint64_t near = addClamped(frameEnd, sizeAudio_);
        const ByteView ahead = s.bytesAt(near, 512, scratch);
        for (uint64_t b = 4; b < 150; ++b) {
            if (!headerPairWave(ahead.data() + b) || ahead.u32be(b - 4) >= kGenericFrameLimit) continue;
            const uint64_t nextFrame = near + b - 4;
            step.take(UnitKind::Video, p, frameEnd - p);
            step.take(UnitKind::Audio, frameEnd, nextFrame - frameEnd);
            step.next = nextFrame;
            return true;
        }
        return false;
    }

    void record(MediaScanner& s, const TakenUnit& unit, uint64_t resultOffset) override {
        ScanVariant::record(s, unit, resultOffset);
        if (unit.kind == UnitKind::Audio && pairTaken_) {
            s.tables().bVideo = 1;  // a frame and its chunk count as video for the run
            pairTaken_ = false;
        }
    }

    bool wave_;
    uint64_t sizeAudio_;
    bool pairTaken_ = false;
};

}  // namespace

bool scanGeneric(MediaScanner& scanner) {
    // Files of this one size are left alone.
    if (scanner.end() == kUnscannedFileSize || scanner.chosenSize() == kUnscannedFileSize) return true;
    GenericScan variant(scanner.analysis(), scanner.templates());
    return scanner.run(variant, 0);
}

}  // namespace arbel

// Scan of the damaged file: set-up, the choice of variant, the generic scan.
#include "platform/system_log.h"
#include "scan_audio.h"
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

// --- the middle group ---
bool choose8(const ReferenceAnalysis& a) {
    const CameraFlags& c = a.flags;
    return c.bCanon && !c.bVixia && !c.bCanonRebelT6i && !c.bCanonG7XMarkII && !c.bCanonG9XMarkII &&
           a.tagPairIs(0x25, 0x88);
}
bool choose10(const ReferenceAnalysis& a) {
    const CameraFlags& c = a.flags;
    return a.mp4aPresent && a.tagPairIs(0x25, 0xB8) && !c.bAudioSig21_55 && !c.bAudioSig00_40 && !c.bAudioSig21 &&
           !c.bAudioSig01_17;
}
bool choose11(const ReferenceAnalysis& a) {
    return a.mp4aPresent && a.flags.bAudioSig00_40 && (a.tagPairIs(0x25, 0xB8) || a.tagPairIs(0x65, 0xB8));
}
bool choose12(const ReferenceAnalysis& a) {
    const CameraFlags& c = a.flags;
    return a.mp4aPresent && a.tagPairIs(0x25, 0xB8) && !c.bHero115 && !c.bH3B && !c.bAudioSig01_15 &&
           !c.bAudioSig01_9B2D && !c.bAudioSig0198DA && !c.bAudioSig21_55;
}
bool choose13(const ReferenceAnalysis& a) {
    return a.mp4aPresent && a.flags.bAudioSig21 && !a.flags.bH3B && (a.tagPairIs(0x25, 0xB8) || a.tagPairIs(0x65, 0xB8));
}
bool choose14(const ReferenceAnalysis& a) {
    const CameraFlags& c = a.flags;
    return a.mp4aPresent && a.tagPairIs(0x25, 0x88) && !c.bHero130 && !c.bP520 && !c.bCanonRebelT6i && !c.bVixia &&
           !c.bCanonG7XMarkII && !c.bCanonG9XMarkII && !c.bAudioSig00_40 && !c.bAudioSig211A1495 &&
           !c.bAudioFirst20_6C;
}
bool choose15(const ReferenceAnalysis& a) { return a.mp4aPresent && a.tagPairIs(0x25, 0x88) && a.flags.bAudioSig00_40; }
bool choose16(const ReferenceAnalysis& a) {
    const CameraFlags& c = a.flags;
    return a.mp4aPresent && a.tagPairIs(0x65, 0x88) && !c.bAudioSig01_362D && !c.bAudioSig01_9B2D &&
           !c.bAudioFirst211C44 && !c.bAudioSig013499;
}
bool choose17(const ReferenceAnalysis& a) { return a.flags.bHero130 || a.flags.bHero115; }
bool choose18(const ReferenceAnalysis& a) { return a.flags.bSignature64; }
bool choose78(const ReferenceAnalysis& a) { return a.flags.bAudioSig01_9B2D; }
bool choose97(const ReferenceAnalysis& a) { return a.flags.bAudioSig01_362D; }

// --- the last group, by camera ---
bool chooseSig01_15(const ReferenceAnalysis& a) { return a.flags.bAudioSig01_15; }
bool chooseSig21_55(const ReferenceAnalysis& a) { return a.flags.bAudioSig21_55; }
bool chooseCanonCompact(const ReferenceAnalysis& a) {
    const CameraFlags& c = a.flags;
    return c.bVixia || c.bCanonRebelT6i || c.bCanonG7XMarkII || c.bCanonG9XMarkII;
}
bool choose1DXMarkII(const ReferenceAnalysis& a) { return a.flags.bCanon1DXMarkII; }
bool choose80D(const ReferenceAnalysis& a) { return a.flags.bCanon80D; }
bool choose5DMarkIV(const ReferenceAnalysis& a) { return a.flags.bCanon5DMarkIV; }
bool chooseGH4(const ReferenceAnalysis& a) { return a.flags.bGH4; }
bool chooseGH5(const ReferenceAnalysis& a) { return a.flags.bGH5; }
bool chooseHero3(const ReferenceAnalysis& a) { return a.flags.bH3B; }
bool chooseSonyOrNikon(const ReferenceAnalysis& a) {
    return a.flags.anySony() || (a.flags.bNikonBrand20 && !a.mp4aPresent);
}
bool chooseCoolpix(const ReferenceAnalysis& a) {
    return a.flags.bP600 || a.flags.bP520 || a.flags.bAudioFirst211C44;
}
bool chooseCx405(const ReferenceAnalysis& a) { return a.flags.bAudioFirst20_6C; }
bool chooseOsmo(const ReferenceAnalysis& a) { return a.flags.bAudioSig0198DA; }
bool chooseMavicAir(const ReferenceAnalysis& a) { return a.flags.bSignature0Bg; }
bool chooseXperia(const ReferenceAnalysis& a) { return a.flags.bAudioSig013499; }
bool chooseNikonP1(const ReferenceAnalysis& a) { return a.flags.bNikonTag184Lower; }
bool chooseNikonSq(const ReferenceAnalysis& a) { return a.flags.bNikonTag186; }
bool chooseNikonL5(const ReferenceAnalysis& a) { return a.flags.bNikonTag184; }
bool choose19(const ReferenceAnalysis& a) { return a.flags.bAudioSig211A1495; }

// Tested in this order; the first row that holds is taken and its marker
// is logged (a row with an empty marker logs nothing).
constexpr std::array kDispatch{
    ScanDispatchRow{"1", "H.264 with plain audio", chooseGeneric, scanGeneric},
    ScanDispatchRow{"2", "H.264 25/65 B8 with AAC", choose2, scanVariant2},
    ScanDispatchRow{"3", "H.264 65 B8 with AAC", choose3, scanVariant3},
    ScanDispatchRow{"5", "H.264 65 B8 with AAC 01 17", choose5, scanVariant5},
    ScanDispatchRow{"7", "Canon EOS 5D Mark II", choose7, scanVariant7},
    ScanDispatchRow{"8", "Canon, H.264 25 88", choose8, scanVariant8},
    ScanDispatchRow{"10", "H.264 25 B8 in two units per frame, AAC", choose10, scanVariant10},
    ScanDispatchRow{"11", "H.264 25/65 B8 with AAC 00 40", choose11, scanVariant11},
    ScanDispatchRow{"12", "H.264 25 B8 with AAC", choose12, scanVariant12},
    ScanDispatchRow{"13", "H.264 25/65 B8 with AAC 21", choose13, scanVariant13},
    ScanDispatchRow{"14", "H.264 25 88 with AAC", choose14, scanVariant14},
    ScanDispatchRow{"15", "H.264 25 88 with AAC 00 40", choose15, scanVariant14},
    ScanDispatchRow{"16", "H.264 65 88 with AAC", choose16, scanVariant16},
    ScanDispatchRow{"17", "GoPro HERO", choose17, scanGoPro},
    ScanDispatchRow{"18", "access units behind delimiters", choose18, scanDelimitedVideo},
    ScanDispatchRow{"17....78787878", "AAC 01 9B 2D", choose78, scanDelimitedAac},
    ScanDispatchRow{"17....97979797", "AAC 01 36 2D", choose97, scanPlainFixedChunks},
    ScanDispatchRow{"17....666666666", "AAC 01 15", chooseSig01_15, scanPlainFixedChunks},
    ScanDispatchRow{"17....666666666++++++33333", "AAC 21 55", chooseSig21_55, scanPlainFixedChunks},
    ScanDispatchRow{"02/08/19", "Canon VIXIA, EOS Rebel T6i, PowerShot G7 X/G9 X Mark II", chooseCanonCompact,
                    scanPlainFixedChunks},
    ScanDispatchRow{"06/08/19", "Canon EOS-1D X Mark II", choose1DXMarkII, scanCanon1DXMarkII},
    ScanDispatchRow{"07/08/19", "Canon EOS 80D", choose80D, scanCanonPcm},
    ScanDispatchRow{"07/08/19 4;53", "Canon EOS 5D Mark IV", choose5DMarkIV, scanCanonPcm},
    ScanDispatchRow{"", "Panasonic GH4", chooseGH4, scanPanasonicGH4},
    ScanDispatchRow{"14/08/19", "Panasonic GH5", chooseGH5, scanPanasonicGH5},
    ScanDispatchRow{"g_b_GoProHero3", "GoPro HERO3", chooseHero3, scanGoProHero3},
    ScanDispatchRow{"21/08/19", "Sony, Nikon without AAC", chooseSonyOrNikon, scanSonyDelimited},
    ScanDispatchRow{"22/08/19", "Nikon COOLPIX P600/P520, AAC 21 1C 44", chooseCoolpix, scanPlainFixedChunks},
    ScanDispatchRow{"22/08/19---g_b_SonyHDRCX405", "Sony HDR-CX405", chooseCx405, scanSonyCx405},
    ScanDispatchRow{"10/10/19---g_b_dji osmo", "DJI Osmo", chooseOsmo, scanDjiOsmo},
    ScanDispatchRow{"05/11/19---g_b_dji_mavic_Air", "DJI Mavic Air", chooseMavicAir, scanDroneAccessUnits},
    ScanDispatchRow{"07/11/19---g_b_sonyxperiaz5", "Sony Xperia Z5", chooseXperia, scanPhoneAccessUnits},
    ScanDispatchRow{"26/11/19---g_b_Nikon_coolpix_P1", "Nikon COOLPIX, P1 layout", chooseNikonP1, scanCoolpixP1},
    ScanDispatchRow{"26/11/19---g_b_Nikon_coolpix_SQ", "Nikon COOLPIX, SQ layout", chooseNikonSq, scanCoolpixSq},
    ScanDispatchRow{"26/11/19---g_b_Nikon_L5", "Nikon, L5 layout", chooseNikonL5, scanNikonL5},
    ScanDispatchRow{"19", "AAC 21 1A 14 95", choose19, scanVariant19},
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

std::string scanDescription(const ScanDispatchRow& row) {
    if (std::string_view(row.marker) == "1") return scanDescription(row.marker);
    std::string text = "camera variant ";
    if (row.marker[0] != '\0') text += std::string(row.marker) + " ";
    return text + "(" + row.family + ")";
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
    ctx.report.scan = scanDescription(*row);
    if (row->marker[0] != '\0') SystemLog::write(row->marker);
    if (!row->scan) return true;  // a camera this build does not read yet: nothing is taken
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

// The same tests at a unit's first byte, for the fixed-chunk audio policy.
bool nextUnitPlainAt(const uint8_t* u) { return plainNextUnit(u + 4); }
bool frameStartPlainAt(const uint8_t* u) { return plainFrameStart(u + 4); }

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
    GenericScan(const ReferenceAnalysis& a, const ReferenceTemplates& t) : wave_(a.wave != 0), sizeAudio_(t.sizeAudio), chunks_(t.sizeAudio) {
        if (wave_) markAt(4, {0x01, 0x09, 0x06, 0x21, 0x25, 0x41, 0x65});
        else markAt(4, {0x01, 0x06, 0xF9, 0x21, 0x61, 0x25, 0x65});
    }

    bool examine(MediaScanner& s, uint64_t p, const uint8_t* at, ScanStep& step) override {
        if (!(wave_ ? frameStartWave(at + 4) : plainFrameStart(at + 4))) return false;
        const uint64_t length = readU32BE(at);
        if (length == 0 || length > kGenericFrameLimit) return false;
        const uint64_t frameEnd = p + length + 4;
        LookBuffer scratch;
        const ByteView behind = s.bytesAt(frameEnd, 512, scratch);
        return wave_ ? examineWave(s, p, frameEnd, behind, step) : examinePlain(s, p, frameEnd, behind, step);
    }

private:
    bool examinePlain(MediaScanner& s, uint64_t p, uint64_t frameEnd, const ByteView& behind, ScanStep& step) {
        if (plainNextUnit(behind.data() + 4)) {
            step.take(UnitKind::Video, p, frameEnd - p);
            step.next = frameEnd;
            return true;
        }
        return chunks_.afterFrame(s, p, frameEnd, nextUnit_, frameStart_, step);
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
        chunks_.recorded(s, unit);
    }

    bool wave_;
    uint64_t sizeAudio_;
    FixedChunkAudio chunks_;
    const UnitTest nextUnit_{nextUnitPlainAt};
    const UnitTest frameStart_{frameStartPlainAt};
};

}  // namespace

bool plainFrameStart(const uint8_t* h) {
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
bool plainNextUnit(const uint8_t* h) {
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

bool scanGeneric(MediaScanner& scanner) {
    // Files of this one size are left alone.
    if (scanner.end() == kUnscannedFileSize || scanner.chosenSize() == kUnscannedFileSize) return true;
    GenericScan variant(scanner.analysis(), scanner.templates());
    return scanner.run(variant, 0);
}

}  // namespace arbel

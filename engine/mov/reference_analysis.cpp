// Reference analysis: which camera wrote the reference and how its media are coded.
#include "reference_analysis.h"

#include "engine/byte_order.h"
#include "reference_templates.h"
#include "reference_window.h"

#include <algorithm>
#include <cstring>
#include <initializer_list>
#include <iterator>

namespace arbel {

namespace {

// How a byte scan of the signature walk ended. Only a walk that found
// nothing goes on to the camera XML at the end of the file.
enum class WalkEnd {
    NothingFound,  // ran past the end of the file or of the user data
    Recognised,    // a flag was set, or a layout known to need none
    Stopped,       // the user stopped the repair
};

using FlagMember = bool CameraFlags::*;

// The signatures compared with the start of each top-level atom, in order.
// A row without a flag ends the walk all the same.
struct SignatureRow {
    bool (*matches)(const ByteView& atom);
    FlagMember flag;
};

const SignatureRow kSignatureRows[] = {
    {[](const ByteView& a) { return a.fourcc(20, "niko"); }, &CameraFlags::bNikonBrand20},
    {[](const ByteView& a) { return a.fourcc(186, "Niko"); }, &CameraFlags::bNikonTag186},
    {[](const ByteView& a) {
         static const uint8_t k0B[] = {0x00, 0x00, 0x00, 0x0B};
         return a.matches(48, k0B, 4) && a.byte(52) == 'g';
     },
     &CameraFlags::bSignature0Bg},
    {[](const ByteView& a) { return a.fourcc(184, "niko"); }, &CameraFlags::bNikonTag184Lower},
    {[](const ByteView& a) { return a.fourcc(184, "Niko"); }, &CameraFlags::bNikonTag184},
    {[](const ByteView& a) { return a.fourcc(184, "NIKO"); }, nullptr},
    {[](const ByteView& a) {
         const uint8_t b64 = a.byte(64), b65 = a.byte(65);
         const bool pair = (b64 == 0xF9 && (b65 == 0xC0 || b65 == 0x40)) || (b64 == 0x8D && b65 == 0x40);
         return pair && a.byte(71) == 0x24;
     },
     &CameraFlags::bSignature64},
    {[](const ByteView& a) { return a.fourcc(130, "HERO"); }, &CameraFlags::bHero130},
    {[](const ByteView& a) { return a.fourcc(115, "HERO"); }, &CameraFlags::bHero115},
    {[](const ByteView& a) { return a.fourcc(56, "FC63"); }, &CameraFlags::bFC63},
};

// Texts in the user data that name a camera. A row without a flag is a
// camera whose recordings the generic rules handle.
struct UserDataRow {
    const char* text;
    size_t length;
    FlagMember flag;
};

const UserDataRow kUserDataRows[] = {
    {"Zi8 ", 4, nullptr},      {"Zx1 ", 4, nullptr},          {"Zx3\0", 4, nullptr},
    {"Zx5\0", 4, nullptr},     {"PLAYF", 5, nullptr},         {"H3B", 3, &CameraFlags::bH3B},
    {"GH4\0", 4, &CameraFlags::bGH4}, {"P520", 4, &CameraFlags::bP520}, {"P600", 4, &CameraFlags::bP600},
};

struct CanonModel {
    const char* text;
    FlagMember flag;  // nullptr: a known model that gets no flag of its own
};

const CanonModel kCanonModels[] = {
    {"Canon PowerShot G9 X Mark II", &CameraFlags::bCanonG9XMarkII},
    {"Canon PowerShot G7 X Mark II", &CameraFlags::bCanonG7XMarkII},
    {"Canon EOS Rebel T6i", &CameraFlags::bCanonRebelT6i},
    {"Canon EOS-1D X Mark II", &CameraFlags::bCanon1DXMarkII},
    {"Canon EOS 70D", &CameraFlags::bCanon70D},
    {"Canon EOS 80D", &CameraFlags::bCanon80D},
    {"Canon EOS 5D Mark IV", &CameraFlags::bCanon5DMarkIV},
    {"Canon EOS 5DS", nullptr},
    {"Canon EOS REBEL T3i", &CameraFlags::bCanonRebelT3i},
    {"Canon EOS 5D Mark III", nullptr},
    {"Canon EOS 5D Mark II", &CameraFlags::bCanon5DMarkII},
    {"Canon EOS 60D", &CameraFlags::bCanon60D},
    {"Canon EOS 6D", &CameraFlags::bCanon6D},
};

// The model names of Sony's camera XML, compared from the "S" of "Sony".
FlagMember sonyModelAt(const ByteView& v) {
    if (v.fourcc(22, "6500")) return &CameraFlags::bSonyA6500;
    if (v.byte(21) == 'A' && v.byte(22) == 'X') {
        if (v.matches(23, "53", 2)) return &CameraFlags::bSonyAX53;
        if (v.matches(23, "33", 2)) return &CameraFlags::bSonyAX33;
        if (v.matches(23, "1E", 2)) return &CameraFlags::bSonyAX1E;
        if (v.matches(23, "100", 3)) return &CameraFlags::bSonyAX100;
    }
    if (v.fourcc(22, "7SM2")) return &CameraFlags::bSonyA7SM2;
    if (v.matches(19, "CE", 2) && v.byte(22) == '7' && v.byte(23) == 'S' && !v.matches(24, "M2", 2))
        return &CameraFlags::bSonyA7S;
    return nullptr;
}

// The characters of a stored (reversed) format code up to its first zero
// byte, put back in file order.
std::string textOfStoredCode(const std::array<uint8_t, 4>& stored) {
    std::string text;
    for (uint8_t c : stored) {
        if (c == 0) break;
        text.insert(text.begin(), static_cast<char>(c));
    }
    return text;
}

size_t charactersBeforeZero(const std::array<uint8_t, 4>& stored) {
    size_t n = 0;
    while (n < stored.size() && stored[n] != 0) ++n;
    return n;
}

std::array<uint8_t, 4> reversed(const uint8_t* code) { return {code[3], code[2], code[1], code[0]}; }

// One row of the audio signature table: s is the first four bytes of the
// reference's second audio chunk.
struct AudioRow {
    bool (*matches)(const uint8_t* s, bool damagedIsIsom);
    FlagMember flag;
    bool canonFamily;  // a match also says "Canon"
};

bool is(uint8_t value, std::initializer_list<uint8_t> choices) {
    return std::find(choices.begin(), choices.end(), value) != choices.end();
}

const AudioRow kAudioRows[] = {
    {[](const uint8_t* s, bool) { return s[0] == 0x01 && s[2] == 0x15; }, &CameraFlags::bAudioSig01_15, false},
    {[](const uint8_t* s, bool iso) { return s[0] == 0x01 && s[2] == 0x17 && !iso; }, &CameraFlags::bAudioSig01_17,
     false},
    {[](const uint8_t* s, bool) {
         return (s[0] == 0x01 && s[2] == 0x8F) || (s[0] == 0x00 && s[2] == 0x40) || (s[0] == 0x21 && s[2] == 0x9A) ||
                (s[0] == 0x81 && s[2] == 0x83);
     },
     &CameraFlags::bAudioSig00_40, false},
    {[](const uint8_t* s, bool) { return s[0] == 0x21 && s[2] == 0x55; }, &CameraFlags::bAudioSig21_55, false},
    {[](const uint8_t* s, bool) { return s[0] == 0x21 && s[1] == 0x1A && s[2] == 0x14 && s[3] == 0x95; },
     &CameraFlags::bAudioSig211A1495, false},
    {[](const uint8_t* s, bool) { return s[0] == 0x21 && (is(s[3], {0xF0, 0xFC, 0x20}) || s[2] == 0x36); },
     &CameraFlags::bAudioSig21, false},
    {[](const uint8_t* s, bool) { return s[0] == 0x21 && s[2] == 0xD8; }, &CameraFlags::bHero115, false},
    {[](const uint8_t* s, bool) {
         return (s[0] == 0xBB && s[2] == 0xB8) || (s[0] == 0x21 && s[2] == 0x14) || (s[0] == 0x20 && s[2] == 0x4F) ||
                (s[0] == 0x20 && s[2] == 0x0C) || (s[0] == 0x21 && s[2] == 0x0F) || (s[0] == 0xE0 && s[2] == 0x11) ||
                (s[0] == 0xE2 && s[2] == 0xE5);
     },
     &CameraFlags::bAudioSig21, false},
    {[](const uint8_t* s, bool) { return (s[0] == 0x3A && s[2] == 0x3A) || (s[0] == 0x64 && s[2] == 0x64); },
     &CameraFlags::bCanonRebelT3i, true},
    {[](const uint8_t* s, bool) { return s[0] == 0x44 && s[2] == 0xD3; }, &CameraFlags::bCanon5DMarkII, true},
    {[](const uint8_t* s, bool) { return s[0] == 0x91 && s[2] == 0x91; }, &CameraFlags::bAudioSig91_91, true},
    {[](const uint8_t* s, bool) { return s[0] == 0xE6 && s[2] == 0xE6; }, &CameraFlags::bCanon60D, true},
    {[](const uint8_t* s, bool) { return s[0] == 0xCD && s[2] == 0xCD; }, &CameraFlags::bAudioSigCD_CD, true},
    {[](const uint8_t* s, bool) { return s[0] == 0x00 && s[2] == 0x58; }, &CameraFlags::bAudioSig00_58, true},
    {[](const uint8_t* s, bool) { return s[0] == 0x78 && s[2] == 0x78; }, &CameraFlags::bAudioSig78_78, true},
    {[](const uint8_t* s, bool) { return (s[0] == 0x8E && s[2] == 0x8E) || (s[1] == 0x80 && s[3] == 0x80); },
     &CameraFlags::bAudioSig8E_8E, true},
    {[](const uint8_t* s, bool) { return (s[0] == 0xC6 && s[2] == 0xC6) || (s[0] == 0xC1 && s[2] == 0xC1); },
     &CameraFlags::bAudioSigC6_C6, true},
    {[](const uint8_t* s, bool) { return s[0] == 0xBB && s[2] == 0x20; }, &CameraFlags::bAudioSigBB_20, true},
    {[](const uint8_t* s, bool) { return s[0] == 0xB5 && s[2] == 0xE0; }, &CameraFlags::bAudioSigB5_E0, true},
    {[](const uint8_t* s, bool) { return s[0] == 0x0C && s[2] == 0x5C; }, &CameraFlags::bAudioSig0C_5C, true},
    {[](const uint8_t* s, bool) { return s[0] == 0x39 && s[2] == 0x9D; }, &CameraFlags::bAudioSig39_9D, true},
    {[](const uint8_t* s, bool) { return s[0] == 0x21 && s[2] == 0xFC; }, &CameraFlags::bAudioSig21_FC, true},
    {[](const uint8_t* s, bool) { return s[0] == 0xB0 && s[2] == 0xA0; }, &CameraFlags::bCanon6D, true},
    {[](const uint8_t* s, bool) { return (s[0] == 0xC4 && s[2] == 0xC4) || (s[0] == 0xE5 && s[2] == 0xF8); },
     &CameraFlags::bCanon1DXMarkII, true},
    {[](const uint8_t* s, bool) { return (s[0] == 0x20 && s[2] == 0x09) || (s[0] == 0x00 && s[2] == 0xFB); },
     &CameraFlags::bAudioSig20_09, false},
    {[](const uint8_t* s, bool) { return s[0] == 0x20 && s[2] == 0x08; }, &CameraFlags::bAudioSig20_08, false},
    {[](const uint8_t* s, bool iso) { return s[0] == 0x01 && s[2] == 0x17 && iso; }, &CameraFlags::bAudioSig01_17Iso,
     false},
    {[](const uint8_t* s, bool) { return s[0] == 0x01 && (s[2] == 0x9B || s[2] == 0x16) && s[3] == 0x2D; },
     &CameraFlags::bAudioSig01_9B2D, false},
    {[](const uint8_t* s, bool) { return s[0] == 0x01 && s[2] == 0x36 && s[3] == 0x2D; },
     &CameraFlags::bAudioSig01_362D, false},
};
static_assert(std::size(kAudioRows) == 29);

// The scans of the signature walk, over one repair's reference.
class SignatureWalk {
public:
    SignatureWalk(StageContext& ctx, ReferenceAnalysis& analysis)
        : a_(analysis), size_(ctx.referenceSize), window_(ctx.reference, ctx.referenceSize, ctx.control) {}

    WalkEnd run() {
        const uint64_t size = size_;
        uint64_t p = 0;
        while (p < size) {
            if (!window_.load(p)) return WalkEnd::Stopped;
            const ByteView atom = window_.from(p);
            for (const SignatureRow& row : kSignatureRows) {
                if (!row.matches(atom)) continue;
                if (row.flag) a_.flags.*row.flag = true;
                return WalkEnd::Recognised;
            }
            if (atom.size() < 5) return WalkEnd::Recognised;  // nothing left that could be an atom
            if (atom.fourcc(4, "moov")) return moovScan(p + 4);
            p = saturatingAdd(p, nextAtomDistance(atom));
        }
        return WalkEnd::NothingFound;
    }

private:
    // How far the walk moves from an atom it did not recognise. A size of 0
    // would never move it, so it moves a fixed step instead; a 64-bit size is
    // taken whole, so the walk reaches the atoms after large media data.
    static uint64_t nextAtomDistance(const ByteView& atom) {
        constexpr uint64_t kStepOverEmpty = 512;
        const uint64_t size = atom.u32be(0);
        if (size == 0) return kStepOverEmpty;
        if (size == 1) {
            const auto large = static_cast<uint64_t>(atom.s64be(8));
            return large >= 16 ? large : kStepOverEmpty;
        }
        return size;
    }

    // The movie atom, byte by byte from `start` to the end of the file. On a
    // reference whose movie atom comes first this runs through all the media
    // data, so bytes that cannot start a name are passed over quickly.
    WalkEnd moovScan(uint64_t start) {
        const uint64_t size = size_;
        uint64_t q = start;
        while (q < size) {
            if (!window_.cover(q)) return WalkEnd::Stopped;
            const ByteView w = window_.from(window_.base());
            const uint64_t end = std::min(window_.stepEnd(), size);
            for (; q < end; ++q) {
                const uint64_t i = q - window_.base();
                const uint8_t c = w.byte(i);
                if (c != 'u' && c != 'V' && c != '-') continue;
                const ByteView v(w.data() + i, w.size() - i);
                if (v.fourcc(0, "udta")) return userDataScan(q);
                if (v.matches(0, "VIXIA", 5)) {
                    a_.flags.bVixia = true;
                    return WalkEnd::Recognised;
                }
                if (v.fourcc(0, "-GH5")) {
                    a_.flags.bGH5 = true;
                    return WalkEnd::Recognised;
                }
            }
        }
        return WalkEnd::NothingFound;
    }

    // The user data, from the "u" of "udta" to the end of the current window.
    WalkEnd userDataScan(uint64_t start) {
        const uint64_t end = std::min(window_.end(), size_);
        for (uint64_t r = start; r < end; ++r) {
            const ByteView v = window_.from(r);
            for (const UserDataRow& row : kUserDataRows) {
                if (!v.matches(0, row.text, row.length)) continue;
                if (row.flag) a_.flags.*row.flag = true;
                return WalkEnd::Recognised;
            }
            if (v.matches(0, "Canon ", 6)) {
                const uint8_t* text = v.data();
                const size_t length = static_cast<size_t>(std::find(text, text + v.size(), 0) - text);
                a_.canonModelComparison(std::string(reinterpret_cast<const char*>(text), length));
            }
        }
        // The window ended without a camera text: as if the walk found nothing.
        return WalkEnd::NothingFound;
    }

    ReferenceAnalysis& a_;
    uint64_t size_;
    ReferenceWindow window_;
};

}  // namespace

bool signatureWalk(StageContext& ctx, ReferenceAnalysis& analysis) {
    const WalkEnd end = SignatureWalk(ctx, analysis).run();
    if (end == WalkEnd::Stopped) return false;
    if (end == WalkEnd::NothingFound) tailScan(ctx, analysis);
    return !ctx.stopRequested();
}

void tailScan(StageContext& ctx, ReferenceAnalysis& analysis) {
    constexpr uint64_t kTail = 512;
    const uint64_t size = ctx.referenceSize;
    const uint64_t start = size > kTail ? size - kTail : 0;
    ReferenceWindow window(ctx.reference, size, ctx.control);
    if (!window.load(start)) return;
    for (uint64_t i = 4; start + i < size; ++i) {
        const ByteView v = window.from(start + i);
        if (!v.fourcc(0, "Sony")) continue;
        if (const FlagMember model = sonyModelAt(v)) {
            analysis.flags.*model = true;
            return;
        }
    }
}

void ReferenceAnalysis::canonModelComparison(const std::string& modelText) {
    flags.bCanon = modelText.find("Canon") != std::string::npos;
    flags.clearCanonModels();
    for (const CanonModel& model : kCanonModels) {
        if (modelText != model.text) continue;
        if (model.flag) flags.*model.flag = true;
        return;
    }
}

void ReferenceAnalysis::decideFtypCodec(const uint8_t* compatibleBrand) {
    if (flags.bSignature64) {
        AVC_Codec_Present = 1;
        return;
    }
    const bool avcBrand = compatibleBrand && (std::memcmp(compatibleBrand, "avc1", 4) == 0 ||
                                              std::memcmp(compatibleBrand, "isom", 4) == 0 ||
                                              std::memcmp(compatibleBrand, "qt  ", 4) == 0);
    AVC_Codec_Present = avcBrand ? 1 : 0;
}

std::string ReferenceAnalysis::decideVideoCodec(const uint8_t* formatCode) {
    codecinformation = reversed(formatCode);
    const std::string text = textOfStoredCode(codecinformation);
    videoCodecText = text.empty() ? "---" : text;
    if (text == "avc1") AVC_Codec_Present = 1;
    return videoCodecText;
}

std::string ReferenceAnalysis::decideAudioCodec(const uint8_t* formatCode) {
    AudiocodecInforamtion = reversed(formatCode);
    if (charactersBeforeZero(AudiocodecInforamtion) < 2)
        AudiocodecInforamtion = {formatCode[0], formatCode[1], formatCode[2], formatCode[3]};
    const std::string text = textOfStoredCode(AudiocodecInforamtion);
    audioCodecText = text.empty() ? "---" : text;
    return audioCodecText;
}

void ReferenceAnalysis::searchAudioDescription(const std::vector<uint8_t>& audioDescription) {
    const ByteView description(audioDescription.data(), audioDescription.size());
    for (uint64_t i = 0; i + 4 <= description.size(); ++i) {
        if (description.fourcc(i, "mp4a")) {
            mp4aPresent = 1;
            wave = 0;
            return;
        }
        mp4aPresent = 0;
        if (description.fourcc(i, "wave")) wave = 1;
    }
}

void classifyNalTags(const FileReader& reference, const ReferenceTemplates& templates, ReferenceAnalysis& a) {
    // Looks for the NAL header pair that starts the camera's frames; the
    // stop-motion marker only counts in the second, shorter probe.
    const auto findTag = [&a](bool stopMotionRule) {
        const ByteView chunk(a.b_finding_Tag.data(), a.b_finding_Tag.size());
        for (uint64_t c = 0; c + 1 < chunk.size(); ++c) {
            const uint8_t first = chunk.byte(c), second = chunk.byte(c + 1);
            if ((first == 0x25 && (second == 0xB8 || second == 0x88)) || (first == 0x65 && second == 0xB8)) {
                a.Tag_2588_Present = 1;
            } else if (first == 0x65 && second == 0x88) {
                a.Tag_6588_Present = 1;
            } else if (stopMotionRule && first == 0xE1 && second == 0x5C && chunk.byte(c + 2) == 0x51) {
                a.bIsStopMotionFile = 1;
            } else {
                continue;
            }
            a.tag = static_cast<int32_t>(c);
            return;
        }
    };

    a.tag = 0;
    if (templates.videoOffsetCount == 0) return;
    a.b_finding_Tag = reference.readAt(templates.VideoOffsets[0], 700);
    findTag(false);
    if (!a.Tag_2588_Present && !a.Tag_6588_Present && !a.bIsStopMotionFile && templates.videoOffsetCount > 2) {
        a.b_finding_Tag = reference.readAt(templates.VideoOffsets[2], 70);
        findTag(true);
    }
    const ByteView chunk(a.b_finding_Tag.data(), a.b_finding_Tag.size());
    a.tagPair = {chunk.byte(static_cast<uint64_t>(a.tag)), chunk.byte(static_cast<uint64_t>(a.tag) + 1)};
}

void classifyAudioSignatures(const FileReader& reference, const FileReader& damaged,
                             const ReferenceTemplates& templates, ReferenceAnalysis& analysis) {
    uint8_t brand[4] = {};
    damaged.readAt(8, brand, sizeof brand);
    const bool damagedFileIsIsom = std::memcmp(brand, "isom", 4) == 0;

    // An offset of 0 is no chunk (media data always follow an atom header).
    uint8_t f[4] = {}, s[4] = {};
    if (templates.stco_Address_Audio_sizetojump != 0)
        reference.readAt(templates.stco_Address_Audio_sizetojump, f, sizeof f);
    if (templates.stco_Address_Audio_second_sizetojump != 0)
        reference.readAt(templates.stco_Address_Audio_second_sizetojump, s, sizeof s);
    CameraFlags& flags = analysis.flags;

    if (f[0] == 0x21 && f[1] == 0x1C && f[2] == 0x44) flags.bAudioFirst211C44 = true;
    if (f[0] == 0x20 && (f[2] == 0x6C || f[2] == 0x0C)) flags.bAudioFirst20_6C = true;
    if (s[0] == 0x01 && s[1] == 0x34 && s[2] == 0x99) flags.bAudioSig013499 = true;
    if (s[0] == 0x01 && is(s[1], {0x20, 0x30, 0x3C}) && (s[2] & 0xFE) == 0x98 && (s[3] | 0x40) == 0xDA)
        flags.bAudioSig0198DA = true;

    for (const AudioRow& row : kAudioRows) {
        if (!row.matches(s, damagedFileIsIsom)) continue;
        flags.*row.flag = true;
        if (row.canonFamily) flags.bCanon = true;
        break;
    }
}

bool ReferenceAnalysis::classifyProbedChunkHeader() {
    const auto& head = buffer_for_Address_Video_first_chunk;
    if (head[0] == 0xFF && head[1] == 0xD8 && head[2] == 0xFF && head[3] == 0xDB) {
        Mjpeg_code_present = 1;
        AVC_Codec_Present = 0;
        return true;
    }
    if (textOfStoredCode(codecinformation) == "avc1") {
        AVC_Codec_Present = 1;
        return true;
    }
    return false;
}

ScanPath ReferenceAnalysis::decideScanPath() const {
    // Nikon's own layouts are scanned by their variants whatever the codec says.
    if (flags.nikon184() || flags.bNikonTag186) return ScanPath::Variant;
    if (Mjpeg_code_present == 1) return ScanPath::Mjpeg;
    if (AVC_Codec_Present != 1) return ScanPath::Refuse;
    return ScanPath::Variant;
}

}  // namespace arbel

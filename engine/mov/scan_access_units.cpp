// Camera variants whose frames are whole H.264 access units that open with
// an access-unit delimiter (GoPro, Sony, Panasonic, DJI Osmo) or with the
// camera's own first slice (Canon EOS-1D X Mark II). A frame is one access
// unit, walked NAL unit by NAL unit against the reference's parameter sets;
// it ends where its chain of units ends. What stands behind its last unit
// (sound, a GoPro metadata block, padding) is never part of it: the row's
// sound policy takes it or the scan passes over it.
#include "engine/codec/access_unit.h"
#include "engine/codec/parameter_sets.h"
#include "platform/system_log.h"
#include "scan_audio.h"
#include "scan_skeleton.h"
#include "scanner_bytes.h"

#include <algorithm>
#include <bitset>
#include <cstring>

namespace arbel {
namespace {

using RowTest = bool (*)(const uint8_t* at);

// 00 00 00 02 09: a delimiter NAL unit of two bytes behind its length
// prefix; its picture-type byte comes next.
bool delimiter(const uint8_t* at) {
    return at[0] == 0x00 && at[1] == 0x00 && at[2] == 0x00 && at[3] == 0x02 && at[4] == 0x09;
}
bool delimiterAny(const uint8_t* at) { return delimiter(at); }
bool delimiter10(const uint8_t* at) { return delimiter(at) && at[5] == 0x10; }
bool delimiter10or30(const uint8_t* at) { return delimiter(at) && (at[5] == 0x10 || at[5] == 0x30); }
bool delimiter10or30or50(const uint8_t* at) { return delimiter10or30(at) || (delimiter(at) && at[5] == 0x50); }
// 1D X Mark II: an IDR slice (25 88) whose length prefix's upper half is 0005.
bool canon1DXFrame(const uint8_t* at) { return at[0] == 0x00 && at[1] == 0x05 && at[4] == 0x25 && at[5] == 0x88; }

enum class Sound : uint8_t {
    Between,  // PCM chunks of sizeAudio bytes, or AAC frames as the reference's begin
    None,     // video only
};

struct AccessUnitRow {
    RowTest start;          // at P
    ByteSet at0, at4;       // pre-tests: the bytes start may accept at P and P + 4
    uint64_t unitLimit;     // longest access unit, from its first byte
    uint64_t nalLimit;      // longest NAL unit
    Sound sound;
    bool leadingAudio;      // the damaged file's header and first chunk before the first frame, always
    bool metadataBlocks;    // GoPro metadata blocks stand between frames
    const char* notBuilt;   // a step of the camera's that is not run, logged once
    const char* endLog;     // logged when the scan reaches the end
};

constexpr uint64_t kOsmoNalLimit = 2'499'999;  // the Osmo's longest unit
const ByteSet kZero{0x00};
const ByteSet kDelimiterType{0x09};

const char* const kGoProEndNotRun = "The end test 00 ?? 02/03 of this camera is not run: it could take units twice";
const char* const kGH4PassNotRun =
    "The second pass for 09 10 ... 0D 06 of this camera is not run: it could take units twice";

// clang-format off
//                                  start                 pre-tests             unit limit  NAL limit      sound           leading audio  GP blocks  not run          end log
const AccessUnitRow kGoPro         {delimiter10or30,     kZero, kDelimiterType, 3'145'727,  3'145'727,     Sound::Between, true,  true,  kGoProEndNotRun, nullptr};
const AccessUnitRow kDelimitedVideo{delimiter10or30or50, kZero, kDelimiterType, 3'145'728,  3'145'728,     Sound::None,    false, false, nullptr,         "Exiting...."};
const AccessUnitRow kDelimitedAac  {delimiter10or30,     kZero, kDelimiterType, 3'145'727,  3'145'727,     Sound::Between, true,  false, nullptr,         nullptr};
const AccessUnitRow kCanon1DX      {canon1DXFrame,       kZero, ByteSet{0x25},  400'010,    400'010,       Sound::Between, false, false, nullptr,         nullptr};
const AccessUnitRow kGH4           {delimiterAny,        kZero, kDelimiterType, 6'291'456,  6'291'456,     Sound::Between, false, false, kGH4PassNotRun,  nullptr};
const AccessUnitRow kGH5           {delimiter10,         kZero, kDelimiterType, 6'291'456,  6'291'456,     Sound::Between, false, false, nullptr,         nullptr};
const AccessUnitRow kHero3         {delimiter10or30,     kZero, kDelimiterType, 3'145'728,  3'145'728,     Sound::Between, false, false, nullptr,         nullptr};
const AccessUnitRow kSony          {delimiterAny,        kZero, kDelimiterType, 20'971'530, 20'971'530,    Sound::Between, false, false, nullptr,         nullptr};
const AccessUnitRow kCx405         {delimiter10or30,     kZero, kDelimiterType, 6'297'600,  6'297'600,     Sound::Between, false, false, nullptr,         nullptr};
const AccessUnitRow kOsmo          {delimiter10or30,     kZero, kDelimiterType, 6'297'600,  kOsmoNalLimit, Sound::Between, true,  false, nullptr,         nullptr};
// clang-format on

// The avcC record inside the reference's video sample description.
std::optional<codec::StreamParameters> referenceStream(std::span<const uint8_t> description) {
    static constexpr char kAvcC[] = {'a', 'v', 'c', 'C'};
    for (size_t i = 4; i + 4 <= description.size(); ++i) {
        if (std::memcmp(description.data() + i, kAvcC, 4) != 0) continue;
        const uint64_t size = readU32BE(description.data() + i - 4);
        if (size < 8 || size - 4 > description.size() - i) continue;
        return codec::parseAvcConfiguration(description.subspan(i + 4, static_cast<size_t>(size - 8)));
    }
    return std::nullopt;
}

class AccessUnitScan final : public ScanVariant {
public:
    AccessUnitScan(const AccessUnitRow& row, const MediaScanner& scanner, const codec::StreamParameters& stream)
        : row_(row),
          stream_(stream),
          bytes_(scanner),
          chunks_(row.sound == Sound::Between && !scanner.analysis().mp4aPresent ? scanner.templates().sizeAudio : 0),
          aacFrames_(row.sound == Sound::Between && scanner.analysis().mp4aPresent ? &scanner.templates().aacFrames
                                                                                   : nullptr),
          runs_(runShape(scanner.templates())) {
        stream_.maxNalBytes = std::min(stream_.maxNalBytes, row.nalLimit);
        stream_.maxUnitBytes = std::min(stream_.maxUnitBytes, row.unitLimit);
        markAt(0, row.at0);
        markAt(4, row.at4);
        if (learnedAac()) {
            const std::bitset<256> first = aacFrames_->starts.firstBytes();
            markWhere(0, [&](uint8_t b) { return first.test(b); });
        }
    }

    bool examine(MediaScanner& s, uint64_t p, const uint8_t* at, ScanStep& step) override {
        if (row_.start(at)) return examineFrame(s, p, step);
        if (learnedAac() && aacFrames_->startsAt(at)) return runs_.examineRun(s, p, step);
        return false;
    }

    bool leadingAudioApplies(const MediaScanner& s) const override {
        return row_.sound == Sound::Between && (row_.leadingAudio || ScanVariant::leadingAudioApplies(s));
    }

private:
    bool learnedAac() const { return aacFrames_ != nullptr && aacFrames_->learned(); }

    // The access unit at p, whole, or nothing: a unit cut by the row's limit,
    // the damage or the end of the file is not taken, nor one that nothing
    // known follows (its last unit's body may be damage that kept the length):
    // the next access unit, sound, or the end of the data.
    bool examineFrame(MediaScanner& s, uint64_t p, ScanStep& step) const {
        const uint64_t limit = std::min(addClamped(p, row_.unitLimit), s.end());
        const codec::AccessUnitResult walked = codec::walkAccessUnit(bytes_, p, limit, stream_);
        if (!walked.ok()) return false;
        const uint64_t end = walked.unit.end;
        const bool nextUnit = walked.unit.ending == codec::UnitEnding::NextUnit;
        // A row that reads no sound cannot tell the sound it passes over from damage.
        const bool unread = row_.sound == Sound::None;
        if (end == s.end() || nextUnit || unread || startsFrame(s, end) || soundStarts(s, end)) {
            step.take(UnitKind::Video, p, end - p);
            step.next = end;
            return true;
        }
        // sizeAudio bytes of sound behind the last frame of a run: taken
        // when the next frame (or the end of the data) stands behind them.
        const uint64_t chunkEnd = addClamped(end, chunks_);
        if (chunks_ > 0 && (chunkEnd == s.end() || (chunkEnd < s.end() && startsFrame(s, chunkEnd)))) {
            step.take(UnitKind::Video, p, end - p);
            step.take(UnitKind::Audio, end, chunks_);
            step.next = chunkEnd;
            return true;
        }
        return false;
    }

    // AAC as the reference's frames begin, or a GoPro metadata block ("GP",
    // 04 or 05, with 20/21 sixteen bytes on or another "G" twenty bytes on).
    bool soundStarts(const MediaScanner& s, uint64_t pos) const {
        LookBuffer scratch;
        const uint8_t* at = s.bytesAt(pos, kUnitRead, scratch).data();
        if (learnedAac() && aacFrames_->startsAt(at)) return true;
        return row_.metadataBlocks && at[0] == 'G' && at[1] == 'P' && (at[2] == 0x04 || at[2] == 0x05) &&
               (at[16] == 0x20 || at[16] == 0x21 || at[20] == 'G');
    }

    bool startsFrame(const MediaScanner& s, uint64_t pos) const {
        LookBuffer scratch;
        return row_.start(s.bytesAt(pos, kUnitRead, scratch).data());
    }

    AacRunShape runShape(const ReferenceTemplates& templates) const {
        const ReferenceTemplates::AacFrames& f = templates.aacFrames;
        const UnitTest audio = [frames = &templates.aacFrames](const uint8_t* a) { return frames->startsAt(a); };
        const UnitTest frame = [start = row_.start](const uint8_t* at) { return start(at); };
        // The frame's own start test is strong (a delimiter, or the camera's
        // slice): whatever stands behind its first unit confirms it.
        const UnitTest after = [](const uint8_t*) { return true; };
        const uint64_t last = std::clamp<uint64_t>(f.longest + f.longest / 2 + 16, 64, kLookAheadMax - kUnitRead);
        const uint64_t first = std::clamp<uint64_t>(f.shortest - f.shortest / 4, 8, last);
        return AacRunShape{audio, frame, after, row_.nalLimit, first, last};
    }

    const AccessUnitRow& row_;
    codec::StreamParameters stream_;
    ScannerBytes bytes_;
    uint64_t chunks_;
    const ReferenceTemplates::AacFrames* aacFrames_;
    AacRunAudio runs_;
};

bool scanWith(MediaScanner& scanner, const AccessUnitRow& row) {
    const auto stream = referenceStream(scanner.templates().videoSampleDescription);
    if (!stream) {
        SystemLog::write("The reference has no H.264 parameter sets: its camera's access units cannot be walked");
        return true;
    }
    if (row.notBuilt) SystemLog::write(row.notBuilt);
    AccessUnitScan variant(row, scanner, *stream);
    if (!scanner.run(variant, 0)) return false;
    if (row.endLog) SystemLog::write(row.endLog);
    return true;
}

}  // namespace

bool scanGoPro(MediaScanner& scanner) { return scanWith(scanner, kGoPro); }
bool scanDelimitedVideo(MediaScanner& scanner) { return scanWith(scanner, kDelimitedVideo); }
bool scanDelimitedAac(MediaScanner& scanner) { return scanWith(scanner, kDelimitedAac); }
bool scanCanon1DXMarkII(MediaScanner& scanner) { return scanWith(scanner, kCanon1DX); }
bool scanPanasonicGH4(MediaScanner& scanner) { return scanWith(scanner, kGH4); }
bool scanPanasonicGH5(MediaScanner& scanner) { return scanWith(scanner, kGH5); }
bool scanGoProHero3(MediaScanner& scanner) { return scanWith(scanner, kHero3); }
bool scanSonyDelimited(MediaScanner& scanner) { return scanWith(scanner, kSony); }
bool scanSonyCx405(MediaScanner& scanner) { return scanWith(scanner, kCx405); }
bool scanDjiOsmo(MediaScanner& scanner) { return scanWith(scanner, kOsmo); }

}  // namespace arbel

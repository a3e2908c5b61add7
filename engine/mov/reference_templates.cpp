// The header atoms of the reference that the repaired file reuses.
#include "repair_file.h"

#include "engine/byte_order.h"
#include "engine/repair_values.h"
#include "reference_window.h"

#include <algorithm>
#include <optional>

namespace arbel {

namespace {

constexpr uint64_t kMediaPiecesRead = 500;  // bytes from an mdhd that hold the media pieces
constexpr uint64_t kMvhdSearch = 2500;      // how far after a user-data atom mvhd is looked for
constexpr uint64_t kMoovSlack = 2000;       // the child scan runs this far past the movie atom
constexpr uint64_t kVideoOffsetsTaken = 10;

// Smallest sizes that hold every field read here or patched by the writers.
constexpr uint64_t kMinAtom = 8;
constexpr uint64_t kMinFtyp = 16;
constexpr uint64_t kMinTkhd = 92, kMinTkhdVersion1 = 104;
constexpr uint64_t kMinMdhd = 32, kMinMdhdVersion1 = 44;
constexpr uint64_t kMinHdlr = 32;
constexpr uint64_t kMinFullAtom = 16;  // header, version and flags, one count

struct Extent {
    uint64_t start = 0;
    uint64_t size = 0;
    uint64_t end() const { return start + size; }
};

// Where the media pieces of one track go.
struct PieceSlots {
    std::vector<uint8_t>& mdhd;
    uint64_t& mdhdSize;
    std::vector<uint8_t>& hdlr;
    uint64_t& hdlrSize;
    std::vector<uint8_t>& mediaHeader;  // "minf" + vmhd or smhd
    uint64_t& mediaHeaderSize;
    std::vector<uint8_t>& dataHandler;
    uint64_t& dataHandlerSize;
    std::vector<uint8_t>& dinf;
    uint64_t& dinfSize;
};

std::vector<uint8_t> copyOf(const ByteView& b, uint64_t from, uint64_t to) {
    return std::vector<uint8_t>(b.data() + from, b.data() + to);
}

// A whole atom at k inside the media bytes: its size, when it is at least
// `minimum` and the atom lies inside the bytes.
std::optional<uint64_t> atomSizeIn(const ByteView& b, uint64_t k, uint64_t minimum) {
    const uint64_t size = b.u32be(k);
    if (size < std::max(minimum, kMinAtom) || !b.has(k, size)) return std::nullopt;
    return size;
}

// Takes the media header, media handler, media information header, data
// handler and data information apart, each where the camera writes it. A
// piece that is not in its place is left out and the next is looked for at
// the same offset. Answers the offset after the last piece (0: no mdhd).
uint64_t takeMediaPieces(const ByteView& b, const char* mediaHeaderType, PieceSlots s, bool& mediaHandlerTaken) {
    for (std::vector<uint8_t>* piece : {&s.mdhd, &s.hdlr, &s.mediaHeader, &s.dataHandler, &s.dinf}) piece->clear();
    s.mdhdSize = s.hdlrSize = s.mediaHeaderSize = s.dataHandlerSize = s.dinfSize = 0;

    if (!b.fourcc(4, "mdhd")) return 0;
    const auto m = atomSizeIn(b, 0, b.byte(8) == 1 ? kMinMdhdVersion1 : kMinMdhd);
    if (!m) return 0;
    s.mdhd = copyOf(b, 0, *m - 8);
    s.mdhdSize = *m;
    uint64_t k = *m;

    if (b.fourcc(k + 4, "hdlr")) {
        if (const auto h = atomSizeIn(b, k, kMinHdlr)) {
            mediaHandlerTaken = true;
            s.hdlr = copyOf(b, k - 4, k + *h);
            s.hdlrSize = *h;
            k += *h;
        }
    }
    if (b.fourcc(k + 12, mediaHeaderType)) {
        if (const auto v = atomSizeIn(b, k + 8, kMinAtom)) {
            s.mediaHeader = copyOf(b, k + 4, k + 8 + *v);
            s.mediaHeaderSize = *v;
            k += 8 + *v;
        }
    }
    if (mediaHandlerTaken && b.fourcc(k + 4, "hdlr")) {
        if (const auto h = atomSizeIn(b, k, kMinHdlr)) {
            mediaHandlerTaken = false;
            s.dataHandler = copyOf(b, k, k + *h);
            s.dataHandlerSize = *h;
            k += *h;
        }
    }
    if (b.fourcc(k + 4, "dinf")) {
        if (const auto d = atomSizeIn(b, k, kMinAtom)) {
            mediaHandlerTaken = false;
            s.dinf = copyOf(b, k, k + *d);
            s.dinfSize = *d;
            k += *d;
        }
    }
    return k;
}

// The second walk over the reference. It searches byte by byte for type
// codes and gives each its meaning from what was met before (the video
// track's atoms, then the sound track's). Every size read is checked
// against the file and the movie atom before it moves the walk or sizes a
// copy; every field is read only when it lies inside its atom.
class TemplateWalk {
public:
    explicit TemplateWalk(RepairFile& engine)
        : f_(engine), fileSize_(engine.referenceFileSize),
          window_(engine.referencefilehandle, fileSize_, engine.dwBufferSize) {}

    // False when the user stopped the repair.
    bool run() {
        uint64_t pos = 0;
        while (pos < fileSize_) {
            if (!window_.cover(pos, f_.pauseFlag())) return false;
            const ByteView v = window_.from(pos);
            const uint32_t code = static_cast<uint32_t>(v.u32be(0));
            uint64_t next = pos + 1;
            Step step = Step::Go;
            if (code == fourCode("ftyp") && pos >= 4) {
                step = onFtyp(pos, next);
            } else if (!f_.Movfileisvalid && isMdatAt(v, pos)) {
                step = onMdat(pos, next);
            } else if (code == fourCode("moov") && pos >= 4) {
                step = onMoov(pos, next);
            }
            if (step == Step::Stopped) return false;
            if (step == Step::Finished) break;
            pos = next;
        }
        return !isStopRequested();
    }

private:
    enum class Step { Go, EndMoovWalk, Finished, Stopped };

    // --- reading -----------------------------------------------------------
    uint64_t u32At(uint64_t pos) const {
        uint8_t b[4];
        f_.referencefilehandle.readAt(pos, b, sizeof b);
        return readU32BE(b);
    }
    uint64_t u64At(uint64_t pos) const {
        uint8_t b[8];
        f_.referencefilehandle.readAt(pos, b, sizeof b);
        return static_cast<uint64_t>(readS64BESaturating(b));
    }
    // A 4-byte field at `offset` of an atom; zero when the atom is too short to hold it.
    uint64_t field(const Extent& atom, uint64_t offset) const {
        return offset + 4 <= atom.size ? u32At(atom.start + offset) : 0;
    }
    std::vector<uint8_t> bytesAt(uint64_t pos, uint64_t length) const {
        return f_.referencefilehandle.readAt(pos, static_cast<size_t>(length));
    }

    // The atom whose size field is at `start`, when its size is at least
    // `minimum` and it ends by `limit` (never past the end of the file).
    std::optional<Extent> atomAt(uint64_t start, uint64_t limit, uint64_t minimum) const {
        limit = std::min(limit, fileSize_);
        uint64_t size = u32At(start);
        uint64_t header = 8;
        if (size == 1) {
            size = u64At(start + 8);
            header = 16;
        }
        if (size < std::max({minimum, header, kMinAtom}) || start > limit || size > limit - start)
            return std::nullopt;
        return Extent{start, size};
    }

    // Position of the first `code` type code in [from, from + length),
    // inside the movie atom.
    std::optional<uint64_t> search(uint32_t code, uint64_t from, uint64_t length) {
        const uint64_t end = std::min(saturatingAdd(from, length), moovEnd_);
        for (uint64_t pos = from; pos < end; ++pos) {
            if (!window_.cover(pos, f_.pauseFlag())) return std::nullopt;
            if (window_.from(pos).u32be(0) == code) return pos;
        }
        return std::nullopt;
    }

    bool isMdatAt(const ByteView& v, uint64_t pos) const {
        // One camera writes its media-data header four bytes later than the
        // byte-wise search expects.
        if (f_.flags.bFC63) return v.fourcc(4, "mdat");
        return pos >= 4 && v.fourcc(0, "mdat");
    }

    bool report(double progress) {
        f_.reporter.status(kAnalyzingText, progress, 1.5);
        return !isStopRequested();
    }

    // --- top level ---------------------------------------------------------
    Step onFtyp(uint64_t t, uint64_t& next) {
        if (!report(3.0)) return Step::Stopped;
        const auto atom = atomAt(t - 4, fileSize_, kMinFtyp);
        uint8_t brand[4] = {};
        const bool hasBrand = atom && atom->size >= 20;
        if (hasBrand) f_.referencefilehandle.readAt(t + 12, brand, sizeof brand);
        f_.decideFtypCodec(hasBrand ? brand : nullptr);
        f_.sizeofFtyp = t - 4;
        // Straight to the type code of the next atom.
        next = atom ? t + atom->size : t + 1;
        return Step::Go;
    }

    Step onMdat(uint64_t pos, uint64_t& next) {
        if (!f_.flags.bFC63 && !report(5.0)) return Step::Stopped;
        const uint64_t t = f_.flags.bFC63 ? pos + 4 : pos;
        const uint64_t start = t - 4;
        uint64_t size = u32At(start);
        uint64_t header = 8;
        f_.sizeofmdat = start;
        if (size == 1) {
            f_.its_A_morethen_4GB_FILE = 1;
            size = u64At(t + 4);
            header = 16;
        }
        f_.whloesizeofmdat = size;
        // A size that cannot be one would leave the walk in place.
        next = size < header ? pos + 8 : saturatingAdd(start, size) + 4;
        return Step::Go;
    }

    Step onMoov(uint64_t t, uint64_t& next) {
        const uint64_t start = t - 4;
        uint64_t size = u32At(start);
        if (size == 1) size = u64At(t + 4);
        else if (size == 0) size = fileSize_ - start;  // the movie atom runs to the end of the file
        if (size < kMinAtom) return Step::Go;
        if (!report(10.0)) return Step::Stopped;
        f_.moovatomSize = size;
        f_.Movfileisvalid = 1;
        return moovWalk(start, next);
    }

    // --- movie atom ----------------------------------------------------------
    Step moovWalk(uint64_t start, uint64_t& next) {
        moovEnd_ = std::min(fileSize_, saturatingAdd(start, f_.moovatomSize));
        const uint64_t regionEnd = std::min(fileSize_, saturatingAdd(moovEnd_, kMoovSlack));
        if (!takeMovieTimes(start)) return Step::Stopped;

        uint64_t pos = start;
        while (pos < regionEnd) {
            if (!window_.cover(pos, f_.pauseFlag())) return Step::Stopped;
            uint64_t after = pos + 1;
            const Step step = child(pos, after);
            if (step == Step::Stopped || step == Step::Finished) return step;
            if (step == Step::EndMoovWalk) break;
            pos = after;
        }
        next = pos + 1;
        return Step::Go;
    }

    // The movie time scale and duration.
    bool takeMovieTimes(uint64_t moovStart) {
        const uint64_t firstChild = moovStart + (u32At(moovStart) == 1 ? 16 : 8);
        const auto firstType = static_cast<uint32_t>(u32At(firstChild + 4));
        const CameraFlags& c = f_.flags;
        std::optional<uint64_t> mvhdType;

        const auto afterUserData = [&](uint64_t udtaStart) -> std::optional<uint64_t> {
            f_.udatawholesize = u32At(udtaStart);
            const auto udta = atomAt(udtaStart, moovEnd_, kMinAtom);
            if (!udta) return std::nullopt;
            return search(fourCode("mvhd"), udta->end(), kMvhdSearch);
        };

        if (firstType == fourCode("udta")) {
            mvhdType = afterUserData(firstChild);
        } else if ((c.bCanonG7XMarkII || c.bCanonG9XMarkII || c.bVixia || c.bCanonRebelT6i) &&
                   f_.mvhd_timescale == 0) {
            const auto udtaType = search(fourCode("udta"), firstChild + 4, moovEnd_ - std::min(moovEnd_, firstChild));
            if (udtaType) mvhdType = afterUserData(*udtaType - 4);
        } else if (firstType == fourCode("mvhd")) {
            mvhdType = firstChild + 4;
        } else {
            mvhdType = search(fourCode("mvhd"), firstChild, kMvhdSearch);
        }
        if (isStopRequested()) return false;
        if (!mvhdType) return true;

        const auto mvhd = atomAt(*mvhdType - 4, moovEnd_, kMinAtom);
        if (!mvhd) return true;
        if (u32At(mvhd->start + 8) >> 24 == 1) {
            f_.mvhd_timescale = field(*mvhd, 28);
            f_.duratonFPS = mvhd->size >= 40 ? u64At(mvhd->start + 32) : 0;
        } else {
            f_.mvhd_timescale = field(*mvhd, 20);
            f_.duratonFPS = field(*mvhd, 24);
        }
        return true;
    }

    Step child(uint64_t t, uint64_t& next) {
        const ByteView v = window_.from(t);
        const bool videoOpen = !f_.stbl_stsdpresent && !videoTaken_;
        switch (static_cast<uint32_t>(v.u32be(0))) {
        case fourCode("tkhd"):
            if (videoOpen && t >= 4) return onTkhd(t, next);
            break;
        case fourCode("mdia"):
            if (videoOpen) return onVideoMedia(t, next);
            break;
        case fourCode("mdhd"):
            if (f_.bMdhdDataOfVideo && t >= 4) return onSoundMedia(t, next);
            break;
        case fourCode("stbl"):
            if (!v.fourcc(8, "stsd")) break;
            if (videoOpen) return onVideoDescription(t, next);
            if (f_.stbl_stsdpresent && soundTrackSeen_ && !audioTaken_) return onAudioDescription(t, next);
            break;
        case fourCode("stts"):
            if (inVideoTable(t)) return onVideoTimes(t, next);
            break;
        case fourCode("stsz"):
            if (inVideoTable(t)) onVideoSampleSizes(t);
            else if (inAudioTable(t)) onAudioSampleSizes(t);
            break;
        case fourCode("stsc"):
            if (inVideoTable(t)) onVideoChunkSamples(t);
            else if (inAudioTable(t)) onAudioChunkSamples(t);
            break;
        case fourCode("stco"):
        case fourCode("co64"):
            if (inVideoTable(t) && !videoTableTaken_) return onVideoChunkTable(t, v, next);
            if (inAudioTable(t)) return onAudioChunkTable(t, v);
            break;
        default:
            break;
        }
        return Step::Go;
    }

    bool inVideoTable(uint64_t t) const { return f_.forothercheck && t < videoTableEnd_ && t >= 4; }
    bool inAudioTable(uint64_t t) const {
        return f_.stbl_stsdpresent && !f_.forothercheck && audioTaken_ && t < audioTableEnd_ && t >= 4;
    }

    // --- video track -------------------------------------------------------
    Step onTkhd(uint64_t t, uint64_t& next) {
        if (u32At(t - 4) > f_.dwBufferSize) return Step::EndMoovWalk;
        const uint64_t minimum = (u32At(t + 4) >> 24) == 1 ? kMinTkhdVersion1 : kMinTkhd;
        const auto atom = atomAt(t - 4, moovEnd_, minimum);
        if (!atom) return Step::Go;
        f_.trak_header_size = atom->size;
        f_.trak_data = bytesAt(atom->start, atom->size);
        next = t + atom->size;  // the type code of the atom after the track header
        return Step::Go;
    }

    Step onVideoMedia(uint64_t t, uint64_t& next) {
        f_.bMdhdDataOfVideo = true;
        const uint64_t start = t + 4;
        f_.lMovetoMdhd = start;
        const auto mdia = atomAt(t - 4, moovEnd_, kMinAtom);
        const uint64_t limit = mdia ? mdia->end() : moovEnd_;
        f_.TempBufferMdhd = bytesAt(start, kMediaPiecesRead);
        const ByteView pieces(f_.TempBufferMdhd.data(),
                              static_cast<size_t>(std::min(kMediaPiecesRead, limit - std::min(limit, start))));
        const uint64_t k = takeMediaPieces(pieces, "vmhd",
                                           {f_.bpMdhdDataStore, f_.dsizeofVideoMdhd, f_.bpHdlrDataStore,
                                            f_.dsizeOfVideoHdlr, f_.bpMingVmhdDataStore, f_.dSizeOfMinfVmhd,
                                            f_.bpMinfHdlrData, f_.dSizeOfMinfHdlr, f_.bpMinfDinfData,
                                            f_.dSizeOfDminf},
                                           f_.bMdiaHdlrPresent);
        f_.dSizeOfAtoms = k;
        if (k != 0) next = start + k;
        return Step::Go;
    }

    Step onVideoDescription(uint64_t t, uint64_t& next) {
        const auto stsd = atomAt(t + 4, moovEnd_, kMinFullAtom);
        if (!stsd) return Step::Go;
        uint8_t format[4] = {};
        if (stsd->size >= 24) f_.referencefilehandle.readAt(t + 24, format, sizeof format);
        const std::string text = f_.decideVideoCodec(format);
        f_.reporter.value("video", text, 1.0);
        if (isStopRequested()) return Step::Stopped;

        f_.stbl_stsdpresent = f_.forothercheck = true;
        videoTaken_ = true;
        f_.whloesizeofstsd = stsd->size + 4;
        f_.videoSampleDescriptionLength = stsd->size + 4;
        f_.videoSampleDescription = bytesAt(t, stsd->size + 4);
        const auto stbl = atomAt(t - 4, moovEnd_, kMinAtom);
        videoTableEnd_ = stbl ? stbl->end() : moovEnd_;
        next = stsd->end();
        return Step::Go;
    }

    Step onVideoTimes(uint64_t t, uint64_t& next) {
        const auto stts = atomAt(t - 4, videoTableEnd_, kMinFullAtom);
        if (!stts) return Step::Go;
        f_.firstVideoSampleDelta = field(*stts, 20);
        f_.dw_ReffrenceSamplecount = field(*stts, 16);
        f_.wholesizeofstts = stts->size;
        f_.stts_data = bytesAt(stts->start, stts->size);
        next = stts->end();
        return Step::Go;
    }

    void onVideoSampleSizes(uint64_t t) {
        if (const auto stsz = atomAt(t - 4, videoTableEnd_, kMinFullAtom + 4))
            f_.dw_ReffrenceSamplecount = field(*stsz, 16);
    }

    void onVideoChunkSamples(uint64_t t) {
        if (const auto stsc = atomAt(t - 4, videoTableEnd_, kMinFullAtom))
            f_.Numberofsample_inChunck = field(*stsc, 20);
    }

    // Entry `index` of a chunk table; entries are as wide as the table's own
    // type says. Zero for an entry the table does not hold.
    uint64_t chunkEntry(const Extent& table, bool wide, uint64_t index) const {
        const uint64_t width = wide ? 8 : 4;
        const uint64_t count = field(table, 12);
        const uint64_t at = 16 + index * width;
        if (index >= count || at + width > table.size) return 0;
        return wide ? u64At(table.start + at) : u32At(table.start + at);
    }

    Step onVideoChunkTable(uint64_t t, const ByteView& v, uint64_t& next) {
        const auto table = atomAt(t - 4, videoTableEnd_, kMinFullAtom);
        if (!table) return Step::Go;
        videoTableTaken_ = true;
        const bool wide = v.fourcc(0, "co64");
        // Only entries the table holds: a short table gives fewer than ten.
        const uint64_t held = std::min(field(*table, 12), (table->size - 16) / (wide ? 8 : 4));
        const uint64_t taken = std::min(kVideoOffsetsTaken, held);
        f_.videoOffsetCount = 0;
        for (uint64_t i = 0; i < taken; ++i) {
            const uint64_t offset = chunkEntry(*table, wide, i);
            f_.VideoOffsets[f_.videoOffsetCount++] = offset;
            f_.stco_Address_Video_first_chunk_sizetojump = offset;
        }
        if (f_.videoOffsetCount > 0) {
            f_.stco_Address_Video_second_chunk_sizetojump = f_.VideoOffsets[0];
            f_.classifyNalTags();
            f_.referencefilehandle.readAt(f_.stco_Address_Video_first_chunk_sizetojump,
                                          f_.buffer_for_Address_Video_first_chunk.data(),
                                          f_.buffer_for_Address_Video_first_chunk.size());
        }
        next = t + 2;
        return Step::Go;
    }

    // --- sound track ---------------------------------------------------------
    Step onSoundMedia(uint64_t t, uint64_t& next) {
        const uint64_t start = t - 4;
        f_.lMovetoMdhd = start;
        f_.TempBufferMdhd = bytesAt(start, kMediaPiecesRead);
        const ByteView pieces(f_.TempBufferMdhd.data(),
                              static_cast<size_t>(std::min(kMediaPiecesRead, moovEnd_ - std::min(moovEnd_, start))));
        const uint64_t k = takeMediaPieces(pieces, "smhd",
                                           {f_.bpMdhdAudioDataStore, f_.dSizeOfAudioMdhd, f_.bpHdlrAudioDataStore,
                                            f_.dSizeOfAudioMdiaHdlr, f_.bpAudioMingSmhdDataStore,
                                            f_.dSzieOfAudioMinfSmhd, f_.bpAudioMinfHdlrData, f_.dSizeOfAudioMinfHdlr,
                                            f_.bpAudioMinfDinfData, f_.dSizeOfAudioMinfDinf},
                                           f_.bMdiaHdlrPresent);
        f_.dSizeOfAtoms = k;
        if (k == 0) return Step::Go;
        next = start + k;

        // The handler piece starts 4 bytes before the hdlr atom; its subtype
        // follows the size, type, version and component type.
        const ByteView handler(f_.bpHdlrAudioDataStore.data(), f_.bpHdlrAudioDataStore.size());
        if (!handler.fourcc(20, "soun")) return Step::Go;  // keep looking for a sound track

        f_.bMdhdDataOfVideo = false;
        f_.stbl_stsdpresent = true;
        soundTrackSeen_ = true;
        if (pieces.byte(8) == 1) {
            f_.mdhdAudioTimeScale = pieces.u32be(28);
            f_.Audio_duratonFPS = static_cast<uint64_t>(pieces.s64be(32));
        } else {
            f_.mdhdAudioTimeScale = pieces.u32be(20);
            f_.Audio_duratonFPS = pieces.u32be(24);
        }
        return Step::Go;
    }

    Step onAudioDescription(uint64_t t, uint64_t& next) {
        const auto stsd = atomAt(t + 4, moovEnd_, kMinFullAtom);
        if (!stsd) return Step::Go;
        f_.forothercheck = false;
        audioTaken_ = true;
        f_.Audiosizeosstsd = f_.AudiostsdAtomdata = stsd->size + 4;
        uint8_t format[4] = {};
        if (stsd->size >= 24) f_.referencefilehandle.readAt(t + 24, format, sizeof format);
        const std::string text = f_.decideAudioCodec(format);
        f_.reporter.value("audio", text, 1.0);
        if (isStopRequested()) return Step::Stopped;

        f_.Audio_stsd_data = bytesAt(t, stsd->size + 4);
        f_.searchAudioDescription();
        const auto stbl = atomAt(t - 4, moovEnd_, kMinAtom);
        audioTableEnd_ = stbl ? stbl->end() : moovEnd_;
        if (const auto following = atomAt(stsd->end(), audioTableEnd_, kMinAtom))
            f_.dw_ReffrenceSamplecountAudio = field(*following, 16);
        next = stsd->end();
        return Step::Go;
    }

    void onAudioChunkSamples(uint64_t t) {
        if (const auto stsc = atomAt(t - 4, audioTableEnd_, kMinFullAtom)) f_.Size_ofAudiochunk = field(*stsc, 20);
    }

    void onAudioSampleSizes(uint64_t t) {
        const CameraFlags& c = f_.flags;
        const bool firstSampleSize = c.bCanon1DXMarkII || c.bGH5 || c.bCanon5DMarkIV;
        if (const auto stsz = atomAt(t - 4, audioTableEnd_, kMinFullAtom + 4))
            f_.dw_ReffrenceSamplecountAudio = field(*stsz, firstSampleSize ? 20 : 16);
    }

    Step onAudioChunkTable(uint64_t t, const ByteView& v) {
        const auto table = atomAt(t - 4, audioTableEnd_, kMinFullAtom);
        if (!table) return Step::Go;
        const bool wide = v.fourcc(0, "co64");
        // These cameras start their sound with a chunk that is not typical.
        const CameraFlags& c = f_.flags;
        const uint64_t first = (c.bSonyA6500 || c.bCanon1DXMarkII || c.bGH5 || c.bCanon5DMarkIV) ? 1 : 0;
        f_.stco_Address_Audio_sizetojump = chunkEntry(*table, wide, first);
        f_.stco_Address_Audio_second_sizetojump = chunkEntry(*table, wide, first + 1);

        f_.classifyAudioSignatures();
        f_.stbl_stsdpresent = false;
        estimateAudioChunkLength();
        return f_.classifyProbedChunkHeader() ? Step::Finished : Step::Go;
    }

    // The bytes from an audio chunk to the next video chunk.
    void estimateAudioChunkLength() {
        const uint64_t a1 = f_.stco_Address_Audio_sizetojump;
        const uint64_t a2 = f_.stco_Address_Audio_second_sizetojump;
        for (uint32_t i = 0; i < f_.videoOffsetCount && i < kVideoOffsetsTaken; ++i) {
            const uint64_t v = f_.VideoOffsets[i];
            if (v <= a1) continue;
            // Unsigned differences: a second chunk past v gives a huge one, and the first wins.
            f_.sizeAudio = std::min(v - a1, v - a2);
            return;
        }
    }

    RepairFile& f_;
    uint64_t fileSize_;
    ReferenceWindow window_;
    uint64_t moovEnd_ = 0;
    uint64_t videoTableEnd_ = 0;
    uint64_t audioTableEnd_ = 0;
    bool videoTaken_ = false;        // a third track never replaces the video templates
    bool videoTableTaken_ = false;
    bool soundTrackSeen_ = false;
    bool audioTaken_ = false;
};

}  // namespace

bool RepairFile::takeReferenceTemplates() { return TemplateWalk(*this).run(); }

}  // namespace arbel

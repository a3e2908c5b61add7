// The header atoms of the reference that the repaired file reuses.
#include "reference_templates.h"

#include "engine/byte_order.h"
#include "reference_analysis.h"
#include "reference_window.h"

#include <algorithm>
#include <optional>

namespace arbel {

namespace {

constexpr uint64_t kMediaPiecesRead = 500;  // bytes from an mdhd that hold the media pieces
constexpr uint64_t kMvhdSearch = 2500;      // how far after a user-data atom mvhd is looked for
constexpr uint64_t kMoovSlack = 2000;       // the child scan runs this far past the movie atom
constexpr uint64_t kVideoOffsetsTaken = ReferenceTemplates::kVideoOffsetsTaken;

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
    std::vector<uint8_t>& hdlr;
    std::vector<uint8_t>& mediaHeader;  // "minf" + vmhd or smhd
    std::vector<uint8_t>& dataHandler;
    std::vector<uint8_t>& dinf;
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

    if (!b.fourcc(4, "mdhd")) return 0;
    const auto m = atomSizeIn(b, 0, b.byte(8) == 1 ? kMinMdhdVersion1 : kMinMdhd);
    if (!m) return 0;
    s.mdhd = copyOf(b, 0, *m - 8);
    uint64_t k = *m;

    if (b.fourcc(k + 4, "hdlr")) {
        if (const auto h = atomSizeIn(b, k, kMinHdlr)) {
            mediaHandlerTaken = true;
            s.hdlr = copyOf(b, k - 4, k + *h);
            k += *h;
        }
    }
    if (b.fourcc(k + 12, mediaHeaderType)) {
        if (const auto v = atomSizeIn(b, k + 8, kMinAtom)) {
            s.mediaHeader = copyOf(b, k + 4, k + 8 + *v);
            k += 8 + *v;
        }
    }
    if (mediaHandlerTaken && b.fourcc(k + 4, "hdlr")) {
        if (const auto h = atomSizeIn(b, k, kMinHdlr)) {
            mediaHandlerTaken = false;
            s.dataHandler = copyOf(b, k, k + *h);
            k += *h;
        }
    }
    if (b.fourcc(k + 4, "dinf")) {
        if (const auto d = atomSizeIn(b, k, kMinAtom)) {
            mediaHandlerTaken = false;
            s.dinf = copyOf(b, k, k + *d);
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
    TemplateWalk(StageContext& ctx, ReferenceAnalysis& analysis, ReferenceTemplates& templates)
        : ctx_(ctx), a_(analysis), t_(templates), fileSize_(ctx.referenceSize),
          window_(ctx.reference, fileSize_, ctx.control) {}

    // False when the user stopped the repair.
    bool run() {
        uint64_t pos = 0;
        while (pos < fileSize_) {
            if (!window_.cover(pos)) return false;
            const ByteView v = window_.from(pos);
            const uint32_t code = static_cast<uint32_t>(v.u32be(0));
            uint64_t next = pos + 1;
            Step step = Step::Go;
            if (code == fourCode("ftyp") && pos >= 4) {
                step = onFtyp(pos, next);
            } else if (!t_.Movfileisvalid && isMdatAt(v, pos)) {
                step = onMdat(pos, next);
            } else if (code == fourCode("moov") && pos >= 4) {
                step = onMoov(pos, next);
            }
            if (step == Step::Stopped) return false;
            if (step == Step::Finished) break;
            // Always forward: a movie atom whose walk ends before its own type
            // code would otherwise be met again, and again.
            pos = std::max(next, pos + 1);
        }
        return !ctx_.stopRequested();
    }

private:
    enum class Step { Go, EndMoovWalk, Finished, Stopped };

    // --- reading -----------------------------------------------------------
    uint64_t u32At(uint64_t pos) const {
        uint8_t b[4];
        ctx_.reference.readAt(pos, b, sizeof b);
        return readU32BE(b);
    }
    uint64_t u64At(uint64_t pos) const {
        uint8_t b[8];
        ctx_.reference.readAt(pos, b, sizeof b);
        return static_cast<uint64_t>(readS64BESaturating(b));
    }
    // A 4-byte field at `offset` of an atom; zero when the atom is too short to hold it.
    uint64_t field(const Extent& atom, uint64_t offset) const {
        return offset + 4 <= atom.size ? u32At(atom.start + offset) : 0;
    }
    std::vector<uint8_t> bytesAt(uint64_t pos, uint64_t length) const {
        return ctx_.reference.readAt(pos, static_cast<size_t>(length));
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
            if (!window_.cover(pos)) return std::nullopt;
            if (window_.from(pos).u32be(0) == code) return pos;
        }
        return std::nullopt;
    }

    bool isMdatAt(const ByteView& v, uint64_t pos) const {
        // One camera writes its media-data header four bytes later than the
        // byte-wise search expects.
        if (a_.flags.bFC63) return v.fourcc(4, "mdat");
        return pos >= 4 && v.fourcc(0, "mdat");
    }

    bool report(double progress) {
        ctx_.reporter.status(kAnalyzingText, progress, 1.5);
        return !ctx_.stopRequested();
    }

    // --- top level ---------------------------------------------------------
    Step onFtyp(uint64_t t, uint64_t& next) {
        if (!report(3.0)) return Step::Stopped;
        const auto atom = atomAt(t - 4, fileSize_, kMinFtyp);
        uint8_t brand[4] = {};
        const bool hasBrand = atom && atom->size >= 20;
        if (hasBrand) ctx_.reference.readAt(t + 12, brand, sizeof brand);
        a_.decideFtypCodec(hasBrand ? brand : nullptr);
        // Straight to the type code of the next atom.
        next = atom ? t + atom->size : t + 1;
        return Step::Go;
    }

    Step onMdat(uint64_t pos, uint64_t& next) {
        if (!a_.flags.bFC63 && !report(5.0)) return Step::Stopped;
        const uint64_t t = a_.flags.bFC63 ? pos + 4 : pos;
        const uint64_t start = t - 4;
        uint64_t size = u32At(start);
        uint64_t header = 8;
        if (size == 1) {
            t_.its_A_morethen_4GB_FILE = 1;
            size = u64At(t + 4);
            header = 16;
        }
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
        moovSize_ = size;
        t_.Movfileisvalid = 1;
        return moovWalk(start, next);
    }

    // --- movie atom ----------------------------------------------------------
    Step moovWalk(uint64_t start, uint64_t& next) {
        moovEnd_ = std::min(fileSize_, saturatingAdd(start, moovSize_));
        const uint64_t regionEnd = std::min(fileSize_, saturatingAdd(moovEnd_, kMoovSlack));
        if (!takeMovieTimes(start)) return Step::Stopped;

        uint64_t pos = start;
        while (pos < regionEnd) {
            if (!window_.cover(pos)) return Step::Stopped;
            uint64_t after = pos + 1;
            const Step step = child(pos, after);
            if (step == Step::Stopped || step == Step::Finished) return step;
            if (step == Step::EndMoovWalk) break;
            pos = std::max(after, pos + 1);
        }
        next = pos + 1;
        return Step::Go;
    }

    // The movie time scale and duration.
    bool takeMovieTimes(uint64_t moovStart) {
        const uint64_t firstChild = moovStart + (u32At(moovStart) == 1 ? 16 : 8);
        const auto firstType = static_cast<uint32_t>(u32At(firstChild + 4));
        const CameraFlags& c = a_.flags;
        std::optional<uint64_t> mvhdType;

        const auto afterUserData = [&](uint64_t udtaStart) -> std::optional<uint64_t> {
            const auto udta = atomAt(udtaStart, moovEnd_, kMinAtom);
            if (!udta) return std::nullopt;
            return search(fourCode("mvhd"), udta->end(), kMvhdSearch);
        };

        if (firstType == fourCode("udta")) {
            mvhdType = afterUserData(firstChild);
        } else if ((c.bCanonG7XMarkII || c.bCanonG9XMarkII || c.bVixia || c.bCanonRebelT6i) &&
                   t_.mvhd_timescale == 0) {
            const auto udtaType = search(fourCode("udta"), firstChild + 4, moovEnd_ - std::min(moovEnd_, firstChild));
            if (udtaType) mvhdType = afterUserData(*udtaType - 4);
        } else if (firstType == fourCode("mvhd")) {
            mvhdType = firstChild + 4;
        } else {
            mvhdType = search(fourCode("mvhd"), firstChild, kMvhdSearch);
        }
        if (ctx_.stopRequested()) return false;
        if (!mvhdType) return true;

        const auto mvhd = atomAt(*mvhdType - 4, moovEnd_, kMinAtom);
        if (!mvhd) return true;
        if (u32At(mvhd->start + 8) >> 24 == 1) {
            t_.mvhd_timescale = field(*mvhd, 28);
            t_.duratonFPS = mvhd->size >= 40 ? u64At(mvhd->start + 32) : 0;
        } else {
            t_.mvhd_timescale = field(*mvhd, 20);
            t_.duratonFPS = field(*mvhd, 24);
        }
        return true;
    }

    Step child(uint64_t t, uint64_t& next) {
        const ByteView v = window_.from(t);
        const bool videoOpen = !stbl_stsdpresent && !videoTaken_;
        switch (static_cast<uint32_t>(v.u32be(0))) {
        case fourCode("tkhd"):
            if (videoOpen && t >= 4) return onTkhd(t, next);
            break;
        case fourCode("mdia"):
            if (videoOpen) return onVideoMedia(t, next);
            break;
        case fourCode("mdhd"):
            if (bMdhdDataOfVideo && t >= 4) return onSoundMedia(t, next);
            break;
        case fourCode("stbl"):
            if (!v.fourcc(8, "stsd")) break;
            if (videoOpen) return onVideoDescription(t, next);
            if (stbl_stsdpresent && soundTrackSeen_ && !audioTaken_) return onAudioDescription(t, next);
            break;
        case fourCode("stts"):
            if (inVideoTable(t)) return onVideoTimes(t, next);
            break;
        case fourCode("stsz"):
            if (inVideoTable(t)) onVideoSampleSizes(t);
            else if (inAudioTable(t)) onAudioSampleSizes(t);
            break;
        case fourCode("stsc"):
            // The video track's samples per chunk are not needed: every frame is its own chunk.
            if (!inVideoTable(t) && inAudioTable(t)) onAudioChunkSamples(t);
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

    bool inVideoTable(uint64_t t) const { return forothercheck && t < videoTableEnd_ && t >= 4; }
    bool inAudioTable(uint64_t t) const {
        return stbl_stsdpresent && !forothercheck && audioTaken_ && t < audioTableEnd_ && t >= 4;
    }

    // --- video track -------------------------------------------------------
    Step onTkhd(uint64_t t, uint64_t& next) {
        if (u32At(t - 4) > ReferenceWindow::kStep) return Step::EndMoovWalk;
        const uint64_t minimum = (u32At(t + 4) >> 24) == 1 ? kMinTkhdVersion1 : kMinTkhd;
        const auto atom = atomAt(t - 4, moovEnd_, minimum);
        if (!atom) return Step::Go;
        t_.trak_data = bytesAt(atom->start, atom->size);
        next = t + atom->size;  // the type code of the atom after the track header
        return Step::Go;
    }

    Step onVideoMedia(uint64_t t, uint64_t& next) {
        bMdhdDataOfVideo = true;
        const uint64_t start = t + 4;
        const auto mdia = atomAt(t - 4, moovEnd_, kMinAtom);
        const uint64_t limit = mdia ? mdia->end() : moovEnd_;
        TempBufferMdhd = bytesAt(start, kMediaPiecesRead);
        const ByteView pieces(TempBufferMdhd.data(),
                              static_cast<size_t>(std::min(kMediaPiecesRead, limit - std::min(limit, start))));
        const uint64_t k = takeMediaPieces(pieces, "vmhd",
                                           {t_.bpMdhdDataStore, t_.bpHdlrDataStore, t_.bpMingVmhdDataStore,
                                            t_.bpMinfHdlrData, t_.bpMinfDinfData},
                                           bMdiaHdlrPresent);
        if (k != 0) next = start + k;
        return Step::Go;
    }

    Step onVideoDescription(uint64_t t, uint64_t& next) {
        const auto stsd = atomAt(t + 4, moovEnd_, kMinFullAtom);
        if (!stsd) return Step::Go;
        uint8_t format[4] = {};
        if (stsd->size >= 24) ctx_.reference.readAt(t + 24, format, sizeof format);
        const std::string text = a_.decideVideoCodec(format);
        ctx_.reporter.value("video", text, 1.0);
        if (ctx_.stopRequested()) return Step::Stopped;

        stbl_stsdpresent = forothercheck = true;
        videoTaken_ = true;
        t_.videoSampleDescription = bytesAt(t, stsd->size + 4);
        const auto stbl = atomAt(t - 4, moovEnd_, kMinAtom);
        videoTableEnd_ = stbl ? stbl->end() : moovEnd_;
        next = stsd->end();
        return Step::Go;
    }

    Step onVideoTimes(uint64_t t, uint64_t& next) {
        const auto stts = atomAt(t - 4, videoTableEnd_, kMinFullAtom);
        if (!stts) return Step::Go;
        t_.firstVideoSampleDelta = field(*stts, 20);
        t_.dw_ReffrenceSamplecount = field(*stts, 16);
        t_.stts_data = bytesAt(stts->start, stts->size);
        next = stts->end();
        return Step::Go;
    }

    void onVideoSampleSizes(uint64_t t) {
        if (const auto stsz = atomAt(t - 4, videoTableEnd_, kMinFullAtom + 4))
            t_.dw_ReffrenceSamplecount = field(*stsz, 16);
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
        t_.videoOffsetCount = 0;
        for (uint64_t i = 0; i < taken; ++i) {
            const uint64_t offset = chunkEntry(*table, wide, i);
            t_.VideoOffsets[t_.videoOffsetCount++] = offset;
            t_.stco_Address_Video_first_chunk_sizetojump = offset;
        }
        if (t_.videoOffsetCount > 0) {
            classifyNalTags(ctx_.reference, t_, a_);
            ctx_.reference.readAt(t_.stco_Address_Video_first_chunk_sizetojump,
                                          a_.buffer_for_Address_Video_first_chunk.data(),
                                          a_.buffer_for_Address_Video_first_chunk.size());
        }
        next = t + 2;
        return Step::Go;
    }

    // --- sound track ---------------------------------------------------------
    Step onSoundMedia(uint64_t t, uint64_t& next) {
        const uint64_t start = t - 4;
        TempBufferMdhd = bytesAt(start, kMediaPiecesRead);
        const ByteView pieces(TempBufferMdhd.data(),
                              static_cast<size_t>(std::min(kMediaPiecesRead, moovEnd_ - std::min(moovEnd_, start))));
        const uint64_t k = takeMediaPieces(pieces, "smhd",
                                           {t_.bpMdhdAudioDataStore, t_.bpHdlrAudioDataStore,
                                            t_.bpAudioMingSmhdDataStore, t_.bpAudioMinfHdlrData,
                                            t_.bpAudioMinfDinfData},
                                           bMdiaHdlrPresent);
        if (k == 0) return Step::Go;
        next = start + k;

        // The handler piece starts 4 bytes before the hdlr atom; its subtype
        // follows the size, type, version and component type.
        const ByteView handler(t_.bpHdlrAudioDataStore.data(), t_.bpHdlrAudioDataStore.size());
        if (!handler.fourcc(20, "soun")) return Step::Go;  // keep looking for a sound track

        bMdhdDataOfVideo = false;
        stbl_stsdpresent = true;
        soundTrackSeen_ = true;
        if (pieces.byte(8) == 1) {
            t_.mdhdAudioTimeScale = pieces.u32be(28);
            t_.Audio_duratonFPS = static_cast<uint64_t>(pieces.s64be(32));
        } else {
            t_.mdhdAudioTimeScale = pieces.u32be(20);
            t_.Audio_duratonFPS = pieces.u32be(24);
        }
        return Step::Go;
    }

    Step onAudioDescription(uint64_t t, uint64_t& next) {
        const auto stsd = atomAt(t + 4, moovEnd_, kMinFullAtom);
        if (!stsd) return Step::Go;
        forothercheck = false;
        audioTaken_ = true;
        uint8_t format[4] = {};
        if (stsd->size >= 24) ctx_.reference.readAt(t + 24, format, sizeof format);
        const std::string text = a_.decideAudioCodec(format);
        ctx_.reporter.value("audio", text, 1.0);
        if (ctx_.stopRequested()) return Step::Stopped;

        t_.Audio_stsd_data = bytesAt(t, stsd->size + 4);
        a_.searchAudioDescription(t_.Audio_stsd_data);
        const auto stbl = atomAt(t - 4, moovEnd_, kMinAtom);
        audioTableEnd_ = stbl ? stbl->end() : moovEnd_;
        if (const auto following = atomAt(stsd->end(), audioTableEnd_, kMinAtom))
            t_.dw_ReffrenceSamplecountAudio = field(*following, 16);
        next = stsd->end();
        return Step::Go;
    }

    void onAudioChunkSamples(uint64_t t) {
        audioStsc_ = atomAt(t - 4, audioTableEnd_, kMinFullAtom);
        if (audioStsc_) t_.Size_ofAudiochunk = field(*audioStsc_, 20);
    }

    void onAudioSampleSizes(uint64_t t) {
        const CameraFlags& c = a_.flags;
        const bool firstSampleSize = c.bCanon1DXMarkII || c.bGH5 || c.bCanon5DMarkIV;
        audioStsz_ = atomAt(t - 4, audioTableEnd_, kMinFullAtom + 4);
        if (audioStsz_) t_.dw_ReffrenceSamplecountAudio = field(*audioStsz_, firstSampleSize ? 20 : 16);
    }

    Step onAudioChunkTable(uint64_t t, const ByteView& v) {
        const auto table = atomAt(t - 4, audioTableEnd_, kMinFullAtom);
        if (!table) return Step::Go;
        const bool wide = v.fourcc(0, "co64");
        // These cameras start their sound with a chunk that is not typical.
        const CameraFlags& c = a_.flags;
        const uint64_t first = (c.bSonyA6500 || c.bCanon1DXMarkII || c.bGH5 || c.bCanon5DMarkIV) ? 1 : 0;
        t_.stco_Address_Audio_sizetojump = chunkEntry(*table, wide, first);
        t_.stco_Address_Audio_second_sizetojump = chunkEntry(*table, wide, first + 1);

        classifyAudioSignatures(ctx_.reference, ctx_.damaged, t_, a_);
        if (a_.mp4aPresent) learnAacFrames(*table, wide);
        stbl_stsdpresent = false;
        estimateAudioChunkLength();
        return a_.classifyProbedChunkHeader() ? Step::Finished : Step::Go;
    }

    // Where the reference's first AAC frames lie, through its sample sizes,
    // samples per chunk and chunk offsets; how they begin and how long they are.
    void learnAacFrames(const Extent& chunkTable, bool wide) {
        if (!audioStsz_ || !audioStsc_) return;
        ReferenceTemplates::AacFrames& f = t_.aacFrames;
        const uint64_t fixedSize = field(*audioStsz_, 12);
        const uint64_t samples = field(*audioStsz_, 16);
        // Counts as the tables hold them, whatever their headers say.
        const uint64_t chunks = std::min<uint64_t>(field(chunkTable, 12), ReferenceTemplates::AacFrames::kFramesRead);
        const uint64_t runs = std::min(field(*audioStsc_, 12), audioStsc_->size / 12);
        uint64_t sample = 0;
        for (uint64_t chunk = 0, run = 0; chunk < chunks && sample < samples; ++chunk) {
            // The stsc run that holds this chunk (chunks count from 1 there).
            while (run + 1 < runs && field(*audioStsc_, 16 + (run + 1) * 12) <= chunk + 1) ++run;
            const uint64_t perChunk = field(*audioStsc_, 20 + run * 12);
            uint64_t pos = chunkEntry(chunkTable, wide, chunk);
            for (uint64_t k = 0; k < perChunk && sample < samples; ++k, ++sample) {
                if (sample >= ReferenceTemplates::AacFrames::kFramesRead) return;
                const uint64_t size = fixedSize ? fixedSize : field(*audioStsz_, 20 + sample * 4);
                if (size < 3 || pos >= fileSize_) return;
                uint8_t b[AacElementStart::kBytes] = {};
                ctx_.reference.readAt(pos, b, static_cast<size_t>(std::min<uint64_t>(size, sizeof b)));
                f.starts.learn(b);
                f.shortest = f.shortest ? std::min(f.shortest, size) : size;
                f.longest = std::max(f.longest, size);
                pos += size;
            }
        }
    }

    // The bytes from an audio chunk to the next video chunk.
    void estimateAudioChunkLength() {
        const uint64_t a1 = t_.stco_Address_Audio_sizetojump;
        const uint64_t a2 = t_.stco_Address_Audio_second_sizetojump;
        for (uint32_t i = 0; i < t_.videoOffsetCount && i < kVideoOffsetsTaken; ++i) {
            const uint64_t v = t_.VideoOffsets[i];
            if (v <= a1) continue;
            // Unsigned differences: a second chunk past v gives a huge one, and the first wins.
            t_.sizeAudio = std::min(v - a1, v - a2);
            return;
        }
    }

    StageContext& ctx_;
    ReferenceAnalysis& a_;
    ReferenceTemplates& t_;
    uint64_t fileSize_;
    ReferenceWindow window_;
    uint64_t moovSize_ = 0;
    uint64_t moovEnd_ = 0;
    uint64_t videoTableEnd_ = 0;
    uint64_t audioTableEnd_ = 0;
    bool videoTaken_ = false;        // a third track never replaces the video templates
    bool videoTableTaken_ = false;
    bool soundTrackSeen_ = false;
    bool audioTaken_ = false;
    std::optional<Extent> audioStsc_;
    std::optional<Extent> audioStsz_;

    // What the walk has met so far gives each type code its meaning.
    bool stbl_stsdpresent = false;   // the video sample description was taken; then the sound track's
    bool forothercheck = false;      // inside the video sample table
    bool bMdhdDataOfVideo = false;   // the video media was taken: the next mdhd may be the sound track's
    bool bMdiaHdlrPresent = false;   // a media handler was taken, its data handler may follow
    std::vector<uint8_t> TempBufferMdhd;  // the bytes read from the start of a media header
};

}  // namespace

bool takeReferenceTemplates(StageContext& ctx, ReferenceAnalysis& analysis, ReferenceTemplates& templates) {
    return TemplateWalk(ctx, analysis, templates).run();
}

bool ReferenceTemplates::holdsVideoHeader() const {
    // Each is taken only when the atom is whole and large enough for what is read of it.
    return !trak_data.empty() && !stts_data.empty() && !videoSampleDescription.empty();
}

}  // namespace arbel

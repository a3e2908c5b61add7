// The codec-aware scan: video units walked by their codec, the bytes between
// them explained by the other tracks, every unit taken only when confirmed.
#include "codec_scan.h"

#include "engine/codec/aac_frames.h"
#include "engine/codec/access_unit.h"
#include "engine/codec/jpeg_frame.h"
#include "platform/system_log.h"
#include "reference_window.h"
#include "scan_skeleton.h"
#include "scanner_bytes.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>

namespace arbel {

namespace {

constexpr uint64_t kNone = UINT64_MAX;
// A run of zero bytes this long inside would-be PCM is damage, not sound.
constexpr size_t kZeroRunOfDamage = 64;

constexpr uint32_t k(const char (&code)[5]) { return fourCode(code); }

struct Piece {
    uint64_t start = 0;
    uint64_t length = 0;
    bool data = false;   // a data-track sample: recognised, skipped
    uint64_t end() const { return start + length; }
};

// How the bytes between two video units are explained.
struct Explanation {
    std::vector<Piece> pieces;
    bool certainStart = false;   // the pieces begin where the bytes begin, each confirmed
    bool covers(uint64_t a, uint64_t b) const {
        uint64_t at = a;
        for (const Piece& p : pieces) {
            if (p.start != at) return false;
            at = p.end();
        }
        return at == b;
    }
};

struct VideoUnit {
    uint64_t start = 0;
    uint64_t end = 0;
    bool confirmedByNext = false;   // the next video unit opens right behind it, or the media end
    bool key = false;
    codec::AccessUnit unit;         // H.264 / HEVC
};

bool hasZeroRun(const uint8_t* p, size_t n) {
    size_t run = 0;
    for (size_t i = 0; i < n; ++i) {
        run = p[i] == 0 ? run + 1 : 0;
        if (run >= kZeroRunOfDamage) return true;
    }
    return false;
}

// Sound changes little from one frame to the next: the same byte of
// consecutive frames differs by far less than in compressed data, where it
// differs by a quarter of the byte's range on average.
bool looksLikeSound(const uint8_t* p, size_t n, uint64_t frameBytes) {
    if (frameBytes == 0 || n <= frameBytes) return false;
    uint64_t sum = 0;
    for (size_t i = frameBytes; i < n; ++i) sum += static_cast<uint64_t>(std::abs(static_cast<int8_t>(p[i] - p[i - frameBytes])));
    const uint64_t count = n - frameBytes;
    return sum < count * 48;
}

// The longest stretch of other tracks' chunks between two video chunks of the reference.
uint64_t longestNonVideoRun(const ReferenceModel& m) {
    std::vector<size_t> nextChunk(m.tracks.size(), 0);
    uint64_t run = 0, longest = 0;
    for (uint32_t track : m.interleave) {
        const TrackModel& t = m.tracks[track];
        const size_t c = nextChunk[track]++;
        if (static_cast<int>(track) == m.video) {
            run = 0;
            continue;
        }
        if (c < t.chunkBytes.size()) run += t.chunkBytes[c];
        longest = std::max(longest, run);
    }
    return longest;
}

class CodecAwareWalk final : public ScanVariant {
public:
    CodecAwareWalk(const ReferenceModel& model, const MediaRange& range, const MediaScanner& scanner,
                   CodecTables& tables)
        : video_(*model.videoTrack()), audio_(model.audioTrack()), range_(range),
          bytes_(scanner), tables_(tables) {
        lastEnd_ = range.start;
        const uint64_t largest = std::max<uint64_t>(video_.largestSample, 1);
        if (video_.stream) {
            stream_ = *video_.stream;
            stream_.maxNalBytes = std::max<uint64_t>(4u << 20, 4 * largest);
            stream_.maxUnitBytes = std::max<uint64_t>(8u << 20, 8 * largest);
            order_ = std::make_unique<codec::PictureOrder>(stream_);
            markNalCandidates();
        } else {
            markAt(0, uint8_t{0xFF});
            jpegMost_ = std::max<uint64_t>(8u << 20, 4 * largest);
        }
        longestRun_ = longestNonVideoRun(model);
        maxGap_ = std::clamp<uint64_t>(2 * longestRun_ + 4096, 64u << 10, 16u << 20);
        if (audio_ && audio_->codec == MediaCodec::Aac) {
            aac_ = codec::AacFrames::open(audio_->audioSpecificConfig, audio_->channels);
            resyncSpan_ = std::max<uint64_t>(4 * audio_->largestChunk, 16u << 10);
        }
        for (const TrackModel& t : model.tracks)
            if (t.kind == TrackKind::Data && !t.distinctSizes.empty()) data_.push_back(&t);
    }

    bool leadingAudioApplies(const MediaScanner&) const override { return false; }

    bool examine(MediaScanner&, uint64_t p, const uint8_t* at, ScanStep& step) override {
        if (p < lastEnd_ || p >= range_.end || !gateOpen(at)) return false;
        VideoUnit v;
        if (videoAt(p, v) != Found::Unit) return false;
        uint64_t next = v.end;
        Explanation after;
        if (!v.confirmedByNext) {
            if (!explainBehind(v, next, after) && v.end != range_.end) return false;
        }
        if (p > lastEnd_) takePieces(explain(lastEnd_, p, lastEnd_ == range_.start && range_.headerFound, true), step);
        step.take(UnitKind::Video, v.start, v.end - v.start);
        pending_.push_back(v);
        takePieces(after, step);
        step.next = next;
        lastEnd_ = next;
        return true;
    }

    void record(MediaScanner&, const TakenUnit& unit, uint64_t resultOffset) override {
        if (unit.kind != UnitKind::Video) {
            addSample(tables_.audio, resultOffset, unit.length);
            tables_.audio.opensChunk.push_back(unit.startsChunk ? 1 : 0);
            return;
        }
        while (!pending_.empty() && pending_.front().start < unit.position) pending_.pop_front();
        if (pending_.empty()) return;
        const VideoUnit v = pending_.front();
        pending_.pop_front();
        addSample(tables_.video, resultOffset, unit.length);
        tables_.video.opensChunk.push_back(0);
        tables_.video.key.push_back(v.key ? 1 : 0);
        if (order_) tables_.video.order.push_back(order_->next(v.unit));
    }

    // The bytes behind the last unit, up to the end of the media.
    void finish(MediaScanner& s) {
        if (lastEnd_ >= range_.end) return;
        ScanStep step;
        takePieces(explain(lastEnd_, range_.end, lastEnd_ == range_.start && range_.headerFound, false), step);
        for (const TakenUnit& u : step.units)
            if (!s.takeUnit(*this, u)) return;
    }

private:
    // --- video -------------------------------------------------------------------

    void markNalCandidates() {
        for (int b = 0; b < 256; ++b) {
            const uint8_t pair[2] = {static_cast<uint8_t>(b), 0x01};
            if (codec::parseNalHeader(stream_.codec, pair, 2)) nalHeaderByte_[static_cast<size_t>(b)] = true;
        }
        if (stream_.nalLengthSize == 4) {
            markWhere(4, [this](uint8_t b) { return nalHeaderByte_[b]; });
            firstLengthByteMost_ = static_cast<uint8_t>(std::min<uint64_t>(stream_.maxNalBytes >> 24, 255));
        } else {
            markWhere(0, [](uint8_t) { return true; });
        }
    }

    bool gateOpen(const uint8_t* at) const {
        if (!video_.stream) return at[0] == 0xFF && at[1] == 0xD8;
        if (stream_.nalLengthSize != 4) return true;
        return at[0] <= firstLengthByteMost_ && nalHeaderByte_[at[4]];
    }

    enum class Found { Unit, Cut, Nothing };

    // The video unit at p; Cut when one starts there but the data end inside it.
    Found videoAt(uint64_t p, VideoUnit& v) {
        v.start = p;
        if (video_.stream) {
            const codec::AccessUnitResult r = codec::walkAccessUnit(bytes_, p, range_.end, stream_);
            if (r.fault == codec::UnitFault::Cut) return Found::Cut;
            if (!r.ok()) return Found::Nothing;
            v.end = r.unit.end;
            v.key = r.unit.key;
            v.unit = r.unit;
            v.confirmedByNext = r.unit.ending != codec::UnitEnding::Unrecognised;
            return Found::Unit;
        }
        const codec::JpegFrame f = codec::walkJpegFrame(bytes_, p, range_.end, jpegMost_);
        if (f.fault == codec::JpegFault::Cut) return Found::Cut;
        if (!f.ok()) return Found::Nothing;
        v.end = f.end;
        v.key = true;
        v.confirmedByNext = f.end == range_.end || codec::opensJpegFrame(bytes_, f.end, range_.end);
        return Found::Unit;
    }

    // What stands behind a unit that no next unit follows at once: the next
    // video unit and, between the two, the other tracks' samples. Where the
    // reference's chunk sizes say the next unit stands is tried first, then
    // each opening in turn, until the bytes between are explained whole.
    // False when nothing behind the unit is recognised.
    bool explainBehind(const VideoUnit& v, uint64_t& next, Explanation& after) {
        constexpr int kOpeningsTried = 8;
        const uint64_t bound = std::min(range_.end, v.end + maxGap_);
        if (audio_ && audio_->codec == MediaCodec::Pcm) {
            for (uint64_t size : audio_->usualChunkBytes) {
                const uint64_t q = v.end + size;
                VideoUnit w;
                if (q >= bound || videoAt(q, w) == Found::Nothing) continue;
                Explanation e = explain(v.end, q, true, true);
                if (!e.covers(v.end, q)) continue;
                next = q;
                after = std::move(e);
                return true;
            }
        }
        uint64_t q = nextOpening(v.end, bound);
        Explanation first;
        const uint64_t firstQ = q;
        for (int tried = 0; q != kNone && tried < kOpeningsTried; ++tried) {
            Explanation e = explain(v.end, q, true, true);
            if (e.covers(v.end, q)) {
                next = q;
                after = std::move(e);
                return true;
            }
            if (tried == 0) first = std::move(e);
            q = nextOpening(q + 1, bound);
        }
        if (bound == range_.end) {
            // The data end behind it: the other tracks' samples up to there,
            // or, too soon for more than those, whatever they were when cut.
            Explanation toEnd = explain(v.end, bound, true, false);
            if (toEnd.certainStart || range_.end - v.end <= longestRun_) {
                next = bound;
                after = std::move(toEnd);
                return true;
            }
        }
        if (firstQ == kNone) return false;
        next = firstQ;
        after = std::move(first);
        return after.certainStart;
    }

    // The first position in [from, to) where a whole video unit stands (or a
    // JPEG image cut by the end of the data: its opening is proof enough).
    uint64_t nextOpening(uint64_t from, uint64_t to) {
        if (from >= to) return kNone;
        const size_t n = static_cast<size_t>(to - from);
        buffer_.resize(n + 8);
        const size_t got = bytes_.read(from, buffer_.data(), n + 8);
        std::fill(buffer_.begin() + static_cast<std::ptrdiff_t>(got), buffer_.end(), uint8_t{0});
        VideoUnit v;
        for (size_t i = 0; i < n; ++i) {
            const uint8_t* at = buffer_.data() + i;
            if (video_.stream) {
                if (stream_.nalLengthSize == 4 && !(at[0] <= firstLengthByteMost_ && nalHeaderByte_[at[4]])) continue;
            } else {
                const void* ff = std::memchr(at, 0xFF, n - i);
                if (!ff) break;
                i = static_cast<size_t>(static_cast<const uint8_t*>(ff) - buffer_.data());
                if (buffer_[i + 1] != 0xD8) continue;
            }
            const Found found = videoAt(from + i, v);
            if (found == Found::Unit || (found == Found::Cut && !video_.stream)) return from + i;
        }
        return kNone;
    }

    // --- the bytes between video units --------------------------------------------

    // Each run of samples the reference would chunk together (AAC frames laid
    // end to end, a stretch of PCM) becomes a chunk of its own.
    void takePieces(const Explanation& e, ScanStep& step) const {
        uint64_t runEnd = kNone;
        for (const Piece& p : e.pieces) {
            if (p.data) continue;
            const bool opens = audio_->codec == MediaCodec::Pcm || p.start != runEnd;
            step.take(UnitKind::Audio, p.start, p.length, opens);
            runEnd = p.end();
        }
    }

    // [a, b): afterUnit when a is where a unit of ours ended (what follows is
    // the next unit), beforeUnit when a confirmed video unit opens at b.
    Explanation explain(uint64_t a, uint64_t b, bool afterUnit, bool beforeUnit) {
        Explanation e;
        if (a >= b) {
            e.certainStart = true;
            return e;
        }
        const uint64_t g = b - a;
        for (const TrackModel* d : data_) {
            const bool alsoAudio = audio_ && std::find(audio_->usualChunkBytes.begin(), audio_->usualChunkBytes.end(),
                                                       g) != audio_->usualChunkBytes.end();
            if (!alsoAudio && isDataSample(*d, a, g)) {
                e.pieces.push_back({a, g, true});
                e.certainStart = true;
                return e;
            }
        }
        e = explainAudio(a, b, afterUnit, beforeUnit);
        if (e.covers(a, b)) return e;
        // A data sample at either end, and sound in the rest.
        for (const TrackModel* d : data_)
            for (uint32_t size : d->distinctSizes) {
                if (size == 0 || size >= g) continue;
                if (isDataSample(*d, a, size)) {
                    Explanation rest = explainAudio(a + size, b, true, beforeUnit);
                    if (rest.covers(a + size, b)) {
                        rest.pieces.insert(rest.pieces.begin(), Piece{a, size, true});
                        rest.certainStart = true;
                        return rest;
                    }
                }
                if (isDataSample(*d, b - size, size)) {
                    Explanation rest = explainAudio(a, b - size, afterUnit, true);
                    if (rest.covers(a, b - size)) {
                        rest.pieces.push_back(Piece{b - size, size, true});
                        return rest;
                    }
                }
            }
        return e;
    }

    bool isDataSample(const TrackModel& d, uint64_t at, uint64_t size) {
        if (std::find(d.distinctSizes.begin(), d.distinctSizes.end(), size) == d.distinctSizes.end()) return false;
        if (d.leadingBytes.empty()) return true;
        uint8_t lead[16] = {};
        const size_t n = std::min(d.leadingBytes.size(), sizeof lead);
        return bytes_.read(at, lead, n) == n && std::equal(lead, lead + n, d.leadingBytes.begin());
    }

    Explanation explainAudio(uint64_t a, uint64_t b, bool afterUnit, bool beforeUnit) {
        if (!audio_) return {};
        if (audio_->codec == MediaCodec::Pcm) return explainPcm(a, b, afterUnit, beforeUnit);
        if (aac_) return explainAac(a, b, afterUnit, beforeUnit);
        return {};
    }

    const uint8_t* readRange(uint64_t a, uint64_t b) {
        buffer_.resize(static_cast<size_t>(b - a));
        const size_t got = bytes_.read(a, buffer_.data(), buffer_.size());
        buffer_.resize(got);
        return buffer_.data();
    }

    Explanation explainPcm(uint64_t a, uint64_t b, bool afterUnit, bool beforeUnit) {
        Explanation e;
        const uint64_t frame = audio_->pcmBytesPerFrame;
        const uint64_t g = b - a;
        const uint64_t largest = std::max(audio_->largestChunk, frame);
        const std::vector<uint64_t>& usual = audio_->usualChunkBytes;
        // Between two units of ours, or from one to the end of the data: sound
        // in whole frames, of a chunk size the reference uses or else bytes
        // that look like sound and hold no stretch of zeros.
        if (afterUnit && (beforeUnit || b == range_.end)) {
            const uint64_t whole = beforeUnit ? (g % frame == 0 ? g : 0) : g - g % frame;
            const bool usualSize = std::find(usual.begin(), usual.end(), whole) != usual.end();
            if (whole > 0 && whole <= largest && (usualSize || soundWithoutDamage(a, a + whole))) {
                e.pieces.push_back({a, whole, false});
                e.certainStart = true;
                return e;
            }
        }
        // Damage around: a chunk next to a unit of ours, of the reference's
        // smallest size, grown to its larger sizes while the bytes still look
        // like sound.
        if (usual.empty() || usual.front() % frame != 0) return e;
        uint64_t headEnd = a;
        if (afterUnit) headEnd = a + soundBeside(a, b, true);
        if (headEnd > a) e.pieces.push_back({a, headEnd - a, false});
        if (beforeUnit) {
            const uint64_t tail = soundBeside(headEnd, b, false);
            if (tail > 0) e.pieces.push_back({b - tail, tail, false});
        }
        return e;
    }

    // How many bytes of [a, b), from its start (or its end), are a chunk of
    // sound: one of the reference's chunk sizes, the largest whose bytes look
    // like sound and hold no stretch of zeros; 0 when none does.
    uint64_t soundBeside(uint64_t a, uint64_t b, bool fromStart) {
        uint64_t taken = 0;
        for (uint64_t size : audio_->usualChunkBytes) {
            if (size % audio_->pcmBytesPerFrame != 0 || size > b - a) break;
            const uint64_t from = fromStart ? a + taken : b - size;
            const uint64_t to = fromStart ? a + size : b - taken;
            const uint8_t* p = readRange(from, to);
            if (buffer_.size() != to - from || hasZeroRun(p, buffer_.size()) ||
                !looksLikeSound(p, buffer_.size(), audio_->pcmBytesPerFrame))
                break;
            taken = size;
        }
        return taken;
    }

    bool soundWithoutDamage(uint64_t a, uint64_t b) {
        const uint8_t* p = readRange(a, b);
        return !hasZeroRun(p, buffer_.size()) && looksLikeSound(p, buffer_.size(), audio_->pcmBytesPerFrame);
    }
    Explanation explainAac(uint64_t a, uint64_t b, bool afterUnit, bool beforeUnit) {
        Explanation e;
        uint64_t x = a;
        if (afterUnit) {
            const uint8_t* p = readRange(a, b);
            const codec::AacFrames::Run run = aac_->frames({p, buffer_.size()});
            for (uint32_t len : run.lengths) {
                e.pieces.push_back({x, len, false});
                x += len;
            }
            e.certainStart = !run.lengths.empty();
            if (run.whole || x >= b) return e;
        }
        // Frames after damage: those that decode from a later start, up to b
        // (or, with nothing to end them, at least three in a row).
        uint64_t from = x;
        if (b - from > resyncSpan_) {
            if (!beforeUnit) return e;
            from = b - resyncSpan_;
        }
        const uint8_t* p = readRange(from, b);
        const size_t n = buffer_.size();
        for (size_t i = 0; i < n; ++i) {
            if (audio_->firstBytesKnown && !audio_->firstBytes[p[i]]) continue;
            if (n - i >= 8 && std::all_of(p + i, p + i + 8, [](uint8_t c) { return c == 0; })) continue;
            const codec::AacFrames::Run run = aac_->frames({p + i, n - i});
            if (!run.whole && run.lengths.size() < 3) continue;
            uint64_t at = from + i;
            for (uint32_t len : run.lengths) {
                e.pieces.push_back({at, len, false});
                at += len;
            }
            if (run.whole) break;
            i += static_cast<size_t>(run.bytes) - 1;
        }
        return e;
    }

    void addSample(TrackSamples& t, uint64_t offset, uint64_t length) {
        t.offsets.push_back(offset);
        t.sizes.push_back(static_cast<uint32_t>(length));
        t.bytes += length;
    }

    const TrackModel& video_;
    const TrackModel* audio_;
    std::vector<const TrackModel*> data_;
    MediaRange range_;
    ScannerBytes bytes_;
    CodecTables& tables_;
    codec::StreamParameters stream_;
    std::unique_ptr<codec::PictureOrder> order_;
    std::unique_ptr<codec::AacFrames> aac_;
    std::array<bool, 256> nalHeaderByte_{};
    uint8_t firstLengthByteMost_ = 0;
    uint64_t jpegMost_ = 0;
    uint64_t longestRun_ = 0;
    uint64_t maxGap_ = 0;
    uint64_t resyncSpan_ = 0;
    uint64_t lastEnd_ = 0;
    std::deque<VideoUnit> pending_;
    std::vector<uint8_t> buffer_;
};

// The header space of the result: the reference's ftyp, then 16 bytes that
// become a free box and a 32-bit mdat header, or a 64-bit mdat header.
bool writeHeaderSpace(const ReferenceModel& model, ResultFile& result, CodecTables& tables) {
    OutputWriter& out = result.outputfile;
    if (!model.ftyp.empty()) out.append(model.ftyp.data(), model.ftyp.size());
    out.appendZeros(16);
    result.mediaHeaderSize = 16;
    result.mediaHeaderWritten = true;
    tables.mediaStart = out.cursor();
    if (out.failed()) result.writeFailed = true;
    return !result.writeFailed;
}

}  // namespace

std::vector<size_t> TrackSamples::chunkStarts() const {
    std::vector<size_t> starts;
    for (size_t i = 0; i < sizes.size(); ++i)
        if (i == 0 || opensChunk[i] || offsets[i] != offsets[i - 1] + sizes[i - 1]) starts.push_back(i);
    return starts;
}

MediaRange findMediaRange(const FileReader& damaged, uint64_t size) {
    size = std::min(size, damaged.size());
    MediaRange r{0, size, false};
    // The top-level boxes from the start, as far as they hold.
    uint64_t pos = 0;
    while (pos + 8 <= size) {
        const std::vector<uint8_t> h = damaged.readAt(pos, 16);
        const uint32_t type = static_cast<uint32_t>(readU32BE(h.data() + 4));
        uint64_t boxSize = readU32BE(h.data());
        uint64_t header = 8;
        if (boxSize == 1) {
            boxSize = (readU32BE(h.data() + 8) << 32) | readU32BE(h.data() + 12);
            header = 16;
        }
        if (type == k("mdat")) {
            r.start = pos + header;
            r.end = (boxSize < header || boxSize > size - pos) ? size : pos + boxSize;
            r.headerFound = true;
            return r;
        }
        const bool known = type == k("ftyp") || type == k("free") || type == k("skip") || type == k("wide") ||
                           type == k("moov") || type == k("uuid") || type == k("pdin");
        if (!known || boxSize < 8 || boxSize > size - pos) break;
        pos += boxSize;
    }
    // No header: the media run up to a movie atom that ends the file,
    // looked for from the end in pieces.
    constexpr uint64_t kMovieSearch = 64u << 20;
    constexpr size_t kPiece = 1u << 20;
    std::vector<uint8_t> piece;
    uint64_t pieceEnd = size;
    while (pieceEnd > 0 && size - pieceEnd < kMovieSearch) {
        const uint64_t pieceStart = pieceEnd > kPiece ? pieceEnd - kPiece : 0;
        // Overlap so that a header across two pieces is seen.
        const uint64_t readEnd = std::min(size, pieceEnd + 8);
        piece = damaged.readAt(pieceStart, static_cast<size_t>(readEnd - pieceStart));
        for (size_t i = static_cast<size_t>(pieceEnd - pieceStart); i-- > 0;) {
            if (i + 8 > piece.size() || std::memcmp(piece.data() + i + 4, "moov", 4) != 0) continue;
            if (readU32BE(piece.data() + i) == size - (pieceStart + i)) {
                r.end = pieceStart + i;
                return r;
            }
        }
        pieceEnd = pieceStart;
    }
    return r;
}

uint64_t zeroStretchBytes(const FileReader& damaged, const MediaRange& range, uint64_t run) {
    constexpr size_t kPiece = 1u << 20;
    std::vector<uint8_t> piece(kPiece);
    uint64_t zeros = 0, current = 0;
    for (uint64_t pos = range.start; pos < range.end; pos += kPiece) {
        const size_t n = static_cast<size_t>(std::min<uint64_t>(kPiece, range.end - pos));
        damaged.readAt(pos, piece.data(), n);
        for (size_t i = 0; i < n; ++i) {
            if (piece[i] == 0) {
                ++current;
                continue;
            }
            if (current >= run) zeros += current;
            current = 0;
        }
    }
    return current >= run ? zeros + current : zeros;
}

bool cameraCoversMedia(const FileReader& damaged, uint64_t size, uint64_t covered) {
    const MediaRange range = findMediaRange(damaged, size);
    auto enough = [covered](uint64_t media) {
        return static_cast<double>(covered) >= kCameraCoverageWanted * static_cast<double>(media);
    };
    // Only when the units fall short is the file read once more for its zeros.
    return enough(range.bytes()) || enough(range.bytes() - std::min(range.bytes(), zeroStretchBytes(damaged, range)));
}

std::string codecAwareScanDescription(const ReferenceModel& model) { return "codec-aware: " + model.codecsText(); }

bool runCodecAwareScan(StageContext& ctx, const ReferenceAnalysis& analysis, const ReferenceTemplates& templates,
                       const ReferenceModel& model, ResultFile& result, CodecTables& tables) {
    tables = CodecTables{};
    if (!damagedFileReadable(ctx.damaged)) {
        ctx.unsupported("The damaged file can not be read", 2.0);
        return false;
    }
    ctx.report.scanMarker = kCodecAwareMarker;
    ctx.report.scan = codecAwareScanDescription(model);
    SystemLog::write(ctx.report.scan.c_str());
    ctx.reporter.status(kLocatingText, 50.0, 1.5);

    const MediaRange range = findMediaRange(ctx.damaged, ctx.damagedSize);
    if (!writeHeaderSpace(model, result, tables)) return true;
    SampleTables unused;
    MediaScanner scanner(ctx, analysis, templates, unused, result);
    CodecAwareWalk walk(model, range, scanner, tables);
    if (!scanner.run(walk, range.start)) return false;
    walk.finish(scanner);
    if (!result.outputfile.sync()) result.writeFailed = true;
    return true;
}

}  // namespace arbel

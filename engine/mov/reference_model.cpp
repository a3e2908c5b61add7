// The reference's movie atom learned box by box, every count checked against
// the bytes its box holds before anything is allocated.
#include "reference_model.h"

#include "box_reader.h"

#include <algorithm>
#include <cstring>
#include <map>

namespace arbel {

namespace {

// A reference is a short clip: tables longer than this are not believed.
constexpr uint64_t kMostEntries = 1u << 22;
constexpr uint64_t kMostMovieBytes = 64u << 20;
constexpr size_t kInterleaveKept = 4096;
constexpr size_t kLeadingBytes = 8;
constexpr size_t kLeadingSamplesRead = 64;
constexpr size_t kFirstBytesRead = 4096;
constexpr size_t kPictureSamplesRead = 1024;

constexpr uint32_t k(const char (&code)[5]) { return fourCode(code); }

std::string codeText(uint32_t code) {
    std::string s(4, ' ');
    for (int i = 0; i < 4; ++i) {
        const char c = static_cast<char>((code >> (24 - 8 * i)) & 0xFF);
        s[static_cast<size_t>(i)] = (c >= 0x20 && c < 0x7F) ? c : '?';
    }
    return s;
}

// A full box's entry count at `at` and the room its entries need.
std::optional<uint64_t> countFits(const ByteView& b, uint64_t at, uint64_t entryBytes) {
    if (!b.has(at, 4)) return std::nullopt;
    const uint64_t n = b.u32be(at);
    if (n > kMostEntries || !b.has(at + 4, n * entryBytes)) return std::nullopt;
    return n;
}

// An MPEG-4 descriptor's length (1 to 4 bytes of 7 bits).
std::optional<uint64_t> descriptorLength(const ByteView& b, uint64_t& at) {
    uint64_t n = 0;
    for (int i = 0; i < 4; ++i) {
        if (!b.has(at, 1)) return std::nullopt;
        const uint8_t c = b.byte(at++);
        n = (n << 7) | (c & 0x7F);
        if (!(c & 0x80)) return n;
    }
    return std::nullopt;
}

// The AudioSpecificConfig inside an esds payload (ES, decoder config, then
// decoder-specific descriptors).
std::vector<uint8_t> audioSpecificConfigOf(const ByteView& b) {
    uint64_t at = 4;  // version and flags
    if (b.byte(at) != 0x03) return {};
    ++at;
    if (!descriptorLength(b, at)) return {};
    const uint8_t esFlags = b.byte(at + 2);
    at += 3;
    if (esFlags & 0x80) at += 2;
    if (esFlags & 0x40) at += 1 + b.byte(at);
    if (esFlags & 0x20) at += 2;
    if (b.byte(at) != 0x04) return {};
    ++at;
    if (!descriptorLength(b, at)) return {};
    at += 13;
    if (b.byte(at) != 0x05) return {};
    ++at;
    const auto n = descriptorLength(b, at);
    if (!n || !b.has(at, *n)) return {};
    return std::vector<uint8_t>(b.data() + at, b.data() + at + *n);
}

// The first box of a type among the children of a sample entry, looked for
// at every child level (QuickTime puts esds inside "wave").
std::optional<BoxView> findDeep(std::span<const uint8_t> bytes, uint32_t type, int depth = 0) {
    for (const BoxView& b : BoxList(bytes)) {
        if (b.type == type) return b;
        if (depth < 3 && b.payload.size() >= 8)
            if (auto inner = findDeep(b.payload, type, depth + 1)) return inner;
    }
    return std::nullopt;
}

uint32_t pcmBytesPerChannelOf(uint32_t format, uint32_t sampleBits) {
    switch (format) {
    case k("in24"): return 3;
    case k("in32"): case k("fl32"): return 4;
    case k("fl64"): return 8;
    case k("raw "): case k("ulaw"): case k("alaw"): return 1;
    case k("sowt"): case k("twos"): case k("lpcm"): return sampleBits >= 8 ? sampleBits / 8 : 2;
    default: return 0;
    }
}

// The video sample entry: codec and parameter sets.
void learnVideoEntry(const BoxView& entry, TrackModel& t) {
    constexpr size_t kVisualFields = 78;
    if (entry.payload.size() < kVisualFields) return;
    const auto children = entry.payload.subspan(kVisualFields);
    switch (entry.type) {
    case k("avc1"): case k("avc3"):
        if (auto c = BoxList(children).find(k("avcC"))) {
            t.stream = codec::parseAvcConfiguration(c->payload);
            if (t.stream) t.codec = MediaCodec::H264;
        }
        break;
    case k("hvc1"): case k("hev1"):
        if (auto c = BoxList(children).find(k("hvcC"))) {
            t.stream = codec::parseHevcConfiguration(c->payload);
            if (t.stream) t.codec = MediaCodec::Hevc;
        }
        break;
    case k("jpeg"): case k("mjpa"): case k("mjpb"): case k("MJPG"): t.codec = MediaCodec::Jpeg; break;
    default: break;
    }
}

// The sound sample entry: AAC's config, or the PCM family's frame size.
void learnAudioEntry(const BoxView& entry, TrackModel& t) {
    const ByteView e = entry.bytes();
    if (!e.has(0, 28)) return;
    const uint16_t version = e.u16be(8);
    t.channels = e.u16be(16);
    const uint16_t sampleBits = e.u16be(18);
    t.sampleRate = static_cast<uint32_t>(e.u32be(24) >> 16);
    size_t fields = 28;
    uint32_t v1BytesPerFrame = 0;
    if (version == 1 && e.has(28, 16)) {
        v1BytesPerFrame = static_cast<uint32_t>(e.u32be(36));
        fields += 16;
    } else if (version == 2 && e.has(28, 36)) {
        // 64-bit float rate, channels, flags, bits and bytes per frame.
        uint64_t bits = (e.u32be(32) << 32) | e.u32be(36);
        double rate;
        std::memcpy(&rate, &bits, sizeof rate);
        t.sampleRate = rate > 0 && rate < 1e7 ? static_cast<uint32_t>(rate) : 0;
        t.channels = static_cast<uint16_t>(e.u32be(40));
        v1BytesPerFrame = static_cast<uint32_t>(e.u32be(56));
        fields += 36;
    }
    const auto children = entry.payload.subspan(std::min(fields, entry.payload.size()));
    if (entry.type == k("mp4a")) {
        if (auto esds = findDeep(children, k("esds"))) t.audioSpecificConfig = audioSpecificConfigOf(esds->bytes());
        if (!t.audioSpecificConfig.empty() && t.channels > 0) t.codec = MediaCodec::Aac;
        return;
    }
    const uint32_t perChannel = pcmBytesPerChannelOf(entry.type, sampleBits);
    if (perChannel == 0 || t.channels == 0) return;
    t.pcmBytesPerFrame = v1BytesPerFrame ? v1BytesPerFrame : perChannel * t.channels;
    if (t.pcmBytesPerFrame > 0 && t.pcmBytesPerFrame <= 1024) t.codec = MediaCodec::Pcm;
}

bool learnSampleTables(std::span<const uint8_t> stbl, TrackModel& t) {
    BoxList boxes(stbl);
    if (auto stsd = boxes.find(k("stsd")); stsd && stsd->payload.size() >= 16) {
        const BoxList entries(stsd->payload.subspan(8));
        const auto first = entries.begin();
        if (first != entries.end()) {
            t.format = codeText(first->type);
            if (t.kind == TrackKind::Video) learnVideoEntry(*first, t);
            if (t.kind == TrackKind::Audio) learnAudioEntry(*first, t);
        }
    }
    if (auto stts = boxes.find(k("stts"))) {
        const ByteView b = stts->bytes();
        std::map<uint32_t, uint64_t> byDelta;
        if (const auto n = countFits(b, 4, 8))
            for (uint64_t i = 0; i < *n; ++i) byDelta[static_cast<uint32_t>(b.u32be(12 + 8 * i))] += b.u32be(8 + 8 * i);
        for (const auto& [delta, count] : byDelta)
            if (t.sampleDelta == 0 || count > byDelta[t.sampleDelta]) t.sampleDelta = delta;
    }
    if (auto stsz = boxes.find(k("stsz"))) {
        const ByteView b = stsz->bytes();
        t.constantSampleSize = static_cast<uint32_t>(b.u32be(4));
        if (t.constantSampleSize == 0) {
            if (const auto n = countFits(b, 8, 4)) {
                t.sampleSizes.reserve(static_cast<size_t>(*n));
                for (uint64_t i = 0; i < *n; ++i) t.sampleSizes.push_back(static_cast<uint32_t>(b.u32be(12 + 4 * i)));
            }
        } else if (b.u32be(8) <= kMostEntries) {
            t.sampleSizes.assign(static_cast<size_t>(b.u32be(8)), t.constantSampleSize);
        }
    }
    const bool co64 = !boxes.find(k("stco")).has_value();
    if (auto stco = boxes.find(co64 ? k("co64") : k("stco"))) {
        const ByteView b = stco->bytes();
        const uint64_t width = co64 ? 8 : 4;
        if (const auto n = countFits(b, 4, width)) {
            t.chunkOffsets.reserve(static_cast<size_t>(*n));
            for (uint64_t i = 0; i < *n; ++i)
                t.chunkOffsets.push_back(co64 ? static_cast<uint64_t>(b.s64be(8 + 8 * i)) : b.u32be(8 + 4 * i));
        }
    }
    if (auto stsc = boxes.find(k("stsc"))) {
        const ByteView b = stsc->bytes();
        const auto n = countFits(b, 4, 12);
        const size_t chunks = t.chunkOffsets.size();
        t.samplesPerChunk.assign(chunks, 0);
        for (uint64_t i = 0; n && i < *n; ++i) {
            const uint64_t first = b.u32be(8 + 12 * i);
            const uint64_t next = i + 1 < *n ? b.u32be(8 + 12 * (i + 1)) : chunks + 1;
            const uint32_t per = static_cast<uint32_t>(b.u32be(12 + 12 * i));
            for (uint64_t c = std::max<uint64_t>(first, 1); c < next && c <= chunks; ++c) t.samplesPerChunk[c - 1] = per;
        }
    }
    t.hasSyncTable = boxes.find(k("stss")).has_value();
    t.hasCompositionOffsets = boxes.find(k("ctts")).has_value();
    return true;
}

// Sizes of the chunks in bytes, and the sizes the track's samples use.
void summarise(TrackModel& t) {
    size_t sample = 0;
    for (uint32_t per : t.samplesPerChunk) {
        uint64_t bytes = 0;
        if (t.codec == MediaCodec::Pcm) {
            bytes = uint64_t{per} * t.pcmBytesPerFrame;
        } else {
            for (uint32_t i = 0; i < per && sample < t.sampleSizes.size(); ++i) bytes += t.sampleSizes[sample++];
        }
        t.chunkBytes.push_back(bytes);
    }
    for (size_t i = 0; i + (t.chunkBytes.size() > 1 ? 1 : 0) < t.chunkBytes.size(); ++i)
        if (t.chunkBytes[i] > 0 &&
            std::find(t.usualChunkBytes.begin(), t.usualChunkBytes.end(), t.chunkBytes[i]) == t.usualChunkBytes.end())
            t.usualChunkBytes.push_back(t.chunkBytes[i]);
    std::sort(t.usualChunkBytes.begin(), t.usualChunkBytes.end());
    for (uint64_t c : t.chunkBytes) t.largestChunk = std::max(t.largestChunk, c);
    for (uint32_t s : t.sampleSizes) {
        t.largestSample = std::max<uint64_t>(t.largestSample, s);
        if (t.distinctSizes.size() < 64 &&
            std::find(t.distinctSizes.begin(), t.distinctSizes.end(), s) == t.distinctSizes.end())
            t.distinctSizes.push_back(s);
    }
}

std::optional<TrackModel> learnTrack(const BoxView& trak) {
    TrackModel t;
    t.trak.assign(trak.whole.begin(), trak.whole.end());
    if (auto tkhd = BoxList(trak.payload).find(k("tkhd"))) {
        const ByteView b = tkhd->bytes();
        t.trackId = static_cast<uint32_t>(b.u32be(b.byte(0) == 1 ? 20 : 12));
    }
    const auto mdia = BoxList(trak.payload).find(k("mdia"));
    if (!mdia) return std::nullopt;
    if (auto mdhd = BoxList(mdia->payload).find(k("mdhd"))) {
        const ByteView b = mdhd->bytes();
        t.timescale = static_cast<uint32_t>(b.u32be(b.byte(0) == 1 ? 20 : 12));
    }
    if (auto hdlr = BoxList(mdia->payload).find(k("hdlr"))) t.handler = codeText(static_cast<uint32_t>(hdlr->bytes().u32be(8)));
    if (t.handler == "vide") t.kind = TrackKind::Video;
    else if (t.handler == "soun") t.kind = TrackKind::Audio;
    else if (t.handler == "tmcd" || t.handler == "meta" || t.handler == "text" || t.handler == "sbtl" ||
             t.handler == "data")
        t.kind = TrackKind::Data;
    const auto stbl = findPath(mdia->payload, {k("minf"), k("stbl")});
    if (!stbl || !learnSampleTables(stbl->payload, t)) return std::nullopt;
    summarise(t);
    return t;
}

// Track index of each chunk, in the order the chunks lie in the file.
std::vector<uint32_t> interleaveOf(const std::vector<TrackModel>& tracks) {
    std::vector<std::pair<uint64_t, uint32_t>> all;
    for (uint32_t i = 0; i < tracks.size(); ++i)
        for (size_t c = 0; c < tracks[i].chunkOffsets.size() && c < kInterleaveKept; ++c)
            all.emplace_back(tracks[i].chunkOffsets[c], i);
    std::sort(all.begin(), all.end());
    std::vector<uint32_t> order;
    for (size_t i = 0; i < all.size() && i < kInterleaveKept; ++i) order.push_back(all[i].second);
    return order;
}

// Where the first samples of a track start in the reference.
std::vector<uint64_t> sampleStarts(const TrackModel& t, size_t most) {
    std::vector<uint64_t> starts;
    size_t sample = 0;
    for (size_t c = 0; c < t.chunkOffsets.size() && starts.size() < most; ++c) {
        uint64_t at = t.chunkOffsets[c];
        for (uint32_t i = 0; i < t.samplesPerChunk[c] && sample < t.sampleSizes.size() && starts.size() < most; ++i) {
            starts.push_back(at);
            at += t.sampleSizes[sample++];
        }
    }
    return starts;
}

// The first byte of each AAC frame: a frame opens with its first element's
// id and instance tag, so frames of one stream begin alike.
void learnFirstBytes(const FileReader& reference, TrackModel& t) {
    for (uint64_t at : sampleStarts(t, kFirstBytesRead)) {
        uint8_t b = 0;
        if (reference.readAt(at, &b, 1) != 1) continue;
        t.firstBytes[b] = t.firstBytes[b ^ 1] = true;
        t.firstBytesKnown = true;
    }
}

// The slice headers the reference's encoder writes, from the NAL units of its
// first samples.
void learnPictureHeaders(const FileReader& reference, TrackModel& t) {
    codec::StreamParameters& s = *t.stream;
    const unsigned lengthSize = s.nalLengthSize;
    const std::vector<uint64_t> starts = sampleStarts(t, kPictureSamplesRead);
    for (size_t i = 0; i < starts.size(); ++i) {
        const uint64_t end = starts[i] + t.sampleSizes[i];
        uint64_t at = starts[i];
        while (at + lengthSize + 2 <= end) {
            uint8_t b[6] = {};
            reference.readAt(at, b, lengthSize + 2);
            uint64_t length = 0;
            for (unsigned k = 0; k < lengthSize; ++k) length = (length << 8) | b[k];
            const auto header = codec::parseNalHeader(s.codec, b + lengthSize, 2);
            if (!header || length == 0) break;
            s.notePictureHeader(*header);
            at += lengthSize + length;
        }
    }
}

// The bytes every sample of a data track begins with (from two samples on).
void learnLeadingBytes(const FileReader& reference, TrackModel& t) {
    const std::vector<uint64_t> starts = sampleStarts(t, kLeadingSamplesRead);
    if (starts.size() < 2) return;
    size_t common = kLeadingBytes;
    for (uint32_t s : t.sampleSizes) common = std::min<size_t>(common, s);
    std::vector<uint8_t> first = reference.readAt(starts[0], common);
    for (size_t i = 1; i < starts.size() && common > 0; ++i) {
        const std::vector<uint8_t> other = reference.readAt(starts[i], common);
        size_t same = 0;
        while (same < common && other[same] == first[same]) ++same;
        common = same;
    }
    first.resize(common);
    t.leadingBytes = first;
}

}  // namespace

const char* mediaCodecName(MediaCodec codec) {
    switch (codec) {
    case MediaCodec::H264: return "H.264";
    case MediaCodec::Hevc: return "HEVC";
    case MediaCodec::Jpeg: return "MJPEG";
    case MediaCodec::Aac: return "AAC";
    case MediaCodec::Pcm: return "PCM";
    case MediaCodec::None: break;
    }
    return "none";
}

std::string ReferenceModel::codecsText() const {
    std::string text = videoTrack() ? mediaCodecName(videoTrack()->codec) : "no video";
    if (audioTrack()) text += std::string(" + ") + mediaCodecName(audioTrack()->codec);
    return text;
}

std::optional<ReferenceModel> learnMovie(std::span<const uint8_t> moov, std::span<const uint8_t> ftyp,
                                         std::string& why) {
    ReferenceModel m;
    m.ftyp.assign(ftyp.begin(), ftyp.end());
    for (const BoxView& child : BoxList(moov)) {
        switch (child.type) {
        case k("mvhd"): {
            m.mvhd.assign(child.whole.begin(), child.whole.end());
            const ByteView b = child.bytes();
            m.movieTimescale = static_cast<uint32_t>(b.u32be(b.byte(0) == 1 ? 20 : 12));
            break;
        }
        case k("trak"):
            if (auto t = learnTrack(child)) m.tracks.push_back(std::move(*t));
            break;
        case k("udta"): case k("meta"): m.movieExtras.emplace_back(child.whole.begin(), child.whole.end()); break;
        default: break;
        }
    }
    for (size_t i = 0; i < m.tracks.size(); ++i) {
        const TrackModel& t = m.tracks[i];
        const bool video = t.codec == MediaCodec::H264 || t.codec == MediaCodec::Hevc || t.codec == MediaCodec::Jpeg;
        const bool audio = t.codec == MediaCodec::Aac || t.codec == MediaCodec::Pcm;
        if (video && m.video < 0 && t.timescale > 0 && t.sampleDelta > 0) m.video = static_cast<int>(i);
        if (audio && m.audio < 0 && t.timescale > 0 && t.sampleDelta > 0) m.audio = static_cast<int>(i);
    }
    if (m.mvhd.empty() || m.movieTimescale == 0) {
        why = "the reference's movie header is missing";
        return std::nullopt;
    }
    if (m.video < 0) {
        why = "the reference has no H.264, HEVC or MJPEG video track";
        return std::nullopt;
    }
    m.interleave = interleaveOf(m.tracks);
    return m;
}

std::optional<ReferenceModel> learnReference(const FileReader& reference, uint64_t size, std::string& why) {
    size = std::min(size, reference.size());
    uint64_t pos = 0;
    std::vector<uint8_t> ftyp, moov;
    while (pos + 8 <= size && moov.empty()) {
        const std::vector<uint8_t> h = reference.readAt(pos, 16);
        uint64_t boxSize = readU32BE(h.data());
        if (boxSize == 1) boxSize = (readU32BE(h.data() + 8) << 32) | readU32BE(h.data() + 12);
        else if (boxSize == 0) boxSize = size - pos;
        if (boxSize < 8 || boxSize > size - pos) break;
        const uint32_t type = static_cast<uint32_t>(readU32BE(h.data() + 4));
        if (type == k("ftyp") && boxSize <= 4096) ftyp = reference.readAt(pos, static_cast<size_t>(boxSize));
        if (type == k("moov")) {
            if (boxSize > kMostMovieBytes) {
                why = "the reference's movie atom is too large";
                return std::nullopt;
            }
            moov = reference.readAt(pos, static_cast<size_t>(boxSize));
        }
        pos += boxSize;
    }
    if (moov.empty()) {
        why = "the reference has no movie atom";
        return std::nullopt;
    }
    const size_t header = readU32BE(moov.data()) == 1 ? 16 : 8;
    auto model = learnMovie(std::span<const uint8_t>(moov).subspan(header), ftyp, why);
    if (model)
        for (TrackModel& t : model->tracks) {
            if (t.kind == TrackKind::Data) learnLeadingBytes(reference, t);
            if (t.codec == MediaCodec::Aac) learnFirstBytes(reference, t);
            if (t.stream) learnPictureHeaders(reference, t);
        }
    return model;
}

}  // namespace arbel

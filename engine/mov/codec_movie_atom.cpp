// The codec-aware movie atom: the reference's boxes copied, durations and
// sample tables made from the samples found.
#include "codec_movie_atom.h"

#include "box_reader.h"
#include "engine/box_writer.h"
#include "engine/codec/picture_order.h"
#include "movie_atom.h"

#include <algorithm>
#include <cmath>

namespace arbel {

namespace {

constexpr uint64_t k32BitMax = 0xFFFFFFFFull;

constexpr uint32_t k(const char (&code)[5]) { return fourCode(code); }

uint32_t low32(uint64_t v) { return static_cast<uint32_t>(std::min(v, k32BitMax)); }

// value × to / from, rounded, without overflow for durations of any length.
uint64_t rescale(uint64_t value, uint64_t to, uint64_t from) {
    if (from == 0) return 0;
    return static_cast<uint64_t>(std::llround(static_cast<long double>(value) * to / from));
}

// A version-0 movie, track or media header rewritten as version 1, for a
// duration that 32 bits cannot hold: the creation and modification times
// and the duration widen to 64 bits, every other field stays as it was.
void writeVersionOneTimes(BoxWriter& box, const BoxView& b, size_t offsetV0, uint64_t duration) {
    const ByteView p = b.bytes();
    const char type[5] = {static_cast<char>(b.type >> 24), static_cast<char>(b.type >> 16),
                          static_cast<char>(b.type >> 8), static_cast<char>(b.type), 0};
    box.open(type);
    box.u8(1);
    box.bytes(b.payload.data() + 1, 3);  // flags
    box.u64(p.u32be(4));                 // creation time
    box.u64(p.u32be(8));                 // modification time
    box.bytes(b.payload.data() + 12, offsetV0 - 12);
    box.u64(duration);
    box.bytes(b.payload.data() + offsetV0 + 4, b.payload.size() - offsetV0 - 4);
    box.close();
}

// A copied full box whose duration field (32 bits in version 0, 64 in
// version 1, at the given payload offsets) gets a new value; a version-0
// box becomes version 1 when the duration does not fit its field.
void copyWithDuration(BoxWriter& box, const BoxView& b, size_t offsetV0, size_t offsetV1, uint64_t duration) {
    const bool v1 = !b.payload.empty() && b.payload[0] == 1;
    if (!v1 && duration > k32BitMax && b.payload.size() >= offsetV0 + 4)
        return writeVersionOneTimes(box, b, offsetV0, duration);
    const uint64_t at = box.position() + (b.whole.size() - b.payload.size());
    box.bytes(b.whole.data(), b.whole.size());
    if (v1 && b.payload.size() >= offsetV1 + 8) box.patchU64(at + offsetV1, duration);
    else if (!v1 && b.payload.size() >= offsetV0 + 4) box.patchU32(at + offsetV0, low32(duration));
}

// One edit: the track's whole duration from mediaTime on (version 1 when a
// value needs 64 bits).
void writeEditList(BoxWriter& box, uint64_t trackDuration, uint64_t mediaTime) {
    const bool wide = trackDuration > k32BitMax || mediaTime > 0x7FFFFFFFull;
    box.open("edts");
    box.open("elst");
    box.u32(wide ? 0x01000000u : 0u);
    box.u32(1);
    if (wide) {
        box.u64(trackDuration);
        box.u64(mediaTime);
    } else {
        box.u32(low32(trackDuration));
        box.u32(low32(mediaTime));
    }
    box.u32(0x00010000);
    box.close();
    box.close();
}

// Runs of equal values, as (count, value) pairs.
template <typename T>
std::vector<std::pair<uint32_t, T>> runsOf(const std::vector<T>& values) {
    std::vector<std::pair<uint32_t, T>> runs;
    for (const T& v : values) {
        if (!runs.empty() && runs.back().second == v) ++runs.back().first;
        else runs.emplace_back(1, v);
    }
    return runs;
}

// The sample tables of one track.
struct Tables {
    uint64_t samples = 0;
    uint32_t delta = 0;
    std::vector<uint32_t> samplesPerChunk;
    std::vector<uint64_t> chunkOffsets;
    const std::vector<uint32_t>* sizes = nullptr;  // the scan's own; none: every sample is constantSize
    uint32_t constantSize = 0;
    const std::vector<uint8_t>* key = nullptr;  // when the track keeps a sync table
    CompositionOffsets composition;
    uint64_t mediaDuration() const { return samples * delta; }
};

Tables tablesOf(const TrackModel& t, const TrackSamples& s, bool video) {
    Tables out;
    out.delta = t.sampleDelta;
    const std::vector<size_t> starts = s.chunkStarts();
    for (size_t c = 0; c < starts.size(); ++c) {
        const size_t first = starts[c];
        const size_t last = c + 1 < starts.size() ? starts[c + 1] : s.count();
        out.chunkOffsets.push_back(s.offsets[first]);
        if (t.codec == MediaCodec::Pcm) {
            // A PCM sample is one frame of all channels.
            uint64_t bytes = 0;
            for (size_t i = first; i < last; ++i) bytes += s.sizes[i];
            out.samplesPerChunk.push_back(low32(bytes / t.pcmBytesPerFrame));
        } else {
            out.samplesPerChunk.push_back(static_cast<uint32_t>(last - first));
        }
    }
    if (t.codec == MediaCodec::Pcm) {
        for (uint32_t n : out.samplesPerChunk) out.samples += n;
        out.constantSize = t.constantSampleSize ? t.constantSampleSize : t.pcmBytesPerFrame;
    } else {
        out.samples = s.count();
        out.sizes = &s.sizes;
    }
    if (video && t.hasSyncTable) out.key = &s.key;
    if (video) out.composition = compositionOffsets(s, t.sampleDelta);
    return out;
}

void writeSampleTables(BoxWriter& box, const Tables& t) {
    box.open("stts");
    box.u32(0);
    box.u32(t.samples ? 1 : 0);
    if (t.samples) {
        box.u32(low32(t.samples));
        box.u32(t.delta);
    }
    box.close();
    if (!t.composition.offsets.empty()) {
        const auto runs = runsOf(t.composition.offsets);
        box.open("ctts");
        box.u32(0);
        box.u32(low32(runs.size()));
        for (const auto& [count, offset] : runs) {
            box.u32(count);
            box.u32(low32(static_cast<uint64_t>(offset)));
        }
        box.close();
    }
    if (t.key) {
        box.open("stss");
        box.u32(0);
        const uint64_t countAt = box.placeholderU32();
        uint32_t keys = 0;
        for (size_t i = 0; i < t.key->size(); ++i)
            if ((*t.key)[i]) {
                box.u32(static_cast<uint32_t>(i + 1));
                ++keys;
            }
        box.patchU32(countAt, keys);
        box.close();
    }
    box.open("stsc");
    box.u32(0);
    const uint64_t entriesAt = box.placeholderU32();
    uint32_t entries = 0;
    for (size_t c = 0; c < t.samplesPerChunk.size(); ++c) {
        if (c > 0 && t.samplesPerChunk[c] == t.samplesPerChunk[c - 1]) continue;
        for (uint32_t v : {static_cast<uint32_t>(c + 1), t.samplesPerChunk[c], 1u}) box.u32(v);
        ++entries;
    }
    box.patchU32(entriesAt, entries);
    box.close();
    if (!t.sizes) {
        box.open("stsz");
        for (uint32_t v : {0u, t.constantSize, low32(t.samples)}) box.u32(v);
        box.close();
    } else {
        writeSampleSizes(box, *t.sizes, t.sizes->size());
    }
    writeChunkOffsets(box, t.chunkOffsets);
}

// One track rebuilt from the reference's track box.
void writeTrack(BoxWriter& box, const TrackModel& model, const Tables& tables, uint32_t movieTimescale) {
    const uint64_t mediaDuration = tables.mediaDuration();
    const uint64_t trackDuration = rescale(mediaDuration, movieTimescale, model.timescale);
    const BoxView trak = *BoxList(model.trak).begin();
    box.open("trak");
    for (const BoxView& child : BoxList(trak.payload)) {
        switch (child.type) {
        case k("tkhd"):
            copyWithDuration(box, child, 20, 28, trackDuration);
            // The pictures are presented from the first one shown, not from the delay.
            if (!tables.composition.offsets.empty())
                writeEditList(box, trackDuration, static_cast<uint64_t>(tables.composition.delay));
            break;
        case k("edts"):
        case k("tref"): break;  // edits and references of the reference's own timeline and tracks
        case k("mdia"):
            box.open("mdia");
            for (const BoxView& m : BoxList(child.payload)) {
                if (m.type == k("mdhd")) {
                    copyWithDuration(box, m, 16, 24, mediaDuration);
                } else if (m.type == k("minf")) {
                    box.open("minf");
                    for (const BoxView& i : BoxList(m.payload)) {
                        if (i.type != k("stbl")) {
                            box.bytes(i.whole.data(), i.whole.size());
                            continue;
                        }
                        box.open("stbl");
                        if (auto stsd = BoxList(i.payload).find(k("stsd"))) box.bytes(stsd->whole.data(), stsd->whole.size());
                        writeSampleTables(box, tables);
                        box.close();
                    }
                    box.close();
                } else {
                    box.bytes(m.whole.data(), m.whole.size());
                }
            }
            box.close();
            break;
        default: box.bytes(child.whole.data(), child.whole.size()); break;
        }
    }
    box.close();
}

}  // namespace

CompositionOffsets compositionOffsets(const TrackSamples& video, uint32_t delta) {
    CompositionOffsets c;
    if (video.order.size() != video.count() || video.order.empty()) return c;
    const std::vector<uint32_t> rank = codec::presentationRanks(video.order);
    bool reordered = false;
    int64_t delay = 0;
    for (size_t i = 0; i < rank.size(); ++i) {
        reordered = reordered || rank[i] != i;
        delay = std::max(delay, (static_cast<int64_t>(i) - static_cast<int64_t>(rank[i])) * delta);
    }
    if (!reordered) return c;
    c.delay = delay;
    c.offsets.reserve(rank.size());
    for (size_t i = 0; i < rank.size(); ++i)
        c.offsets.push_back((static_cast<int64_t>(rank[i]) - static_cast<int64_t>(i)) * delta + delay);
    return c;
}

CodecMovieTiming codecMovieTiming(const ReferenceModel& model, const CodecTables& tables) {
    CodecMovieTiming t;
    const TrackModel& v = *model.videoTrack();
    t.fps = v.sampleDelta ? (v.timescale + v.sampleDelta / 2) / v.sampleDelta : 0;
    t.seconds = v.timescale ? tables.video.count() * v.sampleDelta / v.timescale : 0;
    t.tracks = 1 + (model.audioTrack() && tables.audio.count() > 0 ? 1 : 0);
    return t;
}

void writeCodecMovie(BoxWriter& box, const ReferenceModel& model, const CodecTables& tables) {
    const TrackModel& video = *model.videoTrack();
    const Tables videoTables = tablesOf(video, tables.video, true);
    uint64_t movieDuration = rescale(videoTables.mediaDuration(), model.movieTimescale, video.timescale);
    Tables audioTables;
    const TrackModel* audio = model.audioTrack();
    if (audio && tables.audio.count() > 0) {
        audioTables = tablesOf(*audio, tables.audio, false);
        movieDuration = std::max(movieDuration, rescale(audioTables.mediaDuration(), model.movieTimescale, audio->timescale));
    }
    box.open("moov");
    copyWithDuration(box, *BoxList(model.mvhd).begin(), 16, 24, movieDuration);
    writeTrack(box, video, videoTables, model.movieTimescale);
    if (audio && tables.audio.count() > 0) writeTrack(box, *audio, audioTables, model.movieTimescale);
    for (const auto& extra : model.movieExtras) box.bytes(extra);
    box.close();
}

}  // namespace arbel

#include "reference_builder.h"

#include "support/temp_dir.h"

#include <algorithm>
#include <stdexcept>

namespace arbel::test {

namespace {

// An atom under construction: a payload of fixed bytes followed by children.
// `slot` says where serialise() records the atom's position. A raw node is a
// whole atom given by the caller, written as it is.
struct Node {
    std::string type;
    Bytes payload;
    std::vector<Node> children;
    AtomPos* slot = nullptr;
    bool raw = false;
};

Node leaf(const std::string& type, Bytes payload, AtomPos* slot = nullptr) {
    return Node{type, std::move(payload), {}, slot};
}

Node branch(const std::string& type, std::vector<Node> children, AtomPos* slot = nullptr) {
    return Node{type, {}, std::move(children), slot};
}

uint64_t nodeSize(const Node& node) {
    if (node.raw) return node.payload.size();
    uint64_t size = 8 + node.payload.size();
    for (const Node& child : node.children) size += nodeSize(child);
    return size;
}

// `base` is the file offset of out's first byte.
void serialise(const Node& node, Bytes& out, uint64_t base) {
    if (node.raw) {
        out.append(node.payload);
        return;
    }
    const uint64_t at = base + out.size();
    const uint64_t size = nodeSize(node);
    out.u32be(static_cast<uint32_t>(size)).text(node.type).append(node.payload);
    for (const Node& child : node.children) serialise(child, out, base);
    if (node.slot) *node.slot = AtomPos{at, size};
}

std::string fourCC(const std::string& code) {
    if (code.size() != 4) throw std::invalid_argument("a format code has four bytes: " + code);
    return code;
}

Bytes matrix() {
    Bytes b;
    b.u32be(0x00010000).u32be(0).u32be(0);
    b.u32be(0).u32be(0x00010000).u32be(0);
    b.u32be(0).u32be(0).u32be(0x40000000);
    return b;
}

Bytes mvhdPayload(const ReferenceOptions& o, uint32_t nextTrackId) {
    Bytes b;
    b.u32be(0).u32be(0).u32be(0).u32be(o.movieTimeScale).u32be(o.movieDuration);
    b.u32be(0x00010000).u16be(0x0100).zeros(10).append(matrix());
    b.zeros(24).u32be(nextTrackId);
    return b;
}

Bytes tkhdPayload(const ReferenceOptions& o, const TrackOptions& t, uint32_t trackId) {
    const bool video = t.handler == "vide";
    Bytes b;
    b.u32be(0x0000000F).u32be(0).u32be(0).u32be(trackId).u32be(0).u32be(o.movieDuration);
    b.zeros(8).u16be(0).u16be(0).u16be(video ? 0 : 0x0100).u16be(0).append(matrix());
    b.u32be(video ? uint32_t(o.width) << 16 : 0).u32be(video ? uint32_t(o.height) << 16 : 0);
    return b;
}

Bytes mdhdPayload(const TrackOptions& t) {
    Bytes b;
    b.u32be(0).u32be(0).u32be(0).u32be(t.timeScale).u32be(t.duration).u16be(0x7FFF).u16be(0);
    return b;
}

Bytes hdlrPayload(const std::string& componentType, const std::string& subtype, const std::string& name) {
    Bytes b;
    b.u32be(0).text(componentType).text(fourCC(subtype)).text("appl").u32be(0).u32be(0);
    b.u8(static_cast<uint8_t>(name.size())).text(name);
    return b;
}

Bytes sampleEntry(const ReferenceOptions& o, const TrackOptions& t) {
    Bytes entry;
    entry.zeros(6).u16be(1);
    if (t.handler == "soun") {
        entry.u16be(0).u16be(0).u32be(0).u16be(2).u16be(16).u16be(0).u16be(0).u32be(48000u << 16);
    } else if (t.handler == "vide") {
        entry.u16be(0).u16be(0).text("appl").u32be(0).u32be(0x200);
        entry.u16be(o.width).u16be(o.height).u32be(0x00480000).u32be(0x00480000).u32be(0).u16be(1);
        entry.zeros(32).u16be(24).u16be(0xFFFF);
    }
    entry.append(t.sampleEntryExtra);
    Bytes whole;
    whole.u32be(static_cast<uint32_t>(entry.size() + 8)).text(fourCC(t.format)).append(entry);
    return whole;
}

uint32_t sampleCount(const TrackOptions& t) {
    return static_cast<uint32_t>(t.chunks.size()) * t.samplesPerChunk;
}

Bytes sttsPayload(const TrackOptions& t) {
    Bytes b;
    b.u32be(0).u32be(1).u32be(sampleCount(t)).u32be(t.sampleDelta);
    return b;
}

Bytes stscPayload(const TrackOptions& t) {
    Bytes b;
    b.u32be(0).u32be(1).u32be(1).u32be(t.samplesPerChunk).u32be(1);
    return b;
}

Bytes stszPayload(const TrackOptions& t) {
    Bytes b;
    b.u32be(0).u32be(t.constantSampleSize).u32be(sampleCount(t));
    if (t.constantSampleSize == 0) {
        const uint32_t perChunk = std::max<uint32_t>(1, t.samplesPerChunk);
        for (const Bytes& chunk : t.chunks)
            for (uint32_t s = 0; s < t.samplesPerChunk; ++s)
                b.u32be(static_cast<uint32_t>(chunk.size() / perChunk));
    }
    return b;
}

Bytes chunkTablePayload(const TrackOptions& t, const std::vector<uint64_t>& offsets) {
    Bytes b;
    b.u32be(0).u32be(static_cast<uint32_t>(offsets.size()));
    for (uint64_t offset : offsets) {
        if (t.co64) b.u64be(offset);
        else b.u32be(static_cast<uint32_t>(offset));
    }
    return b;
}

Node dinfNode(AtomPos* slot) {
    Bytes dref;
    dref.u32be(0).u32be(1).append(atom("alis", Bytes().u32be(1)));
    return branch("dinf", {leaf("dref", dref)}, slot);
}

Node mediaHeaderNode(const TrackOptions& t, AtomPos* slot) {
    if (t.handler == "vide") return leaf("vmhd", Bytes().u32be(1).u16be(0x40).zeros(6), slot);
    if (t.handler == "soun") return leaf("smhd", Bytes().u32be(0).u16be(0).u16be(0), slot);
    Bytes gmin;
    gmin.u32be(0).u16be(0x40).u16be(0x8000).u16be(0x8000).u16be(0x8000).u16be(0).u16be(0);
    return branch("gmhd", {leaf("gmin", gmin)}, slot);
}

Node trakNode(const ReferenceOptions& o, const TrackOptions& t, uint32_t trackId, TrackLayout& layout) {
    Bytes stsd;
    stsd.u32be(0).u32be(1).append(sampleEntry(o, t));
    const std::string name = t.handler == "vide" ? "Video Media Handler" : "Sound Media Handler";
    Node stbl = branch("stbl",
                       {leaf("stsd", stsd, &layout.stsd), leaf("stts", sttsPayload(t), &layout.stts),
                        leaf("stsc", stscPayload(t), &layout.stsc), leaf("stsz", stszPayload(t), &layout.stsz),
                        leaf(t.co64 ? "co64" : "stco", chunkTablePayload(t, layout.chunkOffsets),
                             &layout.chunkTable)},
                       &layout.stbl);
    Node minf = branch("minf",
                       {mediaHeaderNode(t, &layout.mediaHeader),
                        leaf("hdlr", hdlrPayload("dhlr", "alis", "Alias Data Handler"), &layout.dataHandler),
                        dinfNode(&layout.dinf), std::move(stbl)},
                       &layout.minf);
    Node mdia = branch("mdia",
                       {leaf("mdhd", mdhdPayload(t), &layout.mdhd),
                        leaf("hdlr", hdlrPayload("mhlr", t.handler, name), &layout.hdlr), std::move(minf)},
                       &layout.mdia);
    return branch("trak", {leaf("tkhd", tkhdPayload(o, t, trackId), &layout.tkhd), std::move(mdia)},
                  &layout.trak);
}

Bytes ftypAtom(const ReferenceOptions& o) {
    Bytes payload;
    payload.text(fourCC(o.majorBrand)).u32be(0x00000200);
    for (const std::string& brand : o.compatibleBrands) payload.text(fourCC(brand));
    payload.append(o.ftypTail);
    return atom("ftyp", payload);
}

Bytes moovAtom(const ReferenceOptions& o, ReferenceLayout& layout, uint64_t at) {
    std::vector<Node> children;
    const auto udta = [&] {
        Bytes item;
        item.u16be(static_cast<uint16_t>(o.model.size() + 1)).u16be(0).text(o.model).u8(0);
        return branch("udta", {leaf("\xA9mod", item)}, &layout.udta);
    };
    if (!o.model.empty() && o.udtaFirst) children.push_back(udta());
    children.push_back(leaf("mvhd", mvhdPayload(o, static_cast<uint32_t>(o.tracks.size() + 1)), &layout.mvhd));
    for (const Bytes& extra : o.moovExtraAtoms) children.push_back(Node{"", extra, {}, nullptr, true});
    for (size_t i = 0; i < o.tracks.size(); ++i)
        children.push_back(trakNode(o, o.tracks[i], static_cast<uint32_t>(i + 1), layout.tracks[i]));
    if (!o.model.empty() && !o.udtaFirst) children.push_back(udta());

    Bytes moov;
    serialise(branch("moov", std::move(children), &layout.moov), moov, at);
    return moov;
}

}  // namespace

std::vector<uint8_t> ReferenceLayout::slice(uint64_t offset, uint64_t length) const {
    if (offset > bytes.size()) return {};
    const uint64_t end = std::min<uint64_t>(bytes.size(), offset + length);
    return std::vector<uint8_t>(bytes.begin() + static_cast<std::ptrdiff_t>(offset),
                                bytes.begin() + static_cast<std::ptrdiff_t>(end));
}

ReferenceLayout buildReference(const ReferenceOptions& o) {
    ReferenceLayout layout;
    layout.tracks.resize(o.tracks.size());

    Bytes head;
    const Bytes ftyp = ftypAtom(o);
    layout.ftyp = AtomPos{0, ftyp.size()};
    head.append(ftyp);
    for (const Bytes& extra : o.atomsBeforeMdat) head.append(extra);

    // Media data: chunk i of every track, then chunk i + 1 of every track.
    Bytes media;
    std::vector<std::vector<uint64_t>> relative(o.tracks.size());
    size_t rounds = 0;
    for (const TrackOptions& t : o.tracks) rounds = std::max(rounds, t.chunks.size());
    for (size_t i = 0; i < rounds; ++i)
        for (size_t k = 0; k < o.tracks.size(); ++k)
            if (i < o.tracks[k].chunks.size()) {
                relative[k].push_back(media.size());
                media.append(o.tracks[k].chunks[i]);
            }
    const uint64_t mdatHeader = o.mdat64 ? 16 : 8;
    Bytes mdat;
    if (o.mdat64) mdat.u32be(1).text("mdat").u64be(mdatHeader + media.size());
    else mdat.u32be(static_cast<uint32_t>(mdatHeader + media.size())).text("mdat");
    mdat.append(media);

    // The moov's size does not depend on the offset values, so one trial
    // build tells where the mdat lands when moov comes first.
    const auto placeChunks = [&](uint64_t mdatAt) {
        for (size_t k = 0; k < o.tracks.size(); ++k) {
            layout.tracks[k].chunkOffsets.clear();
            for (uint64_t r : relative[k]) layout.tracks[k].chunkOffsets.push_back(mdatAt + mdatHeader + r);
        }
    };
    Bytes file = head;
    if (o.moovFirst) {
        placeChunks(0);
        const uint64_t moovSize = moovAtom(o, layout, head.size()).size();
        placeChunks(head.size() + moovSize);
        file.append(moovAtom(o, layout, head.size()));
        layout.mdat = AtomPos{file.size(), mdat.size()};
        file.append(mdat);
    } else {
        layout.mdat = AtomPos{file.size(), mdat.size()};
        placeChunks(file.size());
        file.append(mdat);
        file.append(moovAtom(o, layout, file.size()));
    }
    layout.trailingOffset = file.size();
    file.append(o.trailing);

    layout.bytes = file.vec();
    for (const auto& [at, patch] : o.patches) {
        if (at + patch.size() > layout.bytes.size()) layout.bytes.resize(at + patch.size(), 0);
        std::copy(patch.vec().begin(), patch.vec().end(), layout.bytes.begin() + static_cast<std::ptrdiff_t>(at));
    }
    return layout;
}

ReferenceLayout writeReference(const std::string& path, const ReferenceOptions& options) {
    ReferenceLayout layout = buildReference(options);
    writeWholeFile(path, layout.bytes);
    return layout;
}

Bytes chunkStartingWith(const Bytes& head, size_t size, uint8_t fill) {
    Bytes b = head;
    if (b.size() < size) b.fill(size - b.size(), fill);
    return b;
}

Bytes avcFrame(uint8_t nal0, uint8_t nal1, size_t payloadSize) {
    Bytes b;
    b.u32be(static_cast<uint32_t>(payloadSize + 2)).u8(nal0).u8(nal1).fill(payloadSize, 0x3C);
    return b;
}

TrackOptions avcVideoTrack(size_t chunkCount, uint8_t nal0, uint8_t nal1) {
    TrackOptions t;
    t.handler = "vide";
    t.format = "avc1";
    t.timeScale = 30000;
    t.sampleDelta = 1001;
    t.duration = static_cast<uint32_t>(chunkCount) * 1001;
    for (size_t i = 0; i < chunkCount; ++i) t.chunks.push_back(avcFrame(nal0, nal1, 3000 + 10 * i));
    return t;
}

TrackOptions soundTrack(const std::string& format, size_t chunkCount, size_t chunkSize, const Bytes& head) {
    TrackOptions t;
    t.handler = "soun";
    t.format = format;
    t.timeScale = 48000;
    t.sampleDelta = 1;
    t.samplesPerChunk = static_cast<uint32_t>(chunkSize / 4);
    t.constantSampleSize = 1;
    t.duration = static_cast<uint32_t>(chunkCount) * t.samplesPerChunk;
    for (size_t i = 0; i < chunkCount; ++i) t.chunks.push_back(chunkStartingWith(head, chunkSize, 0x11));
    return t;
}

Bytes waveAtom() {
    Bytes esds;
    esds.u32be(0).u8(0x03).u8(0x19).zeros(25);
    return atom("wave", Bytes()
                            .append(atom("frma", Bytes().text("mp4a")))
                            .append(atom("mp4a", Bytes().u32be(0)))
                            .append(atom("esds", esds))
                            .append(atom(std::string(4, '\0'))));
}

ReferenceOptions cameraReference() {
    ReferenceOptions o;
    o.tracks = {avcVideoTrack(), soundTrack()};
    return o;
}

}  // namespace arbel::test

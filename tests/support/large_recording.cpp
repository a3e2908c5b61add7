#include "large_recording.h"

#include "atom_tree.h"
#include "temp_dir.h"
#include "platform/file_reader.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace arbel::test {

Intact LargeRecording::intact() const {
    Intact n;
    for (const LargeUnit& u : units) {
        if (u.video) {
            ++n.video;
        } else {
            ++n.audio;
            n.audioBytes += u.size;
        }
    }
    return n;
}

ClipMedia clipMediaOf(const CameraFile& file) {
    ClipMedia clip;
    clip.file = &file.bytes;
    for (const UnitPlace& u : file.videoFrames) clip.units.push_back({u.offset, u.size, true});
    for (const UnitPlace& u : file.audioUnits) clip.units.push_back({u.offset, u.size, false});
    std::sort(clip.units.begin(), clip.units.end(),
              [](const LargeUnit& a, const LargeUnit& b) { return a.offset < b.offset; });
    if (clip.units.empty()) return clip;
    clip.begin = clip.units.front().offset;
    for (const LargeUnit& u : clip.units) clip.end = std::max(clip.end, u.offset + u.size);
    return clip;
}

ByteString cutRecordingPrefix(const CameraFile& file) {
    ByteString prefix(file.bytes.begin(), file.bytes.begin() + static_cast<std::ptrdiff_t>(file.mdatOffset));
    prefix.insert(prefix.end(), {0, 0, 0, 0, 'm', 'd', 'a', 't'});
    return prefix;
}

std::optional<LargeRecording> writeRepeatedRecording(const std::string& path, const ByteString& prefix,
                                                     const ClipMedia& clip, uint64_t targetBytes,
                                                     std::string& error) {
    if (clip.units.empty() || clip.end <= clip.begin) {
        error = "the clip holds no media";
        return std::nullopt;
    }
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        error = path + ": " + std::strerror(errno);
        return std::nullopt;
    }
    // Repetitions gather in a buffer of some MiB and go out in one write.
    constexpr size_t kBuffer = 16 << 20;
    ByteString buffer;
    buffer.reserve(kBuffer + (clip.end - clip.begin));
    LargeRecording r;
    r.path = path;
    bool ok = true;
    const auto flush = [&] {
        size_t done = 0;
        while (ok && done < buffer.size()) {
            const ssize_t n = ::write(fd, buffer.data() + done, buffer.size() - done);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                error = path + ": " + std::strerror(n < 0 ? errno : ENOSPC);
                ok = false;
            } else {
                done += static_cast<size_t>(n);
            }
        }
        buffer.clear();
    };
    const uint8_t* media = clip.file->data();
    buffer.insert(buffer.end(), prefix.begin(), prefix.end());
    r.bytes = prefix.size();
    while (ok && r.bytes < targetBytes) {
        const uint64_t base = r.bytes - clip.begin;
        buffer.insert(buffer.end(), media + clip.begin, media + clip.end);
        for (const LargeUnit& u : clip.units) r.units.push_back({base + u.offset, u.size, u.video});
        r.bytes += clip.end - clip.begin;
        if (buffer.size() >= kBuffer) flush();
    }
    // Cut inside the first unit of one more clip.
    const uint64_t cut = clip.units.front().offset + clip.units.front().size / 2;
    buffer.insert(buffer.end(), media + clip.begin, media + cut);
    r.bytes += cut - clip.begin;
    flush();
    if (::close(fd) != 0 && ok) {
        error = path + ": " + std::strerror(errno);
        ok = false;
    }
    if (!ok) return std::nullopt;
    return r;
}

uint64_t freeBytesAt(const std::string& path) {
    struct statvfs st {};
    if (::statvfs(path.c_str(), &st) != 0) return 0;
    return static_cast<uint64_t>(st.f_bavail) * st.f_frsize;
}

MeasuredRun runMeasured(const std::vector<std::string>& command) {
    MeasuredRun m;
    // A spawned child's own peak is not to be had from wait4: it starts as a
    // copy of this process and keeps that copy's peak. GNU time is small, and
    // the peak it reports for its child is the child's alone.
    static const char* const kTime = "/usr/bin/time";
    static const std::string kPeakTag = "arbel-peak-kib ";
    const bool timed = ::access(kTime, X_OK) == 0;
    std::vector<std::string> argv = command;
    if (timed) argv.insert(argv.begin(), {kTime, "-f", kPeakTag + "%M"});
    const auto start = std::chrono::steady_clock::now();
    m.run = runProgram(argv);
    m.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const size_t tag = timed ? m.run.output.rfind(kPeakTag) : std::string::npos;
    if (tag != std::string::npos) {
        m.peakKiB = std::strtol(m.run.output.c_str() + tag + kPeakTag.size(), nullptr, 10);
        m.run.output.erase(tag);
    }
    return m;
}

namespace {

// Where the value of "field" begins (past the colon and blanks), or npos.
size_t jsonValueAt(const std::string& json, const std::string& field) {
    size_t at = json.find("\"" + field + "\":");
    if (at == std::string::npos) return at;
    at += field.size() + 3;
    while (at < json.size() && json[at] == ' ') ++at;
    return at;
}

}  // namespace

uint64_t jsonNumber(const std::string& json, const std::string& field) {
    const size_t at = jsonValueAt(json, field);
    return at == std::string::npos ? 0 : std::strtoull(json.c_str() + at, nullptr, 10);
}

std::string jsonText(const std::string& json, const std::string& field) {
    const size_t at = jsonValueAt(json, field);
    if (at == std::string::npos || at >= json.size() || json[at] != '"') return {};
    return json.substr(at + 1, json.find('"', at + 1) - at - 1);
}

std::vector<ProbedStream> probeStreams(const std::string& path, std::string& error) {
    const ProgramRun probe = runProgram({"ffprobe", "-v", "error", "-count_packets", "-show_entries",
                                         "stream=codec_type,nb_frames,nb_read_packets,duration", "-of",
                                         "default=nw=1", path});
    std::vector<ProbedStream> streams;
    if (probe.exitCode != 0) {
        error = probe.output;
        return streams;
    }
    size_t at = 0;
    while (at < probe.output.size()) {
        const size_t end = std::min(probe.output.find('\n', at), probe.output.size());
        const std::string line = probe.output.substr(at, end - at);
        at = end + 1;
        const size_t eq = line.find('=');
        if (eq == std::string::npos) {
            error += line + "\n";
            continue;
        }
        const std::string key = line.substr(0, eq), value = line.substr(eq + 1);
        if (key == "codec_type") streams.push_back({value});
        if (streams.empty()) continue;
        if (key == "nb_frames") streams.back().frames = std::strtoull(value.c_str(), nullptr, 10);
        if (key == "nb_read_packets") streams.back().packets = std::strtoull(value.c_str(), nullptr, 10);
        if (key == "duration") streams.back().seconds = std::strtod(value.c_str(), nullptr);
    }
    return streams;
}

std::string decodeEnd(const std::string& path, double durationSeconds, double seconds) {
    const double from = std::max(0.0, durationSeconds - seconds);
    const ProgramRun run = runProgram({"ffmpeg", "-nostdin", "-v", "error", "-ss", std::to_string(from), "-i", path,
                                       "-f", "null", "-"});
    if (run.exitCode != 0) return "ffmpeg exited with " + std::to_string(run.exitCode) + ": " + run.output;
    return run.output;
}

namespace {

uint32_t be32(const uint8_t* p) {
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

constexpr uint64_t kLargestHeaderAtom = 1ull << 30;

}  // namespace

QuickTimeReadBack readQuickTimeBack(const std::string& path) {
    QuickTimeReadBack r;
    FileReader in(path);
    if (!in.isOpen()) {
        r.errors.push_back("the file does not open");
        return r;
    }
    const uint64_t size = in.size();
    uint64_t mediaStart = 0;
    ByteString header;  // every atom but the media data, in file order
    for (uint64_t at = 0; at < size;) {
        uint8_t h[16];
        in.readAt(at, h, sizeof h);
        uint64_t atomSize = be32(h);
        uint64_t headerSize = 8;
        if (atomSize == 1) {
            atomSize = (uint64_t{be32(h + 8)} << 32) | be32(h + 12);
            headerSize = 16;
        }
        const std::string type(reinterpret_cast<const char*>(h + 4), 4);
        if (atomSize < headerSize || atomSize > size - at) {
            r.errors.push_back("top-level '" + type + "' at " + std::to_string(at) + " has size " +
                               std::to_string(atomSize));
            break;
        }
        if (type == "mdat") {
            mediaStart = at + headerSize;
            r.mediaEnd = at + atomSize;
            r.wideMediaHeader = headerSize == 16;
        } else if (atomSize <= kLargestHeaderAtom) {
            const ByteString bytes = in.readAt(at, static_cast<size_t>(atomSize));
            header.insert(header.end(), bytes.begin(), bytes.end());
        } else {
            r.errors.push_back("a header atom of " + std::to_string(atomSize) + " bytes");
        }
        at += atomSize;
    }
    if (r.mediaEnd == 0) r.errors.push_back("no media data");

    const AtomTree tree = AtomTree::parse(header);
    for (const std::string& e : tree.errors()) r.errors.push_back(e);
    std::vector<const Atom*> tracks;
    for (const Atom& top : tree.top()) {
        if (top.type == "trak") tracks.push_back(&top);
        if (top.type != "moov") continue;
        for (const Atom& child : top.children) {
            if (child.type == "trak") tracks.push_back(&child);
            if (child.type == "mvhd" && tree.bytes().at(child.payloadOffset()) == 1) r.headerVersions.push_back("mvhd1");
        }
    }
    const auto childOf = [](const Atom& parent, const char* type) -> const Atom* {
        for (const Atom& c : parent.children)
            if (c.type == type) return &c;
        return nullptr;
    };
    for (const Atom* trak : tracks) {
        const Atom* tkhd = childOf(*trak, "tkhd");
        const Atom* mdia = childOf(*trak, "mdia");
        if (tkhd && tree.bytes().at(tkhd->payloadOffset()) == 1) r.headerVersions.push_back("tkhd1");
        const Atom* mdhd = mdia ? childOf(*mdia, "mdhd") : nullptr;
        if (mdhd && tree.bytes().at(mdhd->payloadOffset()) == 1) r.headerVersions.push_back("mdhd1");
        const Atom* hdlr = mdia ? childOf(*mdia, "hdlr") : nullptr;
        const Atom* minf = mdia ? childOf(*mdia, "minf") : nullptr;
        const Atom* stbl = minf ? childOf(*minf, "stbl") : nullptr;
        if (!hdlr || !stbl || hdlr->payloadSize() < 12) {
            r.errors.push_back("a track without handler or sample tables");
            continue;
        }
        const std::string handler(reinterpret_cast<const char*>(tree.bytes().data() + hdlr->payloadOffset() + 8), 4);
        const Atom* stsz = childOf(*stbl, "stsz");
        const Atom* stco = childOf(*stbl, "stco");
        const Atom* co64 = childOf(*stbl, "co64");
        const Atom* offsets = co64 ? co64 : stco;
        if (!stsz || !offsets) {
            r.errors.push_back(handler + ": no sample sizes or chunk offsets");
            continue;
        }
        r.trackSamples.emplace_back(handler, tree.u32(stsz->payloadOffset() + 8));
        r.chunkTables.push_back(offsets->type);
        // Results keep the recording's order: an offset that wrapped at 4 GiB would go back.
        bool past4GiB = false;
        uint64_t previous = 0;
        for (uint64_t o : tree.chunkOffsets(*offsets)) {
            if (o < mediaStart || o >= r.mediaEnd || o < previous) {
                r.errors.push_back(handler + ": a chunk offset outside the media data or out of order: " +
                                   std::to_string(o));
                break;
            }
            previous = o;
            past4GiB = past4GiB || o > 0xFFFFFFFFull;
        }
        if (past4GiB && offsets->type != "co64") r.errors.push_back(handler + ": offsets past 4 GiB in 'stco'");
    }
    return r;
}

}  // namespace arbel::test

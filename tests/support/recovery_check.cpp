#include "recovery_check.h"

#include "temp_dir.h"

#include <algorithm>
#include <cstring>

namespace arbel::test {

namespace {

bool isPcm(const std::string& format) {
    return format == "sowt" || format == "twos" || format == "in24" || format == "in32" || format == "ulaw" ||
           format == "alaw" || format == "raw " || format == "lpcm" || format == "fl32" || format == "fl64";
}

ByteString bytesOf(const ByteString& file, const UnitPlace& u) {
    if (u.offset > file.size() || u.size > file.size() - u.offset) return {};
    return ByteString(file.begin() + static_cast<long>(u.offset), file.begin() + static_cast<long>(u.offset + u.size));
}

// Whether every byte of `piece` continues some original unit: cut into runs,
// each found inside one unit.
bool madeOfUnits(const ByteString& piece, const std::vector<ByteString>& units) {
    size_t at = 0;
    while (at < piece.size()) {
        const size_t key = std::min<size_t>(32, piece.size() - at);
        size_t best = 0;
        for (const ByteString& u : units) {
            auto hit = std::search(u.begin(), u.end(), piece.begin() + static_cast<long>(at),
                                   piece.begin() + static_cast<long>(at + key));
            while (hit != u.end()) {
                size_t n = 0;
                const size_t from = static_cast<size_t>(hit - u.begin());
                while (at + n < piece.size() && from + n < u.size() && piece[at + n] == u[from + n]) ++n;
                best = std::max(best, n);
                hit = std::search(hit + 1, u.end(), piece.begin() + static_cast<long>(at),
                                  piece.begin() + static_cast<long>(at + key));
            }
            if (best == piece.size() - at) break;
        }
        if (best < key) return false;
        at += best;
    }
    return true;
}

TrackRecovery unitRecovery(const std::string& resultPath, const TrackUnits& result, const ByteString& original,
                           const std::vector<UnitPlace>& units, const std::vector<size_t>& survivors) {
    TrackRecovery r;
    r.survived = survivors.size();
    r.resultUnits = result.units.size();
    const UnitMatch m = matchUnits(resultPath, result.units, original, units, survivors);
    r.recovered = m.matchedOriginals;
    r.foreign = m.foreign;
    return r;
}

TrackRecovery pcmRecovery(const ByteString& result, const TrackUnits& track, const ByteString& original,
                          const std::vector<UnitPlace>& units, const std::vector<size_t>& survivors) {
    TrackRecovery r;
    r.survived = survivors.size();
    r.resultUnits = track.units.size();
    std::vector<ByteString> originals;
    for (const UnitPlace& u : units) originals.push_back(bytesOf(original, u));
    ByteString sound;
    for (const UnitPlace& u : track.units) {
        const ByteString piece = bytesOf(result, u);
        if (!madeOfUnits(piece, originals)) ++r.foreign;
        sound.insert(sound.end(), piece.begin(), piece.end());
    }
    for (size_t i : survivors)
        if (std::search(sound.begin(), sound.end(), originals[i].begin(), originals[i].end()) != sound.end())
            ++r.recovered;
    return r;
}

}  // namespace

CameraFile cameraFileOf(const std::string& path, std::string& error) {
    CameraFile f;
    f.bytes = readWholeFile(path);
    for (const TrackUnits& t : readTracks(path, error)) {
        if (t.handler == "vide" && f.videoFrames.empty()) f.videoFrames = t.units;
        if (t.handler == "soun" && f.audioUnits.empty()) f.audioUnits = f.audioChunks = t.units;
    }
    for (uint64_t at = 0; at + 8 <= f.bytes.size();) {
        uint64_t size = (uint64_t{f.bytes[at]} << 24) | (uint64_t{f.bytes[at + 1]} << 16) |
                        (uint64_t{f.bytes[at + 2]} << 8) | f.bytes[at + 3];
        if (size < 8 || size > f.bytes.size() - at) break;
        if (!std::memcmp(f.bytes.data() + at + 4, "mdat", 4)) f.mdatOffset = at;
        if (!std::memcmp(f.bytes.data() + at + 4, "moov", 4)) f.moovOffset = at;
        at += size;
    }
    return f;
}

Recovery recoveryOf(const std::string& resultPath, const CameraFile& original, const ByteString& damaged) {
    Recovery r;
    const Survivors survivors = survivorsOf(original, damaged);
    const ByteString result = readWholeFile(resultPath);
    for (const TrackUnits& t : readTracks(resultPath, r.error)) {
        if (t.handler == "vide")
            r.video = unitRecovery(resultPath, t, original.bytes, original.videoFrames, survivors.videoFrames);
        else if (t.handler == "soun" && isPcm(t.format))
            r.audio = pcmRecovery(result, t, original.bytes, original.audioUnits, survivors.audioUnits);
        else if (t.handler == "soun")
            r.audio = unitRecovery(resultPath, t, original.bytes, original.audioUnits, survivors.audioUnits);
    }
    r.video.survived = survivors.videoFrames.size();
    r.audio.survived = survivors.audioUnits.size();
    return r;
}

}  // namespace arbel::test

// The shared scanning skeleton: windows, poll points, look-ahead reads and the
// copy-and-record of every unit taken.
#include "scan_skeleton.h"


#include <algorithm>
#include <cstring>

namespace arbel {

bool ScanVariant::leadingAudioApplies(const MediaScanner& scanner) const {
    const ReferenceTemplates& t = scanner.templates();
    return t.stco_Address_Audio_sizetojump < t.stco_Address_Video_first_chunk_sizetojump;
}

void ScanVariant::record(MediaScanner& scanner, const TakenUnit& unit, uint64_t resultOffset) {
    if (unit.kind == UnitKind::Video) scanner.recordVideo(resultOffset, unit.length);
    else scanner.recordAudio(resultOffset, unit.length);
}

MediaScanner::MediaScanner(StageContext& ctx, const ReferenceAnalysis& analysis, const ReferenceTemplates& templates,
                           SampleTables& tables, ResultFile& result)
    : ctx_(ctx), analysis_(analysis), templates_(templates), tables_(tables), result_(result) {
    end_ = std::min(ctx.damagedSize, ctx.damaged.size());
    // A short file needs a window no longer than itself.
    window_.resize(static_cast<size_t>(std::min<uint64_t>(kWindowBytes, end_)) + kWindowMargin);
}

bool MediaScanner::poll() {
    if (ctx_.stopped()) stopped_ = true;
    return stopped_;
}

void MediaScanner::loadWindow(uint64_t pos) {
    windowStart_ = pos;
    const uint64_t wanted = window_.size();
    const uint64_t available = pos < end_ ? std::min(wanted, end_ - pos) : 0;
    ctx_.damaged.readAt(pos, window_.data(), static_cast<size_t>(available));
    std::fill(window_.begin() + static_cast<std::ptrdiff_t>(available), window_.end(), uint8_t{0});
}

ByteView MediaScanner::bytesAt(uint64_t pos, size_t n, LookBuffer& scratch) const {
    n = std::min(n, scratch.size());
    if (inWindow(pos, n)) return ByteView(window_.data() + (pos - windowStart_), n);
    const uint64_t available = pos < end_ ? std::min<uint64_t>(n, end_ - pos) : 0;
    ctx_.damaged.readAt(pos, scratch.data(), static_cast<size_t>(available));
    std::fill(scratch.begin() + static_cast<std::ptrdiff_t>(available), scratch.begin() + static_cast<std::ptrdiff_t>(n),
              uint8_t{0});
    return ByteView(scratch.data(), n);
}

size_t MediaScanner::read(uint64_t pos, uint8_t* out, size_t n) const {
    if (pos >= end_) return 0;
    n = static_cast<size_t>(std::min<uint64_t>(n, end_ - pos));
    if (inWindow(pos, n)) {
        std::memcpy(out, window_.data() + (pos - windowStart_), n);
        return n;
    }
    return ctx_.damaged.readAt(pos, out, n);
}

uint64_t MediaScanner::find(uint64_t from, uint64_t to, const void* pattern, size_t n) const {
    to = std::min(to, end_);
    if (n == 0 || n > 8 || from >= to || to - from < n) return kNotFound;
    const auto* pat = static_cast<const uint8_t*>(pattern);

    auto search = [&](const uint8_t* data, size_t len, uint64_t base) -> uint64_t {
        // Candidates by the first byte, then the rest compared.
        const uint8_t* p = data;
        const uint8_t* const stop = data + len;
        while (static_cast<size_t>(stop - p) >= n) {
            p = static_cast<const uint8_t*>(std::memchr(p, pat[0], static_cast<size_t>(stop - p) - n + 1));
            if (!p) break;
            if (std::memcmp(p, pat, n) == 0) return base + static_cast<uint64_t>(p - data);
            ++p;
        }
        return kNotFound;
    };

    if (inWindow(from, to - from)) return search(window_.data() + (from - windowStart_), to - from, from);

    constexpr size_t kPiece = 1 << 16;
    if (findPiece_.size() < kPiece) findPiece_.resize(kPiece);
    uint64_t pos = from;
    while (pos < to && to - pos >= n) {
        const size_t len = static_cast<size_t>(std::min<uint64_t>(kPiece, to - pos));
        ctx_.damaged.readAt(pos, findPiece_.data(), len);
        const uint64_t hit = search(findPiece_.data(), len, pos);
        if (hit != kNotFound) return hit;
        if (len < kPiece) break;
        pos += len - (n - 1);  // a pattern may straddle two pieces
    }
    return kNotFound;
}

const uint8_t* MediaScanner::readPiece(uint64_t pos, size_t n) const {
    if (inWindow(pos, n)) return window_.data() + (pos - windowStart_);
    if (findPiece_.size() < n) findPiece_.resize(n);
    const uint64_t available = pos < end_ ? std::min<uint64_t>(n, end_ - pos) : 0;
    ctx_.damaged.readAt(pos, findPiece_.data(), static_cast<size_t>(available));
    std::fill(findPiece_.begin() + static_cast<std::ptrdiff_t>(available), findPiece_.begin() + static_cast<std::ptrdiff_t>(n),
              uint8_t{0});
    return findPiece_.data();
}

std::optional<uint8_t> MediaScanner::byteBefore(uint64_t pos) const {
    if (pos == 0) return std::nullopt;
    if (inWindow(pos - 1, 1)) return window_[static_cast<size_t>(pos - 1 - windowStart_)];
    uint8_t b = 0;
    ctx_.damaged.readAt(pos - 1, &b, 1);
    return b;
}

bool MediaScanner::checkWrites() {
    if (result_.outputfile.failed()) result_.writeFailed = true;
    return !result_.writeFailed;
}

bool MediaScanner::reserveMediaHeader(bool typed) {
    if (result_.mediaHeaderWritten) return checkWrites();
    const uint64_t size = result_.mediaHeaderSize == 16 ? 16 : 8;
    uint8_t header[16] = {};
    if (typed) {
        if (size == 16) header[3] = 1;
        std::memcpy(header + 4, "mdat", 4);
    }
    result_.outputfile.append(header, static_cast<size_t>(size));
    result_.mediaHeaderWritten = true;
    return checkWrites();
}

uint64_t MediaScanner::copyToResult(uint64_t pos, uint64_t len) {
    OutputWriter& out = result_.outputfile;
    const uint64_t resultOffset = out.cursor();
    // What the window already holds is not read again.
    if (inWindow(pos, 1)) {
        const uint64_t inside = std::min<uint64_t>(len, window_.size() - (pos - windowStart_));
        out.append(window_.data() + (pos - windowStart_), static_cast<size_t>(inside));
        pos += inside;
        len -= inside;
    }
    if (len > 0) {
        const uint64_t fromFile = pos < end_ ? std::min(len, end_ - pos) : 0;
        if (fromFile > 0) out.appendFrom(ctx_.damaged, pos, fromFile);
        if (len > fromFile) out.appendZeros(len - fromFile);
    }
    return resultOffset;
}

bool MediaScanner::leadingAudioBefore(uint64_t framePos, TakenUnit& chunk) const {
    const uint64_t size = templates_.sizeAudio;
    if (size == 0 || framePos < 8 || size > framePos - 8) return false;  // nothing to read there
    const uint64_t audioStart = framePos - size;
    LookBuffer scratch;
    const ByteView header = bytesAt(audioStart - 8, 8, scratch);
    bool found = header.fourcc(4, "mdat");
    // The 64-bit form: 00000001 "mdat" and an 8-byte size.
    if (!found && audioStart >= 16) {
        const ByteView wide = bytesAt(audioStart - 16, 8, scratch);
        found = wide.u32be(0) == 1 && wide.fourcc(4, "mdat");
    }
    if (!found) return false;
    chunk = {UnitKind::LeadingAudio, audioStart, size, false};
    return true;
}

bool MediaScanner::takeUnit(ScanVariant& variant, const TakenUnit& unit) {
    // Only what the damaged file holds is ever copied.
    if (unit.length == 0 || unit.position >= end_ || unit.length > end_ - unit.position) return checkWrites();
    if (unit.kind == UnitKind::Video && tables_.sample_count() == 0 && !result_.mediaHeaderWritten &&
        result_.outputfile.cursor() == 0 && variant.leadingAudioApplies(*this)) {
        TakenUnit lead;
        if (leadingAudioBefore(unit.position, lead)) {
            if (!reserveMediaHeader()) return false;
            variant.record(*this, lead, copyToResult(lead.position, lead.length));
        }
    }
    if (!reserveMediaHeader()) return false;
    variant.record(*this, unit, copyToResult(unit.position, unit.length));
    return checkWrites();
}

bool MediaScanner::run(ScanVariant& variant, uint64_t start) {
    ScanStep step;
    step.units.reserve(24);
    uint64_t pos = start;
    while (pos < end_) {
        if (poll()) return false;
        if (!checkWrites()) break;
        loadWindow(pos);
        const uint64_t windowEnd = std::min<uint64_t>(windowStart_ + kWindowBytes, end_);
        const uint8_t* const base = window_.data();
        size_t i = static_cast<size_t>(pos - windowStart_);
        const size_t iEnd = static_cast<size_t>(windowEnd - windowStart_);
        size_t nextPoll = i + kPollEveryBytes;
        bool moved = false;
        while (i < iEnd) {
            const uint8_t* at = base + i;
            if (!variant.isCandidate(at)) {
                if (++i >= nextPoll) {
                    if (poll()) return false;
                    nextPoll = i + kPollEveryBytes;
                }
                continue;
            }
            const uint64_t here = windowStart_ + i;
            step.clear();
            if (!variant.examine(*this, here, at, step)) {
                if (++i >= nextPoll) {
                    if (poll()) return false;
                    nextPoll = i + kPollEveryBytes;
                }
                continue;
            }
            for (const TakenUnit& unit : step.units)
                if (!takeUnit(variant, unit)) break;
            const uint64_t next = std::max(step.next, here + 1);
            tables_.ullBytesTraversed = next;
            if (poll()) return false;
            if (!checkWrites()) {
                pos = end_;
                moved = true;
                break;
            }
            if (next - windowStart_ < kWindowBytes) {
                i = static_cast<size_t>(next - windowStart_);
                nextPoll = i + kPollEveryBytes;
                continue;
            }
            pos = next;
            moved = true;
            break;
        }
        if (!moved) pos = windowEnd;
    }
    tables_.ullBytesTraversed = std::max(pos, start);
    step.clear();
    if (checkWrites() && variant.atEnd(*this, step))
        for (const TakenUnit& unit : step.units)
            if (!takeUnit(variant, unit)) break;
    return true;
}

bool damagedFileReadable(const FileReader& damaged) {
    if (!damaged.isOpen()) return false;
    if (damaged.size() == 0) return true;
    uint8_t first = 0;
    return damaged.readAt(0, &first, 1) == 1;
}

}  // namespace arbel

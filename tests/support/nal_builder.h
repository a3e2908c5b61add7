#pragma once

// Crafted H.264 and HEVC NAL units for the codec tests: parameter sets and
// slice headers written bit by bit, then filler, and access units laid out
// with length prefixes the way MP4 stores them.

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <vector>

namespace arbel::test {

class BitWriter {
public:
    BitWriter& bit(uint32_t b) {
        if (used_ == 0) bytes_.push_back(0);
        if (b) bytes_.back() |= static_cast<uint8_t>(0x80u >> used_);
        used_ = (used_ + 1) % 8;
        return *this;
    }
    BitWriter& bits(uint32_t v, unsigned n) {
        for (unsigned i = n; i > 0; --i) bit((v >> (i - 1)) & 1u);
        return *this;
    }
    BitWriter& ue(uint32_t v) {
        const uint64_t x = uint64_t{v} + 1;
        unsigned n = 0;
        while ((x >> (n + 1)) != 0) ++n;
        bits(0, n);
        for (unsigned i = n + 1; i > 0; --i) bit(static_cast<uint32_t>((x >> (i - 1)) & 1u));
        return *this;
    }
    BitWriter& se(int32_t v) { return ue(v > 0 ? static_cast<uint32_t>(2 * v - 1) : static_cast<uint32_t>(-2 * v)); }
    // Zero bits up to the next byte (no stop bit).
    std::vector<uint8_t> aligned() {
        while (used_ != 0) bit(0);
        return bytes_;
    }
    // rbsp_trailing_bits, then `filler` bytes of 0x5A (no start-code pattern).
    std::vector<uint8_t> finish(size_t filler = 0) {
        bit(1);
        while (used_ != 0) bit(0);
        bytes_.insert(bytes_.end(), filler, uint8_t{0x5A});
        return bytes_;
    }

private:
    std::vector<uint8_t> bytes_;
    unsigned used_ = 0;
};

// --- H.264: 320x240 (20 x 15 macroblocks), POC type 0 with 8-bit LSBs, 4-bit frame_num.
inline std::vector<uint8_t> h264Sps() {
    BitWriter w;
    w.bits(0x67, 8).bits(66, 8).bits(0, 8).bits(30, 8).ue(0);
    w.ue(0).ue(0).ue(4).ue(1).bit(0).ue(19).ue(14).bit(1).bit(1).bit(0).bit(0);
    return w.finish();
}
inline std::vector<uint8_t> h264Pps() {
    BitWriter w;
    w.bits(0x68, 8).ue(0).ue(0).bit(0).bit(0).ue(0).ue(0).ue(0).bit(0).bits(0, 2).se(0).se(0).se(0).bit(0).bit(0).bit(0);
    return w.finish();
}
struct H264Slice {
    uint8_t header = 0x65;   // nal_ref_idc and nal_unit_type
    uint32_t firstMb = 0;
    uint32_t sliceType = 7;
    uint32_t frameNum = 0;
    uint32_t pocLsb = 0;
    size_t filler = 40;
    uint32_t seed = 0;        // not 0: the filler is noise, as coded pictures are, from this seed
};
inline std::vector<uint8_t> h264SliceNal(const H264Slice& s) {
    BitWriter w;
    w.bits(s.header, 8).ue(s.firstMb).ue(s.sliceType).ue(0).bits(s.frameNum, 4);
    if ((s.header & 0x1F) == 5) w.ue(0);
    w.bits(s.pocLsb, 8);
    std::vector<uint8_t> nal = w.finish(s.filler);
    if (s.seed != 0) {
        uint32_t x = s.seed;
        for (auto it = nal.end() - static_cast<long>(s.filler); it != nal.end(); ++it) {
            x = x * 1664525u + 1013904223u;
            *it = static_cast<uint8_t>((x >> 24) | 1);  // never zero: no start-code pattern
        }
    }
    return nal;
}

// --- HEVC: 320x240 in 64x64 blocks (5 x 4 = 20), 8-bit POC LSBs.
inline std::vector<uint8_t> hevcSps() {
    BitWriter w;
    w.bits(0x42, 8).bits(0x01, 8);
    w.bits(0, 4).bits(0, 3).bit(1);
    w.bits(0, 2).bit(0).bits(1, 5).bits(0x60000000, 32).bits(0xB, 4).bits(0, 32).bits(0, 12).bits(93, 8);
    w.ue(0).ue(1).ue(320).ue(240).bit(0).ue(0).ue(0).ue(4).bit(1).ue(4).ue(2).ue(0).ue(0).ue(3);
    return w.finish();
}
inline std::vector<uint8_t> hevcPps() {
    BitWriter w;
    w.bits(0x44, 8).bits(0x01, 8).ue(0).ue(0).bit(0).bit(0).bits(0, 3);
    return w.finish();
}
struct HevcSlice {
    uint8_t type = 19;        // IDR_W_RADL
    uint8_t temporalId = 0;
    bool first = true;
    uint32_t address = 0;     // of a later segment: 1 to 19
    uint32_t sliceType = 2;
    uint32_t pocLsb = 0;
    size_t filler = 40;
};
inline bool hevcIrap(uint8_t t) { return t >= 16 && t <= 23; }
inline std::vector<uint8_t> hevcSliceNal(const HevcSlice& s) {
    BitWriter w;
    w.bits(0, 1).bits(s.type, 6).bits(0, 6).bits(s.temporalId + 1u, 3);
    w.bit(s.first ? 1 : 0);
    if (hevcIrap(s.type)) w.bit(0);
    w.ue(0);
    if (!s.first) w.bits(s.address, 5);
    w.ue(s.sliceType);
    if (s.type != 19 && s.type != 20) w.bits(s.pocLsb, 8);
    return w.finish(s.filler);
}
// A non-slice HEVC NAL unit of the given type (SEI, delimiter) with a short payload.
inline std::vector<uint8_t> hevcNal(uint8_t type, size_t payload = 6) {
    std::vector<uint8_t> n{static_cast<uint8_t>(type << 1), 0x01};
    n.insert(n.end(), payload, uint8_t{0x5A});
    return n;
}
// A non-slice H.264 NAL unit (SEI 0x06, delimiter 0x09 with its one byte, filler 0x0C).
inline std::vector<uint8_t> h264Nal(uint8_t header, size_t payload = 6) {
    std::vector<uint8_t> n{header};
    n.insert(n.end(), payload, uint8_t{0x5A});
    return n;
}

// NAL units with big-endian length prefixes of `lengthSize` bytes.
inline std::vector<uint8_t> lengthPrefixed(std::initializer_list<std::vector<uint8_t>> nals, unsigned lengthSize = 4) {
    std::vector<uint8_t> out;
    for (const auto& nal : nals) {
        for (unsigned i = lengthSize; i > 0; --i) out.push_back(static_cast<uint8_t>(nal.size() >> (8 * (i - 1))));
        out.insert(out.end(), nal.begin(), nal.end());
    }
    return out;
}

// avcC / hvcC payloads around the parameter sets above.
inline std::vector<uint8_t> avcConfiguration(unsigned lengthSize = 4) {
    const auto sps = h264Sps(), pps = h264Pps();
    std::vector<uint8_t> c{1, 66, 0, 30, static_cast<uint8_t>(0xFC | (lengthSize - 1)), 0xE1};
    c.push_back(static_cast<uint8_t>(sps.size() >> 8));
    c.push_back(static_cast<uint8_t>(sps.size()));
    c.insert(c.end(), sps.begin(), sps.end());
    c.push_back(1);
    c.push_back(static_cast<uint8_t>(pps.size() >> 8));
    c.push_back(static_cast<uint8_t>(pps.size()));
    c.insert(c.end(), pps.begin(), pps.end());
    return c;
}
inline std::vector<uint8_t> hevcConfiguration(unsigned lengthSize = 4) {
    std::vector<uint8_t> c(22, 0);
    c[0] = 1;
    c[21] = static_cast<uint8_t>(0x0C | (lengthSize - 1));
    c.push_back(2);
    for (const auto& nal : {hevcSps(), hevcPps()}) {
        c.push_back(static_cast<uint8_t>(0x80 | (nal[0] >> 1)));
        c.push_back(0);
        c.push_back(1);
        c.push_back(static_cast<uint8_t>(nal.size() >> 8));
        c.push_back(static_cast<uint8_t>(nal.size()));
        c.insert(c.end(), nal.begin(), nal.end());
    }
    return c;
}

}  // namespace arbel::test

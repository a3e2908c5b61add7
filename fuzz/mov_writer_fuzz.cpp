// The final phase from tables and reference pieces the input makes up: any
// camera profile, any counts and sizes, pieces missing or present, the
// general or the MJPEG movie atom. A file it calls complete must read back
// with every atom's size equal to its content and its tables as long as
// their counts say.
#include "engine/mov/repaired_file_writer.h"
#include "fuzz_support.h"
#include "support/atom_tree.h"
#include "support/bytes.h"
#include "support/mov_stages.h"

#include <type_traits>

namespace {

using namespace arbel;
using test::atom;
using test::Bytes;

Bytes handlerAtom(const std::string& kind, const std::string& subtype) {
    return atom("hdlr", Bytes().u32be(0).text(kind).text(subtype).u32be(0).u32be(0).u32be(0).u8(0));
}

// The pieces a camera reference gives, each left out when the input says so.
void givePieces(fuzz::Choices& choose, ReferenceTemplates& t) {
    const uint32_t present = choose.u32();
    auto keep = [&](int bit, std::vector<uint8_t> piece) { return (present >> bit) & 1 ? std::vector<uint8_t>{} : piece; };
    Bytes tkhd;
    tkhd.u32be(92).text("tkhd").u32be(0xF).zeros(76);
    t.trak_data = keep(0, tkhd.vec());
    const Bytes mdhd = Bytes().u32be(32).text("mdhd").u32be(0).u32be(1).u32be(2).u32be(choose.u32());
    t.bpMdhdDataStore = keep(1, mdhd.vec());
    t.bpHdlrDataStore = keep(2, Bytes().u32be(0x55C40000).append(handlerAtom("mhlr", "vide")).vec());
    t.bpMingVmhdDataStore = keep(3, Bytes().text("minf").append(atom("vmhd", Bytes().u32be(1).zeros(8))).vec());
    t.bpMinfHdlrData = keep(4, handlerAtom("dhlr", "alis").vec());
    t.bpMinfDinfData = keep(5, atom("dinf", atom("dref", Bytes().u32be(0).u32be(1).append(atom("alis", Bytes().u32be(1))))).vec());
    t.videoSampleDescription =
        keep(6, Bytes().text("stbl").append(atom("stsd", Bytes().u32be(0).u32be(1).append(atom("avc1", Bytes().zeros(78))))).vec());
    t.stts_data = keep(7, atom("stts", Bytes().u32be(0).u32be(1).u32be(choose.u32()).u32be(choose.u32())).vec());
    t.bpMdhdAudioDataStore = keep(8, Bytes().u32be(32).text("mdhd").u32be(0).u32be(1).u32be(2).u32be(choose.u32()).vec());
    t.bpHdlrAudioDataStore = keep(9, Bytes().u32be(0x55C40000).append(handlerAtom("mhlr", "soun")).vec());
    t.bpAudioMingSmhdDataStore = keep(10, Bytes().text("minf").append(atom("smhd", Bytes().u32be(0).u32be(0))).vec());
    t.bpAudioMinfHdlrData = keep(11, handlerAtom("dhlr", "alis").vec());
    t.bpAudioMinfDinfData = keep(12, t.bpMinfDinfData);
    t.Audio_stsd_data = keep(13, Bytes().text("stbl").append(atom("stsd", Bytes().u32be(0).u32be(1).append(atom("mp4a", Bytes().zeros(28))))).vec());
    t.Movfileisvalid = (present >> 14) & 1 ? 0 : 1;
    t.mvhd_timescale = choose.u32();
    t.duratonFPS = choose.u32();
    t.mdhdAudioTimeScale = choose.u32();
    t.Audio_duratonFPS = choose.u32();
    t.dw_ReffrenceSamplecount = choose.u32();
    t.dw_ReffrenceSamplecountAudio = choose.u32();
    t.firstVideoSampleDelta = choose.u32();
    t.Size_ofAudiochunk = choose.u32();
}

// Any combination of the camera flags.
void giveFlags(fuzz::Choices& choose, CameraFlags& flags) {
    static_assert(std::is_trivially_copyable_v<CameraFlags>);
    auto* bytes = reinterpret_cast<unsigned char*>(&flags);
    for (size_t i = 0; i < sizeof flags; ++i) bytes[i] = (choose.byte() % 16 == 0) ? 1 : 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::Choices choose(data, size);
    test::MovStages stages;
    stages.openBytes({}, {});
    const bool mjpeg = choose.flag();
    const bool wide = choose.flag();
    ReferenceAnalysis& a = stages.analysis;
    a.mp4aPresent = choose.flag();
    a.bIsStopMotionFile = choose.byte() % 8 == 0;
    giveFlags(choose, a.flags);
    givePieces(choose, stages.templates);

    ResultFile& r = stages.result;
    if (!r.create(fuzz::scratchFile("writer.mov"), wide)) return 0;
    r.outputfile.appendZeros(r.mediaHeaderSize);
    r.mediaHeaderWritten = true;
    SampleTables& t = stages.tables;
    // Units as the scans lay them down: a kind and a length each.
    const size_t units = choose.byte();
    for (size_t i = 0; i < units; ++i) {
        const uint8_t kind = choose.byte();
        const uint64_t length = 1 + choose.byte();
        const uint64_t at = r.outputfile.cursor();
        r.outputfile.appendZeros(length);
        if (kind % 4 == 0) {
            if (mjpeg) t.mjpegAudioChunkOffsets.push_back(at);
            t.recordAudio(at, length);
        } else {
            if (mjpeg && kind % 3 == 0) t.mjpegVideoChunkOffsets.push_back(at);
            if (mjpeg) t.mjpegFrameLengths.push_back(length);
            t.recordVideo(at, length);
        }
    }
    if (mjpeg && choose.flag()) t.mjpegLeadingAudioSize = 1 + choose.byte();

    if (mjpeg) stages.finishMjpegPath();
    else stages.finishGeneralPath();
    if (!stages.report.completed()) return 0;

    const test::AtomTree tree = test::AtomTree::parseFile(r.temporaryResultPath);
    for (const auto& error : tree.errors()) std::fprintf(stderr, "%s\n", error.c_str());
    ARBEL_FUZZ_CHECK(tree.wellFormed());
    const test::Atom* stsz = tree.find("moov/trak[0]/mdia/minf/stbl/stsz");
    ARBEL_FUZZ_CHECK(stsz != nullptr);
    ARBEL_FUZZ_CHECK(tree.sampleSizes(*stsz).size() == t.sample_count());
    return 0;
}

// The header templates taken from the reference, the numbers beside them,
// the codec decisions and what is reported on the way.
#include "reference_fixture.h"

namespace arbel {
namespace {

using test::atom;
using test::Bytes;
using test::ReferenceLayout;
using test::ReferenceOptions;


class ReferenceTemplates : public test::ReferenceTest {};

TEST_F(ReferenceTemplates, TypicalCameraReferenceGivesEveryTemplateByteForByte) {
    ReferenceOptions o = test::cameraReference();
    o.movieTimeScale = 2997;
    o.movieDuration = 12345;
    const ReferenceLayout r = test::buildReference(o);
    const auto e = analysed(r.bytes);
    const test::TrackLayout& v = r.tracks[0];
    const test::TrackLayout& a = r.tracks[1];

    EXPECT_EQ(progressValues(), (std::vector<double>{3.0, 5.0, 10.0}));
    EXPECT_EQ(posted("video"), std::vector<std::string>{"avc1"});
    EXPECT_EQ(posted("audio"), std::vector<std::string>{"sowt"});

    EXPECT_EQ(e->templates.its_A_morethen_4GB_FILE, 0);
    EXPECT_EQ(e->templates.Movfileisvalid, 1);
    EXPECT_EQ(e->templates.mvhd_timescale, 2997u);
    EXPECT_EQ(e->templates.duratonFPS, 12345u);

    EXPECT_EQ(e->templates.trak_data, r.slice(v.tkhd));
    EXPECT_EQ(e->templates.bpMdhdDataStore, r.slice(v.mdhd.offset, v.mdhd.size - 8));
    EXPECT_EQ(e->templates.bpHdlrDataStore, r.slice(v.hdlr.offset - 4, v.hdlr.size + 4));
    EXPECT_EQ(e->templates.bpMingVmhdDataStore, r.slice(v.minf.offset + 4, v.mediaHeader.size + 4));
    EXPECT_EQ(e->templates.bpMinfHdlrData, r.slice(v.dataHandler));
    EXPECT_EQ(e->templates.bpMinfDinfData, r.slice(v.dinf));

    EXPECT_EQ(e->templates.videoSampleDescription, r.slice(v.stbl.offset + 4, v.stsd.size + 4));
    EXPECT_EQ(e->templates.stts_data, r.slice(v.stts));
    EXPECT_EQ(e->templates.firstVideoSampleDelta, 1001u);
    EXPECT_EQ(e->templates.dw_ReffrenceSamplecount, 12u);
    ASSERT_EQ(e->templates.videoOffsetCount, 10u);
    for (size_t i = 0; i < 10; ++i) EXPECT_EQ(e->templates.VideoOffsets[i], v.chunkOffsets[i]) << i;
    EXPECT_EQ(e->templates.stco_Address_Video_first_chunk_sizetojump, v.chunkOffsets[9]);
    const auto probe = r.slice(v.chunkOffsets[9], 10);
    EXPECT_TRUE(std::equal(probe.begin(), probe.end(), e->analysis.buffer_for_Address_Video_first_chunk.begin()));

    EXPECT_EQ(e->templates.bpMdhdAudioDataStore, r.slice(a.mdhd.offset, a.mdhd.size - 8));
    EXPECT_EQ(e->templates.bpHdlrAudioDataStore, r.slice(a.hdlr.offset - 4, a.hdlr.size + 4));
    EXPECT_EQ(e->templates.bpAudioMingSmhdDataStore, r.slice(a.minf.offset + 4, a.mediaHeader.size + 4));
    EXPECT_EQ(e->templates.bpAudioMinfHdlrData, r.slice(a.dataHandler));
    EXPECT_EQ(e->templates.bpAudioMinfDinfData, r.slice(a.dinf));
    EXPECT_EQ(e->templates.mdhdAudioTimeScale, 48000u);
    EXPECT_EQ(e->templates.Audio_duratonFPS, o.tracks[1].duration);
    EXPECT_EQ(e->templates.Audio_stsd_data, r.slice(a.stbl.offset + 4, a.stsd.size + 4));
    EXPECT_EQ(e->templates.Size_ofAudiochunk, 512u);
    EXPECT_EQ(e->templates.dw_ReffrenceSamplecountAudio, 12u * 512u);
    EXPECT_EQ(e->templates.stco_Address_Audio_sizetojump, a.chunkOffsets[0]);
    EXPECT_EQ(e->templates.stco_Address_Audio_second_sizetojump, a.chunkOffsets[1]);
    EXPECT_EQ(e->templates.sizeAudio, 2048u);

    EXPECT_EQ(e->analysis.AVC_Codec_Present, 1);
    EXPECT_EQ(e->analysis.decideScanPath(), ScanPath::Variant);
}

TEST_F(ReferenceTemplates, FtypIsJumpedOverToTheNextAtom) {
    ReferenceOptions o = test::cameraReference();
    // A byte-wise search inside the ftyp would take this for 64-bit media data.
    o.ftypTail = Bytes().u32be(1).text("mdat").u32be(0).u32be(16);
    const ReferenceLayout r = test::buildReference(o);
    const auto e = analysed(r.bytes);
    EXPECT_EQ(e->templates.its_A_morethen_4GB_FILE, 0);
    EXPECT_EQ(e->templates.trak_data, r.slice(r.tracks[0].tkhd));
}

TEST_F(ReferenceTemplates, SixtyFourBitMediaDataIsJumpedOverByItsLargeSize) {
    ReferenceOptions o = test::cameraReference();
    o.mdat64 = true;
    // A "moov" inside the media data must not be taken for the movie atom.
    o.tracks[0].chunks[3] = test::chunkStartingWith(Bytes().u32be(4000).u8(0x25).u8(0x88).u32be(100).text("moov"), 4000);
    const ReferenceLayout r = test::buildReference(o);
    const auto e = analysed(r.bytes);
    EXPECT_EQ(e->templates.its_A_morethen_4GB_FILE, 1);
    EXPECT_EQ(e->templates.trak_data, r.slice(r.tracks[0].tkhd));
    // The chunk table is "stco": 4-byte entries whatever the media data's form.
    ASSERT_EQ(e->templates.videoOffsetCount, 10u);
    EXPECT_EQ(e->templates.VideoOffsets[1], r.tracks[0].chunkOffsets[1]);
    EXPECT_EQ(e->templates.stco_Address_Audio_second_sizetojump, r.tracks[1].chunkOffsets[1]);
}

TEST_F(ReferenceTemplates, ChunkTableEntriesAreAsWideAsTheirTableSays) {
    ReferenceOptions o = test::cameraReference();
    o.tracks[0].co64 = true;
    o.tracks[1].co64 = true;
    const ReferenceLayout r = test::buildReference(o);
    const auto e = analysed(r.bytes);
    ASSERT_EQ(e->templates.videoOffsetCount, 10u);
    for (size_t i = 0; i < 10; ++i) EXPECT_EQ(e->templates.VideoOffsets[i], r.tracks[0].chunkOffsets[i]) << i;
    EXPECT_EQ(e->templates.stco_Address_Audio_sizetojump, r.tracks[1].chunkOffsets[0]);
    EXPECT_EQ(e->templates.stco_Address_Audio_second_sizetojump, r.tracks[1].chunkOffsets[1]);
    EXPECT_EQ(e->templates.sizeAudio, 2048u);
}

TEST_F(ReferenceTemplates, MediaDataWithoutAUsableSizeIsSearchedThrough) {
    const ReferenceLayout r = test::buildReference(test::cameraReference());
    std::vector<uint8_t> zero = r.bytes;
    std::fill_n(zero.begin() + static_cast<std::ptrdiff_t>(r.mdat.offset), 4, 0);
    const auto e = analysed(zero);
    EXPECT_EQ(e->templates.trak_data, r.slice(r.tracks[0].tkhd));

    ReferenceOptions o = test::cameraReference();
    o.mdat64 = true;
    const ReferenceLayout r64 = test::buildReference(o);
    std::vector<uint8_t> largeZero = r64.bytes;
    std::fill_n(largeZero.begin() + static_cast<std::ptrdiff_t>(r64.mdat.offset + 8), 8, 0);
    const auto e64 = analysed(largeZero);
    EXPECT_EQ(e64->templates.its_A_morethen_4GB_FILE, 1);
    EXPECT_EQ(e64->templates.videoSampleDescription, r64.slice(r64.tracks[0].stbl.offset + 4, r64.tracks[0].stsd.size + 4));
}

TEST_F(ReferenceTemplates, UserDataFirstInTheMovieAtom) {
    ReferenceOptions o = test::cameraReference();
    o.model = "HDR-CX";
    o.udtaFirst = true;
    o.movieTimeScale = 90000;
    o.movieDuration = 270000;
    const ReferenceLayout r = test::buildReference(o);
    const auto e = analysed(r.bytes);
    EXPECT_EQ(e->templates.mvhd_timescale, 90000u);
    EXPECT_EQ(e->templates.duratonFPS, 270000u);
    EXPECT_EQ(e->templates.trak_data, r.slice(r.tracks[0].tkhd));
}

TEST_F(ReferenceTemplates, TrackWithAnotherHandlerIsNotTakenForSound) {
    test::TrackOptions timecode;
    timecode.handler = "tmcd";
    timecode.format = "tmcd";
    timecode.timeScale = 2997;
    timecode.chunks = {Bytes().u32be(0x11111111)};

    ReferenceOptions o;
    o.tracks = {test::avcVideoTrack(), timecode};
    ReferenceLayout r = test::buildReference(o);
    auto e = analysed(r.bytes);
    EXPECT_EQ(e->templates.bpMdhdAudioDataStore, r.slice(r.tracks[1].mdhd.offset, 24));
    EXPECT_EQ(e->templates.mdhdAudioTimeScale, 0u);
    EXPECT_TRUE(e->templates.Audio_stsd_data.empty());
    EXPECT_TRUE(posted("audio").empty());
    EXPECT_EQ(e->templates.stco_Address_Audio_sizetojump, 0u);
    // The video tables were not overwritten by the other track's.
    EXPECT_EQ(e->templates.stts_data, r.slice(r.tracks[0].stts));
    EXPECT_EQ(e->templates.dw_ReffrenceSamplecount, 12u);

    // A sound track after it is still found.
    o.tracks.push_back(test::soundTrack("twos"));
    r = test::buildReference(o);
    e = analysed(r.bytes);
    EXPECT_EQ(e->templates.bpMdhdAudioDataStore, r.slice(r.tracks[2].mdhd.offset, 24));
    EXPECT_EQ(e->templates.bpAudioMingSmhdDataStore, r.slice(r.tracks[2].minf.offset + 4, 20));
    EXPECT_EQ(e->templates.mdhdAudioTimeScale, 48000u);
    EXPECT_EQ(posted("audio"), std::vector<std::string>{"twos"});
    EXPECT_EQ(e->templates.stco_Address_Audio_sizetojump, r.tracks[2].chunkOffsets[0]);
}

TEST_F(ReferenceTemplates, ReferenceWithoutSoundDecidesByBrandAndCodec) {
    ReferenceOptions o;
    o.compatibleBrands = {"mp42"};
    o.tracks = {test::avcVideoTrack()};
    auto e = analysed(test::buildReference(o).bytes);
    EXPECT_TRUE(posted("audio").empty());
    EXPECT_EQ(e->analysis.AVC_Codec_Present, 1);                                  // from the codec text
    EXPECT_EQ(e->analysis.decideScanPath(), ScanPath::Variant);

    o.tracks[0].format = "mp4v";
    e = analysed(test::buildReference(o).bytes);
    EXPECT_EQ(posted("video"), std::vector<std::string>{"mp4v"});
    EXPECT_EQ(e->analysis.AVC_Codec_Present, 0);
    EXPECT_EQ(e->analysis.decideScanPath(), ScanPath::Refuse);

    o.compatibleBrands = {"isom"};
    e = analysed(test::buildReference(o).bytes);
    EXPECT_EQ(e->analysis.AVC_Codec_Present, 1);  // the brand alone
}

TEST_F(ReferenceTemplates, FormatCodesAndTheirReportedTexts) {
    struct Case {
        std::string video;
        std::string audio;
        const char* videoText;
        const char* audioText;
    };
    const std::vector<Case> cases = {
        {"avc1", "mp4a", "avc1", "mp4a"},
        {std::string("x\0v1", 4), "in24", "v1", "in24"},
        {std::string(4, '\0'), std::string("\0\0\0\x01", 4), "---", "---"},
        {"jpeg", std::string("ms\0U", 4), "jpeg", "sm"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.videoText);
        ReferenceOptions o;
        o.compatibleBrands = {"mp42"};
        o.tracks = {test::avcVideoTrack(), test::soundTrack(c.audio)};
        o.tracks[0].format = c.video;
        const auto e = analysed(test::buildReference(o).bytes);
        EXPECT_EQ(posted("video"), std::vector<std::string>{c.videoText});
        EXPECT_EQ(posted("audio"), std::vector<std::string>{c.audioText});
        EXPECT_EQ(e->analysis.AVC_Codec_Present, c.video == "avc1" ? 1 : 0);
    }

    test::MovStages engine;
    const uint8_t avc[4] = {'a', 'v', 'c', '1'};
    engine.analysis.decideVideoCodec(avc);
    EXPECT_EQ(engine.analysis.codecinformation, (std::array<uint8_t, 4>{'1', 'c', 'v', 'a'}));
    const uint8_t ms[4] = {'m', 's', 0, 'U'};
    engine.analysis.decideAudioCodec(ms);
    EXPECT_EQ(engine.analysis.AudiocodecInforamtion, (std::array<uint8_t, 4>{'m', 's', 0, 'U'}));  // kept in file order
    engine.analysis.decideAudioCodec(avc);
    EXPECT_EQ(engine.analysis.AudiocodecInforamtion, (std::array<uint8_t, 4>{'1', 'c', 'v', 'a'}));
}

TEST_F(ReferenceTemplates, FtypBrandDecidesH264) {
    for (const auto& [brand, expected] : std::vector<std::pair<std::string, uint8_t>>{
             {"avc1", 1}, {"isom", 1}, {"qt  ", 1}, {"mp42", 0}, {"3gp4", 0}}) {
        SCOPED_TRACE(brand);
        test::MovStages engine;
        engine.analysis.AVC_Codec_Present = 7;
        engine.analysis.decideFtypCodec(reinterpret_cast<const uint8_t*>(brand.data()));
        EXPECT_EQ(engine.analysis.AVC_Codec_Present, expected);
    }
    test::MovStages engine;
    engine.analysis.decideFtypCodec(nullptr);
    EXPECT_EQ(engine.analysis.AVC_Codec_Present, 0);
    engine.analysis.flags.bSignature64 = true;
    engine.analysis.decideFtypCodec(reinterpret_cast<const uint8_t*>("mp42"));
    EXPECT_EQ(engine.analysis.AVC_Codec_Present, 1);
}

TEST_F(ReferenceTemplates, SoundDescriptionSearchForAacAndWave) {
    ReferenceOptions o = test::cameraReference();
    o.tracks[1].format = "mp4a";
    o.tracks[1].sampleEntryExtra = test::waveAtom();
    auto e = analysed(test::buildReference(o).bytes);
    EXPECT_EQ(e->analysis.mp4aPresent, 1);
    EXPECT_EQ(e->analysis.wave, 0);

    o.tracks[1].format = "twos";
    o.tracks[1].sampleEntryExtra = atom("wave", atom("frma", Bytes().text("twos")));
    e = analysed(test::buildReference(o).bytes);
    EXPECT_EQ(e->analysis.mp4aPresent, 0);
    EXPECT_EQ(e->analysis.wave, 1);
}

TEST_F(ReferenceTemplates, MotionJpegChunksAreRecognisedFromTheProbe) {
    ReferenceOptions o = test::cameraReference();
    o.tracks[0].format = "jpeg";
    for (auto& chunk : o.tracks[0].chunks) chunk = test::chunkStartingWith(Bytes{0xFF, 0xD8, 0xFF, 0xDB}, 5000);
    const auto e = analysed(test::buildReference(o).bytes);
    EXPECT_EQ(e->analysis.Mjpeg_code_present, 1);
    EXPECT_EQ(e->analysis.AVC_Codec_Present, 0);
    EXPECT_EQ(e->analysis.decideScanPath(), ScanPath::Mjpeg);
}

TEST_F(ReferenceTemplates, AudioChunkLengthRunsToTheNextVideoChunk) {
    // V0 A0 V1 A1 ...: from A0 to V1; A1 lies past V1, so its difference wraps and loses.
    ReferenceOptions o;
    o.tracks = {test::avcVideoTrack(4), test::soundTrack("sowt", 4, 3000)};
    const ReferenceLayout r = test::buildReference(o);
    EXPECT_EQ(analysed(r.bytes)->templates.sizeAudio, 3000u);

    // The second sound chunk inside the gap before V1: the shorter distance wins.
    const uint64_t audioTable = r.tracks[1].chunkTable.offset;
    const uint64_t a1 = r.tracks[1].chunkOffsets[0];
    o.patches = {{audioTable + 20, Bytes().u32be(static_cast<uint32_t>(a1 + 1000))}};
    EXPECT_EQ(analysed(test::buildReference(o).bytes)->templates.sizeAudio, 2000u);

    // No video chunk after the first sound chunk: nothing to measure by.
    o.patches = {{audioTable + 16, Bytes().u32be(static_cast<uint32_t>(r.mdat.offset + r.mdat.size))}};
    EXPECT_EQ(analysed(test::buildReference(o).bytes)->templates.sizeAudio, 0u);
}

}  // namespace
}  // namespace arbel

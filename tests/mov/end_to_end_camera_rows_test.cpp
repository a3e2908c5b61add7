// Recordings of the cameras that the middle and last groups of the scan
// dispatch serve, made from real encodes with the NAL header bytes and audio
// unit starts those cameras write, damaged, repaired and decoded.
#include "end_to_end_fixture.h"

#include <algorithm>
#include <string>
#include <vector>

namespace arbel {
namespace {

using namespace arbel::test;

// One camera family: what its recordings hold and which row reads them.
struct CameraRow {
    const char* name;
    std::vector<std::string> markers;  // the dispatch picks one of these
    H264Units units;
    NalHeaders nal;
    bool cabac;                        // false where slice types are rewritten
    std::string model;
    Brand brand;
    bool aac;
    uint32_t sampleRate;
    uint16_t channels;
    AacEncoding encoding;
    AacRewrite rewrite;
    uint32_t framesPerChunk;
    uint16_t width = 320, height = 240;
};

const CameraRow kRows[] = {
    // Canon with 25 88 and uncompressed sound between pairs of frames.
    {"canon-pcm", {"8"}, {}, NalHeaders{0x25, 0x61, false}, true, "Canon EOS 80D", Brand::QuickTime, false, 48000, 2,
     {}, {}, 2},
    // Two slices per frame (25 B8 and 21), mono AAC whose units begin 01 ?? 15
    // (sine window, max_sfb 42 at 32 kHz with an 11.5 kHz band). At 640x480
    // the second slice of an IDR starts at macroblock 600, whose code begins
    // with eight zero bits: 25 00, as the row's confirmation expects.
    {"two-slices", {"10"}, H264Units{2, false, false}, NalHeaders{0x25, 0x21, true}, false, "", Brand::QuickTime, true,
     32000, 1, AacEncoding{56000, 11500}, AacRewrite{true, {}}, 30, 640, 480},
    // 25 88 and 21 slices with stereo AAC (a channel pair: units begin 21).
    {"stereo-2588", {"14", "15"}, {}, NalHeaders{0x25, 0x21, false}, true, "", Brand::Isom, true, 48000, 2,
     AacEncoding{128000, 16000}, {}, 30},
    // 65 88 and 41 slices with mono AAC whose units begin 01 ?? 0B (sine
    // window, max_sfb 22 at 32 kHz with a 2.6 kHz band).
    {"mono-6588", {"16"}, {}, NalHeaders{0x65, 0x41, false}, true, "", Brand::Isom, true, 32000, 1,
     AacEncoding{48000, 2600}, AacRewrite{true, {}}, 30},
    // A Canon compact: the generic frame starts and stereo AAC, whose unit
    // starts the scan learns from the reference.
    {"canon-compact", {"02/08/19"}, {}, NalHeaders{0x25, 0x21, false}, true, "Canon PowerShot G7 X Mark II",
     Brand::Isom, true, 48000, 2, AacEncoding{128000, 16000}, {}, 30},
};

class CameraRowEndToEnd : public EndToEnd, public ::testing::WithParamInterface<CameraRow> {
protected:
    Recording record(const CameraRow& row) {
        Recording r;
        std::string error;
        auto refVideo = cache().h264(row.width, row.height, 30, 120, 0, 30, row.cabac, error, row.units);
        auto recVideo = cache().h264(row.width, row.height, 30, 240, 300, 30, row.cabac, error, row.units);
        auto audio = row.aac ? cache().audio(AudioCodec::Aac, row.sampleRate, row.channels, 8.5, 440, error,
                                             row.encoding)
                             : cache().audio(AudioCodec::Sowt, row.sampleRate, row.channels, 8.5, 440, error);
        if (!refVideo || !recVideo || !audio) {
            ADD_FAILURE() << error;
            return r;
        }
        EXPECT_EQ(refVideo->sps, recVideo->sps);
        LayoutOptions layout;
        layout.brand = row.brand;
        layout.framesPerVideoChunk = row.framesPerChunk;
        layout.nal = row.nal;
        layout.cameraModel = row.model;
        layout.aac = row.rewrite;
        r.reference = layOutCameraFile(*refVideo, *audio, layout);
        r.original = layOutCameraFile(*recVideo, *audio, layout);
        return r;
    }

    void expectRepaired(const CameraRow& row, const Recording& rec, const ByteString& damaged, const char* how) {
        SCOPED_TRACE(how);
        const Outcome o = repair(rec, damaged, "h264");
        report((std::string(row.name) + "/" + how).c_str(), o);
        ASSERT_TRUE(o.run.completed()) << o.run.statusTrail();
        EXPECT_NE(std::find(row.markers.begin(), row.markers.end(), o.run.scanVariant), row.markers.end())
            << "scan " << o.run.scanVariant;
        expectPlayable(o.run.resultPath, "h264");
        expectMostVideo(o);
        expectMostAudio(o);
    }
};

TEST_P(CameraRowEndToEnd, TruncatedOrOverwrittenRecordingComesBackWithItsFramesAndSound) {
    const CameraRow& row = GetParam();
    const Recording rec = record(row);
    ASSERT_FALSE(rec.original.videoFrames.empty());
    const auto& cut = rec.original.videoFrames[200];
    expectRepaired(row, rec, truncatedRecording(rec.original, cut.offset + cut.size / 2), "cut mid-frame");
    const auto& from = rec.original.videoFrames[60];
    const auto& to = rec.original.videoFrames[80];
    expectRepaired(row, rec, mediaOverwritten(rec.original, from.offset + 100, to.offset + 10), "stretch overwritten");
}

INSTANTIATE_TEST_SUITE_P(Families, CameraRowEndToEnd, ::testing::ValuesIn(kRows),
                         [](const ::testing::TestParamInfo<CameraRow>& param) {
                             std::string name = param.param.name;
                             std::replace(name.begin(), name.end(), '-', '_');
                             return name;
                         });

}  // namespace
}  // namespace arbel

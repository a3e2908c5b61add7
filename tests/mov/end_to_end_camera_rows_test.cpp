// Recordings of the cameras that the middle and last groups of the scan
// dispatch serve, made from real encodes with the NAL header bytes and audio
// unit starts those cameras write, damaged, repaired by the engine and by the
// command line, and decoded.
#include "end_to_end_fixture.h"

#include <algorithm>
#include <string>

namespace arbel {
namespace {

using namespace arbel::test;

class CameraRowEndToEnd : public EndToEnd, public ::testing::WithParamInterface<CameraSettings> {
protected:
    Outcome expectRepaired(const CameraSettings& camera, const Recording& rec, const ByteString& damaged,
                           const char* how) {
        SCOPED_TRACE(how);
        const char* codec = camera.mjpeg ? "mjpeg" : "h264";
        const Outcome o = repair(rec, damaged, codec);
        report((camera.name + "/" + how).c_str(), o);
        EXPECT_TRUE(o.run.completed()) << o.run.statusTrail();
        if (!o.run.completed()) return o;
        EXPECT_NE(std::find(camera.markers.begin(), camera.markers.end(), o.run.scanVariant), camera.markers.end())
            << "scan " << o.run.scanVariant;
        expectPlayable(o.run.resultPath, codec);
        expectMostVideo(o);
        expectMostAudio(o);
        return o;
    }
};

TEST_P(CameraRowEndToEnd, TruncatedOrOverwrittenRecordingComesBackWithItsFramesAndSound) {
    const CameraSettings& camera = GetParam();
    std::string error;
    const auto made = cameraRecording(cache(), camera, error);
    ASSERT_TRUE(made) << error;
    const Recording rec{made->reference, made->original};
    const auto& from = rec.original.videoFrames[60];
    const auto& to = rec.original.videoFrames[80];
    expectRepaired(camera, rec, mediaOverwritten(rec.original, from.offset + 100, to.offset + 10), "stretch overwritten");

    const auto& cut = rec.original.videoFrames[200];
    const Outcome o = expectRepaired(camera, rec, truncatedRecording(rec.original, cut.offset + cut.size / 2),
                                     "cut mid-frame");
    ASSERT_TRUE(o.run.completed());
    // The command line reads the same recording to the same file.
    const std::string out = dir.file("cli.mov");
    const InputGuard inputs({dir.file("reference.mov"), dir.file("damaged.mov")});
    const ProgramRun run = runProgram({ARBEL_CLI_PATH, "repair", "--json", "-r", dir.file("reference.mov"),
                                       dir.file("damaged.mov"), "-o", out});
    inputs.expectUnchanged();
    ASSERT_EQ(run.exitCode, 0) << run.output;
    EXPECT_NE(run.output.find("\"scanVariant\": \"" + o.run.scanVariant + "\""), std::string::npos) << run.output;
    EXPECT_EQ(readWholeFile(out), readWholeFile(o.run.resultPath));
}

INSTANTIATE_TEST_SUITE_P(Families, CameraRowEndToEnd, ::testing::ValuesIn(cameraFamilies()),
                         [](const ::testing::TestParamInfo<CameraSettings>& param) {
                             std::string name = param.param.name;
                             std::replace(name.begin(), name.end(), '-', '_');
                             return name;
                         });

}  // namespace
}  // namespace arbel

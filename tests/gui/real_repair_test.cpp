// Whole repairs through the controller with the engines' own repair
// operations: the bundled QuickTime samples, an AVI made by ffmpeg, and a
// QuickTime pair the engine refuses.
#include "gui_support.h"

#include "progress/formatting.h"
#include "engine/engine_reporter.h"
#include "engine/mov/repair_file.h"
#include "engine/result_location.h"
#include "platform/file_system.h"
#include "support/camera_clip.h"
#include "support/reference_builder.h"

#include <QLabel>
#include <QMediaPlayer>
#include <QVideoWidget>
#include <QPushButton>
#include <QStackedWidget>

#include <algorithm>
#include <cstdio>
#include <filesystem>

namespace arbel {
namespace {

using test::ControllerTest;

// The engines really work here; a slow machine or a sanitizer build may take
// a while.
constexpr std::chrono::seconds kRepairTimeout{180};

class RealRepair : public ControllerTest {
protected:
    void SetUp() override {
        ControllerTest::SetUp();
        app->bundleIdentifier = kArbelBundleIdentifier;
        QObject::connect(app->tabview, &QStackedWidget::currentChanged, app.get(),
                         [this](int) { screensShown.push_back(app->selectedTabIdentifier()); });
    }

    std::string copySample(const std::string& name) {
        const std::string copy = dir.file(name);
        std::filesystem::copy_file(std::string(ARBEL_SAMPLES_DIR) + "/" + name, copy);
        return copy;
    }

    void chooseDamagedPath(const std::string& path) {
        prompts->openAnswers.push_back(QString::fromStdString(path));
        app->openFinderWindow();
    }
    void chooseReferencePath(const std::string& path) {
        prompts->openAnswers.push_back(QString::fromStdString(path));
        app->openReferenceFile();
    }

    // Starts the repair and handles events until the details screen appears
    // or a window asks the user something; true for the details screen.
    bool repairUntilDetails() {
        app->repair();
        const bool ended = test::processEventsUntil(
            [&] { return app->selectedTabIdentifier() == "detailsTab" || !prompts->modalsShown.empty(); },
            kRepairTimeout);
        return ended && app->selectedTabIdentifier() == "detailsTab";
    }

    void expectDetailsOf(const std::string& damagedPath) {
        const QString path = QString::fromStdString(damagedPath);
        EXPECT_EQ(app->upperBoxField->text(), "Repaired Video File Details");
        EXPECT_EQ(app->fileNamefield->text(), QString::fromStdString(std::filesystem::path(damagedPath).filename()));
        EXPECT_EQ(app->sizeField->text(),
                  QString::fromStdString(getFormattedStringForSize(fs::fileSize(damagedPath).value_or(0))));
        EXPECT_EQ(app->textfield->text(), path);
        for (QWidget* shown : std::initializer_list<QWidget*>{app->videoCodecField, app->fpsField, app->durationField,
                                                              app->tracksField, app->fileNamefield, app->sizeField,
                                                              app->textfield, app->prewTabHomeBtn})
            EXPECT_TRUE(shown->isVisible()) << shown->objectName().toStdString();
        EXPECT_TRUE(prompts->modalsShown.empty());
        EXPECT_TRUE(prompts->panels.empty());
        EXPECT_FALSE(app->getRepairing());
    }

    // The result must lie in the private result folder of this test and
    // open in ffprobe with a video and an audio stream.
    void expectPlayableResult(ResultKind kind, const QString& videoCodec) {
        const std::string result = temporaryResultPath(app->bundleIdentifier, kind);
        EXPECT_EQ(result.rfind(dir.file("results") + "/", 0), 0u) << result;
        expectPlayable(result, videoCodec);
    }

    void expectPlayable(const std::string& result, const QString& videoCodec) {
        ASSERT_GT(fs::fileSize(result).value_or(0), 0u) << result;
        if (!test::haveTool(QStringLiteral("ffprobe"))) {
            std::printf("ffprobe is not installed: the result was not opened\n");
            return;
        }
        QByteArray streams;
        ASSERT_EQ(test::runTool(QStringLiteral("ffprobe"),
                                {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-show_entries"),
                                 QStringLiteral("stream=codec_name,codec_type"), QStringLiteral("-of"),
                                 QStringLiteral("csv=p=0"), QString::fromStdString(result)},
                                &streams),
                  0);
        const QString listed = QString::fromUtf8(streams);
        EXPECT_TRUE(listed.contains(videoCodec + QStringLiteral(",video"))) << listed.toStdString();
        EXPECT_TRUE(listed.contains(QStringLiteral(",audio"))) << listed.toStdString();
    }

    // A clip of MJPEG video and PCM sound from ffmpeg whose recording stopped
    // early: the tail with the index is gone and the last chunk is cut.
    std::string makeTruncatedAvi() {
        const std::string clip = dir.file("clip.avi");
        const int made = test::runTool(
            QStringLiteral("ffmpeg"),
            {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-y"), QStringLiteral("-f"),
             QStringLiteral("lavfi"), QStringLiteral("-i"), QStringLiteral("testsrc=size=320x240:rate=25"),
             QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"),
             QStringLiteral("sine=frequency=440:sample_rate=44100"), QStringLiteral("-t"), QStringLiteral("4"),
             QStringLiteral("-c:v"), QStringLiteral("mjpeg"), QStringLiteral("-q:v"), QStringLiteral("3"),
             QStringLiteral("-c:a"), QStringLiteral("pcm_s16le"), QStringLiteral("-ac"), QStringLiteral("2"),
             QStringLiteral("-f"), QStringLiteral("avi"), QString::fromStdString(clip)});
        if (made != 0) return {};
        std::vector<uint8_t> bytes = test::readWholeFile(clip);
        bytes.resize(bytes.size() * 6 / 10 + 3);
        return writeInput("damaged.avi", bytes);
    }

    // The result plays in the details screen's own player. A machine whose
    // media backend cannot show an ffmpeg-made clip skips this.
    void expectPreviewPlays() {
        if (!test::haveTool(QStringLiteral("ffmpeg"))) GTEST_SKIP() << "ffmpeg makes the clip that proves the backend";
        ASSERT_TRUE(test::makePlayableClip(dir.file("backend-check.mov")));
        QString missing;
        if (!test::mediaBackendShows(dir.file("backend-check.mov"), missing))
            GTEST_SKIP() << "no media backend shows an H.264 clip on this machine: " << missing.toStdString();
        ASSERT_TRUE(app->video) << "nothing loaded in the preview";
        EXPECT_EQ(app->video->source(), QUrl::fromLocalFile(QString::fromStdString(app->lastReport().resultPath)));
        app->moviePlayButton->click();
        EXPECT_TRUE(test::waitUntilPlayable(*app->video, *app->movieview->videoSink(), missing)) << missing.toStdString();
    }

    std::vector<QString> screensShown;
};

TEST_F(RealRepair, BundledQuickTimeSamplesEndOnTheDetailsScreen) {
    const std::string damaged = copySample("damaged.mov");
    chooseDamagedPath(damaged);
    chooseReferencePath(copySample("reference.mov"));
    ASSERT_TRUE(repairUntilDetails()) << "status: " << app->currentstatus->text().toStdString() << " at "
                                      << app->percent->text().toStdString();

    EXPECT_EQ(app->videoCodecField->text(), "avc1");
    EXPECT_EQ(app->fpsField->text(), "30");
    EXPECT_EQ(app->durationField->text(), "0:0:1");
    EXPECT_EQ(app->tracksField->text(), "2");
    EXPECT_EQ(app->fileNamefield->text(), "damaged.mov");
    EXPECT_EQ(app->scanField->text(), "generic scan");
    EXPECT_EQ(app->playbackField->text(),
              QString::fromUtf8("Recovered 54 frames (0:00\u20130:01) and 0:01 of audio, 0 decode errors"));
    expectDetailsOf(damaged);
    EXPECT_TRUE(test::saveScreenshot(app->window(), QStringLiteral("details-quicktime")));
    expectPlayableResult(ResultKind::Mov, QStringLiteral("h264"));
    expectPreviewPlays();
}

TEST_F(RealRepair, BundledSampleSavedFromTheWindowEqualsTheResultAndPlays) {
    chooseDamagedPath(copySample("damaged.mov"));
    chooseReferencePath(copySample("reference.mov"));
    ASSERT_TRUE(repairUntilDetails());
    const std::vector<uint8_t> result = test::readWholeFile(app->lastReport().resultPath);
    ASSERT_FALSE(result.empty());

    prompts->saveAnswers.push_back(QString::fromStdString(dir.file("Repaired")));
    prompts->modalAnswers["repaircompletedwindow"] = "saveCompletedOkBtn";
    app->prewSaveBtn->click();
    ASSERT_TRUE(test::processEventsUntil([&] { return app->selectedTabIdentifier() == "mainTab"; }, kRepairTimeout));
    const std::string saved = dir.file("Repaired/repaired.mov");
    EXPECT_EQ(test::readWholeFile(saved), result);
    expectPlayable(saved, QStringLiteral("h264"));
}

// A phone-like MP4 as ffmpeg's muxer writes it, its movie atom lost: no
// camera rule fits, the codec-aware scan brings back every frame, and the
// details say so and say what plays.
TEST_F(RealRepair, PhoneRecordingWithoutItsMovieAtomComesBackByTheCodecAwareScan) {
    if (!test::haveTool(QStringLiteral("ffmpeg"))) GTEST_SKIP() << "ffmpeg makes the recording";
    test::ClipCache cache(ARBEL_CLIP_CACHE);
    auto encode = [&](double seconds, int seed, std::string& error) {
        const std::string d = std::to_string(seconds);
        return cache.encoded({"-f", "lavfi", "-i", "testsrc2=size=320x240:rate=30:duration=" + d, "-f", "lavfi", "-i",
                              "anoisesrc=a=0.2:c=pink:r=48000:seed=" + std::to_string(seed) + ":d=" + d, "-c:v",
                              "libx264", "-bf", "0", "-g", "30", "-c:a", "aac", "-ac", "2", "-f", "mp4"},
                             "mp4", error);
    };
    std::string error;
    const auto reference = encode(2, 1, error);
    const auto recording = encode(4, 7, error);
    ASSERT_TRUE(reference && recording) << error;
    std::vector<uint8_t> cut = *recording;
    const auto moov = std::search(cut.begin(), cut.end(), std::begin("moov"), std::end("moov") - 1);
    ASSERT_NE(moov, cut.end());
    cut.erase(moov - 4, cut.end());
    const std::string damaged = writeInput("phone.mp4", cut);
    chooseDamagedPath(damaged);
    chooseReferencePath(writeInput("phone-reference.mp4", *reference));
    ASSERT_TRUE(repairUntilDetails()) << app->currentstatus->text().toStdString();

    EXPECT_EQ(app->scanField->text(), "codec-aware: H.264 + AAC");
    EXPECT_EQ(app->lastReport().video.units, 120u);
    EXPECT_TRUE(app->playbackField->text().startsWith(QString::fromUtf8("Recovered 120 frames (0:00\u20130:03) and 0:0")))
        << app->playbackField->text().toStdString();
    EXPECT_TRUE(app->playbackField->text().endsWith(QStringLiteral(", 0 decode errors")));
    expectDetailsOf(damaged);
    expectPlayableResult(ResultKind::Mov, QStringLiteral("h264"));
}

// A camera that writes one chunk of sound after every frame: every intact
// frame and chunk comes back through the window as through the engine.
TEST_F(RealRepair, RecordingThatAlternatesFramesAndChunksComesBackWhole) {
    if (!test::haveTool(QStringLiteral("ffmpeg"))) GTEST_SKIP() << "ffmpeg makes the recording";
    test::ClipCache cache(ARBEL_CLIP_CACHE);
    std::string error;
    const auto made = test::frameAndChunkRecording(cache, error);
    ASSERT_TRUE(made) << error;
    const auto& cut = made->original.videoFrames[90];
    const std::string damaged =
        writeInput("alternating.mov", test::truncatedRecording(made->original, cut.offset + cut.size / 2));
    chooseDamagedPath(damaged);
    chooseReferencePath(writeInput("same-camera.mov", made->reference.bytes));
    ASSERT_TRUE(repairUntilDetails()) << app->currentstatus->text().toStdString();

    EXPECT_EQ(app->lastReport().video.units, 90u);
    EXPECT_EQ(app->lastReport().audio.units, 90u);
    EXPECT_EQ(app->durationField->text(), "0:0:3");
    expectDetailsOf(damaged);
    expectPlayableResult(ResultKind::Mov, QStringLiteral("h264"));
}

// Cameras read by the middle group of the scan ("16": 65 88 with mono AAC)
// and by the last one (a Canon compact whose AAC frame starts come from the
// reference) come back through the window as through the engine.
class RealCameraRepair : public RealRepair, public ::testing::WithParamInterface<const char*> {};

TEST_P(RealCameraRepair, CutRecordingComesBackThroughTheWindow) {
    if (!test::haveTool(QStringLiteral("ffmpeg"))) GTEST_SKIP() << "ffmpeg makes the recording";
    const test::CameraSettings* camera = test::cameraFamily(GetParam());
    ASSERT_NE(camera, nullptr);
    test::ClipCache cache(ARBEL_CLIP_CACHE);
    std::string error;
    const auto made = test::cameraRecording(cache, *camera, error);
    ASSERT_TRUE(made) << error;
    const auto& cut = made->original.videoFrames[200];
    const auto bytes = test::truncatedRecording(made->original, cut.offset + cut.size / 2);
    const test::Survivors intact = test::survivorsOf(made->original, bytes);
    const std::string damaged = writeInput("camera.mov", bytes);
    chooseDamagedPath(damaged);
    chooseReferencePath(writeInput("same-camera.mov", made->reference.bytes));
    ASSERT_TRUE(repairUntilDetails()) << app->currentstatus->text().toStdString();

    EXPECT_EQ(app->lastReport().scanMarker, camera->markers.front());
    EXPECT_GE(app->lastReport().video.units * 100, intact.videoFrames.size() * 95);
    EXPECT_GE(app->lastReport().audio.units * 100, intact.audioUnits.size() * 95);
    EXPECT_LE(app->lastReport().audio.units, intact.audioUnits.size());
    expectDetailsOf(damaged);
    expectPlayableResult(ResultKind::Mov, QStringLiteral("h264"));
}

INSTANTIATE_TEST_SUITE_P(Families, RealCameraRepair, ::testing::Values("mono-6588", "canon-compact"),
                         [](const ::testing::TestParamInfo<const char*>& param) {
                             std::string name = param.param;
                             std::replace(name.begin(), name.end(), '-', '_');
                             return name;
                         });

// Two programs running at once each write a temporary result of their own:
// the second's repair leaves the first's result as it was.
TEST_F(RealRepair, ASecondRunningProgramNeverTouchesTheFirstsResult) {
    const std::string damaged = copySample("damaged.mov");
    const std::string reference = copySample("reference.mov");
    chooseDamagedPath(damaged);
    chooseReferencePath(reference);
    ASSERT_TRUE(repairUntilDetails());
    const std::string firstResult = app->lastReport().resultPath;
    const std::vector<uint8_t> firstBytes = test::readWholeFile(firstResult);
    ASSERT_FALSE(firstBytes.empty());

    // The other program's engine writes wherever its request says.
    auto otherPrompts = std::make_shared<test::ScriptedPrompts>();
    Tolvik_Repair_MOVAppDelegate other(otherPrompts);
    other.bundleIdentifier = kArbelBundleIdentifier;
    other.runMovRepair = [](RepairFile& engine) {
        RepairReport report;
        report.resultPath = engine.request().resultPath;
        test::writeWholeFile(report.resultPath, {1, 2, 3});
        return report;
    };
    otherPrompts->openAnswers.push_back(QString::fromStdString(damaged));
    other.openFinderWindow();
    otherPrompts->openAnswers.push_back(QString::fromStdString(reference));
    other.openReferenceFile();
    other.repair();
    ASSERT_TRUE(test::processEventsUntil([&] { return !other.lastReport().resultPath.empty(); }, kRepairTimeout));

    EXPECT_NE(other.lastReport().resultPath, firstResult);
    EXPECT_EQ(test::readWholeFile(firstResult), firstBytes);
}

TEST_F(RealRepair, TruncatedAviEndsOnTheDetailsScreenWithTwoTracks) {
    if (!test::haveTool(QStringLiteral("ffmpeg"))) GTEST_SKIP() << "ffmpeg is not installed";
    const std::string damaged = makeTruncatedAvi();
    ASSERT_FALSE(damaged.empty()) << "ffmpeg could not make the clip";
    // Smaller files are refused before any chunk is looked for.
    ASSERT_GT(fs::fileSize(damaged).value_or(0), 512u * 1024u);

    chooseDamagedPath(damaged);
    ASSERT_TRUE(repairUntilDetails()) << "status: " << app->currentstatus->text().toStdString() << " at "
                                      << app->percent->text().toStdString();

    EXPECT_EQ(app->tracksField->text(), "2");
    EXPECT_EQ(app->videoCodecField->text(), "MJPG");
    // AVI repairs report no rate or duration, and no QuickTime repair came before.
    EXPECT_TRUE(app->fpsField->text().isEmpty());
    EXPECT_TRUE(app->durationField->text().isEmpty());
    EXPECT_EQ(app->fileNamefield->text(), "damaged.avi");
    expectDetailsOf(damaged);
    EXPECT_TRUE(test::saveScreenshot(app->window(), QStringLiteral("details-avi")));
    expectPlayableResult(ResultKind::Avi, QStringLiteral("mjpeg"));
    expectPreviewPlays();
}

TEST_F(RealRepair, AviRepairAfterAQuickTimeRepairKeepsTheRateAndDuration) {
    if (!test::haveTool(QStringLiteral("ffmpeg"))) GTEST_SKIP() << "ffmpeg is not installed";
    const std::string avi = makeTruncatedAvi();
    ASSERT_FALSE(avi.empty()) << "ffmpeg could not make the clip";

    chooseDamagedPath(copySample("damaged.mov"));
    chooseReferencePath(copySample("reference.mov"));
    ASSERT_TRUE(repairUntilDetails());
    app->prewTabHomeBtn->click();
    ASSERT_EQ(app->selectedTabIdentifier(), "mainTab");

    chooseDamagedPath(avi);
    ASSERT_TRUE(repairUntilDetails());
    // Only the keys the AVI engine sends are rewritten.
    EXPECT_EQ(app->videoCodecField->text(), "MJPG");
    EXPECT_EQ(app->tracksField->text(), "2");
    EXPECT_EQ(app->fpsField->text(), "30");
    EXPECT_EQ(app->durationField->text(), "0:0:1");
    expectDetailsOf(avi);
}

TEST_F(RealRepair, ReferenceWithAnUnrepairableCodecEndsInTheStopConfirmation) {
    test::ReferenceOptions reference = test::cameraReference();
    reference.tracks[0].format = "mp4v";  // neither H.264 nor MJPEG
    const std::string referencePath = dir.file("healthy.mov");
    test::writeReference(referencePath, reference);
    const std::string damaged = writeInput("damaged.mov", test::damagedMovBytes());

    prompts->modalAnswers["stoprepairwindow"] = "stoprepairokbutton";
    prompts->modalAnswers["repairAbortedWindow"] = "repairAbortedOK";
    QString statusWhenAsked, percentWhenAsked;
    prompts->onModalShown = [&](const QString& window) {
        if (window != "stoprepairwindow") return;
        statusWhenAsked = app->currentstatus->text();
        percentWhenAsked = app->percent->text();
    };
    chooseDamagedPath(damaged);
    chooseReferencePath(referencePath);
    EXPECT_FALSE(repairUntilDetails());
    ASSERT_TRUE(test::processEventsUntil([&] { return workerFinished(); }, kRepairTimeout));
    test::processPendingEvents();

    EXPECT_EQ(statusWhenAsked, QString(kCannotRepairText));
    EXPECT_EQ(percentWhenAsked, "101%");
    EXPECT_EQ(prompts->modalsShown, (std::vector<QString>{"stoprepairwindow", "repairAbortedWindow"}));
    EXPECT_EQ(std::count(screensShown.begin(), screensShown.end(), QStringLiteral("detailsTab")), 0);
    EXPECT_EQ(app->selectedTabIdentifier(), "mainTab");
    EXPECT_NE(app->upperBoxField->text(), "Repaired Video File Details");
}

}  // namespace
}  // namespace arbel

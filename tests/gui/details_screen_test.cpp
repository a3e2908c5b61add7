// The details screen after a completed repair: what it shows, that it stays
// readable at the smallest window, and the way home.
#include "gui_support.h"

#include "engine/avi/repair_file_avi.h"
#include "engine/engine_reporter.h"
#include "engine/mov/repair_file.h"
#include "app/repair_values.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVideoWidget>

namespace arbel {
namespace {

using test::ControllerTest;

class DetailsScreen : public ControllerTest {
protected:
    void SetUp() override {
        ControllerTest::SetUp();
        app->runMovRepair = test::scripted([](RepairFile& engine) {
            engine.reporter().value("video", "avc1");
            engine.reporter().value("fps", "29.97");
            engine.reporter().value("duration", "10:59:59");
            engine.reporter().value("track", "2");
            engine.reporter().status(kCompletedText, 100);
        });
    }

    void completeQuickTimeRepair() {
        readyQuickTimeRepair();
        app->repair();
        ASSERT_TRUE(test::processEventsUntil([&] { return app->selectedTabIdentifier() == "detailsTab"; }));
    }

    std::vector<QWidget*> detailWidgets() const {
        return {app->fileNamefield,  app->sizeField,      app->textfield,       app->videoCodecField,
                app->fpsField,       app->durationField,  app->tracksField,     app->scanField,
                app->playbackField,  app->prewTabHomeBtn, app->movieview,      app->moviePlayButton,
                app->prewBtn,        app->vlcButton,      app->prewSaveBtn};
    }
};

TEST_F(DetailsScreen, ShowsTheDamagedFileAndWhatTheEngineReported) {
    completeQuickTimeRepair();
    for (QWidget* widget : detailWidgets()) EXPECT_TRUE(widget->isVisible()) << widget->objectName().toStdString();
    EXPECT_EQ(app->fileNamefield->text(), "damaged.mov");
    EXPECT_EQ(app->textfield->text(), QString::fromStdString(dir.file("damaged.mov")));
    EXPECT_EQ(app->sizeField->text(), "9.01 KB");  // 9,008 bytes
    EXPECT_EQ(app->videoCodecField->text(), "avc1");
    EXPECT_EQ(app->fpsField->text(), "29.97");
    EXPECT_EQ(app->durationField->text(), "10:59:59");
    EXPECT_EQ(app->tracksField->text(), "2");
    EXPECT_EQ(app->prewTabHomeBtn->text(), "Home");
    EXPECT_EQ(app->prewTabHomeBtn->palette().color(QPalette::Active, QPalette::ButtonText), QColor(Qt::white));
}

TEST_F(DetailsScreen, ShowsTheReportOfTheRepairThatCompleted) {
    // The report is what the engine recovered; had a notification on the
    // way said otherwise, the report wins.
    app->runMovRepair = [](RepairFile& engine) {
        engine.reporter().value("fps", "12");
        engine.reporter().status(kCompletedText, 100);
        RepairReport report;
        report.outcome = RepairOutcome::Completed;
        report.video.codec = "hvc1";
        report.fps = "25";
        report.duration = "0:1:40";
        report.tracks = 1;
        report.scan = "codec-aware: HEVC + AAC";
        report.playback.ran = report.playback.opened = true;
        report.playback.videoFrames = 2500;
        report.playback.lastSeconds = 99.96;
        report.playback.audioSeconds = 100.1;
        return report;
    };
    completeQuickTimeRepair();
    EXPECT_EQ(app->scanField->text(), "codec-aware: HEVC + AAC");
    EXPECT_EQ(app->playbackField->text(),
              QString::fromUtf8("Recovered 2,500 frames (0:00\u20131:39) and 1:40 of audio, 0 decode errors"));
    EXPECT_EQ(app->videoCodecField->text(), "hvc1");
    EXPECT_EQ(app->fpsField->text(), "25");
    EXPECT_EQ(app->durationField->text(), "0:1:40");
    EXPECT_EQ(app->tracksField->text(), "1");
    EXPECT_EQ(app->lastReport().fps, "25");
}

TEST_F(DetailsScreen, EveryValueFitsInsideTheSmallestWindow) {
    // A long name and path wrap instead of widening the window.
    chooseDamaged("Holiday in the mountains, second day, the morning walk along the lake shore.mov",
                  test::damagedMovBytes());
    chooseReference("healthy.mov", test::healthyReferenceBytes());
    app->repair();
    ASSERT_TRUE(test::processEventsUntil([&] { return app->selectedTabIdentifier() == "detailsTab"; }));
    app->sizeField->setText("1000.00 MB");  // the widest size the formatting gives
    app->scanField->setText("codec-aware: MJPEG + PCM");
    app->playbackField->setText(QString::fromUtf8(
        "Recovered 123,456 frames (0:00\u201368:35:12) and 68:35:12 of audio, 12,345 decode errors"));
    app->window()->resize(app->window()->minimumSize());
    test::processPendingEvents();
    EXPECT_EQ(app->window()->size(), app->window()->minimumSize());
    EXPECT_TRUE(test::saveScreenshot(app->window(), QStringLiteral("details-smallest-window")));

    const QRect windowRect = app->window()->rect();
    const std::vector<QWidget*> widgets = detailWidgets();
    for (size_t i = 0; i < widgets.size(); ++i) {
        QWidget* widget = widgets[i];
        SCOPED_TRACE(widget->objectName().toStdString());
        const QRect placed(widget->mapTo(app->window(), QPoint(0, 0)), widget->size());
        EXPECT_TRUE(windowRect.contains(placed)) << "placed at " << placed.x() << "," << placed.y() << " size "
                                                 << placed.width() << "x" << placed.height();
        if (auto* label = qobject_cast<QLabel*>(widget)) {
            if (label->wordWrap())
                EXPECT_GE(label->height(), label->heightForWidth(label->width()));
            else
                EXPECT_GE(label->contentsRect().width(), label->fontMetrics().horizontalAdvance(label->text()));
        }
        for (size_t j = i + 1; j < widgets.size(); ++j) {
            const QRect other(widgets[j]->mapTo(app->window(), QPoint(0, 0)), widgets[j]->size());
            EXPECT_FALSE(placed.intersects(other)) << "overlaps " << widgets[j]->objectName().toStdString();
        }
    }
}

TEST_F(DetailsScreen, HomeButtonReturnsToTheStartScreen) {
    completeQuickTimeRepair();
    app->prewTabHomeBtn->click();
    EXPECT_EQ(app->selectedTabIdentifier(), "mainTab");
    EXPECT_EQ(app->upperBoxField->text(), "Select a video file to repair");
    EXPECT_FALSE(app->values.corruptFilePath.has_value());
    EXPECT_FALSE(app->movFile);
    EXPECT_TRUE(app->pathfield->text().isEmpty());
    // The details stay for the next repair to overwrite key by key.
    EXPECT_EQ(app->fpsField->text(), "29.97");
    EXPECT_EQ(app->fileNamefield->text(), "damaged.mov");
}

TEST_F(DetailsScreen, AviRepairRewritesOnlyTheKeysItSends) {
    completeQuickTimeRepair();
    app->prewTabHomeBtn->click();
    app->runAviRepair = test::scripted([](RepairFileAvi& engine) {
        engine.reporter().value("video", "MJPG");
        engine.reporter().value("track", "2");
        engine.reporter().status(kCompletedText, 100);
    });
    readyAviRepair();
    app->repair();
    ASSERT_TRUE(test::processEventsUntil([&] { return app->selectedTabIdentifier() == "detailsTab"; }));
    EXPECT_EQ(app->videoCodecField->text(), "MJPG");
    EXPECT_EQ(app->tracksField->text(), "2");
    EXPECT_EQ(app->fpsField->text(), "29.97");
    EXPECT_EQ(app->durationField->text(), "10:59:59");
    EXPECT_EQ(app->fileNamefield->text(), "damaged.avi");
    EXPECT_EQ(app->textfield->text(), QString::fromStdString(dir.file("damaged.avi")));
}

}  // namespace
}  // namespace arbel

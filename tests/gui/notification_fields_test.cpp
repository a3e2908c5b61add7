// Progress notifications as the engines post them, applied to the window.
#include "gui_support.h"

#include "progress/notification.h"
#include "engine/engine_reporter.h"

#include <QLabel>
#include <QProgressBar>

#include <atomic>
#include <thread>

namespace arbel {
namespace {

using test::ControllerTest;

class NotificationFields : public ControllerTest {
protected:
    // Posts from a thread of its own, as an engine does, while this (main)
    // thread handles events so that the synchronous delivery can finish.
    void postFromWorker(const NotifDict& userInfo) {
        std::atomic<bool> done{false};
        std::thread worker([&] {
            NotificationCenter::defaultCenter().post(kProgressNotificationName, userInfo);
            done = true;
        });
        const bool delivered = test::processEventsUntil([&] { return done.load(); });
        worker.join();
        ASSERT_TRUE(delivered) << "the delivery did not return";
        test::processPendingEvents();
    }

    std::vector<QString> detailTexts() const {
        return {app->tracksField->text(), app->durationField->text(), app->videoCodecField->text(),
                app->fpsField->text(), app->currentstatus->text(), app->percent->text()};
    }
};

TEST_F(NotificationFields, StatusShowsTextPercentAndBarBeforeTheWorkerGoesOn) {
    postFromWorker(progress::status(kLocatingText, 50));
    EXPECT_EQ(app->currentstatus->text(), QString(kLocatingText));
    EXPECT_EQ(app->percent->text(), "50%");
    EXPECT_EQ(app->progressbar->value(), 50);

    postFromWorker(progress::status(kAnalyzingText, 12.5));
    EXPECT_EQ(app->percent->text(), "12.5%");
    EXPECT_EQ(app->progressbar->value(), 13);

    // A failure keeps its text and number on screen and fills the bar, which
    // would otherwise refuse a value above its range and keep the old one.
    postFromWorker(progress::status(kCannotRepairText, 101));
    EXPECT_EQ(app->currentstatus->text(), QString(kCannotRepairText));
    EXPECT_EQ(app->percent->text(), "101%");
    EXPECT_EQ(app->progressbar->value(), 100);
    // No repair is running, so nothing asks to stop one.
    EXPECT_TRUE(prompts->modalsShown.empty());
}

TEST_F(NotificationFields, DetailKeysFillTheirFieldsExactlyAsSent) {
    postFromWorker(progress::single("track", "2"));
    postFromWorker(progress::single("duration", "0:1:5"));
    postFromWorker(progress::single("video", "avc1"));
    postFromWorker(progress::single("fps", "30"));
    EXPECT_EQ(app->tracksField->text(), "2");
    EXPECT_EQ(app->durationField->text(), "0:1:5");
    EXPECT_EQ(app->videoCodecField->text(), "avc1");
    EXPECT_EQ(app->fpsField->text(), "30");
}

TEST_F(NotificationFields, AudioAndUnknownKeysChangeNothing) {
    postFromWorker(progress::status(kAnalyzingText, 10));
    const auto before = detailTexts();
    postFromWorker(progress::single("audio", "sowt"));
    postFromWorker(progress::single("something", "else"));
    EXPECT_EQ(detailTexts(), before);
}

TEST_F(NotificationFields, StatusWithAnotherKeyIsHandledAsStatusOnly) {
    NotifDict combined = progress::status(kRepairingText, 80);
    combined["video"] = std::string("jpeg");
    combined["track"] = std::string("9");
    postFromWorker(combined);
    EXPECT_EQ(app->currentstatus->text(), QString(kRepairingText));
    EXPECT_EQ(app->percent->text(), "80%");
    EXPECT_TRUE(app->videoCodecField->text().isEmpty());
    EXPECT_TRUE(app->tracksField->text().isEmpty());
}

TEST_F(NotificationFields, PostsFromTheMainThreadAreAppliedWithoutDeadlock) {
    // The status is delivered synchronously; a queued-and-wait call to the
    // thread that is itself waiting would never return.
    NotificationCenter::defaultCenter().post(kProgressNotificationName, progress::status(kAnalyzingText, 3));
    EXPECT_EQ(app->percent->text(), "3%");
    NotificationCenter::defaultCenter().post(kProgressNotificationName, progress::single("fps", "25"));
    EXPECT_EQ(app->fpsField->text(), "25");
}

TEST_F(NotificationFields, ControllerStopsObservingWhenDestroyed) {
    int deliveries = 0;
    const auto token = NotificationCenter::defaultCenter().addObserver(
        kProgressNotificationName, [&](const std::string&, const NotifDict&) { ++deliveries; });
    NotificationCenter::defaultCenter().post(kProgressNotificationName, progress::single("fps", "24"));
    EXPECT_EQ(app->fpsField->text(), "24");
    EXPECT_EQ(deliveries, 1);

    app.reset();
    // Posting after the controller is gone must not reach it (it would touch
    // freed widgets).
    NotificationCenter::defaultCenter().post(kProgressNotificationName, progress::single("fps", "60"));
    EXPECT_EQ(deliveries, 2);
    NotificationCenter::defaultCenter().removeObserver(token);
}

}  // namespace
}  // namespace arbel

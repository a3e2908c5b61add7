// A repair from start to its end by every path: pause, stop, failure,
// completion, the window's close box and a second repair over a first.
#include "gui_support.h"

#include "engine/avi/repair_file_avi.h"
#include "engine/engine_reporter.h"
#include "engine/mov/repair_file.h"
#include "app/repair_values.h"
#include "platform/pacing.h"

#include <QLabel>
#include <QLineEdit>
#include <QPalette>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>

#include "app/busy_indicator.h"
#include "app/main_window.h"

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>

namespace arbel {
namespace {

using test::ControllerTest;

// Ends the test run if a wait that must finish does not (a deadlock would
// otherwise hang the suite until ctest's own limit).
class Watchdog {
public:
    explicit Watchdog(std::chrono::seconds limit)
        : thread_([this, limit] {
              std::unique_lock<std::mutex> lock(mutex_);
              if (!done_condition_.wait_for(lock, limit, [this] { return done_; })) {
                  std::fprintf(stderr, "watchdog: the main thread did not come back (deadlock)\n");
                  std::abort();
              }
          }) {}
    ~Watchdog() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            done_ = true;
        }
        done_condition_.notify_all();
        thread_.join();
    }

private:
    std::mutex mutex_;
    std::condition_variable done_condition_;
    bool done_ = false;
    std::thread thread_;
};

class Repairing : public ControllerTest {
protected:
    void SetUp() override {
        ControllerTest::SetUp();
        app->runMovRepair = test::scripted([](RepairFile& engine) { test::workUntilStopped(engine); });
        app->runAviRepair = test::scripted([](RepairFileAvi& engine) { test::workUntilStopped(engine); });
    }

    void startQuickTimeRepair() {
        readyQuickTimeRepair();
        app->repair();
        ASSERT_TRUE(app->getRepairing());
        ASSERT_TRUE(test::processEventsUntil([&] { return app->currentstatus->text() == kAnalyzingText; }));
    }
    void startAviRepair() {
        readyAviRepair();
        app->repair();
        ASSERT_TRUE(app->getRepairing());
        ASSERT_TRUE(test::processEventsUntil([&] { return app->currentstatus->text() == kAnalyzingText; }));
    }
    void answerStopWith(const char* button) {
        prompts->modalAnswers["stoprepairwindow"] = button;
        prompts->modalAnswers["repairAbortedWindow"] = "repairAbortedOK";
    }
};

TEST_F(Repairing, QuickTimeRepairRunsOnAWorkerWithTheBundleIdentifier) {
    app->bundleIdentifier = "com.ArbelSoftware.ArbelVideoRepairI";
    std::atomic<bool> ranElsewhere{false};
    std::string identifierSeen;
    const auto mainThread = std::this_thread::get_id();
    app->runMovRepair = test::scripted([&](RepairFile& engine) {
        ranElsewhere = std::this_thread::get_id() != mainThread;
        identifierSeen = engine.request().bundleIdentifier;
        test::workUntilStopped(engine);
    });
    startQuickTimeRepair();

    EXPECT_TRUE(ranElsewhere);
    EXPECT_EQ(identifierSeen, "com.ArbelSoftware.ArbelVideoRepairI");
    EXPECT_EQ(app->selectedTabIdentifier(), "repairingTab");
    EXPECT_EQ(app->upperBoxField->text(), "Repairing Video File");
    EXPECT_EQ(app->repFileStatus->text(), "File Selected");
    EXPECT_EQ(app->repCorruptFilePath->text(), "Corrupt File:" + QString::fromStdString(dir.file("damaged.mov")));
    EXPECT_EQ(app->repHealthyFilePath->text(), "Healthy File:" + QString::fromStdString(dir.file("healthy.mov")));
    EXPECT_FALSE(app->repHealthyFilePath->isHidden());
    EXPECT_TRUE(QRegularExpression("^\\d\\d:\\d\\d:\\d\\d$").match(app->repairingStartTimeField->text()).hasMatch());
    EXPECT_TRUE(app->repairClockTimer().isActive());
    EXPECT_EQ(app->percent->text(), "10%");
}

TEST_F(Repairing, AviRepairHidesTheHealthyPath) {
    startAviRepair();
    EXPECT_EQ(app->selectedTabIdentifier(), "repairingTab");
    EXPECT_TRUE(app->repHealthyFilePath->isHidden());
    EXPECT_EQ(app->repCorruptFilePath->text(), "Corrupt File:" + QString::fromStdString(dir.file("damaged.avi")));
}

TEST_F(Repairing, PauseAndResumeToggleTheQuickTimeEngineAndTheTitle) {
    startQuickTimeRepair();
    app->repPauseBtn->click();
    EXPECT_TRUE(app->repair_->pauseRepairing());
    EXPECT_TRUE(app->pauseRepairing_);
    EXPECT_EQ(app->repPauseBtn->text(), "Resume");
    EXPECT_FALSE(app->animView->isAnimating());
    EXPECT_EQ(app->repPauseBtn->palette().color(QPalette::Active, QPalette::ButtonText), QColor(Qt::white));

    app->repPauseBtn->click();
    EXPECT_FALSE(app->repair_->pauseRepairing());
    EXPECT_FALSE(app->pauseRepairing_);
    EXPECT_EQ(app->repPauseBtn->text(), "Pause");
    EXPECT_TRUE(app->animView->isAnimating());
}

TEST_F(Repairing, PauseOfAnAviRepairReachesTheAviEngine) {
    startAviRepair();
    app->pauseRepairing();
    EXPECT_TRUE(app->repairAvi->pauseRepairingAVI());
    app->pauseRepairing();
    EXPECT_FALSE(app->repairAvi->pauseRepairingAVI());
}

TEST_F(Repairing, PausedTicksOfTheClockAreNotCounted) {
    startQuickTimeRepair();
    app->elapsedTimeThread();
    app->elapsedTimeThread();
    app->pauseRepairing();
    for (int i = 0; i < 10; ++i) app->elapsedTimeThread();
    app->pauseRepairing();
    app->elapsedTimeThread();
    EXPECT_EQ(app->counterr(), 3.0);
    EXPECT_EQ(app->elapsedTime->text(), "00:00:03");
}

TEST_F(Repairing, ConfirmedStopLeadsHomeWithBothPathsCleared) {
    startQuickTimeRepair();
    answerStopWith("stoprepairokbutton");
    int stopWhileAbortedWindowOpen = -1;
    prompts->onModalShown = [&](const QString& window) {
        if (window == "repairAbortedWindow") stopWhileAbortedWindowOpen = app->stopRequested() ? 1 : 0;
    };
    app->repCancelBtn->click();

    EXPECT_EQ(prompts->modalsShown, (std::vector<QString>{"stoprepairwindow", "repairAbortedWindow"}));
    // The engine is told to stop as soon as the user confirms.
    EXPECT_EQ(stopWhileAbortedWindowOpen, 1);
    EXPECT_TRUE(app->stopRequested());
    EXPECT_EQ(app->selectedTabIdentifier(), "mainTab");
    EXPECT_EQ(app->upperBoxField->text(), "Select a video file to repair");
    EXPECT_FALSE(app->values.corruptFilePath.has_value());
    EXPECT_FALSE(app->values.referenceFilePath.has_value());
    EXPECT_EQ(app->values.referenceFileChosen, 0);
    EXPECT_TRUE(app->pathfield->text().isEmpty());
    EXPECT_TRUE(app->referencefilepathfield->text().isEmpty());
    EXPECT_FALSE(app->getRepairing());
    EXPECT_FALSE(app->repairClockTimer().isActive());
    EXPECT_EQ(app->elapsedTime->text(), "00:00:00");
    EXPECT_EQ(app->repPauseBtn->text(), "Pause");
    // The stop paused the engine while asking; confirming releases it so it
    // can see the stop and end.
    EXPECT_FALSE(app->repair_->pauseRepairing());
    EXPECT_TRUE(test::processEventsUntil([&] { return workerFinished(); }));
}

TEST_F(Repairing, CancelledStopPausesWhileAskingAndThenGoesOn) {
    startQuickTimeRepair();
    answerStopWith("stoprepaircancelbutton");
    bool pausedWhileAsking = false;
    prompts->onModalShown = [&](const QString&) { pausedWhileAsking = app->repair_->pauseRepairing(); };
    app->stopProgress();

    EXPECT_TRUE(pausedWhileAsking);
    EXPECT_FALSE(app->repair_->pauseRepairing());
    EXPECT_EQ(app->repPauseBtn->text(), "Pause");
    EXPECT_TRUE(app->getRepairing());
    EXPECT_TRUE(app->repairClockTimer().isActive());
    EXPECT_EQ(app->selectedTabIdentifier(), "repairingTab");
    EXPECT_FALSE(app->stopRequested());
    EXPECT_FALSE(workerFinished());
}

TEST_F(Repairing, StopitAsksOnTheMainThreadWithoutHoldingTheCaller) {
    startQuickTimeRepair();
    answerStopWith("stoprepaircancelbutton");
    app->stopit();
    EXPECT_TRUE(prompts->modalsShown.empty());
    test::processPendingEvents();
    EXPECT_EQ(prompts->modalsShown, std::vector<QString>{"stoprepairwindow"});
    EXPECT_TRUE(app->getRepairing());
}

TEST_F(Repairing, StopAskedWhilePausedResumesUntilCancelledAgain) {
    startQuickTimeRepair();
    app->pauseRepairing();
    answerStopWith("stoprepaircancelbutton");
    bool pausedWhileAsking = true;
    prompts->onModalShown = [&](const QString&) { pausedWhileAsking = app->repair_->pauseRepairing(); };
    app->stopProgress();
    EXPECT_FALSE(pausedWhileAsking);
    EXPECT_TRUE(app->repair_->pauseRepairing());
    EXPECT_EQ(app->repPauseBtn->text(), "Resume");
}

TEST_F(Repairing, FailureStatusOpensTheStopConfirmationAndCancelEndsTheClock) {
    app->runMovRepair = test::scripted([](RepairFile& engine) { engine.reporter().status(kCannotRepairText, 101); });
    answerStopWith("stoprepaircancelbutton");
    QString percentWhenAsked;
    prompts->onModalShown = [&](const QString&) { percentWhenAsked = app->percent->text(); };
    readyQuickTimeRepair();
    app->repair();

    ASSERT_TRUE(test::processEventsUntil([&] { return !prompts->modalsShown.empty() && !app->getRepairing(); }));
    EXPECT_EQ(prompts->modalsShown, std::vector<QString>{"stoprepairwindow"});
    EXPECT_EQ(percentWhenAsked, "101%");
    EXPECT_EQ(app->currentstatus->text(), kCannotRepairText);
    // The clock's last tick is still to come (repair_endings_test.cpp).
    EXPECT_TRUE(app->stopElapsedTimeThread);
    EXPECT_EQ(app->selectedTabIdentifier(), "repairingTab");
}

TEST_F(Repairing, FailureStatusConfirmedGoesHome) {
    app->runMovRepair = test::scripted([](RepairFile& engine) { engine.reporter().status(kUnsupportedText, 101); });
    answerStopWith("stoprepairokbutton");
    readyQuickTimeRepair();
    app->repair();
    ASSERT_TRUE(test::processEventsUntil([&] { return app->selectedTabIdentifier() == "mainTab"; }));
    EXPECT_FALSE(app->getRepairing());
    EXPECT_FALSE(app->repairClockTimer().isActive());
}

TEST_F(Repairing, CompletionShowsTheDetailsScreen) {
    app->runMovRepair = test::scripted([](RepairFile& engine) {
        engine.reporter().status(kRepairingText, 80);
        engine.reporter().status(kCompletedText, 100);
    });
    readyQuickTimeRepair();
    app->repair();
    ASSERT_TRUE(test::processEventsUntil([&] { return app->selectedTabIdentifier() == "detailsTab"; }));
    EXPECT_EQ(app->upperBoxField->text(), "Repaired Video File Details");
    EXPECT_TRUE(app->currentstatus->text().isEmpty());
    EXPECT_FALSE(app->getRepairing());
    EXPECT_TRUE(app->stopElapsedTimeThread);
}

TEST_F(Repairing, CompletionWaitsADesignedSecond) {
    app->runMovRepair = test::scripted([](RepairFile& engine) { engine.reporter().status(kCompletedText, 100); });
    readyQuickTimeRepair();
    Pacing::setMode(Pacing::Mode::Designed);
    app->repair();
    ASSERT_TRUE(test::processEventsUntil([&] { return !app->getRepairing(); }));
    test::processPendingEvents();
    EXPECT_EQ(app->selectedTabIdentifier(), "repairingTab");
    EXPECT_TRUE(test::processEventsUntil([&] { return app->selectedTabIdentifier() == "detailsTab"; },
                                         std::chrono::seconds(5)));
    Pacing::setMode(Pacing::Mode::Zero);
}

TEST_F(Repairing, EngineThatFinishesAfterAConfirmedStopShowsNoResult) {
    // This engine only looks at the stop flag and then completes anyway.
    app->runMovRepair = test::scripted([](RepairFile& engine) {
        test::workUntilStopped(engine);
        engine.reporter().status(kCompletedText, 100);
    });
    startQuickTimeRepair();
    answerStopWith("stoprepairokbutton");
    bool workerEndedWhileAbortedWindowOpen = false;
    prompts->onModalShown = [&](const QString& window) {
        if (window == "repairAbortedWindow")
            workerEndedWhileAbortedWindowOpen =
                test::processEventsUntil([&] { return workerFinished(); }, std::chrono::seconds(5));
    };
    app->stopProgress();
    test::processPendingEvents();

    EXPECT_TRUE(workerEndedWhileAbortedWindowOpen);
    EXPECT_EQ(app->selectedTabIdentifier(), "mainTab");
    EXPECT_NE(app->currentstatus->text(), kCompletedText);
    EXPECT_EQ(app->upperBoxField->text(), "Select a video file to repair");
}

TEST_F(Repairing, AviFailureShowsCouldNotRepairAndGoesHome) {
    app->runAviRepair = test::scripted([](RepairFileAvi& engine) { engine.reporter().unrepair(kCannotRepairText, 101); });
    prompts->modalAnswers["couldntRepair"] = "couldNotRepairOk";
    readyAviRepair();
    app->repair();
    ASSERT_TRUE(test::processEventsUntil([&] { return !prompts->modalsShown.empty(); }));
    EXPECT_EQ(prompts->modalsShown, std::vector<QString>{"couldntRepair"});
    EXPECT_EQ(app->selectedTabIdentifier(), "mainTab");
    EXPECT_FALSE(app->getRepairing());
    EXPECT_FALSE(app->aviFile);
    EXPECT_FALSE(app->repairClockTimer().isActive());
}

TEST_F(Repairing, HomeDoesNothingWhileRepairingOrSaving) {
    startAviRepair();
    app->main3();
    EXPECT_EQ(app->selectedTabIdentifier(), "repairingTab");
    EXPECT_TRUE(app->aviFile);

    app->setRepairing(false);
    app->setSavingProgress(true);
    app->main3();
    EXPECT_EQ(app->selectedTabIdentifier(), "repairingTab");
}

TEST_F(Repairing, ClosingIsRefusedWhileRepairingOrSaving) {
    startQuickTimeRepair();
    EXPECT_FALSE(app->window()->close());
    EXPECT_TRUE(app->window()->isVisible());
    ASSERT_EQ(prompts->panels.size(), 1u);
    EXPECT_EQ(prompts->panels[0].title, "Information");
    EXPECT_EQ(prompts->panels[0].text, "Repairinig is in progress..");
    EXPECT_EQ(prompts->panels[0].button, "Ok");

    app->setRepairing(false);
    app->setSavingProgress(true);
    EXPECT_FALSE(app->window()->close());
    EXPECT_TRUE(app->window()->isVisible());
    ASSERT_EQ(prompts->panels.size(), 2u);
    EXPECT_EQ(prompts->panels[1].title, "Information");
    EXPECT_EQ(prompts->panels[1].text, "Saving is in progress..");
    EXPECT_EQ(prompts->panels[1].button, "Ok");

    app->setSavingProgress(false);
    EXPECT_TRUE(app->window()->close());
    EXPECT_FALSE(app->window()->isVisible());
    EXPECT_EQ(prompts->panels.size(), 2u);
}

TEST_F(Repairing, SecondRepairWaitsForTheEarlierWorkerWithoutDeadlock) {
    std::atomic<int> runs{0};
    std::atomic<bool> firstAboutToReport{false};
    app->runMovRepair = test::scripted([&](RepairFile& engine) {
        if (runs++ == 0) {
            firstAboutToReport = true;
            // Blocks until the main thread handles events.
            engine.reporter().status("first repair", 10);
            while (!engine.request().control->stopRequested()) Pacing::pauseSleep();
            return;
        }
        test::workUntilStopped(engine);
    });
    readyQuickTimeRepair();
    app->repair();
    // Let the first worker get stuck in its status delivery: the main thread
    // handles no events here.
    while (!firstAboutToReport) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const auto firstFinished = app->latestWorkerFinished();
    const auto firstEngine = app->repair_;
    ASSERT_FALSE(firstFinished->load());

    {
        Watchdog watchdog(std::chrono::seconds(30));
        app->repair();
    }

    EXPECT_TRUE(firstFinished->load());
    EXPECT_NE(app->latestWorkerFinished(), firstFinished);
    EXPECT_NE(app->repair_, firstEngine);
    EXPECT_FALSE(app->stopRequested());
    EXPECT_TRUE(app->getRepairing());
    // The first repair's late status never reached the window.
    EXPECT_NE(app->currentstatus->text(), "first repair");
    // The second worker runs and reports.
    ASSERT_TRUE(test::processEventsUntil([&] { return app->currentstatus->text() == kAnalyzingText; }));
    EXPECT_EQ(runs.load(), 2);
    EXPECT_FALSE(workerFinished());
}

TEST_F(Repairing, DestroyingTheControllerStopsAndWaitsForItsWorker) {
    std::weak_ptr<RepairFile> engine;
    startQuickTimeRepair();
    engine = app->repair_;
    const auto finished = app->latestWorkerFinished();
    app.reset();  // waits for the worker, which sees the stop
    EXPECT_TRUE(finished->load());
    EXPECT_TRUE(engine.expired());
}

}  // namespace
}  // namespace arbel

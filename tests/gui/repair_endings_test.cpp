// What outlives a repair's end: its clock's last tick, and nothing that the
// next repair starts from (count, status, percentage).
#include "gui_support.h"

#include "progress/formatting.h"
#include "engine/avi/repair_file_avi.h"
#include "engine/engine_reporter.h"
#include "engine/mov/repair_file.h"
#include "app/repair_values.h"
#include "platform/pacing.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

#include <map>
#include <ostream>

namespace arbel {
namespace {

using test::ControllerTest;

void untilStopped(const RepairControl& control) {
    while (!control.stopRequested()) Pacing::pauseSleep();
}

// One way for a repair to end.
struct Ending {
    const char* name;
    bool avi;
    void (*engine)(const EngineReporter&, const RepairControl&);
    // The user presses Stop once the engine has said where it is.
    bool userStops;
    // Modal window -> the button that answers it.
    std::map<QString, QString> answers;
};

void PrintTo(const Ending& ending, std::ostream* out) { *out << ending.name; }

std::string endingName(const ::testing::TestParamInfo<Ending>& info) { return info.param.name; }

class EndingFixture : public ControllerTest, public ::testing::WithParamInterface<Ending> {
protected:
    void runToItsEnd() {
        const Ending& ending = GetParam();
        if (ending.avi)
            app->runAviRepair = test::scripted([script = ending.engine](RepairFileAvi& engine) { script(engine.reporter(), *engine.request().control); });
        else
            app->runMovRepair = test::scripted([script = ending.engine](RepairFile& engine) { script(engine.reporter(), *engine.request().control); });
        prompts->modalAnswers = ending.answers;
        if (ending.avi)
            readyAviRepair();
        else
            readyQuickTimeRepair();
        app->repair();
        ASSERT_TRUE(app->getRepairing());
        if (ending.userStops) {
            ASSERT_TRUE(test::processEventsUntil([&] { return app->currentstatus->text() == kLocatingText; }));
            app->repCancelBtn->click();
        }
        ASSERT_TRUE(test::processEventsUntil(
            [&] { return !app->getRepairing() && app->stopElapsedTimeThread && workerFinished(); }));
    }
};

// --- the clock lives until the first tick after the end ----------------------------

class ClockOfAnEndedRepair : public EndingFixture {};

const Ending kEndingsThatStayOnAScreen[] = {
    {"QuickTimeCompleted", false, [](const EngineReporter& r, const RepairControl&) { r.status(kCompletedText, 100); }, false, {}},
    {"AviCompleted", true, [](const EngineReporter& r, const RepairControl&) { r.status(kCompletedText, 100); }, false, {}},
    {"QuickTimeFailureWithStopCancelled",
     false,
     [](const EngineReporter& r, const RepairControl&) { r.status(kCannotRepairText, 101); },
     false,
     {{"stoprepairwindow", "stoprepaircancelbutton"}}},
};

TEST_P(ClockOfAnEndedRepair, CountsOneMoreTickAndThenStops) {
    runToItsEnd();
    ASSERT_TRUE(app->repairClockTimer().isActive()) << "the clock stopped before its last tick";
    const double countAtEnd = app->counterr();

    // The timer's own tick, at most a second away.
    ASSERT_TRUE(test::processEventsUntil([&] { return !app->repairClockTimer().isActive(); },
                                         std::chrono::seconds(3)));
    EXPECT_EQ(app->counterr(), countAtEnd + 1.0);
    EXPECT_EQ(app->elapsedTime->text(), QString::fromStdString(getTimeFormStringForInterval(countAtEnd + 1.0)));
}

INSTANTIATE_TEST_SUITE_P(Endings, ClockOfAnEndedRepair, ::testing::ValuesIn(kEndingsThatStayOnAScreen), endingName);

// --- home, then a new repair: nothing of the ended one carries over ------------------

class AfterAnEndedRepair : public EndingFixture {
protected:
    void SetUp() override {
        EndingFixture::SetUp();
        runToItsEnd();
        if (HasFatalFailure()) return;
        ASSERT_TRUE(test::processEventsUntil([&] {
            return app->selectedTabIdentifier() == "mainTab" || app->selectedTabIdentifier() == "detailsTab";
        }));
        if (app->selectedTabIdentifier() == "detailsTab") app->prewTabHomeBtn->click();
        ASSERT_EQ(app->selectedTabIdentifier(), "mainTab");
    }

    // An AVI repair whose engine reports nothing, so its screen shows only
    // what the controller put there.
    void startNextRepair() {
        app->runAviRepair = test::scripted([](RepairFileAvi& engine) { untilStopped(*engine.request().control); });
        chooseDamaged("next.avi", test::damagedAviBytes());
        app->repair();
        ASSERT_TRUE(app->getRepairing());
    }
};

const Ending kEndingsThenHome[] = {
    {"CompletedThenHome",
     false,
     [](const EngineReporter& r, const RepairControl&) {
         r.status(kLocatingText, 50);
         r.status(kCompletedText, 100);
     },
     false,
     {}},
    {"StoppedByTheUser",
     false,
     [](const EngineReporter& r, const RepairControl& control) {
         r.status(kLocatingText, 50);
         untilStopped(control);
     },
     true,
     {{"stoprepairwindow", "stoprepairokbutton"}, {"repairAbortedWindow", "repairAbortedOK"}}},
    {"QuickTimeFailureWithStopConfirmed",
     false,
     [](const EngineReporter& r, const RepairControl&) { r.status(kCannotRepairText, 101); },
     false,
     {{"stoprepairwindow", "stoprepairokbutton"}, {"repairAbortedWindow", "repairAbortedOK"}}},
    {"AviCouldNotRepair",
     true,
     [](const EngineReporter& r, const RepairControl&) {
         r.status(kLocatingText, 50);
         r.unrepair(kCannotRepairText, 101);
     },
     false,
     {{"couldntRepair", "couldNotRepairOk"}}},
};

TEST_P(AfterAnEndedRepair, ItsClockIsGoneAndTheNextRepairCountsFromZero) {
    // A tick still to come would count into the next repair.
    EXPECT_FALSE(app->repairClockTimer().isActive());
    EXPECT_EQ(app->elapsedTime->text(), "00:00:00");

    startNextRepair();
    EXPECT_TRUE(app->repairClockTimer().isActive());
    app->elapsedTimeThread();
    EXPECT_EQ(app->elapsedTime->text(), "00:00:01");
}

TEST_P(AfterAnEndedRepair, TheNextRepairScreenShowsNoneOfItsStatus) {
    startNextRepair();
    EXPECT_EQ(app->selectedTabIdentifier(), "repairingTab");
    EXPECT_EQ(app->upperBoxField->text(), "Repairing Video File");
    EXPECT_EQ(app->repCorruptFilePath->text(), "Corrupt File:" + QString::fromStdString(dir.file("next.avi")));
    EXPECT_TRUE(app->repHealthyFilePath->isHidden());
    EXPECT_EQ(app->currentstatus->text(), "");
    EXPECT_EQ(app->percent->text(), "0%");
    EXPECT_EQ(app->progressbar->value(), 0);
}

INSTANTIATE_TEST_SUITE_P(Endings, AfterAnEndedRepair, ::testing::ValuesIn(kEndingsThenHome), endingName);

}  // namespace
}  // namespace arbel

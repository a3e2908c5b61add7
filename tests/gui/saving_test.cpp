// Saving the repaired file from the details screen: the saving screen, the
// copy's progress, stopping, every way a save can fail, and the workers that
// must be gone before anything new starts.
#include "gui_support.h"

#include "platform/file_copy.h"
#include "progress/formatting.h"
#include "support/scripted_copy_io.h"

#include <QDateTime>
#include <QEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <filesystem>
#include <optional>
#include <thread>
#include <unistd.h>

namespace arbel {
namespace {

using test::ControllerTest;

std::vector<uint8_t> pattern(size_t size, uint8_t seed = 1) {
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(i * 31 + seed + (i >> 10));
    return bytes;
}

void waitFor(const std::atomic<bool>& flag) {
    while (!flag) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

class Saving : public ControllerTest {
protected:
    void SetUp() override {
        ControllerTest::SetUp();
        // Small pieces, so that a test can hold the copy part way.
        app->runCopy = [this](const CopyRequest& request, CopyFlags flags, CopyProgress& progress) {
            CopyRequest scripted = request;
            scripted.pieceSize = kPiece;
            scripted.io = &io;
            const CopyResult result = copyFile(scripted, flags, progress);
            copyEnded = true;
            return result;
        };
    }

    void TearDown() override {
        // A failed check must not leave a copy held while the controller
        // waits for it.
        release = releaseSync = true;
        ControllerTest::TearDown();
    }

    // Holds the copy after its piece'th write until the test releases it.
    void holdAfterPiece(int piece) {
        io.afterWrite = [this, piece](int written) {
            if (written != piece) return;
            held = true;
            waitFor(release);
        };
    }

    void saveTo(const std::string& folder) {
        prompts->saveAnswers.push_back(QString::fromStdString(folder));
        app->prewSaveBtn->click();
    }

    bool backHome() {
        return test::processEventsUntil([&] { return app->selectedTabIdentifier() == "mainTab"; });
    }

    std::string folder() const { return dir.file("Repaired"); }
    std::string saved() const { return folder() + "/repaired.mov"; }

    static constexpr size_t kPiece = 1024;
    const std::vector<uint8_t> resultBytes = pattern(10 * kPiece);
    test::ScriptedCopyIo io;
    std::atomic<bool> held{false}, release{false}, releaseSync{false}, copyEnded{false};
};

TEST_F(Saving, CopiesTheResultIntoTheChosenFolderAndShowsThatFolder) {
    const std::string result = completeRepairWith(resultBytes);
    struct Seen {
        QString tab, heading, destination, notification, started, percentage;
        int bar;
        bool savingProgress;
        std::vector<uint8_t> savedBytes;
    };
    std::optional<Seen> atCompletion;
    prompts->modalAnswers["repaircompletedwindow"] = "saveCompletedOkBtn";
    prompts->onModalShown = [&](const QString& window) {
        if (window != "repaircompletedwindow") return;
        atCompletion = Seen{app->selectedTabIdentifier(),    app->upperBoxField->text(),   app->destinationPath->text(),
                            app->savingNotification->text(), app->savingStartTime->text(), app->savingPercentage->text(),
                            app->saveProgressBarr->value(),  app->getSavingProgress(),     test::readWholeFile(saved())};
    };
    const qint64 before = QDateTime::currentSecsSinceEpoch();
    saveTo(folder());
    ASSERT_TRUE(backHome());
    const qint64 after = QDateTime::currentSecsSinceEpoch();

    ASSERT_TRUE(atCompletion);
    EXPECT_EQ(atCompletion->tab, "savingTab");
    EXPECT_EQ(atCompletion->heading, "Saving Repaired Video File");
    EXPECT_EQ(atCompletion->destination, QString::fromStdString("Destination Path:" + saved()));
    EXPECT_EQ(atCompletion->notification, "Saving File...");
    const QString started = atCompletion->started;
    EXPECT_TRUE(started == QString::fromStdString(formatClockTime(before)) ||
                started == QString::fromStdString(formatClockTime(after)))
        << started.toStdString();
    // The completion comes once the copy is whole and on disk.
    EXPECT_EQ(atCompletion->savedBytes, resultBytes);
    EXPECT_EQ(atCompletion->percentage, "100%");
    EXPECT_EQ(atCompletion->bar, 100);
    EXPECT_FALSE(atCompletion->savingProgress);

    EXPECT_EQ(prompts->modalsShown, std::vector<QString>{"repaircompletedwindow"});
    EXPECT_EQ(prompts->revealed, std::vector<QString>{QString::fromStdString(folder())});
    EXPECT_TRUE(prompts->panels.empty());
    EXPECT_EQ(test::readWholeFile(saved()), resultBytes);
    EXPECT_FALSE(pathTaken(partialPathFor(saved())));
    // The hidden result has gone into the saved file.
    EXPECT_FALSE(pathTaken(result));
    EXPECT_FALSE(app->saveWorkersRunning());
}

TEST_F(Saving, TheFolderReceivesTheResultUnderTheNameOfItsKind) {
    struct Case {
        size_t size;
        bool avi;
        const char* name;
    };
    // Results under 100 bytes complete too.
    for (const Case& c : {Case{0, false, "repaired.mov"}, Case{1, false, "repaired.mov"}, Case{99, false, "repaired.mov"},
                          Case{3 * kPiece + 1, true, "repaired.avi"}}) {
        SCOPED_TRACE(c.size);
        const std::vector<uint8_t> result = pattern(c.size);
        completeRepairWith(result, c.avi);
        QString percentage;
        prompts->modalAnswers["repaircompletedwindow"] = "saveCompletedOkBtn";
        prompts->onModalShown = [&](const QString&) { percentage = app->savingPercentage->text(); };
        const std::string to = dir.file("Saved" + std::to_string(c.size));
        saveTo(to);
        ASSERT_TRUE(backHome());
        EXPECT_EQ(percentage, "100%");
        EXPECT_EQ(std::vector<std::string>{c.name}, [&] {
            std::vector<std::string> names;
            for (const auto& entry : std::filesystem::directory_iterator(to)) names.push_back(entry.path().filename());
            return names;
        }());
        EXPECT_EQ(test::readWholeFile(to + "/" + c.name), result);
    }
}

TEST_F(Saving, ProgressNeverRunsAheadOfTheCopyAndIsFullOnlyOnceDurable) {
    // An earlier save ended at 100%; this one starts from nothing.
    completeRepairWith(resultBytes);
    prompts->modalAnswers["repaircompletedwindow"] = "saveCompletedOkBtn";
    saveTo(dir.file("Earlier"));
    ASSERT_TRUE(backHome());
    prompts->modalsShown.clear();
    io.writes = 0;

    completeRepairWith(resultBytes);
    int highestBar = 0;
    QObject::connect(app->saveProgressBarr, &QProgressBar::valueChanged,
                     [&](int value) { highestBar = std::max(highestBar, value); });
    // Six pieces written, five counted: the sixth is counted once it is whole.
    holdAfterPiece(6);
    std::atomic<bool> syncing{false};
    io.beforeSync = [&] {
        syncing = true;
        waitFor(releaseSync);
    };
    prompts->modalAnswers["repaircompletedwindow"] = "saveCompletedOkBtn";
    saveTo(folder());

    auto shows = [&](const char* percentage) {
        return test::processEventsUntil([&] { return app->savingPercentage->text() == percentage; });
    };
    ASSERT_TRUE(shows("50%")) << app->savingPercentage->text().toStdString();
    EXPECT_EQ(app->saveProgressBarr->value(), 50);
    EXPECT_EQ(highestBar, 50);
    release = true;
    // Every byte is written but not yet on disk.
    ASSERT_TRUE(shows("99%"));
    EXPECT_TRUE(syncing.load());
    test::processEventsUntil([] { return false; }, std::chrono::milliseconds(100));
    EXPECT_EQ(app->savingPercentage->text(), "99%");
    EXPECT_EQ(highestBar, 99);
    EXPECT_TRUE(prompts->modalsShown.empty());
    EXPECT_TRUE(app->getSavingProgress());

    releaseSync = true;
    ASSERT_TRUE(backHome());
    EXPECT_EQ(prompts->modalsShown, std::vector<QString>{"repaircompletedwindow"});
}

// Counts the calls handed to the controller's thread.
class QueuedCallCounter : public QObject {
public:
    int calls = 0;
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::MetaCall) ++calls;
        return false;
    }
};

TEST_F(Saving, LargeFileUpdatesTheScreenOncePerWholePercent) {
    // Four thousand pieces; the screen hears of whole percents and seconds.
    const std::vector<uint8_t> large = pattern(4000 * kPiece, 9);
    completeRepairWith(large);
    QueuedCallCounter counter;
    app->installEventFilter(&counter);
    int barChanges = 0;
    QObject::connect(app->saveProgressBarr, &QProgressBar::valueChanged, [&](int) { ++barChanges; });
    prompts->modalAnswers["repaircompletedwindow"] = "saveCompletedOkBtn";
    const auto start = std::chrono::steady_clock::now();
    saveTo(folder());
    ASSERT_TRUE(backHome());
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - start);
    EXPECT_LE(counter.calls, 101 + 2 + static_cast<int>(seconds.count()) + 1);
    EXPECT_LE(barChanges, 101);
    EXPECT_EQ(test::readWholeFile(saved()), large);
}

TEST_F(Saving, FreeSpaceEqualToTheResultIsEnoughOneByteLessIsNot) {
    for (const bool enough : {false, true}) {
        SCOPED_TRACE(enough ? "exactly enough" : "one byte short");
        prompts->panels.clear();
        prompts->modalsShown.clear();
        completeRepairWith(resultBytes);
        app->freeSpaceOf = [&, enough](const std::string&) -> std::optional<uint64_t> {
            return resultBytes.size() - (enough ? 0 : 1);
        };
        prompts->modalAnswers["repaircompletedwindow"] = "saveCompletedOkBtn";
        const std::string to = dir.file(enough ? "Enough" : "Short");
        saveTo(to);
        ASSERT_TRUE(backHome());
        EXPECT_FALSE(app->getSavingProgress());
        EXPECT_TRUE(std::filesystem::is_directory(to));  // the folder stays either way
        if (enough) {
            EXPECT_TRUE(prompts->panels.empty());
            EXPECT_EQ(test::readWholeFile(to + "/repaired.mov"), resultBytes);
        } else {
            ASSERT_EQ(prompts->panels.size(), 1u);
            EXPECT_EQ(prompts->panels[0].title, "! Not enough free disk space");
            EXPECT_EQ(prompts->panels[0].text, "The volume you have chosen to save data does not have enough free "
                                               "space to save the repaired file.");
            EXPECT_EQ(prompts->panels[0].button, "Ok");
            EXPECT_TRUE(prompts->modalsShown.empty());
            EXPECT_TRUE(std::filesystem::is_empty(to));
        }
    }
}

TEST_F(Saving, StopAsksAndEitherGoesOnOrLeavesNothing) {
    for (const bool stop : {false, true}) {
        SCOPED_TRACE(stop ? "OK: stop" : "Cancel: go on");
        const std::string to = dir.file(stop ? "Stopped" : "GoneOn");
        const std::string result = completeRepairWith(resultBytes);
        held = release = copyEnded = false;
        io.writes = 0;
        holdAfterPiece(3);
        prompts->modalsShown.clear();
        prompts->modalAnswers = {{"stopsavingwindow", stop ? "stopsavingOKbutton" : "stopsavingCancelbutton"},
                                 {"repaircompletedwindow", "saveCompletedOkBtn"}};
        bool pausedWhileAsking = false;
        prompts->onModalShown = [&](const QString& window) {
            if (window != "stopsavingwindow") return;
            pausedWhileAsking = app->pauseSaving && !app->savingAnimation->isAnimating();
            release = true;
        };
        saveTo(to);
        ASSERT_TRUE(test::processEventsUntil([&] { return held.load(); }));
        EXPECT_FALSE(app->window()->close());  // never while saving
        EXPECT_EQ(prompts->panels.back().text, "Saving is in progress..");
        app->help3_->click();
        ASSERT_FALSE(prompts->urlsOpened.empty());
        EXPECT_EQ(prompts->urlsOpened.back().fileName(), "index.html");

        app->cancelSaveBtn->click();
        ASSERT_TRUE(backHome());
        EXPECT_TRUE(pausedWhileAsking);
        EXPECT_FALSE(app->saveWorkersRunning());
        if (stop) {
            EXPECT_EQ(prompts->modalsShown, std::vector<QString>{"stopsavingwindow"});
            EXPECT_TRUE(std::filesystem::is_empty(to));
            EXPECT_EQ(test::readWholeFile(result), resultBytes);  // kept for another save
        } else {
            EXPECT_EQ(prompts->modalsShown, (std::vector<QString>{"stopsavingwindow", "repaircompletedwindow"}));
            EXPECT_EQ(test::readWholeFile(to + "/repaired.mov"), resultBytes);
        }
    }
}

TEST_F(Saving, FailureSaysWhyKeepsTheResultAndReturnsToTheDetails) {
    struct Case {
        const char* name;
        // Breaks the save about to start; answers the folder to save to.
        std::function<std::string(const std::string& result)> breakIt;
        std::string reason;
    };
    const Case cases[] = {
        {"disk full",
         [this](const std::string&) {
             io.failWriteAt = 4;
             io.writeError = ENOSPC;
             return folder();
         },
         std::strerror(ENOSPC)},
        {"disk error on the way to disk",
         [this](const std::string&) {
             io.syncError = EIO;
             return folder();
         },
         std::strerror(EIO)},
        {"a file where the folder goes",
         [this](const std::string&) { return dir.write("Repaired", {'k', 'e', 'e', 'p'}); },
         "is a file, not a folder"},
        {"the result is gone",
         [this](const std::string& result) {
             ::unlink(result.c_str());
             return folder();
         },
         "no longer there"},
        {"the destination is the damaged file",
         [this](const std::string&) {
             // The damaged file's folder, where a second name of it is "repaired.mov".
             EXPECT_EQ(::link(dir.file("damaged.mov").c_str(), dir.file("repaired.mov").c_str()), 0);
             prompts->alternateAnswers.push_back(true);  // "Replace"
             return dir.path();
         },
         "same file as"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test::TempDir caseDir;
        const std::string result = completeRepairWith(resultBytes);
        const std::vector<uint8_t> damagedBefore = test::readWholeFile(dir.file("damaged.mov"));
        io.failWriteAt = io.writeError = io.syncError = 0;
        io.writes = 0;
        prompts->panels.clear();
        const std::string to = c.breakIt(result);
        // A file in the way of the folder is never touched.
        const bool fileInTheWay = std::filesystem::is_regular_file(to);
        const std::vector<uint8_t> inTheWay = fileInTheWay ? test::readWholeFile(to) : std::vector<uint8_t>{};

        saveTo(to);
        ASSERT_TRUE(test::processEventsUntil([&] { return !prompts->panels.empty() && !app->saveWorkersRunning(); }));
        const auto& panel = prompts->panels.back();
        EXPECT_EQ(panel.title, "Could not save the repaired file");
        EXPECT_TRUE(panel.text.contains(QString::fromStdString(c.reason))) << panel.text.toStdString();
        EXPECT_EQ(app->selectedTabIdentifier(), "detailsTab");
        EXPECT_EQ(app->upperBoxField->text(), "Repaired Video File Details");
        EXPECT_FALSE(app->getSavingProgress());
        EXPECT_FALSE(app->savingAnimation->isAnimating());
        EXPECT_FALSE(pathTaken(partialPathFor(to + "/repaired.mov")));
        EXPECT_EQ(test::readWholeFile(dir.file("damaged.mov")), damagedBefore);
        if (fileInTheWay) {
            EXPECT_EQ(test::readWholeFile(to), inTheWay);
        }

        if (pathTaken(result)) {
            // Another place works: the result was kept.
            EXPECT_EQ(test::readWholeFile(result), resultBytes);
            io.failWriteAt = io.syncError = 0;
            prompts->modalAnswers["repaircompletedwindow"] = "saveCompletedOkBtn";
            saveTo(caseDir.file("Elsewhere"));
            ASSERT_TRUE(backHome());
            EXPECT_EQ(test::readWholeFile(caseDir.file("Elsewhere/repaired.mov")), resultBytes);
        } else {
            app->prewTabHomeBtn->click();
        }
        ::unlink(dir.file("repaired.mov").c_str());
        std::filesystem::remove_all(dir.file("Repaired"));
    }
}

TEST_F(Saving, ExistingRepairedFileIsReplacedOnlyWhenTheUserAgrees) {
    completeRepairWith(resultBytes);
    const std::vector<uint8_t> earlier = pattern(300, 77);
    std::filesystem::create_directories(folder());
    test::writeWholeFile(saved(), earlier);

    prompts->alternateAnswers = {false};  // Cancel
    saveTo(folder());
    ASSERT_EQ(prompts->panels.size(), 1u);
    EXPECT_EQ(prompts->panels[0].title, "Replace \"repaired.mov\"?");
    EXPECT_EQ(prompts->panels[0].button, "Cancel");
    EXPECT_EQ(prompts->panels[0].alternate, "Replace");
    EXPECT_EQ(app->selectedTabIdentifier(), "detailsTab");
    EXPECT_FALSE(app->getSavingProgress());
    EXPECT_EQ(test::readWholeFile(saved()), earlier);

    prompts->alternateAnswers = {true};
    prompts->modalAnswers["repaircompletedwindow"] = "saveCompletedOkBtn";
    saveTo(folder());
    ASSERT_TRUE(backHome());
    EXPECT_EQ(test::readWholeFile(saved()), resultBytes);
}

TEST_F(Saving, StopHomeAndANewRepairWaitForTheOldCopy) {
    completeRepairWith(resultBytes);
    holdAfterPiece(2);
    prompts->modalAnswers["stopsavingwindow"] = "stopsavingOKbutton";
    saveTo(folder());
    ASSERT_TRUE(test::processEventsUntil([&] { return held.load(); }));

    // The copy is still in its write when the user stops; it lets go a
    // moment later, while the controller waits.
    QTimer::singleShot(50, [this] { release = true; });
    app->cancelSaveBtn->click();
    EXPECT_TRUE(copyEnded) << "home came before the old copy had ended";
    ASSERT_EQ(app->selectedTabIdentifier(), "mainTab");

    const std::vector<uint8_t> newResult = pattern(3 * kPiece + 5, 200);
    const std::string result = completeRepairWith(newResult);
    test::processEventsUntil([] { return false; }, std::chrono::milliseconds(100));
    EXPECT_EQ(test::readWholeFile(result), newResult);
    EXPECT_FALSE(pathTaken(saved()));
    EXPECT_FALSE(pathTaken(partialPathFor(saved())));
}

TEST_F(Saving, QuittingDuringASaveStopsTheCopyAndLeavesNoPartialFile) {
    const std::string result = completeRepairWith(resultBytes);
    holdAfterPiece(2);
    saveTo(folder());
    ASSERT_TRUE(test::processEventsUntil([&] { return held.load(); }));
    QTimer::singleShot(50, [this] { release = true; });
    app.reset();
    EXPECT_TRUE(copyEnded);
    EXPECT_TRUE(std::filesystem::is_empty(folder()));
    EXPECT_EQ(test::readWholeFile(result), resultBytes);
}

}  // namespace
}  // namespace arbel

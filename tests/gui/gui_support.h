#pragma once

#include "app/Tolvik_Repair_MOVAppDelegate.h"
#include "app/busy_indicator.h"
#include "app/main_window.h"
#include "app/modal_window.h"
#include "app/ui_prompts.h"
#include "support/temp_dir.h"

#include "engine/repair_request.h"
#include "platform/pacing.h"

#include <gtest/gtest.h>

#include <QByteArray>
#include <QMediaPlayer>
#include <QVideoSink>
#include <QString>
#include <QStringList>

#include <chrono>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace arbel::test {

// Answers every prompt at once, as scripted, and records what was shown.
class ScriptedPrompts : public UiPrompts {
public:
    struct Panel {
        QString title, text, button;
        QString alternate;  // two-button panels only
    };

    std::vector<Panel> panels;
    std::vector<QString> modalsShown;
    std::vector<QString> sheetsShown;
    std::vector<QString> windowsEnded;

    // Paths the next open panels answer with; an empty string is Cancel.
    std::deque<QString> openAnswers;
    // Window object name -> object name of the button that answers it.
    std::map<QString, QString> modalAnswers;
    // Runs when a modal window appears, before it is answered.
    std::function<void(const QString& window)> onModalShown;
    // The next two-button panels' answers: true for the alternate button.
    std::deque<bool> alternateAnswers;
    // The next save panels' and program choosers' answers; "" is Cancel.
    std::deque<QString> saveAnswers;
    std::deque<QString> programAnswers;
    // What was handed to the desktop.
    std::vector<QString> revealed;
    std::vector<QUrl> urlsOpened;

    void messagePanel(QWidget* parent, const QString& title, const QString& text, const QString& button) override;
    bool alternatePanel(QWidget* parent, const QString& title, const QString& text, const QString& defaultButton,
                        const QString& alternateButton) override;
    void openMoviePanel(QWidget* parent, std::function<void(const QString&)> chosen) override;
    QWidget* savePanel(QWidget* parent, const QString& proposedName,
                       std::function<void(const QString&)> chosen) override;
    QWidget* chooseProgram(QWidget* parent, std::function<void(const QString&)> chosen) override;
    void revealInFileManager(const QString& path) override;
    void openUrl(const QUrl& url) override;
    void runModal(QDialog* window) override;
    void beginSheet(QDialog* window) override;
    void endModal(QDialog* window) override;
};

// Handles events until pred holds or the time is up; answers pred().
bool processEventsUntil(const std::function<bool()>& pred,
                        std::chrono::milliseconds timeout = std::chrono::seconds(10));
void processPendingEvents();

// Runs a program with an argument list (no shell); its exit code, or -1 when
// it could not be started or did not end within the time given. Standard
// output goes to `out` when asked for.
int runTool(const QString& program, const QStringList& arguments, QByteArray* out = nullptr,
            std::chrono::milliseconds timeout = std::chrono::seconds(120));
bool haveTool(const QString& program);

// A two-second H.264 clip with sound made by ffmpeg at path; false when
// ffmpeg could not make it.
bool makePlayableClip(const std::string& path);

// Handles events until the player knows a duration above 0 and the sink has
// been given a frame; says what was missing when the time is up.
bool waitUntilPlayable(QMediaPlayer& player, QVideoSink& sink, QString& missing,
                       std::chrono::milliseconds timeout = std::chrono::seconds(20));

// Whether the media backend of this machine shows a frame of the clip.
bool mediaBackendShows(const std::string& clip, QString& missing);

// Saves what the widget shows as NAME.png in the folder named by
// ARBEL_GUI_SCREENSHOTS, when that is set, so a person can look at a screen
// as the tests leave it. Answers whether the widget could be drawn.
bool saveScreenshot(QWidget* widget, const QString& name);

// One controller with its window, a private result folder and zero pacing.
class ControllerTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Chooses a file written into the test folder through the open panel.
    void chooseDamaged(const std::string& name, const std::vector<uint8_t>& bytes);
    void chooseReference(const std::string& name, const std::vector<uint8_t>& bytes);

    // A QuickTime repair with both files valid, ready for repair().
    void readyQuickTimeRepair();
    // An AVI repair with a valid file, ready for repair().
    void readyAviRepair();

    bool workerFinished() const;

    // A QuickTime (or AVI) repair whose scripted engine writes `result` where
    // the engine writes its result, reports it completed, and reaches the
    // details screen. Answers the result's path.
    std::string completeRepairWith(const std::vector<uint8_t>& result, bool avi = false);

    // Writes a file into the test folder and checks that all of it landed.
    std::string writeInput(const std::string& name, const std::vector<uint8_t>& bytes);

    TempDir dir;
    ScopedResultBase base{dir.file("results")};
    std::shared_ptr<ScriptedPrompts> prompts;
    std::unique_ptr<Tolvik_Repair_MOVAppDelegate> app;
};

// A scripted engine run that says what it says and reports nothing: the
// controller gets an empty report, as from a repair that did not complete.
template <typename Script>
auto scripted(Script script) {
    return [script](auto& engine) {
        script(engine);
        return RepairReport{};
    };
}

// Says the engine has started, then works until the user stops the repair.
template <typename Engine>
void workUntilStopped(Engine& engine) {
    engine.reporter().status(kAnalyzingText, 10);
    while (!engine.request().control->stopRequested()) Pacing::pauseSleep();
}

// Synthetic inputs that pass or fail the engines' checks.
std::vector<uint8_t> healthyReferenceBytes();
std::vector<uint8_t> damagedMovBytes();
std::vector<uint8_t> damagedAviBytes();
std::vector<uint8_t> noStructureBytes();

}  // namespace arbel::test

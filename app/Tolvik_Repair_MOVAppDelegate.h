#pragma once

#include "app/repair_values.h"
#include "engine/repair_request.h"
#include "platform/file_copy.h"
#include "progress/formatting.h"
#include "progress/notification.h"

#include <QDateTime>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <QVariantMap>

#include <atomic>
#include <cstdint>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

class QAbstractButton;
class QDialog;
class QEvent;
class QLabel;
class QLineEdit;
class QMediaPlayer;
class QProgressBar;
class QPushButton;
class QStackedWidget;
class QVideoWidget;
class QWidget;

namespace arbel {

class SplashScreenWindowController;

// One row of the hover table: the control a tracker id names and the
// pictures it shows while the pointer is over it and after it has left.
struct HoverRow {
    int whichTracker;
    const char* control;  // the control's object name
    const char* enterPicture;
    const char* leavePicture;
};
const std::vector<HoverRow>& hoverTable();

class BusyIndicator;
class MainWindow;
struct MainWindowFrame;
class ModalWindow;
class RepairFile;
class RepairFileAvi;
class TemporaryResultClaim;
class UiPrompts;

// The controller of a repair session: it owns the main window and its
// screens, records the user's choice of files, runs the engines' checks,
// starts each repair on a detached worker thread, applies the engine's
// progress notifications to the window, previews the result and saves it.
class Tolvik_Repair_MOVAppDelegate : public QObject {
public:
    // Hover: Enter and Leave of the tracked controls.
    bool eventFilter(QObject* watched, QEvent* event) override;

    explicit Tolvik_Repair_MOVAppDelegate(std::shared_ptr<UiPrompts> prompts, QObject* parent = nullptr);
    ~Tolvik_Repair_MOVAppDelegate() override;

    Tolvik_Repair_MOVAppDelegate(const Tolvik_Repair_MOVAppDelegate&) = delete;
    Tolvik_Repair_MOVAppDelegate& operator=(const Tolvik_Repair_MOVAppDelegate&) = delete;

    MainWindow* window() const { return window_.get(); }

    // --- start-up ---------------------------------------------------------
    void awakeFromNib();
    // Hides the main window and shows the splash; its ticks then show the
    // main window and check for a newer version.
    void applicationWillFinishLaunching();
    // Observes progress and gives each control of the hover table its
    // tracker (and main1 one without an id).
    void applicationDidFinishLaunching();
    // Reads "CFBundleIdentifier" of the information file into bundleIdentifier.
    void readBundleIdentifier(const std::string& plistPath);

    // --- actions ------------------------------------------------------------
    void openFinderWindow();
    void openReferenceFile();
    void repair();
    void pauseRepairing();
    void stopProgress();
    void stopit();
    void stopRepairOk();
    void stopRepairCancel();
    void repairAbortedOk();
    void couldntRepairOk();
    void fileNotSelectedOk();
    void main3();
    void repairCompletedOk();
    void elapsedTimeThread();
    void help3();

    // --- splash ---------------------------------------------------------------
    // One tick of the splash timer; the eleventh ends the splash.
    void loadStartUpObjects();
    void updateSplash();
    std::unique_ptr<SplashScreenWindowController> splashController;
    int splashTimer = 0;
    QTimer& splashTicks() { return splashTicks_; }

    // --- hover pictures ---------------------------------------------------------
    // The pointer entered or left a tracked control.
    void mouseEntered(QObject* control);
    void mouseExited(QObject* control);
    void mouseDragged() {}
    // Entering gives the control the dictionary names its enter picture;
    // leaving gives every control of the table its leave picture.
    void handleEnteredExited(bool entered, const QVariantMap* trackingDict);
    // The tracker id of a tracking dictionary, or -1 without one.
    static int getTrackerIDFromDict(const QVariantMap& trackingDict);
    // The tracking dictionary of a control; null for a control without an id.
    static std::optional<QVariantMap> trackingDictOf(const QObject* control);

    // --- update check ----------------------------------------------------------
    // Reads the information file (bundleIdentifier) and answers whether the
    // published version differs from this one.
    bool checkForUpdate();
    // Offers the updater when a different version is published; a person who
    // asked (a sender) gets the updater in any case.
    void checkForUpdateClicked(QObject* sender);
    // Where the check reads the information file and runs the updater, how
    // it learns whether the machine is online, how long a fetch may take and
    // how it starts the updater; tests set these.
    std::string infoPlistPath;
    QString updaterPath;
    std::function<bool()> isOnline;
    std::chrono::milliseconds updateFetchTimeout{10000};
    std::function<bool(const QString& program)> launchUpdater;
    // --- details and preview ----------------------------------------------------
    // Loads the result the engine wrote into the preview.
    void setMovieView();
    // Watches for the end of the preview, then plays the result externally.
    void preview();
    void movieDidEnd(QMediaPlayer* movie);
    void playWithVLC();
    void openPanelForOpenWithFileDidEnd(const QString& program);
    // Plays or pauses the preview (the movie view's own control).
    void toggleMoviePlayback();

    // --- saving -------------------------------------------------------------------
    void save();
    void savePanelDidEnd(const QString& chosenPath);
    void stopSaving();
    void continueSaving();
    void stopSavingOk();
    void saveCompletedOk();

    // --- progress notifications (any thread) --------------------------------
    void updateProgress(const NotifDict& userInfo);
    void updateBar(const NotifDict& userInfo);

    // --- window delegate ------------------------------------------------------
    bool windowShouldClose();
    void windowWillClose();

    // --- accessors --------------------------------------------------------------
    void setRepairing(bool value) { repairing = value; }
    bool getRepairing() const { return repairing; }
    void setSavingProgress(bool value) { savingProgress = value; }
    bool getSavingProgress() const { return savingProgress; }
    double counterr() const { return repairClock_.counterr(); }
    void setCounterr(double value) { repairClock_.setCounterr(value); }

    // Tabs are found by their identifier (the page's object name).
    void selectTabWithIdentifier(const QString& identifier);
    void selectNextTab();
    QString selectedTabIdentifier() const;

    // --- fields -------------------------------------------------------------
    // The engines of the current repair. They are shared with the worker that
    // runs them, so an engine lives as long as its thread needs it. (`repair_`
    // and `pauseRepairing_` carry an underscore because actions of the same
    // names exist.)
    std::shared_ptr<RepairFile> repair_;
    std::shared_ptr<RepairFileAvi> repairAvi;
    std::string bundleIdentifier;
    // The files chosen for the session; each repair's request is made from them.
    RepairValues values;
    bool movFile = false;
    bool aviFile = false;
    bool repairing = false;
    bool savingProgress = false;
    bool pauseRepairing_ = false;
    bool stopElapsedTimeThread = false;
    QDateTime scanStartDate;

    // What a repair's worker thread runs. The desktop program runs the
    // engines' repair operations; tests script an engine here.
    std::function<RepairReport(RepairFile&)> runMovRepair;
    std::function<RepairReport(RepairFileAvi&)> runAviRepair;

    // --- saving state -----------------------------------------------------------------
    // Shared with the two save workers: the stop confirmation is open (both
    // sleep), and the user confirmed the stop.
    std::atomic<bool> pauseSaving{false};
    std::atomic<bool> stopvalue{false};
    // The file being saved: the confirmed folder and "repaired.mov" or ".avi".
    QString savingNameFromUser;
    // What the saving screen shows, kept on the main thread.
    double progressbarValue = 0;
    int percentValue = 0;
    QString elapsedSavingTimee;
    // The copy a save runs and the free space it checks first. The program
    // copies and asks the file system; tests put faults and answers here.
    std::function<CopyResult(const CopyRequest&, CopyFlags, CopyProgress&)> runCopy;
    std::function<std::optional<uint64_t>(const std::string& folder)> freeSpaceOf;

    // --- preview state ------------------------------------------------------------------
    // The result the preview, the players and saving use: the file the
    // engine of the last completed repair wrote.
    QString unipath;
    // The movie in the preview, or null.
    QPointer<QMediaPlayer> video;
    // The open panel of a player chooser and the save panel while they are open.
    QPointer<QWidget> panel;
    QPointer<QWidget> savepanel;

    // The user confirmed a stop of the current repair.
    bool stopRequested() const { return control_ && control_->stopRequested(); }
    // The report of the latest repair that ended (empty until one has).
    const RepairReport& lastReport() const { return lastReport_; }

    // --- outlets --------------------------------------------------------------
    QStackedWidget* tabview = nullptr;
    QLabel* upperBoxField = nullptr;
    QPushButton* homeBtn = nullptr;
    QPushButton* helppBtn = nullptr;
    QLabel* socialBtn = nullptr;
    QPushButton* checkForUpdatesBtn = nullptr;

    // Start screen.
    QPushButton* browsebutton = nullptr;
    QPushButton* repairbutton = nullptr;
    QPushButton* backBtn = nullptr;
    QLabel* main1 = nullptr;
    QPushButton* help1 = nullptr;
    QLabel* fileStatus = nullptr;
    QLabel* filePathUp = nullptr;
    QLabel* selectFileText = nullptr;
    QLineEdit* pathfield = nullptr;

    // Reference screen.
    QLabel* refTabFileStatus = nullptr;
    QLabel* refTabCorruptPath = nullptr;
    QLabel* refTabRefFilePath = nullptr;
    QPushButton* refTabRepairBtn = nullptr;
    QPushButton* refTabBackBtn = nullptr;
    QPushButton* selectRefFileBtn = nullptr;
    QPushButton* main2 = nullptr;
    QPushButton* help2 = nullptr;
    QLabel* nextstepTextField = nullptr;
    QLabel* whyMovFile = nullptr;
    QLineEdit* referencefilepathfield = nullptr;

    // Repair screen.
    QLabel* repFileStatus = nullptr;
    QLabel* repCorruptFilePath = nullptr;
    QLabel* repHealthyFilePath = nullptr;
    QLabel* repairingStartTimeField = nullptr;
    QPushButton* repPauseBtn = nullptr;
    QPushButton* repCancelBtn = nullptr;
    BusyIndicator* animView = nullptr;
    QProgressBar* progressbar = nullptr;
    QLabel* elapsedTime = nullptr;
    QLabel* currentstatus = nullptr;
    QLabel* percent = nullptr;

    // Details screen.
    QLabel* pathlabel = nullptr;
    QLabel* textfield = nullptr;
    QLabel* sizeField = nullptr;
    QLabel* fileNamefield = nullptr;
    QLabel* tracksField = nullptr;
    QLabel* durationField = nullptr;
    QLabel* videoCodecField = nullptr;
    QLabel* fpsField = nullptr;
    QLabel* scanField = nullptr;
    QLabel* playbackField = nullptr;
    QPushButton* prewTabHomeBtn = nullptr;
    QVideoWidget* movieview = nullptr;
    QPushButton* moviePlayButton = nullptr;
    QPushButton* prewBtn = nullptr;
    QPushButton* previewbutton = nullptr;  // prewBtn
    QPushButton* vlcButton = nullptr;
    QPushButton* prewSaveBtn = nullptr;
    QPushButton* savebutton = nullptr;  // prewSaveBtn

    // Saving screen. (`main3_` and `help3_` carry an underscore because
    // actions of the same names exist.)
    QLabel* destinationPath = nullptr;
    QLabel* savingNotification = nullptr;
    QLabel* savingStartTime = nullptr;
    QLabel* savingElapsedTime = nullptr;
    QLabel* savingPercentage = nullptr;
    QProgressBar* saveProgressBarr = nullptr;
    BusyIndicator* savingAnimation = nullptr;
    QPushButton* cancelSaveBtn = nullptr;
    QPushButton* main3_ = nullptr;
    QPushButton* help3_ = nullptr;

    // Modal windows.
    ModalWindow* filenotselectedwindow = nullptr;
    QPushButton* filenotselectedokbutton = nullptr;
    ModalWindow* stoprepairwindow = nullptr;
    QPushButton* stoprepairokbutton = nullptr;
    QPushButton* stoprepaircancelbutton = nullptr;
    ModalWindow* repairAbortedWindow = nullptr;
    QPushButton* repairAbortedOK = nullptr;
    ModalWindow* couldntRepair = nullptr;
    QPushButton* couldNotRepairOk = nullptr;
    ModalWindow* stopsavingwindow = nullptr;
    QPushButton* stopsavingOKbutton = nullptr;
    QPushButton* stopsavingCancelbutton = nullptr;
    ModalWindow* repaircompletedwindow = nullptr;
    QPushButton* saveCompletedOkBtn = nullptr;

    // --- for tests and diagnostics ---------------------------------------------
    const QTimer& repairClockTimer() const { return repairClockTimer_; }
    // The "finished" flag of the latest worker, or null when none was started.
    std::shared_ptr<const std::atomic<bool>> latestWorkerFinished() const { return workerFinished_; }
    // Either save worker has not been joined yet.
    bool saveWorkersRunning() const { return saveCopyThread_.joinable() || saveDisplayThread_.joinable(); }

private:
    // Points the outlets at the widgets of the frame and its screens.
    void takeOutlets(const MainWindowFrame& frame);

    // Settling wait: the window redraws and handles events meanwhile.
    void settle(double designedSeconds);

    void startRepairClock();
    // Runs the repair on a detached worker; its report comes back to the main thread.
    void startWorker(std::function<RepairReport()> run);
    void reportArrived(std::uint64_t generation, const RepairReport& report);
    // The details screen, once the repair has completed and its report is here.
    void showDetailsWhenReported();
    // Stops an earlier worker that is still running and waits for it while
    // the main thread keeps handling events.
    void retireWorker();
    // Start time, clock, animation, the repair screen and its heading; a
    // status line and percentage clear of the last repair.
    void showRepairScreen();

    // A repair's notifications count only while it is the current repair.
    bool isCurrentRepair(std::uint64_t generation) const;
    std::uint64_t generationOfCaller() const;

    // Runs fn on the main thread and waits for it; directly when called there.
    void runOnMainThreadAndWait(const std::function<void()>& fn);
    void runOnMainThreadLater(std::function<void()> fn);

    // The preview lets go of the result (a new repair truncates it).
    void releaseMovie();
    void startPlayer(const QString& program);
    // "repaired.mov" or "repaired.avi", after the kind of the repair.
    QString savedFileName() const;

    // --- saving ---
    void startSaveWorkers(uint64_t need, bool replaceExisting);
    // The copy worker and the display worker.
    void saveFile(const CopyRequest& request);
    void savemethod(uint64_t need, std::uint64_t generation, std::chrono::steady_clock::time_point start);
    void setProgressBarValue(double value, int step, const QString& elapsed);
    void updateSaveProgressBar2();
    // On the main thread, once the copy has ended: completion or failure.
    void saveEnded(std::uint64_t generation);
    // A save that did not happen: the panel saying why, then the details
    // screen, to choose another place.
    void saveFailed(const QString& reason);
    // Stops the save workers, if any, and waits for them while the main
    // thread keeps handling events.
    void retireSaveWorkers();

    void setButtonTitle(QAbstractButton* button, const QString& title);
    void setButtonState(QAbstractButton* button, int state);

    std::shared_ptr<UiPrompts> prompts_;
    std::unique_ptr<MainWindow> window_;
    QTimer splashTicks_;
    // The control whose hover table row has this tracker id, or null.
    QWidget* trackedControl(int whichTracker) const;
    // Gives each control of the hover table its id and its leave picture.
    void createTrackingAreas();

    NotificationCenter::Token observerToken_ = 0;
    RepairClock repairClock_;
    QTimer repairClockTimer_;

    std::uint64_t lastGeneration_ = 0;
    std::atomic<std::uint64_t> currentGeneration_{0};
    std::shared_ptr<std::atomic<bool>> workerFinished_;
    bool startingRepair_ = false;
    bool stopConfirmationOpen_ = false;

    // The stop and pause of the current repair, shared with its engines.
    std::shared_ptr<RepairControl> control_;
    // This program's own temporary results, claimed at its first repair.
    std::unique_ptr<TemporaryResultClaim> movResult_;
    std::unique_ptr<TemporaryResultClaim> aviResult_;
    RepairReport lastReport_;
    bool reportIn_ = false;             // the current repair's report has arrived
    bool detailsWaitForReport_ = false;  // completed: the details wait for its report

    // Preview: preview() asked to hear of the movie's end.
    bool observingMovieEnd_ = false;

    // The two workers of the current save; kept and joined, so that no copy
    // outlives the next repair's start.
    std::thread saveCopyThread_;
    std::thread saveDisplayThread_;
    std::atomic<bool> saveCopyEnded_{false};
    std::atomic<bool> saveDisplayEnded_{false};
    CopyProgress saveProgress_;
    CopyResult saveResult_;  // written by the copy worker before saveCopyEnded_
    std::uint64_t lastSaveGeneration_ = 0;
    std::atomic<std::uint64_t> currentSaveGeneration_{0};
};

}  // namespace arbel

#pragma once

#include "app/repair_values.h"
#include "engine/repair_request.h"
#include "progress/formatting.h"
#include "progress/notification.h"

#include <QDateTime>
#include <QObject>
#include <QString>
#include <QTimer>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class QAbstractButton;
class QDialog;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QStackedWidget;

namespace arbel {

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
// starts each repair on a detached worker thread and applies the engine's
// progress notifications to the window.
class Tolvik_Repair_MOVAppDelegate : public QObject {
public:
    explicit Tolvik_Repair_MOVAppDelegate(std::shared_ptr<UiPrompts> prompts, QObject* parent = nullptr);
    ~Tolvik_Repair_MOVAppDelegate() override;

    Tolvik_Repair_MOVAppDelegate(const Tolvik_Repair_MOVAppDelegate&) = delete;
    Tolvik_Repair_MOVAppDelegate& operator=(const Tolvik_Repair_MOVAppDelegate&) = delete;

    MainWindow* window() const { return window_.get(); }

    // --- start-up ---------------------------------------------------------
    void awakeFromNib();
    void applicationDidFinishLaunching();
    // Reads "CFBundleIdentifier" of the information file into bundleIdentifier.
    void readBundleIdentifier(const std::string& infoPlistPath);

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
    void setMovieView();

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
    bool pauseSaving = false;
    bool stopElapsedTimeThread = false;
    QDateTime scanStartDate;

    // What a repair's worker thread runs. The desktop program runs the
    // engines' repair operations; tests script an engine here.
    std::function<RepairReport(RepairFile&)> runMovRepair;
    std::function<RepairReport(RepairFileAvi&)> runAviRepair;

    // The user confirmed a stop of the current repair.
    bool stopRequested() const { return control_ && control_->stopRequested(); }
    // The report of the latest repair that ended (empty until one has).
    const RepairReport& lastReport() const { return lastReport_; }

    // --- outlets --------------------------------------------------------------
    QStackedWidget* tabview = nullptr;
    QLabel* upperBoxField = nullptr;

    // Start screen.
    QPushButton* browsebutton = nullptr;
    QPushButton* repairbutton = nullptr;
    QPushButton* backBtn = nullptr;
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

    // --- for tests and diagnostics ---------------------------------------------
    const QTimer& repairClockTimer() const { return repairClockTimer_; }
    // The "finished" flag of the latest worker, or null when none was started.
    std::shared_ptr<const std::atomic<bool>> latestWorkerFinished() const { return workerFinished_; }

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

    void setButtonTitle(QAbstractButton* button, const QString& title);
    void setButtonState(QAbstractButton* button, int state);

    std::shared_ptr<UiPrompts> prompts_;
    std::unique_ptr<MainWindow> window_;

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
};

}  // namespace arbel

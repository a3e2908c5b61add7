#include "Tolvik_Repair_MOVAppDelegate.h"

#include "app/bundle_info.h"
#include "app/busy_indicator.h"
#include "app/button_title_color.h"
#include "app/main_window.h"
#include "app/main_window_frame.h"
#include "app/modal_window.h"
#include "app/screens/details_screen.h"
#include "app/screens/reference_screen.h"
#include "app/screens/repair_screen.h"
#include "app/screens/saving_screen.h"
#include "app/screens/start_screen.h"
#include "app/splash_screen.h"
#include "app/ui_prompts.h"
#include "app/update_check.h"
#include "build_info.h"
#include "engine/avi/repair_file_avi.h"
#include "engine/file_kind.h"
#include "engine/mov/repair_file.h"
#include "engine/result_location.h"
#include "platform/file_system.h"
#include "platform/pacing.h"
#include "platform/system_log.h"

#include <QAbstractButton>
#include <QAudioOutput>
#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMediaPlayer>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QStackedWidget>
#include <QStandardPaths>
#include <QThread>
#include <QUrl>
#include <QVideoFrame>
#include <QVideoSink>
#include <QVideoWidget>

#include <algorithm>
#include <cmath>
#include <thread>
#include <utility>

namespace arbel {

namespace {

// The repair a worker thread runs for; 0 on every other thread.
thread_local std::uint64_t tlsRepairGeneration = 0;

int designedMilliseconds(double seconds) {
    return static_cast<int>(std::lround(Pacing::scaled(seconds) * 1000.0));
}

// Paths travel to the engines in the file system's own encoding.
std::string enginePath(const QString& path) { return QFile::encodeName(path).toStdString(); }
QString displayPath(const std::optional<std::string>& path) {
    return path ? QFile::decodeName(QByteArray::fromStdString(*path)) : QString();
}

QUrl helpPage() {
    const std::string page = locateResource(QCoreApplication::applicationDirPath().toStdString(), "index.html");
    return page.empty() ? QUrl(QStringLiteral("file:///usr/share/arbel-video-repair/index.html"))
                        : QUrl::fromLocalFile(QString::fromStdString(page));
}

QString referenceHelpAddress() {
    QUrl url = helpPage();
    url.setFragment(QStringLiteral("reference-file"));
    return url.toString();
}

const char* const kVlcDownloadPage = "https://www.videolan.org/vlc/";

// How often the saving display looks at the copy. Updates reach the window
// only when the whole percent or the elapsed second changes.
constexpr std::chrono::milliseconds kSaveDisplayInterval{40};

}  // namespace

Tolvik_Repair_MOVAppDelegate::Tolvik_Repair_MOVAppDelegate(std::shared_ptr<UiPrompts> prompts, QObject* parent)
    : QObject(parent), prompts_(std::move(prompts)) {
    runMovRepair = [](RepairFile& engine) { return engine.repairMOV(); };
    runAviRepair = [](RepairFileAvi& engine) { return engine.retrieveAudioVideoSamples(); };
    runCopy = copyFile;
    freeSpaceOf = fs::freeSpace;

    MainWindowFrame frame = buildMainWindowFrame();
    window_ = std::move(frame.window);
    takeOutlets(frame);
    window_->shouldClose = [this] { return windowShouldClose(); };
    window_->willClose = [this] { windowWillClose(); };

    repairClockTimer_.setInterval(1000);
    connect(&repairClockTimer_, &QTimer::timeout, this, [this] { elapsedTimeThread(); });
    connect(&splashTicks_, &QTimer::timeout, this, [this] { loadStartUpObjects(); });

    infoPlistPath = locateResource(QCoreApplication::applicationDirPath().toStdString(), "Info.plist");
    updaterPath = defaultUpdaterPath();
    isOnline = machineIsOnline;
    // The updater runs in the background, with no arguments and no shell.
    launchUpdater = [](const QString& program) { return QProcess::startDetached(program, {}); };

    connect(browsebutton, &QPushButton::clicked, this, [this] { openFinderWindow(); });
    connect(repairbutton, &QPushButton::clicked, this, [this] { repair(); });
    connect(backBtn, &QPushButton::clicked, this, [this] { main3(); });
    connect(selectRefFileBtn, &QPushButton::clicked, this, [this] { openReferenceFile(); });
    connect(refTabRepairBtn, &QPushButton::clicked, this, [this] { repair(); });
    connect(refTabBackBtn, &QPushButton::clicked, this, [this] { main3(); });
    connect(prewTabHomeBtn, &QPushButton::clicked, this, [this] { main3(); });
    connect(repPauseBtn, &QPushButton::clicked, this, [this] { pauseRepairing(); });
    connect(repCancelBtn, &QPushButton::clicked, this, [this] { stopProgress(); });
    connect(stoprepairokbutton, &QPushButton::clicked, this, [this] { stopRepairOk(); });
    connect(stoprepaircancelbutton, &QPushButton::clicked, this, [this] { stopRepairCancel(); });
    connect(repairAbortedOK, &QPushButton::clicked, this, [this] { repairAbortedOk(); });
    connect(couldNotRepairOk, &QPushButton::clicked, this, [this] { couldntRepairOk(); });
    connect(filenotselectedokbutton, &QPushButton::clicked, this, [this] { fileNotSelectedOk(); });
    connect(prewBtn, &QPushButton::clicked, this, [this] { preview(); });
    connect(vlcButton, &QPushButton::clicked, this, [this] { playWithVLC(); });
    connect(prewSaveBtn, &QPushButton::clicked, this, [this] { save(); });
    connect(moviePlayButton, &QPushButton::clicked, this, [this] { toggleMoviePlayback(); });
    connect(cancelSaveBtn, &QPushButton::clicked, this, [this] { stopSaving(); });
    connect(main3_, &QPushButton::clicked, this, [this] { main3(); });
    // Every help key opens the help page; every home key leads to the start.
    for (QPushButton* help : {help1, help2, help3_, helppBtn})
        connect(help, &QPushButton::clicked, this, [this] { help3(); });
    for (QPushButton* home : {main2, homeBtn}) connect(home, &QPushButton::clicked, this, [this] { main3(); });
    connect(checkForUpdatesBtn, &QPushButton::clicked, this,
            [this] { checkForUpdateClicked(checkForUpdatesBtn); });
    connect(stopsavingOKbutton, &QPushButton::clicked, this, [this] { stopSavingOk(); });
    connect(stopsavingCancelbutton, &QPushButton::clicked, this, [this] { continueSaving(); });
    connect(saveCompletedOkBtn, &QPushButton::clicked, this, [this] { saveCompletedOk(); });

    awakeFromNib();
}

void Tolvik_Repair_MOVAppDelegate::takeOutlets(const MainWindowFrame& frame) {
    tabview = frame.tabview;
    upperBoxField = frame.upperBoxField;
    homeBtn = frame.homeBtn;
    helppBtn = frame.helppBtn;
    socialBtn = frame.socialBtn;
    checkForUpdatesBtn = frame.checkForUpdatesBtn;

    const StartScreen& start = *frame.startScreen;
    browsebutton = start.browsebutton;
    repairbutton = start.repairbutton;
    backBtn = start.backBtn;
    main1 = start.main1;
    help1 = start.help1;
    fileStatus = start.fileStatus;
    filePathUp = start.filePathUp;
    selectFileText = start.selectFileText;
    pathfield = start.pathfield;

    const ReferenceScreen& reference = *frame.referenceScreen;
    refTabFileStatus = reference.refTabFileStatus;
    refTabCorruptPath = reference.refTabCorruptPath;
    refTabRefFilePath = reference.refTabRefFilePath;
    refTabRepairBtn = reference.refTabRepairBtn;
    refTabBackBtn = reference.refTabBackBtn;
    selectRefFileBtn = reference.selectRefFileBtn;
    main2 = reference.main2;
    help2 = reference.help2;
    nextstepTextField = reference.nextstepTextField;
    whyMovFile = reference.whyMovFile;
    referencefilepathfield = reference.referencefilepathfield;

    const RepairScreen& repairScreen = *frame.repairScreen;
    repFileStatus = repairScreen.repFileStatus;
    repCorruptFilePath = repairScreen.repCorruptFilePath;
    repHealthyFilePath = repairScreen.repHealthyFilePath;
    repairingStartTimeField = repairScreen.repairingStartTimeField;
    repPauseBtn = repairScreen.repPauseBtn;
    repCancelBtn = repairScreen.repCancelBtn;
    animView = repairScreen.animView;
    progressbar = repairScreen.progressbar;
    elapsedTime = repairScreen.elapsedTime;
    currentstatus = repairScreen.currentstatus;
    percent = repairScreen.percent;

    const DetailsScreen& details = *frame.detailsScreen;
    pathlabel = details.pathlabel;
    textfield = details.textfield;
    sizeField = details.sizeField;
    fileNamefield = details.fileNamefield;
    tracksField = details.tracksField;
    durationField = details.durationField;
    videoCodecField = details.videoCodecField;
    fpsField = details.fpsField;
    scanField = details.scanField;
    playbackField = details.playbackField;
    prewTabHomeBtn = details.prewTabHomeBtn;
    movieview = details.movieview;
    moviePlayButton = details.moviePlayButton;
    prewBtn = previewbutton = details.prewBtn;
    vlcButton = details.vlcButton;
    prewSaveBtn = savebutton = details.prewSaveBtn;

    const SavingScreen& saving = *frame.savingScreen;
    destinationPath = saving.destinationPath;
    savingNotification = saving.savingNotification;
    savingStartTime = saving.savingStartTime;
    savingElapsedTime = saving.savingElapsedTime;
    savingPercentage = saving.savingPercentage;
    saveProgressBarr = saving.saveProgressBarr;
    savingAnimation = saving.savingAnimation;
    cancelSaveBtn = saving.cancelSaveBtn;
    main3_ = saving.main3;
    help3_ = saving.help3;

    filenotselectedwindow = frame.filenotselectedwindow;
    filenotselectedokbutton = frame.filenotselectedokbutton;
    stoprepairwindow = frame.stoprepairwindow;
    stoprepairokbutton = frame.stoprepairokbutton;
    stoprepaircancelbutton = frame.stoprepaircancelbutton;
    repairAbortedWindow = frame.repairAbortedWindow;
    repairAbortedOK = frame.repairAbortedOK;
    couldntRepair = frame.couldntRepair;
    couldNotRepairOk = frame.couldNotRepairOk;
    stopsavingwindow = frame.stopsavingwindow;
    stopsavingOKbutton = frame.stopsavingOKbutton;
    stopsavingCancelbutton = frame.stopsavingCancelbutton;
    repaircompletedwindow = frame.repaircompletedwindow;
    saveCompletedOkBtn = frame.saveCompletedOkBtn;
}

Tolvik_Repair_MOVAppDelegate::~Tolvik_Repair_MOVAppDelegate() {
    if (observerToken_ != 0) NotificationCenter::defaultCenter().removeObserver(observerToken_);
    // A worker may still be inside this object's observer, or copying with
    // its flags: it must be done before the object goes.
    retireWorker();
    retireSaveWorkers();
    releaseMovie();
    repairClockTimer_.stop();
}

// --- start-up ---------------------------------------------------------------

void Tolvik_Repair_MOVAppDelegate::awakeFromNib() {
    savingProgress = false;
    repairing = false;
    values.referenceFileChosen = 0;
    repairbutton->hide();
    backBtn->hide();
    fileStatus->hide();
    filePathUp->hide();
    movFile = false;
    aviFile = false;
    setCounterr(0);
    // The player button is round.
    vlcButton->setStyleSheet(QStringLiteral("border-radius: 25px;"));
    for (QPushButton* button : {browsebutton, selectRefFileBtn, repCancelBtn, repPauseBtn, prewBtn, prewTabHomeBtn,
                                prewSaveBtn, cancelSaveBtn})
        setTitleTextColor(button, titleTextColor());
    browsebutton->setFocus();
}


void Tolvik_Repair_MOVAppDelegate::applicationWillFinishLaunching() {
    if (window_->isVisible()) window_->hide();
    splashController = std::make_unique<SplashScreenWindowController>();
    splashController->showWindow();
    splashTimer = 0;
    // One tick a second by design; no time at all under zero pacing.
    splashTicks_.setInterval(designedMilliseconds(1.0));
    splashTicks_.start();
}

void Tolvik_Repair_MOVAppDelegate::loadStartUpObjects() {
    ++splashTimer;
    updateSplash();
    if (splashTimer < 11) return;
    splashTicks_.stop();
    if (splashController) splashController->close();
    window_->show();
    window_->raise();
    window_->activateWindow();
    checkForUpdateClicked(nullptr);
}

void Tolvik_Repair_MOVAppDelegate::updateSplash() {
    if (splashController) splashController->progressIndicator->setValue(splashTimer);
}

void Tolvik_Repair_MOVAppDelegate::applicationDidFinishLaunching() {
    if (observerToken_ != 0) return;
    observerToken_ = NotificationCenter::defaultCenter().addObserver(
        kProgressNotificationName, [this](const std::string&, const NotifDict& userInfo) { updateProgress(userInfo); });
    createTrackingAreas();
}

void Tolvik_Repair_MOVAppDelegate::readBundleIdentifier(const std::string& plistPath) {
    if (auto identifier = readInfoPlistString(plistPath, "CFBundleIdentifier")) {
        bundleIdentifier = *identifier;
        return;
    }
    // Without the information file the program still works, with the
    // identifier it was built with.
    SystemLog::write("Information file not readable: " + infoPlistPath);
    bundleIdentifier = build::kBundleIdentifier;
}

// --- choosing the files -------------------------------------------------------

void Tolvik_Repair_MOVAppDelegate::openFinderWindow() {
    prompts_->openMoviePanel(window_.get(), [this](const QString& path) {
        const std::string chosen = enginePath(path);
        values.chooseDamagedFile(chosen);

        textfield->setText(path);
        pathfield->setText(path);
        sizeField->setText(QString::fromStdString(getFormattedStringForSize(values.corruptFileSize)));
        fileNamefield->setText(QFileInfo(path).fileName());

        switch (fileKindForPath(chosen)) {
        case FileKind::Avi:
            aviFile = true;
            fileStatus->setText(QStringLiteral("File Selected"));
            filePathUp->setText(QStringLiteral("Path:%1").arg(path));
            repairbutton->show();
            backBtn->show();
            fileStatus->show();
            filePathUp->show();
            selectFileText->hide();
            break;
        case FileKind::QuickTime:
            movFile = true;
            refTabFileStatus->setText(QStringLiteral("File Selected"));
            refTabCorruptPath->setText(QStringLiteral("Corrupt File:%1").arg(path));
            refTabRefFilePath->setText(QStringLiteral("Next Step:Select a healthy video file taken on same camera"));
            refTabRefFilePath->hide();
            refTabRepairBtn->setEnabled(false);
            whyMovFile->setText(QStringLiteral("<a href=\"%1\">Why i need to select a reference file?</a>")
                                    .arg(referenceHelpAddress().toHtmlEscaped()));
            selectTabWithIdentifier(QStringLiteral("referenceFileTab"));
            break;
        case FileKind::None:
            break;
        }
    });
}

void Tolvik_Repair_MOVAppDelegate::openReferenceFile() {
    prompts_->openMoviePanel(window_.get(), [this](const QString& path) {
        values.chooseReferenceFile(enginePath(path));
        nextstepTextField->hide();
        refTabRefFilePath->setText(QStringLiteral("Healthy File:%1").arg(path));
        refTabRefFilePath->show();
        refTabRepairBtn->setEnabled(true);
        // The Repair button the user presses next is this screen's; the start
        // screen's repairbutton runs the same action but is out of sight.
        refTabRepairBtn->setFocus();
    });
}

// --- starting a repair ----------------------------------------------------------

void Tolvik_Repair_MOVAppDelegate::repair() {
    // The settling wait and the wait for an earlier worker handle events; a
    // second press meanwhile must not start a second repair.
    if (startingRepair_) return;
    if (!values.corruptFilePath) {
        prompts_->beginSheet(filenotselectedwindow);
        return;
    }
    startingRepair_ = true;
    struct Guard {
        bool& flag;
        ~Guard() { flag = false; }
    } guard{startingRepair_};

    pathlabel->setText(displayPath(values.corruptFilePath));
    progressbar->setValue(0);

    // The new repair truncates the result that the preview shows and that an
    // ended save may still hold.
    releaseMovie();
    retireSaveWorkers();
    // The previous engines are replaced only when their worker has ended, so
    // that two repairs never write at the same time.
    retireWorker();
    control_ = std::make_shared<RepairControl>();
    if (!movResult_) movResult_ = std::make_unique<TemporaryResultClaim>(bundleIdentifier, ResultKind::Mov);
    if (!aviResult_) aviResult_ = std::make_unique<TemporaryResultClaim>(kArbelBundleIdentifier, ResultKind::Avi);
    RepairRequest movRequest = values.request(bundleIdentifier, true);
    movRequest.control = control_;
    movRequest.resultPath = movResult_->path();
    RepairRequest aviRequest = values.request(bundleIdentifier, false);
    aviRequest.control = control_;
    aviRequest.resultPath = aviResult_->path();
    repair_ = std::make_shared<RepairFile>(std::move(movRequest));
    repairAvi = std::make_shared<RepairFileAvi>(std::move(aviRequest));

    if (movFile) {
        if (values.referenceFileChosen != 1) {
            prompts_->messagePanel(window_.get(), QStringLiteral("Reference file not selected"),
                                   QStringLiteral("Select a reference file to proceed."), QStringLiteral("OK"));
            return;
        }
        if (!repair_->referencefileValidityCheck()) {
            prompts_->messagePanel(window_.get(), QStringLiteral("Invalid reference file"),
                                   QStringLiteral("Select a healthy movie file"), QStringLiteral("OK"));
            return;
        }
        if (!repair_->corruptedfileValidityCheck()) {
            prompts_->messagePanel(window_.get(), QStringLiteral("Invalid corrupted file"),
                                   QStringLiteral("Select a movie file"), QStringLiteral("OK"));
            setButtonState(repairbutton, 1);
            return;
        }
        settle(1.5);
        if (!movFile || !values.corruptFilePath) return;  // the user went home meanwhile

        repFileStatus->setText(QStringLiteral("File Selected"));
        repCorruptFilePath->setText(QStringLiteral("Corrupt File:%1").arg(displayPath(values.corruptFilePath)));
        repHealthyFilePath->setText(QStringLiteral("Healthy File:%1").arg(displayPath(values.referenceFilePath)));
        repHealthyFilePath->show();
        showRepairScreen();
        setRepairing(true);
        startWorker([engine = repair_, run = runMovRepair] { return run(*engine); });
        return;
    }

    if (aviFile) {
        if (!repairAvi->fileValidityCheck()) {
            prompts_->messagePanel(window_.get(), QStringLiteral("Invalid corrupted file"),
                                   QStringLiteral("Select a movie file"), QStringLiteral("OK"));
            setButtonState(repairbutton, 1);
            return;
        }
        repFileStatus->setText(QStringLiteral("File Selected"));
        repCorruptFilePath->setText(QStringLiteral("Corrupt File:%1").arg(displayPath(values.corruptFilePath)));
        repHealthyFilePath->hide();
        showRepairScreen();
        settle(1.5);
        // A stop confirmed during the wait has already taken the user home.
        if (!aviFile || stopRequested()) {
            stopElapsedTimeThread = true;
            return;
        }
        setRepairing(true);
        startWorker([engine = repairAvi, run = runAviRepair] { return run(*engine); });
    }
}

void Tolvik_Repair_MOVAppDelegate::showRepairScreen() {
    scanStartDate = QDateTime::currentDateTime();
    repairingStartTimeField->setText(QString::fromStdString(formatClockTime(scanStartDate.toSecsSinceEpoch())));
    startRepairClock();
    QTimer::singleShot(designedMilliseconds(0.2), this, [this] {
        if (!pauseRepairing_ && selectedTabIdentifier() == QLatin1String("repairingTab")) animView->startAnimation();
    });
    // The screen comes up before the engine's first status (an AVI repair
    // settles 1.5 s before its engine starts): the last repair's status and
    // percentage must not stand here meanwhile, beside a bar back at 0.
    currentstatus->clear();
    percent->setText(QString::fromStdString(formatPercent(0)));
    selectTabWithIdentifier(QStringLiteral("repairingTab"));
    upperBoxField->setText(QStringLiteral("Repairing Video File"));
}

void Tolvik_Repair_MOVAppDelegate::settle(double designedSeconds) {
    const int ms = designedMilliseconds(designedSeconds);
    if (ms <= 0) return;
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// --- worker threads -----------------------------------------------------------------

void Tolvik_Repair_MOVAppDelegate::startWorker(std::function<RepairReport()> run) {
    auto finished = std::make_shared<std::atomic<bool>>(false);
    const std::uint64_t generation = ++lastGeneration_;
    currentGeneration_.store(generation, std::memory_order_release);
    workerFinished_ = finished;
    reportIn_ = false;
    detailsWaitForReport_ = false;
    std::thread([this, generation, finished, run = std::move(run)]() mutable {
        tlsRepairGeneration = generation;
        const RepairReport report = run();
        run = nullptr;  // give up this worker's share of the engine before saying it has ended
        tlsRepairGeneration = 0;
        // The controller outlives its workers (it waits for them), and a
        // report of a repair that is no longer current is dropped there.
        runOnMainThreadLater([this, generation, report] { reportArrived(generation, report); });
        finished->store(true, std::memory_order_release);
    }).detach();
}

void Tolvik_Repair_MOVAppDelegate::reportArrived(std::uint64_t generation, const RepairReport& report) {
    if (!isCurrentRepair(generation)) return;
    lastReport_ = report;
    reportIn_ = true;
    if (detailsWaitForReport_) showDetailsWhenReported();
}

void Tolvik_Repair_MOVAppDelegate::showDetailsWhenReported() {
    // The completion notification comes just before the engine returns its
    // report: the details wait for it, however the two are scheduled.
    if (!reportIn_) {
        detailsWaitForReport_ = true;
        return;
    }
    detailsWaitForReport_ = false;
    setMovieView();
    repairCompletedOk();
}

void Tolvik_Repair_MOVAppDelegate::retireWorker() {
    const std::shared_ptr<std::atomic<bool>> finished = workerFinished_;
    if (!finished || finished->load(std::memory_order_acquire)) return;

    // From here on nothing the old worker says reaches the window.
    currentGeneration_.store(0, std::memory_order_release);
    if (control_) {
        control_->requestStop();
        control_->setPaused(false);
    }

    // The worker may be waiting for the main thread to show a status, so the
    // main thread keeps handling events while it waits. The timer makes sure
    // the loop looks at the flag at least every 10 ms.
    QTimer nudge;
    nudge.start(10);
    while (!finished->load(std::memory_order_acquire)) {
        Pacing::wake();
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
}

bool Tolvik_Repair_MOVAppDelegate::isCurrentRepair(std::uint64_t generation) const {
    return generation == currentGeneration_.load(std::memory_order_acquire);
}

std::uint64_t Tolvik_Repair_MOVAppDelegate::generationOfCaller() const {
    return tlsRepairGeneration != 0 ? tlsRepairGeneration : currentGeneration_.load(std::memory_order_acquire);
}

void Tolvik_Repair_MOVAppDelegate::runOnMainThreadAndWait(const std::function<void()>& fn) {
    // A blocking queued call from the main thread to itself would never return.
    if (QThread::currentThread() == thread()) {
        fn();
        return;
    }
    QMetaObject::invokeMethod(this, [&fn] { fn(); }, Qt::BlockingQueuedConnection);
}

void Tolvik_Repair_MOVAppDelegate::runOnMainThreadLater(std::function<void()> fn) {
    QMetaObject::invokeMethod(this, std::move(fn), Qt::QueuedConnection);
}

// --- progress notifications ---------------------------------------------------------

void Tolvik_Repair_MOVAppDelegate::updateProgress(const NotifDict& userInfo) {
    const std::uint64_t generation = generationOfCaller();
    if (!isCurrentRepair(generation)) return;

    if (notifString(userInfo, "status")) {
        runOnMainThreadAndWait([&] {
            if (isCurrentRepair(generation)) updateBar(userInfo);
        });
        const double progress = notifNumber(userInfo, "progress").value_or(0.0);
        if (progress > kProgressCompleted) {
            runOnMainThreadLater([this, generation] {
                if (generation == 0 || !isCurrentRepair(generation)) return;
                stopProgress();
                setRepairing(false);
                // Also when the user cancels the stop: the repair has ended.
                stopElapsedTimeThread = true;
            });
        } else if (progress == kProgressCompleted) {
            runOnMainThreadLater([this, generation] {
                if (generation == 0 || !isCurrentRepair(generation)) return;
                setRepairing(false);
                stopElapsedTimeThread = true;
                QTimer::singleShot(designedMilliseconds(1.0), this, [this, generation] {
                    // An abort or a newer repair in the meantime wins.
                    if (!isCurrentRepair(generation)) return;
                    showDetailsWhenReported();
                });
            });
        }
        return;
    }

    if (notifString(userInfo, "unrepair")) {
        runOnMainThreadLater([this, generation] {
            if (generation == 0 || !isCurrentRepair(generation)) return;
            stopElapsedTimeThread = true;
            prompts_->runModal(couldntRepair);
        });
        return;
    }

    static const std::pair<const char*, QLabel* Tolvik_Repair_MOVAppDelegate::*> kDetailFields[] = {
        {"track", &Tolvik_Repair_MOVAppDelegate::tracksField},
        {"duration", &Tolvik_Repair_MOVAppDelegate::durationField},
        {"video", &Tolvik_Repair_MOVAppDelegate::videoCodecField},
        {"fps", &Tolvik_Repair_MOVAppDelegate::fpsField},
    };
    for (const auto& [key, field] : kDetailFields) {
        if (auto text = notifString(userInfo, key)) {
            const QString value = QString::fromStdString(*text);
            runOnMainThreadAndWait([&] {
                if (isCurrentRepair(generation)) (this->*field)->setText(value);
            });
            return;
        }
    }
    // Anything else ("audio" included) changes nothing.
}

void Tolvik_Repair_MOVAppDelegate::updateBar(const NotifDict& userInfo) {
    const double progress = notifNumber(userInfo, "progress").value_or(0.0);
    percent->setText(QString::fromStdString(formatPercent(progress)));
    currentstatus->setText(QString::fromStdString(notifString(userInfo, "status").value_or("")));
    // The bar ignores values outside its range; a failure's 101 shows full.
    progressbar->setValue(static_cast<int>(std::lround(std::clamp(progress, 0.0, 100.0))));
}

// --- pause and stop -------------------------------------------------------------------

void Tolvik_Repair_MOVAppDelegate::pauseRepairing() {
    const bool pause = repPauseBtn->text() == QLatin1String("Pause");
    if (pause) {
        animView->stopAnimation();
        setButtonTitle(repPauseBtn, QStringLiteral("Resume"));
        pauseRepairing_ = true;
    } else {
        pauseRepairing_ = false;
        animView->startAnimation();
        setButtonTitle(repPauseBtn, QStringLiteral("Pause"));
    }
    if (movFile) {
        if (repair_) repair_->setPauseRepairing(pause);
    } else if (aviFile) {
        if (repairAvi) repairAvi->setPauseRepairingAVI(pause);
    }
}

void Tolvik_Repair_MOVAppDelegate::stopProgress() {
    // A failure reported while the user already has the confirmation open
    // must not open it a second time.
    if (stopConfirmationOpen_) return;
    pauseRepairing();
    setTitleTextColor(stoprepairokbutton, titleTextColor());
    setTitleTextColor(stoprepaircancelbutton, titleTextColor());
    stopConfirmationOpen_ = true;
    prompts_->runModal(stoprepairwindow);
    stopConfirmationOpen_ = false;
}

void Tolvik_Repair_MOVAppDelegate::stopit() {
    // The caller gets control back at once; the confirmation itself is a
    // main-thread window.
    runOnMainThreadLater([this] { stopProgress(); });
}

void Tolvik_Repair_MOVAppDelegate::stopRepairCancel() {
    pauseRepairing();
    prompts_->endModal(stoprepairwindow);
}

void Tolvik_Repair_MOVAppDelegate::stopRepairOk() {
    setButtonState(repairbutton, 1);
    prompts_->endModal(stoprepairwindow);

    // The stop takes effect now, not when the user closes the next window: a
    // worker that goes on meanwhile must not finish and show its result.
    currentGeneration_.store(0, std::memory_order_release);
    stopElapsedTimeThread = true;
    if (control_) {
        control_->requestStop();
        control_->setPaused(false);
    }

    setTitleTextColor(repairAbortedOK, titleTextColor());
    prompts_->runModal(repairAbortedWindow);

    values.corruptFilePath.reset();
    pathfield->clear();
    values.referenceFilePath.reset();
    referencefilepathfield->clear();
    setButtonState(repairbutton, 1);
    values.referenceFileChosen = 0;
    setRepairing(false);
}

void Tolvik_Repair_MOVAppDelegate::repairAbortedOk() {
    prompts_->endModal(repairAbortedWindow);
    setRepairing(false);
    main3();
}

void Tolvik_Repair_MOVAppDelegate::couldntRepairOk() {
    prompts_->endModal(couldntRepair);
    setRepairing(false);
    main3();
}

void Tolvik_Repair_MOVAppDelegate::fileNotSelectedOk() { prompts_->endModal(filenotselectedwindow); }

// --- screens --------------------------------------------------------------------------

void Tolvik_Repair_MOVAppDelegate::main3() {
    if (repairing || savingProgress) return;
    retireSaveWorkers();
    releaseMovie();
    upperBoxField->setText(QStringLiteral("Select a video file to repair"));
    selectTabWithIdentifier(QStringLiteral("mainTab"));
    filePathUp->clear();
    fileStatus->clear();
    elapsedTime->setText(QStringLiteral("00:00:00"));
    selectFileText->show();
    backBtn->hide();
    repairbutton->hide();
    pathfield->clear();
    values.corruptFilePath.reset();
    movFile = false;
    aviFile = false;
    nextstepTextField->show();
    refTabRefFilePath->hide();
    // The count starts afresh here, so the last tick of the ended repair,
    // which may still be to come, must not land in it.
    repairClockTimer_.stop();
    setCounterr(0);
    pauseSaving = false;
    pauseRepairing_ = false;
    setButtonTitle(repPauseBtn, QStringLiteral("Pause"));
    browsebutton->setFocus();
}

void Tolvik_Repair_MOVAppDelegate::repairCompletedOk() {
    // What the details show is what the engine reports; the notifications
    // on the way said the same.
    const RepairReport& r = lastReport_;
    if (r.completed()) {
        videoCodecField->setText(QString::fromStdString(r.video.codec));
        if (r.container != "avi") {
            fpsField->setText(QString::fromStdString(r.fps));
            durationField->setText(QString::fromStdString(r.duration));
        }
        tracksField->setText(QString::number(r.tracks));
        scanField->setText(QString::fromStdString(r.scan));
        playbackField->setText(QString::fromStdString(r.playback.text()));
    }
    upperBoxField->setText(QStringLiteral("Repaired Video File Details"));
    selectNextTab();
    currentstatus->clear();
    // A first frame that arrived while the view was out of sight is not
    // drawn; asking for the same place again draws it.
    if (video && video->playbackState() == QMediaPlayer::PausedState) video->setPosition(video->position());
}

void Tolvik_Repair_MOVAppDelegate::selectTabWithIdentifier(const QString& identifier) {
    for (int i = 0; i < tabview->count(); ++i) {
        if (tabview->widget(i)->objectName() == identifier) {
            tabview->setCurrentIndex(i);
            return;
        }
    }
}

void Tolvik_Repair_MOVAppDelegate::selectNextTab() {
    const int next = tabview->currentIndex() + 1;
    if (next < tabview->count()) tabview->setCurrentIndex(next);
}

QString Tolvik_Repair_MOVAppDelegate::selectedTabIdentifier() const {
    QWidget* page = tabview->currentWidget();
    return page ? page->objectName() : QString();
}

// --- repair clock -----------------------------------------------------------------------

void Tolvik_Repair_MOVAppDelegate::startRepairClock() {
    repairClockTimer_.stop();  // one clock at a time
    stopElapsedTimeThread = false;
    repairClockTimer_.start();
}

// An ended repair sets stopElapsedTimeThread; its clock still counts the
// tick after that and then stops.
void Tolvik_Repair_MOVAppDelegate::elapsedTimeThread() {
    const bool keepTicking = repairClock_.tick(pauseRepairing_, stopElapsedTimeThread);
    if (!pauseRepairing_) elapsedTime->setText(QString::fromStdString(repairClock_.display()));
    if (!keepTicking) repairClockTimer_.stop();
}

// --- details and preview ------------------------------------------------------------------

void Tolvik_Repair_MOVAppDelegate::setMovieView() {
    unipath = QFile::decodeName(QByteArray::fromStdString(lastReport_.resultPath));
    releaseMovie();
    if (unipath.isEmpty()) return;

    auto* movie = new QMediaPlayer(this);
    movie->setAudioOutput(new QAudioOutput(movie));
    movie->setVideoOutput(movieview);
    video = movie;
    connect(movie, &QMediaPlayer::errorOccurred, this, [this, movie](QMediaPlayer::Error, const QString& message) {
        SystemLog::write("Preview of " + enginePath(unipath) + " failed: " + message.toStdString());
        // A movie that cannot play leaves the view empty.
        if (video == movie) releaseMovie();
    });
    connect(movie, &QMediaPlayer::mediaStatusChanged, this, [this, movie](QMediaPlayer::MediaStatus status) {
        // Paused at the start, the view shows the first frame.
        if (status == QMediaPlayer::LoadedMedia && movie->playbackState() == QMediaPlayer::StoppedState) movie->pause();
        if (status == QMediaPlayer::EndOfMedia && observingMovieEnd_) movieDidEnd(movie);
    });
    connect(movie, &QMediaPlayer::playbackStateChanged, this, [this](QMediaPlayer::PlaybackState state) {
        setButtonTitle(moviePlayButton,
                       state == QMediaPlayer::PlayingState ? QStringLiteral("Pause") : QStringLiteral("Play"));
    });
    movie->setSource(QUrl::fromLocalFile(unipath));
}

void Tolvik_Repair_MOVAppDelegate::releaseMovie() {
    if (!video) return;
    QMediaPlayer* movie = video;
    video = nullptr;
    movie->disconnect(this);
    movie->stop();
    // Closes the file now; the object goes once its signals are delivered.
    movie->setSource(QUrl());
    movie->setVideoOutput(nullptr);
    movie->deleteLater();
    movieview->videoSink()->setVideoFrame(QVideoFrame());
    setButtonTitle(moviePlayButton, QStringLiteral("Play"));
}

void Tolvik_Repair_MOVAppDelegate::toggleMoviePlayback() {
    if (!video) return;
    if (video->playbackState() == QMediaPlayer::PlayingState) video->pause();
    else video->play();
}

void Tolvik_Repair_MOVAppDelegate::preview() {
    // Asking twice still means one call at the end.
    observingMovieEnd_ = true;
    playWithVLC();
}

void Tolvik_Repair_MOVAppDelegate::movieDidEnd(QMediaPlayer* movie) {
    video = movie;
    for (QPushButton* button : {main3_, help3_, savebutton, previewbutton}) button->setEnabled(true);
    setButtonState(previewbutton, 0);
}

void Tolvik_Repair_MOVAppDelegate::playWithVLC() {
    const QString vlc = QStandardPaths::findExecutable(QStringLiteral("vlc"));
    if (!vlc.isEmpty()) {
        startPlayer(vlc);
        return;
    }
    const bool otherPlayer = prompts_->alternatePanel(
        window_.get(), QStringLiteral("You don't have \"VLC Player\" Installed"),
        QStringLiteral("Please install VLC player and try again\n(if it donesn't play with any players please consult "
                       "our friendly customer supports)"),
        QStringLiteral("Download VLC"), QStringLiteral("Open With Other Players.."));
    if (!otherPlayer) {
        prompts_->openUrl(QUrl(QString::fromLatin1(kVlcDownloadPage)));
        return;
    }
    panel = prompts_->chooseProgram(window_.get(),
                                    [this](const QString& program) { openPanelForOpenWithFileDidEnd(program); });
}

void Tolvik_Repair_MOVAppDelegate::openPanelForOpenWithFileDidEnd(const QString& program) {
    SystemLog::write("Open with " + enginePath(program));
    if (!movFile && !aviFile) return;
    startPlayer(program);
}

void Tolvik_Repair_MOVAppDelegate::startPlayer(const QString& program) {
    // The path is one argument as it stands: no shell ever reads it.
    if (!QProcess::startDetached(program, {unipath}))
        SystemLog::write("Could not start " + enginePath(program) + " on " + enginePath(unipath));
}

// --- saving ---------------------------------------------------------------------------------

QString Tolvik_Repair_MOVAppDelegate::savedFileName() const {
    return movFile || !aviFile ? QStringLiteral("repaired.mov") : QStringLiteral("repaired.avi");
}

void Tolvik_Repair_MOVAppDelegate::save() {
    savepanel = prompts_->savePanel(window_.get(), QStringLiteral("Repaired"),
                                    [this](const QString& path) { savePanelDidEnd(path); });
}

void Tolvik_Repair_MOVAppDelegate::savePanelDidEnd(const QString& chosenPath) {
    if (savingProgress) return;
    if (savepanel) savepanel->hide();
    values.saveDestinationFolder = enginePath(chosenPath);
    savingNameFromUser = chosenPath + QLatin1Char('/') + savedFileName();

    // What stands under the name is replaced only when the user says so.
    const bool replaceExisting = pathTaken(enginePath(savingNameFromUser));
    if (replaceExisting &&
        !prompts_->alternatePanel(window_.get(), QStringLiteral("Replace \"%1\"?").arg(savedFileName()),
                                  QStringLiteral("%1 already holds a file named \"%2\". Replacing it overwrites it.")
                                      .arg(chosenPath, savedFileName()),
                                  QStringLiteral("Cancel"), QStringLiteral("Replace")))
        return;

    destinationPath->setText(QStringLiteral("Destination Path:%1/%2").arg(chosenPath, savedFileName()));
    savingNotification->setText(QStringLiteral("Saving File..."));
    scanStartDate = QDateTime::currentDateTime();
    savingStartTime->setText(QString::fromStdString(formatClockTime(scanStartDate.toSecsSinceEpoch())));
    stopElapsedTimeThread = false;
    QTimer::singleShot(designedMilliseconds(0.2), this, [this] {
        if (savingProgress && !pauseSaving) savingAnimation->startAnimation();
    });
    upperBoxField->setText(QStringLiteral("Saving Repaired Video File"));
    setSavingProgress(true);
    // The screen starts from nothing, not from the last save's end.
    progressbarValue = 0;
    percentValue = 0;
    elapsedSavingTimee = QStringLiteral("00:00:00");
    updateSaveProgressBar2();
    selectNextTab();

    const std::string folder = values.saveDestinationFolder;
    if (!fs::makeFolders(folder)) {
        saveFailed(pathTaken(folder) ? QStringLiteral("%1 is a file, not a folder.").arg(chosenPath)
                                     : QStringLiteral("The folder %1 could not be created.").arg(chosenPath));
        return;
    }
    const std::string source = enginePath(unipath);
    if (unipath.isEmpty() || !fs::isRegularFile(source)) {
        saveFailed(QStringLiteral("The repaired file %1 is no longer there. Repair the video again.").arg(unipath));
        return;
    }
    const uint64_t need = fs::fileSize(source).value_or(0);
    const std::optional<uint64_t> free = freeSpaceOf(folder);
    if (!free) {
        saveFailed(QStringLiteral("The free space of %1 could not be read.").arg(chosenPath));
        return;
    }
    if (*free >= need) {
        startSaveWorkers(need, replaceExisting);
        for (QPushButton* button : {main3_, help3_, previewbutton}) button->setEnabled(true);
        return;
    }
    prompts_->messagePanel(window_.get(), QStringLiteral("! Not enough free disk space"),
                           QStringLiteral("The volume you have chosen to save data does not have enough free space to "
                                          "save the repaired file."),
                           QStringLiteral("Ok"));
    stopElapsedTimeThread = true;
    savingAnimation->stopAnimation();
    setSavingProgress(false);
    main3();
}

void Tolvik_Repair_MOVAppDelegate::startSaveWorkers(uint64_t need, bool replaceExisting) {
    CopyRequest request;
    request.source = enginePath(unipath);
    request.destination = enginePath(savingNameFromUser);
    request.need = need;
    request.replaceExisting = replaceExisting;
    for (const auto& input : {values.corruptFilePath, values.referenceFilePath})
        if (input) request.protectedPaths.push_back(*input);

    pauseSaving = false;
    stopvalue = false;
    // The display must not start from the last save's end.
    saveProgress_.copied = 0;
    saveProgress_.durable = false;
    saveCopyEnded_ = false;
    saveDisplayEnded_ = false;
    const std::uint64_t generation = ++lastSaveGeneration_;
    currentSaveGeneration_ = generation;
    const auto start = std::chrono::steady_clock::now();
    saveDisplayThread_ = std::thread([this, need, generation, start] { savemethod(need, generation, start); });
    saveCopyThread_ = std::thread([this, request] { saveFile(request); });
}

void Tolvik_Repair_MOVAppDelegate::saveFile(const CopyRequest& request) {
    saveResult_ = runCopy(request, CopyFlags{pauseSaving, stopvalue}, saveProgress_);
    // The result lives on in the saved file; its hidden copy goes.
    if (saveResult_.outcome == CopyOutcome::Copied) fs::removeFile(request.source);
    saveCopyEnded_.store(true, std::memory_order_release);
}

void Tolvik_Repair_MOVAppDelegate::savemethod(uint64_t need, std::uint64_t generation,
                                              std::chrono::steady_clock::time_point start) {
    int shownPercent = -1;
    std::string shownElapsed;
    for (;;) {
        while (pauseSaving && !stopvalue) Pacing::pauseSleep();
        if (stopvalue) break;  // the stop's confirmation takes the user home
        const bool copyEnded = saveCopyEnded_.load(std::memory_order_acquire);
        const int step = copyPercent(saveProgress_.copied.load(std::memory_order_relaxed), need,
                                     saveProgress_.durable.load(std::memory_order_acquire));
        const std::string elapsed =
            getTimeFormStringForInterval(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        if (step != shownPercent || elapsed != shownElapsed) {
            shownPercent = step;
            shownElapsed = elapsed;
            runOnMainThreadLater([this, generation, step, text = QString::fromStdString(elapsed)] {
                if (generation != currentSaveGeneration_) return;
                setProgressBarValue(step, step, text);
                updateSaveProgressBar2();
            });
        }
        if (copyEnded) {
            runOnMainThreadLater([this, generation] { saveEnded(generation); });
            break;
        }
        std::this_thread::sleep_for(kSaveDisplayInterval);
    }
    saveDisplayEnded_.store(true, std::memory_order_release);
}

void Tolvik_Repair_MOVAppDelegate::setProgressBarValue(double value, int step, const QString& elapsed) {
    progressbarValue = value;
    percentValue = step;
    elapsedSavingTimee = elapsed;
}

void Tolvik_Repair_MOVAppDelegate::updateSaveProgressBar2() {
    saveProgressBarr->setValue(static_cast<int>(progressbarValue));
    savingPercentage->setText(QStringLiteral("%1%").arg(percentValue));
    if (!stopElapsedTimeThread) savingElapsedTime->setText(elapsedSavingTimee);
}

void Tolvik_Repair_MOVAppDelegate::saveEnded(std::uint64_t generation) {
    if (generation != currentSaveGeneration_) return;
    currentSaveGeneration_ = 0;
    retireSaveWorkers();  // both are at their end
    stopElapsedTimeThread = true;
    savingAnimation->stopAnimation();
    setSavingProgress(false);
    if (saveResult_.outcome == CopyOutcome::Copied) {
        setTitleTextColor(saveCompletedOkBtn, titleTextColor());
        prompts_->runModal(repaircompletedwindow);
    } else if (saveResult_.outcome == CopyOutcome::Failed) {
        saveFailed(QString::fromStdString(saveResult_.reason));
    }
}

void Tolvik_Repair_MOVAppDelegate::saveFailed(const QString& reason) {
    stopElapsedTimeThread = true;
    savingAnimation->stopAnimation();
    setSavingProgress(false);
    prompts_->messagePanel(window_.get(), QStringLiteral("Could not save the repaired file"),
                           reason + QStringLiteral("\nThe repaired video is kept: choose another place to save it."),
                           QStringLiteral("OK"));
    selectTabWithIdentifier(QStringLiteral("detailsTab"));
    upperBoxField->setText(QStringLiteral("Repaired Video File Details"));
}

void Tolvik_Repair_MOVAppDelegate::stopSaving() {
    pauseSaving = true;
    savingAnimation->stopAnimation();
    setTitleTextColor(stopsavingOKbutton, titleTextColor());
    setTitleTextColor(stopsavingCancelbutton, titleTextColor());
    prompts_->runModal(stopsavingwindow);
}

void Tolvik_Repair_MOVAppDelegate::continueSaving() {
    pauseSaving = false;
    Pacing::wake();
    savingAnimation->startAnimation();
    prompts_->endModal(stopsavingwindow);
}

void Tolvik_Repair_MOVAppDelegate::stopSavingOk() {
    stopvalue = true;
    stopElapsedTimeThread = true;
    currentSaveGeneration_ = 0;
    prompts_->endModal(stopsavingwindow);
    // The copy removes its partial file when it sees the stop; a file that
    // was already complete stays. Home comes only once both workers are done.
    retireSaveWorkers();
    setSavingProgress(false);
    main3();
}

void Tolvik_Repair_MOVAppDelegate::saveCompletedOk() {
    prompts_->endModal(repaircompletedwindow);
    prompts_->revealInFileManager(QFile::decodeName(QByteArray::fromStdString(values.saveDestinationFolder)));
    setSavingProgress(false);
    main3();
}

void Tolvik_Repair_MOVAppDelegate::retireSaveWorkers() {
    if (!saveWorkersRunning()) return;
    currentSaveGeneration_ = 0;
    stopvalue = true;
    pauseSaving = false;
    Pacing::wake();
    // A copy may sit in a slow write; the window goes on meanwhile.
    QTimer nudge;
    nudge.start(10);
    while (!(saveCopyEnded_.load(std::memory_order_acquire) && saveDisplayEnded_.load(std::memory_order_acquire)))
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    saveCopyThread_.join();
    saveDisplayThread_.join();
}

void Tolvik_Repair_MOVAppDelegate::help3() { prompts_->openUrl(helpPage()); }

// --- window delegate ----------------------------------------------------------------------

bool Tolvik_Repair_MOVAppDelegate::windowShouldClose() {
    if (repairing) {
        prompts_->messagePanel(window_.get(), QStringLiteral("Information"),
                               QStringLiteral("Repairinig is in progress.."), QStringLiteral("Ok"));
        return false;
    }
    if (savingProgress) {
        prompts_->messagePanel(window_.get(), QStringLiteral("Information"), QStringLiteral("Saving is in progress.."),
                               QStringLiteral("Ok"));
        return false;
    }
    return true;
}

void Tolvik_Repair_MOVAppDelegate::windowWillClose() { QCoreApplication::quit(); }

// --- buttons ----------------------------------------------------------------------------------

void Tolvik_Repair_MOVAppDelegate::setButtonTitle(QAbstractButton* button, const QString& title) {
    button->setText(title);
    setTitleTextColor(button, titleTextColor());
}

void Tolvik_Repair_MOVAppDelegate::setButtonState(QAbstractButton* button, int state) {
    // Push buttons show no on/off state; the value is kept for whoever asks.
    button->setProperty("state", state);
}

}  // namespace arbel

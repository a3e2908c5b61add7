#include "gui_support.h"

#include "app/main_window.h"
#include "app/repair_values.h"
#include "engine/avi/repair_file_avi.h"
#include "engine/engine_reporter.h"
#include "engine/mov/repair_file.h"
#include "engine/result_location.h"
#include "platform/file_system.h"
#include "platform/pacing.h"
#include "support/bytes.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCoreApplication>
#include <QDialog>
#include <QDir>
#include <QMediaPlayer>
#include <QVideoFrame>
#include <QVideoSink>
#include <QPixmap>
#include <QProcess>
#include <QThread>

#include <cstdlib>

namespace arbel::test {

namespace {

// The widgets need one application object for the whole run.
class QtEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
        // The offscreen platform says so each time a dialog is shown; it
        // only buries the test output.
        previousHandler_ = qInstallMessageHandler(
            [](QtMsgType type, const QMessageLogContext& context, const QString& message) {
                if (message.contains(QLatin1String("does not support propagateSizeHints"))) return;
                if (message.contains(QLatin1String("does not support raise()"))) return;
                if (previousHandler_) previousHandler_(type, context, message);
            });
        app_ = std::make_unique<QApplication>(argc_, argv_);
    }
    void TearDown() override { app_.reset(); }

private:
    static inline QtMessageHandler previousHandler_ = nullptr;
    int argc_ = 1;
    char name_[16] = "arbel_gui_tests";
    char* argv_[2] = {name_, nullptr};
    std::unique_ptr<QApplication> app_;
};

[[maybe_unused]] ::testing::Environment* const kQtEnvironment =
    ::testing::AddGlobalTestEnvironment(new QtEnvironment);

}  // namespace

void ScriptedPrompts::messagePanel(QWidget*, const QString& title, const QString& text, const QString& button) {
    panels.push_back({title, text, button, {}});
}

namespace {

// Answers a panel with the next scripted path; "" is Cancel.
void answerPath(std::deque<QString>& answers, const char* panel, const std::function<void(const QString&)>& chosen) {
    if (answers.empty()) {
        ADD_FAILURE() << "a " << panel << " appeared that the test did not expect";
        return;
    }
    const QString answer = answers.front();
    answers.pop_front();
    if (!answer.isEmpty()) chosen(answer);
}

}  // namespace

bool ScriptedPrompts::alternatePanel(QWidget*, const QString& title, const QString& text,
                                     const QString& defaultButton, const QString& alternateButton) {
    panels.push_back({title, text, defaultButton, alternateButton});
    if (alternateAnswers.empty()) {
        ADD_FAILURE() << "a two-button panel appeared that the test did not expect: " << title.toStdString();
        return false;
    }
    const bool alternate = alternateAnswers.front();
    alternateAnswers.pop_front();
    return alternate;
}

void ScriptedPrompts::openMoviePanel(QWidget*, std::function<void(const QString&)> chosen) {
    answerPath(openAnswers, "open panel", chosen);
}

QWidget* ScriptedPrompts::savePanel(QWidget*, const QString& proposedName, std::function<void(const QString&)> chosen) {
    EXPECT_EQ(proposedName, "Repaired");
    answerPath(saveAnswers, "save panel", chosen);
    return nullptr;
}

QWidget* ScriptedPrompts::chooseProgram(QWidget*, std::function<void(const QString&)> chosen) {
    answerPath(programAnswers, "program chooser", chosen);
    return nullptr;
}

void ScriptedPrompts::revealInFileManager(const QString& path) { revealed.push_back(path); }

void ScriptedPrompts::openUrl(const QUrl& url) { urlsOpened.push_back(url); }

void ScriptedPrompts::runModal(QDialog* window) {
    const QString name = window->objectName();
    modalsShown.push_back(name);
    window->show();
    if (onModalShown) onModalShown(name);
    const auto answer = modalAnswers.find(name);
    if (answer == modalAnswers.end()) {
        ADD_FAILURE() << "no answer scripted for the window " << name.toStdString();
        window->hide();
        return;
    }
    auto* button = window->findChild<QAbstractButton*>(answer->second);
    if (!button) {
        ADD_FAILURE() << "the window " << name.toStdString() << " has no button " << answer->second.toStdString();
        return;
    }
    button->click();
    // A modal window stays up until its own action ends it.
    if (window->isVisible())
        ADD_FAILURE() << "the window " << name.toStdString() << " was still open after its answer";
}

void ScriptedPrompts::beginSheet(QDialog* window) {
    sheetsShown.push_back(window->objectName());
    window->show();
}

void ScriptedPrompts::endModal(QDialog* window) {
    windowsEnded.push_back(window->objectName());
    window->hide();
}

bool processEventsUntil(const std::function<bool()>& pred, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!pred()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(1);
    }
    return true;
}

void processPendingEvents() {
    for (int i = 0; i < 5; ++i) QCoreApplication::processEvents(QEventLoop::AllEvents);
}

int runTool(const QString& program, const QStringList& arguments, QByteArray* out,
            std::chrono::milliseconds timeout) {
    QProcess process;
    process.setStandardInputFile(QProcess::nullDevice());
    if (!out) process.setStandardOutputFile(QProcess::nullDevice());
    process.start(program, arguments);
    if (!process.waitForStarted()) return -1;
    if (!process.waitForFinished(static_cast<int>(timeout.count()))) {
        process.kill();
        process.waitForFinished();
        return -1;
    }
    if (out) *out = process.readAllStandardOutput();
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

bool haveTool(const QString& program) { return runTool(program, {QStringLiteral("-version")}) == 0; }

bool makePlayableClip(const std::string& path) {
    return runTool(QStringLiteral("ffmpeg"),
                   {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-y"), QStringLiteral("-f"),
                    QStringLiteral("lavfi"), QStringLiteral("-i"), QStringLiteral("testsrc=size=320x240:rate=25"),
                    QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"),
                    QStringLiteral("sine=frequency=440:sample_rate=44100"), QStringLiteral("-t"), QStringLiteral("2"),
                    QStringLiteral("-c:v"), QStringLiteral("libx264"), QStringLiteral("-pix_fmt"),
                    QStringLiteral("yuv420p"), QStringLiteral("-c:a"), QStringLiteral("aac"),
                    QStringLiteral("-f"), QStringLiteral("mov"), QString::fromStdString(path)}) == 0;
}

bool waitUntilPlayable(QMediaPlayer& player, QVideoSink& sink, QString& missing, std::chrono::milliseconds timeout) {
    bool frame = sink.videoFrame().isValid();
    QObject::connect(&sink, &QVideoSink::videoFrameChanged, &sink, [&frame](const QVideoFrame& f) {
        if (f.isValid()) frame = true;
    });
    const bool ok = processEventsUntil([&] { return frame && player.duration() > 0; }, timeout);
    if (!ok) {
        missing = QStringLiteral("duration %1 ms, %2; status %3, error \"%4\"")
                      .arg(player.duration())
                      .arg(frame ? QStringLiteral("a frame") : QStringLiteral("no frame"))
                      .arg(static_cast<int>(player.mediaStatus()))
                      .arg(player.errorString());
    }
    return ok;
}

bool mediaBackendShows(const std::string& clip, QString& missing) {
    QMediaPlayer player;
    QVideoSink sink;
    player.setVideoSink(&sink);
    player.setSource(QUrl::fromLocalFile(QString::fromStdString(clip)));
    player.play();
    return waitUntilPlayable(player, sink, missing);
}

bool saveScreenshot(QWidget* widget, const QString& name) {
    const QPixmap picture = widget->grab();
    if (picture.isNull()) return false;
    const QString folder = qEnvironmentVariable("ARBEL_GUI_SCREENSHOTS");
    if (folder.isEmpty()) return true;
    QDir().mkpath(folder);
    const QString path = QDir(folder).filePath(name + QStringLiteral(".png"));
    if (!picture.save(path, "PNG")) {
        ADD_FAILURE() << "could not save " << path.toStdString();
        return false;
    }
    return true;
}

void ControllerTest::SetUp() {
    Pacing::setMode(Pacing::Mode::Zero);
    prompts = std::make_shared<ScriptedPrompts>();
    app = std::make_unique<Tolvik_Repair_MOVAppDelegate>(prompts);
    app->applicationDidFinishLaunching();
    app->window()->show();
}

void ControllerTest::TearDown() { app.reset(); }

std::string ControllerTest::writeInput(const std::string& name, const std::vector<uint8_t>& bytes) {
    const std::string path = dir.write(name, bytes);
    // A short file would fail the engines' checks for a reason that is not
    // the controller's.
    if (fs::fileSize(path).value_or(0) != bytes.size())
        ADD_FAILURE() << "could not write the test file " << path << " in full (is the disk full?)";
    return path;
}

void ControllerTest::chooseDamaged(const std::string& name, const std::vector<uint8_t>& bytes) {
    prompts->openAnswers.push_back(QString::fromStdString(writeInput(name, bytes)));
    app->openFinderWindow();
}

void ControllerTest::chooseReference(const std::string& name, const std::vector<uint8_t>& bytes) {
    prompts->openAnswers.push_back(QString::fromStdString(writeInput(name, bytes)));
    app->openReferenceFile();
}

void ControllerTest::readyQuickTimeRepair() {
    chooseDamaged("damaged.mov", damagedMovBytes());
    chooseReference("healthy.mov", healthyReferenceBytes());
}

void ControllerTest::readyAviRepair() { chooseDamaged("damaged.avi", damagedAviBytes()); }

std::string ControllerTest::completeRepairWith(const std::vector<uint8_t>& result, bool avi) {
    auto finish = [result](const auto& engine, const char* container) {
        // Where this program's engine writes: the result it claimed.
        const std::string path = engine.request().resultPath;
        writeWholeFile(path, result);
        engine.reporter().status(kCompletedText, 100);
        RepairReport report;
        report.outcome = RepairOutcome::Completed;
        report.container = container;
        report.resultPath = path;
        report.resultSize = result.size();
        return report;
    };
    if (avi) {
        app->runAviRepair = [finish](RepairFileAvi& engine) { return finish(engine, "avi"); };
        readyAviRepair();
    } else {
        app->runMovRepair = [finish](RepairFile& engine) { return finish(engine, "quicktime"); };
        readyQuickTimeRepair();
    }
    app->repair();
    EXPECT_TRUE(processEventsUntil([&] { return app->selectedTabIdentifier() == "detailsTab"; }));
    return app->lastReport().resultPath;
}

bool ControllerTest::workerFinished() const {
    auto finished = app->latestWorkerFinished();
    return finished && finished->load();
}

std::vector<uint8_t> healthyReferenceBytes() {
    return Bytes()
        .append(atom("ftyp", Bytes().text("qt  ").u32be(0).text("qt  ")))
        .append(atom("mdat", Bytes().fill(4000, 0x11)))
        .append(atom("moov", atom("mvhd", Bytes().zeros(100))))
        .vec();
}

std::vector<uint8_t> damagedMovBytes() {
    // Header lost; media data still marked.
    return Bytes().fill(3000, 0x00).append(atom("mdat", Bytes().fill(6000, 0x42))).vec();
}

std::vector<uint8_t> damagedAviBytes() {
    return Bytes().text("RIFF").u32le(8000).text("AVI ").text("LIST").u32le(4).text("hdrl").fill(8000, 0x07).vec();
}

std::vector<uint8_t> noStructureBytes() { return Bytes().fill(5000, 0x55).vec(); }

}  // namespace arbel::test

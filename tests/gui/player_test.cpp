// The repaired file in the preview and in external players: which file, how a
// player is started (one argument, never a shell), what is offered without
// VLC, and that the preview lets go of the result before it is rewritten.
#include "gui_support.h"

#include "engine/engine_reporter.h"
#include "engine/mov/repair_file.h"
#include "platform/system_log.h"

#include <QMediaPlayer>
#include <QPushButton>
#include <QVideoWidget>

#include <dirent.h>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

namespace arbel {
namespace {

using test::ControllerTest;

// Names that a shell would split, quote, substitute or end a command at.
const std::string kHostileFolder = "result folder 'single' \"double\" ; $(touch pwned) `touch pwned2`\nsecond line";

// PATH for the life of one test.
class ScopedPath {
public:
    explicit ScopedPath(const std::string& path) : previous_(qgetenv("PATH")) { qputenv("PATH", path.c_str()); }
    ~ScopedPath() { qputenv("PATH", previous_); }

private:
    QByteArray previous_;
};

// Whether this process holds a descriptor on the file at path.
bool openInThisProcess(const std::string& path) {
    struct stat wanted {};
    if (::stat(path.c_str(), &wanted) != 0) return false;
    DIR* fds = ::opendir("/proc/self/fd");
    if (!fds) return false;
    bool open = false;
    while (dirent* entry = ::readdir(fds)) {
        struct stat st {};
        const std::string link = std::string("/proc/self/fd/") + entry->d_name;
        if (::stat(link.c_str(), &st) == 0 && st.st_dev == wanted.st_dev && st.st_ino == wanted.st_ino) open = true;
    }
    ::closedir(fds);
    return open;
}

class Player : public ControllerTest {
protected:
    void SetUp() override {
        ControllerTest::SetUp();
        SystemLog::setSink([this](std::string_view line) { logged.emplace_back(line); });
        std::filesystem::create_directories(bin());
    }
    void TearDown() override {
        ControllerTest::TearDown();
        SystemLog::silence();
    }

    std::string bin() const { return dir.file("bin"); }

    // A program that writes its arguments, each ended by a NUL byte, to
    // NAME.args, and then NAME.done. It uses only the shell's built-ins, so
    // it runs with any PATH.
    std::string fakeProgram(const std::string& name) {
        const std::string path = bin() + "/" + name;
        std::ofstream(path) << "#!/bin/sh\nprintf '%s\\000' \"$@\" > '" << dir.file(name + ".args") << "'\n: > '"
                            << dir.file(name + ".done") << "'\n";
        std::filesystem::permissions(path, std::filesystem::perms::owner_all);
        return path;
    }

    // The arguments the fake program was started with, once it has run.
    std::optional<std::vector<std::string>> argumentsOf(const std::string& name) {
        if (!test::processEventsUntil([&] { return std::filesystem::exists(dir.file(name + ".done")); },
                                      std::chrono::seconds(10)))
            return std::nullopt;
        std::vector<std::string> arguments;
        const std::vector<uint8_t> bytes = test::readWholeFile(dir.file(name + ".args"));
        std::string current;
        for (uint8_t byte : bytes) {
            if (byte == 0) {
                arguments.push_back(current);
                current.clear();
            } else {
                current.push_back(static_cast<char>(byte));
            }
        }
        return arguments;
    }

    bool nothingWasExecuted() const {
        for (const std::string& folder : {dir.path(), std::filesystem::current_path().string()})
            for (const char* name : {"pwned", "pwned2"})
                if (std::filesystem::exists(folder + "/" + name)) return false;
        return true;
    }

    std::vector<std::string> logged;
};

TEST_F(Player, ExternalPlayerGetsTheResultAsOneArgumentWhateverItsPath) {
    struct Case {
        const char* name;
        bool avi;
        QPushButton* Tolvik_Repair_MOVAppDelegate::*button;
    };
    for (const Case& c : {Case{"VLC button, QuickTime", false, &Tolvik_Repair_MOVAppDelegate::vlcButton},
                          Case{"Preview button, QuickTime", false, &Tolvik_Repair_MOVAppDelegate::prewBtn},
                          Case{"VLC button, AVI", true, &Tolvik_Repair_MOVAppDelegate::vlcButton}}) {
        SCOPED_TRACE(c.name);
        test::ScopedResultBase hostile(dir.file(kHostileFolder));
        std::filesystem::remove(dir.file("vlc.done"));
        fakeProgram("vlc");
        ScopedPath path(bin());
        const std::string result = completeRepairWith({1, 2, 3}, c.avi);
        ASSERT_EQ(app->unipath.toStdString(), result);

        (app.get()->*c.button)->click();
        const auto arguments = argumentsOf("vlc");
        ASSERT_TRUE(arguments) << "the player was not started";
        EXPECT_EQ(*arguments, std::vector<std::string>{result});
        EXPECT_TRUE(nothingWasExecuted());
        EXPECT_TRUE(prompts->panels.empty());
        app->prewTabHomeBtn->click();
    }
}

TEST_F(Player, PreviewShowsTheResultTheEngineReported) {
    // The engine may write anywhere; the details follow its report.
    const std::string elsewhere = dir.file("elsewhere/result.mov");
    std::filesystem::create_directories(dir.file("elsewhere"));
    test::writeWholeFile(elsewhere, {9, 9, 9});
    app->runMovRepair = [&](RepairFile& engine) {
        engine.reporter().status(kCompletedText, 100);
        RepairReport report;
        report.outcome = RepairOutcome::Completed;
        report.resultPath = elsewhere;
        return report;
    };
    readyQuickTimeRepair();
    app->repair();
    ASSERT_TRUE(test::processEventsUntil([&] { return app->selectedTabIdentifier() == "detailsTab"; }));
    EXPECT_EQ(app->unipath.toStdString(), elsewhere);
}

TEST_F(Player, WithoutVlcThePanelOffersTheDownloadOrAnotherPlayer) {
    ScopedPath path(dir.file("no-programs-here"));
    const std::string player = fakeProgram("my player");
    struct Case {
        const char* name;
        bool otherPlayer;
        QString chosen;  // "" cancels the chooser
        bool downloads, starts;
    };
    for (const Case& c : {Case{"Download VLC", false, {}, true, false},
                          Case{"another player", true, QString::fromStdString(player), false, true},
                          Case{"chooser cancelled", true, QString(), false, false}}) {
        SCOPED_TRACE(c.name);
        test::ScopedResultBase hostile(dir.file(kHostileFolder));
        prompts->panels.clear();
        prompts->urlsOpened.clear();
        logged.clear();
        std::filesystem::remove(dir.file("my player.done"));
        const std::string result = completeRepairWith({4, 5, 6});
        prompts->alternateAnswers = {c.otherPlayer};
        if (c.otherPlayer) prompts->programAnswers = {c.chosen};

        app->vlcButton->click();
        ASSERT_EQ(prompts->panels.size(), 1u);
        const auto& panel = prompts->panels[0];
        EXPECT_EQ(panel.title, "You don't have \"VLC Player\" Installed");
        EXPECT_EQ(panel.text, "Please install VLC player and try again\n(if it donesn't play with any players please "
                              "consult our friendly customer supports)");
        EXPECT_EQ(panel.button, "Download VLC");
        EXPECT_EQ(panel.alternate, "Open With Other Players..");
        EXPECT_EQ(prompts->urlsOpened.size(), c.downloads ? 1u : 0u);
        if (c.downloads) {
            EXPECT_EQ(prompts->urlsOpened[0].host(), "www.videolan.org");
        }
        if (c.starts) {
            const auto arguments = argumentsOf("my player");
            ASSERT_TRUE(arguments) << "the chosen player was not started";
            EXPECT_EQ(*arguments, std::vector<std::string>{result});
            EXPECT_NE(std::find(logged.begin(), logged.end(), "Open with " + player), logged.end());
        } else {
            test::processEventsUntil([] { return false; }, std::chrono::milliseconds(200));
            EXPECT_FALSE(std::filesystem::exists(dir.file("my player.done")));
        }
        EXPECT_TRUE(nothingWasExecuted());
        app->prewTabHomeBtn->click();
    }
}

TEST_F(Player, UnplayableResultIsLoggedAndLeavesThePreviewEmpty) {
    const std::string result = completeRepairWith(std::vector<uint8_t>(4096, 0x5A));
    ASSERT_TRUE(test::processEventsUntil([&] { return app->video.isNull(); }))
        << "the player accepted a file of nothing but 0x5A";
    const auto failure = std::find_if(logged.begin(), logged.end(), [&](const std::string& line) {
        return line.rfind("Preview of " + result + " failed: ", 0) == 0;
    });
    EXPECT_NE(failure, logged.end());
    EXPECT_EQ(app->moviePlayButton->text(), "Play");
}

class PlayerWithAMovie : public Player {
protected:
    void SetUp() override {
        Player::SetUp();
        if (!test::haveTool(QStringLiteral("ffmpeg"))) GTEST_SKIP() << "ffmpeg makes the movie";
        ASSERT_TRUE(test::makePlayableClip(dir.file("clip.mov")));
        QString missing;
        if (!test::mediaBackendShows(dir.file("clip.mov"), missing))
            GTEST_SKIP() << "no media backend shows an H.264 clip on this machine: " << missing.toStdString();
        result = completeRepairWith(test::readWholeFile(dir.file("clip.mov")));
        ASSERT_TRUE(app->video);
        ASSERT_TRUE(test::processEventsUntil([&] { return app->video && app->video->duration() > 0; }));
    }

    std::string result;
};

TEST_F(PlayerWithAMovie, EndOfTheMovieIsWatchedOnlyOncePreviewWasPressed) {
    fakeProgram("vlc");
    ScopedPath path(bin());
    auto endTheMovie = [&] { emit app->video->mediaStatusChanged(QMediaPlayer::EndOfMedia); };
    const std::vector<QPushButton*> buttons = {app->main3_, app->help3_, app->savebutton};
    for (QPushButton* button : buttons) button->setEnabled(false);
    app->previewbutton->setProperty("state", 1);

    endTheMovie();
    for (QPushButton* button : buttons) EXPECT_FALSE(button->isEnabled()) << button->objectName().toStdString();
    EXPECT_EQ(app->previewbutton->property("state").toInt(), 1);

    app->prewBtn->click();
    app->prewBtn->click();
    app->previewbutton->setEnabled(false);
    endTheMovie();
    for (QPushButton* button : buttons) EXPECT_TRUE(button->isEnabled()) << button->objectName().toStdString();
    EXPECT_TRUE(app->previewbutton->isEnabled());
    EXPECT_EQ(app->previewbutton->property("state").toInt(), 0);
}

TEST_F(PlayerWithAMovie, PlayButtonPlaysAndPausesThePreview) {
    EXPECT_EQ(app->moviePlayButton->text(), "Play");
    app->moviePlayButton->click();
    ASSERT_TRUE(test::processEventsUntil([&] { return app->video->playbackState() == QMediaPlayer::PlayingState; }));
    EXPECT_EQ(app->moviePlayButton->text(), "Pause");
    ASSERT_TRUE(test::processEventsUntil([&] { return app->video->position() > 0; }));
    app->moviePlayButton->click();
    ASSERT_TRUE(test::processEventsUntil([&] { return app->video->playbackState() == QMediaPlayer::PausedState; }));
    EXPECT_EQ(app->moviePlayButton->text(), "Play");
}

TEST_F(PlayerWithAMovie, PreviewLetsGoOfTheResultOnGoingHomeAndBeforeARepair) {
    ASSERT_TRUE(test::processEventsUntil([&] { return openInThisProcess(result); }))
        << "the player never opened the result";
    app->prewTabHomeBtn->click();
    EXPECT_TRUE(app->video.isNull());
    EXPECT_TRUE(test::processEventsUntil([&] { return !openInThisProcess(result); }));

    // A new repair starts only once the preview has let go.
    completeRepairWith(test::readWholeFile(dir.file("clip.mov")));
    ASSERT_TRUE(test::processEventsUntil([&] { return openInThisProcess(result); }));
    bool heldWhenTheEngineStarted = true;
    app->runMovRepair = test::scripted([&](RepairFile&) { heldWhenTheEngineStarted = openInThisProcess(result); });
    readyQuickTimeRepair();
    app->repair();
    ASSERT_TRUE(test::processEventsUntil([&] { return workerFinished(); }));
    EXPECT_FALSE(heldWhenTheEngineStarted);
}

}  // namespace
}  // namespace arbel

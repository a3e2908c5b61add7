// The splash, the hover pictures, the pictures themselves and the keys of
// every screen.
#include "gui_support.h"

#include "app/pictures.h"
#include "app/splash_screen.h"

#include <QAbstractButton>
#include <QEnterEvent>
#include <QFileInfo>
#include <QImage>
#include <QLabel>
#include <QMovie>
#include <QProgressBar>
#include <QPushButton>
#include <QStackedWidget>

#include <set>

namespace arbel {
namespace {

TEST(Pictures, EveryNameLoadsFromTheProgramAtOneAndTwoTimes) {
    for (const QString& name : pictureNames()) {
        SCOPED_TRACE(name.toStdString());
        const QString path = picturePath(name);
        const QImage picture(path);
        ASSERT_FALSE(picture.isNull()) << path.toStdString();
        if (name == splashAnimationName()) {
            QMovie animation(path);
            EXPECT_TRUE(animation.isValid());
            EXPECT_GT(animation.frameCount(), 1);
            continue;
        }
        // The copy for high-density screens is the same drawing at twice the size.
        const QString doubled = QString(path).replace(QLatin1String(".png"), QLatin1String("@2x.png"));
        const QImage sharp(doubled);
        ASSERT_FALSE(sharp.isNull()) << doubled.toStdString();
        EXPECT_EQ(sharp.size(), picture.size() * 2);
    }
    // Every picture the hover table names is one of them.
    const QStringList names = pictureNames();
    for (const HoverRow& row : hoverTable()) {
        EXPECT_TRUE(names.contains(QLatin1String(row.enterPicture))) << row.enterPicture;
        EXPECT_TRUE(names.contains(QLatin1String(row.leavePicture))) << row.leavePicture;
    }
}

class Splash : public test::ControllerTest {
protected:
    void SetUp() override {
        test::ControllerTest::SetUp();
        // Up to date and offline: only a check with a sender starts the updater.
        app->isOnline = [this] {
            ++checks;
            return false;
        };
        app->launchUpdater = [this](const QString&) {
            ++updaterStarts;
            return true;
        };
    }
    int checks = 0;
    int updaterStarts = 0;
};

TEST_F(Splash, TicksFillTheBarThenTheEleventhShowsTheWindowAndChecksOnce) {
    app->applicationWillFinishLaunching();
    // Started; driven here tick by tick instead.
    EXPECT_TRUE(app->splashTicks().isActive());
    app->splashTicks().stop();
    ASSERT_TRUE(app->splashController);
    SplashWindow* splash = app->splashController->window();
    EXPECT_TRUE(splash->isVisible());
    EXPECT_FALSE(app->window()->isVisible());
    EXPECT_TRUE(splash->windowFlags() & Qt::FramelessWindowHint);
    EXPECT_TRUE(splash->windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_EQ(splash->palette().color(QPalette::Window), QColor(Qt::black));
    EXPECT_EQ(splash->windowOpacity(), 1.0);
    QProgressBar* bar = app->splashController->progressIndicator;
    EXPECT_EQ(bar->minimum(), 0);
    EXPECT_EQ(bar->maximum(), 10);
    EXPECT_EQ(app->splashController->imageView->movie()->state(), QMovie::Running);
    EXPECT_TRUE(test::saveScreenshot(splash, QStringLiteral("splash")));

    for (int tick = 1; tick <= 10; ++tick) {
        app->loadStartUpObjects();
        EXPECT_EQ(app->splashTimer, tick);
        EXPECT_EQ(bar->value(), tick);
        EXPECT_TRUE(splash->isVisible());
        EXPECT_FALSE(app->window()->isVisible());
    }
    EXPECT_EQ(bar->value(), bar->maximum());
    EXPECT_EQ(checks, 0);

    app->loadStartUpObjects();
    EXPECT_FALSE(splash->isVisible());
    EXPECT_TRUE(app->window()->isVisible());
    EXPECT_FALSE(app->splashTicks().isActive());
    EXPECT_EQ(checks, 1);
    // Up to date and no sender: the updater is not started.
    EXPECT_EQ(updaterStarts, 0);
}

TEST_F(Splash, UnderZeroPacingTheTicksTakeNoTime) {
    app->applicationWillFinishLaunching();
    EXPECT_TRUE(app->splashTicks().isActive());
    EXPECT_EQ(app->splashTicks().interval(), 0);
    ASSERT_TRUE(test::processEventsUntil([&] { return app->window()->isVisible(); }, std::chrono::seconds(5)));
    EXPECT_EQ(app->splashTimer, 11);
    EXPECT_FALSE(app->splashTicks().isActive());
    EXPECT_EQ(checks, 1);
}

class Hover : public test::ControllerTest {
protected:
    QWidget* control(const char* name) const {
        return app->window()->findChild<QWidget*>(QString::fromLatin1(name));
    }
    void send(QWidget* target, QEvent::Type type) {
        if (type == QEvent::Enter) {
            QEnterEvent enter(QPointF(2, 2), QPointF(2, 2), QPointF(2, 2));
            QCoreApplication::sendEvent(target, &enter);
        } else {
            QEvent leave(type);
            QCoreApplication::sendEvent(target, &leave);
        }
    }
    // Every control of the table shows its leave picture.
    void expectAllLeavePictures(const HoverRow* except = nullptr) {
        for (const HoverRow& row : hoverTable()) {
            if (&row == except) continue;
            EXPECT_EQ(pictureOf(control(row.control)), row.leavePicture) << row.control;
        }
    }
};

TEST_F(Hover, EnteringShowsTheRowsEnterPictureAndLeavingRestoresEveryLeavePicture) {
    std::set<int> ids;
    for (const HoverRow& row : hoverTable()) {
        SCOPED_TRACE(row.control);
        ids.insert(row.whichTracker);
        QWidget* target = control(row.control);
        ASSERT_NE(target, nullptr);
        EXPECT_EQ(target->property("whichTracker").toInt(), row.whichTracker);
        expectAllLeavePictures();

        send(target, QEvent::Enter);
        EXPECT_EQ(pictureOf(target), row.enterPicture);
        expectAllLeavePictures(&row);

        // A second control entered before the first was left: leaving the
        // second restores both.
        QWidget* other = control(row.whichTracker == 5 ? "help3" : "main3");
        send(other, QEvent::Enter);
        send(other, QEvent::Leave);
        expectAllLeavePictures();
    }
    EXPECT_EQ(ids.size(), hoverTable().size());
    EXPECT_EQ(hoverTable().size(), 22u);
}

TEST_F(Hover, MainActionsKeepTheirHoverPicture) {
    for (const char* name : {"repairbutton", "refTabRepairBtn", "prewSaveBtn", "repPauseBtn"}) {
        send(control(name), QEvent::Enter);
        send(control(name), QEvent::Leave);
        EXPECT_EQ(pictureOf(control(name)), "Button Small Hover") << name;
    }
}

TEST_F(Hover, UnknownTrackersChangeNothing) {
    send(control("help1"), QEvent::Enter);
    ASSERT_EQ(pictureOf(control("help1")), "help-2");

    // main1 is tracked without an id: entering it leaves every picture as it was.
    EXPECT_EQ(app->main1->property("whichTracker"), QVariant());
    send(app->main1, QEvent::Enter);
    EXPECT_EQ(pictureOf(control("help1")), "help-2");
    EXPECT_EQ(pictureOf(app->main1), "home-1");

    for (int id : {-1, 1, 2, 3, 11, 12, 27, 1000}) {
        const QVariantMap dict{{QStringLiteral("whichTracker"), id}};
        app->handleEnteredExited(true, &dict);
    }
    app->handleEnteredExited(true, nullptr);
    const QVariantMap notANumber{{QStringLiteral("whichTracker"), QStringLiteral("four")}};
    EXPECT_EQ(Tolvik_Repair_MOVAppDelegate::getTrackerIDFromDict(notANumber), -1);
    EXPECT_EQ(Tolvik_Repair_MOVAppDelegate::getTrackerIDFromDict(QVariantMap{}), -1);
    app->handleEnteredExited(true, &notANumber);
    EXPECT_EQ(pictureOf(control("help1")), "help-2");
    for (const HoverRow& row : hoverTable()) {
        if (std::string(row.control) == "help1") continue;
        EXPECT_EQ(pictureOf(control(row.control)), row.leavePicture);
    }

    // Leaving main1 restores the pictures like any other.
    send(app->main1, QEvent::Leave);
    EXPECT_EQ(pictureOf(control("help1")), "help-1");
}

class Keys : public test::ControllerTest {};

TEST_F(Keys, EveryKeyDoesWhatItShows) {
    app->isOnline = [] { return false; };
    QStringList updaters;
    app->launchUpdater = [&](const QString& program) {
        updaters << program;
        return true;
    };
    struct Case {
        QAbstractButton* key;
        const char* screen;  // where the key is pressed
        const char* effect;
    };
    const Case cases[] = {
        {app->help1, "mainTab", "help"},         {app->help2, "referenceFileTab", "help"},
        {app->help3_, "savingTab", "help"},      {app->helppBtn, "repairingTab", "help"},
        {app->main2, "referenceFileTab", "home"}, {app->homeBtn, "detailsTab", "home"},
        {app->main3_, "savingTab", "home"},      {app->checkForUpdatesBtn, "mainTab", "updater"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.key->objectName().toStdString());
        app->selectTabWithIdentifier(QString::fromLatin1(c.screen));
        prompts->urlsOpened.clear();
        updaters.clear();
        c.key->click();
        const std::string effect = c.effect;
        if (effect == "help") {
            ASSERT_EQ(prompts->urlsOpened.size(), 1u);
            EXPECT_TRUE(prompts->urlsOpened[0].isLocalFile());
            EXPECT_EQ(prompts->urlsOpened[0].fileName(), "index.html");
            EXPECT_TRUE(QFileInfo::exists(prompts->urlsOpened[0].toLocalFile()));
        } else {
            EXPECT_TRUE(prompts->urlsOpened.empty());
        }
        if (effect == "home") {
            EXPECT_EQ(app->selectedTabIdentifier(), "mainTab");
            EXPECT_EQ(app->upperBoxField->text(), "Select a video file to repair");
        } else {
            EXPECT_EQ(app->selectedTabIdentifier(), c.screen);
        }
        EXPECT_EQ(updaters.size(), effect == "updater" ? 1 : 0);
    }
    // main1 and socialBtn only show a picture: nothing to press.
    EXPECT_EQ(qobject_cast<QAbstractButton*>(app->main1), nullptr);
    EXPECT_EQ(qobject_cast<QAbstractButton*>(app->socialBtn), nullptr);
}

}  // namespace
}  // namespace arbel

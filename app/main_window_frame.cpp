#include "main_window_frame.h"

#include "app/modal_window.h"
#include "app/pictures.h"
#include "app/screens/details_screen.h"
#include "app/screens/reference_screen.h"
#include "app/screens/repair_screen.h"
#include "app/screens/saving_screen.h"
#include "app/screens/start_screen.h"
#include "app/screens/widgets.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QStackedWidget>
#include <QVBoxLayout>

namespace arbel {

namespace {

// A message over a right-aligned row that addAnswer() fills.
ModalWindow* makeModalWindow(QWidget* owner, const QString& objectName, const QString& message) {
    auto* window = new ModalWindow(owner);
    window->setObjectName(objectName);
    window->setWindowTitle(QStringLiteral("Arbel Video Repair"));
    window->setMinimumWidth(380);
    auto* layout = new QVBoxLayout(window);
    layout->setContentsMargins(24, 20, 24, 18);
    layout->setSpacing(18);
    QLabel* text = makeLabel(objectName + QStringLiteral("Message"), message, window);
    text->setWordWrap(true);
    layout->addWidget(text);
    auto* buttons = new QHBoxLayout;
    buttons->setObjectName(QStringLiteral("buttons"));
    buttons->addStretch(1);
    layout->addLayout(buttons);
    return window;
}

QPushButton* addAnswer(ModalWindow* window, const char* objectName, const QString& title, bool quiet = false) {
    QPushButton* button = makeButton(QString::fromLatin1(objectName), title, window, quiet);
    // The faces of the screens' buttons; the answers the hover table tracks
    // get theirs again when tracking starts.
    setPicture(button, quiet ? QStringLiteral("Button Small Normal") : QStringLiteral("Button Small Hover"));
    window->findChild<QHBoxLayout*>(QStringLiteral("buttons"))->addWidget(button);
    return button;
}

// A message that one OK button answers.
ModalWindow* makeNoticeWindow(QWidget* owner, const char* objectName, const QString& message, const char* okName,
                              QPushButton*& ok) {
    ModalWindow* window = makeModalWindow(owner, QString::fromLatin1(objectName), message);
    ok = addAnswer(window, okName, QStringLiteral("OK"));
    window->setAnswerOnClose(ok);
    return window;
}

// A question that Cancel or OK answers; closing it is Cancel.
ModalWindow* makeQuestionWindow(QWidget* owner, const char* objectName, const QString& question,
                                const char* cancelName, QPushButton*& cancel, const char* okName, QPushButton*& ok) {
    ModalWindow* window = makeModalWindow(owner, QString::fromLatin1(objectName), question);
    cancel = addAnswer(window, cancelName, QStringLiteral("Cancel"), true);
    ok = addAnswer(window, okName, QStringLiteral("OK"));
    window->setAnswerOnClose(cancel);
    return window;
}

template <typename Screen>
Screen* addScreen(QStackedWidget* tabview) {
    auto* screen = new Screen(tabview);
    tabview->addWidget(screen);
    return screen;
}

}  // namespace

MainWindowFrame buildMainWindowFrame() {
    MainWindowFrame frame;
    frame.window = std::make_unique<MainWindow>();
    MainWindow* window = frame.window.get();
    window->setObjectName(QStringLiteral("mainWindow"));
    window->setWindowTitle(QStringLiteral("Arbel Video Repair"));
    window->setMinimumSize(760, 580);
    window->setStyleSheet(windowStyleSheet());

    auto* central = new QWidget(window);
    auto* outer = new QVBoxLayout(central);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(0);
    window->setCentralWidget(central);

    auto* band = new QFrame(central);
    band->setObjectName(QStringLiteral("headerBand"));
    band->setFixedHeight(56);
    auto* bandLayout = new QHBoxLayout(band);
    bandLayout->setContentsMargins(28, 0, 28, 0);
    bandLayout->addWidget(makeLabel(QStringLiteral("appName"), QStringLiteral("Arbel Video Repair"), band));
    bandLayout->addStretch(1);
    bandLayout->addWidget(
        makeLabel(QStringLiteral("appTagline"), QStringLiteral("MOV · MP4 · M4V · AVI"), band));
    bandLayout->addSpacing(18);
    frame.checkForUpdatesBtn = new QPushButton(QStringLiteral("Check for Updates"), band);
    frame.checkForUpdatesBtn->setObjectName(QStringLiteral("checkForUpdatesBtn"));
    frame.checkForUpdatesBtn->setCursor(Qt::PointingHandCursor);
    bandLayout->addWidget(frame.checkForUpdatesBtn);
    bandLayout->addSpacing(6);
    frame.homeBtn = makeKey(QStringLiteral("homeBtn"), QStringLiteral("Home_key"), QStringLiteral("Home"), band);
    frame.helppBtn = makeKey(QStringLiteral("helppBtn"), QStringLiteral("help"), QStringLiteral("Help"), band);
    frame.socialBtn = makePicture(QStringLiteral("socialBtn"), QStringLiteral("Social Share"),
                                  QString(), band);
    for (QWidget* key : {static_cast<QWidget*>(frame.homeBtn), static_cast<QWidget*>(frame.helppBtn),
                         static_cast<QWidget*>(frame.socialBtn)})
        bandLayout->addWidget(key);
    outer->addWidget(band);

    auto* content = new QVBoxLayout;
    content->setContentsMargins(32, 22, 32, 26);
    content->setSpacing(14);
    outer->addLayout(content, 1);

    frame.upperBoxField =
        makeLabel(QStringLiteral("upperBoxField"), QStringLiteral("Select a video file to repair"), central);
    content->addWidget(frame.upperBoxField);

    auto* card = new QFrame(central);
    card->setObjectName(QStringLiteral("card"));
    auto* cardLayout = new QVBoxLayout(card);
    cardLayout->setContentsMargins(26, 22, 26, 22);
    content->addWidget(card, 1);

    frame.tabview = new QStackedWidget(card);
    frame.tabview->setObjectName(QStringLiteral("tabview"));
    cardLayout->addWidget(frame.tabview);

    // The controller moves on to "the next screen" in this order.
    frame.startScreen = addScreen<StartScreen>(frame.tabview);
    frame.referenceScreen = addScreen<ReferenceScreen>(frame.tabview);
    frame.repairScreen = addScreen<RepairScreen>(frame.tabview);
    frame.detailsScreen = addScreen<DetailsScreen>(frame.tabview);
    frame.savingScreen = addScreen<SavingScreen>(frame.tabview);
    frame.tabview->setCurrentIndex(0);

    // Escape and the close box answer as the button that says "no".
    frame.filenotselectedwindow =
        makeNoticeWindow(window, "filenotselectedwindow", QStringLiteral("Select the damaged video file first (Browse)."),
                         "filenotselectedokbutton", frame.filenotselectedokbutton);
    frame.stoprepairwindow =
        makeQuestionWindow(window, "stoprepairwindow", QStringLiteral("Do you want to stop repairing this file?"),
                           "stoprepaircancelbutton", frame.stoprepaircancelbutton, "stoprepairokbutton",
                           frame.stoprepairokbutton);
    frame.repairAbortedWindow = makeNoticeWindow(window, "repairAbortedWindow",
                                                 QStringLiteral("The repair has been stopped."), "repairAbortedOK",
                                                 frame.repairAbortedOK);
    frame.couldntRepair = makeNoticeWindow(window, "couldntRepair",
                                           QStringLiteral("This file can not be repaired. No repaired file was made."),
                                           "couldNotRepairOk", frame.couldNotRepairOk);
    frame.stopsavingwindow =
        makeQuestionWindow(window, "stopsavingwindow", QStringLiteral("Do you want to stop saving the repaired file?"),
                           "stopsavingCancelbutton", frame.stopsavingCancelbutton, "stopsavingOKbutton",
                           frame.stopsavingOKbutton);
    frame.repaircompletedwindow =
        makeNoticeWindow(window, "repaircompletedwindow", QStringLiteral("The repaired file has been saved."),
                         "saveCompletedOkBtn", frame.saveCompletedOkBtn);

    window->resize(820, 620);
    return frame;
}

}  // namespace arbel

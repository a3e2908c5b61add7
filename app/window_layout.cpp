// The main window, its screens and the modal windows of the repair path.
#include "Tolvik_Repair_MOVAppDelegate.h"

#include "app/busy_indicator.h"
#include "app/button_title_color.h"
#include "app/main_window.h"
#include "app/modal_window.h"

#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStackedWidget>
#include <QVBoxLayout>

#include <utility>

namespace arbel {

namespace {

const char* const kStyleSheet = R"(
QMainWindow, QDialog { background: #f3f5f9; }
QFrame#headerBand { background: #1b2a44; }
QLabel#appName { color: white; font-size: 17px; font-weight: 600; }
QLabel#appTagline { color: #aab6cc; font-size: 13px; }
QLabel#upperBoxField { color: #1b2a44; font-size: 22px; font-weight: 600; }
QFrame#card { background: white; border: 1px solid #dbe1ea; border-radius: 10px; }
QFrame#howItWorks { background: #f3f6fb; border: 1px solid #e1e7f0; border-radius: 8px; }
QLabel { color: #2b3547; font-size: 14px; }
QLabel[role="status"] { color: #1e7b34; font-weight: 600; }
QLabel[role="path"], QLabel[role="hint"] { color: #55607a; }
QLabel[role="caption"] { color: #7a849a; font-size: 12px; }
QLabel[role="value"] { font-weight: 600; }
QLabel[role="next"] { color: #1b2a44; font-weight: 600; }
QFrame#repairedFacts { background: #f3f6fb; border: 1px solid #e1e7f0; border-radius: 8px; }
QLabel[role="fact"] { color: #1b2a44; font-size: 18px; font-weight: 600; }
QLineEdit { border: 1px solid #c9d1de; border-radius: 6px; padding: 6px 8px; background: #fafbfd;
            color: #2b3547; font-size: 14px; }
QPushButton[imageButton="true"] { background: #2f6fd0; border: none; border-radius: 6px;
                                  padding: 8px 22px; min-width: 84px; font-size: 14px; font-weight: 600; }
QPushButton[imageButton="true"]:hover { background: #3d7fe0; }
QPushButton[imageButton="true"]:pressed { background: #2559a8; }
QPushButton[imageButton="true"]:disabled { background: #a9bcd8; }
QPushButton[quiet="true"] { background: #7a849a; }
QPushButton[quiet="true"]:hover { background: #8a94aa; }
QProgressBar { border: none; background: #e4e9f1; border-radius: 5px; max-height: 10px; }
QProgressBar::chunk { background: #2f6fd0; border-radius: 5px; }
)";

QPushButton* makeButton(const QString& objectName, const QString& title, QWidget* parent, bool quiet = false) {
    auto* button = new QPushButton(title, parent);
    button->setObjectName(objectName);
    button->setProperty("imageButton", true);
    if (quiet) button->setProperty("quiet", true);
    button->setCursor(Qt::PointingHandCursor);
    setTitleTextColor(button, titleTextColor());
    return button;
}

QLabel* makeLabel(const QString& objectName, const QString& text, QWidget* parent, const char* role = nullptr) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(objectName);
    label->setTextFormat(Qt::PlainText);
    if (role) label->setProperty("role", role);
    return label;
}

// Paths can be long and have no spaces to wrap at; they must not widen the
// window.
QLabel* makePathLabel(const QString& objectName, QWidget* parent) {
    QLabel* label = makeLabel(objectName, QString(), parent, "path");
    label->setWordWrap(true);
    label->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return label;
}

QWidget* makePage(const QString& identifier, QStackedWidget* tabs, QVBoxLayout*& layout) {
    auto* page = new QWidget(tabs);
    page->setObjectName(identifier);
    layout = new QVBoxLayout(page);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(12);
    tabs->addWidget(page);
    return page;
}

QHBoxLayout* buttonRow(QPushButton* left, QPushButton* right) {
    auto* row = new QHBoxLayout;
    if (left) row->addWidget(left);
    row->addStretch(1);
    if (right) row->addWidget(right);
    return row;
}

}  // namespace

ModalWindow* Tolvik_Repair_MOVAppDelegate::makeModalWindow(const QString& objectName, const QString& message) {
    auto* window = new ModalWindow(window_.get());
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

void Tolvik_Repair_MOVAppDelegate::buildWindow() {
    window_ = std::make_unique<MainWindow>();
    window_->setObjectName(QStringLiteral("mainWindow"));
    window_->setWindowTitle(QStringLiteral("Arbel Video Repair"));
    window_->setMinimumSize(760, 520);
    window_->setStyleSheet(QString::fromLatin1(kStyleSheet));

    auto* central = new QWidget(window_.get());
    auto* outer = new QVBoxLayout(central);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(0);
    window_->setCentralWidget(central);

    auto* band = new QFrame(central);
    band->setObjectName(QStringLiteral("headerBand"));
    band->setFixedHeight(56);
    auto* bandLayout = new QHBoxLayout(band);
    bandLayout->setContentsMargins(28, 0, 28, 0);
    bandLayout->addWidget(makeLabel(QStringLiteral("appName"), QStringLiteral("Arbel Video Repair"), band));
    bandLayout->addStretch(1);
    bandLayout->addWidget(
        makeLabel(QStringLiteral("appTagline"), QStringLiteral("Repairs damaged MOV, MP4, M4V and AVI recordings"), band));
    outer->addWidget(band);

    auto* content = new QVBoxLayout;
    content->setContentsMargins(32, 22, 32, 26);
    content->setSpacing(14);
    outer->addLayout(content, 1);

    upperBoxField = makeLabel(QStringLiteral("upperBoxField"), QStringLiteral("Select a video file to repair"), central);
    content->addWidget(upperBoxField);

    auto* card = new QFrame(central);
    card->setObjectName(QStringLiteral("card"));
    auto* cardLayout = new QVBoxLayout(card);
    cardLayout->setContentsMargins(26, 22, 26, 22);
    content->addWidget(card, 1);

    // Screens are switched by the controller only, so the tab view shows no tabs.
    tabview = new QStackedWidget(card);
    tabview->setObjectName(QStringLiteral("tabview"));
    cardLayout->addWidget(tabview);

    QVBoxLayout* page = nullptr;

    // --- start screen ------------------------------------------------------------
    QWidget* mainTab = makePage(QStringLiteral("mainTab"), tabview, page);
    selectFileText = makeLabel(
        QStringLiteral("selectFileText"),
        QStringLiteral("Choose the damaged recording you want to repair. MOV, MP4 and M4V files are rebuilt with "
                       "the help of a healthy clip recorded by the same camera, which you choose next; AVI files "
                       "need nothing else.\n\nThe damaged file itself is only read, never changed."),
        mainTab, "hint");
    selectFileText->setWordWrap(true);
    page->addWidget(selectFileText);

    auto* chooseRow = new QHBoxLayout;
    chooseRow->setSpacing(10);
    pathfield = new QLineEdit(mainTab);
    pathfield->setObjectName(QStringLiteral("pathfield"));
    pathfield->setReadOnly(true);
    pathfield->setPlaceholderText(QStringLiteral("No file chosen"));
    chooseRow->addWidget(pathfield, 1);
    browsebutton = makeButton(QStringLiteral("browsebutton"), QStringLiteral("Browse"), mainTab);
    chooseRow->addWidget(browsebutton);
    page->addLayout(chooseRow);

    fileStatus = makeLabel(QStringLiteral("fileStatus"), QString(), mainTab, "status");
    page->addWidget(fileStatus);
    filePathUp = makePathLabel(QStringLiteral("filePathUp"), mainTab);
    page->addWidget(filePathUp);
    page->addStretch(1);

    auto* steps = new QFrame(mainTab);
    steps->setObjectName(QStringLiteral("howItWorks"));
    auto* stepsLayout = new QVBoxLayout(steps);
    stepsLayout->setContentsMargins(16, 12, 16, 12);
    stepsLayout->setSpacing(4);
    stepsLayout->addWidget(makeLabel(QStringLiteral("howItWorksTitle"), QStringLiteral("How it works"), steps, "next"));
    for (const QString& step : {QStringLiteral("1.  Browse for the damaged video file."),
                                QStringLiteral("2.  MOV, MP4 or M4V: choose a healthy clip from the same camera."),
                                QStringLiteral("3.  Repair, then look at the details of the repaired video.")})
        stepsLayout->addWidget(makeLabel(QString(), step, steps, "hint"));
    page->addWidget(steps);
    page->addSpacing(6);
    backBtn = makeButton(QStringLiteral("backBtn"), QStringLiteral("Back"), mainTab, true);
    repairbutton = makeButton(QStringLiteral("repairbutton"), QStringLiteral("Repair"), mainTab);
    page->addLayout(buttonRow(backBtn, repairbutton));

    // --- reference screen -----------------------------------------------------------
    QWidget* referenceTab = makePage(QStringLiteral("referenceFileTab"), tabview, page);
    refTabFileStatus = makeLabel(QStringLiteral("refTabFileStatus"), QString(), referenceTab, "status");
    page->addWidget(refTabFileStatus);
    refTabCorruptPath = makePathLabel(QStringLiteral("refTabCorruptPath"), referenceTab);
    page->addWidget(refTabCorruptPath);
    page->addSpacing(10);
    nextstepTextField = makeLabel(QStringLiteral("nextstepTextField"),
                                  QStringLiteral("Next Step:Select a healthy video file taken on same camera"),
                                  referenceTab, "next");
    page->addWidget(nextstepTextField);
    refTabRefFilePath = makePathLabel(QStringLiteral("refTabRefFilePath"), referenceTab);
    refTabRefFilePath->hide();
    page->addWidget(refTabRefFilePath);
    auto* referenceRow = new QHBoxLayout;
    selectRefFileBtn = makeButton(QStringLiteral("selectRefFileBtn"), QStringLiteral("Select Healthy File"), referenceTab);
    referenceRow->addWidget(selectRefFileBtn);
    referenceRow->addStretch(1);
    page->addLayout(referenceRow);
    whyMovFile = new QLabel(referenceTab);
    whyMovFile->setObjectName(QStringLiteral("whyMovFile"));
    whyMovFile->setTextFormat(Qt::RichText);
    whyMovFile->setAlignment(Qt::AlignCenter);
    whyMovFile->setTextInteractionFlags(Qt::TextBrowserInteraction);
    whyMovFile->setOpenExternalLinks(true);
    page->addWidget(whyMovFile);
    // Kept for the reference path; this screen shows it in refTabRefFilePath.
    referencefilepathfield = new QLineEdit(referenceTab);
    referencefilepathfield->setObjectName(QStringLiteral("referencefilepathfield"));
    referencefilepathfield->setReadOnly(true);
    referencefilepathfield->hide();
    page->addStretch(1);
    refTabBackBtn = makeButton(QStringLiteral("refTabBackBtn"), QStringLiteral("Back"), referenceTab, true);
    refTabRepairBtn = makeButton(QStringLiteral("refTabRepairBtn"), QStringLiteral("Repair"), referenceTab);
    refTabRepairBtn->setEnabled(false);
    page->addLayout(buttonRow(refTabBackBtn, refTabRepairBtn));

    // --- repair screen ----------------------------------------------------------------
    QWidget* repairingTab = makePage(QStringLiteral("repairingTab"), tabview, page);
    repFileStatus = makeLabel(QStringLiteral("repFileStatus"), QString(), repairingTab, "status");
    page->addWidget(repFileStatus);
    repCorruptFilePath = makePathLabel(QStringLiteral("repCorruptFilePath"), repairingTab);
    page->addWidget(repCorruptFilePath);
    repHealthyFilePath = makePathLabel(QStringLiteral("repHealthyFilePath"), repairingTab);
    page->addWidget(repHealthyFilePath);

    auto* times = new QGridLayout;
    times->setHorizontalSpacing(18);
    times->addWidget(makeLabel(QStringLiteral("startCaption"), QStringLiteral("Started at"), repairingTab, "caption"), 0, 0);
    times->addWidget(makeLabel(QStringLiteral("elapsedCaption"), QStringLiteral("Elapsed time"), repairingTab, "caption"), 0, 1);
    repairingStartTimeField = makeLabel(QStringLiteral("repairingStartTimeField"), QString(), repairingTab, "value");
    times->addWidget(repairingStartTimeField, 1, 0);
    elapsedTime = makeLabel(QStringLiteral("elapsedTime"), QStringLiteral("00:00:00"), repairingTab, "value");
    times->addWidget(elapsedTime, 1, 1);
    times->setColumnStretch(2, 1);
    page->addSpacing(6);
    page->addLayout(times);

    auto* statusRow = new QHBoxLayout;
    statusRow->setSpacing(12);
    animView = new BusyIndicator(repairingTab);
    animView->setObjectName(QStringLiteral("animView"));
    statusRow->addWidget(animView);
    currentstatus = makeLabel(QStringLiteral("currentstatus"), QString(), repairingTab, "value");
    statusRow->addWidget(currentstatus, 1);
    page->addSpacing(6);
    page->addLayout(statusRow);

    auto* barRow = new QHBoxLayout;
    barRow->setSpacing(12);
    progressbar = new QProgressBar(repairingTab);
    progressbar->setObjectName(QStringLiteral("progressbar"));
    progressbar->setRange(0, 100);
    progressbar->setValue(0);
    progressbar->setTextVisible(false);
    barRow->addWidget(progressbar, 1);
    percent = makeLabel(QStringLiteral("percent"), QStringLiteral("0%"), repairingTab, "value");
    percent->setMinimumWidth(48);
    percent->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    barRow->addWidget(percent);
    page->addLayout(barRow);
    page->addStretch(1);
    repCancelBtn = makeButton(QStringLiteral("repCancelBtn"), QStringLiteral("Stop"), repairingTab, true);
    repPauseBtn = makeButton(QStringLiteral("repPauseBtn"), QStringLiteral("Pause"), repairingTab);
    page->addLayout(buttonRow(repCancelBtn, repPauseBtn));

    // --- details screen ------------------------------------------------------------------
    QWidget* detailsTab = makePage(QStringLiteral("detailsTab"), tabview, page);
    page->addWidget(makeLabel(QStringLiteral("damagedFileTitle"), QStringLiteral("Damaged file"), detailsTab, "next"));
    auto* damagedFacts = new QGridLayout;
    damagedFacts->setHorizontalSpacing(18);
    damagedFacts->setVerticalSpacing(6);
    fileNamefield = makePathLabel(QStringLiteral("fileNamefield"), detailsTab);
    fileNamefield->setProperty("role", "value");
    sizeField = makeLabel(QStringLiteral("sizeField"), QString(), detailsTab, "value");
    textfield = makePathLabel(QStringLiteral("textfield"), detailsTab);
    const std::pair<const char*, QLabel*> damagedRows[] = {
        {"Name", fileNamefield}, {"Size", sizeField}, {"Path", textfield}};
    int row = 0;
    for (const auto& [caption, field] : damagedRows) {
        // Captions stay on the first line of a value that wraps.
        QLabel* captionLabel = makeLabel(field->objectName() + QStringLiteral("Caption"), QString::fromLatin1(caption),
                                         detailsTab, "caption");
        damagedFacts->addWidget(captionLabel, row, 0, Qt::AlignTop);
        damagedFacts->addWidget(field, row, 1);
        ++row;
    }
    damagedFacts->setColumnStretch(1, 1);
    page->addLayout(damagedFacts);
    page->addSpacing(10);

    // What the engine found, side by side as caption over value.
    page->addWidget(
        makeLabel(QStringLiteral("repairedVideoTitle"), QStringLiteral("Repaired video"), detailsTab, "next"));
    auto* facts = new QFrame(detailsTab);
    facts->setObjectName(QStringLiteral("repairedFacts"));
    auto* factsLayout = new QGridLayout(facts);
    factsLayout->setContentsMargins(18, 14, 18, 14);
    factsLayout->setHorizontalSpacing(24);
    factsLayout->setVerticalSpacing(4);
    videoCodecField = makeLabel(QStringLiteral("videoCodecField"), QString(), facts, "fact");
    fpsField = makeLabel(QStringLiteral("fpsField"), QString(), facts, "fact");
    durationField = makeLabel(QStringLiteral("durationField"), QString(), facts, "fact");
    tracksField = makeLabel(QStringLiteral("tracksField"), QString(), facts, "fact");
    const std::pair<const char*, QLabel*> reportedColumns[] = {{"Video codec", videoCodecField},
                                                               {"Frames per second", fpsField},
                                                               {"Duration", durationField},
                                                               {"Tracks", tracksField}};
    int column = 0;
    for (const auto& [caption, field] : reportedColumns) {
        factsLayout->addWidget(makeLabel(field->objectName() + QStringLiteral("Caption"), QString::fromLatin1(caption),
                                         facts, "caption"),
                               0, column);
        // A value not reported keeps its line, so the panel does not shrink.
        field->setMinimumHeight(field->fontMetrics().height() + 6);
        factsLayout->addWidget(field, 1, column);
        factsLayout->setColumnStretch(column, 1);
        ++column;
    }
    page->addWidget(facts);

    // The damaged path as the repair started it; this screen shows it in textfield.
    pathlabel = makeLabel(QStringLiteral("pathlabel"), QString(), detailsTab);
    pathlabel->hide();
    page->addStretch(1);
    prewTabHomeBtn = makeButton(QStringLiteral("prewTabHomeBtn"), QStringLiteral("Home"), detailsTab, true);
    page->addLayout(buttonRow(prewTabHomeBtn, nullptr));

    // --- saving screen (its content comes with saving) ---------------------------------------
    makePage(QStringLiteral("savingTab"), tabview, page);
    page->addStretch(1);

    tabview->setCurrentIndex(0);

    // --- modal windows ------------------------------------------------------------------
    auto addButton = [](ModalWindow* window, QPushButton* button) {
        window->findChild<QHBoxLayout*>(QStringLiteral("buttons"))->addWidget(button);
    };

    filenotselectedwindow = makeModalWindow(QStringLiteral("filenotselectedwindow"),
                                            QStringLiteral("Select the damaged video file first (Browse)."));
    filenotselectedokbutton =
        makeButton(QStringLiteral("filenotselectedokbutton"), QStringLiteral("OK"), filenotselectedwindow);
    addButton(filenotselectedwindow, filenotselectedokbutton);
    filenotselectedwindow->setAnswerOnClose(filenotselectedokbutton);

    stoprepairwindow = makeModalWindow(QStringLiteral("stoprepairwindow"),
                                       QStringLiteral("Do you want to stop repairing this file?"));
    stoprepaircancelbutton =
        makeButton(QStringLiteral("stoprepaircancelbutton"), QStringLiteral("Cancel"), stoprepairwindow, true);
    stoprepairokbutton = makeButton(QStringLiteral("stoprepairokbutton"), QStringLiteral("OK"), stoprepairwindow);
    addButton(stoprepairwindow, stoprepaircancelbutton);
    addButton(stoprepairwindow, stoprepairokbutton);
    stoprepairwindow->setAnswerOnClose(stoprepaircancelbutton);

    repairAbortedWindow =
        makeModalWindow(QStringLiteral("repairAbortedWindow"), QStringLiteral("The repair has been stopped."));
    repairAbortedOK = makeButton(QStringLiteral("repairAbortedOK"), QStringLiteral("OK"), repairAbortedWindow);
    addButton(repairAbortedWindow, repairAbortedOK);
    repairAbortedWindow->setAnswerOnClose(repairAbortedOK);

    couldntRepair = makeModalWindow(QStringLiteral("couldntRepair"),
                                    QStringLiteral("This file can not be repaired. No repaired file was made."));
    couldNotRepairOk = makeButton(QStringLiteral("couldNotRepairOk"), QStringLiteral("OK"), couldntRepair);
    addButton(couldntRepair, couldNotRepairOk);
    couldntRepair->setAnswerOnClose(couldNotRepairOk);

    window_->resize(820, 560);
}

}  // namespace arbel

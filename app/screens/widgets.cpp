#include "widgets.h"

#include "app/busy_indicator.h"
#include "app/button_title_color.h"
#include "app/pictures.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

namespace arbel {

namespace {

const char* const kStyleSheet = R"(
QMainWindow, QDialog { background: #f3f5f9; }
QFrame#headerBand { background: #1b2a44; }
QLabel#appName { color: white; font-size: 17px; font-weight: 600; }
QLabel#appTagline { color: #aab6cc; font-size: 13px; }
QPushButton#checkForUpdatesBtn { color: #cfd8e8; background: transparent; border: 1px solid #44546f;
                                 border-radius: 5px; padding: 4px 10px; font-size: 12px; }
QPushButton#checkForUpdatesBtn:hover { color: white; border-color: #8fa3c4; }
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
QPushButton#vlcButton { padding: 0; min-width: 50px; max-width: 50px; min-height: 50px; max-height: 50px; }
QFrame#movieFrame { background: black; }
QPushButton#moviePlayButton { padding: 3px 14px; min-width: 0; font-size: 12px; }
QLabel#destinationPath { color: #2b3547; }
QProgressBar { border: none; background: #e4e9f1; border-radius: 5px; max-height: 10px; }
QProgressBar::chunk { background: #2f6fd0; border-radius: 5px; }
)";

// The home, help and share pictures are drawn 32 pixels square.
constexpr int kKeySize = 32;

}  // namespace

QString windowStyleSheet() { return QString::fromLatin1(kStyleSheet); }

QPushButton* makeButton(const QString& objectName, const QString& title, QWidget* parent, bool quiet) {
    auto* button = new QPushButton(title, parent);
    button->setObjectName(objectName);
    button->setProperty("imageButton", true);
    if (quiet) button->setProperty("quiet", true);
    button->setCursor(Qt::PointingHandCursor);
    setTitleTextColor(button, titleTextColor());
    return button;
}

QPushButton* makeKey(const QString& objectName, const QString& picture, const QString& tip, QWidget* parent) {
    auto* key = new QPushButton(parent);
    key->setObjectName(objectName);
    key->setFixedSize(kKeySize, kKeySize);
    key->setToolTip(tip);
    key->setAccessibleName(tip);
    key->setCursor(Qt::PointingHandCursor);
    key->setFocusPolicy(Qt::TabFocus);
    setPicture(key, picture);
    return key;
}

QLabel* makePicture(const QString& objectName, const QString& picture, const QString& tip, QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setObjectName(objectName);
    label->setFixedSize(kKeySize, kKeySize);
    label->setToolTip(tip);
    setPicture(label, picture);
    return label;
}

QLabel* makeLabel(const QString& objectName, const QString& text, QWidget* parent, const char* role) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(objectName);
    label->setTextFormat(Qt::PlainText);
    if (role) label->setProperty("role", role);
    return label;
}

QLabel* makePathLabel(const QString& objectName, QWidget* parent) {
    // Paths often have no spaces to wrap at.
    QLabel* label = makeLabel(objectName, QString(), parent, "path");
    label->setWordWrap(true);
    label->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return label;
}

QVBoxLayout* makeScreenLayout(QWidget* screen) {
    auto* layout = new QVBoxLayout(screen);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(12);
    return layout;
}

QHBoxLayout* buttonRow(QPushButton* left, QPushButton* right) {
    return buttonRow(std::initializer_list<QWidget*>{left}, std::initializer_list<QWidget*>{right});
}

QHBoxLayout* buttonRow(std::initializer_list<QWidget*> left, std::initializer_list<QWidget*> right) {
    auto* row = new QHBoxLayout;
    row->setSpacing(10);
    for (QWidget* button : left)
        if (button) row->addWidget(button);
    row->addStretch(1);
    for (QWidget* button : right)
        if (button) row->addWidget(button);
    return row;
}

ProgressSection addProgressSection(QVBoxLayout* page, QWidget* screen, const std::array<const char*, 6>& names) {
    ProgressSection section;
    section.started = makeLabel(QString::fromLatin1(names[0]), QString(), screen, "value");
    section.elapsed = makeLabel(QString::fromLatin1(names[1]), QStringLiteral("00:00:00"), screen, "value");
    auto* times = new QGridLayout;
    times->setHorizontalSpacing(18);
    times->addWidget(makeLabel(QStringLiteral("startedCaption"), QStringLiteral("Started at"), screen, "caption"), 0, 0);
    times->addWidget(makeLabel(QStringLiteral("elapsedCaption"), QStringLiteral("Elapsed time"), screen, "caption"), 0,
                     1);
    times->addWidget(section.started, 1, 0);
    times->addWidget(section.elapsed, 1, 1);
    times->setColumnStretch(2, 1);
    page->addSpacing(6);
    page->addLayout(times);

    auto* statusRow = new QHBoxLayout;
    statusRow->setSpacing(12);
    section.animation = new BusyIndicator(screen);
    section.animation->setObjectName(QString::fromLatin1(names[2]));
    statusRow->addWidget(section.animation);
    section.status = makeLabel(QString::fromLatin1(names[3]), QString(), screen, "value");
    statusRow->addWidget(section.status, 1);
    page->addSpacing(6);
    page->addLayout(statusRow);

    auto* barRow = new QHBoxLayout;
    barRow->setSpacing(12);
    section.bar = new QProgressBar(screen);
    section.bar->setObjectName(QString::fromLatin1(names[4]));
    section.bar->setRange(0, 100);
    section.bar->setValue(0);
    section.bar->setTextVisible(false);
    barRow->addWidget(section.bar, 1);
    section.percentage = makeLabel(QString::fromLatin1(names[5]), QStringLiteral("0%"), screen, "value");
    section.percentage->setMinimumWidth(48);
    section.percentage->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    barRow->addWidget(section.percentage);
    page->addLayout(barRow);
    return section;
}

}  // namespace arbel

#include "widgets.h"

#include "app/button_title_color.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

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
    auto* row = new QHBoxLayout;
    if (left) row->addWidget(left);
    row->addStretch(1);
    if (right) row->addWidget(right);
    return row;
}

}  // namespace arbel

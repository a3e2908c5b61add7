#include "repair_screen.h"

#include "widgets.h"

#include "app/busy_indicator.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

namespace arbel {

RepairScreen::RepairScreen(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("repairingTab"));
    QVBoxLayout* page = makeScreenLayout(this);

    repFileStatus = makeLabel(QStringLiteral("repFileStatus"), QString(), this, "status");
    page->addWidget(repFileStatus);
    repCorruptFilePath = makePathLabel(QStringLiteral("repCorruptFilePath"), this);
    page->addWidget(repCorruptFilePath);
    repHealthyFilePath = makePathLabel(QStringLiteral("repHealthyFilePath"), this);
    page->addWidget(repHealthyFilePath);

    repairingStartTimeField = makeLabel(QStringLiteral("repairingStartTimeField"), QString(), this, "value");
    elapsedTime = makeLabel(QStringLiteral("elapsedTime"), QStringLiteral("00:00:00"), this, "value");
    QGridLayout* times = startAndElapsedTimes(this, repairingStartTimeField, elapsedTime);
    page->addSpacing(6);
    page->addLayout(times);

    animView = new BusyIndicator(this);
    animView->setObjectName(QStringLiteral("animView"));
    currentstatus = makeLabel(QStringLiteral("currentstatus"), QString(), this, "value");
    progressbar = new QProgressBar(this);
    progressbar->setObjectName(QStringLiteral("progressbar"));
    percent = makeLabel(QStringLiteral("percent"), QStringLiteral("0%"), this, "value");
    page->addSpacing(6);
    addStatusAndBar(page, animView, currentstatus, progressbar, percent);
    page->addStretch(1);

    repCancelBtn = makeButton(QStringLiteral("repCancelBtn"), QStringLiteral("Stop"), this, true);
    repPauseBtn = makeButton(QStringLiteral("repPauseBtn"), QStringLiteral("Pause"), this);
    page->addLayout(buttonRow(repCancelBtn, repPauseBtn));
}

}  // namespace arbel

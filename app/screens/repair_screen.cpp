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

    auto* times = new QGridLayout;
    times->setHorizontalSpacing(18);
    times->addWidget(makeLabel(QStringLiteral("startCaption"), QStringLiteral("Started at"), this, "caption"), 0, 0);
    times->addWidget(makeLabel(QStringLiteral("elapsedCaption"), QStringLiteral("Elapsed time"), this, "caption"), 0, 1);
    repairingStartTimeField = makeLabel(QStringLiteral("repairingStartTimeField"), QString(), this, "value");
    times->addWidget(repairingStartTimeField, 1, 0);
    elapsedTime = makeLabel(QStringLiteral("elapsedTime"), QStringLiteral("00:00:00"), this, "value");
    times->addWidget(elapsedTime, 1, 1);
    times->setColumnStretch(2, 1);
    page->addSpacing(6);
    page->addLayout(times);

    auto* statusRow = new QHBoxLayout;
    statusRow->setSpacing(12);
    animView = new BusyIndicator(this);
    animView->setObjectName(QStringLiteral("animView"));
    statusRow->addWidget(animView);
    currentstatus = makeLabel(QStringLiteral("currentstatus"), QString(), this, "value");
    statusRow->addWidget(currentstatus, 1);
    page->addSpacing(6);
    page->addLayout(statusRow);

    auto* barRow = new QHBoxLayout;
    barRow->setSpacing(12);
    progressbar = new QProgressBar(this);
    progressbar->setObjectName(QStringLiteral("progressbar"));
    progressbar->setRange(0, 100);
    progressbar->setValue(0);
    progressbar->setTextVisible(false);
    barRow->addWidget(progressbar, 1);
    percent = makeLabel(QStringLiteral("percent"), QStringLiteral("0%"), this, "value");
    percent->setMinimumWidth(48);
    percent->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    barRow->addWidget(percent);
    page->addLayout(barRow);
    page->addStretch(1);

    repCancelBtn = makeButton(QStringLiteral("repCancelBtn"), QStringLiteral("Stop"), this, true);
    repPauseBtn = makeButton(QStringLiteral("repPauseBtn"), QStringLiteral("Pause"), this);
    page->addLayout(buttonRow(repCancelBtn, repPauseBtn));
}

}  // namespace arbel

#include "repair_screen.h"

#include "widgets.h"

#include <QLabel>
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

    const ProgressSection progress = addProgressSection(
        page, this, {"repairingStartTimeField", "elapsedTime", "animView", "currentstatus", "progressbar", "percent"});
    repairingStartTimeField = progress.started;
    elapsedTime = progress.elapsed;
    animView = progress.animation;
    currentstatus = progress.status;
    progressbar = progress.bar;
    percent = progress.percentage;
    page->addStretch(1);

    repCancelBtn = makeButton(QStringLiteral("repCancelBtn"), QStringLiteral("Stop"), this, true);
    repPauseBtn = makeButton(QStringLiteral("repPauseBtn"), QStringLiteral("Pause"), this);
    page->addLayout(buttonRow(repCancelBtn, repPauseBtn));
}

}  // namespace arbel

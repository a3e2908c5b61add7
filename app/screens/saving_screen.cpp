#include "saving_screen.h"

#include "widgets.h"

#include "app/busy_indicator.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

namespace arbel {

SavingScreen::SavingScreen(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("savingTab"));
    QVBoxLayout* page = makeScreenLayout(this);

    destinationPath = makePathLabel(QStringLiteral("destinationPath"), this);
    page->addWidget(destinationPath);

    savingStartTime = makeLabel(QStringLiteral("savingStartTime"), QString(), this, "value");
    savingElapsedTime = makeLabel(QStringLiteral("savingElapsedTime"), QStringLiteral("00:00:00"), this, "value");
    page->addSpacing(6);
    page->addLayout(startAndElapsedTimes(this, savingStartTime, savingElapsedTime));

    savingAnimation = new BusyIndicator(this);
    savingAnimation->setObjectName(QStringLiteral("savingAnimation"));
    savingNotification = makeLabel(QStringLiteral("savingNotification"), QString(), this, "value");
    saveProgressBarr = new QProgressBar(this);
    saveProgressBarr->setObjectName(QStringLiteral("saveProgressBarr"));
    savingPercentage = makeLabel(QStringLiteral("savingPercentage"), QStringLiteral("0%"), this, "value");
    page->addSpacing(6);
    addStatusAndBar(page, savingAnimation, savingNotification, saveProgressBarr, savingPercentage);
    page->addStretch(1);

    main3 = makeButton(QStringLiteral("main3"), QStringLiteral("Home"), this, true);
    help3 = makeButton(QStringLiteral("help3"), QStringLiteral("Help"), this, true);
    cancelSaveBtn = makeButton(QStringLiteral("cancelSaveBtn"), QStringLiteral("Cancel"), this, true);
    page->addLayout(buttonRow({main3, help3}, {cancelSaveBtn}));
}

}  // namespace arbel

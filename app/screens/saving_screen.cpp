#include "saving_screen.h"

#include "widgets.h"

#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace arbel {

SavingScreen::SavingScreen(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("savingTab"));
    QVBoxLayout* page = makeScreenLayout(this);

    destinationPath = makePathLabel(QStringLiteral("destinationPath"), this);
    page->addWidget(destinationPath);

    const ProgressSection progress =
        addProgressSection(page, this,
                           {"savingStartTime", "savingElapsedTime", "savingAnimation", "savingNotification",
                            "saveProgressBarr", "savingPercentage"});
    savingStartTime = progress.started;
    savingElapsedTime = progress.elapsed;
    savingAnimation = progress.animation;
    savingNotification = progress.status;
    saveProgressBarr = progress.bar;
    savingPercentage = progress.percentage;
    page->addStretch(1);

    main3 = makeKey(QStringLiteral("main3"), QStringLiteral("home-1"), QStringLiteral("Home"), this);
    help3 = makeKey(QStringLiteral("help3"), QStringLiteral("help-1"), QStringLiteral("Help"), this);
    cancelSaveBtn = makeButton(QStringLiteral("cancelSaveBtn"), QStringLiteral("Cancel"), this, true);
    page->addLayout(buttonRow({main3, help3}, {cancelSaveBtn}));
}

}  // namespace arbel

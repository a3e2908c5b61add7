#include "start_screen.h"

#include "widgets.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace arbel {

StartScreen::StartScreen(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("mainTab"));
    QVBoxLayout* page = makeScreenLayout(this);

    selectFileText = makeLabel(
        QStringLiteral("selectFileText"),
        QStringLiteral("Choose the damaged recording you want to repair. MOV, MP4 and M4V files are rebuilt with "
                       "the help of a healthy clip recorded by the same camera, which you choose next; AVI files "
                       "need nothing else.\n\nThe damaged file itself is only read, never changed."),
        this, "hint");
    selectFileText->setWordWrap(true);
    page->addWidget(selectFileText);

    auto* chooseRow = new QHBoxLayout;
    chooseRow->setSpacing(10);
    pathfield = new QLineEdit(this);
    pathfield->setObjectName(QStringLiteral("pathfield"));
    pathfield->setReadOnly(true);
    pathfield->setPlaceholderText(QStringLiteral("No file chosen"));
    chooseRow->addWidget(pathfield, 1);
    browsebutton = makeButton(QStringLiteral("browsebutton"), QStringLiteral("Browse"), this);
    chooseRow->addWidget(browsebutton);
    page->addLayout(chooseRow);

    fileStatus = makeLabel(QStringLiteral("fileStatus"), QString(), this, "status");
    page->addWidget(fileStatus);
    filePathUp = makePathLabel(QStringLiteral("filePathUp"), this);
    page->addWidget(filePathUp);
    page->addStretch(1);

    auto* steps = new QFrame(this);
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

    backBtn = makeButton(QStringLiteral("backBtn"), QStringLiteral("Back"), this, true);
    repairbutton = makeButton(QStringLiteral("repairbutton"), QStringLiteral("Repair"), this);
    // The home picture marks the screen every Home key leads back to.
    main1 = makePicture(QStringLiteral("main1"), QStringLiteral("home-1"), QStringLiteral("Start"), this);
    help1 = makeKey(QStringLiteral("help1"), QStringLiteral("help-1"), QStringLiteral("Help"), this);
    page->addLayout(buttonRow({main1, help1, backBtn}, {repairbutton}));
}

}  // namespace arbel

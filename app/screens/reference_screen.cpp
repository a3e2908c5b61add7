#include "reference_screen.h"

#include "widgets.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace arbel {

ReferenceScreen::ReferenceScreen(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("referenceFileTab"));
    QVBoxLayout* page = makeScreenLayout(this);

    refTabFileStatus = makeLabel(QStringLiteral("refTabFileStatus"), QString(), this, "status");
    page->addWidget(refTabFileStatus);
    refTabCorruptPath = makePathLabel(QStringLiteral("refTabCorruptPath"), this);
    page->addWidget(refTabCorruptPath);
    page->addSpacing(10);
    nextstepTextField = makeLabel(QStringLiteral("nextstepTextField"),
                                  QStringLiteral("Next Step:Select a healthy video file taken on same camera"), this,
                                  "next");
    page->addWidget(nextstepTextField);
    refTabRefFilePath = makePathLabel(QStringLiteral("refTabRefFilePath"), this);
    refTabRefFilePath->hide();
    page->addWidget(refTabRefFilePath);

    auto* referenceRow = new QHBoxLayout;
    selectRefFileBtn = makeButton(QStringLiteral("selectRefFileBtn"), QStringLiteral("Select Healthy File"), this);
    referenceRow->addWidget(selectRefFileBtn);
    referenceRow->addStretch(1);
    page->addLayout(referenceRow);

    whyMovFile = new QLabel(this);
    whyMovFile->setObjectName(QStringLiteral("whyMovFile"));
    whyMovFile->setTextFormat(Qt::RichText);
    whyMovFile->setAlignment(Qt::AlignCenter);
    whyMovFile->setTextInteractionFlags(Qt::TextBrowserInteraction);
    whyMovFile->setOpenExternalLinks(true);
    page->addWidget(whyMovFile);

    referencefilepathfield = new QLineEdit(this);
    referencefilepathfield->setObjectName(QStringLiteral("referencefilepathfield"));
    referencefilepathfield->setReadOnly(true);
    referencefilepathfield->hide();
    page->addStretch(1);

    refTabBackBtn = makeButton(QStringLiteral("refTabBackBtn"), QStringLiteral("Back"), this, true);
    refTabRepairBtn = makeButton(QStringLiteral("refTabRepairBtn"), QStringLiteral("Repair"), this);
    refTabRepairBtn->setEnabled(false);
    main2 = makeKey(QStringLiteral("main2"), QStringLiteral("home-1"), QStringLiteral("Home"), this);
    help2 = makeKey(QStringLiteral("help2"), QStringLiteral("help-1"), QStringLiteral("Help"), this);
    page->addLayout(buttonRow({main2, help2, refTabBackBtn}, {refTabRepairBtn}));
}

}  // namespace arbel

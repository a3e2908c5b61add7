#include "details_screen.h"

#include "widgets.h"

#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>
#include <QVideoWidget>

#include <utility>

namespace arbel {

DetailsScreen::DetailsScreen(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("detailsTab"));
    QVBoxLayout* page = makeScreenLayout(this);

    // The damaged file's facts beside the preview of the repaired one.
    auto* top = new QHBoxLayout;
    top->setSpacing(20);
    auto* damaged = new QVBoxLayout;
    damaged->setSpacing(8);
    damaged->addWidget(makeLabel(QStringLiteral("damagedFileTitle"), QStringLiteral("Damaged file"), this, "next"));
    auto* damagedFacts = new QGridLayout;
    damagedFacts->setHorizontalSpacing(18);
    damagedFacts->setVerticalSpacing(6);
    fileNamefield = makePathLabel(QStringLiteral("fileNamefield"), this);
    fileNamefield->setProperty("role", "value");
    sizeField = makeLabel(QStringLiteral("sizeField"), QString(), this, "value");
    textfield = makePathLabel(QStringLiteral("textfield"), this);
    const std::pair<const char*, QLabel*> damagedRows[] = {
        {"Name", fileNamefield}, {"Size", sizeField}, {"Path", textfield}};
    int row = 0;
    for (const auto& [caption, field] : damagedRows) {
        // Captions stay on the first line of a value that wraps.
        QLabel* captionLabel =
            makeLabel(field->objectName() + QStringLiteral("Caption"), QString::fromLatin1(caption), this, "caption");
        damagedFacts->addWidget(captionLabel, row, 0, Qt::AlignTop);
        damagedFacts->addWidget(field, row, 1);
        ++row;
    }
    damagedFacts->setColumnStretch(1, 1);
    damaged->addLayout(damagedFacts);
    damaged->addStretch(1);
    top->addLayout(damaged, 1);

    auto* preview = new QVBoxLayout;
    preview->setSpacing(4);
    // The frame keeps a dark screen in place while no movie is loaded.
    auto* movieFrame = new QFrame(this);
    movieFrame->setObjectName(QStringLiteral("movieFrame"));
    movieFrame->setFixedSize(224, 126);
    auto* movieLayout = new QVBoxLayout(movieFrame);
    movieLayout->setContentsMargins(0, 0, 0, 0);
    movieview = new QVideoWidget(movieFrame);
    movieview->setObjectName(QStringLiteral("movieview"));
    movieLayout->addWidget(movieview);
    preview->addWidget(movieFrame);
    moviePlayButton = makeButton(QStringLiteral("moviePlayButton"), QStringLiteral("Play"), this, true);
    preview->addWidget(moviePlayButton, 0, Qt::AlignHCenter);
    top->addLayout(preview);
    page->addLayout(top);

    // What the engine found, side by side as caption over value.
    page->addWidget(makeLabel(QStringLiteral("repairedVideoTitle"), QStringLiteral("Repaired video"), this, "next"));
    auto* facts = new QFrame(this);
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
        factsLayout->addWidget(
            makeLabel(field->objectName() + QStringLiteral("Caption"), QString::fromLatin1(caption), facts, "caption"),
            0, column);
        // A value not reported keeps its line, so the panel does not shrink.
        field->setMinimumHeight(field->fontMetrics().height() + 6);
        factsLayout->addWidget(field, 1, column);
        factsLayout->setColumnStretch(column, 1);
        ++column;
    }
    // How the file was read and what of the result plays, under the facts.
    scanField = makeLabel(QStringLiteral("scanField"), QString(), facts, "caption");
    playbackField = makeLabel(QStringLiteral("playbackField"), QString(), facts, "caption");
    playbackField->setWordWrap(true);
    auto* readLine = new QHBoxLayout;
    readLine->setSpacing(18);
    readLine->addWidget(scanField);
    readLine->addWidget(playbackField, 1);
    factsLayout->addLayout(readLine, 2, 0, 1, column);
    page->addWidget(facts);

    pathlabel = makeLabel(QStringLiteral("pathlabel"), QString(), this);
    pathlabel->hide();
    page->addStretch(1);
    prewTabHomeBtn = makeButton(QStringLiteral("prewTabHomeBtn"), QStringLiteral("Home"), this, true);
    prewBtn = makeButton(QStringLiteral("prewBtn"), QStringLiteral("Preview"), this);
    prewBtn->setToolTip(QStringLiteral("Play the repaired video in VLC or another player"));
    vlcButton = makeButton(QStringLiteral("vlcButton"), QStringLiteral("VLC"), this);
    vlcButton->setToolTip(QStringLiteral("Play the repaired video in VLC"));
    prewSaveBtn = makeButton(QStringLiteral("prewSaveBtn"), QStringLiteral("Save"), this);
    page->addLayout(buttonRow({prewTabHomeBtn}, {prewBtn, vlcButton, prewSaveBtn}));
}

}  // namespace arbel

#pragma once

#include <QWidget>

class QLabel;
class QPushButton;
class QVideoWidget;

namespace arbel {

// The details screen (detailsTab): the damaged file's name, size and path,
// what the engine reported about the repaired video, its preview, and the
// ways on: an external player, saving, home.
class DetailsScreen : public QWidget {
public:
    explicit DetailsScreen(QWidget* parent = nullptr);

    QLabel* fileNamefield = nullptr;
    QLabel* sizeField = nullptr;
    QLabel* textfield = nullptr;
    QLabel* videoCodecField = nullptr;
    QLabel* fpsField = nullptr;
    QLabel* durationField = nullptr;
    QLabel* tracksField = nullptr;
    // The scan the repair took, and what of the result plays.
    QLabel* scanField = nullptr;
    QLabel* playbackField = nullptr;
    // The damaged path as the repair started it, not shown: textfield shows
    // the path on this screen.
    QLabel* pathlabel = nullptr;
    QPushButton* prewTabHomeBtn = nullptr;

    QVideoWidget* movieview = nullptr;
    // Plays and pauses the preview.
    QPushButton* moviePlayButton = nullptr;
    // Preview (also known as previewbutton), the round VLC button and Save
    // (also known as savebutton).
    QPushButton* prewBtn = nullptr;
    QPushButton* vlcButton = nullptr;
    QPushButton* prewSaveBtn = nullptr;
};

}  // namespace arbel

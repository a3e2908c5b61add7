#pragma once

#include <QWidget>

class QLabel;
class QPushButton;

namespace arbel {

// The details screen (detailsTab): the damaged file's name, size and path,
// and what the engine reported about the repaired video.
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
};

}  // namespace arbel

#pragma once

#include <QWidget>

class QLabel;
class QProgressBar;
class QPushButton;

namespace arbel {

class BusyIndicator;

// The repair screen ("repairingTab"): the files being repaired, when the
// repair started and how long it has run, the engine's status and progress,
// and Pause and Stop.
class RepairScreen : public QWidget {
public:
    explicit RepairScreen(QWidget* parent = nullptr);

    QLabel* repFileStatus = nullptr;
    QLabel* repCorruptFilePath = nullptr;
    // Hidden for an AVI repair, which has no reference.
    QLabel* repHealthyFilePath = nullptr;
    QLabel* repairingStartTimeField = nullptr;
    QLabel* elapsedTime = nullptr;
    BusyIndicator* animView = nullptr;
    QLabel* currentstatus = nullptr;
    QProgressBar* progressbar = nullptr;
    QLabel* percent = nullptr;
    QPushButton* repCancelBtn = nullptr;
    QPushButton* repPauseBtn = nullptr;
};

}  // namespace arbel

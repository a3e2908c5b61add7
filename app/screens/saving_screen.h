#pragma once

#include <QWidget>

class QLabel;
class QProgressBar;
class QPushButton;

namespace arbel {

class BusyIndicator;

// The saving screen (savingTab): where the repaired file goes, when saving
// started and how long it has run, the copy's progress, and Cancel (which
// asks whether to stop).
class SavingScreen : public QWidget {
public:
    explicit SavingScreen(QWidget* parent = nullptr);

    QLabel* destinationPath = nullptr;
    QLabel* savingNotification = nullptr;
    QLabel* savingStartTime = nullptr;
    QLabel* savingElapsedTime = nullptr;
    BusyIndicator* savingAnimation = nullptr;
    QProgressBar* saveProgressBarr = nullptr;
    QLabel* savingPercentage = nullptr;
    QPushButton* cancelSaveBtn = nullptr;
    // Home and Help of this screen (main3 and help3).
    QPushButton* main3 = nullptr;
    QPushButton* help3 = nullptr;
};

}  // namespace arbel

#pragma once

#include <QWidget>

class QLabel;
class QLineEdit;
class QPushButton;

namespace arbel {

// The start screen ("mainTab"): the damaged file is chosen here, and an AVI
// file is repaired from here without a reference.
class StartScreen : public QWidget {
public:
    explicit StartScreen(QWidget* parent = nullptr);

    QLabel* selectFileText = nullptr;
    QLineEdit* pathfield = nullptr;
    QPushButton* browsebutton = nullptr;
    QLabel* fileStatus = nullptr;
    QLabel* filePathUp = nullptr;
    // Shown once an AVI file is chosen.
    QLabel* main1 = nullptr;
    QPushButton* help1 = nullptr;
    QPushButton* backBtn = nullptr;
    QPushButton* repairbutton = nullptr;
};

}  // namespace arbel

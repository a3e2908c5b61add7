#pragma once

#include <QWidget>

class QLabel;
class QLineEdit;
class QPushButton;

namespace arbel {

// The reference screen ("referenceFileTab"): a MOV, MP4 or M4V file has been
// chosen and needs a healthy clip from the same camera before it can be
// repaired.
class ReferenceScreen : public QWidget {
public:
    explicit ReferenceScreen(QWidget* parent = nullptr);

    QLabel* refTabFileStatus = nullptr;
    QLabel* refTabCorruptPath = nullptr;
    QLabel* nextstepTextField = nullptr;
    // The healthy file once chosen; hidden until then.
    QLabel* refTabRefFilePath = nullptr;
    QPushButton* selectRefFileBtn = nullptr;
    QLabel* whyMovFile = nullptr;
    // Holds the reference path for whoever asks; the screen shows it in
    // refTabRefFilePath.
    QLineEdit* referencefilepathfield = nullptr;
    QPushButton* main2 = nullptr;
    QPushButton* help2 = nullptr;
    QPushButton* refTabBackBtn = nullptr;
    // Disabled until a reference is chosen.
    QPushButton* refTabRepairBtn = nullptr;
};

}  // namespace arbel

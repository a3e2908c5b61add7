#pragma once

#include <QWidget>

namespace arbel {

// The saving screen (savingTab). It holds its place after the details screen
// in the stacked view; its content comes with saving.
class SavingScreen : public QWidget {
public:
    explicit SavingScreen(QWidget* parent = nullptr);
};

}  // namespace arbel

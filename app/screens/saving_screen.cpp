#include "saving_screen.h"

#include "widgets.h"

#include <QVBoxLayout>

namespace arbel {

SavingScreen::SavingScreen(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("savingTab"));
    makeScreenLayout(this)->addStretch(1);
}

}  // namespace arbel

#include "button_title_color.h"

#include <QAbstractButton>
#include <QPalette>

namespace arbel {

QColor titleTextColor() { return QColor(Qt::white); }

void setTitleTextColor(QAbstractButton* button, const QColor& color) {
    QPalette palette = button->palette();
    palette.setColor(QPalette::Active, QPalette::ButtonText, color);
    palette.setColor(QPalette::Inactive, QPalette::ButtonText, color);
    // A disabled button keeps a paler form of the same colour.
    QColor disabled = color;
    disabled.setAlphaF(0.7f);
    palette.setColor(QPalette::Disabled, QPalette::ButtonText, disabled);
    button->setPalette(palette);
}

}  // namespace arbel

#pragma once

#include <QColor>

class QAbstractButton;

namespace arbel {

// Buttons carry white titles on their coloured faces. Every change of a
// button's title is followed by setTitleTextColor(button, titleTextColor()).
QColor titleTextColor();
void setTitleTextColor(QAbstractButton* button, const QColor& color);

}  // namespace arbel

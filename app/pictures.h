#pragma once

#include <QString>
#include <QStringList>

class QWidget;

namespace arbel {

// The pictures compiled into the program (resources/pictures), by the names
// the hover table and the splash use. Each PNG has a twice-as-large "@2x"
// copy that Qt picks on high-density screens.
QStringList pictureNames();

// The resource path of a picture: ":/pictures/NAME.png", or the animation's
// ":/pictures/NAME.gif".
QString picturePath(const QString& name);

// Shows the picture as the widget's face, stretched by its rounded corners
// so that a button keeps them at any width, and remembers its name in the
// widget's "picture" property.
void setPicture(QWidget* widget, const QString& name);
// The name last given to setPicture(), or an empty string.
QString pictureOf(const QWidget* widget);

// The name of the splash animation.
inline QString splashAnimationName() { return QStringLiteral("Splash-Screen_Animations_1"); }

}  // namespace arbel

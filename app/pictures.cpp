#include "pictures.h"

#include <QVariant>
#include <QWidget>

namespace arbel {

namespace {

const char* const kPictureProperty = "picture";

// The button faces are drawn with rounded corners of this many logical
// pixels; they stay unstretched.
constexpr int kFaceCornerSlice = 8;

bool isButtonFace(const QString& name) { return name.startsWith(QLatin1String("Button ")); }

}  // namespace

QStringList pictureNames() {
    return {QStringLiteral("Button Small Normal"), QStringLiteral("Button Small Hover"),
            QStringLiteral("Button Large Normal"), QStringLiteral("Button Large Hover"),
            QStringLiteral("home-1"),              QStringLiteral("home-2"),
            QStringLiteral("help-1"),              QStringLiteral("help-2"),
            QStringLiteral("Home_key"),            QStringLiteral("Home_key_Hover"),
            QStringLiteral("help"),                QStringLiteral("Help_Hover"),
            QStringLiteral("Social Share"),        QStringLiteral("Social Share_Hover"),
            splashAnimationName()};
}

QString picturePath(const QString& name) {
    const QString suffix = name == splashAnimationName() ? QStringLiteral(".gif") : QStringLiteral(".png");
    return QStringLiteral(":/pictures/") + name + suffix;
}

void setPicture(QWidget* widget, const QString& name) {
    if (!widget || pictureOf(widget) == name) return;
    widget->setProperty(kPictureProperty, name);
    // The style sheet finds the "@2x" copy beside the file on its own.
    const QString url = QStringLiteral("url(\"%1\")").arg(picturePath(name));
    if (isButtonFace(name)) {
        // A button that cannot be pressed shows the resting face, however
        // highlighted it would be otherwise.
        QString resting = name;
        resting.replace(QLatin1String("Hover"), QLatin1String("Normal"));
        const QString disabledUrl = QStringLiteral("url(\"%1\")").arg(picturePath(resting));
        widget->setStyleSheet(QStringLiteral("QPushButton { border-image: %1 %2 %2 %2 %2 stretch stretch; "
                                             "border-width: %2px; background: transparent; padding: 0 12px; "
                                             "min-width: 72px; min-height: 20px; }"
                                             "QPushButton:disabled { border-image: %3 %2 %2 %2 %2 stretch stretch; "
                                             "color: rgba(255, 255, 255, 150); }")
                                  .arg(url)
                                  .arg(kFaceCornerSlice)
                                  .arg(disabledUrl));
    } else {
        widget->setStyleSheet(
            QStringLiteral("* { border-image: %1; background: transparent; border: none; padding: 0; }").arg(url));
    }
}

QString pictureOf(const QWidget* widget) {
    return widget ? widget->property(kPictureProperty).toString() : QString();
}

}  // namespace arbel

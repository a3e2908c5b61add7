#pragma once

#include <QString>

#include <array>
#include <initializer_list>

class QGridLayout;
class QHBoxLayout;
class QLabel;
class QProgressBar;
class QPushButton;
class QVBoxLayout;
class QWidget;

namespace arbel {

class BusyIndicator;

// The look of the main window, its screens and its modal windows. It is set
// once, on the main window, and reaches every widget from there.
QString windowStyleSheet();

// A button with a white title on a coloured face; a quiet one is the grey
// face of a row's secondary action (Back, Stop, Cancel).
QPushButton* makeButton(const QString& objectName, const QString& title, QWidget* parent, bool quiet = false);

// A round key showing only its picture (home, help), 32 x 32; `tip` says
// what it does.
QPushButton* makeKey(const QString& objectName, const QString& picture, const QString& tip, QWidget* parent);

// A picture that does nothing when clicked, the size of a key.
QLabel* makePicture(const QString& objectName, const QString& picture, const QString& tip, QWidget* parent);

// Plain text. The role picks its look in the style sheet: "status", "path",
// "hint", "caption", "value", "next" or "fact".
QLabel* makeLabel(const QString& objectName, const QString& text, QWidget* parent, const char* role = nullptr);

// A path that wraps anywhere and never widens the window.
QLabel* makePathLabel(const QString& objectName, QWidget* parent);

// The column every screen lays its widgets out in.
QVBoxLayout* makeScreenLayout(QWidget* screen);

// A screen's bottom row: the secondary action on the left, the main one on
// the right; either may be missing.
QHBoxLayout* buttonRow(QPushButton* left, QPushButton* right);
// The same with several buttons on either side, in the order given.
QHBoxLayout* buttonRow(std::initializer_list<QWidget*> left, std::initializer_list<QWidget*> right);

// The middle of the repair and saving screens: when the work started and how
// long it has run, the animation beside the status line, and the bar (0 to
// 100, no text of its own) with the percentage at its right.
struct ProgressSection {
    QLabel* started = nullptr;
    QLabel* elapsed = nullptr;
    BusyIndicator* animation = nullptr;
    QLabel* status = nullptr;
    QProgressBar* bar = nullptr;
    QLabel* percentage = nullptr;
};

// Adds the section to the page; the widgets get the object names given, in
// the order of the fields above.
ProgressSection addProgressSection(QVBoxLayout* page, QWidget* screen, const std::array<const char*, 6>& names);

}  // namespace arbel

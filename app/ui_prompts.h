#pragma once

#include <QString>

#include <functional>
#include <memory>

class QDialog;
class QWidget;

namespace arbel {

// Every place where the controller waits for a person: message panels, open
// panels and the modal windows. The desktop program answers through Qt
// dialogs; tests install a scripted implementation that answers at once.
class UiPrompts {
public:
    virtual ~UiPrompts() = default;

    // A message panel with a title, a text and one button; returns when it
    // has been dismissed.
    virtual void messagePanel(QWidget* parent, const QString& title, const QString& text,
                              const QString& button) = 0;

    // An open panel for one movie file, modal to parent's window. `chosen`
    // runs with the path when the user accepts and not at all otherwise; it
    // may run after this call has returned.
    virtual void openMoviePanel(QWidget* parent, std::function<void(const QString& path)> chosen) = 0;

    // Shows a window modally and returns once endModal() has been called for
    // it (by one of its buttons' actions).
    virtual void runModal(QDialog* window) = 0;

    // Shows a window as a sheet on its parent window and returns at once.
    virtual void beginSheet(QDialog* window) = 0;

    // Hides a window shown by runModal() or beginSheet() and ends its modal
    // loop.
    virtual void endModal(QDialog* window) = 0;
};

// The file-name filter of the open panels: the four movie extensions in any
// mix of upper and lower case.
QString movieNameFilter();

std::unique_ptr<UiPrompts> makeQtUiPrompts();

}  // namespace arbel

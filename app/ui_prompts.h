#pragma once

#include <QString>
#include <QUrl>

#include <functional>
#include <memory>

class QDialog;
class QFileDialog;
class QWidget;

namespace arbel {

// Every place where the controller waits for a person or hands something to
// the desktop: message panels, open and save panels, the modal windows, the
// file manager and the default handler of an address. The desktop program answers through Qt
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

    // A message panel with a default and an alternate button; true only when
    // the alternate button answered it (Escape answers with the default).
    virtual bool alternatePanel(QWidget* parent, const QString& title, const QString& text,
                                const QString& defaultButton, const QString& alternateButton) = 0;

    // The save panel, modal to parent's window: prompt "Save", folder
    // creation allowed, proposedName filled in. `chosen` runs with the path
    // the user confirms and not at all on Cancel. Answers the panel while it
    // is open (null when it was answered at once).
    virtual QWidget* savePanel(QWidget* parent, const QString& proposedName,
                               std::function<void(const QString& path)> chosen) = 0;

    // An open panel for one program to play the result with; as savePanel.
    virtual QWidget* chooseProgram(QWidget* parent, std::function<void(const QString& path)> chosen) = 0;

    // Shows the file or folder at path selected in the desktop's file manager.
    virtual void revealInFileManager(const QString& path) = 0;

    // Opens an address with the desktop's default handler.
    virtual void openUrl(const QUrl& url) = 0;

    // Shows a window modally and returns once endModal() has been called for
    // it (by one of its buttons' actions).
    virtual void runModal(QDialog* window) = 0;

    // Shows a window as a sheet on its parent window and returns at once.
    virtual void beginSheet(QDialog* window) = 0;

    // Hides a window shown by runModal() or beginSheet() and ends its modal
    // loop.
    virtual void endModal(QDialog* window) = 0;
};

// The file-name filter of the open panels: the four movie extensions,
// matched in any mix of upper and lower case.
QString movieNameFilter();

// Shows an open panel for one movie with that filter.
void showMoviePanel(QFileDialog* dialog);

std::unique_ptr<UiPrompts> makeQtUiPrompts();

}  // namespace arbel

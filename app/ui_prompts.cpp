#include "ui_prompts.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDesktopServices>
#include <QDialog>
#include <QFileDialog>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QStringList>

namespace arbel {

QString movieNameFilter() { return QStringLiteral("Movies (*.mov *.mp4 *.m4v *.avi)"); }

void showMoviePanel(QFileDialog* dialog) {
    dialog->setFileMode(QFileDialog::ExistingFile);
    // Qt's own panel, whose filter ignores case ("CLIP.MOV" is a movie too)
    // while it shows the patterns as written; a desktop's panel may not.
    dialog->setOption(QFileDialog::DontUseNativeDialog);
    dialog->setFilter(dialog->filter() & ~QDir::CaseSensitive);
    dialog->setNameFilter(movieNameFilter());
    dialog->open();
}

namespace {

// The panels' bold title over their text.
void fillMessageBox(QMessageBox& box, const QString& title, const QString& text) {
    box.setWindowTitle(title);
    box.setText(QStringLiteral("<b>%1</b>").arg(title.toHtmlEscaped()));
    box.setInformativeText(text);
    box.setIcon(QMessageBox::Information);
}

// A file panel shown as a sheet: it deletes itself when answered and passes
// a chosen path on.
QFileDialog* openFilePanel(QWidget* parent, QFileDialog::AcceptMode mode, std::function<void(const QString&)> chosen) {
    auto* dialog = new QFileDialog(parent);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowModality(Qt::WindowModal);
    dialog->setAcceptMode(mode);
    QObject::connect(dialog, &QFileDialog::fileSelected, dialog, [chosen = std::move(chosen)](const QString& path) {
        if (!path.isEmpty()) chosen(path);
    });
    return dialog;
}

class QtUiPrompts final : public UiPrompts {
public:
    void messagePanel(QWidget* parent, const QString& title, const QString& text,
                      const QString& button) override {
        QMessageBox box(parent);
        fillMessageBox(box, title, text);
        QPushButton* ok = box.addButton(button, QMessageBox::AcceptRole);
        box.setDefaultButton(ok);
        box.setEscapeButton(ok);
        box.exec();
    }

    bool alternatePanel(QWidget* parent, const QString& title, const QString& text, const QString& defaultButton,
                        const QString& alternateButton) override {
        QMessageBox box(parent);
        fillMessageBox(box, title, text);
        QPushButton* alternate = box.addButton(alternateButton, QMessageBox::RejectRole);
        QPushButton* preferred = box.addButton(defaultButton, QMessageBox::AcceptRole);
        box.setDefaultButton(preferred);
        box.setEscapeButton(preferred);
        box.exec();
        return box.clickedButton() == alternate;
    }

    void openMoviePanel(QWidget* parent, std::function<void(const QString&)> chosen) override {
        showMoviePanel(openFilePanel(parent, QFileDialog::AcceptOpen, std::move(chosen)));
    }

    QWidget* savePanel(QWidget* parent, const QString& proposedName,
                       std::function<void(const QString&)> chosen) override {
        QFileDialog* dialog = openFilePanel(parent, QFileDialog::AcceptSave, std::move(chosen));
        dialog->setFileMode(QFileDialog::AnyFile);
        dialog->setLabelText(QFileDialog::Accept, QStringLiteral("Save"));
        // The name becomes a folder; whether a file in it may be replaced is
        // asked once the folder is known.
        dialog->setOption(QFileDialog::DontConfirmOverwrite);
        dialog->selectFile(proposedName);
        dialog->open();
        return dialog;
    }

    QWidget* chooseProgram(QWidget* parent, std::function<void(const QString&)> chosen) override {
        QFileDialog* dialog = openFilePanel(parent, QFileDialog::AcceptOpen, std::move(chosen));
        dialog->setFileMode(QFileDialog::ExistingFile);
        dialog->setWindowTitle(QStringLiteral("Choose a player"));
        dialog->setDirectory(QStringLiteral("/usr/bin"));
        dialog->open();
        return dialog;
    }

    void revealInFileManager(const QString& path) override {
        // The file manager selects the item in its folder; without one on the
        // session bus the folder itself is opened.
        QDBusMessage call = QDBusMessage::createMethodCall(
            QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("/org/freedesktop/FileManager1"),
            QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
        call << QStringList{QUrl::fromLocalFile(path).toString()} << QString();
        QDBusConnection bus = QDBusConnection::sessionBus();
        if (!bus.isConnected()) {
            QDesktopServices::openUrl(QUrl::fromLocalFile(path));
            return;
        }
        auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, 5000));
        QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher, [path](QDBusPendingCallWatcher* self) {
            if (self->isError()) QDesktopServices::openUrl(QUrl::fromLocalFile(path));
            self->deleteLater();
        });
    }

    void openUrl(const QUrl& url) override { QDesktopServices::openUrl(url); }

    void runModal(QDialog* window) override {
        window->setWindowModality(Qt::ApplicationModal);
        window->exec();
    }

    void beginSheet(QDialog* window) override {
        window->setWindowModality(Qt::WindowModal);
        window->open();
    }

    void endModal(QDialog* window) override { window->done(QDialog::Accepted); }
};

}  // namespace

std::unique_ptr<UiPrompts> makeQtUiPrompts() { return std::make_unique<QtUiPrompts>(); }

}  // namespace arbel

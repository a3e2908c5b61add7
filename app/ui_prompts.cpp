#include "ui_prompts.h"

#include <QDialog>
#include <QFileDialog>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QStringList>

namespace arbel {

QString movieNameFilter() {
    // Name filters are matched with case sensitivity on Linux, so each letter
    // becomes a set of both cases ("*.[mM][oO][vV]").
    QStringList patterns;
    for (const char* extension : {"mov", "mp4", "m4v", "avi"}) {
        QString pattern = QStringLiteral("*.");
        for (QChar c : QString::fromLatin1(extension)) {
            if (c.isLetter()) pattern += QStringLiteral("[%1%2]").arg(c.toLower(), c.toUpper());
            else pattern += c;
        }
        patterns << pattern;
    }
    return QStringLiteral("Movies (%1)").arg(patterns.join(QLatin1Char(' ')));
}

namespace {

class QtUiPrompts final : public UiPrompts {
public:
    void messagePanel(QWidget* parent, const QString& title, const QString& text,
                      const QString& button) override {
        QMessageBox box(parent);
        box.setWindowTitle(title);
        box.setText(QStringLiteral("<b>%1</b>").arg(title.toHtmlEscaped()));
        box.setInformativeText(text);
        box.setIcon(QMessageBox::Information);
        QPushButton* ok = box.addButton(button, QMessageBox::AcceptRole);
        box.setDefaultButton(ok);
        box.setEscapeButton(ok);
        box.exec();
    }

    void openMoviePanel(QWidget* parent, std::function<void(const QString&)> chosen) override {
        auto* dialog = new QFileDialog(parent);
        dialog->setAttribute(Qt::WA_DeleteOnClose);
        dialog->setWindowModality(Qt::WindowModal);
        dialog->setAcceptMode(QFileDialog::AcceptOpen);
        dialog->setFileMode(QFileDialog::ExistingFile);
        dialog->setNameFilter(movieNameFilter());
        QObject::connect(dialog, &QFileDialog::fileSelected, dialog,
                         [chosen = std::move(chosen)](const QString& path) {
                             if (!path.isEmpty()) chosen(path);
                         });
        dialog->open();
    }

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

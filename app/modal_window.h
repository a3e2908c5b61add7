#pragma once

#include <QAbstractButton>
#include <QDialog>
#include <QPointer>

namespace arbel {

// A modal window of the repair path. Escape and the window's close box act
// like the button that answers "no" (Cancel, or the only OK), so the
// controller always hears an answer through its actions.
class ModalWindow : public QDialog {
public:
    using QDialog::QDialog;

    void setAnswerOnClose(QAbstractButton* button) { answerOnClose_ = button; }

    void reject() override {
        if (answerOnClose_) answerOnClose_->click();
        else QDialog::reject();
    }

private:
    QPointer<QAbstractButton> answerOnClose_;
};

}  // namespace arbel

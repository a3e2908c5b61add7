#pragma once

#include <QCloseEvent>
#include <QMainWindow>

#include <functional>

namespace arbel {

// The one main window. Whether it may close, and what closing means, is the
// controller's decision.
class MainWindow : public QMainWindow {
public:
    using QMainWindow::QMainWindow;

    std::function<bool()> shouldClose;
    std::function<void()> willClose;

protected:
    void closeEvent(QCloseEvent* event) override {
        if (shouldClose && !shouldClose()) {
            event->ignore();
            return;
        }
        event->accept();
        if (willClose) willClose();
    }
};

}  // namespace arbel

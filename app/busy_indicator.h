#pragma once

#include <QTimer>
#include <QWidget>

namespace arbel {

// The animated picture of the repair screen: a ring of dots that turns while
// the repair runs and stands still while it is paused.
class BusyIndicator : public QWidget {
public:
    explicit BusyIndicator(QWidget* parent = nullptr);

    void startAnimation();
    void stopAnimation();
    bool isAnimating() const { return timer_.isActive(); }

    QSize sizeHint() const override { return {36, 36}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QTimer timer_;
    int step_ = 0;
};

}  // namespace arbel

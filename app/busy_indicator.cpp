#include "busy_indicator.h"

#include <QPainter>

#include <algorithm>
#include <cmath>

namespace arbel {

namespace {
constexpr int kDots = 10;
}

BusyIndicator::BusyIndicator(QWidget* parent) : QWidget(parent) {
    timer_.setInterval(90);
    connect(&timer_, &QTimer::timeout, this, [this] {
        step_ = (step_ + 1) % kDots;
        update();
    });
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void BusyIndicator::startAnimation() { timer_.start(); }

void BusyIndicator::stopAnimation() {
    timer_.stop();
    update();
}

void BusyIndicator::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const double side = std::min(width(), height());
    const double radius = side / 2.0 - 4.0;
    const double dot = side / 10.0;
    painter.translate(width() / 2.0, height() / 2.0);
    painter.setPen(Qt::NoPen);
    for (int i = 0; i < kDots; ++i) {
        // The dot at the current step is brightest; the others fade behind it.
        const int age = (step_ - i + kDots) % kDots;
        QColor color(47, 111, 208);
        color.setAlphaF(isAnimating() ? 1.0f - 0.08f * static_cast<float>(age) : 0.35f);
        painter.setBrush(color);
        const double angle = 2.0 * M_PI * i / kDots;
        painter.drawEllipse(QPointF(radius * std::cos(angle), radius * std::sin(angle)), dot, dot);
    }
}

}  // namespace arbel

#include "splash_screen.h"

#include "app/pictures.h"

#include <QGuiApplication>
#include <QLabel>
#include <QMovie>
#include <QPainter>
#include <QProgressBar>
#include <QScreen>
#include <QVBoxLayout>

namespace arbel {

namespace {

// The animation is drawn at twice this size, so that it stays sharp on a
// high-density screen.
constexpr QSize kAnimationSize(480, 140);
constexpr int kTicks = 10;

}  // namespace

AnimationView::AnimationView(const QString& fileName, QWidget* parent)
    : QWidget(parent), movie_(new QMovie(fileName, QByteArray(), this)) {
    movie_->setCacheMode(QMovie::CacheAll);
    connect(movie_, &QMovie::frameChanged, this, [this] { update(); });
}

void AnimationView::paintEvent(QPaintEvent*) {
    const QPixmap frame = movie_->currentPixmap();
    if (frame.isNull()) return;
    const QSize fitted = frame.size().scaled(size(), Qt::KeepAspectRatio);
    const QRect target(QPoint((width() - fitted.width()) / 2, (height() - fitted.height()) / 2), fitted);
    QPainter painter(this);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawPixmap(target, frame);
}

SplashWindow::SplashWindow(QWidget* parent)
    : QWidget(parent, Qt::SplashScreen | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                          Qt::NoDropShadowWindowHint) {
    setObjectName(QStringLiteral("SplashWindow"));
    // The shadow is the desktop's to draw; asking for none above only keeps
    // the frameless hint from adding one of Qt's own.
    setWindowFlag(Qt::NoDropShadowWindowHint, false);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setWindowOpacity(1.0);
    setAutoFillBackground(true);
    QPalette black = palette();
    black.setColor(QPalette::Window, Qt::black);
    setPalette(black);
    setWindowTitle(QStringLiteral("Arbel Video Repair"));
}

SplashScreenWindowController::SplashScreenWindowController() : window_(std::make_unique<SplashWindow>()) {
    auto* layout = new QVBoxLayout(window_.get());
    layout->setContentsMargins(24, 24, 24, 22);
    layout->setSpacing(16);

    imageView = new AnimationView(picturePath(splashAnimationName()), window_.get());
    imageView->setObjectName(QStringLiteral("imageView"));
    imageView->setMinimumSize(kAnimationSize);
    layout->addWidget(imageView, 1);

    auto* name = new QLabel(QStringLiteral("Arbel Video Repair"), window_.get());
    name->setObjectName(QStringLiteral("splashName"));
    name->setAlignment(Qt::AlignCenter);
    name->setStyleSheet(QStringLiteral("color: white; font-size: 20px; font-weight: 600;"));
    layout->addWidget(name);

    progressIndicator = new QProgressBar(window_.get());
    progressIndicator->setObjectName(QStringLiteral("progressIndicator"));
    progressIndicator->setTextVisible(false);
    progressIndicator->setFixedHeight(6);
    progressIndicator->setStyleSheet(QStringLiteral(
        "QProgressBar { border: none; background: #26303f; border-radius: 3px; }"
        "QProgressBar::chunk { background: #2f8be6; border-radius: 3px; }"));
    layout->addWidget(progressIndicator);

    window_->setFixedSize(kAnimationSize.width() + 48, kAnimationSize.height() + 110);
    windowDidLoad();
}

SplashScreenWindowController::~SplashScreenWindowController() = default;

void SplashScreenWindowController::windowDidLoad() {
    imageView->movie()->start();

    progressIndicator->setRange(0, kTicks);
    progressIndicator->setValue(0);
}

void SplashScreenWindowController::showWindow() {
    if (QScreen* screen = window_->screen() ? window_->screen() : QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        window_->move(area.x() + area.width() / 2 - window_->width() / 2,
                      area.y() + area.height() / 2 - window_->height() / 2);
    }
    window_->show();
    window_->raise();
    window_->update();
}

void SplashScreenWindowController::close() {
    imageView->movie()->stop();
    window_->close();
}

}  // namespace arbel

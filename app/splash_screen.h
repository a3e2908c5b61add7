#pragma once

#include <QWidget>

#include <memory>

class QLabel;
class QMovie;
class QProgressBar;

namespace arbel {

// The splash window: frameless whatever its caller asks, black, opaque and
// above other windows, with a shadow where the desktop draws one.
class SplashWindow : public QWidget {
public:
    explicit SplashWindow(QWidget* parent = nullptr);
};

// Plays an animation scaled to the view with its proportions kept, at the
// screen's full resolution.
class AnimationView : public QWidget {
public:
    AnimationView(const QString& fileName, QWidget* parent);
    QMovie* movie() const { return movie_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QMovie* movie_;
};

// Owns the splash window: the animation, scaled to the window with its
// proportions kept, over a bar that counts the ticks from 0 to 10.
class SplashScreenWindowController {
public:
    SplashScreenWindowController();
    ~SplashScreenWindowController();

    SplashScreenWindowController(const SplashScreenWindowController&) = delete;
    SplashScreenWindowController& operator=(const SplashScreenWindowController&) = delete;

    static const char* windowNibName() { return "SplashScreenWindowController"; }

    // Shows the window centred on its screen, the animation running.
    void showWindow();
    void close();
    SplashWindow* window() const { return window_.get(); }

    QProgressBar* progressIndicator = nullptr;
    AnimationView* imageView = nullptr;

private:
    void windowDidLoad();

    std::unique_ptr<SplashWindow> window_;
};

}  // namespace arbel

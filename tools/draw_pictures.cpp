// Draws the program's pictures: the button faces and the home, help and share
// keys (each at 1x and 2x), the frames of the splash animation and the
// application icon at the sizes a desktop asks for. scripts/draw-pictures.sh
// runs it and turns the splash frames into the animation.
//
// Every picture is drawn in logical pixels; the 2x copy is the same drawing
// with the painter scaled, so the two always match.
#include <QColor>
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QtMath>

#include <cstdio>
#include <functional>

namespace {

const QColor kNavy(0x1b, 0x2a, 0x44);
const QColor kBlue(0x2f, 0x6f, 0xd0);
const QColor kSlate(0x7a, 0x84, 0x9a);
const QColor kAmber(0xf2, 0xb1, 0x34);

using Drawing = std::function<void(QPainter&)>;

QImage render(QSize logical, qreal scale, const Drawing& draw) {
    QImage image(logical * scale, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(scale, scale);
    draw(p);
    return image;
}

bool save(const QImage& image, const QString& path) {
    if (image.save(path, "PNG")) return true;
    std::fprintf(stderr, "could not write %s\n", qPrintable(path));
    return false;
}

// NAME.png and NAME@2x.png.
bool savePicture(const QString& folder, const QString& name, QSize logical, const Drawing& draw) {
    return save(render(logical, 1, draw), folder + "/" + name + ".png") &&
           save(render(logical, 2, draw), folder + "/" + name + "@2x.png");
}

// --- button faces ---------------------------------------------------------

// A face stretched by its nine slices: the corners (radius 7) stay as drawn.
void drawFace(QPainter& p, QSizeF size, QColor top, QColor bottom, QColor edge) {
    const QRectF face(0.5, 0.5, size.width() - 1, size.height() - 1);
    QLinearGradient fill(0, 0, 0, size.height());
    fill.setColorAt(0, top);
    fill.setColorAt(1, bottom);
    p.setPen(QPen(edge, 1));
    p.setBrush(fill);
    p.drawRoundedRect(face, 7, 7);
    // A thin light line under the top edge lifts the face off the card.
    p.setPen(QPen(QColor(255, 255, 255, 60), 1));
    p.drawLine(QPointF(7, 1.5), QPointF(size.width() - 7, 1.5));
}

void drawNormalFace(QPainter& p, QSizeF size) {
    drawFace(p, size, QColor(0x69, 0x75, 0x8c), QColor(0x56, 0x61, 0x77), QColor(0x4a, 0x54, 0x68));
}

void drawHoverFace(QPainter& p, QSizeF size) {
    drawFace(p, size, QColor(0x45, 0x86, 0xe6), QColor(0x2a, 0x64, 0xc4), QColor(0x22, 0x56, 0xab));
}

// --- glyphs on a 32 x 32 key -------------------------------------------------

void drawHouse(QPainter& p, QColor color, qreal width) {
    QPainterPath roof;
    roof.moveTo(8.5, 15.5);
    roof.lineTo(16, 9);
    roof.lineTo(23.5, 15.5);
    QPainterPath body;
    body.moveTo(10.5, 14);
    body.lineTo(10.5, 23);
    body.lineTo(14, 23);
    body.lineTo(14, 18.5);
    body.lineTo(18, 18.5);
    body.lineTo(18, 23);
    body.lineTo(21.5, 23);
    body.lineTo(21.5, 14);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(color, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPath(roof);
    p.drawPath(body);
}

void drawQuestionMark(QPainter& p, QColor color, qreal width) {
    QPainterPath hook;
    hook.moveTo(12.2, 12.8);
    hook.cubicTo(12.2, 10.2, 14, 8.8, 16.1, 8.8);
    hook.cubicTo(18.4, 8.8, 20, 10.3, 20, 12.4);
    hook.cubicTo(20, 14.6, 18.3, 15.3, 17, 16.3);
    hook.cubicTo(16.2, 16.9, 16, 17.6, 16, 18.9);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(color, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPath(hook);
    p.setPen(Qt::NoPen);
    p.setBrush(color);
    p.drawEllipse(QPointF(16, 23), width * 0.75, width * 0.75);
}

void drawShare(QPainter& p, QColor color, qreal width) {
    const QPointF a(20.5, 10.5), b(11, 16), c(20.5, 21.5);
    p.setPen(QPen(color, width, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(a, b);
    p.drawLine(b, c);
    p.setPen(Qt::NoPen);
    p.setBrush(color);
    for (QPointF dot : {a, b, c}) p.drawEllipse(dot, 3.1, 3.1);
}

using Glyph = void (*)(QPainter&, QColor, qreal);

// On the white card: an outlined key at rest, a filled blue one under the pointer.
void drawCardKey(QPainter& p, Glyph glyph, bool hover) {
    const QRectF ring(1.25, 1.25, 29.5, 29.5);
    if (hover) {
        p.setPen(Qt::NoPen);
        p.setBrush(kBlue);
        p.drawEllipse(ring.adjusted(-0.5, -0.5, 0.5, 0.5));
        glyph(p, Qt::white, 2.0);
    } else {
        p.setPen(QPen(QColor(0xc3, 0xcb, 0xd8), 1.5));
        p.setBrush(Qt::white);
        p.drawEllipse(ring);
        glyph(p, kSlate, 2.0);
    }
}

// On the dark header band: a light glyph, brighter on a soft disc under the pointer.
void drawBandKey(QPainter& p, Glyph glyph, bool hover) {
    if (hover) {
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(255, 255, 255, 40));
        p.drawEllipse(QRectF(0.5, 0.5, 31, 31));
        glyph(p, Qt::white, 2.0);
    } else {
        glyph(p, QColor(0xb4, 0xc0, 0xd6), 2.0);
    }
}

// --- splash animation ----------------------------------------------------------

constexpr int kSplashWidth = 480;
constexpr int kSplashHeight = 140;
constexpr int kSplashFrames = 24;
constexpr qreal kCellWidth = 100;
constexpr qreal kCellHeight = 74;
constexpr qreal kCellPitch = 120;
constexpr qreal kStripTop = 18;
constexpr qreal kStripHeight = 104;
constexpr qreal kBeamX = kSplashWidth / 2.0;

// One picture of the strip: a sunny landscape.
void drawScene(QPainter& p, const QRectF& r) {
    QLinearGradient sky(r.topLeft(), r.bottomLeft());
    sky.setColorAt(0, QColor(0x4f, 0x9c, 0xf0));
    sky.setColorAt(1, QColor(0xb9, 0xdc, 0xff));
    p.fillRect(r, sky);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0xff, 0xd2, 0x4d));
    p.drawEllipse(QPointF(r.left() + r.width() * 0.72, r.top() + r.height() * 0.3), 9, 9);
    QPainterPath far;
    far.moveTo(r.left(), r.bottom());
    far.lineTo(r.left(), r.top() + r.height() * 0.62);
    far.lineTo(r.left() + r.width() * 0.3, r.top() + r.height() * 0.38);
    far.lineTo(r.left() + r.width() * 0.55, r.top() + r.height() * 0.6);
    far.lineTo(r.left() + r.width() * 0.8, r.top() + r.height() * 0.45);
    far.lineTo(r.right(), r.top() + r.height() * 0.58);
    far.lineTo(r.right(), r.bottom());
    p.setBrush(QColor(0x3c, 0x6e, 0x9e));
    p.drawPath(far);
    QPainterPath near;
    near.moveTo(r.left(), r.bottom());
    near.lineTo(r.left(), r.top() + r.height() * 0.8);
    near.cubicTo(r.left() + r.width() * 0.35, r.top() + r.height() * 0.66, r.left() + r.width() * 0.6,
                 r.top() + r.height() * 0.9, r.right(), r.top() + r.height() * 0.74);
    near.lineTo(r.right(), r.bottom());
    p.setBrush(QColor(0x2f, 0x9e, 0x5b));
    p.drawPath(near);
}

// The same picture as a damaged recording shows it: bands torn sideways,
// blocks of the wrong colour, a stretch lost to black.
void drawDamagedScene(QPainter& p, const QRectF& r) {
    const qreal band = r.height() / 6;
    const qreal shifts[6] = {0, 14, -9, 22, -16, 6};
    for (int i = 0; i < 6; ++i) {
        const QRectF slice(r.left(), r.top() + i * band, r.width(), band);
        p.save();
        p.setClipRect(slice, Qt::IntersectClip);
        p.translate(shifts[i], 0);
        drawScene(p, r);
        p.translate(shifts[i] > 0 ? -r.width() : r.width(), 0);
        drawScene(p, r);
        p.restore();
    }
    const struct {
        qreal x, y, w, h;
        QColor color;
    } blocks[] = {{0.08, 0.18, 0.16, 0.16, QColor(0x3d, 0xd6, 0x7a)},
                  {0.52, 0.5, 0.24, 0.14, QColor(0xd6, 0x3d, 0xc4)},
                  {0.3, 0.74, 0.12, 0.12, QColor(0x3d, 0xd6, 0x7a)},
                  {0.64, 0.06, 0.1, 0.1, QColor(0x9a, 0x3d, 0xd6)}};
    p.setPen(Qt::NoPen);
    for (const auto& b : blocks) {
        p.setBrush(b.color);
        p.drawRect(QRectF(r.left() + b.x * r.width(), r.top() + b.y * r.height(), b.w * r.width(), b.h * r.height()));
    }
    p.fillRect(QRectF(r.left(), r.top() + r.height() * 0.86, r.width(), r.height() * 0.14), Qt::black);
}

// A film strip moved right by `offset`; sprocket holes top and bottom.
void drawStrip(QPainter& p, qreal offset, bool damaged) {
    p.fillRect(QRectF(0, kStripTop, kSplashWidth, kStripHeight), QColor(0x23, 0x27, 0x30));
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x0c, 0x0e, 0x12));
    for (qreal x = std::fmod(offset, 20.0) - 20; x < kSplashWidth + 20; x += 20) {
        p.drawRoundedRect(QRectF(x + 6, kStripTop + 5, 9, 6), 1.5, 1.5);
        p.drawRoundedRect(QRectF(x + 6, kStripTop + kStripHeight - 11, 9, 6), 1.5, 1.5);
    }
    const qreal cellTop = kStripTop + (kStripHeight - kCellHeight) / 2;
    for (qreal x = std::fmod(offset, kCellPitch) - kCellPitch; x < kSplashWidth + kCellPitch; x += kCellPitch) {
        const QRectF cell(x + (kCellPitch - kCellWidth) / 2, cellTop, kCellWidth, kCellHeight);
        p.save();
        p.setClipRect(cell, Qt::IntersectClip);
        if (damaged) drawDamagedScene(p, cell);
        else drawScene(p, cell);
        p.restore();
    }
}

// The repair beam: a bright line in a soft glow that breathes with the loop.
void drawBeam(QPainter& p, qreal phase) {
    const qreal glow = 26 + 6 * std::sin(phase);
    const qreal middle = kStripTop + kStripHeight / 2;
    const qreal reach = kStripHeight / 2 + 16;
    // An elliptical halo: the radial gradient stretched to the strip's height.
    p.save();
    p.translate(kBeamX, middle);
    p.scale(1, reach / glow);
    QRadialGradient halo(QPointF(0, 0), glow);
    halo.setColorAt(0, QColor(0x3d, 0xb8, 0xff, 140));
    halo.setColorAt(0.45, QColor(0x3d, 0xb8, 0xff, 70));
    halo.setColorAt(1, QColor(0x3d, 0xb8, 0xff, 0));
    p.setPen(Qt::NoPen);
    p.setBrush(halo);
    p.drawEllipse(QPointF(0, 0), glow, glow);
    p.restore();
    QLinearGradient line(0, middle - reach, 0, middle + reach);
    line.setColorAt(0, QColor(0xe8, 0xf7, 0xff, 0));
    line.setColorAt(0.2, QColor(0xe8, 0xf7, 0xff));
    line.setColorAt(0.8, QColor(0xe8, 0xf7, 0xff));
    line.setColorAt(1, QColor(0xe8, 0xf7, 0xff, 0));
    p.fillRect(QRectF(kBeamX - 1.5, middle - reach, 3, reach * 2), line);
    // Sparks rise from the beam and fade; each repeats within the loop.
    p.setPen(Qt::NoPen);
    for (int i = 0; i < 6; ++i) {
        const qreal t = std::fmod(phase / (2 * M_PI) + i / 6.0, 1.0);
        const qreal x = kBeamX + (i % 2 ? 1 : -1) * (4 + 10 * t + 3 * (i % 3));
        const qreal y = kStripTop + kStripHeight * (0.9 - 0.8 * ((i * 37) % 100) / 100.0) - 20 * t;
        p.setBrush(QColor(0xd8, 0xf2, 0xff, static_cast<int>(230 * (1 - t))));
        p.drawEllipse(QPointF(x, y), 1.8, 1.8);
    }
}

void drawSplashFrame(QPainter& p, int frame) {
    p.fillRect(QRectF(0, 0, kSplashWidth, kSplashHeight), Qt::black);
    const qreal offset = kCellPitch * frame / kSplashFrames;
    // Damaged footage comes in on the left, repaired footage leaves on the right.
    p.save();
    p.setClipRect(QRectF(0, 0, kBeamX, kSplashHeight));
    drawStrip(p, offset, true);
    p.restore();
    p.save();
    p.setClipRect(QRectF(kBeamX, 0, kSplashWidth - kBeamX, kSplashHeight));
    drawStrip(p, offset, false);
    p.restore();
    // The strip fades into the black at both ends.
    for (bool left : {true, false}) {
        QLinearGradient fade(left ? 0 : kSplashWidth, 0, left ? 70 : kSplashWidth - 70, 0);
        fade.setColorAt(0, Qt::black);
        fade.setColorAt(1, QColor(0, 0, 0, 0));
        p.fillRect(QRectF(left ? 0 : kSplashWidth - 70, 0, 70, kSplashHeight), fade);
    }
    drawBeam(p, 2 * M_PI * frame / kSplashFrames);
}

// --- application icon (the same drawing as the scalable icon) --------------------

void drawIcon(QPainter& p) {
    p.setPen(Qt::NoPen);
    p.setBrush(kNavy);
    p.drawRoundedRect(QRectF(8, 20, 112, 88), 14, 14);
    p.setBrush(kBlue);
    p.drawRoundedRect(QRectF(20, 32, 88, 64), 6, 6);
    QPainterPath play;
    play.moveTo(54, 46);
    play.lineTo(80, 64);
    play.lineTo(54, 82);
    play.closeSubpath();
    p.setBrush(Qt::white);
    p.drawPath(play);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(kAmber, 10, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(86, 86), QPointF(100, 100));
    p.setPen(QPen(kAmber, 6));
    p.drawEllipse(QPointF(82, 82), 9, 9);
}

}  // namespace

int main(int argc, char* argv[]) {
    QGuiApplication app(argc, argv);
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s PICTURES_DIR SPLASH_FRAMES_DIR ICONS_DIR\n", argv[0]);
        return 2;
    }
    const QString pictures = QString::fromLocal8Bit(argv[1]);
    const QString frames = QString::fromLocal8Bit(argv[2]);
    const QString icons = QString::fromLocal8Bit(argv[3]);
    for (const QString& folder : {pictures, frames, icons}) QDir().mkpath(folder);

    const QSize smallButton(120, 38), largeButton(210, 38), key(32, 32);
    bool ok = true;
    ok &= savePicture(pictures, "Button Small Normal", smallButton, [&](QPainter& p) { drawNormalFace(p, smallButton); });
    ok &= savePicture(pictures, "Button Small Hover", smallButton, [&](QPainter& p) { drawHoverFace(p, smallButton); });
    ok &= savePicture(pictures, "Button Large Normal", largeButton, [&](QPainter& p) { drawNormalFace(p, largeButton); });
    ok &= savePicture(pictures, "Button Large Hover", largeButton, [&](QPainter& p) { drawHoverFace(p, largeButton); });
    ok &= savePicture(pictures, "home-1", key, [](QPainter& p) { drawCardKey(p, drawHouse, false); });
    ok &= savePicture(pictures, "home-2", key, [](QPainter& p) { drawCardKey(p, drawHouse, true); });
    ok &= savePicture(pictures, "help-1", key, [](QPainter& p) { drawCardKey(p, drawQuestionMark, false); });
    ok &= savePicture(pictures, "help-2", key, [](QPainter& p) { drawCardKey(p, drawQuestionMark, true); });
    ok &= savePicture(pictures, "Home_key", key, [](QPainter& p) { drawBandKey(p, drawHouse, false); });
    ok &= savePicture(pictures, "Home_key_Hover", key, [](QPainter& p) { drawBandKey(p, drawHouse, true); });
    ok &= savePicture(pictures, "help", key, [](QPainter& p) { drawBandKey(p, drawQuestionMark, false); });
    ok &= savePicture(pictures, "Help_Hover", key, [](QPainter& p) { drawBandKey(p, drawQuestionMark, true); });
    ok &= savePicture(pictures, "Social Share", key, [](QPainter& p) { drawBandKey(p, drawShare, false); });
    ok &= savePicture(pictures, "Social Share_Hover", key, [](QPainter& p) { drawBandKey(p, drawShare, true); });

    // The animation is drawn at twice its shown size, so that it stays sharp on
    // a 2x screen; the window scales it down on a 1x screen.
    for (int frame = 0; frame < kSplashFrames; ++frame)
        ok &= save(render(QSize(kSplashWidth, kSplashHeight), 2, [frame](QPainter& p) { drawSplashFrame(p, frame); }),
                   QStringLiteral("%1/frame-%2.png").arg(frames).arg(frame, 2, 10, QLatin1Char('0')));

    for (int size : {48, 64, 128, 256, 512})
        ok &= save(render(QSize(128, 128), size / 128.0, drawIcon), QStringLiteral("%1/%2.png").arg(icons).arg(size));
    return ok ? 0 : 1;
}

// Draws the panel's pictures into the folder given (default: the current one): the 176 x 32
// background with its display window at 8, 9 and the two button glyphs, each also drawn at twice
// the size for screens of device pixel ratio 2 (name@2x.png), and the program icon in six
// sizes and as a scalable SVG drawn by the same strokes. Run by hand when the artwork changes;
// the pictures are kept in the source tree.
#include <QGuiApplication>
#include <QSvgGenerator>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QString>
#include <algorithm>

namespace {

const QColor kLcd(204, 163, 0);
const QColor kLcdText(23, 16, 0);

// A horizontal or vertical line of one pixel's width, both ends included.
void Line(QPainter& p, int x1, int y1, int x2, int y2, const QColor& colour) {
  p.fillRect(QRect(QPoint(std::min(x1, x2), std::min(y1, y2)), QPoint(std::max(x1, x2), std::max(y1, y2))), colour);
}

QImage Background(int scale) {
  QImage image(176 * scale, 32 * scale, QImage::Format_RGB32);
  QPainter p(&image);
  p.scale(scale, scale);
  p.setRenderHint(QPainter::Antialiasing, false);
  // Brushed dark body with a soft top light.
  QLinearGradient body(0, 0, 0, 32);
  body.setColorAt(0.0, QColor(78, 84, 94));
  body.setColorAt(0.45, QColor(52, 57, 65));
  body.setColorAt(1.0, QColor(34, 37, 43));
  p.fillRect(QRect(0, 0, 176, 32), body);
  for (int x = 0; x < 176; x += 2) p.fillRect(x, 1, 1, 30, QColor(255, 255, 255, 6));
  // Frame: light top and left, dark bottom and right. Lines are filled one-pixel rectangles, so
  // that the 2x drawing covers exactly the pixels of the 1x one.
  Line(p, 0, 0, 175, 0, QColor(120, 127, 138));
  Line(p, 0, 0, 0, 31, QColor(120, 127, 138));
  Line(p, 0, 31, 175, 31, QColor(16, 18, 21));
  Line(p, 175, 0, 175, 31, QColor(16, 18, 21));
  // Recessed bezel around the display (window 8,9 .. 127,24).
  const QColor bezel(22, 24, 28);
  Line(p, 5, 6, 130, 6, bezel);
  Line(p, 5, 27, 130, 27, bezel);
  Line(p, 5, 6, 5, 27, bezel);
  Line(p, 130, 6, 130, 27, bezel);
  p.fillRect(6, 7, 124, 20, QColor(28, 30, 35));
  Line(p, 6, 27, 131, 27, QColor(98, 104, 115));
  Line(p, 131, 6, 131, 27, QColor(98, 104, 115));
  // The display glass: amber with a slightly darker rim.
  p.fillRect(7, 8, 122, 18, kLcd.darker(130));
  p.fillRect(8, 9, 120, 16, kLcd);
  // Sockets of the two buttons (136,8 and 154,8, 18 x 18).
  for (int bx : {136, 154}) {
    p.fillRect(bx - 1, 7, 20, 20, QColor(22, 24, 28));
    Line(p, bx - 1, 27, bx + 19, 27, QColor(98, 104, 115));
    Line(p, bx + 19, 7, bx + 19, 27, QColor(98, 104, 115));
  }
  // Two small screw heads and a name plate line.
  p.setRenderHint(QPainter::Antialiasing, true);
  for (int sx : {2, 173}) {
    QRadialGradient screw(sx + 0.5, 3.5, 2.0);
    screw.setColorAt(0, QColor(170, 175, 184));
    screw.setColorAt(1, QColor(60, 64, 72));
    p.setPen(Qt::NoPen);
    p.setBrush(screw);
    p.drawEllipse(QPointF(sx + 0.5, 3.5), 1.5, 1.5);
  }
  p.setRenderHint(QPainter::Antialiasing, false);
  Line(p, 136, 29, 171, 29, QColor(204, 163, 0, 150));
  return image;
}

QImage Glyph(bool play, int scale) {
  QImage image(12 * scale, 12 * scale, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter p(&image);
  p.scale(scale, scale);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(240, 206, 90));
  if (play) {
    // Play and pause in one: a triangle and two bars.
    QPainterPath tri;
    tri.moveTo(0.5, 2);
    tri.lineTo(6, 6);
    tri.lineTo(0.5, 10);
    tri.closeSubpath();
    p.drawPath(tri);
    p.drawRect(QRectF(7.5, 2.5, 1.6, 7));
    p.drawRect(QRectF(10.2, 2.5, 1.6, 7));
  } else {
    p.drawRect(QRectF(2.5, 2.5, 7, 7));
  }
  return image;
}

// The icon on a 64 x 64 canvas.
void PaintIcon(QPainter& p) {
  p.setRenderHint(QPainter::Antialiasing);
  // Body: a dark rounded player.
  QLinearGradient body(0, 4, 0, 60);
  body.setColorAt(0, QColor(84, 91, 102));
  body.setColorAt(1, QColor(34, 37, 43));
  p.setPen(QPen(QColor(16, 18, 21), 1.5));
  p.setBrush(body);
  p.drawRoundedRect(QRectF(3, 8, 58, 48), 9, 9);
  // Display.
  p.setPen(Qt::NoPen);
  p.setBrush(kLcd);
  p.drawRoundedRect(QRectF(9, 14, 46, 18), 3, 3);
  p.setBrush(kLcdText);
  // A little level meter on the display.
  const int bars[] = {5, 9, 12, 8, 11, 6, 10, 7};
  for (int i = 0; i < 8; ++i) p.drawRect(QRectF(12 + i * 5.2, 29 - bars[i], 3.4, bars[i]));
  // Play button.
  QRadialGradient button(32, 44, 10);
  button.setColorAt(0, QColor(250, 214, 96));
  button.setColorAt(1, QColor(196, 150, 0));
  p.setBrush(button);
  p.setPen(QPen(QColor(16, 18, 21), 1));
  p.drawEllipse(QPointF(32, 44), 8, 8);
  QPainterPath tri;
  tri.moveTo(29.5, 40);
  tri.lineTo(36.5, 44);
  tri.lineTo(29.5, 48);
  tri.closeSubpath();
  p.setPen(Qt::NoPen);
  p.setBrush(kLcdText);
  p.drawPath(tri);
}

QImage Icon(int size) {
  QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter p(&image);
  p.scale(size / 64.0, size / 64.0);
  PaintIcon(p);
  return image;
}

bool IconSvg(const QString& path) {
  QSvgGenerator svg;
  svg.setFileName(path);
  svg.setSize(QSize(64, 64));
  svg.setViewBox(QRect(0, 0, 64, 64));
  svg.setTitle("PLUMO");
  QPainter p;
  if (!p.begin(&svg)) return false;
  PaintIcon(p);
  return p.end();
}

}  // namespace

int main(int argc, char** argv) {
  QGuiApplication app(argc, argv);
  const QString dir = argc > 1 ? QString::fromLocal8Bit(argv[1]) + "/" : QString();
  bool ok = true;
  for (int scale : {1, 2}) {
    const QString suffix = scale == 1 ? QString() : QStringLiteral("@%1x").arg(scale);
    ok = Background(scale).save(dir + "background" + suffix + ".png") && ok;
    ok = Glyph(true, scale).save(dir + "glyph_play" + suffix + ".png") && ok;
    ok = Glyph(false, scale).save(dir + "glyph_stop" + suffix + ".png") && ok;
  }
  for (int size : {16, 32, 48, 64, 128, 256}) ok = Icon(size).save(dir + QString("plumo-%1.png").arg(size)) && ok;
  ok = IconSvg(dir + "plumo.svg") && ok;
  return ok ? 0 : 1;
}

#include "resources.h"

#include <QtGlobal>

// Q_INIT_RESOURCE must be used outside any namespace.
static void InitPlumoResource() { Q_INIT_RESOURCE(plumo); }

namespace plumo {

void InitResources() { InitPlumoResource(); }

namespace {

QString PictureName(const char* name, qreal ratio) {
  return QStringLiteral(":/plumo/%1%2.png").arg(QLatin1String(name), PictureRatio(ratio) > 1 ? "@2x" : "");
}

QPixmap Glyph(const char* name, qreal ratio) {
  QPixmap glyph(PictureName(name, ratio));
  glyph.setDevicePixelRatio(PictureRatio(ratio));
  return glyph;
}

}  // namespace

qreal PictureRatio(qreal device_pixel_ratio) { return device_pixel_ratio >= 1.5 ? 2.0 : 1.0; }

QImage BackgroundImage(qreal ratio) {
  QImage image = QImage(PictureName("background", ratio)).convertToFormat(QImage::Format_RGB32);
  image.setDevicePixelRatio(PictureRatio(ratio));
  return image;
}

QPixmap PlayGlyph(qreal ratio) { return Glyph("glyph_play", ratio); }

QPixmap StopGlyph(qreal ratio) { return Glyph("glyph_stop", ratio); }

QIcon ProgramIcon() {
  QIcon icon;
  for (int size : {16, 32, 64, 128}) icon.addFile(QStringLiteral(":/plumo/plumo-%1.png").arg(size), QSize(size, size));
  return icon;
}

}  // namespace plumo

#include "resources.h"

#include <QtGlobal>

// Q_INIT_RESOURCE must be used outside any namespace.
static void InitPlumoResource() { Q_INIT_RESOURCE(plumo); }

namespace plumo {

void InitResources() { InitPlumoResource(); }

QImage BackgroundImage() {
  return QImage(QStringLiteral(":/plumo/background.png")).convertToFormat(QImage::Format_RGB32);
}

QPixmap PlayGlyph() { return QPixmap(QStringLiteral(":/plumo/glyph_play.png")); }

QPixmap StopGlyph() { return QPixmap(QStringLiteral(":/plumo/glyph_stop.png")); }

QIcon ProgramIcon() {
  QIcon icon;
  for (int size : {16, 32, 64, 128}) icon.addFile(QStringLiteral(":/plumo/plumo-%1.png").arg(size), QSize(size, size));
  return icon;
}

}  // namespace plumo

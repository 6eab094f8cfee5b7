// The panel's pictures, compiled into the program from artwork/.
#pragma once

#include <QIcon>
#include <QImage>
#include <QPixmap>

namespace plumo {

// Registers the compiled-in pictures (needed once, before the first use).
void InitResources();
// The pictures come in two sizes: for a device pixel ratio of 1, and drawn at twice the size for
// a ratio of 2 (HiDPI screens), which they carry as their own device pixel ratio. ratio picks
// the size (1.5 and above: the 2x one).
// The 176 x 32 panel background; its display window is at 8, 9 (120 x 16).
QImage BackgroundImage(qreal ratio = 1);
// The glyphs of the play/pause and the stop button.
QPixmap PlayGlyph(qreal ratio = 1);
QPixmap StopGlyph(qreal ratio = 1);
// The ratio the panel draws at for a screen's device pixel ratio: 1 or 2.
qreal PictureRatio(qreal device_pixel_ratio);
// The program's icon (tray, about box, window).
QIcon ProgramIcon();

}  // namespace plumo

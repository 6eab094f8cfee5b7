// The panel's pictures, compiled into the program from artwork/.
#pragma once

#include <QIcon>
#include <QImage>
#include <QPixmap>

namespace plumo {

// Registers the compiled-in pictures (needed once, before the first use).
void InitResources();
// The 176 x 32 panel background; its display window is at 8, 9 (120 x 16).
QImage BackgroundImage();
// The glyphs of the play/pause and the stop button.
QPixmap PlayGlyph();
QPixmap StopGlyph();
// The program's icon (tray, about box, window).
QIcon ProgramIcon();

}  // namespace plumo

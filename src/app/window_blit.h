// TWindowBlit: puts a rectangle of an image's pixels straight into a widget's X11 window with one
// PutImage request, past Qt's paint event, painter and backing store. The panel's display changes
// a few hundred pixels ten times a second; Qt's repaint of them costs several times the transfer.
//
// Only where the pixels can go as they are: an X11 window of 24 or 32 bits depth with 32-bit
// pixels in the byte order of this machine, red, green and blue at the places of a 32-bit RGB
// image, and the window's device pixel ratio that of the image. Anywhere else Put refuses and the
// caller repaints through Qt. What is put this way is not in Qt's backing store: the caller must
// have the area repainted when the window is exposed (Qt fills exposed areas from its store).
#pragma once

#include <QImage>
#include <QPoint>
#include <QRect>
#include <cstdint>
#include <vector>

class QWidget;
struct xcb_connection_t;

namespace plumo {

class TWindowBlit {
 public:
  TWindowBlit() = default;
  ~TWindowBlit();
  TWindowBlit(const TWindowBlit&) = delete;
  TWindowBlit& operator=(const TWindowBlit&) = delete;

  // Puts rect (in image's pixels) of image at at (in the window's pixels) into the native window
  // of window (a top-level widget) and sends it to the X server. False when it cannot: nothing
  // was sent.
  bool Put(const QWidget& window, QPoint at, const QImage& image, QRect rect);

 private:
  // Whether the native window id can take 32-bit RGB pixels as they are; asked of the server
  // once per window.
  bool Usable(uint32_t id);
  void FreeGc();

  xcb_connection_t* FConnection = nullptr;
  uint32_t FWindow = 0;
  bool FUsable = false;
  uint8_t FDepth = 0;
  // The longest request the server takes, in units of 4 bytes.
  uint64_t FMaxRequest = 0;
  // The graphics context, for any window of FDepth on the screen.
  uint32_t FGc = 0;
  uint8_t FGcDepth = 0;
  // The rows of one request, reused from call to call.
  std::vector<QRgb> FRows;
};

}  // namespace plumo

// The panel's small amber display: the play time at the left and a 72-pixel window on the title
// strip, which stands still for ten ticks, scrolls one pixel a tick until it has left the window
// and starts over. A tick draws only what changed since the last one.
#pragma once

#include <QFont>
#include <QImage>
#include <QRect>
#include <QString>
#include <cstdint>
#include <string>

namespace plumo {

// The length of a title's state word ("[PLAY]"), 0 when it has none.
qsizetype StateWordLength(const QString& title);

class TPanelDisplay final {
 public:
  // Where the display lies on the panel's picture, and its parts, in panel pixels.
  static constexpr int kLeft = 8;
  static constexpr int kTop = 9;
  static constexpr int kWidth = 120;
  static constexpr int kHeight = 16;
  static constexpr int kTitleLeft = 48;
  static constexpr int kTitleWidth = 72;

  // pixel_ratio: 2 on a HiDPI screen (the bitmaps then have twice the pixels), else 1.
  explicit TPanelDisplay(qreal pixel_ratio);

  // Draws the title strip anew; the scrolling starts over.
  void SetTitle(const std::string& text);
  // Draws what changed (the time of position_ms, the title's slice) onto picture, the panel's
  // picture; returns the part of the panel that changed (empty for none).
  QRect Draw(int32_t position_ms, QImage& picture);
  // The display is not shown: it is drawn whole the next time.
  void MarkStale() { FStale = true; }
  // One tick of the scrolling.
  void Scroll();

  int32_t ScrollPos() const { return FScrollPos; }
  int32_t ScrollPause() const { return FScrollPause; }
  const QImage& TitleBitmap() const { return FTitleBitmap; }
  const QImage& LcdBitmap() const { return FLcdBitmap; }
  // The title strip's width in panel pixels.
  int TitleWidth() const;

 private:
  // A bitmap of width x height panel pixels at the pixel ratio.
  QImage Bitmap(int width, int height) const;

  qreal FPixelRatio;
  QFont FFont;
  QImage FTitleBitmap;
  QImage FLcdBitmap;
  int32_t FScrollPos = 0;
  int32_t FScrollPause = 0;
  // What the display shows, so that a tick draws only what changed; stale: draw it all.
  int32_t FShownSeconds = -1;
  int32_t FShownScrollPos = -1;
  bool FStale = true;
};

}  // namespace plumo

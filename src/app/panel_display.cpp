#include "panel_display.h"

#include <QFontMetrics>
#include <QPainter>
#include <algorithm>

#include "forms.h"
#include "playlist.h"

namespace plumo {

namespace {

// Dark text on the amber display.
const QColor kTextColour(23, 16, 0);
const QColor kBrushColour(204, 163, 0);

// Whether rows of pixels can be copied between the two images as they stand.
bool SameLayout(const QImage& a, const QImage& b) {
  return a.format() == b.format() && a.depth() == 32 && a.devicePixelRatio() == b.devicePixelRatio();
}

// Fills rect (in pixels, not in device-independent units) of image with colour, by rows where
// the image holds 32-bit opaque pixels.
void FillPixels(QImage& image, QRect rect, const QColor& colour) {
  rect &= image.rect();
  if (image.format() != QImage::Format_RGB32) {
    QPainter painter(&image);
    const qreal d = image.devicePixelRatio();
    painter.fillRect(QRectF(QPointF(rect.topLeft()) / d, QSizeF(rect.size()) / d), colour);
    return;
  }
  for (int y = rect.top(); y <= rect.bottom(); ++y)
    std::fill_n(reinterpret_cast<QRgb*>(image.scanLine(y)) + rect.x(), rect.width(), colour.rgb());
}

// Copies rect of from to to at at (both in pixels). A tick copies a few hundred pixels: plain
// row copies where the images share their layout, a painter otherwise.
void CopyPixels(QImage& to, QPoint at, const QImage& from, QRect rect) {
  rect &= from.rect();
  if (!SameLayout(to, from) || !to.rect().contains(QRect(at, rect.size()))) {
    QPainter painter(&to);
    const qreal d = to.devicePixelRatio();
    painter.drawImage(QRectF(QPointF(at) / d, QSizeF(rect.size()) / d), from, rect);
    return;
  }
  for (int y = 0; y < rect.height(); ++y) {
    const auto* source = reinterpret_cast<const QRgb*>(from.constScanLine(rect.y() + y)) + rect.x();
    std::copy_n(source, rect.width(), reinterpret_cast<QRgb*>(to.scanLine(at.y() + y)) + at.x());
  }
}

}  // namespace

qsizetype StateWordLength(const QString& title) {
  const qsizetype close = title.startsWith(u'[') ? title.indexOf(u']') : -1;
  return close < 0 ? 0 : close + 1;
}

TPanelDisplay::TPanelDisplay(qreal pixel_ratio) : FPixelRatio(pixel_ratio), FFont(GothicFont(10, true)) {
  FTitleBitmap = Bitmap(1, kHeight);
  FTitleBitmap.fill(kBrushColour);
  FLcdBitmap = Bitmap(kWidth, kHeight);
  FLcdBitmap.fill(kBrushColour);
}

QImage TPanelDisplay::Bitmap(int width, int height) const {
  QImage image(static_cast<int>(width * FPixelRatio), static_cast<int>(height * FPixelRatio), QImage::Format_RGB32);
  image.setDevicePixelRatio(FPixelRatio);
  return image;
}

int TPanelDisplay::TitleWidth() const { return static_cast<int>(FTitleBitmap.width() / FPixelRatio); }

void TPanelDisplay::SetTitle(const std::string& text) {
  // The state word and the title are separate runs, each in its own direction: a right-to-left
  // title reads right without mirroring the bracket or taking the state word into its order.
  const QString q = ToQ(text);
  const QString state = q.left(StateWordLength(q));
  const QString title = q.mid(state.size());
  const QFontMetrics metrics(FFont);
  const int state_width = metrics.horizontalAdvance(state);
  const int width = state_width + metrics.horizontalAdvance(title) + 1;
  FTitleBitmap = Bitmap(width, kHeight);
  FTitleBitmap.fill(kBrushColour);
  {
    QPainter painter(&FTitleBitmap);
    painter.setFont(FFont);
    painter.setPen(kTextColour);
    // Marks over capitals (Ü, É, Å) and the brackets rise above the font's ascent and would be
    // cut off at the strip's top: every title goes down by as much, into the rows the font leaves
    // free below its descent (the same for every title, so that it never jumps).
    const int above = -(metrics.ascent() + metrics.tightBoundingRect(QStringLiteral("[ÅÉÜ]")).top());
    const int down = std::clamp(above, 0, std::max(0, kHeight - metrics.height()));
    painter.setLayoutDirection(Qt::LeftToRight);
    painter.drawText(QRect(0, down, width, kHeight - down), Qt::AlignLeft | Qt::AlignTop, state);
    painter.setLayoutDirection(Qt::LayoutDirectionAuto);
    painter.drawText(QRect(state_width, down, width - state_width, kHeight - down), Qt::AlignLeft | Qt::AlignTop, title);
  }
  FStale = true;
  FScrollPos = 0;
  FScrollPause = 10;
}

QRect TPanelDisplay::Draw(int32_t position_ms, QImage& picture) {
  const int r = static_cast<int>(FPixelRatio);
  const auto pixels = [r](QRect rect) { return QRect(rect.topLeft() * r, rect.size() * r); };
  QRect changed;  // in the display's own units
  if (FStale || position_ms / 1000 != FShownSeconds) {
    // The whole field left of the title is drawn anew: a shorter time after a longer one
    // ("00:00" after "100:00" at a change of track) leaves none of its digits behind, and a
    // longer one never reaches into the title.
    const QString time = ToQ(TimeText(position_ms));
    const QRect field(0, 0, kTitleLeft, kHeight);
    QPainter painter(&FLcdBitmap);
    painter.setFont(FFont);
    painter.setPen(kTextColour);
    painter.fillRect(field, kBrushColour);
    painter.setClipRect(field);
    painter.drawText(field, Qt::AlignLeft | Qt::AlignTop, time);
    changed |= field;
    FShownSeconds = position_ms / 1000;
  }
  if (FStale || FScrollPos != FShownScrollPos) {
    // The slice past the strip's right end shows the empty display.
    const QRect slice(kTitleLeft, 0, kTitleWidth, kHeight);
    const int shown = std::clamp(TitleWidth() - FScrollPos, 0, kTitleWidth);
    if (shown < kTitleWidth)
      FillPixels(FLcdBitmap, pixels(QRect(kTitleLeft + shown, 0, kTitleWidth - shown, kHeight)), kBrushColour);
    CopyPixels(FLcdBitmap, slice.topLeft() * r, FTitleBitmap, pixels(QRect(FScrollPos, 0, shown, kHeight)));
    changed |= slice;
    FShownScrollPos = FScrollPos;
  }
  if (FStale) changed = QRect(0, 0, kWidth, kHeight);
  FStale = false;
  if (changed.isEmpty()) return {};
  CopyPixels(picture, (changed.topLeft() + QPoint(kLeft, kTop)) * r, FLcdBitmap, pixels(changed));
  return changed.translated(kLeft, kTop);
}

void TPanelDisplay::Scroll() {
  if (FScrollPause > 0) --FScrollPause;
  else ++FScrollPos;
  if (FScrollPos >= TitleWidth() - 1) {
    FScrollPos = 0;
    FScrollPause = 10;
  }
}

}  // namespace plumo

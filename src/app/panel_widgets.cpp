#include "panel_widgets.h"

#include <QLinearGradient>
#include <QMenu>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>

namespace plumo {

namespace {

void PopupAt(QMenu* menu, QMouseEvent* event) {
  if (menu != nullptr) menu->popup(event->globalPosition().toPoint());
}

}  // namespace

TImage::TImage(QWidget* parent) : QWidget(parent) {}

void TImage::SetPicture(const QImage& picture) {
  FPicture = picture;
  resize(FPicture.deviceIndependentSize().toSize());
  update();
}

void TImage::ShowPart(QRect rect) {
  rect &= this->rect();
  if (rect.isEmpty()) return;
  // The picture may hold more pixels per unit than one (a HiDPI screen); the blit takes only
  // whole pixels.
  const qreal d = FPicture.devicePixelRatio();
  const int r = static_cast<int>(d);
  const QPoint at = mapTo(window(), rect.topLeft());
  if (r == d && isVisible() &&
      FBlit.Put(*window(), at * r, FPicture, QRect(rect.topLeft() * r, rect.size() * r))) {
    FShownPast |= rect;
    return;
  }
  update(rect);
}

void TImage::WindowExposed() {
  if (!FShownPast.isEmpty()) update(FShownPast);
}

void TImage::paintEvent(QPaintEvent* event) {
  // Only the part asked for: a tick of the display changes a few pixels.
  // The picture may hold more pixels per unit than one (a HiDPI screen).
  QPainter painter(this);
  const QRect r = event->rect();
  const qreal d = FPicture.devicePixelRatio();
  painter.drawImage(r, FPicture, QRectF(QPointF(r.topLeft()) * d, QSizeF(r.size()) * d));
  if (!FShownPast.isEmpty()) FShownPast = (QRegion(FShownPast) - event->region()).boundingRect();
}

void TImage::mousePressEvent(QMouseEvent* event) {
  const QPoint p = event->position().toPoint();
  if (OnMouseDown) OnMouseDown(event->button(), p.x(), p.y());
}

void TImage::mouseMoveEvent(QMouseEvent* event) {
  const QPoint p = event->position().toPoint();
  if (OnMouseMove) OnMouseMove(p.x(), p.y());
}

void TImage::mouseReleaseEvent(QMouseEvent* event) {
  const QPoint p = event->position().toPoint();
  if (OnMouseUp) OnMouseUp(event->button(), p.x(), p.y());
  if (event->button() == Qt::RightButton) PopupAt(PopupMenu, event);
}

TSpeedButton::TSpeedButton(QWidget* parent) : QWidget(parent) {}

void TSpeedButton::SetGlyph(const QPixmap& glyph) {
  FGlyph = glyph;
  update();
}

void TSpeedButton::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  const QRectF face = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
  QLinearGradient fill(0, 0, 0, height());
  if (FDown) {
    fill.setColorAt(0, QColor(58, 62, 70));
    fill.setColorAt(1, QColor(84, 90, 100));
  } else {
    fill.setColorAt(0, QColor(122, 129, 140));
    fill.setColorAt(1, QColor(72, 77, 86));
  }
  painter.setPen(QColor(20, 22, 26));
  painter.setBrush(fill);
  painter.drawRoundedRect(face, 3, 3);
  if (!FDown) {
    painter.setPen(QColor(160, 167, 178));
    painter.drawLine(QPointF(3, 1.5), QPointF(width() - 3, 1.5));
  }
  const int offset = FDown ? 1 : 0;
  const QSize glyph = FGlyph.deviceIndependentSize().toSize();
  painter.drawPixmap((width() - glyph.width()) / 2 + offset, (height() - glyph.height()) / 2 + offset, FGlyph);
}

void TSpeedButton::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) {
    FDown = true;
    update();
  }
  if (OnMouseDown) OnMouseDown(event->button());
}

void TSpeedButton::mouseReleaseEvent(QMouseEvent* event) {
  const bool was_down = FDown && event->button() == Qt::LeftButton;
  if (event->button() == Qt::LeftButton) {
    FDown = false;
    update();
  }
  if (OnMouseUp) OnMouseUp(event->button());
  if (was_down && rect().contains(event->position().toPoint()) && OnClick) OnClick();
  if (event->button() == Qt::RightButton) PopupAt(PopupMenu, event);
}

}  // namespace plumo

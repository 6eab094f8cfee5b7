// The panel's picture and its two small buttons: plain widgets that paint a pixmap and hand
// their mouse events to the form. A right-button release opens the attached popup menu, after
// the button's own down and up events, as on the desktop the panel comes from.
#pragma once

#include <QImage>
#include <QPixmap>
#include <QRect>
#include <QWidget>
#include <functional>

#include "window_blit.h"

class QMenu;

namespace plumo {

class TImage final : public QWidget {
  Q_OBJECT
 public:
  using TMouseEvent = std::function<void(Qt::MouseButton button, int x, int y)>;
  using TMouseMoveEvent = std::function<void(int x, int y)>;

  explicit TImage(QWidget* parent);
  // The picture; AutoSize: the widget takes its size.
  QImage& Picture() { return FPicture; }
  void SetPicture(const QImage& picture);
  // Shows rect (in the widget's units) of the picture as it now is: its pixels go straight to
  // the window where the window system lets them, else the part is repainted.
  void ShowPart(QRect rect);
  // The window was exposed: what went straight to it is repainted, as the window system fills
  // exposed areas from a store that lacks it. Call before the window's own handling.
  void WindowExposed();

  QMenu* PopupMenu = nullptr;
  TMouseEvent OnMouseDown;
  TMouseMoveEvent OnMouseMove;
  TMouseEvent OnMouseUp;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  QImage FPicture;
  TWindowBlit FBlit;
  // The part whose pixels went straight to the window since it was last painted.
  QRect FShownPast;
};

class TSpeedButton final : public QWidget {
  Q_OBJECT
 public:
  using TMouseEvent = std::function<void(Qt::MouseButton button)>;

  explicit TSpeedButton(QWidget* parent);
  void SetGlyph(const QPixmap& glyph);
  bool Down() const { return FDown; }

  QMenu* PopupMenu = nullptr;
  TMouseEvent OnMouseDown;
  TMouseEvent OnMouseUp;
  // A left-button release over the button.
  std::function<void()> OnClick;
  // Pressed by a screen reader: what a click means to the user.
  std::function<void()> OnPress;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  QPixmap FGlyph;
  bool FDown = false;
};

}  // namespace plumo

// The few form-framework services the panel and its components share, on Qt Widgets: the fonts
// with their Japanese substitutes, the application's exception display and message boxes.
#pragma once

#include <QFont>
#include <QMessageBox>
#include <QObject>
#include <QString>
#include <deque>
#include <exception>
#include <memory>
#include <string>

class QWidget;

namespace plumo {

// "ＭＳ ゴシック" (fixed pitch) and "ＭＳ Ｐゴシック" (proportional): IPAGothic / IPAPGothic, then any
// Japanese-capable font.
QFont GothicFont(int point_size, bool bold);
QFont PGothicFont(int pixel_height);

inline QString ToQ(const std::string& s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }
inline std::string FromQ(const QString& s) { return s.toUtf8().toStdString(); }

// The message of an exception ("unknown error" for one that is not a std::exception).
std::string ExceptionMessage(const std::exception_ptr& e);

// The message the exception display shows: the exception's message, in the user's language
// where it is one of the panel's own (a settings file that cannot be written).
std::string DisplayedMessage(const std::exception_ptr& e);

// The application's standard exception display: a message box with the message.
void ShowExceptionBox(QWidget* parent, const std::exception_ptr& e);

// The program's error boxes, one at a time in the order the errors came. A box is a window of its
// own (not a transient of the panel, which a window manager may keep below other windows or take
// away with it) and runs no event loop: it blocks neither the panel's menus nor the tray's, and
// errors raised while it is up wait behind it and are shown as soon as it is closed.
class TErrorBoxes {
 public:
  // Queues the exception's message; shown once the current handler has returned.
  void Show(const std::exception_ptr& e);
  // The box on screen (nullptr when none) and the errors waiting behind it.
  QMessageBox* Current() const { return FBox.get(); }
  size_t Waiting() const { return FWaiting.size(); }

 private:
  void ShowNext();

  QObject FContext;
  std::deque<std::exception_ptr> FWaiting;
  std::unique_ptr<QMessageBox> FBox;
  bool FPending = false;
};

// A confirmation with Yes and No buttons; true for Yes.
bool ConfirmBox(QWidget* parent, const std::string& title, const std::string& text);

}  // namespace plumo

// The few form-framework services the panel and its components share, on Qt Widgets: the fonts
// with their Japanese substitutes, the application's exception display and message boxes.
#pragma once

#include <QFont>
#include <QString>
#include <exception>
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

// A confirmation with Yes and No buttons; true for Yes.
bool ConfirmBox(QWidget* parent, const std::string& title, const std::string& text);

}  // namespace plumo

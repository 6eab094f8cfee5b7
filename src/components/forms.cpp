#include "forms.h"

#include <QCoreApplication>
#include <QMessageBox>
#include <QStringList>
#include <QTimer>
#include <QWidget>

#include "ini_file.h"

namespace plumo {

namespace {

const QStringList kGothicFamilies{"IPAGothic", "IPAexGothic", "Noto Sans Mono CJK JP", "Noto Sans CJK JP",
                                  "VL Gothic", "TakaoGothic", "Droid Sans Fallback", "Monospace"};
const QStringList kPGothicFamilies{"IPAPGothic", "IPAexGothic", "Noto Sans CJK JP", "VL PGothic",
                                   "TakaoPGothic", "Droid Sans Fallback", "Sans Serif"};

}  // namespace

QFont GothicFont(int point_size, bool bold) {
  QFont font;
  font.setFamilies(kGothicFamilies);
  // Points at 96 dots per inch, as the panel's pixel layout assumes: 10 points are 13 pixels.
  font.setPixelSize((point_size * 96 + 36) / 72);
  font.setBold(bold);
  font.setStyleHint(QFont::TypeWriter);
  return font;
}

QFont PGothicFont(int pixel_height) {
  QFont font;
  font.setFamilies(kPGothicFamilies);
  font.setPixelSize(pixel_height);
  return font;
}

std::string ExceptionMessage(const std::exception_ptr& e) {
  try {
    if (e) std::rethrow_exception(e);
  } catch (const std::exception& x) {
    return x.what();
  } catch (...) {
  }
  return "unknown error";
}

std::string DisplayedMessage(const std::exception_ptr& e) {
  try {
    if (e) std::rethrow_exception(e);
  } catch (const platform::IniWriteError& x) {
    // Made below the panel, in the settings file's own words; shown in the user's language.
    return FromQ(QCoreApplication::translate("IniWriteError", "%1 に書き込めません").arg(ToQ(x.FileName())));
  } catch (...) {
  }
  return ExceptionMessage(e);
}

void ShowExceptionBox(QWidget* parent, const std::exception_ptr& e) {
  QMessageBox box(QMessageBox::Critical, QStringLiteral("PLUMO"), ToQ(DisplayedMessage(e)), QMessageBox::Ok, parent);
  box.exec();
}

void TErrorBoxes::Show(const std::exception_ptr& e) {
  FWaiting.push_back(e);
  if (FBox || FPending) return;
  FPending = true;
  QTimer::singleShot(0, &FContext, [this] { ShowNext(); });
}

void TErrorBoxes::ShowNext() {
  FPending = false;
  FBox.reset();
  if (FWaiting.empty()) return;
  const std::exception_ptr e = FWaiting.front();
  FWaiting.pop_front();
  FBox = std::make_unique<QMessageBox>(QMessageBox::Critical, QStringLiteral("PLUMO"), ToQ(DisplayedMessage(e)),
                                       QMessageBox::Ok);
  FBox->setWindowModality(Qt::NonModal);
  // The box is let go of after its own signal has returned; the next one follows.
  QObject::connect(FBox.get(), &QDialog::finished, &FContext, [this] {
    FPending = true;
    QTimer::singleShot(0, &FContext, [this] { ShowNext(); });
  });
  FBox->show();
  FBox->raise();
  FBox->activateWindow();
}

bool ConfirmBox(QWidget* parent, const std::string& title, const std::string& text) {
  QMessageBox box(QMessageBox::Question, ToQ(title), ToQ(text), QMessageBox::Yes | QMessageBox::No, parent);
  box.setDefaultButton(QMessageBox::No);
  return box.exec() == QMessageBox::Yes;
}

}  // namespace plumo

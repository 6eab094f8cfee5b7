// TAboutDialog: builds a small modal about box from its properties when executed: the icon, the
// application name, a version line, a memo line and a close button.
#pragma once

#include <QFont>
#include <QIcon>
#include <QObject>
#include <cstdint>
#include <memory>
#include <string>

class QDialog;
class QWidget;

namespace plumo {

enum TFPosition : uint8_t { fpDesigned, fpScreenCenter, fpMainFormCenter, fpOwnerFormCenter };

class TAboutDialog final : public QObject {
  Q_OBJECT
 public:
  // owner: the form the box belongs to (fpOwnerFormCenter); main_form: the application's main
  // form (fpMainFormCenter).
  explicit TAboutDialog(QWidget* owner, QWidget* main_form = nullptr);

  std::string AppName;
  std::string Caption;
  std::string CloseButton;
  int FormLeft = 0;
  int FormTop = 0;
  int FormWidth = 320;
  int FormHeight = 120;
  TFPosition FormPosition = fpDesigned;
  std::string Memo;
  std::string Version;
  QFont Font;
  QIcon Icon;

  // Builds the box as Execute shows it.
  std::unique_ptr<QDialog> Build() const;
  // Builds, shows modally and discards the box.
  void Execute();

 private:
  QWidget* FOwner;
  QWidget* FMainForm;
};

}  // namespace plumo

#include "about_dialog.h"

#include <QDialog>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QWidget>

#include "forms.h"

namespace plumo {

TAboutDialog::TAboutDialog(QWidget* owner, QWidget* main_form)
    : QObject(owner), FOwner(owner), FMainForm(main_form) {}

std::unique_ptr<QDialog> TAboutDialog::Build() const {
  auto form = std::make_unique<QDialog>(nullptr, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint |
                                                     Qt::WindowTitleHint | Qt::CustomizeWindowHint);
  form->setObjectName(QStringLiteral("AboutBox"));
  form->setFixedSize(FormWidth, FormHeight);
  form->setWindowTitle(ToQ(Caption));
  form->setFont(Font);
  const int width = FormWidth;
  const int height = FormHeight;

  int left = FormLeft;
  int top = FormTop;
  auto centre_on = [&](const QWidget* w) {
    if (w == nullptr) return;
    left = (w->width() - width) / 2 + w->x();
    top = (w->height() - height) / 2 + w->y();
  };
  switch (FormPosition) {
    case fpDesigned:
      break;
    case fpScreenCenter:
      // The primary screen need not begin at the desktop's origin (a second monitor left of
      // or above it).
      if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->geometry();
        left = area.x() + (area.width() - width) / 2;
        top = area.y() + (area.height() - height) / 2;
      }
      break;
    case fpMainFormCenter:
      centre_on(FMainForm);
      break;
    case fpOwnerFormCenter:
      centre_on(FOwner);
      break;
  }
  form->move(left, top);

  auto* button = new QPushButton(ToQ(CloseButton), form.get());
  button->setObjectName(QStringLiteral("CloseButton"));
  button->setGeometry((width - 64) / 2, height - 24 - 8, 64, 24);
  button->setDefault(true);
  QObject::connect(button, &QPushButton::clicked, form.get(), &QDialog::accept);

  auto* image = new QLabel(form.get());
  image->setObjectName(QStringLiteral("Image"));
  image->setGeometry(16, 8, 64, 64);
  image->setPixmap(Icon.pixmap(64, 64));
  const int text_left = 16 + 64;

  auto add_label = [&](const char* name, const std::string& text, int points, int label_top) {
    auto* label = new QLabel(ToQ(text), form.get());
    label->setObjectName(QString::fromLatin1(name));
    QFont f = Font;
    f.setPointSize(points);
    label->setFont(f);
    label->adjustSize();
    label->move((width - text_left - 8 - label->width()) / 2 + text_left, label_top);
    return label;
  };
  add_label("AppName", AppName, 16, 8);
  add_label("Version", Version, 10, 36);
  QLabel* memo = add_label("Memo", Memo, 10, 0);
  memo->move(memo->x(), FormHeight - 8 - 24 - QFontMetrics(memo->font()).height() - 8);
  return form;
}

void TAboutDialog::Execute() {
  std::unique_ptr<QDialog> form = Build();
  form->exec();
}

}  // namespace plumo

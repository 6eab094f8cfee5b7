#include "about_dialog.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QTimer>

namespace plumo {
namespace {


void SetPanelValues(TAboutDialog& about) {
  about.AppName = "PLUMO player";
  about.Caption = "About PLUMO";
  about.CloseButton = "Close";
  about.FormWidth = 400;
  about.FormHeight = 104;
  about.FormPosition = fpScreenCenter;
  about.Memo = "credit";
  about.Version = "Version 1.08 [May.18,Tue.2004]";
}

TEST(AboutDialogTest, DefaultsOfTheComponent) {
  TAboutDialog about(nullptr);
  EXPECT_EQ(about.FormWidth, 320);
  EXPECT_EQ(about.FormHeight, 120);
  EXPECT_EQ(about.FormPosition, fpDesigned);
  EXPECT_EQ(about.AppName, "");
}

TEST(AboutDialogTest, PanelBoxIsCentredWithItsButtonAboveTheBottom) {
  TAboutDialog about(nullptr);
  SetPanelValues(about);
  const auto box = about.Build();
  EXPECT_EQ(box->windowTitle().toStdString(), "About PLUMO");
  EXPECT_EQ(box->size(), QSize(400, 104));
  const QRect screen = QGuiApplication::primaryScreen()->geometry();
  ASSERT_NE(screen.topLeft(), QPoint(0, 0)) << "the tests' primary screen lies right of another";
  EXPECT_EQ(box->pos(), screen.topLeft() + QPoint((screen.width() - 400) / 2, (screen.height() - 104) / 2));
  auto* button = box->findChild<QPushButton*>("CloseButton");
  ASSERT_NE(button, nullptr);
  EXPECT_EQ(button->geometry(), QRect(168, 104 - 24 - 8, 64, 24));
  EXPECT_EQ(button->text().toStdString(), "Close");
  auto* image = box->findChild<QLabel*>("Image");
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(image->geometry(), QRect(16, 8, 64, 64));
  auto* name = box->findChild<QLabel*>("AppName");
  auto* version = box->findChild<QLabel*>("Version");
  auto* memo = box->findChild<QLabel*>("Memo");
  ASSERT_TRUE(name && version && memo);
  EXPECT_EQ(name->y(), 8);
  EXPECT_EQ(version->y(), 36);
  // Each line is centred between the icon and the right margin.
  for (QLabel* l : {name, version, memo}) EXPECT_EQ(l->x(), (400 - 80 - 8 - l->width()) / 2 + 80);
  EXPECT_EQ(memo->y() + QFontMetrics(memo->font()).height(), 104 - 8 - 24 - 8);
  EXPECT_GT(name->font().pointSize(), version->font().pointSize());
}

TEST(AboutDialogTest, LongNameMayStartLeftOfTheTextArea) {
  TAboutDialog about(nullptr);
  SetPanelValues(about);
  about.AppName = std::string(80, 'W');
  const auto box = about.Build();
  EXPECT_LT(box->findChild<QLabel*>("AppName")->x(), 80);
}

TEST(AboutDialogTest, PositionsByDesignAndByForms) {
  QWidget owner;
  owner.setGeometry(100, 200, 600, 400);
  QWidget main_form;
  main_form.setGeometry(10, 20, 200, 100);
  TAboutDialog about(&owner, &main_form);
  about.FormLeft = 5;
  about.FormTop = 7;
  EXPECT_EQ(about.Build()->pos(), QPoint(5, 7));
  about.FormPosition = fpOwnerFormCenter;
  EXPECT_EQ(about.Build()->pos(), QPoint((600 - 320) / 2 + owner.x(), (400 - 120) / 2 + owner.y()));
  about.FormPosition = fpMainFormCenter;
  EXPECT_EQ(about.Build()->pos(), QPoint((200 - 320) / 2 + main_form.x(), (100 - 120) / 2 + main_form.y()));
}

TEST(AboutDialogTest, ExecuteShowsModallyUntilClosed) {
  TAboutDialog about(nullptr);
  SetPanelValues(about);
  bool seen = false;
  QTimer::singleShot(0, [&] {
    auto* box = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    ASSERT_NE(box, nullptr);
    seen = box->windowTitle() == QStringLiteral("About PLUMO");
    box->findChild<QPushButton*>("CloseButton")->click();
  });
  about.Execute();
  EXPECT_TRUE(seen);
}

}  // namespace
}  // namespace plumo

#include "tray_icon.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QImage>
#include <QMenu>
#include <QPixmap>
#include <QWidget>
#include <memory>
#include <vector>

namespace plumo {
namespace {

QIcon SomeIcon() {
  QPixmap p(16, 16);
  p.fill(Qt::red);
  return QIcon(p);
}

// Pumps the event loop until done() or a generous hang guard runs out.
template <class F>
bool PumpUntil(F done) {
  QDeadlineTimer guard(20000);
  while (!done()) {
    if (guard.hasExpired()) return false;
    QApplication::processEvents(QEventLoop::AllEvents, 20);
  }
  return true;
}

class TrayIconTest : public ::testing::Test {
 protected:
  void SendActivation(TTrayIcon& icon, QSystemTrayIcon::ActivationReason reason) {
    emit icon.SystemTrayIcon().activated(reason);
  }

  QWidget owner;
  TCallbackWindow window;
};

TEST_F(TrayIconTest, ActivationsBecomeTheMouseMessagesOfAClick) {
  EXPECT_EQ(TCallbackWindow::MouseMessagesFor(QSystemTrayIcon::Trigger),
            (std::vector<uint32_t>{WM_LBUTTONDOWN, WM_LBUTTONUP}));
  EXPECT_EQ(TCallbackWindow::MouseMessagesFor(QSystemTrayIcon::DoubleClick),
            (std::vector<uint32_t>{WM_LBUTTONDBLCLK, WM_LBUTTONUP}));
  EXPECT_EQ(TCallbackWindow::MouseMessagesFor(QSystemTrayIcon::Context),
            (std::vector<uint32_t>{WM_RBUTTONDOWN, WM_RBUTTONUP}));
  EXPECT_EQ(TCallbackWindow::MouseMessagesFor(QSystemTrayIcon::MiddleClick),
            (std::vector<uint32_t>{WM_MBUTTONDOWN, WM_MBUTTONUP}));
}

TEST_F(TrayIconTest, SingleClickIsReportedOnceAfterTheDoubleClickTime) {
  TTrayIcon icon(&owner, window);
  int clicks = 0, double_clicks = 0;
  icon.OnClick = [&](TTrayIcon*) { ++clicks; };
  icon.OnDblClick = [&](TTrayIcon*) { ++double_clicks; };
  SendActivation(icon, QSystemTrayIcon::Trigger);
  EXPECT_TRUE(icon.ClickPending());
  EXPECT_EQ(clicks, 0) << "a click waits for a possible second one";
  QApplication::processEvents();
  EXPECT_EQ(clicks, 0);
  ASSERT_TRUE(PumpUntil([&] { return clicks > 0; }));
  EXPECT_EQ(clicks, 1);
  EXPECT_EQ(double_clicks, 0);
  EXPECT_FALSE(icon.ClickPending());
}

TEST_F(TrayIconTest, DoubleClickReportsNoSingleClick) {
  TTrayIcon icon(&owner, window);
  int clicks = 0, double_clicks = 0;
  icon.OnClick = [&](TTrayIcon*) { ++clicks; };
  icon.OnDblClick = [&](TTrayIcon*) { ++double_clicks; };
  // Qt: the first press as a Trigger, then the double click.
  SendActivation(icon, QSystemTrayIcon::Trigger);
  SendActivation(icon, QSystemTrayIcon::DoubleClick);
  EXPECT_EQ(double_clicks, 1);
  EXPECT_FALSE(icon.ClickPending());
  // Let the single-click wait run out.
  QElapsedTimer waited;
  waited.start();
  ASSERT_TRUE(PumpUntil([&] { return waited.elapsed() > TSingleClick::WaitMilliseconds() + 200; }));
  EXPECT_EQ(clicks, 0);
  EXPECT_EQ(double_clicks, 1);
}

TEST_F(TrayIconTest, MouseEventsCarryButtonShiftAndCursor) {
  window.CursorPos = [] { return QPoint(12, 34); };
  TTrayIcon icon(&owner, window);
  std::vector<std::pair<TMouseButton, TShiftState>> downs, ups;
  QPoint at;
  int clicks = 0;
  icon.OnMouseDown = [&](TTrayIcon*, TMouseButton b, TShiftState s, int x, int y) {
    downs.emplace_back(b, s);
    at = QPoint(x, y);
  };
  icon.OnMouseUp = [&](TTrayIcon*, TMouseButton b, TShiftState s, int, int) { ups.emplace_back(b, s); };
  icon.OnClick = [&](TTrayIcon*) { ++clicks; };
  SendActivation(icon, QSystemTrayIcon::Trigger);
  SendActivation(icon, QSystemTrayIcon::Context);
  SendActivation(icon, QSystemTrayIcon::MiddleClick);
  ASSERT_EQ(downs.size(), 3u);
  EXPECT_EQ(downs[0], std::make_pair(mbLeft, ShiftOf(ssLeft)));
  EXPECT_EQ(downs[1], std::make_pair(mbRight, ShiftOf(ssRight)));
  EXPECT_EQ(downs[2], std::make_pair(mbMiddle, ShiftOf(ssMiddle)));
  EXPECT_EQ(ups.size(), 3u);
  EXPECT_EQ(at, QPoint(12, 34));
  // With OnMouseUp assigned, OnClick never fires.
  EXPECT_FALSE(icon.ClickPending());
  QElapsedTimer waited;
  waited.start();
  PumpUntil([&] { return waited.elapsed() > TSingleClick::WaitMilliseconds() + 100; });
  EXPECT_EQ(clicks, 0);
}

TEST_F(TrayIconTest, PopupMenuTakesTheButtonPress) {
  TTrayIcon icon(&owner, window);
  QMenu menu;
  menu.addAction(QStringLiteral("item"));
  int downs = 0;
  icon.OnMouseDown = [&](TTrayIcon*, TMouseButton, TShiftState, int, int) { ++downs; };
  icon.SetRBPopupMenu(&menu);
  SendActivation(icon, QSystemTrayIcon::Context);
  EXPECT_EQ(downs, 0);
  EXPECT_TRUE(menu.isVisible());
  menu.hide();
  icon.SetAutoPopup(false);
  SendActivation(icon, QSystemTrayIcon::Context);
  EXPECT_EQ(downs, 1);
}

TEST_F(TrayIconTest, FreedMenuIsForgotten) {
  TTrayIcon icon(&owner, window);
  int downs = 0;
  icon.OnMouseDown = [&](TTrayIcon*, TMouseButton, TShiftState, int, int) { ++downs; };
  {
    QMenu menu;
    icon.SetLBPopupMenu(&menu);
    EXPECT_EQ(icon.LBPopupMenu(), &menu);
  }
  EXPECT_EQ(icon.LBPopupMenu(), nullptr);
  window.Notify(icon.Id(), WM_LBUTTONDOWN);
  EXPECT_EQ(downs, 1);
}

TEST_F(TrayIconTest, DisabledIconIgnoresNotificationsAndCancelsAPendingClick) {
  TTrayIcon icon(&owner, window);
  int clicks = 0, downs = 0;
  icon.OnClick = [&](TTrayIcon*) { ++clicks; };
  SendActivation(icon, QSystemTrayIcon::Trigger);
  EXPECT_TRUE(icon.ClickPending());
  icon.SetEnabled(false);
  EXPECT_FALSE(icon.ClickPending());
  icon.OnMouseDown = [&](TTrayIcon*, TMouseButton, TShiftState, int, int) { ++downs; };
  window.Notify(icon.Id(), WM_LBUTTONDOWN);
  EXPECT_EQ(downs, 0);
  QElapsedTimer waited;
  waited.start();
  PumpUntil([&] { return waited.elapsed() > TSingleClick::WaitMilliseconds() + 100; });
  EXPECT_EQ(clicks, 0);
}

TEST_F(TrayIconTest, IdsFollowTheListAndTheListHoldsAHundred) {
  std::vector<std::unique_ptr<TTrayIcon>> icons;
  for (int i = 0; i < 100; ++i) icons.push_back(std::make_unique<TTrayIcon>(&owner, window));
  EXPECT_EQ(icons.front()->Id(), 1u);
  EXPECT_EQ(icons.back()->Id(), 100u);
  try {
    TTrayIcon extra(&owner, window);
    FAIL() << "the 101st icon was taken";
  } catch (const ENotifyIconError& e) {
    EXPECT_STREQ(e.what(), "タスクトレイにアイコンを登録できません。");
  }
  // Unknown ids are ignored.
  window.Notify(4711, WM_LBUTTONDOWN);
  icons.pop_back();
  TTrayIcon again(&owner, window);
  EXPECT_EQ(again.Id(), 100u);
}

TEST_F(TrayIconTest, TipKeepsTheFirst62Characters) {
  TTrayIcon icon(&owner, window);
  EXPECT_EQ(icon.TipHelp(), "TipHelp");
  icon.SetTipHelp(std::string(70, 'x'));
  EXPECT_EQ(icon.TipHelp(), std::string(62, 'x'));
  // Characters, not bytes: a Japanese title is not cut inside a character.
  std::string japanese;
  for (int i = 0; i < 70; ++i) japanese += "音";
  icon.SetTipHelp(japanese);
  EXPECT_EQ(icon.TipHelp().size(), 62u * 3);
}

TEST_F(TrayIconTest, LoadedFromAFormTheTipStartsEmpty) {
  TTrayIcon icon(&owner, window);
  icon.BeginLoad();
  EXPECT_EQ(icon.TipHelp(), "");
}

TEST_F(TrayIconTest, VisibleNeedsAnIcon) {
  QApplication::setWindowIcon(QIcon());
  TTrayIcon icon(&owner, window);
  icon.SetVisible(true);
  EXPECT_FALSE(icon.Visible());
  EXPECT_FALSE(icon.Added());
}

TEST_F(TrayIconTest, WithoutANotificationAreaTheAddIsRefused) {
  ASSERT_FALSE(QSystemTrayIcon::isSystemTrayAvailable()) << "the offscreen platform has no notification area";
  TTrayIcon icon(&owner, window);
  icon.SetIcon(SomeIcon());
  EXPECT_THROW(icon.SetVisible(true), ENotifyIconError);
  EXPECT_TRUE(icon.Visible());
  icon.SetVisible(false);
  EXPECT_FALSE(icon.Added());
}

TEST_F(TrayIconTest, IconFallsBackToTheOwnerForm) {
  owner.setWindowIcon(SomeIcon());
  TTrayIcon icon(&owner, window);
  EXPECT_FALSE(icon.CurrentIcon().isNull());
}

TEST_F(TrayIconTest, AnimateRateHasAFloorOf100) {
  TTrayIcon icon(&owner, window);
  EXPECT_EQ(icon.AnimateRate(), 500);
  icon.SetAnimateRate(50);
  EXPECT_EQ(icon.AnimateRate(), 100);
  icon.SetAnimateRate(250);
  EXPECT_EQ(icon.AnimateRate(), 250);
}

}  // namespace
}  // namespace plumo

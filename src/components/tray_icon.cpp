#include "tray_icon.h"

#include <QApplication>
#include <QCursor>
#include <QMenu>
#include <QWidget>

#include "forms.h"

namespace plumo {

namespace {

// The first max characters (code points) of a UTF-8 text.
std::string FirstCharacters(const std::string& s, int max) {
  int count = 0;
  for (size_t i = 0; i < s.size(); ++i) {
    if ((static_cast<unsigned char>(s[i]) & 0xC0) != 0x80) {
      if (count == max) return s.substr(0, i);
      ++count;
    }
  }
  return s;
}

}  // namespace

ENotifyIconError::ENotifyIconError()
    : std::runtime_error(FromQ(QCoreApplication::translate("TTrayIcon", "タスクトレイにアイコンを登録できません。"))) {}

// Callback window.

TCallbackWindow::TCallbackWindow(QObject* owner) : QObject(owner), CursorPos([] { return QCursor::pos(); }) {}

TCallbackWindow::~TCallbackWindow() = default;

uint32_t TCallbackWindow::Register(TTrayIcon* icon) {
  if (FIcons.size() >= kMaxIcons) throw ENotifyIconError();
  const uint32_t id = FIcons.empty() ? 1 : FIcons.back().first + 1;
  FIcons.emplace_back(id, icon);
  return id;
}

void TCallbackWindow::Unregister(uint32_t id) {
  for (auto it = FIcons.begin(); it != FIcons.end(); ++it) {
    if (it->first == id) {
      FIcons.erase(it);
      return;
    }
  }
}

void TCallbackWindow::Notify(uint32_t id, uint32_t mouse_message) {
  for (const auto& [icon_id, icon] : FIcons) {
    if (icon_id == id) {
      const QPoint p = CursorPos ? CursorPos() : QPoint();
      icon->HandleMouseMessage(mouse_message, p.x(), p.y());
      return;
    }
  }
}

std::vector<uint32_t> TCallbackWindow::MouseMessagesFor(QSystemTrayIcon::ActivationReason reason) {
  switch (reason) {
    case QSystemTrayIcon::Trigger:
      return {WM_LBUTTONDOWN, WM_LBUTTONUP};
    case QSystemTrayIcon::DoubleClick:
      // Qt reports the first press of a double click as a Trigger of its own.
      return {WM_LBUTTONDBLCLK, WM_LBUTTONUP};
    case QSystemTrayIcon::Context:
      return {WM_RBUTTONDOWN, WM_RBUTTONUP};
    case QSystemTrayIcon::MiddleClick:
      return {WM_MBUTTONDOWN, WM_MBUTTONUP};
    case QSystemTrayIcon::Unknown:
      break;
  }
  return {};
}

// Single click.

TSingleClick::TSingleClick(std::function<void()> on_end, QObject* owner) : QObject(owner), FOnEnd(std::move(on_end)) {
  FTimer.setSingleShot(true);
  connect(&FTimer, &QTimer::timeout, this, [this] { FOnEnd(); });
}

int TSingleClick::WaitMilliseconds() { return QApplication::doubleClickInterval() + 50; }

void TSingleClick::Start() { FTimer.start(WaitMilliseconds()); }

// Tray icon.

TTrayIcon::TTrayIcon(QWidget* owner, TCallbackWindow& window)
    : QObject(nullptr),
      FOwner(owner),
      FWindow(window),
      FTray(std::make_unique<QSystemTrayIcon>()),
      FSingleClick([this] { SingleClickEnded(); }) {
  FId = FWindow.Register(this);
  connect(FTray.get(), &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
    for (uint32_t m : TCallbackWindow::MouseMessagesFor(reason)) FWindow.Notify(FId, m);
  });
}

TTrayIcon::~TTrayIcon() {
  DeleteIcon();
  FWindow.Unregister(FId);
}

void TTrayIcon::BeginLoad() {
  FLoading = true;
  FTipHelp.clear();
}

void TTrayIcon::Loaded() {
  FLoading = false;
  if (FVisible) AddIcon();
}

QIcon TTrayIcon::CurrentIcon() const {
  if (!FIcon.isNull()) return FIcon;
  if (FOwner != nullptr && !FOwner->windowIcon().isNull()) return FOwner->windowIcon();
  return QApplication::windowIcon();
}

void TTrayIcon::SetEnabled(bool value) {
  FEnabled = value;
  if (!value) FClickPending = false;
}

void TTrayIcon::SetIcon(const QIcon& icon) {
  FIcon = icon;
  if (FAdded) ModifyIcon();
}

void TTrayIcon::SetTipHelp(const std::string& value) {
  const std::string tip = FirstCharacters(value, kMaxTipLength);
  if (tip == FTipHelp) return;
  FTipHelp = tip;
  if (!FLoading && FAdded) ModifyIcon();
}

void TTrayIcon::SetVisible(bool value) {
  if (value == FVisible) return;
  if (CurrentIcon().isNull()) return;
  FVisible = value;
  if (FLoading) return;
  if (value) AddIcon();
  else if (FAdded) DeleteIcon();
}

void TTrayIcon::AddIcon() {
  if (!FVisible) return;
  FTray->setIcon(CurrentIcon());
  FTray->setToolTip(ToQ(FTipHelp));
  // Qt keeps a shown icon and places it once a notification area appears; the add is still
  // reported as refused while there is none.
  FTray->show();
  FAdded = true;
  if (!QSystemTrayIcon::isSystemTrayAvailable()) throw ENotifyIconError();
}

void TTrayIcon::ModifyIcon() {
  FTray->setIcon(CurrentIcon());
  FTray->setToolTip(ToQ(FTipHelp));
}

void TTrayIcon::DeleteIcon() {
  if (!FAdded) return;
  FTray->hide();
  FAdded = false;
}

void TTrayIcon::Popup(QMenu* menu, int x, int y) {
  if (FOwner != nullptr && FOwner->isVisible()) {
    FOwner->raise();
    FOwner->activateWindow();
  }
  menu->popup(QPoint(x, y));
}

void TTrayIcon::HandleMouseMessage(uint32_t mouse_message, int x, int y) {
  if (!FEnabled) return;
  switch (mouse_message) {
    case WM_MOUSEMOVE:
      if (OnMouseMove) OnMouseMove(this, 0, x, y);
      break;
    case WM_LBUTTONDOWN:
      if (FLBPopupMenu != nullptr && FAutoPopup) Popup(FLBPopupMenu, x, y);
      else if (OnMouseDown) OnMouseDown(this, mbLeft, ShiftOf(ssLeft), x, y);
      break;
    case WM_LBUTTONUP:
      if (OnMouseUp) {
        OnMouseUp(this, mbLeft, ShiftOf(ssLeft), x, y);
      } else if (OnClick) {
        if (!FClickPending) {
          FClickPending = true;
          FSingleClick.Start();
        } else {
          FClickPending = false;
        }
      } else {
        FClickPending = false;
      }
      break;
    case WM_LBUTTONDBLCLK:
      FClickPending = true;
      if (OnDblClick) OnDblClick(this);
      break;
    case WM_RBUTTONDOWN:
      if (FRBPopupMenu != nullptr && FAutoPopup) Popup(FRBPopupMenu, x, y);
      else if (OnMouseDown) OnMouseDown(this, mbRight, ShiftOf(ssRight), x, y);
      break;
    case WM_RBUTTONUP:
      if (OnMouseUp) OnMouseUp(this, mbRight, ShiftOf(ssRight), x, y);
      break;
    case WM_MBUTTONDOWN:
      if (OnMouseDown) OnMouseDown(this, mbMiddle, ShiftOf(ssMiddle), x, y);
      break;
    case WM_MBUTTONUP:
      if (OnMouseUp) OnMouseUp(this, mbMiddle, ShiftOf(ssMiddle), x, y);
      break;
    default:
      break;
  }
}

void TTrayIcon::SingleClickEnded() {
  if (OnClick && FClickPending) OnClick(this);
  FClickPending = false;
}

}  // namespace plumo

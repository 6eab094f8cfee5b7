// TTrayIcon: one icon with a tip text in the desktop's notification area (QSystemTrayIcon), whose
// mouse notifications become component events. Qt's activations are first turned into the mouse
// messages the icon expects (a click: button down, button up; a double click: the double-click
// notice and the last button up, following the click Qt reported for the first press; the
// context request: right button down and up) and delivered through the callback window that all
// icons of the application share. A single click is reported only once the double-click time
// plus 50 ms passed without a second click (TSingleClick).
#pragma once

#include <QIcon>
#include <QMenu>
#include <QObject>
#include <QPoint>
#include <QPointer>
#include <QSystemTrayIcon>
#include <QTimer>
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

class QMenu;
class QWidget;

namespace plumo {

// The notification area refused the icon, or the application has too many icons.
class ENotifyIconError : public std::runtime_error {
 public:
  ENotifyIconError();
};

enum TMouseButton : uint8_t { mbLeft, mbRight, mbMiddle };
// Set of shift-state members; bit n is member n.
enum TShiftStateMember : uint8_t { ssShift, ssAlt, ssCtrl, ssLeft, ssRight, ssMiddle, ssDouble };
using TShiftState = uint8_t;
constexpr TShiftState ShiftOf(TShiftStateMember m) { return static_cast<TShiftState>(1u << m); }

// Mouse messages of a notification.
inline constexpr uint32_t WM_MOUSEMOVE = 0x200;
inline constexpr uint32_t WM_LBUTTONDOWN = 0x201;
inline constexpr uint32_t WM_LBUTTONUP = 0x202;
inline constexpr uint32_t WM_LBUTTONDBLCLK = 0x203;
inline constexpr uint32_t WM_RBUTTONDOWN = 0x204;
inline constexpr uint32_t WM_RBUTTONUP = 0x205;
inline constexpr uint32_t WM_RBUTTONDBLCLK = 0x206;
inline constexpr uint32_t WM_MBUTTONDOWN = 0x207;
inline constexpr uint32_t WM_MBUTTONUP = 0x208;
// The notification's own message code.
inline constexpr uint32_t WM_TRAYNOTIFY = 0x4C8;

class TTrayIcon;

// The window every tray icon of the application reports to, holding the list of icon ids.
class TCallbackWindow final : public QObject {
  Q_OBJECT
 public:
  static constexpr size_t kMaxIcons = 100;

  explicit TCallbackWindow(QObject* owner = nullptr);
  ~TCallbackWindow() override;

  // The notification message: icon id and mouse message. Ids not in the list are ignored.
  void Notify(uint32_t id, uint32_t mouse_message);
  // The mouse messages that stand for one activation of a QSystemTrayIcon.
  static std::vector<uint32_t> MouseMessagesFor(QSystemTrayIcon::ActivationReason reason);

  size_t Count() const { return FIcons.size(); }
  // Where notifications take the cursor position from (QCursor::pos() by default).
  std::function<QPoint()> CursorPos;

 private:
  friend class TTrayIcon;
  uint32_t Register(TTrayIcon* icon);
  void Unregister(uint32_t id);

  std::vector<std::pair<uint32_t, TTrayIcon*>> FIcons;
};

// Tells a single click from a double click: ends the double-click time + 50 ms after it started,
// on the main thread.
class TSingleClick final : public QObject {
  Q_OBJECT
 public:
  explicit TSingleClick(std::function<void()> on_end, QObject* owner = nullptr);
  void Start();
  bool Running() const { return FTimer.isActive(); }
  static int WaitMilliseconds();

 private:
  QTimer FTimer;
  std::function<void()> FOnEnd;
};

class TTrayIcon final : public QObject {
  Q_OBJECT
 public:
  using TNotifyEvent = std::function<void(TTrayIcon* sender)>;
  using TMouseEvent = std::function<void(TTrayIcon* sender, TMouseButton button, TShiftState shift, int x, int y)>;
  using TMouseMoveEvent = std::function<void(TTrayIcon* sender, TShiftState shift, int x, int y)>;

  static constexpr int kMaxTipLength = 62;

  // owner: the form the icon belongs to (its icon is the fall-back); window: the shared callback
  // window, which must outlive the icon. Raises ENotifyIconError when the window holds 100 icons.
  TTrayIcon(QWidget* owner, TCallbackWindow& window);
  ~TTrayIcon() override;

  // Loading from the form: the tip starts empty and Visible only stores until Loaded.
  void BeginLoad();
  void Loaded();

  int AnimateRate() const { return FAnimateRate; }
  void SetAnimateRate(int value) { FAnimateRate = value < 100 ? 100 : value; }
  const std::vector<QIcon>& AnimateIcons() const { return FAnimateIcons; }
  void SetAnimateIcons(std::vector<QIcon> icons) { FAnimateIcons = std::move(icons); }
  bool AutoPopup() const { return FAutoPopup; }
  void SetAutoPopup(bool value) { FAutoPopup = value; }
  bool Enabled() const { return FEnabled; }
  void SetEnabled(bool value);
  const QIcon& Icon() const { return FIcon; }
  void SetIcon(const QIcon& icon);
  QMenu* LBPopupMenu() const { return FLBPopupMenu; }
  void SetLBPopupMenu(QMenu* menu) { FLBPopupMenu = menu; }
  QMenu* RBPopupMenu() const { return FRBPopupMenu; }
  void SetRBPopupMenu(QMenu* menu) { FRBPopupMenu = menu; }
  const std::string& TipHelp() const { return FTipHelp; }
  void SetTipHelp(const std::string& value);
  bool Visible() const { return FVisible; }
  // Raises ENotifyIconError when there is no notification area to take the icon (it is kept
  // and shown there once one appears).
  void SetVisible(bool value);

  TNotifyEvent OnClick;
  TNotifyEvent OnDblClick;
  TMouseMoveEvent OnMouseMove;
  TMouseEvent OnMouseDown;
  TMouseEvent OnMouseUp;

  uint32_t Id() const { return FId; }
  bool Added() const { return FAdded; }
  bool ClickPending() const { return FClickPending; }
  // The icon handed to the notification area: Icon, else the owner form's, else the application's.
  QIcon CurrentIcon() const;
  // The underlying Qt icon, whose activations feed the callback window.
  QSystemTrayIcon& SystemTrayIcon() { return *FTray; }

  // The callback window's message for this icon.
  void HandleMouseMessage(uint32_t mouse_message, int x, int y);

 private:
  void AddIcon();
  void ModifyIcon();
  void DeleteIcon();
  void Popup(QMenu* menu, int x, int y);
  void SingleClickEnded();

  QWidget* FOwner;
  TCallbackWindow& FWindow;
  uint32_t FId = 0;
  int FAnimateRate = 500;
  std::vector<QIcon> FAnimateIcons;
  bool FAutoPopup = true;
  bool FEnabled = true;
  QIcon FIcon;
  // Forgotten when the menu goes away.
  QPointer<QMenu> FLBPopupMenu;
  QPointer<QMenu> FRBPopupMenu;
  std::string FTipHelp = "TipHelp";
  bool FVisible = false;
  bool FLoading = false;
  bool FAdded = false;
  bool FClickPending = false;
  std::unique_ptr<QSystemTrayIcon> FTray;
  TSingleClick FSingleClick;
};

}  // namespace plumo

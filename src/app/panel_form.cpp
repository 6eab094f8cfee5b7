#include "panel_form.h"

#include <xcb/xcb.h>

#include <QAccessible>
#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QSessionManager>
#include <QWheelEvent>
#include <QWindow>
#include <algorithm>
#include <utility>

#include "forms.h"
#include "intake.h"
#include "open_dialog.h"
#include "panel_accessible.h"
#include "panel_settings.h"
#include "resources.h"
#include "taskbar.h"

namespace plumo {

namespace {

// The panel's tick, and its rest while hidden where nothing tells when the notification area goes.
constexpr int kTickInterval = 100;
constexpr int kRestInterval = 1000;

// Wayland itself, not X11 through XWayland: windows neither place themselves nor pop menus up
// where they like.
bool OnWayland() { return QGuiApplication::platformName().startsWith(QStringLiteral("wayland")); }

// A saved position whose panel would lie off every screen (a monitor since unplugged, a smaller
// resolution) is moved onto the nearest place of the primary screen, where it can be reached.
QPoint OnSomeScreen(QPoint position) {
  const QRect panel(position, QSize(TPlatform::kWidth, TPlatform::kHeight));
  const QList<QScreen*> screens = QGuiApplication::screens();
  for (const QScreen* screen : screens)
    if (screen->geometry().intersects(panel)) return position;
  const QScreen* primary = QGuiApplication::primaryScreen();
  if (primary == nullptr) return position;
  const QRect area = primary->availableGeometry();
  return QPoint(std::clamp(position.x(), area.left(), std::max(area.left(), area.right() + 1 - panel.width())),
                std::clamp(position.y(), area.top(), std::max(area.top(), area.bottom() + 1 - panel.height())));
}

}  // namespace

template <class F>
void TPlatform::Guarded(F&& f) {
  try {
    f();
  } catch (...) {
    Report(std::current_exception());
  }
}

void TPlatform::Report(const std::exception_ptr& e) {
  if (ShowException) ShowException(e);
}

TPlatform::TPlatform(std::shared_ptr<platform::WaveDriver> driver, std::string settings_file,
                     TShowException show_exception)
    : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint),
      ShowException(std::move(show_exception)),
      FSettingsFile(std::move(settings_file)),
      FController(std::make_unique<TPlayController>(std::move(driver))),
      FImage1(this),
      FSpeedButton2(this),
      FSpeedButton3(this),
      FTrayWindow(this) {
  InitResources();
  if (!ShowException) ShowException = [this](const std::exception_ptr& e) { FErrorBoxes.Show(e); };
  Confirm = [this](const std::string& text) { return ConfirmBox(isVisible() ? this : nullptr, "PLUMO", text); };
  AskNames = [this](TAsk ask, bool add) {
    return AskWithDialog(isVisible() ? this : nullptr, ask, add, FController->CurrentDir());
  };
  OpenPlaylist = FController->OpenPlaylist;

  // The form.
  setObjectName(QStringLiteral("Platform"));
  setWindowTitle(QStringLiteral("PLUMO"));
  setWindowIcon(ProgramIcon());
  setFixedSize(kWidth, kHeight);
  move(kDesignLeft, kDesignTop);
  setFont(PGothicFont(12));
  // Clicked, the panel takes the keys.
  setFocusPolicy(Qt::ClickFocus);

  FMenu = std::make_unique<TPanelMenu>(this);
  FMenu->OnCommand = [this](TMenuCommand command, QAction* item) { Guarded([&] { MenuCommand(command, item); }); };
  SetUpWidgets();
  SetUpController();

  FTimer1.setObjectName(QStringLiteral("Timer1"));
  FTimer1.setInterval(kTickInterval);
  connect(&FTimer1, &QTimer::timeout, this, [this] { Guarded([&] { Timer1Timer(); }); });

  SetUpTrayIcon();
  SetUpAboutBox();
  // The history under History1.
  FFileNameKeep = std::make_unique<TFileNameKeep>(this, FSettingsFile);
  FFileNameKeep->OnSelect = [this](TFileNameKeep*, const std::string& name) {
    Guarded([&] { FileNameKeep1Select(name); });
  };
  FFileNameKeep->SetParentMenu(&FMenu->History());

  FormCreate();

  // The end of the desktop session: Qt sends a hidden window no close event, and the session
  // manager may end the program without one, so the settings are saved when the session asks
  // for the program's data and whenever the application quits without the form having closed.
  if (auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
    connect(app, &QGuiApplication::commitDataRequest, this, [this](QSessionManager&) {
      if (!FClosed) Guarded([&] { SaveSettings(); });
    });
    connect(app, &QCoreApplication::aboutToQuit, this, [this] {
      if (!FClosed) Guarded([&] { SaveSettings(); });
    });
  }
  WatchTray();
}

TPlatform::~TPlatform() {
  FTimer1.stop();
  // The parts go in this order: the player stops, the tray icon leaves, the history saves.
  FController.reset();
  FTrayIcon.reset();
  FFileNameKeep.reset();
}

void TPlatform::SetUpWidgets() {
  FImage1.setObjectName(QStringLiteral("Image1"));
  // The picture covers the panel: nothing beneath it needs painting when the display changes.
  FImage1.setAttribute(Qt::WA_OpaquePaintEvent);
  // On a HiDPI screen the pictures and the display are drawn at twice the size.
  FPixelRatio = PictureRatio(devicePixelRatioF());
  FDisplay = std::make_unique<TPanelDisplay>(FPixelRatio);
  FImage1.SetPicture(BackgroundImage(FPixelRatio));
  FImage1.move(0, 0);
  FImage1.PopupMenu = &FMenu->Popup();
  FImage1.OnMouseDown = [this](Qt::MouseButton b, int x, int y) { Guarded([&] { Image1MouseDown(b, x, y); }); };
  FImage1.OnMouseMove = [this](int x, int y) { Guarded([&] { Image1MouseMove(x, y); }); };
  FImage1.OnMouseUp = [this](Qt::MouseButton b, int x, int y) { Guarded([&] { Image1MouseUp(b, x, y); }); };
  FSpeedButton2.setObjectName(QStringLiteral("SpeedButton2"));
  FSpeedButton2.setGeometry(136, 8, 18, 18);
  FSpeedButton2.SetGlyph(PlayGlyph(FPixelRatio));
  FSpeedButton2.PopupMenu = &FMenu->Popup();
  FSpeedButton2.OnMouseDown = [this](Qt::MouseButton b) { Guarded([&] { SpeedButton2MouseDown(b); }); };
  FSpeedButton3.setObjectName(QStringLiteral("SpeedButton3"));
  FSpeedButton3.setGeometry(154, 8, 18, 18);
  FSpeedButton3.SetGlyph(StopGlyph(FPixelRatio));
  FSpeedButton3.PopupMenu = &FMenu->Popup();
  FSpeedButton3.OnMouseDown = [this](Qt::MouseButton b) { Guarded([&] { SpeedButton3MouseDown(b); }); };
  FSpeedButton3.OnMouseUp = [this](Qt::MouseButton b) { Guarded([&] { SpeedButton3MouseUp(b); }); };
  FSpeedButton3.OnClick = [this] { Guarded([&] { SpeedButton3Click(); }); };
  // For screen readers: the buttons by their names and a press that does what a click does.
  InstallPanelAccessibility();
  FSpeedButton2.setAccessibleName(tr("再生/一時停止"));
  FSpeedButton2.OnPress = [this] { Guarded([&] { FController->PlayPause(); }); };
  FSpeedButton3.setAccessibleName(tr("停止"));
  FSpeedButton3.OnPress = [this] { Guarded([&] { SpeedButton3Click(); }); };
}

void TPlatform::SetUpController() {
  TPlayController& c = *FController;
  c.Report = [this](const std::exception_ptr& e) { Report(e); };
  c.OpenPlaylist = [this](const std::string& path) { return OpenPlaylist(path); };
  c.OnTitle = [this](const std::string& text) { ShowTitle(text); };
  c.OnVolLevel = [this](int32_t level) {
    FMenu->CheckVolLevel(level);
    TPanelSettings::SaveSetup(FSettingsFile, settings_keys::kVolLevel, level);
  };
  c.OnContributed = [this](const std::vector<std::string>& names) {
    for (const std::string& name : names) FFileNameKeep->Add(name);
  };
  c.SavePlaylist = [this] { SaveSettings(); };
  c.SaveNowIndex = [this](int32_t index, const std::string& entry, int64_t position) {
    TPanelSettings::SaveNowIndex(FSettingsFile, index, entry, position);
  };
  c.OnOptions = [this] { OptionsChanged(); };
  c.OnStatus = [this] {
    ShowWindowTitle();
    NotifyTrack();
  };
  c.OnSleep = [this] {
    FMenu->CheckValue(mcSleepTimer, FController->SleepTimer());
    ShowTip();
  };
  FMenu->OnPick = [this](int32_t index) { Guarded([&] { FController->PlayEntry(index); }); };
  connect(&FMenu->Playlist(), &QMenu::aboutToShow, this, [this] { Guarded([&] { FillPlaylistMenu(); }); });
}

void TPlatform::SetUpTrayIcon() {
  FTrayIcon = std::make_unique<TTrayIcon>(this, FTrayWindow);
  FTrayIcon->BeginLoad();
  FTrayIcon->SetIcon(ProgramIcon());
  // Under Wayland the notification area shows the menu itself, where the desktop places it.
  if (OnWayland()) FTrayIcon->SystemTrayIcon().setContextMenu(&FMenu->Popup());
  else FTrayIcon->SetRBPopupMenu(&FMenu->Popup());
  FTrayIcon->SetTipHelp("PLUMO");
  FTrayIcon->SetVisible(true);
  FTrayIcon->OnDblClick = [this](TTrayIcon*) { Guarded([&] { TrayIcon1DblClick(); }); };
  FTrayIcon->OnMouseDown = [this](TTrayIcon*, TMouseButton b, TShiftState, int, int) {
    Guarded([&] { TrayIcon1MouseDown(b); });
  };
  try {
    FTrayIcon->Loaded();
  } catch (const ENotifyIconError&) {
    FTrayMissing = true;
  }
}

void TPlatform::SetUpAboutBox() {
  FAboutDialog = std::make_unique<TAboutDialog>(this, this);
  FAboutDialog->AppName = FromQ(tr("PLUMO player"));
  FAboutDialog->Caption = FromQ(tr("About PLUMO"));
  FAboutDialog->CloseButton = FromQ(tr("Close"));
  FAboutDialog->FormLeft = 0;
  FAboutDialog->FormTop = 0;
  FAboutDialog->FormWidth = 400;
  FAboutDialog->FormHeight = 104;
  FAboutDialog->FormPosition = fpScreenCenter;
  FAboutDialog->Memo = FromQ(tr("A tiny MPEG audio player for Linux."));
  FAboutDialog->Version = FromQ(tr("Version 1.08 [May.18,Tue.2004]"));
  QFont about_font;
  about_font.setFamilies({"Times New Roman", "Liberation Serif", "DejaVu Serif", "Serif"});
  about_font.setPixelSize(12);
  about_font.setBold(true);
  FAboutDialog->Font = about_font;
  FAboutDialog->Icon = ProgramIcon();
}

void TPlatform::MenuCommand(TMenuCommand command, QAction* item) {
  switch (command) {
    case mcAbout: PLUMO1Click(); break;
    case mcPanel: N4Click(); break;
    case mcTopFlag: N6Click(); break;
    case mcVolume: N13Click(item); break;
    case mcReplayGain: ReplayGainClick(static_cast<TReplayGainMode>(TPanelMenu::Value(item))); break;
    case mcClearHistory: N5Click(); break;
    case mcExit: Exit1Click(); break;
    case mcOpenFiles:
    case mcAddFiles:
    case mcOpenFolder:
    case mcOpenAddress: OpenDialog(command); break;
    case mcShuffle: FController->SetShuffle(item->isChecked()); break;
    case mcRepeat: FController->SetRepeat(static_cast<TRepeatMode>(TPanelMenu::Value(item))); break;
    case mcEqualizer:
      FController->SetEqualizerPreset(TPanelMenu::Value(item));
      TPanelSettings::SaveSetup(FSettingsFile, settings_keys::kEqualizer, FController->EqualizerPreset());
      break;
    case mcSleepTimer: FController->SetSleepTimer(TPanelMenu::Value(item)); break;
    case mcResumeAtStart: TPanelSettings::SaveSetup(FSettingsFile, settings_keys::kResumeAtStart, item->isChecked()); break;
    case mcNotify: TPanelSettings::SaveSetup(FSettingsFile, settings_keys::kNotify, item->isChecked()); break;
    case mcNone: break;
  }
}

// Start-up and closing.

void TPlatform::FormCreate() {
  TPanelSettings settings;
  settings.Left = x();
  settings.Top = y();
  settings.CurrentDir = CurrentDirectory();
  settings.Load(FSettingsFile);
  move(OnSomeScreen(QPoint(settings.Left, settings.Top)));
  FController->Restore(std::move(settings.PlayList), std::move(settings.Titles), std::move(settings.CurrentDir),
                       settings.NowIndex, settings.VolLevel);
  FController->Player().SetReplayGainPreamp(settings.ReplayGainPreamp);
  if (settings.ReplayGain >= rgmOff && settings.ReplayGain <= rgmAuto) {
    FController->SetReplayGainMode(static_cast<TReplayGainMode>(settings.ReplayGain));
    FMenu->CheckReplayGain(settings.ReplayGain);
  }
  FPanelVisible = settings.Visible;
  Item("N6")->setEnabled(FPanelVisible);
  FTopFlag = settings.TopFlag;
  ApplyTopFlag();
  Item("N6")->setChecked(FTopFlag);
  FMenu->CheckVolLevel(settings.VolLevel);
  {
    // Restored, not changed: nothing to write.
    const auto on_options = std::exchange(FController->OnOptions, nullptr);
    FController->SetShuffle(settings.Shuffle);
    if (settings.Repeat >= rmOff && settings.Repeat <= rmOne)
      FController->SetRepeat(static_cast<TRepeatMode>(settings.Repeat));
    FController->OnOptions = on_options;
    ShowOptions();
  }
  FController->SetEqualizerPreset(settings.Equalizer);
  FMenu->CheckValue(mcEqualizer, FController->EqualizerPreset());
  Item("ResumeAtStart1")->setChecked(settings.ResumeAtStart);
  Item("Notify1")->setChecked(settings.Notify);
  UpdatePanelMenu();

  FDragging = false;
  FDragX = 0;
  FDragY = 0;
  FClickCount = 0;
  FClickDelay = 5;
  FStopDown = 0;
  FStopDownTicks = 0;

  HookPanelWindow();
  FTimer1.start();
  Guarded([&] {
    StopPlay();
    FController->ResumeAt(settings.Position);
    if (settings.ResumeAtStart && !FController->PlayList().empty()) StartPlay();
  });
}

void TPlatform::FormCloseQuery(bool& can_close) {
  FTimer1.stop();
  FTimerResting = false;
  SaveSettings();
  can_close = true;
}

void TPlatform::CloseForm() { close(); }

void TPlatform::closeEvent(QCloseEvent* event) {
  if (!FClosed) {
    bool can_close = true;
    Guarded([&] { FormCloseQuery(can_close); });
    if (!can_close) {
      event->ignore();
      return;
    }
    FClosed = true;
    FController->Close();
    if (OnClosed) OnClosed();
  }
  event->accept();
}

void TPlatform::setVisible(bool visible) {
  if (visible && !isVisible()) SkipTaskbar(*this);
  QWidget::setVisible(visible);
  if (visible) WakeTimer();
}

void TPlatform::WakeTimer() {
  if (!FTimerResting) return;
  FTimerResting = false;
  FTimer1.setInterval(kTickInterval);
  FTimer1.start();
}

void TPlatform::HookPanelWindow() { setAcceptDrops(true); }

bool TPlatform::nativeEvent(const QByteArray& event_type, void* message, qintptr* result) {
  // The display's changes go straight to the window, past Qt's store of the window's pixels,
  // from which Qt fills exposed areas (a window mapped again counts as exposed whole): those
  // parts are repainted from the picture first.
  if (event_type == "xcb_generic_event_t" && message != nullptr) {
    const uint8_t type = static_cast<const xcb_generic_event_t*>(message)->response_type & 0x7F;
    if (type == XCB_EXPOSE || type == XCB_MAP_NOTIFY) FImage1.WindowExposed();
  }
  return QWidget::nativeEvent(event_type, message, result);
}

void TPlatform::ApplyTopFlag() {
  FTrayIcon->SetVisible(false);
  const bool shown = isVisible();
  setWindowFlag(Qt::WindowStaysOnTopHint, FTopFlag);
  if (shown) show();
  try {
    FTrayIcon->SetVisible(true);
    FTrayMissing = false;
  } catch (const ENotifyIconError&) {
    // No notification area: the panel stays shown, so the program can always be reached.
    FTrayMissing = true;
  }
  WakeTimer();
}

void TPlatform::SaveSettings() {
  const TPlayController& c = *FController;
  TPanelSettings settings;
  settings.Left = x();
  settings.Top = y();
  settings.PlayList = c.PlayList();
  settings.Titles = c.EntryTitles();
  settings.CurrentDir = c.CurrentDir();
  settings.NowIndex = c.NowIndex();
  settings.ReplayGain = c.Player().ReplayGainMode();
  settings.ReplayGainPreamp = static_cast<int32_t>(c.Player().ReplayGainPreamp());
  settings.Save(FSettingsFile);
  FController->NowIndexSaved();
}

// Drops.

void TPlatform::dragEnterEvent(QDragEnterEvent* event) {
  if (!DroppedNames(event->mimeData()).empty()) event->acceptProposedAction();
  else event->ignore();
}

void TPlatform::dropEvent(QDropEvent* event) {
  const std::vector<std::string> names = DroppedNames(event->mimeData());
  // Refused drags never reach here; a drop of nothing to play must not empty the playlist.
  if (names.empty()) {
    event->ignore();
    return;
  }
  event->acceptProposedAction();
  // Taken in once the drop has been answered: the drag's source does not wait for the intake.
  QTimer::singleShot(0, this, [this, names] { PanelDropFiles(names); });
}

void TPlatform::PanelDropFiles(const std::vector<std::string>& names) {
  Guarded([&] { DropFiles(names); });
}

bool TPlatform::EnqueueFiles(const std::vector<std::string>& names) {
  bool taken = false;
  if (!names.empty()) Guarded([&] { taken = FController->Enqueue(names); });
  return taken;
}

void TPlatform::OpenDialog(TMenuCommand command) {
  const bool add = command == mcAddFiles;
  const TAsk ask = command == mcOpenFolder ? akFolder : command == mcOpenAddress ? akAddress : akFiles;
  const std::vector<std::string> names = AskNames ? AskNames(ask, add) : std::vector<std::string>();
  if (names.empty()) return;
  if (ask == akAddress && ClassifyName(names.front()).Kind != nkStreamAddress)
    throw std::runtime_error(FromQ(tr("%1 はストリームのアドレスではありません").arg(ToQ(names.front()))));
  if (add) FController->Enqueue(names);
  else FController->TakeIn(names);
}


bool TPlatform::OpenWhenEmpty() {
  if (!FController->PlayList().empty()) return false;
  QTimer::singleShot(0, this, [this] { Guarded([&] { OpenDialog(mcOpenFiles); }); });
  return true;
}

void TPlatform::FillPlaylistMenu() {
  const TPlayController& c = *FController;
  FMenu->FillPlaylist(static_cast<int32_t>(c.PlayList().size()), c.NowIndex(), [&c](int32_t i) {
    // A name's own ampersands are no mnemonics.
    return QStringLiteral("%1. %2").arg(i + 1).arg(ToQ(c.EntryName(i)).replace(QLatin1Char('&'), QStringLiteral("&&")));
  });
}

void TPlatform::ShowOptions() {
  const TPlayController& c = *FController;
  Item("Shuffle1")->setChecked(c.Shuffle());
  FMenu->CheckValue(mcRepeat, c.Repeat());
}

void TPlatform::OptionsChanged() {
  ShowOptions();
  const TPlayController& c = *FController;
  TPanelSettings::SaveSetup(FSettingsFile, settings_keys::kShuffle, c.Shuffle());
  TPanelSettings::SaveSetup(FSettingsFile, settings_keys::kRepeat, c.Repeat());
}

void TPlatform::keyPressEvent(QKeyEvent* event) {
  const bool control = (event->modifiers() & Qt::ControlModifier) != 0;
  const int64_t seek = (event->modifiers() & Qt::ShiftModifier) != 0 ? 30000 : 5000;
  TPlayController& c = *FController;
  bool taken = true;
  Guarded([&] {
    switch (event->key()) {
      case Qt::Key_Space: c.PlayPause(); break;
      case Qt::Key_Right: if (c.CanSeekNow()) c.SeekBy(seek); break;
      case Qt::Key_Left: if (c.CanSeekNow()) c.SeekBy(-seek); break;
      case Qt::Key_Up: c.StepVolLevel(1); break;
      case Qt::Key_Down: c.StepVolLevel(-1); break;
      case Qt::Key_PageDown:
      case Qt::Key_N: c.Next(); break;
      case Qt::Key_PageUp:
      case Qt::Key_P: c.Previous(); break;
      case Qt::Key_S: c.StopPlay(); break;
      case Qt::Key_O: if (control) OpenDialog(mcOpenFiles); else taken = false; break;
      case Qt::Key_L: if (control) OpenDialog(mcOpenAddress); else taken = false; break;
      case Qt::Key_Q: if (control) CloseForm(); else taken = false; break;
      default: taken = false; break;
    }
  });
  if (taken) event->accept();
  else QWidget::keyPressEvent(event);
}

bool TPlatform::OpenFiles(const std::vector<std::string>& names, bool quiet) {
  bool taken = false;
  if (!names.empty()) Guarded([&] { taken = DropFiles(names, quiet); });
  return taken;
}

// Display and ticks.

void TPlatform::ShowTitle(const std::string& text) {
  FDisplay->SetTitle(text);
  // Read by screen readers; a change of it is announced.
  FImage1.setAccessibleName(SpokenTitle(text));
  ShowWindowTitle();
  ShowTip();
  FMenu->Playlist().menuAction()->setEnabled(!FController->PlayList().empty());
}

void TPlatform::ShowWindowTitle() {
  const TPlayController& c = *FController;
  setWindowTitle(WindowTitle(c.PlayState() != psStopped, c.SongTitle(), c.Player().Artist()));
}

void TPlatform::NotifyTrack() {
  if (!Item("Notify1")->isChecked()) return;
  if (!FNotifier) FNotifier = std::make_unique<TTrackNotifier>();
  FNotifier->Heard(*FController);
}

void TPlatform::ShowTip() { FTrayIcon->SetTipHelp(FController->TipText()); }

void TPlatform::wheelEvent(QWheelEvent* event) {
  event->accept();
  if (!CanSeekNow()) {
    FWheelDelta = 0;
    return;
  }
  FWheelDelta += event->angleDelta().y();
  const int32_t notches = FWheelDelta / 120;
  if (notches == 0) return;
  FWheelDelta -= notches * 120;
  constexpr int64_t kStepMs = 5000;
  Guarded([&] { FController->SeekBy(notches * kStepMs); });
}

void TPlatform::UpdatePanelMenu() { FMenu->SetPanelShown(FPanelVisible); }

void TPlatform::Timer1Timer() {
  // Without a notification area the panel is the only way in: it stays shown.
  if (FTrayWatch == nullptr && (++FTrayCheckTicks >= 10 || FTimerResting)) {
    FTrayCheckTicks = 0;
    ProbeTray();
  }
  const bool visible = FPanelVisible || FTrayMissing;
  if (isVisible() != visible) setVisible(visible);

  // The display: only what changed since the last tick is drawn and sent to the screen, and
  // nothing while the panel is hidden (it is drawn whole when it shows again).
  if (visible) {
    const int32_t position = FController->Player().Position();
    const QRect changed = FDisplay->Draw(position, FImage1.Picture());
    if (!changed.isEmpty()) FImage1.ShowPart(changed);
    // The play time for screen readers, only while one listens.
    if (!changed.isEmpty() && QAccessible::isActive()) FImage1.setAccessibleDescription(ToQ(TimeText(position)));
  } else {
    FDisplay->MarkStale();
  }
  FDisplay->Scroll();
  TickButtons();
  FController->WatchStation();

  // Hidden with no clicks to act on, a tick has nothing to do but look for the notification
  // area: the timer rests until the panel shows, a click comes or the notification area
  // changes. Where a watcher tells when it goes, it stops; elsewhere it ticks once a second,
  // each tick looking, as often as before.
  if (!visible && FClickCount == 0 && FStopDown == 0 && FTimer1.isActive() && !FTimerResting) {
    if (FTrayWatch != nullptr) FTimer1.stop();
    else FTimer1.setInterval(kRestInterval);
    FTimerResting = true;
  }
}

void TPlatform::TickButtons() {
  // Only while the stop button is really held: a release that never reached the button (the
  // panel hidden or the pointer taken by another window meanwhile) ends the hold.
  if (FStopDown > 0 && !(QGuiApplication::mouseButtons() & Qt::LeftButton)) FStopDown = 0;
  if (FStopDown > 0) {
    ++FStopDownTicks;
    if (FStopDownTicks == 10) CloseForm();
  } else if (FClickCount != 0) {
    if (FClickWait < FClickDelay) {
      ++FClickWait;
    } else {
      // Cleared first, so that a failure below is not acted on again at the next tick.
      const int32_t clicks = FClickCount;
      FClickCount = 0;
      FClickWait = 0;
      ActOnClicks(clicks);
    }
  }
}

void TPlatform::ProbeTray() { FTrayMissing = !QSystemTrayIcon::isSystemTrayAvailable(); }

void TPlatform::WatchTray() {
  FTrayWatch = TTrayWatch::Start([this] {
    Guarded([&] { ProbeTray(); });
    WakeTimer();
  });
}

void TPlatform::ActOnClicks(int32_t clicks) {
  switch (clicks) {
    case 1: FController->PlayPause(); break;
    case 2: FController->Next(); break;
    case 3: FController->Previous(); break;
    default: break;
  }
}

// Controls.

void TPlatform::GatherClick() {
  ++FClickCount;
  FClickWait = 0;
}

void TPlatform::SpeedButton2MouseDown(Qt::MouseButton button) {
  if (button == Qt::LeftButton) GatherClick();
}

void TPlatform::SpeedButton3MouseDown(Qt::MouseButton button) {
  // Held with the left button; the right one opens the menu.
  if (button != Qt::LeftButton) return;
  FStopDown = 1;
  FStopDownTicks = 0;
}

void TPlatform::SpeedButton3MouseUp(Qt::MouseButton) { FStopDown = 0; }

void TPlatform::Image1MouseDown(Qt::MouseButton button, int x, int y) {
  if (button != Qt::LeftButton) return;
  // A Wayland window does not move itself: the compositor drags it.
  if (OnWayland() && windowHandle() != nullptr && windowHandle()->startSystemMove()) return;
  FDragging = true;
  FDragMoved = false;
  FDragX = x;
  FDragY = y;
}

void TPlatform::Image1MouseMove(int x, int y) {
  if (!FDragging || (x == FDragX && y == FDragY)) return;
  FDragMoved = true;
  move(this->x() + x - FDragX, this->y() + y - FDragY);
}

void TPlatform::Image1MouseUp(Qt::MouseButton button, int, int) {
  if (button != Qt::LeftButton) return;
  // A click, not a drag, on a panel with nothing to play asks for something.
  if (FDragging && !FDragMoved) OpenWhenEmpty();
  FDragging = false;
}

void TPlatform::TrayIcon1MouseDown(TMouseButton button) {
  if (button != mbLeft || OpenWhenEmpty()) return;
  GatherClick();
  WakeTimer();
  if (isVisible()) {
    raise();
    activateWindow();
  }
}

void TPlatform::TrayIcon1DblClick() {
  // With nothing to play, the click before it has asked for something.
  if (FController->PlayList().empty()) return;
  GatherClick();
  WakeTimer();
}

// Menu commands.

void TPlatform::PLUMO1Click() { FAboutDialog->Execute(); }

void TPlatform::N4Click() {
  // Without a notification area the panel is kept shown whatever the option says: toggle the
  // option itself, or "show" could never be chosen.
  const bool visible = FTrayMissing ? !FPanelVisible : !isVisible();
  setVisible(visible || FTrayMissing);
  FPanelVisible = visible;
  TPanelSettings::SaveSetup(FSettingsFile, settings_keys::kVisible, FPanelVisible);
  Item("N6")->setEnabled(FPanelVisible);
  UpdatePanelMenu();
}

void TPlatform::N6Click() {
  FTopFlag = Item("N6")->isChecked();
  TPanelSettings::SaveSetup(FSettingsFile, settings_keys::kTopFlag, FTopFlag);
  ApplyTopFlag();
  HookPanelWindow();
}

void TPlatform::N13Click(QAction* sender) {
  sender->setChecked(true);
  FController->SetVolLevel(TPanelMenu::Value(sender));
}

void TPlatform::ReplayGainClick(TReplayGainMode mode) {
  FMenu->CheckReplayGain(mode);
  FController->SetReplayGainMode(mode);
  TPanelSettings::SaveReplayGain(FSettingsFile, mode);
}

void TPlatform::N5Click() {
  if (!Confirm || !Confirm(FromQ(tr("履歴を消去しますか?")))) return;
  TPanelSettings::EraseSection(FSettingsFile, TFileNameKeep::kSection);
  FFileNameKeep->Clear();
}

void TPlatform::ShowPanel() {
  if (!FPanelVisible) N4Click();
  if (isVisible()) {
    raise();
    activateWindow();
  }
}

}  // namespace plumo

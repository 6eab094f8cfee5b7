#include "panel_form.h"

#include <xcb/xcb.h>

#include <QCloseEvent>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusServiceWatcher>
#include <QEventLoop>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QScreen>
#include <QMimeData>
#include <QPainter>
#include <QSessionManager>
#include <QUrl>
#include <QWheelEvent>
#include <QWindow>
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <thread>

#include "forms.h"
#include "ini_file.h"
#include "file_stream.h"
#include "named_stream.h"
#include "playlist.h"
#include "resources.h"
#include "taskbar.h"

namespace plumo {

namespace {

// Display colours: dark text on the amber display.
const QColor kTextColour(23, 16, 0);
const QColor kBrushColour(204, 163, 0);
constexpr int kLcdWidth = 120;
constexpr int kLcdHeight = 16;
constexpr int kLcdLeft = 8;
constexpr int kLcdTop = 9;
constexpr int kTitleLeft = 48;
constexpr int kTitleWidth = 72;
// The panel's tick, and its rest while hidden where nothing tells when the notification area goes.
constexpr int kTickInterval = 100;
constexpr int kRestInterval = 1000;
// A hand-edited FileCount beyond the keys present cannot make the playlist grow without bound;
// a playlist the program wrote (one key per entry) is read back whole, however long.
constexpr size_t kMaxMissingFiles = 65536;

std::string CurrentDirectory() {
  std::error_code error;
  const std::filesystem::path p = std::filesystem::current_path(error);
  return error ? std::string() : p.string();
}

QFont DisplayFont() { return GothicFont(10, true); }

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

// Whether rows of pixels can be copied between the two images as they stand.
bool SameLayout(const QImage& a, const QImage& b) {
  return a.format() == b.format() && a.depth() == 32 && a.devicePixelRatio() == b.devicePixelRatio();
}

// Fills rect (in pixels, not in device-independent units) of image with colour, by rows where
// the image holds 32-bit opaque pixels.
void FillPixels(QImage& image, QRect rect, const QColor& colour) {
  rect &= image.rect();
  if (image.format() != QImage::Format_RGB32) {
    QPainter painter(&image);
    const qreal d = image.devicePixelRatio();
    painter.fillRect(QRectF(QPointF(rect.topLeft()) / d, QSizeF(rect.size()) / d), colour);
    return;
  }
  for (int y = rect.top(); y <= rect.bottom(); ++y)
    std::fill_n(reinterpret_cast<QRgb*>(image.scanLine(y)) + rect.x(), rect.width(), colour.rgb());
}

// Copies rect of from to to at at (both in pixels). A tick copies a few hundred pixels: plain
// row copies where the images share their layout, a painter otherwise.
void CopyPixels(QImage& to, QPoint at, const QImage& from, QRect rect) {
  rect &= from.rect();
  if (!SameLayout(to, from) || !to.rect().contains(QRect(at, rect.size()))) {
    QPainter painter(&to);
    const qreal d = to.devicePixelRatio();
    painter.drawImage(QRectF(QPointF(at) / d, QSizeF(rect.size()) / d), from, rect);
    return;
  }
  for (int y = 0; y < rect.height(); ++y) {
    const auto* source = reinterpret_cast<const QRgb*>(from.constScanLine(rect.y() + y)) + rect.x();
    std::copy_n(source, rect.width(), reinterpret_cast<QRgb*>(to.scanLine(at.y() + y)) + at.x());
  }
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

void TPlatform::QueueErrorBox(const std::exception_ptr& e) {
  // A message box runs an event loop of its own: shown from inside a handler of the player, a
  // drop or a D-Bus call, it would let the next one run before this one has finished.
  FQueuedErrors.push_back(e);
  if (FShowingErrors) return;
  FShowingErrors = true;
  QTimer::singleShot(0, this, [this] { ShowQueuedErrors(); });
}

void TPlatform::ShowQueuedErrors() {
  while (!FQueuedErrors.empty()) {
    const std::exception_ptr e = FQueuedErrors.front();
    FQueuedErrors.pop_front();
    ShowExceptionBox(isVisible() ? this : nullptr, e);
  }
  FShowingErrors = false;
}

TPlatform::TPlatform(std::shared_ptr<platform::WaveDriver> driver, std::string settings_file,
                     TShowException show_exception)
    : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint),
      ShowException(std::move(show_exception)),
      FSettingsFile(std::move(settings_file)),
      FPump([this] { PumpPlayer(); }),
      FPlayer(std::make_unique<TMP3Player>(std::move(driver))),
      FConnectWake([this] { Guarded([&] { ConnectReady(); }); }),
      FImage1(this),
      FSpeedButton2(this),
      FSpeedButton3(this),
      FPopupMenu1(this),
      FN8(this),
      FHistory1(this),
      FVolumeGroup(this),
      FReplayGain1(this),
      FReplayGainGroup(this),
      FTrayWindow(this) {
  InitResources();
  if (!ShowException) ShowException = [this](const std::exception_ptr& e) { QueueErrorBox(e); };
  Confirm = [this](const std::string& text) { return ConfirmBox(isVisible() ? this : nullptr, "PLUMO", text); };
  OpenPlaylist = [](const std::string& path) -> std::unique_ptr<TStream> { return std::make_unique<TFileStream>(path); };

  // The form.
  setObjectName(QStringLiteral("Platform"));
  setWindowTitle(QStringLiteral("PLUMO"));
  setWindowIcon(ProgramIcon());
  setFixedSize(kWidth, kHeight);
  move(kDesignLeft, kDesignTop);
  setFont(PGothicFont(12));
  FDisplayFont = DisplayFont();

  // The popup menu.
  BuildMenu();

  // The picture and the buttons.
  FImage1.setObjectName(QStringLiteral("Image1"));
  // The picture covers the panel: nothing beneath it needs painting when the display changes.
  FImage1.setAttribute(Qt::WA_OpaquePaintEvent);
  // On a HiDPI screen the pictures and the display are drawn at twice the size.
  FPixelRatio = PictureRatio(devicePixelRatioF());
  FImage1.SetPicture(BackgroundImage(FPixelRatio));
  FImage1.move(0, 0);
  FImage1.PopupMenu = &FPopupMenu1;
  FImage1.OnMouseDown = [this](Qt::MouseButton b, int x, int y) { Guarded([&] { Image1MouseDown(b, x, y); }); };
  FImage1.OnMouseMove = [this](int x, int y) { Guarded([&] { Image1MouseMove(x, y); }); };
  FImage1.OnMouseUp = [this](Qt::MouseButton b, int x, int y) { Guarded([&] { Image1MouseUp(b, x, y); }); };
  FSpeedButton2.setObjectName(QStringLiteral("SpeedButton2"));
  FSpeedButton2.setGeometry(136, 8, 18, 18);
  FSpeedButton2.SetGlyph(PlayGlyph(FPixelRatio));
  FSpeedButton2.PopupMenu = &FPopupMenu1;
  FSpeedButton2.OnMouseDown = [this](Qt::MouseButton b) { Guarded([&] { SpeedButton2MouseDown(b); }); };
  FSpeedButton3.setObjectName(QStringLiteral("SpeedButton3"));
  FSpeedButton3.setGeometry(154, 8, 18, 18);
  FSpeedButton3.SetGlyph(StopGlyph(FPixelRatio));
  FSpeedButton3.PopupMenu = &FPopupMenu1;
  FSpeedButton3.OnMouseDown = [this](Qt::MouseButton b) { Guarded([&] { SpeedButton3MouseDown(b); }); };
  FSpeedButton3.OnMouseUp = [this](Qt::MouseButton b) { Guarded([&] { SpeedButton3MouseUp(b); }); };
  FSpeedButton3.OnClick = [this] { Guarded([&] { SpeedButton3Click(); }); };

  // The player, with the form's values; its notifications are pumped by the event loop.
  TMP3Player& player = *FPlayer;
  player.BeginLoad();
  player.SetAutoOpen(true);
  player.SetAutoPlay(false);
  player.SetChangePosStep(400);
  player.SetDecodePriority(tpNormal);
  player.SetEqualizerEnabled(false);
  player.SetEqualizerCount(6);
  player.SetEqualizerMode(memSubBand);
  player.SetNeedInfoType(TMP3InfoTypes{mitID3V1, mitID3V2, mitRiff, mitApe});
  player.SetNoisySeek(true);
  player.SetInvertPolarity(false);
  player.SetUsingCpuCapabilities(kAllCpuCapabilities);
  player.SetVolBalance(0);
  player.SetVolume(0);
  player.OnEndPlay = [this](TMP3Player*, TMP3EndPlayReason reason) { MP3Player1EndPlay(reason); };
  player.OnGetNextFile = [this](TMP3Player*) { return MP3Player1GetNextFile(); };
  player.OnTrackChange = [this](TMP3Player*) { MP3Player1TrackChange(); };
  player.OnTitleChange = [this](TMP3Player*) { MP3Player1TitleChange(); };
  player.ShowException = [this](const std::exception_ptr& e) { Report(e); };
  player.Window().SetWakeCallback([this] { FPump.Set(); });
  player.Loaded();

  // The timer.
  FTimer1.setObjectName(QStringLiteral("Timer1"));
  FTimer1.setInterval(kTickInterval);
  connect(&FTimer1, &QTimer::timeout, this, [this] { Guarded([&] { Timer1Timer(); }); });

  // The tray icon.
  FTrayIcon = std::make_unique<TTrayIcon>(this, FTrayWindow);
  FTrayIcon->BeginLoad();
  FTrayIcon->SetIcon(ProgramIcon());
  // Under Wayland the notification area shows the menu itself, where the desktop places it.
  if (OnWayland()) FTrayIcon->SystemTrayIcon().setContextMenu(&FPopupMenu1);
  else FTrayIcon->SetRBPopupMenu(&FPopupMenu1);
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

  // The about box.
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

  // The history under History1.
  FFileNameKeep = std::make_unique<TFileNameKeep>(this, FSettingsFile);
  FFileNameKeep->OnSelect = [this](TFileNameKeep*, const std::string& name) {
    Guarded([&] { FileNameKeep1Select(name); });
  };
  FFileNameKeep->SetParentMenu(&FHistory1);

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
  CancelConnect();
  // The components go in this order: the player stops, the tray icon leaves, the history saves.
  FPlayer->OnEndPlay = nullptr;
  FPlayer->OnTitleChange = nullptr;
  FPlayer->ShowException = nullptr;
  FPlayer->Window().SetWakeCallback(nullptr);
  FPlayer.reset();
  FTrayIcon.reset();
  FFileNameKeep.reset();
}

QAction* TPlatform::AddItem(QMenu& menu, const char* name, const char* caption) {
  QAction* item = menu.addAction(tr(caption));
  item->setObjectName(QString::fromLatin1(name));
  return item;
}

void TPlatform::BuildMenu() {
  FPopupMenu1.setObjectName(QStringLiteral("PopupMenu1"));
  QAction* about = AddItem(FPopupMenu1, "PLUMO1", QT_TR_NOOP("PLUMOについて"));
  connect(about, &QAction::triggered, this, [this] { Guarded([&] { PLUMO1Click(); }); });
  FPopupMenu1.addSeparator()->setObjectName(QStringLiteral("N2"));
  QAction* n4 = AddItem(FPopupMenu1, "N4", QT_TR_NOOP("パネルを隠す"));
  connect(n4, &QAction::triggered, this, [this] { Guarded([&] { N4Click(); }); });
  QAction* n6 = AddItem(FPopupMenu1, "N6", QT_TR_NOOP("常に先頭に表示"));
  n6->setCheckable(true);
  connect(n6, &QAction::triggered, this, [this] { Guarded([&] { N6Click(); }); });
  FPopupMenu1.addSeparator()->setObjectName(QStringLiteral("N7"));

  FN8.setTitle(tr("音量"));
  FN8.menuAction()->setObjectName(QStringLiteral("N8"));
  FPopupMenu1.addMenu(&FN8);
  FVolumeGroup.setExclusive(true);
  const std::pair<const char*, const char*> volume_items[] = {
      {"N9", QT_TR_NOOP("最大")}, {"N10", QT_TR_NOOP("大")},  {"N11", QT_TR_NOOP("中")},
      {"N12", QT_TR_NOOP("小")},  {"N14", QT_TR_NOOP("極小")}, {"N13", QT_TR_NOOP("消音")}};
  for (const auto& [name, caption] : volume_items) {
    QAction* item = AddItem(FN8, name, caption);
    item->setCheckable(true);
    FVolumeGroup.addAction(item);
    connect(item, &QAction::triggered, this, [this, item] { Guarded([&] { N13Click(item); }); });
  }
  Item("N9")->setChecked(true);

  // ReplayGain: play every file at the level its tags give for the track or the album.
  FReplayGain1.setTitle(tr("ReplayGain"));
  FReplayGain1.menuAction()->setObjectName(QStringLiteral("ReplayGain1"));
  FPopupMenu1.addMenu(&FReplayGain1);
  FReplayGainGroup.setExclusive(true);
  const std::pair<const char*, const char*> gain_items[] = {
      {"ReplayGainOff", QT_TR_NOOP("オフ")}, {"ReplayGainTrack", QT_TR_NOOP("トラック")}, {"ReplayGainAlbum", QT_TR_NOOP("アルバム")}};
  for (size_t i = 0; i < std::size(gain_items); ++i) {
    QAction* item = AddItem(FReplayGain1, gain_items[i].first, gain_items[i].second);
    item->setCheckable(true);
    FReplayGainGroup.addAction(item);
    const auto mode = static_cast<TReplayGainMode>(i);
    connect(item, &QAction::triggered, this, [this, mode] { Guarded([&] { ReplayGainClick(mode); }); });
  }
  Item("ReplayGainOff")->setChecked(true);
  FPopupMenu1.addSeparator()->setObjectName(QStringLiteral("N3"));

  FHistory1.setTitle(tr("履歴"));
  FHistory1.menuAction()->setObjectName(QStringLiteral("History1"));
  FHistory1.setEnabled(false);
  FHistory1.menuAction()->setEnabled(false);
  FPopupMenu1.addMenu(&FHistory1);
  QAction* n5 = AddItem(FPopupMenu1, "N5", QT_TR_NOOP("履歴を消去"));
  connect(n5, &QAction::triggered, this, [this] { Guarded([&] { N5Click(); }); });
  FPopupMenu1.addSeparator()->setObjectName(QStringLiteral("N1"));
  QAction* exit = AddItem(FPopupMenu1, "Exit1", QT_TR_NOOP("終了"));
  connect(exit, &QAction::triggered, this, [this] { Guarded([&] { Exit1Click(); }); });
}

QAction* TPlatform::Item(const std::string& name) const {
  return findChild<QAction*>(QString::fromStdString(name));
}

// Start-up and closing.

void TPlatform::FormCreate() {
  FCurrentDir = CurrentDirectory();
  FPlayList.clear();
  FTopFlag = false;
  FVolLevel = 100;

  {
    const platform::IniFile ini(FSettingsFile);
    move(OnSomeScreen(QPoint(ini.ReadInteger("Setup", "Left", x()), ini.ReadInteger("Setup", "Top", y()))));
    const int32_t count = static_cast<int32_t>(std::min<int64_t>(
        ini.ReadInteger("Option", "FileCount", 0),
        static_cast<int64_t>(std::max(ini.KeyCount("Option"), kMaxMissingFiles))));
    for (int32_t i = 0; i < count; ++i) {
      FPlayList.push_back(ini.ReadString("Option", "File" + std::to_string(i), ""));
      std::string title = ini.ReadString("Option", "Title" + std::to_string(i), "");
      if (!title.empty()) FEntryTitles[FPlayList.back()] = std::move(title);
    }
    FCurrentDir = ini.ReadString("Option", "CurrentDir", FCurrentDir);
    FNowIndex = ini.ReadInteger("Option", "NowIndex", 0);
    const int32_t gain = ini.ReadInteger("Option", "ReplayGain", rgmOff);
    if (gain >= rgmOff && gain <= rgmAlbum) {
      FPlayer->SetReplayGainMode(static_cast<TReplayGainMode>(gain));
      FReplayGainGroup.actions().at(gain)->setChecked(true);
    }
    // A hand-edited index outside the playlist starts at the first entry.
    if (FNowIndex < 0 || FNowIndex >= static_cast<int32_t>(FPlayList.size())) FNowIndex = 0;
    FSavedNowIndex = FNowIndex;
    FPanelVisible = ini.ReadBool("Setup", "Visible", false);
    Item("N6")->setEnabled(FPanelVisible);
    FTopFlag = ini.ReadBool("Setup", "TopFlag", false);
    ApplyTopFlag();
    Item("N6")->setChecked(FTopFlag);
    FVolLevel = ini.ReadInteger("Setup", "VolLevel", 100);
    const char* checked = "N13";
    switch (FVolLevel / 20) {
      case 5: checked = "N9"; break;
      case 4: checked = "N10"; break;
      case 3: checked = "N11"; break;
      case 2: checked = "N12"; break;
      case 1: checked = "N14"; break;
      default: break;
    }
    Item(checked)->setChecked(true);
  }
  UpdatePanelMenu();

  FDragging = false;
  FDragX = 0;
  FDragY = 0;
  FClickCount = 0;
  FClickDelay = 5;
  FStopDown = 0;
  FStopDownTicks = 0;
  FScrollPos = 0;
  FPlayState = psPaused;

  FTitleBitmap = Bitmap(1, kLcdHeight);
  FTitleBitmap.fill(kBrushColour);
  FLcdBitmap = Bitmap(kLcdWidth, kLcdHeight);
  FLcdBitmap.fill(kBrushColour);
  FLcdStale = true;

  HookPanelWindow();
  FTimer1.start();
  Guarded([&] { StopPlay(); });
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
  platform::IniFile ini(FSettingsFile);
  ini.WriteInteger("Setup", "Left", x());
  ini.WriteInteger("Setup", "Top", y());
  ini.EraseSection("Option");
  ini.WriteInteger("Option", "FileCount", static_cast<int32_t>(FPlayList.size()));
  for (size_t i = 0; i < FPlayList.size(); ++i) {
    ini.WriteString("Option", "File" + std::to_string(i), FPlayList[i]);
    // The title a playlist gave the entry (a station's name in its .pls).
    if (const auto title = FEntryTitles.find(FPlayList[i]); title != FEntryTitles.end())
      ini.WriteString("Option", "Title" + std::to_string(i), title->second);
  }
  ini.WriteString("Option", "CurrentDir", FCurrentDir);
  ini.WriteInteger("Option", "NowIndex", FNowIndex);
  ini.WriteInteger("Option", "ReplayGain", FPlayer->ReplayGainMode());
  ini.UpdateFile();
  FSavedNowIndex = FNowIndex;
}

void TPlatform::SaveNowIndex() {
  if (FNowIndex == FSavedNowIndex || FPlayList.empty()) return;
  try {
    platform::IniFile ini(FSettingsFile);
    ini.WriteInteger("Option", "NowIndex", FNowIndex);
    ini.UpdateFile();
    FSavedNowIndex = FNowIndex;
  } catch (const platform::IniWriteError&) {
    // A settings file that cannot be written is reported by the next drop or the close; a
    // track change must not stop on it.
  }
}

void TPlatform::WriteSetupKey(const char* key, int32_t value) {
  platform::IniFile ini(FSettingsFile);
  ini.WriteInteger("Setup", key, value);
  ini.UpdateFile();
}

// Drops.

namespace {

// What a drag carries for the panel: its local files; where it carries none, the http and https
// addresses of its URI list (a browser's link), else its plain text when every line of it is
// such an address. A drag with none of these (other text, other links) offers nothing. The
// names are taken from the URI list's own bytes: a file name that is not valid UTF-8 would not
// survive the round trip through QUrl and QString.
std::vector<std::string> DroppedNames(const QMimeData* data) {
  std::vector<std::string> names;
  if (data == nullptr) return names;
  std::vector<std::string> addresses;
  if (data->hasUrls()) {
    const QByteArray list = data->data(QStringLiteral("text/uri-list"));
    for (const QByteArray& raw : list.split('\n')) {
      const QByteArray line = raw.trimmed();
      if (line.isEmpty() || line.startsWith('#')) continue;
      std::string path = LocalFileOfUri(line.toStdString());
      if (!path.empty()) names.push_back(std::move(path));
      else if (IsStreamAddress(line.toStdString())) addresses.push_back(line.toStdString());
    }
  }
  if (!names.empty()) return names;
  if (addresses.empty() && data->hasText()) {
    for (const QString& raw : data->text().split(QLatin1Char('\n'))) {
      const std::string line = FromQ(raw.trimmed());
      if (line.empty()) continue;
      if (!IsStreamAddress(line) || line.find_first_of(" \t") != std::string::npos) return {};
      addresses.push_back(line);
    }
  }
  return addresses;
}

// What an intake gathered: the new playlist, the names that gave it entries (for the history),
// the current folder after them, whether any entry can be played, and the failure that ended
// the gathering early.
struct TIntake {
  std::vector<std::string> Entries;
  std::vector<std::string> Contributed;
  std::string CurrentDir;
  TEntryTitles Titles;
  bool Playable = false;
  std::exception_ptr Error;
};

// The name the player is given for a playlist entry, or "" when it cannot be played: a stream
// address as it stands, else the file where it is found (a relative entry in current_dir).
std::string PlayableName(const std::string& entry, const std::string& current_dir) {
  if (IsStreamAddress(entry)) return entry;
  std::string path = HasDrivePart(entry) ? entry : JoinFolder(current_dir, entry);
  return FileExists(path) ? path : std::string();
}

using TOpenPlaylist = std::function<std::unique_ptr<TStream>(const std::string& path)>;

// Gathers the entries the names stand for, in order: audio files, the lines of playlists, the
// audio files of folders (walked whole). Runs off the GUI thread; touches nothing of the panel.
TIntake Gather(const std::vector<std::string>& names, std::string current_dir, const TOpenPlaylist& open) {
  TIntake in;
  in.CurrentDir = std::move(current_dir);
  try {
    for (const std::string& path : names) {
      // A stream address is an entry as it stands (its history entry too).
      if (IsStreamAddress(path)) {
        in.Entries.push_back(path);
        in.Contributed.push_back(path);
        continue;
      }
      if (!FileExists(path) && !FolderExists(path)) continue;
      const size_t before = in.Entries.size();
      if (IsAudioFile(path) && !FolderExists(path)) {
        in.Entries.push_back(path);
        in.CurrentDir = ExtractFileDir(path);
      } else if (IsPlaylistFile(path) && !FolderExists(path)) {
        // A FIFO or a device named like a playlist would block the reader for as long as no
        // one writes to it.
        if (!RegularFileExists(path))
          throw EFOpenError("Cannot open file \"" + path + "\". Not a regular file");
        // Relative lines are resolved against the playlist's own folder. A playlist that
        // breaks off keeps the lines read before.
        const std::unique_ptr<TStream> stream = open(path);
        try {
          ReadPlaylist(*stream, path, in.Entries, &in.Titles);
        } catch (...) {
          if (in.Entries.size() > before) in.Contributed.push_back(path);
          throw;
        }
        in.CurrentDir = ExtractFileDir(path);
      } else if (FolderExists(path)) {
        // A folder contributes its audio files; a folder without any is passed over entirely.
        const std::vector<std::string> files = FolderAudioFiles(path);
        if (files.empty()) continue;
        in.Entries.insert(in.Entries.end(), files.begin(), files.end());
        in.CurrentDir = path.size() > 1 && path.back() == '/' ? path.substr(0, path.size() - 1) : path;
      }
      if (in.Entries.size() > before || IsAudioFile(path) || IsPlaylistFile(path)) in.Contributed.push_back(path);
    }
  } catch (...) {
    in.Error = std::current_exception();
  }
  // Playable: a stream address or a file that is there (relative entries are found from the
  // current folder, as the title does).
  in.Playable = std::any_of(in.Entries.begin(), in.Entries.end(),
                            [&in](const std::string& entry) { return !PlayableName(entry, in.CurrentDir).empty(); });
  return in;
}

// "a, b, c に再生できるファイルがありません", with at most three names.
std::string NothingPlayableText(const std::vector<std::string>& names) {
  std::string text;
  for (size_t i = 0; i < names.size() && i < 3; ++i) text += (i > 0 ? ", " : "") + names[i];
  QString q = ToQ(text);
  if (names.size() > 3)
    q = QCoreApplication::translate("plumo::TPlatform", "%1 ほか %2 件")
            .arg(q, QString::number(names.size() - 3));
  return FromQ(QCoreApplication::translate("plumo::TPlatform", "%1 に再生できるファイルがありません").arg(q));
}

}  // namespace

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

bool TPlatform::OpenFiles(const std::vector<std::string>& names, bool quiet) {
  bool taken = false;
  if (!names.empty()) Guarded([&] { taken = DropFiles(names, quiet); });
  return taken;
}

// Playlist and intake.

bool TPlatform::DropFiles(const std::vector<std::string>& names, bool quiet) {
  const uint64_t intake = ++FIntakeCount;
  // Folders are walked and playlists read on a thread of their own; the event loop runs
  // meanwhile, so the panel keeps drawing and answering.
  TIntake in;
  {
    QEventLoop loop;
    TWakeEvent gathered([&loop] { loop.quit(); });
    std::thread worker([&gathered, &in, &names, open = OpenPlaylist, dir = FCurrentDir] {
      in = Gather(names, dir, open);
      gathered.Set();
    });
    loop.exec();
    // Returned early only when the application quits: the gathering still ends by itself.
    worker.join();
  }
  // Closed meanwhile, or overtaken by a later intake.
  if (FClosed || intake != FIntakeCount) return false;
  if (!in.Playable) {
    if (in.Error) Report(in.Error);
    else if (!quiet) Report(std::make_exception_ptr(std::runtime_error(NothingPlayableText(names))));
    return false;
  }
  StopBeforeChange();
  FPlayList = std::move(in.Entries);
  FEntryTitles = std::move(in.Titles);
  // A new playlist: its entries that fail are said again.
  FReportedEntries.clear();
  FFailedInRound.clear();
  ResetIndex();
  FCurrentDir = in.CurrentDir;
  for (const std::string& name : in.Contributed) FFileNameKeep->Add(name);
  try {
    SaveSettings();
    StartPlay();
  } catch (...) {
    Report(std::current_exception());
  }
  if (in.Error) Report(in.Error);
  return true;
}

void TPlatform::FileNameKeep1Select(const std::string& select_file_name) { DropFiles({select_file_name}); }

void TPlatform::NextIndex() {
  ++FNowIndex;
  if (FNowIndex >= static_cast<int32_t>(FPlayList.size())) FNowIndex = 0;
}

void TPlatform::PrevIndex() {
  --FNowIndex;
  if (FNowIndex < 0) FNowIndex = static_cast<int32_t>(FPlayList.size()) - 1;
  if (FNowIndex < 0) FNowIndex = 0;
}

std::string TPlatform::SongTitle() const {
  const std::string& file = FPlayer->FileName();
  const std::string entry = file.empty() ? FChosenAddress : file;
  const std::string song = FPlayer->Title();
  // Until the stream or the tags name it, the player offers the name's last part: the title the
  // playlist gave the entry is better, and a stream's whole address says more than its end.
  if (song.empty() || song == entry.substr(entry.find_last_of('/') + 1)) {
    if (const auto title = FEntryTitles.find(entry); title != FEntryTitles.end()) return title->second;
    if (IsStreamAddress(entry)) return entry;
  }
  return song.empty() ? NameWithoutExtension(file) : song;
}

std::string TPlatform::MakeTitle(const std::string& state) {
  std::string title = "[" + state + "]";
  if (FPlayList.empty()) return kNoTitle;
  TMP3Player& player = *FPlayer;
  if (FPlayState == psStopped) {
    CancelConnect();
    FChosenAddress.clear();
    const int32_t start = FNowIndex;
    for (;;) {
      const std::string& entry = FPlayList[static_cast<size_t>(FNowIndex)];
      const std::string name = PlayableName(entry, FCurrentDir.empty() ? CurrentDirectory() : FCurrentDir);
      // An entry that failed to open in this round is passed over as a missing file is.
      if (!name.empty() && FFailedInRound.count(FNowIndex) == 0) {
        if (IsStreamAddress(name)) {
          // Connected to only when it is to play (StartPlay), and never here: that would keep
          // the panel waiting on the network.
          if (player.Opened() || !player.FileName().empty()) player.SetFileName("");
          FChosenAddress = name;
          break;
        }
        try {
          // A relative entry is given to the player as the path it was found at.
          player.SetFileName(name);
          player.SetVolume(0);
          break;
        } catch (...) {
          EntryFailed(std::current_exception());
        }
      }
      NextIndex();
      if (FNowIndex == start) {
        player.SetFileName("");
        return kNoTitle;
      }
    }
  }
  // "[PLAY]接続中… Station"
  if (FConnect) title += FromQ(tr("接続中… "));
  title += SongTitle();
  const std::string album = player.Album();
  if (!album.empty()) title += "(" + album + ")";
  const std::string artist = player.Artist();
  if (!artist.empty()) title += " / " + artist;
  return title;
}

void TPlatform::MP3Player1EndPlay(TMP3EndPlayReason reason) {
  // The playback has ended: nothing chained follows it any more.
  FChainedIndexes.clear();
  if (reason == merSuccessful && FPlayState == psPlaying) {
    // A live stream that ended early (the connection lost) is said once; the next entry follows
    // as at the end of the data.
    const std::string message = FPlayer->EndMessage();
    if (!message.empty() && !FPlayList.empty() &&
        FReportedEntries.insert(FPlayList[static_cast<size_t>(FNowIndex)]).second)
      Report(std::make_exception_ptr(std::runtime_error(message)));
    StopBeforeChange();
    NextIndex();
    StartPlay();
  } else if (reason == merFailure && OnChange) {
    // The player stopped by itself; the panel shows what it did until the user acts.
    OnChange();
  }
}

std::string TPlatform::MP3Player1GetNextFile() {
  const int32_t count = static_cast<int32_t>(FPlayList.size());
  if (count == 0 || FPlayState == psStopped) return "";
  const int32_t from = FChainedIndexes.empty() ? FNowIndex : FChainedIndexes.back();
  const std::string dir = FCurrentDir.empty() ? CurrentDirectory() : FCurrentDir;
  for (int32_t step = 1; step <= count; ++step) {
    const int32_t index = (from + step) % count;
    const std::string name = PlayableName(FPlayList[static_cast<size_t>(index)], dir);
    if (name.empty() || FFailedInRound.count(index) != 0) continue;
    // A stream is connected to by the panel when the playback before it ends.
    if (IsStreamAddress(name)) return "";
    FChainedIndexes.push_back(index);
    return name;
  }
  return "";
}

void TPlatform::MP3Player1TrackChange() {
  if (FChainedIndexes.empty()) return;
  FNowIndex = FChainedIndexes.front();
  FChainedIndexes.pop_front();
  DrawTitle(FPlayState == psPaused ? "PAUSE" : "PLAY");
}

void TPlatform::MP3Player1TitleChange() {
  if (FPlayState != psStopped) DrawTitle(FPlayState == psPaused ? "PAUSE" : "PLAY");
}

// Playback and display.

void TPlatform::StartPlay() {
  // Played by the user's wish: every entry is tried again.
  FFailedInRound.clear();
  StartPlayInRound();
}

void TPlatform::StartPlayInRound() {
  DrawTitle(QT_TR_NOOP("PLAY"));
  if (FPlayList.empty()) return;
  if (!FChosenAddress.empty() && FPlayState == psStopped) {
    // The panel plays on while the stream connects; it plays once connected.
    StartConnect(FChosenAddress);
    FPlayState = psPlaying;
    DrawTitle(QT_TR_NOOP("PLAY"));
    return;
  }
  if (!FPlayer->FileName().empty()) {
    FPlayer->SetVolume(FVolLevel);
    FPlayer->Play();
    FPlayState = psPlaying;
    FFailedInRound.clear();
    if (OnChange) OnChange();
  }
}

void TPlatform::EntryFailed(const std::exception_ptr& e) {
  if (FPlayList.empty()) return;
  // Said once: a playlist that comes round to it again does not say it again.
  if (FReportedEntries.insert(FPlayList[static_cast<size_t>(FNowIndex)]).second) Report(e);
  FFailedInRound.insert(FNowIndex);
}

void TPlatform::StartConnect(const std::string& address) {
  CancelConnect();
  THttpOptions options;
  // On the stream's own thread: only wakes the panel.
  options.OnReady = [this] { FConnectWake.Set(); };
  FConnectIndex = FNowIndex;
  FConnect = std::make_unique<THttpStream>(address, std::move(options));
  // A stream that knows at once (a refusal) may have been ready before OnReady was set up.
  if (FConnect->Ready()) FConnectWake.Set();
}

void TPlatform::CancelConnect() {
  // Destroying the stream cancels its transfer at once.
  FConnect.reset();
}

void TPlatform::ConnectReady() {
  if (!FConnect || !FConnect->Ready()) return;
  std::unique_ptr<THttpStream> stream = std::move(FConnect);
  try {
    // Raises why the connection failed, or that the answer is not MPEG audio.
    stream->WaitReady();
    const std::string address = stream->Address();
    FPlayer->OpenStream(address, std::move(stream), TMP3Player::kOwned);
  } catch (...) {
    // As a file whose open failed: said once, and the next entry plays.
    FNowIndex = FConnectIndex;
    EntryFailed(std::current_exception());
    FPlayState = psStopped;
    NextIndex();
    StartPlayInRound();
    return;
  }
  FChosenAddress.clear();
  FFailedInRound.clear();
  DrawTitle(QT_TR_NOOP("PLAY"));
  FPlayer->SetVolume(FVolLevel);
  FPlayer->Play();
  if (OnChange) OnChange();
}

void TPlatform::StopPlay() {
  CancelConnect();
  if (FPlayState == psStopped) ResetIndex();
  // A chained entry heard by now becomes the current one as the player stops; none follows.
  try {
    FPlayer->Stop();
  } catch (...) {
    FChainedIndexes.clear();
    throw;
  }
  FChainedIndexes.clear();
  FPlayState = psStopped;
  DrawTitle(QT_TR_NOOP("STOP"));
}

void TPlatform::StopBeforeChange() {
  // Stopping reloads the current entry for the title. When the player cannot open it (a stream
  // address, a file that is not MPEG audio) that was reported when it was loaded; it must not
  // keep the panel from moving on to another entry or another playlist, or a broken first
  // entry would refuse every later drop and history pick.
  try {
    StopPlay();
  } catch (const std::exception&) {
  }
}

void TPlatform::PausePlay() {
  // Paused while connecting: the connection is given up; resuming connects again.
  CancelConnect();
  FPlayer->Pause();
  FPlayState = psPaused;
  DrawTitle(QT_TR_NOOP("PAUSE"));
}

bool TPlatform::CanSeekNow() const {
  return FPlayer->CanSeek() && FPlayer->Status() != mpsStopped;
}

bool TPlatform::SeekTo(int64_t sample) {
  if (!CanSeekNow()) return false;
  // A chained entry heard by now becomes the current one as the player seeks; the player asks
  // for the next entry again, from the current one.
  try {
    FPlayer->Seek(std::clamp<int64_t>(sample, 0, std::max<int64_t>(0, FPlayer->LengthSamples())));
  } catch (...) {
    FChainedIndexes.clear();
    throw;
  }
  FChainedIndexes.clear();
  if (OnSeek) OnSeek();
  return true;
}

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
  Guarded([&] {
    const int64_t rate = FPlayer->Source().SampleRate();
    const int64_t at = static_cast<int64_t>(FPlayer->Position()) * rate / 1000;
    SeekTo(at + notches * kStepMs * rate / 1000);
  });
}

void TPlatform::ResumePlay() {
  if (!FChosenAddress.empty() && !FPlayer->Opened()) {
    // Paused while it connected: it connects again.
    FPlayState = psStopped;
    StartPlay();
    return;
  }
  FPlayer->Resume();
  FPlayState = psPlaying;
  DrawTitle(QT_TR_NOOP("PLAY"));
}

// state is the state word as written ("PLAY"); the display and the tray's tip show it in the
// user's language.
void TPlatform::DrawTitle(const std::string& state) {
  const std::string text = MakeTitle(FromQ(tr(state.c_str())));
  FTitle = text;
  const QFont font = DisplayFont();
  const QString q = ToQ(text);
  const int width = QFontMetrics(font).horizontalAdvance(q) + 1;
  FTitleBitmap = Bitmap(width, kLcdHeight);
  FTitleBitmap.fill(kBrushColour);
  {
    QPainter painter(&FTitleBitmap);
    painter.setFont(font);
    painter.setPen(kTextColour);
    // Marks over capitals (Ü, É, Å) and the brackets rise above the font's ascent and would be
    // cut off at the strip's top: every title goes down by as much, into the rows the font leaves
    // free below its descent (the same for every title, so that it never jumps).
    const QFontMetrics metrics(font);
    const int above = -(metrics.ascent() + metrics.tightBoundingRect(QStringLiteral("[ÅÉÜ]")).top());
    const int down = std::clamp(above, 0, std::max(0, kLcdHeight - metrics.height()));
    painter.drawText(QRect(0, down, width, kLcdHeight - down), Qt::AlignLeft | Qt::AlignTop, q);
  }
  FTrayIcon->SetTipHelp("PLUMO:" + text);
  FLcdStale = true;
  FScrollPos = 0;
  FScrollPause = 10;
  SaveNowIndex();
  if (OnChange) OnChange();
}

QImage TPlatform::Bitmap(int width, int height) const {
  QImage image(static_cast<int>(width * FPixelRatio), static_cast<int>(height * FPixelRatio), QImage::Format_RGB32);
  image.setDevicePixelRatio(FPixelRatio);
  return image;
}

int TPlatform::TitleWidth() const { return static_cast<int>(FTitleBitmap.width() / FPixelRatio); }

void TPlatform::UpdatePanelMenu() {
  Item("N4")->setText(FPanelVisible ? tr("パネルを隠す") : tr("パネルを表示"));
}

void TPlatform::Timer1Timer() {
  // Without a notification area the panel is the only way in: it stays shown.
  if (FTrayWatch == nullptr && (++FTrayCheckTicks >= 10 || FTimerResting)) {
    FTrayCheckTicks = 0;
    ProbeTray();
  }
  const bool visible = FPanelVisible || FTrayMissing;
  if (isVisible() != visible) setVisible(visible);

  // The display. Only what changed since the last tick is drawn and sent to the screen, and
  // nothing while the panel is hidden (it is drawn whole when it shows again).
  if (visible) {
    const int32_t position = FPlayer->Position();
    const int r = static_cast<int>(FPixelRatio);
    const auto pixels = [r](QRect rect) { return QRect(rect.topLeft() * r, rect.size() * r); };
    QRect changed;  // in the display's own units
    if (FLcdStale || position / 1000 != FShownSeconds) {
      // The whole field left of the title is drawn anew: a shorter time after a longer one
      // ("00:00" after "100:00" at a change of track) leaves none of its digits behind, and a
      // longer one never reaches into the title.
      const QString time = ToQ(TimeText(position));
      const QRect field(0, 0, kTitleLeft, kLcdHeight);
      QPainter painter(&FLcdBitmap);
      painter.setFont(FDisplayFont);
      painter.setPen(kTextColour);
      painter.fillRect(field, kBrushColour);
      painter.setClipRect(field);
      painter.drawText(field, Qt::AlignLeft | Qt::AlignTop, time);
      changed |= field;
      FShownSeconds = position / 1000;
    }
    if (FLcdStale || FScrollPos != FShownScrollPos) {
      // The slice past the strip's right end shows the empty display.
      const QRect slice(kTitleLeft, 0, kTitleWidth, kLcdHeight);
      const int shown = std::clamp(TitleWidth() - FScrollPos, 0, kTitleWidth);
      if (shown < kTitleWidth)
        FillPixels(FLcdBitmap, pixels(QRect(kTitleLeft + shown, 0, kTitleWidth - shown, kLcdHeight)), kBrushColour);
      CopyPixels(FLcdBitmap, slice.topLeft() * r, FTitleBitmap, pixels(QRect(FScrollPos, 0, shown, kLcdHeight)));
      changed |= slice;
      FShownScrollPos = FScrollPos;
    }
    if (FLcdStale) changed = QRect(0, 0, kLcdWidth, kLcdHeight);
    FLcdStale = false;
    if (!changed.isEmpty()) {
      CopyPixels(FImage1.Picture(), (changed.topLeft() + QPoint(kLcdLeft, kLcdTop)) * r, FLcdBitmap, pixels(changed));
      FImage1.ShowPart(changed.translated(kLcdLeft, kLcdTop));
    }
  } else {
    FLcdStale = true;
  }

  if (FScrollPause > 0) --FScrollPause;
  else ++FScrollPos;
  if (FScrollPos >= TitleWidth() - 1) {
    FScrollPos = 0;
    FScrollPause = 10;
  }

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

void TPlatform::ProbeTray() { FTrayMissing = !QSystemTrayIcon::isSystemTrayAvailable(); }

void TPlatform::TrayHostChanged() {
  Guarded([&] { ProbeTray(); });
  WakeTimer();
}

void TPlatform::WatchTray() {
  // On a StatusNotifier desktop Qt asks the watcher over a D-Bus connection it opens for each
  // question (milliseconds of processor time): there the watcher and its hosts are followed
  // instead of asking every second. Without a session bus there is nothing to follow (and no
  // bus is to be launched for it).
  const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  std::error_code error;
  const bool user_bus = runtime != nullptr && runtime[0] == '/' &&
                        std::filesystem::is_socket(std::string(runtime) + "/bus", error);
  if ((address == nullptr || address[0] == '\0') && !user_bus) return;
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected() || bus.interface() == nullptr) return;
  const QString watcher = QStringLiteral("org.kde.StatusNotifierWatcher");
  if (!bus.interface()->isServiceRegistered(watcher)) return;
  auto watch = std::make_unique<QDBusServiceWatcher>(
      watcher, bus, QDBusServiceWatcher::WatchForRegistration | QDBusServiceWatcher::WatchForUnregistration);
  connect(watch.get(), &QDBusServiceWatcher::serviceRegistered, this, &TPlatform::TrayHostChanged);
  connect(watch.get(), &QDBusServiceWatcher::serviceUnregistered, this, &TPlatform::TrayHostChanged);
  for (const char* signal : {"StatusNotifierHostRegistered", "StatusNotifierHostUnregistered"})
    bus.connect(watcher, QStringLiteral("/StatusNotifierWatcher"), watcher, QString::fromLatin1(signal), this,
                SLOT(TrayHostChanged()));
  FTrayWatch = std::move(watch);
}

void TPlatform::ActOnClicks(int32_t clicks) {
  switch (clicks) {
    case 1:
      if (FPlayState == psStopped) StartPlay();
      else if (FPlayState == psPlaying) PausePlay();
      else ResumePlay();
      break;
    case 2:
      StopBeforeChange();
      NextIndex();
      StartPlay();
      break;
    case 3:
      StopBeforeChange();
      PrevIndex();
      StartPlay();
      break;
    default:
      break;
  }
}

void TPlatform::PumpPlayer() {
  try {
    FPlayer->Window().ProcessMessages();
  } catch (...) {
    Report(std::current_exception());
    // Messages behind the failed one are still queued.
    FPump.Set();
  }
}

// Controls.

void TPlatform::SpeedButton2MouseDown(Qt::MouseButton button) {
  if (button != Qt::LeftButton) return;
  ++FClickCount;
  FClickWait = 0;
}

void TPlatform::SpeedButton3MouseDown(Qt::MouseButton button) {
  // Held with the left button; the right one opens the menu.
  if (button != Qt::LeftButton) return;
  FStopDown = 1;
  FStopDownTicks = 0;
}

void TPlatform::SpeedButton3MouseUp(Qt::MouseButton) { FStopDown = 0; }

void TPlatform::SpeedButton3Click() { StopPlay(); }

void TPlatform::Image1MouseDown(Qt::MouseButton button, int x, int y) {
  if (button != Qt::LeftButton) return;
  // A Wayland window does not move itself: the compositor drags it.
  if (OnWayland() && windowHandle() != nullptr && windowHandle()->startSystemMove()) return;
  FDragging = true;
  FDragX = x;
  FDragY = y;
}

void TPlatform::Image1MouseMove(int x, int y) {
  if (FDragging) move(this->x() + x - FDragX, this->y() + y - FDragY);
}

void TPlatform::Image1MouseUp(Qt::MouseButton button, int, int) {
  if (button == Qt::LeftButton) FDragging = false;
}

void TPlatform::TrayIcon1MouseDown(TMouseButton button) {
  if (button != mbLeft) return;
  ++FClickCount;
  FClickWait = 0;
  WakeTimer();
  if (isVisible()) {
    raise();
    activateWindow();
  }
}

void TPlatform::TrayIcon1DblClick() {
  ++FClickCount;
  FClickWait = 0;
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
  {
    platform::IniFile ini(FSettingsFile);
    ini.WriteBool("Setup", "Visible", FPanelVisible);
    ini.UpdateFile();
  }
  Item("N6")->setEnabled(FPanelVisible);
  UpdatePanelMenu();
}

void TPlatform::N6Click() {
  FTopFlag = Item("N6")->isChecked();
  {
    platform::IniFile ini(FSettingsFile);
    ini.WriteBool("Setup", "TopFlag", FTopFlag);
    ini.UpdateFile();
  }
  ApplyTopFlag();
  HookPanelWindow();
}

void TPlatform::N13Click(QAction* sender) {
  sender->setChecked(true);
  const std::pair<const char*, int32_t> levels[] = {{"N9", 100}, {"N10", 80}, {"N11", 60},
                                                    {"N12", 40}, {"N14", 20}, {"N13", 0}};
  for (const auto& [name, level] : levels) {
    if (Item(name)->isChecked()) {
      FVolLevel = level;
      break;
    }
  }
  FPlayer->SetVolume(FVolLevel);
  WriteSetupKey("VolLevel", FVolLevel);
  if (OnChange) OnChange();
}

void TPlatform::ReplayGainClick(TReplayGainMode mode) {
  FReplayGainGroup.actions().at(mode)->setChecked(true);
  FPlayer->SetReplayGainMode(mode);
  platform::IniFile ini(FSettingsFile);
  ini.WriteInteger("Option", "ReplayGain", mode);
  ini.UpdateFile();
  if (OnChange) OnChange();
}

void TPlatform::N5Click() {
  if (!Confirm || !Confirm(FromQ(tr("履歴を消去しますか?")))) return;
  {
    platform::IniFile ini(FSettingsFile);
    ini.EraseSection("KeepFileNames");
    ini.UpdateFile();
  }
  FFileNameKeep->Clear();
}

void TPlatform::Exit1Click() { CloseForm(); }

void TPlatform::ShowPanel() {
  if (!FPanelVisible) N4Click();
  if (isVisible()) {
    raise();
    activateWindow();
  }
}

}  // namespace plumo

// TPlatform: the panel, a frameless 176 x 32 tool window (no taskbar button) with a picture, a
// small display that shows the play time and a scrolling title, and two buttons; a tray icon and
// one popup menu carry the other commands. The window draws and takes input: the playing and
// the playlist are its play controller's, the menu is built from its table, the display draws
// itself and the settings file is read and written through TPanelSettings. The handler names
// are those of the panel's design; each calls the part that does the work.
#pragma once

#include <QAction>
#include <QImage>
#include <QKeyEvent>
#include <QMenu>
#include <QString>
#include <QTimer>
#include <QWidget>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "about_dialog.h"
#include "file_name_keep.h"
#include "forms.h"
#include "open_dialog.h"
#include "panel_display.h"
#include "panel_menu.h"
#include "panel_widgets.h"
#include "play_controller.h"
#include "track_notifier.h"
#include "tray_icon.h"
#include "tray_watch.h"
#include "wave_device.h"

namespace plumo {

class TPlatform final : public QWidget {
  Q_OBJECT
 public:
  // Design-time values of the form.
  static constexpr int kDesignLeft = 317;
  static constexpr int kDesignTop = 104;
  static constexpr int kWidth = 176;
  static constexpr int kHeight = 32;
  static constexpr const char* kNoTitle = TPlayController::kNoTitle;

  using TShowException = std::function<void(const std::exception_ptr&)>;

  // driver: the wave devices the player plays through; settings_file: the settings file
  // (platform::SettingsFileName() in the program); show_exception: the application's exception
  // display (a message box when not given). Runs FormCreate.
  TPlatform(std::shared_ptr<platform::WaveDriver> driver, std::string settings_file,
            TShowException show_exception = {});
  ~TPlatform() override;

  // The application's exception display.
  TShowException ShowException;
  // The error boxes it shows when none was given.
  const TErrorBoxes& ErrorBoxes() const { return FErrorBoxes; }
  // The question before the history is cleared (a Yes/No message box by default).
  std::function<bool(const std::string& text)> Confirm;
  // Called once the form has closed (the program then ends).
  std::function<void()> OnClosed;
  // Opens a playlist file for reading (a file stream by default).
  TOpenPlaylist OpenPlaylist;

  // Start-up, closing.
  void FormCreate();
  void FormCloseQuery(bool& can_close);
  // Closes the form as the Exit command does.
  void CloseForm();
  bool Closed() const { return FClosed; }

  // Files dropped on the panel: DropFiles, with a failure shown by the exception display.
  void PanelDropFiles(const std::vector<std::string>& names);
  // Files and stream addresses handed over from outside (the program's arguments, a later
  // start, the media controls): taken in as a drop; nothing happens for none. True when they
  // gave the playlist at least one entry. quiet: nothing playable is not reported.
  bool OpenFiles(const std::vector<std::string>& names, bool quiet = false);
  // Files handed over to be added to the playlist (plumo --enqueue); true when they gave it an
  // entry that can be played.
  bool EnqueueFiles(const std::vector<std::string>& names);
  // What the open items ask the user for: files, a folder, an address. Empty when cancelled.
  std::function<std::vector<std::string>(TAsk ask, bool add)> AskNames;
  // The open items: Open files (mcOpenFiles), Add files, Open folder, Open address.
  void OpenDialog(TMenuCommand command);
  // The controller's intake (TPlayController::TakeIn).
  bool DropFiles(const std::vector<std::string>& names, bool quiet = false) { return FController->TakeIn(names, quiet); }
  void FileNameKeep1Select(const std::string& select_file_name) { DropFiles({select_file_name}); }

  // The play controller, and its commands under the panel's names.
  TPlayController& Controller() { return *FController; }
  void ResetIndex() { FController->ResetIndex(); }
  void NextIndex() { FController->NextIndex(); }
  void PrevIndex() { FController->PrevIndex(); }
  std::string MakeTitle(const std::string& state) { return FController->MakeTitle(state); }
  void MP3Player1EndPlay(TMP3EndPlayReason reason) { FController->MP3Player1EndPlay(reason); }
  std::string MP3Player1GetNextFile() { return FController->MP3Player1GetNextFile().Name; }
  void MP3Player1TrackChange() { FController->MP3Player1TrackChange(); }
  void MP3Player1TitleChange() { FController->MP3Player1TitleChange(); }
  void StartPlay() { FController->StartPlay(); }
  void StopPlay() { FController->StopPlay(); }
  void StopBeforeChange() { FController->StopBeforeChange(); }
  void PausePlay() { FController->PausePlay(); }
  void ResumePlay() { FController->ResumePlay(); }
  bool SeekTo(int64_t sample) { return FController->SeekTo(sample); }
  bool CanSeekNow() const { return FController->CanSeekNow(); }
  void DrawTitle(const std::string& state) { FController->DrawTitle(state); }

  void UpdatePanelMenu();
  void ApplyTopFlag();
  void HookPanelWindow();
  void SaveSettings();
  void Timer1Timer();
  // What gathered clicks do: 1 play, pause or resume; 2 the next entry; 3 the previous; more
  // nothing.
  void ActOnClicks(int32_t clicks);

  // Controls.
  void SpeedButton2MouseDown(Qt::MouseButton button);
  void SpeedButton3MouseDown(Qt::MouseButton button);
  void SpeedButton3MouseUp(Qt::MouseButton button);
  void SpeedButton3Click() { StopPlay(); }
  void Image1MouseDown(Qt::MouseButton button, int x, int y);
  void Image1MouseMove(int x, int y);
  void Image1MouseUp(Qt::MouseButton button, int x, int y);
  void TrayIcon1MouseDown(TMouseButton button);
  void TrayIcon1DblClick();

  // Menu commands.
  void PLUMO1Click();
  void N4Click();
  void N6Click();
  void N13Click(QAction* sender);
  void ReplayGainClick(TReplayGainMode mode);
  void N5Click();
  void Exit1Click() { CloseForm(); }
  // Shows the panel (as the show item does when it is hidden) and brings it forward.
  void ShowPanel();

  // State, for the program's own checks and tests.
  const std::vector<std::string>& PlayList() const { return FController->PlayList(); }
  int32_t NowIndex() const { return FController->NowIndex(); }
  TPlayState PlayState() const { return FController->PlayState(); }
  const std::string& CurrentDir() const { return FController->CurrentDir(); }
  int32_t VolLevel() const { return FController->VolLevel(); }
  bool TopFlag() const { return FTopFlag; }
  TReplayGainMode ReplayGainMode() const { return FController->Player().ReplayGainMode(); }
  bool PanelVisible() const { return FPanelVisible; }
  int32_t ClickCount() const { return FClickCount; }
  int32_t StopDownTicks() const { return FStopDownTicks; }
  int32_t ScrollPos() const { return FDisplay->ScrollPos(); }
  int32_t ScrollPause() const { return FDisplay->ScrollPause(); }
  const std::string& Title() const { return FController->Title(); }
  std::string SongTitle() const { return FController->SongTitle(); }
  bool Connecting() const { return FController->Connecting(); }
  const TEntryTitles& EntryTitles() const { return FController->EntryTitles(); }
  const std::string& SettingsFile() const { return FSettingsFile; }
  const QImage& TitleBitmap() const { return FDisplay->TitleBitmap(); }
  const QImage& LcdBitmap() const { return FDisplay->LcdBitmap(); }
  // 2 on a HiDPI screen (the bitmaps and pictures then have twice the pixels), else 1.
  qreal PixelRatio() const { return FPixelRatio; }
  int TitleWidth() const { return FDisplay->TitleWidth(); }
  // Whether the panel is kept shown because the desktop has no notification area (looked at
  // again every second, or, on a desktop with a StatusNotifier watcher, when the watcher or
  // its host comes or goes).
  bool TrayMissing() const { return FTrayMissing; }

  TMP3Player& MP3Player1() { return FController->Player(); }
  TTrayIcon& TrayIcon1() { return *FTrayIcon; }
  TFileNameKeep& FileNameKeep1() { return *FFileNameKeep; }
  TAboutDialog& AboutDialog1() { return *FAboutDialog; }
  TImage& Image1() { return FImage1; }
  TSpeedButton& SpeedButton2() { return FSpeedButton2; }
  TSpeedButton& SpeedButton3() { return FSpeedButton3; }
  QMenu& PopupMenu1() { return FMenu->Popup(); }
  QMenu& History1() { return FMenu->History(); }
  QTimer& Timer1() { return FTimer1; }
  // A menu item by its name (PLUMO1, N4, N6, N9 ... N14, N5, Exit1, N8, History1).
  QAction* Item(const std::string& name) const { return FMenu->Item(name); }

  // Showing also keeps the panel out of the taskbar.
  void setVisible(bool visible) override;

 protected:
  void closeEvent(QCloseEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;
  // The wheel seeks 5 s per notch: forward up, back down.
  void wheelEvent(QWheelEvent* event) override;
  bool nativeEvent(const QByteArray& event_type, void* message, qintptr* result) override;
  // Space, the arrows, N, P, S, Page Up/Down and Ctrl+O, Ctrl+L, Ctrl+Q on the focused panel.
  void keyPressEvent(QKeyEvent* event) override;

 private:
  // Runs a handler; an exception goes to the application's exception display.
  template <class F>
  void Guarded(F&& f);
  // Hands a failure to the exception display.
  void Report(const std::exception_ptr& e);
  // The default exception display: a message box once the running handler has returned, one
  // box at a time.
  void SetUpWidgets();
  void SetUpController();
  void SetUpTrayIcon();
  void SetUpAboutBox();
  void MenuCommand(TMenuCommand command, QAction* item);
  // A click that has nothing to play opens the open dialog (once the handler has returned).
  bool OpenWhenEmpty();
  void FillPlaylistMenu();
  // Shuffle or repeat changed: the menu shows it and the settings keep it.
  void OptionsChanged();
  void ShowOptions();
  // The title changed: the display and the tray's tip show it.
  void ShowTitle(const std::string& text);
  // The tray's tip: the title, and the sleep timer's time left.
  void ShowTip();
  // A desktop notification of the track that began, when asked for.
  // The window's title names the track while one plays (screen readers and task lists read it).
  void ShowWindowTitle();
  void NotifyTrack();
  void ProbeTray();
  // Starts the timer again where a tick stopped it.
  void WakeTimer();
  void WatchTray();
  // The buttons' part of a tick: the held stop button, the gathered clicks.
  void TickButtons();
  // Counts a click to be acted on when the clicks stop coming.
  void GatherClick();

  const std::string FSettingsFile;
  std::unique_ptr<TPlayController> FController;

  TImage FImage1;
  TSpeedButton FSpeedButton2;
  TSpeedButton FSpeedButton3;
  std::unique_ptr<TPanelMenu> FMenu;
  std::unique_ptr<TPanelDisplay> FDisplay;
  QTimer FTimer1;
  TCallbackWindow FTrayWindow;
  std::unique_ptr<TTrayIcon> FTrayIcon;
  std::unique_ptr<TAboutDialog> FAboutDialog;
  std::unique_ptr<TFileNameKeep> FFileNameKeep;

  bool FDragging = false;
  bool FDragMoved = false;
  int32_t FDragX = 0;
  int32_t FDragY = 0;
  int32_t FClickCount = 0;
  int32_t FClickWait = 0;
  int32_t FClickDelay = 5;
  int32_t FStopDown = 0;
  int32_t FStopDownTicks = 0;
  // Wheel movement not yet a whole notch (high-resolution wheels).
  int32_t FWheelDelta = 0;
  bool FTopFlag = false;
  bool FPanelVisible = false;
  qreal FPixelRatio = 1;
  bool FTrayMissing = false;
  int32_t FTrayCheckTicks = 0;
  // Stopped by a tick that had nothing to do while the panel is hidden; WakeTimer starts it.
  bool FTimerResting = false;
  // Set where a StatusNotifier watcher tells when the notification area comes or goes.
  std::unique_ptr<TTrayWatch> FTrayWatch;
  std::unique_ptr<TTrackNotifier> FNotifier;
  TErrorBoxes FErrorBoxes;
  bool FClosed = false;
};

}  // namespace plumo

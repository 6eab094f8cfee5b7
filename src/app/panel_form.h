// TPlatform: the panel, a frameless 176 x 32 tool window (no taskbar button) with a picture, a
// small display that shows the play time and a scrolling title, and two buttons; a tray icon and
// one popup menu carry the other commands. It owns the player, the tray icon, the history menu,
// the about box, the menu and the 100 ms timer, and keeps the playlist and the options in the
// settings file.
#pragma once

#include <QAction>
#include <QActionGroup>
#include <QFont>
#include <QImage>
#include <QMenu>
#include <QString>
#include <QTimer>
#include <QWidget>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "about_dialog.h"
#include "file_name_keep.h"
#include "http_stream.h"
#include "panel_widgets.h"
#include "player.h"
#include "playlist.h"
#include "tray_icon.h"
#include "wake_event.h"
#include "wave_device.h"

namespace plumo {

enum TPlayState : uint8_t { psStopped = 0, psPlaying = 1, psPaused = 2 };

class TPlatform final : public QWidget {
  Q_OBJECT
 public:
  // Design-time values of the form.
  static constexpr int kDesignLeft = 317;
  static constexpr int kDesignTop = 104;
  static constexpr int kWidth = 176;
  static constexpr int kHeight = 32;
  static constexpr const char* kNoTitle = "*** PLUMO ***";

  using TShowException = std::function<void(const std::exception_ptr&)>;

  // driver: the wave devices the player plays through; settings_file: the settings file
  // (platform::SettingsFileName() in the program); show_exception: the application's exception
  // display (a message box when not given). Runs FormCreate.
  TPlatform(std::shared_ptr<platform::WaveDriver> driver, std::string settings_file,
            TShowException show_exception = {});
  ~TPlatform() override;

  // The application's exception display.
  TShowException ShowException;
  // The question before the history is cleared (a Yes/No message box by default).
  std::function<bool(const std::string& text)> Confirm;
  // Called once the form has closed (the program then ends).
  std::function<void()> OnClosed;
  // Opens a playlist file for reading (a file stream by default).
  std::function<std::unique_ptr<TStream>(const std::string& path)> OpenPlaylist;
  // Called after the state the desktop's media controls show may have changed: the play state,
  // the current entry and its title, the volume level.
  std::function<void()> OnChange;
  // Called after playback has been moved within the track (SeekTo, the mouse wheel).
  std::function<void()> OnSeek;

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
  // gave the playlist at least one entry. quiet: nothing playable is not reported (the media
  // controls' OpenUri).
  bool OpenFiles(const std::vector<std::string>& names, bool quiet = false);
  // Playlist and intake. The entries are gathered first (off the GUI thread, which keeps
  // drawing and answering meanwhile); only when there is at least one does the panel stop,
  // replace the playlist, save and start. Otherwise playback, the playlist and the settings file
  // stay as they are and the exception display says what was not playable. A failure while
  // gathering (a playlist that breaks off) keeps what was gathered before it and is reported
  // after the intake. True when the playlist was replaced.
  bool DropFiles(const std::vector<std::string>& names, bool quiet = false);
  void FileNameKeep1Select(const std::string& select_file_name);
  void ResetIndex() { FNowIndex = 0; }
  void NextIndex();
  void PrevIndex();
  std::string MakeTitle(const std::string& state);
  void MP3Player1EndPlay(TMP3EndPlayReason reason);
  // The player asks for the file to follow the last one it was given without a gap: the entry
  // the panel would start next after it (after the last comes the first, missing files are
  // passed over), or "" when none can be played or the next is a stream address (the panel
  // connects to it itself when the current one ends).
  std::string MP3Player1GetNextFile();
  // That file is heard now: it becomes the current entry.
  void MP3Player1TrackChange();
  // The live stream heard names what it plays now.
  void MP3Player1TitleChange();

  // Playback and display.
  void StartPlay();
  void StopPlay();
  // StopPlay before the current entry or the playlist changes; a failure to reload the entry
  // being left is passed over.
  void StopBeforeChange();
  void PausePlay();
  void ResumePlay();
  // Moves playback to sample `sample` of the track heard (clamped to the track), while it plays
  // or is paused and its stream can seek; true when it moved. Entries chained to follow it are
  // asked for again from there.
  bool SeekTo(int64_t sample);
  // Whether SeekTo can move now.
  bool CanSeekNow() const;
  void DrawTitle(const std::string& state);
  void UpdatePanelMenu();
  void ApplyTopFlag();
  void HookPanelWindow();
  void SaveSettings();
  // Writes the current index when it differs from the one last written (a session that ends
  // without the form closing keeps its place).
  void SaveNowIndex();
  void Timer1Timer();
  // What gathered clicks do: 1 play, pause or resume; 2 the next entry; 3 the previous; more
  // nothing. The timer acts through this, and so do the desktop's media controls.
  void ActOnClicks(int32_t clicks);

  // Controls.
  void SpeedButton2MouseDown(Qt::MouseButton button);
  void SpeedButton3MouseDown(Qt::MouseButton button);
  void SpeedButton3MouseUp(Qt::MouseButton button);
  void SpeedButton3Click();
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
  void Exit1Click();
  // Shows the panel (as the show item does when it is hidden) and brings it forward.
  void ShowPanel();

  // State, for the program's own checks and tests.
  const std::vector<std::string>& PlayList() const { return FPlayList; }
  int32_t NowIndex() const { return FNowIndex; }
  TPlayState PlayState() const { return FPlayState; }
  const std::string& CurrentDir() const { return FCurrentDir; }
  int32_t VolLevel() const { return FVolLevel; }
  bool TopFlag() const { return FTopFlag; }
  TReplayGainMode ReplayGainMode() const { return FPlayer->ReplayGainMode(); }
  bool PanelVisible() const { return FPanelVisible; }
  int32_t ClickCount() const { return FClickCount; }
  int32_t StopDownTicks() const { return FStopDownTicks; }
  int32_t ScrollPos() const { return FScrollPos; }
  int32_t ScrollPause() const { return FScrollPause; }
  const std::string& Title() const { return FTitle; }
  // The title the display shows for the entry loaded: a live stream's own title, its tags'
  // title, else the title its playlist gave it, else its file's name (a stream's address).
  std::string SongTitle() const;
  // A stream address is being connected to for the current entry; it plays once connected.
  bool Connecting() const { return FConnect != nullptr; }
  // The titles the playlists taken in gave their entries.
  const TEntryTitles& EntryTitles() const { return FEntryTitles; }
  const std::string& SettingsFile() const { return FSettingsFile; }
  const QImage& TitleBitmap() const { return FTitleBitmap; }
  const QImage& LcdBitmap() const { return FLcdBitmap; }
  // 2 on a HiDPI screen (the bitmaps and pictures then have twice the pixels), else 1.
  qreal PixelRatio() const { return FPixelRatio; }
  // The title strip's width in the panel's pixels.
  int TitleWidth() const;
  // Whether the panel is kept shown because the desktop has no notification area (looked at
  // again every second, or, on a desktop with a StatusNotifier watcher, when the watcher or
  // its host comes or goes).
  bool TrayMissing() const { return FTrayMissing; }

  TMP3Player& MP3Player1() { return *FPlayer; }
  TTrayIcon& TrayIcon1() { return *FTrayIcon; }
  TFileNameKeep& FileNameKeep1() { return *FFileNameKeep; }
  TAboutDialog& AboutDialog1() { return *FAboutDialog; }
  TImage& Image1() { return FImage1; }
  TSpeedButton& SpeedButton2() { return FSpeedButton2; }
  TSpeedButton& SpeedButton3() { return FSpeedButton3; }
  QMenu& PopupMenu1() { return FPopupMenu1; }
  QMenu& History1() { return FHistory1; }
  QTimer& Timer1() { return FTimer1; }
  // A menu item by its name (PLUMO1, N4, N6, N9 ... N14, N5, Exit1, N8, History1).
  QAction* Item(const std::string& name) const;

  // Showing also keeps the panel out of the taskbar.
  void setVisible(bool visible) override;

 private slots:
  // The notification area's StatusNotifier watcher or host came or went.
  void TrayHostChanged();

 protected:
  void closeEvent(QCloseEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;
  // The wheel seeks 5 s per notch: forward up, back down.
  void wheelEvent(QWheelEvent* event) override;
  bool nativeEvent(const QByteArray& event_type, void* message, qintptr* result) override;

 private:
  // Runs a handler; an exception goes to the application's exception display.
  template <class F>
  void Guarded(F&& f);
  // Hands a failure to the exception display.
  void Report(const std::exception_ptr& e);
  // The default exception display: a message box once the running handler has returned, one
  // box at a time.
  void QueueErrorBox(const std::exception_ptr& e);
  void ShowQueuedErrors();
  void ProbeTray();
  // Starts the timer again where a tick stopped it.
  void WakeTimer();
  void WatchTray();
  // The current entry could not be opened (e): said once per entry until the next intake, and
  // not tried again in this round of the playlist.
  void EntryFailed(const std::exception_ptr& e);
  // StartPlay without forgetting the entries that failed in this round (moving on after one).
  void StartPlayInRound();
  // Starts connecting to the current entry, a stream address, on the stream's own thread.
  void StartConnect(const std::string& address);
  // The connection is ready (or has failed): play it, or move on to the next entry.
  void ConnectReady();
  // Cancels a connection being made.
  void CancelConnect();
  void BuildMenu();
  void PumpPlayer();
  void WriteSetupKey(const char* key, int32_t value);
  QAction* AddItem(QMenu& menu, const char* name, const char* caption);
  // A display bitmap of width x height panel pixels at the panel's pixel ratio.
  QImage Bitmap(int width, int height) const;

  const std::string FSettingsFile;

  // The player's wake-ups; outlives the player.
  TWakeEvent FPump;
  std::unique_ptr<TMP3Player> FPlayer;
  // A network stream's "ready" from its own thread; outlives the stream.
  TWakeEvent FConnectWake;
  // The network stream being connected for the current entry (FConnectIndex), before the
  // player gets it.
  std::unique_ptr<THttpStream> FConnect;
  int32_t FConnectIndex = 0;

  TImage FImage1;
  TSpeedButton FSpeedButton2;
  TSpeedButton FSpeedButton3;
  QMenu FPopupMenu1;
  QMenu FN8;
  QMenu FHistory1;
  QActionGroup FVolumeGroup;
  QMenu FReplayGain1;
  QActionGroup FReplayGainGroup;
  QTimer FTimer1;
  TCallbackWindow FTrayWindow;
  std::unique_ptr<TTrayIcon> FTrayIcon;
  std::unique_ptr<TAboutDialog> FAboutDialog;
  std::unique_ptr<TFileNameKeep> FFileNameKeep;

  bool FDragging = false;
  int32_t FDragX = 0;
  int32_t FDragY = 0;
  TPlayState FPlayState = psPaused;
  int32_t FClickCount = 0;
  int32_t FClickWait = 0;
  int32_t FClickDelay = 5;
  int32_t FStopDown = 0;
  int32_t FStopDownTicks = 0;
  // Wheel movement not yet a whole notch (high-resolution wheels).
  int32_t FWheelDelta = 0;
  std::vector<std::string> FPlayList;
  int32_t FNowIndex = 0;
  // The entries handed to the player to follow the current one, in order, not yet heard.
  std::deque<int32_t> FChainedIndexes;
  TEntryTitles FEntryTitles;
  // The stream address chosen as the current entry while the player has nothing open for it.
  std::string FChosenAddress;
  // Entries whose failure to open has been said since the last intake.
  std::set<std::string> FReportedEntries;
  // Entries that failed to open since one last played: passed over as missing files are.
  std::set<int32_t> FFailedInRound;
  int32_t FScrollPos = 0;
  int32_t FScrollPause = 0;
  QImage FTitleBitmap;
  std::string FCurrentDir;
  bool FTopFlag = false;
  int32_t FVolLevel = 100;
  QImage FLcdBitmap;
  bool FPanelVisible = false;
  // What the display shows, so that a tick draws only what changed; stale: draw it all.
  QFont FDisplayFont;
  int32_t FShownSeconds = -1;
  int32_t FShownScrollPos = -1;
  bool FLcdStale = true;

  std::string FTitle;
  qreal FPixelRatio = 1;
  bool FTrayMissing = false;
  int32_t FTrayCheckTicks = 0;
  // Stopped by a tick that had nothing to do while the panel is hidden; WakeTimer starts it.
  bool FTimerResting = false;
  // Set where a StatusNotifier watcher tells when the notification area comes or goes.
  std::unique_ptr<QObject> FTrayWatch;
  int32_t FSavedNowIndex = 0;
  // Counts intakes, so that one overtaken by a later drop while gathering is dropped.
  uint64_t FIntakeCount = 0;
  std::deque<std::exception_ptr> FQueuedErrors;
  bool FShowingErrors = false;
  bool FClosed = false;
};

}  // namespace plumo

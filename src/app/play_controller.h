// TPlayController: the panel's one state machine, without a widget. It owns the player, the
// playlist with its current entry, the entries chained to follow without a gap, the failures of
// the current round and the station being connected to; it takes intakes in and answers the
// player's events. The window, the media controls and the hand-over of later starts all drive it
// through its commands. It never draws and never shows a box: it tells its owner through the
// callbacks below.
#pragma once

#include <QTimer>
#include <chrono>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "http_stream.h"
#include "intake.h"
#include "player.h"
#include "playlist.h"
#include "wake_event.h"
#include "wave_device.h"

namespace plumo {

enum TPlayState : uint8_t { psStopped = 0, psPlaying = 1, psPaused = 2 };
// What follows the end of an entry: nothing after the last of the round, the whole playlist
// again (the default), the same entry again.
enum TRepeatMode : uint8_t { rmOff = 0, rmAll = 1, rmOne = 2 };

class TPlayController final {
 public:
  static constexpr const char* kNoTitle = "*** PLUMO ***";

  // driver: the wave devices the player plays through.
  explicit TPlayController(std::shared_ptr<platform::WaveDriver> driver);
  ~TPlayController();
  TPlayController(const TPlayController&) = delete;
  TPlayController& operator=(const TPlayController&) = delete;

  // What the owner is told. Report: a failure to show. OnTitle: the title text changed (the
  // display and the tray's tip show it). OnChange: what the desktop's media controls show may
  // have changed (play state, entry, title, volume). OnSeek: playback moved within the track.
  // OnJoin: the next entry is heard right after the previous one (a gapless change), already
  // some way into it.
  // OnVolLevel: the volume level changed (the menu's check mark, the settings key; may raise).
  // OnContributed: names that gave an intake its entries (for the history). OnOptions: shuffle
  // or repeat changed.
  std::function<void(const std::exception_ptr&)> Report;
  std::function<void(const std::string& text)> OnTitle;
  std::function<void()> OnChange;
  // As OnChange, for the window.
  std::function<void()> OnStatus;
  std::function<void()> OnSeek;
  std::function<void()> OnJoin;
  std::function<void(int32_t level)> OnVolLevel;
  std::function<void(const std::vector<std::string>& names)> OnContributed;
  std::function<void()> OnOptions;
  // Storing: the playlist changed (raises when it cannot be written); the current entry changed.
  std::function<void()> SavePlaylist;
  // position: the sample to resume the entry at.
  std::function<void(int32_t index, const std::string& entry, int64_t position)> SaveNowIndex;
  // Opens a playlist file for reading.
  TOpenPlaylist OpenPlaylist;

  // The state read at start-up; the play state is paused until the first StopPlay.
  void Restore(std::vector<std::string> playlist, TEntryTitles titles, std::string current_dir, int32_t now_index,
               int32_t vol_level);
  // The owner has closed: an intake still gathering is dropped, a connection given up.
  void Close();

  // Commands.
  void StartPlay();
  void StopPlay();
  // StopPlay before the current entry or the playlist changes; a failure to reload the entry
  // being left is passed over.
  void StopBeforeChange();
  void PausePlay();
  void ResumePlay();
  // Play when stopped, pause when playing, resume when paused (one click).
  void PlayPause();
  // The next or the previous entry (two or three clicks).
  void Next();
  void Previous();
  // Moves playback to sample `sample` of the track heard (clamped to the track), while it plays
  // or is paused and its stream can seek; true when it moved.
  bool SeekTo(int64_t sample);
  bool CanSeekNow() const;
  // By `ms` milliseconds from the position heard (the wheel).
  void SeekBy(int64_t ms);
  // One of the volume levels, at once, also while playing.
  void SetVolLevel(int32_t level);
  // steps levels up (down when negative) from the level now; a hand-edited level between two
  // goes to its neighbour.
  void StepVolLevel(int32_t steps);
  void SetReplayGainMode(TReplayGainMode mode);
  // The scanner learns the playlist's files and whether they play in order.
  void SyncLevelling();
  // Names taken in as a drop: gathered off the GUI thread (the event loop runs meanwhile); only
  // when that gives an entry that can be played does playback stop and the playlist change,
  // then it is saved and its first entry starts (a failed save is said, and it plays all the
  // same). Otherwise nothing changes and the failure or "nothing playable" is said (not with
  // quiet). True when the playlist was replaced.
  bool TakeIn(const std::vector<std::string>& names, bool quiet = false);
  // Names gathered as for TakeIn and added at the end of the playlist; they play only when
  // playback was stopped. True when they gave an entry that can be played.
  bool Enqueue(const std::vector<std::string>& names, bool quiet = false);
  // Plays entry index of the playlist (a pick from the playlist menu).
  void PlayEntry(int32_t index);

  // Shuffle: every entry once a round, in a new random order each round (the current entry
  // first when it is turned on); the previous entry is the one played before.
  void SetShuffle(bool on);
  void SetRepeat(TRepeatMode mode);
  bool Shuffle() const { return FShuffle; }
  TRepeatMode Repeat() const { return FRepeat; }
  // Equalizer presets of the engine's frequency equalizer: 0 off (the equalizer unused), 1 bass
  // boost, 2 treble boost, 3 loudness, 4 voice, 5 classical, 6 rock. Applied from the next frame.
  static constexpr int32_t kEqualizerPresets = 7;
  void SetEqualizerPreset(int32_t preset);
  int32_t EqualizerPreset() const { return FEqualizerPreset; }
  // The sleep timer: minutes from now, 0 off, kSleepAfterTrack at the end of the track heard.
  // When it runs out the sound fades out over 10 s and playback pauses; OnSleep is told when the
  // time left changes (each minute) and when the timer ends.
  static constexpr int32_t kSleepAfterTrack = -1;
  void SetSleepTimer(int32_t minutes);
  int32_t SleepTimer() const { return FSleep; }
  // Whole minutes left (rounded up), or -1 without a timer of minutes.
  int32_t SleepMinutesLeft() const;
  std::function<void()> OnSleep;

  void ResetIndex() { FNowIndex = 0; }
  // The next and the previous entry in the order of play (after the last comes the first).
  void NextIndex();
  void PrevIndex();
  // The title for a state word ("PLAY"); when stopped it first chooses and loads the current
  // entry (missing ones and those that failed in this round passed over).
  std::string MakeTitle(const std::string& state);
  // MakeTitle with the state word in the user's language; tells OnTitle and OnChange, and
  // stores the current entry when it changed.
  void DrawTitle(const std::string& state);
  // The current entry has been stored with the playlist; its place within is stored now.
  void NowIndexSaved();
  // The sample to resume the current entry at: where it plays or is paused, or where it is to
  // resume; 0 when stopped, for a stream that cannot seek and for another file loaded.
  int64_t ResumePosition();
  // Stores the current entry with ResumePosition (also every few seconds while playing).
  void StorePosition();
  // The current entry, loaded at start-up, resumes at sample on Play (and is shown there).
  void ResumeAt(int64_t sample);

  // The player's events.
  void MP3Player1EndPlay(TMP3EndPlayReason reason);
  // The entry to follow the last one given to the player without a gap, or "" when none can be
  // played or the next is a stream address (connected to when the current one ends).
  TNextFile MP3Player1GetNextFile();
  void MP3Player1TrackChange();
  void MP3Player1TitleChange();

  // State.
  TMP3Player& Player() { return *FPlayer; }
  const TMP3Player& Player() const { return *FPlayer; }
  const std::vector<std::string>& PlayList() const { return FPlayList; }
  int32_t NowIndex() const { return FNowIndex; }
  TPlayState PlayState() const { return FPlayState; }
  const std::string& CurrentDir() const { return FCurrentDir; }
  int32_t VolLevel() const { return FVolLevel; }
  const std::string& Title() const { return FTitle; }
  const TEntryTitles& EntryTitles() const { return FEntryTitles; }
  // A stream address is being connected to for the current entry; it plays once connected.
  bool Connecting() const { return FConnect != nullptr; }
  // The panel shows playing or paused, but the player has stopped after a failure.
  bool Failed() const;
  // The title of the entry loaded: a live stream's own title, its tags' title, else the title
  // its playlist gave it, else its file's name (a stream's address).
  std::string SongTitle() const;
  // How an entry is named in a list: the title of the one loaded, else the title its playlist
  // gave it, else its file's name (an address as it stands).
  std::string EntryName(int32_t index) const;
  // The notification area's tip: the title, after the sleep timer's time left.
  std::string TipText() const;
  // The panel's tick: the display follows a station that lost its connection and makes another.
  void WatchStation();

 private:
  void Say(const std::exception_ptr& e);
  void Changed();
  void PumpPlayer();
  // The current entry could not be opened (e): said once per entry until the next intake, and
  // not tried again in this round of the playlist.
  void EntryFailed(const std::exception_ptr& e);
  // StartPlay without forgetting the entries that failed in this round (moving on after one).
  void StartPlayInRound();
  // hops: playlists behind addresses already followed to reach address.
  void StartConnect(const std::string& address, int hops = 0);
  void ConnectReady();
  void CancelConnect();
  // Gathers names off the GUI thread; false when the intake was overtaken or closed meanwhile,
  // or nothing in it can be played (said unless quiet).
  bool Gathered(const std::vector<std::string>& names, bool quiet, TIntake& in);
  void Apply(TIntake in);
  void Append(TIntake in);
  // Stores the changed playlist and starts playing; a failure of either is said.
  void StoreAndStart(bool start);
  void StoreNowIndex();
  // Stores the current entry with the sample it resumes at; a refused write is passed over.
  void Store(int64_t position);
  // A new order of play for the playlist, with the current entry first when keep_current.
  void NewOrder(bool keep_current);
  // The entry `steps` after index in the order of play, going round; -1 past the round's end
  // when !round.
  int32_t After(int32_t index, int32_t steps, bool round) const;
  // Whether an entry after index can still play in this round.
  bool PlayableLaterInRound(int32_t index) const;
  // The current entry leaves for the next one by the user's wish or at its end.
  void Played();
  std::string PlayableEntry(int32_t index) const;
  // The file and the track the player is given for a playable name (a sheet's track: its
  // file and span; raises when the sheet no longer has it).
  static TNextFile PlayerFile(const std::string& name);
  // The entry loaded: the track's name, else the player's file.
  const std::string& LoadedEntry() const;
  void SleepTick();
  void FadeStep();
  // A command of the user's ends a fade-out: the volume level is the player's again.
  void EndFade();
  void SleepEnded();

  // Measures the files without gain tags for the player; outlives it.
  std::unique_ptr<TLoudnessScanner> FScanner;
  // The player's wake-ups; outlives the player.
  TWakeEvent FPump;
  std::unique_ptr<TMP3Player> FPlayer;
  // A network stream's "ready" from its own thread; outlives the stream.
  TWakeEvent FConnectWake;
  // The network stream being connected for the entry FConnectIndex, before the player gets it.
  std::unique_ptr<THttpStream> FConnect;
  int32_t FConnectIndex = 0;
  int FConnectHops = 0;
  // The display says that the station makes a new connection.
  bool FShownReconnecting = false;
  // When the playback was last paused: a station paused for long plays live again on resume.
  std::chrono::steady_clock::time_point FPausedAt;

  TPlayState FPlayState = psPaused;
  std::vector<std::string> FPlayList;
  int32_t FNowIndex = 0;
  int32_t FSavedNowIndex = 0;
  // The entries handed to the player to follow the current one, in order, not yet heard.
  std::deque<int32_t> FChainedIndexes;
  TEntryTitles FEntryTitles;
  // The stream address chosen as the current entry while the player has nothing open for it.
  std::string FChosenAddress;
  // Entries whose failure to open has been said since the last intake.
  std::set<std::string> FReportedEntries;
  // Entries that failed to open since one last played: passed over as missing files are.
  std::set<int32_t> FFailedInRound;
  std::string FCurrentDir;
  int32_t FVolLevel = 100;
  std::string FTitle;
  bool FShuffle = false;
  TRepeatMode FRepeat = rmAll;
  // With shuffle: the order of this round, each entry's place in it, and what was played.
  std::vector<int32_t> FOrder;
  std::vector<int32_t> FPlaceOf;
  std::deque<int32_t> FPlayed;
  std::mt19937 FRandom{std::random_device{}()};
  int32_t FEqualizerPreset = 0;
  int32_t FSleep = 0;
  std::chrono::steady_clock::time_point FSleepAt;
  QTimer FSleepTimer;
  QTimer FFadeTimer;
  int32_t FFadeStep = 0;
  // Where the current entry resumes on Play (0: at its start), and the clock that stores the
  // place while playing.
  int64_t FResumeSample = 0;
  QTimer FPositionTimer;
  // Counts intakes, so that one overtaken by a later one while gathering is dropped.
  uint64_t FIntakeCount = 0;
  bool FClosed = false;
};

}  // namespace plumo

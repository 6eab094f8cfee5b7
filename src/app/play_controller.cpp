#include "play_controller.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <algorithm>
#include <stdexcept>
#include <thread>

#include "cue_track.h"
#include "entry_message.h"
#include "file_stream.h"
#include "http_file_stream.h"
#include "ini_file.h"
#include "named_stream.h"
#include "playlist.h"

namespace plumo {

namespace {

// The texts are the panel's, translated as such.
std::string Translated(const char* text) {
  return QCoreApplication::translate("plumo::TPlatform", text).toUtf8().toStdString();
}

}  // namespace

TPlayController::TPlayController(std::shared_ptr<platform::WaveDriver> driver)
    : FScanner(std::make_unique<TLoudnessScanner>()),
      FPump([this] { PumpPlayer(); }),
      FPlayer(std::make_unique<TMP3Player>(std::move(driver))),
      FConnectWake([this] {
        try {
          ConnectReady();
        } catch (...) {
          Say(std::current_exception());
        }
      }) {
  OpenPlaylist = [](const std::string& path) -> std::unique_ptr<TStream> { return std::make_unique<TFileStream>(path); };
  // The panel's player; its notifications are pumped by the event loop.
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
  player.SetLoudnessScanner(FScanner.get());
  player.OnEndPlay = [this](TMP3Player*, TMP3EndPlayReason reason) { MP3Player1EndPlay(reason); };
  player.OnGetNextFile = [this](TMP3Player*) { return MP3Player1GetNextFile(); };
  player.OnTrackChange = [this](TMP3Player*) { MP3Player1TrackChange(); };
  player.OnTitleChange = [this](TMP3Player*) { MP3Player1TitleChange(); };
  // The exact length has replaced the estimate: the display and the desktop show it.
  player.OnLengthChange = [this](TMP3Player*) { Changed(); };
  player.ShowException = [this](const std::exception_ptr& e) { Say(e); };
  player.Window().SetWakeCallback([this] { FPump.Set(); });
  player.Loaded();
  FSleepTimer.setSingleShot(true);
  QObject::connect(&FSleepTimer, &QTimer::timeout, &FSleepTimer, [this] { SleepTick(); });
  // A crash or a power cut loses at most these few seconds of the place.
  FPositionTimer.setInterval(5000);
  QObject::connect(&FPositionTimer, &QTimer::timeout, &FPositionTimer, [this] { StorePosition(); });
  FFadeTimer.setInterval(500);
  QObject::connect(&FFadeTimer, &QTimer::timeout, &FFadeTimer, [this] { FadeStep(); });
}

TPlayController::~TPlayController() {
  CancelConnect();
  FPlayer->OnEndPlay = nullptr;
  FPlayer->OnTitleChange = nullptr;
  FPlayer->OnLengthChange = nullptr;
  FPlayer->ShowException = nullptr;
  FPlayer->Window().SetWakeCallback(nullptr);
  FPlayer.reset();
}

void TPlayController::Say(const std::exception_ptr& e) {
  if (Report) Report(e);
}

void TPlayController::Changed() {
  if (OnChange) OnChange();
  if (OnStatus) OnStatus();
}

void TPlayController::PumpPlayer() {
  try {
    FPlayer->Window().ProcessMessages();
  } catch (...) {
    Say(std::current_exception());
    // Messages behind the failed one are still queued.
    FPump.Set();
  }
}

void TPlayController::Restore(std::vector<std::string> playlist, TEntryTitles titles, std::string current_dir,
                              int32_t now_index, int32_t vol_level) {
  FPlayList = std::move(playlist);
  FEntryTitles = std::move(titles);
  FCurrentDir = std::move(current_dir);
  FNowIndex = FPlayList.empty() ? 0 : std::clamp<int32_t>(now_index, 0, static_cast<int32_t>(FPlayList.size()) - 1);
  FSavedNowIndex = FNowIndex;
  FVolLevel = vol_level;
  FPlayState = psPaused;
  FPlayed.clear();
  if (FShuffle) NewOrder(true);
  SyncLevelling();
}

void TPlayController::Close() { FClosed = true; }

// Intake.

bool TPlayController::TakeIn(const std::vector<std::string>& names, bool quiet) {
  TIntake in;
  if (!Gathered(names, quiet, in)) return false;
  Apply(std::move(in));
  return true;
}

bool TPlayController::Enqueue(const std::vector<std::string>& names, bool quiet) {
  TIntake in;
  if (!Gathered(names, quiet, in)) return false;
  Append(std::move(in));
  return true;
}

bool TPlayController::Gathered(const std::vector<std::string>& names, bool quiet, TIntake& in) {
  const uint64_t intake = ++FIntakeCount;
  // Folders are walked and playlists read on a thread of their own; the event loop runs
  // meanwhile, so the panel keeps drawing and answering.
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
    if (in.Error) Say(in.Error);
    else if (!quiet) Say(std::make_exception_ptr(std::runtime_error(NothingPlayableText(names))));
    return false;
  }
  return true;
}

void TPlayController::Apply(TIntake in) {
  StopBeforeChange();
  FPlayList = std::move(in.Entries);
  FEntryTitles = std::move(in.Titles);
  // A new playlist: its entries that fail are said again.
  FReportedEntries.clear();
  FFailedInRound.clear();
  ResetIndex();
  FCurrentDir = in.CurrentDir;
  FPlayed.clear();
  if (FShuffle) NewOrder(true);
  if (OnContributed) OnContributed(in.Contributed);
  StoreAndStart(true);
  if (in.Error) Say(in.Error);
}

void TPlayController::Append(TIntake in) {
  const auto first = static_cast<int32_t>(FPlayList.size());
  FPlayList.insert(FPlayList.end(), std::make_move_iterator(in.Entries.begin()),
                   std::make_move_iterator(in.Entries.end()));
  FEntryTitles.merge(in.Titles);
  FCurrentDir = in.CurrentDir;
  if (FShuffle) NewOrder(true);
  if (OnContributed) OnContributed(in.Contributed);
  // Stopped: the first entry added plays; otherwise what plays goes on.
  const bool start = FPlayState == psStopped;
  if (start) FNowIndex = first;
  StoreAndStart(start);
  if (!start) Changed();
  if (in.Error) Say(in.Error);
}

void TPlayController::SyncLevelling() {
  std::vector<std::string> files;
  files.reserve(FPlayList.size());
  const std::string dir = FCurrentDir.empty() ? CurrentDirectory() : FCurrentDir;
  for (const std::string& entry : FPlayList)
    files.push_back(IsStreamAddress(entry) || HasDrivePart(entry) ? entry : JoinFolder(dir, entry));
  FScanner->SetPlaylist(std::move(files));
  FScanner->SetInOrder(!FShuffle);
}

void TPlayController::StoreAndStart(bool start) {
  SyncLevelling();
  // What was taken in plays even when it cannot be stored; that is said once.
  try {
    if (SavePlaylist) SavePlaylist();
  } catch (...) {
    Say(std::current_exception());
  }
  if (!start) return;
  try {
    StartPlay();
  } catch (...) {
    Say(std::current_exception());
  }
}

void TPlayController::PlayEntry(int32_t index) {
  if (index < 0 || index >= static_cast<int32_t>(FPlayList.size())) return;
  Played();
  StopBeforeChange();
  FNowIndex = index;
  StartPlay();
}

// The current entry.

void TPlayController::NextIndex() {
  if (FShuffle && !FPlayList.empty()) {
    if (FPlaceOf[static_cast<size_t>(FNowIndex)] + 1 >= static_cast<int32_t>(FOrder.size())) NewOrder(false);
    else FNowIndex = After(FNowIndex, 1, true);
    return;
  }
  ++FNowIndex;
  if (FNowIndex >= static_cast<int32_t>(FPlayList.size())) FNowIndex = 0;
}

void TPlayController::PrevIndex() {
  if (FShuffle && !FPlayList.empty()) {
    if (FPlayed.empty()) {
      FNowIndex = After(FNowIndex, static_cast<int32_t>(FOrder.size()) - 1, true);
    } else {
      FNowIndex = FPlayed.back();
      FPlayed.pop_back();
    }
    return;
  }
  --FNowIndex;
  if (FNowIndex < 0) FNowIndex = static_cast<int32_t>(FPlayList.size()) - 1;
  if (FNowIndex < 0) FNowIndex = 0;
}

void TPlayController::NewOrder(bool keep_current) {
  const auto count = static_cast<int32_t>(FPlayList.size());
  FOrder.resize(static_cast<size_t>(count));
  for (int32_t i = 0; i < count; ++i) FOrder[static_cast<size_t>(i)] = i;
  std::shuffle(FOrder.begin(), FOrder.end(), FRandom);
  // Kept first when shuffle is turned on; a new round does not begin with the entry just played.
  if (keep_current && count > 0) std::iter_swap(FOrder.begin(), std::find(FOrder.begin(), FOrder.end(), FNowIndex));
  else if (count > 1 && FOrder.front() == FNowIndex) std::iter_swap(FOrder.begin(), FOrder.begin() + 1);
  FPlaceOf.assign(static_cast<size_t>(count), 0);
  for (int32_t i = 0; i < count; ++i) FPlaceOf[static_cast<size_t>(FOrder[static_cast<size_t>(i)])] = i;
  if (!keep_current && count > 0) FNowIndex = FOrder.front();
}

int32_t TPlayController::After(int32_t index, int32_t steps, bool round) const {
  const auto count = static_cast<int32_t>(FPlayList.size());
  if (count == 0) return -1;
  const int32_t place = (FShuffle ? FPlaceOf[static_cast<size_t>(index)] : index) + steps;
  if (!round && place >= count) return -1;
  return FShuffle ? FOrder[static_cast<size_t>(place % count)] : place % count;
}

std::string TPlayController::PlayableEntry(int32_t index) const {
  if (FFailedInRound.count(index) != 0) return {};
  return PlayableName(FPlayList[static_cast<size_t>(index)], FCurrentDir.empty() ? CurrentDirectory() : FCurrentDir);
}

bool TPlayController::PlayableLaterInRound(int32_t index) const {
  for (int32_t steps = 1;; ++steps) {
    const int32_t later = After(index, steps, false);
    if (later < 0) return false;
    if (!PlayableEntry(later).empty()) return true;
  }
}

void TPlayController::Played() {
  if (!FShuffle || FPlayList.empty()) return;
  FPlayed.push_back(FNowIndex);
  // Enough to go back along a long evening.
  if (FPlayed.size() > 10000) FPlayed.pop_front();
}

void TPlayController::SetShuffle(bool on) {
  if (on == FShuffle) return;
  FShuffle = on;
  FPlayed.clear();
  FScanner->SetInOrder(!on);
  if (on) NewOrder(true);
  if (OnOptions) OnOptions();
  Changed();
}

void TPlayController::SetRepeat(TRepeatMode mode) {
  if (mode == FRepeat) return;
  FRepeat = mode;
  if (OnOptions) OnOptions();
  Changed();
}

TNextFile TPlayController::PlayerFile(const std::string& name) {
  std::string sheet_path;
  int32_t number = 0;
  if (!SplitCueEntry(name, sheet_path, number)) return TNextFile(name);
  const TCueSheet sheet = ReadCueSheet(sheet_path);
  if (static_cast<size_t>(number) > sheet.Tracks.size())
    throw std::runtime_error(sheet_path + ": the sheet has no track " + std::to_string(number));
  const TCueTrack& t = sheet.Tracks[static_cast<size_t>(number - 1)];
  TTrackSpan track = CueTrackSpan(sheet, t);
  track.Entry = name;
  return TNextFile(t.File, std::move(track));
}

const std::string& TPlayController::LoadedEntry() const {
  const std::string& entry = FPlayer->Track().Entry;
  return entry.empty() ? FPlayer->FileName() : entry;
}

std::string TPlayController::SongTitle() const {
  const std::string& file = FPlayer->FileName();
  const std::string entry = file.empty() ? FChosenAddress : LoadedEntry();
  const std::string song = FPlayer->Title();
  // Until the stream or the tags name it, the player offers the name's last part: the title the
  // playlist gave the entry is better, and a stream's whole address says more than its end.
  const std::string shown = WithoutCredentials(entry);
  if (song.empty() || song == shown.substr(shown.find_last_of('/') + 1)) {
    if (const auto title = FEntryTitles.find(entry); title != FEntryTitles.end()) return title->second;
    if (IsStreamAddress(entry)) return shown;
  }
  return song.empty() ? NameWithoutExtension(file) : song;
}

std::string TPlayController::EntryName(int32_t index) const {
  const std::string& entry = FPlayList[static_cast<size_t>(index)];
  if (index == FNowIndex && !FPlayer->FileName().empty()) return SongTitle();
  if (const auto given = FEntryTitles.find(entry); given != FEntryTitles.end()) return given->second;
  return IsUrlOrShare(entry) ? WithoutCredentials(entry) : ExtractFileName(entry);
}

std::string TPlayController::TipText() const {
  // The time left first: the tip keeps only its first characters.
  QString sleep;
  if (FSleep == kSleepAfterTrack)
    sleep = QCoreApplication::translate("plumo::TPlatform", "この曲の後にスリープ");
  else if (FSleep > 0)
    sleep = QCoreApplication::translate("plumo::TPlatform", "スリープまで %1 分").arg(SleepMinutesLeft());
  if (sleep.isEmpty()) return "PLUMO:" + FTitle;
  return "PLUMO (" + sleep.toUtf8().toStdString() + "):" + FTitle;
}

std::string TPlayController::MakeTitle(const std::string& state) {
  std::string title = "[" + state + "]";
  // Nothing to play yet: how to give it something.
  if (FPlayList.empty()) return std::string(kNoTitle) + " " + Translated(QT_TRANSLATE_NOOP("plumo::TPlatform", "ファイルをここにドロップ"));
  TMP3Player& player = *FPlayer;
  if (FPlayState == psStopped) {
    CancelConnect();
    FChosenAddress.clear();
    const int32_t start = FNowIndex;
    for (;;) {
      // An entry that failed to open in this round is passed over as a missing file is.
      const std::string name = PlayableEntry(FNowIndex);
      if (!name.empty()) {
        if (IsStreamAddress(name)) {
          // Connected to only when it is to play (StartPlay), and never here: that would keep
          // the panel waiting on the network.
          if (player.Opened() || !player.FileName().empty()) player.SetFileName("");
          FChosenAddress = name;
          break;
        }
        try {
          // A relative entry is given to the player as the path it was found at.
          const TNextFile file = PlayerFile(name);
          player.SetFileName(file.Name, file.Track);
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
  if (FConnect) title += Translated(QT_TRANSLATE_NOOP("plumo::TPlatform", "接続中… "));
  else if (player.LiveReconnecting()) title += Translated(QT_TRANSLATE_NOOP("plumo::TPlatform", "再接続中… "));
  title += SongTitle();
  const std::string album = player.Album();
  if (!album.empty()) title += "(" + album + ")";
  const std::string artist = player.Artist();
  if (!artist.empty()) title += " / " + artist;
  return title;
}

void TPlayController::DrawTitle(const std::string& state) {
  FTitle = MakeTitle(Translated(state.c_str()));
  if (OnTitle) OnTitle(FTitle);
  StoreNowIndex();
  Changed();
}

void TPlayController::NowIndexSaved() {
  FSavedNowIndex = FNowIndex;
  StorePosition();
}

int64_t TPlayController::ResumePosition() {
  if (FPlayList.empty() || !FPlayer->CanSeek()) return 0;
  if (FPlayState == psStopped) return FResumeSample;
  if (LoadedEntry() != PlayableEntry(FNowIndex)) return 0;
  return static_cast<int64_t>(FPlayer->Position()) * FPlayer->Source().SampleRate() / 1000;
}

void TPlayController::StorePosition() { Store(ResumePosition()); }

void TPlayController::Store(int64_t position) {
  if (FPlayList.empty()) return;
  try {
    if (SaveNowIndex) SaveNowIndex(FNowIndex, FPlayList[static_cast<size_t>(FNowIndex)], position);
    FSavedNowIndex = FNowIndex;
  } catch (const platform::IniWriteError&) {
    // A settings file that cannot be written is reported by the next intake or the close; a
    // track change must not stop on it.
  }
}

void TPlayController::ResumeAt(int64_t sample) {
  if (sample <= 0 || FPlayState != psStopped || !FPlayer->CanSeek()) return;
  FResumeSample = sample;
  FPlayer->Seek(sample);
}

void TPlayController::StoreNowIndex() {
  // A new entry is at its start.
  if (FNowIndex != FSavedNowIndex) Store(0);
}

// The player's events.

void TPlayController::MP3Player1EndPlay(TMP3EndPlayReason reason) {
  // The playback has ended: nothing chained follows it any more.
  FChainedIndexes.clear();
  if (reason == merSuccessful && FPlayState == psPlaying) {
    // A live stream that ended early (the connection lost) is said once; the next entry follows
    // as at the end of the data.
    const std::string message = FPlayer->EndMessage();
    if (!message.empty() && !FPlayList.empty() &&
        FReportedEntries.insert(FPlayList[static_cast<size_t>(FNowIndex)]).second)
      Say(std::make_exception_ptr(std::runtime_error(message)));
    if (FSleep == kSleepAfterTrack) {
      // Asleep after this track: the next one waits, stopped.
      Played();
      StopBeforeChange();
      NextIndex();
      DrawTitle(QT_TRANSLATE_NOOP("plumo::TPlatform", "STOP"));
      SleepEnded();
    } else if (FRepeat == rmOne) {
      StopBeforeChange();
      StartPlay();
    } else if (FRepeat == rmOff && !PlayableLaterInRound(FNowIndex)) {
      // The round is over: stopped at its last entry.
      StopBeforeChange();
    } else {
      Next();
    }
  } else if (reason == merFailure) {
    // The player stopped by itself; the panel shows what it did until the user acts.
    Changed();
  }
}

TNextFile TPlayController::MP3Player1GetNextFile() {
  const int32_t count = static_cast<int32_t>(FPlayList.size());
  if (count == 0 || FPlayState == psStopped || FSleep == kSleepAfterTrack) return "";
  const int32_t from = FChainedIndexes.empty() ? FNowIndex : FChainedIndexes.back();
  // Without repeat the round ends at its last entry; a shuffled round is not joined to the next.
  const bool round = FRepeat == rmAll && !FShuffle;
  // Repeat One chains the same entry.
  const int32_t first = FRepeat == rmOne ? 0 : 1;
  const int32_t last = FRepeat == rmOne ? 0 : count;
  for (int32_t step = first; step <= last; ++step) {
    const int32_t index = After(from, step, round);
    if (index < 0) return "";
    const std::string name = PlayableEntry(index);
    if (name.empty()) continue;
    // A stream is connected to when the playback before it ends.
    if (IsStreamAddress(name)) return "";
    TNextFile file;
    try {
      file = PlayerFile(name);
    } catch (const std::exception&) {
      // Said when it is started by itself.
      return "";
    }
    // Measured while the current entry plays (in order, the scanner knows it already).
    if (FShuffle) FScanner->Expect(file.Name);
    FChainedIndexes.push_back(index);
    return file;
  }
  return "";
}

void TPlayController::MP3Player1TrackChange() {
  if (FChainedIndexes.empty()) return;
  Played();
  FNowIndex = FChainedIndexes.front();
  FChainedIndexes.pop_front();
  if (OnJoin) OnJoin();
  DrawTitle(FPlayState == psPaused ? "PAUSE" : "PLAY");
  // Chained before the sleep timer was set to the end of the track: it pauses as it begins.
  if (FSleep == kSleepAfterTrack && FPlayState == psPlaying) {
    PausePlay();
    SleepEnded();
  }
}

void TPlayController::MP3Player1TitleChange() {
  if (FPlayState != psStopped) DrawTitle(FPlayState == psPaused ? "PAUSE" : "PLAY");
}

// Commands.

void TPlayController::StartPlay() {
  EndFade();
  // Played by the user's wish: every entry is tried again.
  FFailedInRound.clear();
  StartPlayInRound();
}

void TPlayController::StartPlayInRound() {
  DrawTitle(QT_TRANSLATE_NOOP("plumo::TPlatform", "PLAY"));
  if (FPlayList.empty()) return;
  if (!FChosenAddress.empty() && FPlayState == psStopped) {
    // The panel plays on while the stream connects; it plays once connected.
    StartConnect(FChosenAddress);
    FPlayState = psPlaying;
    DrawTitle(QT_TRANSLATE_NOOP("plumo::TPlatform", "PLAY"));
    return;
  }
  if (!FPlayer->FileName().empty()) {
    // Loaded anew by the title: back to where it was left.
    if (FResumeSample > 0) FPlayer->Seek(FResumeSample);
    FResumeSample = 0;
    FPlayer->SetVolume(FVolLevel);
    FPlayer->Play();
    FPlayState = psPlaying;
    FFailedInRound.clear();
    FPositionTimer.start();
    Changed();
  }
}

void TPlayController::EntryFailed(const std::exception_ptr& e) {
  if (FPlayList.empty()) return;
  // Said once: a playlist that comes round to it again does not say it again.
  const std::string& entry = FPlayList[static_cast<size_t>(FNowIndex)];
  // The tracks of a sheet fail together (its file is missing): said once for the sheet.
  std::string sheet;
  int32_t track = 0;
  const std::string& said = SplitCueEntry(entry, sheet, track) ? sheet : entry;
  if (FReportedEntries.insert(said).second) Say(std::make_exception_ptr(std::runtime_error(EntryMessage(entry, e))));
  FFailedInRound.insert(FNowIndex);
}

void TPlayController::WatchStation() {
  const bool reconnecting = FPlayState != psStopped && FPlayer->LiveReconnecting();
  if (reconnecting == FShownReconnecting) return;
  FShownReconnecting = reconnecting;
  DrawTitle(FPlayState == psPaused ? "PAUSE" : "PLAY");
}

void TPlayController::StartConnect(const std::string& address, int hops) {
  CancelConnect();
  FConnectHops = hops;
  THttpOptions options;
  // On the stream's own thread: only wakes the panel.
  options.OnReady = [this] { FConnectWake.Set(); };
  FConnectIndex = FNowIndex;
  FConnect = std::make_unique<THttpStream>(address, std::move(options));
  // A stream that knows at once (a refusal) may have been ready before OnReady was set up.
  if (FConnect->Ready()) FConnectWake.Set();
}

void TPlayController::CancelConnect() {
  // Destroying the stream cancels its transfer at once.
  FConnect.reset();
}

void TPlayController::ConnectReady() {
  if (!FConnect || !FConnect->Ready()) return;
  std::unique_ptr<THttpStream> stream = std::move(FConnect);
  try {
    // Raises why the connection failed, or that the answer is not MPEG audio.
    stream->WaitReady();
    const std::string address = stream->Address();
    if (stream->IsPlaylist()) {
      // A "listen" link: its first station is connected to, with the titles the playlist gives.
      std::vector<std::string> entries;
      TEntryTitles titles;
      ReadAddressPlaylist(stream->PlaylistText(), address, entries, &titles);
      const auto station = std::find_if(entries.begin(), entries.end(), [](const std::string& e) { return IsStreamAddress(e); });
      if (station == entries.end() || FConnectHops >= 4)
        throw EStreamError(WithoutCredentials(address) + ": the playlist names no station");
      FEntryTitles.merge(titles);
      StartConnect(*station, FConnectHops + 1);
      return;
    }
    // A file on a server (a podcast episode) plays as a file: its length shows, and it seeks
    // when the server takes ranges.
    TNamedStream opened = FileOrStation(std::move(stream));
    FPlayer->OpenStream(address, std::move(opened.Stream), opened.Seekable ? TMP3Player::kSeekable : 0);
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
  DrawTitle(QT_TRANSLATE_NOOP("plumo::TPlatform", "PLAY"));
  FPlayer->SetVolume(FVolLevel);
  FPlayer->Play();
  Changed();
}

void TPlayController::StopPlay() {
  EndFade();
  FResumeSample = 0;
  FPositionTimer.stop();
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
  DrawTitle(QT_TRANSLATE_NOOP("plumo::TPlatform", "STOP"));
}

void TPlayController::StopBeforeChange() {
  // Stopping reloads the current entry for the title. When the player cannot open it (a stream
  // address, a file that is not MPEG audio) that was reported when it was loaded; it must not
  // keep the panel from moving on to another entry or another playlist, or a broken first
  // entry would refuse every later drop and history pick.
  try {
    StopPlay();
  } catch (const std::exception&) {
  }
}

void TPlayController::PausePlay() {
  EndFade();
  FPositionTimer.stop();
  // Paused while connecting: the connection is given up; resuming connects again.
  CancelConnect();
  FPlayer->Pause();
  FPlayState = psPaused;
  FPausedAt = std::chrono::steady_clock::now();
  DrawTitle(QT_TRANSLATE_NOOP("plumo::TPlatform", "PAUSE"));
  StorePosition();
}

void TPlayController::ResumePlay() {
  EndFade();
  if (!FChosenAddress.empty() && !FPlayer->Opened()) {
    // Paused while it connected: it connects again.
    FPlayState = psStopped;
    StartPlay();
    return;
  }
  // A station paused for longer than its buffer holds (or half a minute) would play from far
  // behind live: it is connected to again.
  constexpr auto kLiveBehind = std::chrono::seconds(30);
  if (FPlayer->IsLive() && (FPlayer->LiveBufferFull() || std::chrono::steady_clock::now() - FPausedAt >= kLiveBehind)) {
    StopBeforeChange();
    StartPlay();
    return;
  }
  FPlayer->Resume();
  FPlayState = psPlaying;
  FPositionTimer.start();
  DrawTitle(QT_TRANSLATE_NOOP("plumo::TPlatform", "PLAY"));
}

void TPlayController::PlayPause() {
  if (FPlayState == psStopped) StartPlay();
  else if (FPlayState == psPlaying) PausePlay();
  else ResumePlay();
}

void TPlayController::Next() {
  Played();
  StopBeforeChange();
  NextIndex();
  StartPlay();
}

void TPlayController::Previous() {
  StopBeforeChange();
  PrevIndex();
  StartPlay();
}

bool TPlayController::Failed() const {
  // A station being connected to plays once connected.
  return FPlayState != psStopped && FPlayer->Status() == mpsStopped && !Connecting();
}

bool TPlayController::CanSeekNow() const { return FPlayer->CanSeek() && FPlayer->Status() != mpsStopped; }

bool TPlayController::SeekTo(int64_t sample) {
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

void TPlayController::SeekBy(int64_t ms) {
  const int64_t rate = FPlayer->Source().SampleRate();
  const int64_t at = static_cast<int64_t>(FPlayer->Position()) * rate / 1000;
  SeekTo(at + ms * rate / 1000);
}

void TPlayController::SetVolLevel(int32_t level) {
  EndFade();
  FVolLevel = level;
  FPlayer->SetVolume(FVolLevel);
  if (OnVolLevel) OnVolLevel(level);
  Changed();
}

void TPlayController::SetEqualizerPreset(int32_t preset) {
  if (preset < 0 || preset >= kEqualizerPresets) return;
  // Six bands from 60 Hz to 16 kHz, in 0.2 dB units. Each preset is taken down by its highest
  // band, so that no band lifts the signal above what was decoded: a preset never clips.
  static constexpr int32_t kLevels[kEqualizerPresets][6] = {
      {0, 0, 0, 0, 0, 0},       {30, 20, 5, 0, 0, 0},    {0, 0, 0, 5, 20, 30},   {25, 10, 0, -5, 10, 20},
      {-15, -5, 10, 15, 5, -10}, {10, 5, 0, 0, 5, 10},   {25, 10, -5, -5, 10, 25}};
  FEqualizerPreset = preset;
  TMP3Player& player = *FPlayer;
  if (preset == 0) {
    player.SetEqualizerEnabled(false);
    return;
  }
  player.SetEqualizerMode(memFreq);
  player.SetEqualizerCount(6);
  player.SetEqualizerRange(60, 16000);
  const int32_t top = *std::max_element(std::begin(kLevels[preset]), std::end(kLevels[preset]));
  for (int band = 0; band < 6; ++band) player.SetEqualizerLevel(band, kLevels[preset][band] - top);
  player.SetEqualizerEnabled(true);
}

void TPlayController::SetSleepTimer(int32_t minutes) {
  EndFade();
  FSleep = minutes > 0 || minutes == kSleepAfterTrack ? minutes : 0;
  FSleepTimer.stop();
  if (FSleep > 0) {
    FSleepAt = std::chrono::steady_clock::now() + std::chrono::minutes(FSleep);
    SleepTick();
  } else if (OnSleep) {
    OnSleep();
  }
}

int32_t TPlayController::SleepMinutesLeft() const {
  if (FSleep <= 0) return -1;
  const auto left = std::chrono::duration_cast<std::chrono::seconds>(FSleepAt - std::chrono::steady_clock::now());
  return static_cast<int32_t>(std::max<int64_t>(0, (left.count() + 59) / 60));
}

void TPlayController::SleepTick() {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(FSleepAt - std::chrono::steady_clock::now());
  if (left.count() <= 0) {
    // Ten seconds of fading, then the pause.
    FFadeStep = 0;
    if (FPlayState == psPlaying) FFadeTimer.start();
    else SleepEnded();
    return;
  }
  // Woken each minute for the time shown, and at the end.
  FSleepTimer.start(static_cast<int>(std::min<int64_t>(left.count(), 60000)));
  if (OnSleep) OnSleep();
}

void TPlayController::FadeStep() {
  constexpr int32_t kSteps = 20;
  if (++FFadeStep < kSteps) {
    FPlayer->SetVolume(FVolLevel * (kSteps - FFadeStep) / kSteps);
    return;
  }
  FFadeTimer.stop();
  if (FPlayState == psPlaying) PausePlay();
  SleepEnded();
}

void TPlayController::EndFade() {
  if (!FFadeTimer.isActive()) return;
  FFadeTimer.stop();
  FPlayer->SetVolume(FVolLevel);
}

void TPlayController::SleepEnded() {
  // Resumed later at the level chosen.
  FPlayer->SetVolume(FVolLevel);
  FSleep = 0;
  FSleepTimer.stop();
  if (OnSleep) OnSleep();
}

void TPlayController::StepVolLevel(int32_t steps) {
  const int32_t at = steps > 0 ? FVolLevel / 20 + steps : (FVolLevel + 19) / 20 + steps;
  const int32_t next = std::clamp(at * 20, 0, 100);
  if (next != FVolLevel) SetVolLevel(next);
}

void TPlayController::SetReplayGainMode(TReplayGainMode mode) {
  FPlayer->SetReplayGainMode(mode);
  Changed();
}

}  // namespace plumo

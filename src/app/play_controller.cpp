#include "play_controller.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <algorithm>
#include <stdexcept>
#include <thread>

#include "file_stream.h"
#include "ini_file.h"
#include "named_stream.h"

namespace plumo {

namespace {

// The texts are the panel's, translated as such.
std::string Translated(const char* text) {
  return QCoreApplication::translate("plumo::TPlatform", text).toUtf8().toStdString();
}

}  // namespace

TPlayController::TPlayController(std::shared_ptr<platform::WaveDriver> driver)
    : FPump([this] { PumpPlayer(); }),
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
  player.OnEndPlay = [this](TMP3Player*, TMP3EndPlayReason reason) { MP3Player1EndPlay(reason); };
  player.OnGetNextFile = [this](TMP3Player*) { return MP3Player1GetNextFile(); };
  player.OnTrackChange = [this](TMP3Player*) { MP3Player1TrackChange(); };
  player.OnTitleChange = [this](TMP3Player*) { MP3Player1TitleChange(); };
  player.ShowException = [this](const std::exception_ptr& e) { Say(e); };
  player.Window().SetWakeCallback([this] { FPump.Set(); });
  player.Loaded();
}

TPlayController::~TPlayController() {
  CancelConnect();
  FPlayer->OnEndPlay = nullptr;
  FPlayer->OnTitleChange = nullptr;
  FPlayer->ShowException = nullptr;
  FPlayer->Window().SetWakeCallback(nullptr);
  FPlayer.reset();
}

void TPlayController::Say(const std::exception_ptr& e) {
  if (Report) Report(e);
}

void TPlayController::Changed() {
  if (OnChange) OnChange();
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
}

void TPlayController::Close() { FClosed = true; }

// Intake.

bool TPlayController::TakeIn(const std::vector<std::string>& names, bool quiet) {
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
    if (in.Error) Say(in.Error);
    else if (!quiet) Say(std::make_exception_ptr(std::runtime_error(NothingPlayableText(names))));
    return false;
  }
  Apply(std::move(in));
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
  if (OnContributed) OnContributed(in.Contributed);
  // What was taken in plays even when it cannot be stored; that is said once.
  try {
    if (SavePlaylist) SavePlaylist();
  } catch (...) {
    Say(std::current_exception());
  }
  try {
    StartPlay();
  } catch (...) {
    Say(std::current_exception());
  }
  if (in.Error) Say(in.Error);
}

// The current entry.

void TPlayController::NextIndex() {
  ++FNowIndex;
  if (FNowIndex >= static_cast<int32_t>(FPlayList.size())) FNowIndex = 0;
}

void TPlayController::PrevIndex() {
  --FNowIndex;
  if (FNowIndex < 0) FNowIndex = static_cast<int32_t>(FPlayList.size()) - 1;
  if (FNowIndex < 0) FNowIndex = 0;
}

std::string TPlayController::SongTitle() const {
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

std::string TPlayController::MakeTitle(const std::string& state) {
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
  if (FConnect) title += Translated("接続中… ");
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

void TPlayController::StoreNowIndex() {
  if (FNowIndex == FSavedNowIndex || FPlayList.empty()) return;
  try {
    if (SaveNowIndex) SaveNowIndex(FNowIndex, FPlayList[static_cast<size_t>(FNowIndex)]);
    FSavedNowIndex = FNowIndex;
  } catch (const platform::IniWriteError&) {
    // A settings file that cannot be written is reported by the next intake or the close; a
    // track change must not stop on it.
  }
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
    StopBeforeChange();
    NextIndex();
    StartPlay();
  } else if (reason == merFailure) {
    // The player stopped by itself; the panel shows what it did until the user acts.
    Changed();
  }
}

std::string TPlayController::MP3Player1GetNextFile() {
  const int32_t count = static_cast<int32_t>(FPlayList.size());
  if (count == 0 || FPlayState == psStopped) return "";
  const int32_t from = FChainedIndexes.empty() ? FNowIndex : FChainedIndexes.back();
  const std::string dir = FCurrentDir.empty() ? CurrentDirectory() : FCurrentDir;
  for (int32_t step = 1; step <= count; ++step) {
    const int32_t index = (from + step) % count;
    const std::string name = PlayableName(FPlayList[static_cast<size_t>(index)], dir);
    if (name.empty() || FFailedInRound.count(index) != 0) continue;
    // A stream is connected to when the playback before it ends.
    if (IsStreamAddress(name)) return "";
    FChainedIndexes.push_back(index);
    return name;
  }
  return "";
}

void TPlayController::MP3Player1TrackChange() {
  if (FChainedIndexes.empty()) return;
  FNowIndex = FChainedIndexes.front();
  FChainedIndexes.pop_front();
  DrawTitle(FPlayState == psPaused ? "PAUSE" : "PLAY");
}

void TPlayController::MP3Player1TitleChange() {
  if (FPlayState != psStopped) DrawTitle(FPlayState == psPaused ? "PAUSE" : "PLAY");
}

// Commands.

void TPlayController::StartPlay() {
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
    FPlayer->SetVolume(FVolLevel);
    FPlayer->Play();
    FPlayState = psPlaying;
    FFailedInRound.clear();
    Changed();
  }
}

void TPlayController::EntryFailed(const std::exception_ptr& e) {
  if (FPlayList.empty()) return;
  // Said once: a playlist that comes round to it again does not say it again.
  if (FReportedEntries.insert(FPlayList[static_cast<size_t>(FNowIndex)]).second) Say(e);
  FFailedInRound.insert(FNowIndex);
}

void TPlayController::StartConnect(const std::string& address) {
  CancelConnect();
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
  DrawTitle(QT_TRANSLATE_NOOP("plumo::TPlatform", "PLAY"));
  FPlayer->SetVolume(FVolLevel);
  FPlayer->Play();
  Changed();
}

void TPlayController::StopPlay() {
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
  // Paused while connecting: the connection is given up; resuming connects again.
  CancelConnect();
  FPlayer->Pause();
  FPlayState = psPaused;
  DrawTitle(QT_TRANSLATE_NOOP("plumo::TPlatform", "PAUSE"));
}

void TPlayController::ResumePlay() {
  if (!FChosenAddress.empty() && !FPlayer->Opened()) {
    // Paused while it connected: it connects again.
    FPlayState = psStopped;
    StartPlay();
    return;
  }
  FPlayer->Resume();
  FPlayState = psPlaying;
  DrawTitle(QT_TRANSLATE_NOOP("plumo::TPlatform", "PLAY"));
}

void TPlayController::PlayPause() {
  if (FPlayState == psStopped) StartPlay();
  else if (FPlayState == psPlaying) PausePlay();
  else ResumePlay();
}

void TPlayController::Next() {
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
  FVolLevel = level;
  FPlayer->SetVolume(FVolLevel);
  if (OnVolLevel) OnVolLevel(level);
  Changed();
}

void TPlayController::SetReplayGainMode(TReplayGainMode mode) {
  FPlayer->SetReplayGainMode(mode);
  Changed();
}

}  // namespace plumo

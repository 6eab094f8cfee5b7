// plumo-play: plays files one after another through TMP3Player, showing the play time and the
// title on one terminal line. Files of the same format follow each other without a gap. Stream
// addresses (internet radio) play until the station ends the stream, the line following the
// titles it names (a playlist behind an address plays its entries); pipes and FIFOs play as files
// that cannot seek. Ctrl-C or SIGTERM stops playback and ends the program within a second, also
// while a station connects. A .cue sheet plays its tracks, each as an entry of its own; the
// tracks of one file follow each other as the file's continuous decode.
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "cue_sheet.h"
#include "http_file_stream.h"
#include "loudness_scanner.h"
#include "named_stream.h"
#include "player.h"
#include "playlist.h"
#include "pulse_wave_device.h"
#include "stream_decode.h"
#include "sdl_wave_device.h"
#include "simulated_wave_device.h"
#include "text_conversion.h"
#include "thread.h"
#include "wav_file_wave_device.h"

namespace {

constexpr const char* kUsage =
    "usage: plumo-play [--device auto|pulse|sdl|null|wav:FILE] [--start SECONDS] [--replaygain off|track|album|auto] FILE|URL...\n"
    "  FILE: an MPEG audio file, a pipe, or a .cue sheet (its tracks, one after another)\n"
    "  auto      PulseAudio when its server (or PipeWire's) answers, else SDL, as the panel (default)\n"
    "  pulse     the PulseAudio server\n"
    "  sdl       the sound device through SDL\n"
    "  null      no sound, played at the real-time rate\n"
    "  wav:FILE  every byte played is written to the WAV file FILE\n"
    "  --start   the first file begins at that time (seconds with a fraction; 0 is its first sample\n"
    "            after the encoder's delay)\n"
    "  --replaygain  play at the track's or the album's ReplayGain level (default off); auto: the\n"
    "            album's while files of one album follow each other, else the track's. Files without\n"
    "            gain tags are measured (EBU R128) while the one before plays, once: the measurement\n"
    "            is kept in $XDG_CACHE_HOME/plumo/loudness and used from the file's next start on\n"
    "  --help, --version  this text, the version\n"
    "Exit status 0, 1 when a file could not be played, 2 for a command line that is not one of these.\n";

std::shared_ptr<plumo::platform::WaveDriver> MakeDriver(const std::string& device) {
  if (device == "auto") return plumo::platform::MakeSoundWaveDriver();
  if (device == "pulse") return plumo::platform::MakePulseWaveDriver();
  if (device == "sdl") return plumo::platform::MakeSdlWaveDriver();
  if (device == "null") return plumo::platform::MakeSimulatedWaveDriver();
  if (device.rfind("wav:", 0) == 0 && device.size() > 4) return plumo::platform::MakeWavFileWaveDriver(device.substr(4));
  return nullptr;
}

// A station that has not reached its first sound by then fails.
constexpr int64_t kFirstSoundMs = 20000;

int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// What the signal watcher and the main thread share: a stop asked for (Ctrl-C, SIGTERM), and the
// current station's connection given up (the stop, or no sound by the deadline).
struct TStopWatch {
  std::atomic<bool> Stop{false};
  std::atomic<bool> Abort{false};
  std::atomic<bool> TimedOut{false};
  std::atomic<int64_t> DeadlineMs{0};  // 0: none

  // A new entry: its own deadline (or none).
  void Arm(int64_t ms) {
    TimedOut = false;
    Abort = Stop.load();
    DeadlineMs = ms > 0 ? NowMs() + ms : 0;
  }
};

// Terminal columns a code point takes: 2 for the wide East Asian ranges, else 1.
int Columns(char32_t c) {
  return (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0xA4CF) || (c >= 0xAC00 && c <= 0xD7A3) ||
                 (c >= 0xF900 && c <= 0xFAFF) || (c >= 0xFE30 && c <= 0xFE4F) || (c >= 0xFF00 && c <= 0xFF60) ||
                 (c >= 0xFFE0 && c <= 0xFFE6) || (c >= 0x20000 && c <= 0x3FFFD)
             ? 2
             : 1;
}

// UTF-8 text cut to at most width terminal columns, at a character's boundary.
std::string CutToWidth(const std::string& text, int width) {
  int used = 0;
  for (size_t i = 0; i < text.size();) {
    const auto b = static_cast<unsigned char>(text[i]);
    const size_t n = b < 0x80 ? 1 : b < 0xE0 ? 2 : b < 0xF0 ? 3 : 4;
    char32_t c = n == 1 ? b : b & (0x7F >> n);
    for (size_t k = 1; k < n && i + k < text.size(); ++k) c = (c << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
    used += Columns(c);
    if (used > width) return text.substr(0, i);
    i += n;
  }
  return text;
}

// The terminal's width, 0 when it does not tell.
int TerminalWidth() {
  winsize size{};
  return ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 ? size.ws_col : 0;
}

std::string TimeText(int32_t ms) {
  const int32_t seconds = ms / 1000;
  char text[32];
  std::snprintf(text, sizeof text, "%02d:%02d", seconds / 60, seconds % 60);
  return text;
}

// Reports a failure as "plumo-play: FILE: message", FILE being the entry it belongs to (once:
// a network stream's messages begin with its address already).
void PrintException(const std::string& name, const std::exception_ptr& e) {
  const std::string file = plumo::WithoutCredentials(name);
  try {
    std::rethrow_exception(e);
  } catch (const std::exception& x) {
    const std::string message = x.what();
    if (message.rfind(file + ": ", 0) == 0)
      std::fprintf(stderr, "plumo-play: %s\n", message.c_str());
    else
      std::fprintf(stderr, "plumo-play: %s: %s\n", file.c_str(), message.c_str());
  } catch (...) {
    std::fprintf(stderr, "plumo-play: %s: unknown error\n", file.c_str());
  }
}

// An entry: a file (or address) and the track of it to play; name: how messages name it.
struct Entry {
  std::string file;
  plumo::TTrackSpan track;
  std::string name;
};

class Playlist {
 public:
  Playlist(plumo::TMP3Player& player, std::vector<Entry> files, double start, TStopWatch& watch)
      : FPlayer(player), FFiles(std::move(files)), FTerminal(isatty(STDOUT_FILENO)), FStart(start), FWatch(watch) {}

  // Starts the entry after the current one; false when the list is through (or a stop came).
  bool Next() {
    while (++FIndex < static_cast<int>(FFiles.size()) && !FWatch.Stop) {
      try {
        const Entry& entry = FFiles[static_cast<size_t>(FIndex)];
        const std::string name = entry.file;
        if (plumo::IsStreamAddress(name)) {
          if (!Connect(name)) continue;
        } else {
          OpenAtStart([&] { FPlayer.SetFileName(name, entry.track); });
        }
        FWatch.DeadlineMs = 0;
        if (FPlayer.Status() == plumo::mpsPlaying) {
          FAhead = FIndex;
          FTitle = TitleText();
          ShowLine(FPlayer.Position(), true);
          return true;
        }
        // Opened but did not start: nothing will end it, so go on.
        FFailed = true;
      } catch (...) {
        FWatch.DeadlineMs = 0;
        if (FWatch.Stop) return false;
        EndLine();
        if (FWatch.TimedOut)
          std::fprintf(stderr, "plumo-play: %s: no audio within 20 s\n", plumo::WithoutCredentials(Current()).c_str());
        else
          PrintException(Current(), std::current_exception());
        FFailed = true;
      }
    }
    return false;
  }

  // Connects to a station and hands it to the player; a playlist behind the address puts its
  // entries in its place instead (false). Raises why it could not connect.
  bool Connect(const std::string& address) {
    FWatch.Arm(kFirstSoundMs);
    plumo::THttpOptions options;
    options.Abort = &FWatch.Abort;
    auto stream = std::make_unique<plumo::THttpStream>(address, options);
    stream->WaitReady();
    if (FWatch.Abort) throw plumo::EStreamError(address + ": cancelled");
    if (stream->IsPlaylist()) {
      std::vector<std::string> entries;
      // A playlist that leads to playlists again ends somewhere.
      if (++FExpanded <= 16) plumo::ReadAddressPlaylist(stream->PlaylistText(), address, entries, &FEntryTitles);
      if (entries.empty()) throw plumo::EStreamError(plumo::WithoutCredentials(address) + ": the playlist names no entry");
      std::vector<Entry> taken;
      for (const std::string& e : entries) taken.push_back({e, {}, e});
      FFiles.insert(FFiles.begin() + FIndex + 1, taken.begin(), taken.end());
      return false;
    }
    // A file on a server plays as a file: to its end, from --start when its server takes ranges.
    const bool file = stream->IsFile();
    plumo::TNamedStream opened = plumo::FileOrStation(std::move(stream), options);
    const auto open = [&] {
      FPlayer.OpenStream(address, std::move(opened.Stream), opened.Seekable ? plumo::TMP3Player::kSeekable : 0);
    };
    if (file)
      OpenAtStart(open);
    else
      open();
    return true;
  }

  // Opens a file with open(); the first one plays from --start: opened without playing, moved to
  // the start (where it can seek), then played.
  template <class F>
  void OpenAtStart(F open) {
    if (FStart <= 0) {
      open();
      return;
    }
    FPlayer.SetAutoPlay(false);
    open();
    FPlayer.Seek(static_cast<int64_t>(FStart * FPlayer.Source().SampleRate() + 0.5));
    FStart = 0;
    FPlayer.SetAutoPlay(true);
  }

  // The file to follow the last one handed to the player without a gap; "" after the last entry.
  plumo::TNextFile NextFile() {
    if (FAhead + 1 >= static_cast<int>(FFiles.size())) return {};
    const Entry& next = FFiles[static_cast<size_t>(++FAhead)];
    return {next.file, next.track};
  }

  // The player went over to the next file without a gap.
  void Changed() {
    ShowLine(FPlayer.EndPosition(), false);
    EndLine();
    ++FIndex;
    FTitle = TitleText();
    ShowLine(FPlayer.Position(), true);
  }

  // The station named another title.
  void TitleChanged() {
    const std::string title = TitleText();
    if (title == FTitle) return;
    FTitle = title;
    ShowLine(FPlayer.Position(), true);
  }

  // The time ms and the title of the file playing, on one line of the terminal.
  void ShowLine(int32_t ms, bool force) {
    std::string line = TimeText(ms) + "  " + (FPlayer.LiveReconnecting() ? "(reconnecting...)  " : "") + FTitle;
    // The last column stays free: a line that fills it wraps on some terminals.
    if (const int width = TerminalWidth(); width > 1) line = CutToWidth(line, width - 1);
    if (!FTerminal) {
      // Each title as it comes, also into a pipe (a station names them as it goes).
      if (force) {
        std::printf("%s\n", FTitle.c_str());
        std::fflush(stdout);
      }
      return;
    }
    if (!force && line == FLastLine) return;
    std::printf("\r%s\033[K", line.c_str());
    std::fflush(stdout);
    FLastLine = line;
  }

  void EndLine() {
    if (FTerminal && !FLastLine.empty()) std::printf("\n");
    FLastLine.clear();
  }

  // The entry playing (or the last one tried).
  std::string Current() const {
    if (FIndex < 0 || FFiles.empty()) return "";
    return FFiles[static_cast<size_t>(std::min<int>(FIndex, static_cast<int>(FFiles.size()) - 1))].name;
  }

  void Fail() { FFailed = true; }

  // The title shown: a live stream's with its station; a station's name from its playlist until
  // it names a title of its own.
  std::string TitleText() const {
    std::string title = FPlayer.Title();
    if (FPlayer.IsLive()) {
      const std::string address = plumo::WithoutCredentials(FPlayer.FileName());
      if (const auto given = FEntryTitles.find(FPlayer.FileName());
          given != FEntryTitles.end() && title == address.substr(address.find_last_of('/') + 1))
        title = given->second;
      const std::string station = FPlayer.Album();
      if (!station.empty() && station != title) title += "  (" + station + ")";
    }
    return plumo::TerminalText(title);
  }

  bool Failed() const { return FFailed; }

 private:
  plumo::TMP3Player& FPlayer;
  std::vector<Entry> FFiles;
  int FIndex = -1;
  // The last entry handed to the player (FIndex, or a file chained after it).
  int FAhead = -1;
  bool FTerminal;
  bool FFailed = false;
  double FStart;  // where the first file begins, in seconds
  TStopWatch& FWatch;
  plumo::TEntryTitles FEntryTitles;  // titles the playlists behind addresses gave
  int FExpanded = 0;                 // playlists behind addresses read
  std::string FTitle;
  std::string FLastLine;
};

}  // namespace

int main(int argc, char** argv) {
  std::string device = "auto";
  double start = 0;
  std::string replayGain = "off";
  std::vector<std::string> files;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--device" && i + 1 < argc) {
      device = argv[++i];
    } else if (a.rfind("--device=", 0) == 0) {
      device = a.substr(9);
    } else if (a == "--start" && i + 1 < argc) {
      char* end = nullptr;
      const std::string text = argv[++i];
      start = std::strtod(text.c_str(), &end);
      if (text.empty() || *end != '\0' || !(start >= 0 && start < 1e9)) {
        std::fprintf(stderr, "plumo-play: bad time '%s' for --start\n%s", text.c_str(), kUsage);
        return 2;
      }
    } else if (a == "--replaygain" && i + 1 < argc) {
      replayGain = argv[++i];
    } else if (a.rfind("--replaygain=", 0) == 0) {
      replayGain = a.substr(13);
    } else if (a == "--help" || a == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (a == "--version" || a == "-V") {
      std::printf("%s %s\n", "plumo-play", PLUMO_VERSION);
      return 0;
    } else if (a.size() > 1 && a[0] == '-') {
      std::fprintf(stderr, "plumo-play: unknown option '%s'\n%s", a.c_str(), kUsage);
      return 2;
    } else {
      files.push_back(a);
    }
  }
  // Ctrl-C and the end of the session are taken from the queue of blocked signals, not by a
  // handler, so the main loop stops the player in an orderly way. Blocked before the sound
  // system starts its threads, which inherit the mask: a signal sent to the process then waits
  // for the main loop instead of ending the program on one of them.
  const sigset_t stop_signals = plumo::platform::BlockStopSignals();
  std::shared_ptr<plumo::platform::WaveDriver> driver = MakeDriver(device);
  if (!driver || files.empty()) {
    if (!driver) std::fprintf(stderr, "plumo-play: unknown device '%s'\n", device.c_str());
    std::fputs(kUsage, stderr);
    return 2;
  }

  const plumo::TReplayGainMode gainMode = replayGain == "track"   ? plumo::rgmTrack
                                          : replayGain == "album" ? plumo::rgmAlbum
                                          : replayGain == "auto"  ? plumo::rgmAuto
                                                                  : plumo::rgmOff;
  if (gainMode == plumo::rgmOff && replayGain != "off") {
    std::fprintf(stderr, "plumo-play: unknown ReplayGain mode '%s'\n%s", replayGain.c_str(), kUsage);
    return 2;
  }
  // A sheet gives its tracks; one that cannot be read, or names no track, is said once.
  std::vector<Entry> entries;
  bool unreadable = false;
  for (const std::string& file : files) {
    if (!plumo::IsCueSheet(file)) {
      entries.push_back({file, {}, file});
      continue;
    }
    try {
      const plumo::TCueSheet sheet = plumo::ReadCueSheet(file);
      if (sheet.Tracks.empty()) throw std::runtime_error("the sheet names no track");
      std::string missing;
      for (size_t i = 0; i < sheet.Tracks.size(); ++i) {
        const plumo::TCueTrack& t = sheet.Tracks[i];
        if (!plumo::RegularFileExists(t.File)) {
          if (t.File != missing) PrintException(file, std::make_exception_ptr(std::runtime_error("no file " + t.File)));
          missing = t.File;
          unreadable = true;
          continue;
        }
        entries.push_back({t.File, plumo::CueTrackSpan(sheet, t), plumo::CueEntry(file, static_cast<int32_t>(i + 1))});
      }
    } catch (...) {
      PrintException(file, std::current_exception());
      unreadable = true;
    }
  }
  // Declared before the player, which uses it to its end; it measures the files the entries play.
  std::unique_ptr<plumo::TLoudnessScanner> scanner;
  if (gainMode != plumo::rgmOff) {
    scanner = std::make_unique<plumo::TLoudnessScanner>();
    std::vector<std::string> measured;
    for (const Entry& entry : entries) measured.push_back(entry.file);
    scanner->SetPlaylist(std::move(measured));
  }
  plumo::TMP3Player player(driver);
  player.SetLoudnessScanner(scanner.get());
  player.SetReplayGainMode(gainMode);
  TStopWatch watch;
  // Takes the stop signals and watches the deadline of the first sound, so that neither waits for
  // the main thread, which may wait for a station.
  std::jthread watcher([&](std::stop_token stop) {
    while (!stop.stop_requested()) {
      timespec tick{0, 100 * 1000 * 1000};
      const bool signalled = sigtimedwait(&stop_signals, nullptr, &tick) > 0;
      int64_t deadline = watch.DeadlineMs.load();
      if (signalled) {
        watch.Stop = true;
        watch.Abort = true;
      } else if (deadline != 0 && NowMs() >= deadline && watch.DeadlineMs.compare_exchange_strong(deadline, 0)) {
        // Taken only while the entry still waits for its first sound.
        watch.TimedOut = true;
        watch.Abort = true;
      }
    }
  });
  Playlist playlist(player, std::move(entries), start, watch);
  if (unreadable) playlist.Fail();
  bool quit = false;
  player.ShowException = [&](const std::exception_ptr& e) {
    playlist.EndLine();
    PrintException(playlist.Current(), e);
    playlist.Fail();
  };
  player.OnGetNextFile = [&](plumo::TMP3Player*) { return playlist.NextFile(); };
  player.OnTrackChange = [&](plumo::TMP3Player*) { playlist.Changed(); };
  player.OnTitleChange = [&](plumo::TMP3Player*) { playlist.TitleChanged(); };
  player.OnEndPlay = [&](plumo::TMP3Player*, plumo::TMP3EndPlayReason reason) {
    // The time at the end, not the 00:00 the stop leaves behind.
    playlist.ShowLine(player.EndPosition(), false);
    playlist.EndLine();
    // A live stream that ended by itself says why (a failure has been shown already).
    if (reason == plumo::merSuccessful && !player.EndMessage().empty())
      std::fprintf(stderr, "plumo-play: %s\n", player.EndMessage().c_str());
    if (reason == plumo::merStoped || !playlist.Next()) quit = true;
  };

  if (!playlist.Next()) quit = true;
  while (!quit) {
    try {
      player.Window().WaitForMessage(200);
      player.Window().ProcessMessages();
      if (quit) break;
      playlist.ShowLine(player.Position(), false);
      if (watch.Stop) {
        quit = true;
        player.Stop();
        player.Window().ProcessMessages();
      }
    } catch (...) {
      // The device failed in a handler or a query (it could not finish, as on a full disk). A
      // failed stop has ended the file all the same, as failed, which moves on to the next one;
      // a file still playing is stopped here.
      playlist.EndLine();
      PrintException(playlist.Current(), std::current_exception());
      playlist.Fail();
      if (!quit && player.Status() != plumo::mpsStopped) {
        try {
          player.Stop();
        } catch (...) {
          PrintException(playlist.Current(), std::current_exception());
        }
      }
    }
  }
  playlist.EndLine();
  player.Close();
  // What was begun is measured to its end, for the next start (Ctrl-C gives it up).
  if (scanner && !watch.Stop) scanner->WaitIdle();
  return playlist.Failed() ? 1 : 0;
}

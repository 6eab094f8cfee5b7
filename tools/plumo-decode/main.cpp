// plumo-decode: decodes an MPEG audio file to WAV, raw PCM or standard output, or describes it.
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <memory>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

#include "cpu.h"
#include "cue_sheet.h"
#include "file_stream.h"
#include "http_file_stream.h"
#include "loudness_meter.h"
#include "loudness_scanner.h"
#include "named_stream.h"
#include "playlist.h"
#include "stream_decode.h"
#include "text_conversion.h"

namespace {

constexpr const char* kUsage =
    "usage: plumo-decode [--info] [--channels stereo|mix|left|right] [--invert]\n"
    "                    [--eq LEVELS [--eq-mode subband|freq]] [--kernels FORM]\n"
    "                    [--start SECONDS [--length SECONDS]] [--no-gapless] [--track N] IN [OUT]\n"
    "       plumo-decode --loudness FILE...\n"
    "  IN: a file, a pipe, or an http:// or https:// stream address (a live stream runs until it ends\n"
    "  or --length is reached), or a .cue sheet: --info lists its tracks (start sample and length in\n"
    "  samples), --track N decodes its Nth track (1 is the first) exactly.\n"
    "  LEVELS: comma-separated band levels in 0.2 dB steps, -100 .. 100 (100 = +20 dB), band 0 first;\n"
    "  subband mode (default): band i is sub-band i; freq mode: the bands spread from 60 Hz to 16 kHz.\n"
    "  FORM: the instruction set the decoding kernels use: auto (default: the widest this processor\n"
    "  has), scalar, avx2 or avx512; every form gives the same PCM.\n"
    "  OUT ending in .pcm or .raw: raw 16-bit little-endian PCM; '-': raw PCM on standard output;\n"
    "  anything else: a WAV file.\n"
    "  --start: begin at that time (seconds with a fraction; 0 is the first sample after the encoder's\n"
    "  delay); --length: write at most that long. --no-gapless: every frame whole, the encoder's delay\n"
    "  and padding included.\n"
    "  --loudness: measures each file and all of them as one (EBU R128): integrated loudness, loudness\n"
    "  range, true peak and the ReplayGain 2.0 gains (reference -18 LUFS), one tab-separated line each.\n"
    "  --help: this text; --version: the version. Exit status 0, 1 when the input cannot be decoded,\n"
    "  2 for a command line that is not one of these.\n";

struct Options {
  bool info = false;
  plumo::DecodeOptions decode;
  std::optional<plumo::KernelForm> kernels;  // none: the decoder's own choice
  std::string in, out;
  double start = 0;
  double length = -1;  // negative: to the end
  int track = 0;       // a sheet's track, 1 the first; 0: none given
};

// A time in seconds (a fraction allowed), >= 0; false when the text is not one.
bool ParseSeconds(const std::string& text, double& seconds) {
  char* end = nullptr;
  errno = 0;
  seconds = std::strtod(text.c_str(), &end);
  return !text.empty() && *end == '\0' && errno == 0 && seconds >= 0 && seconds < 1e9;
}

bool EndsWith(const std::string& s, const char* suffix) {
  const size_t n = std::strlen(suffix);
  if (s.size() < n) return false;
  for (size_t i = 0; i < n; ++i)
    if (std::tolower(static_cast<unsigned char>(s[s.size() - n + i])) != suffix[i]) return false;
  return true;
}

void PutLe(std::string& s, uint32_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) s.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

// Both size fields of a WAV header written before its length is known.
constexpr uint32_t kStreamingSize = 0xFFFFFFFF;

std::string WavHeader(const plumo::OutputFormat& f, uint32_t data_bytes) {
  std::string h = "RIFF";
  PutLe(h, data_bytes == kStreamingSize ? kStreamingSize : 36 + data_bytes, 4);
  h += "WAVEfmt ";
  PutLe(h, 16, 4);
  PutLe(h, 1, 2);
  PutLe(h, static_cast<uint32_t>(f.channels), 2);
  PutLe(h, static_cast<uint32_t>(f.sample_rate), 4);
  PutLe(h, static_cast<uint32_t>(f.sample_rate * f.channels * 2), 4);
  PutLe(h, static_cast<uint32_t>(f.channels * 2), 2);
  PutLe(h, 16, 2);
  h += "data";
  PutLe(h, data_bytes, 4);
  return h;
}

const char* ModeName(int mode) {
  static const char* const names[] = {"stereo", "joint stereo", "dual channel", "single channel"};
  return names[mode & 3];
}

void PrintInfo(const plumo::StreamDecoder& d, const std::string& file_name, const plumo::TLiveStream* live) {
  const plumo::StreamInfo s = d.Info();
  const plumo::FrameHeader& h = s.header;
  const int version = plumo::MpegVersionTimes10(h);
  std::printf("version: MPEG-%d%s\n", version / 10, version == 25 ? ".5" : "");
  std::printf("layer: %d\n", plumo::LayerNumber(h));
  std::printf("sample rate: %d Hz\n", s.format.sample_rate);
  std::printf("channels: %d (%s)\n", plumo::HeaderChannels(h), ModeName(h.mode));
  const int samples_per_channel = s.format.samples_per_frame / std::max(1, s.format.channels);
  if (s.vbr == plumo::TVbrHeader::Info) {
    std::printf("bit rate: %d kbit/s (Info header)\n", s.bitrate / 1000);
  } else if (s.vbr != plumo::TVbrHeader::None && s.vbr_frames > 0 && s.format.sample_rate > 0) {
    const double seconds = static_cast<double>(s.vbr_frames) * samples_per_channel / s.format.sample_rate;
    std::printf("bit rate: VBR (%s header, average %.0f kbit/s)\n", s.vbr == plumo::TVbrHeader::Xing ? "Xing" : "VBRI",
                seconds > 0 ? static_cast<double>(s.data_length) * 8 / seconds / 1000 : 0.0);
  } else {
    std::printf("bit rate: %d kbit/s\n", s.bitrate / 1000);
  }
  // A pipe or a station gives no length: its audio runs to wherever the stream ends.
  if (s.data_length == plumo::TMP3Source::kOpenLength)
    std::printf("audio: to the end of the stream from offset %lld\n", static_cast<long long>(s.data_start));
  else
    std::printf("audio: %lld bytes from offset %lld\n", static_cast<long long>(s.data_length),
                static_cast<long long>(s.data_start));
  // The samples played, counted from the frames; a pipe's are not known before its end.
  if (s.length_samples >= 0 && s.format.sample_rate > 0)
    std::printf("length: %.2f s (%lld samples)\n", static_cast<double>(s.length_samples) / s.format.sample_rate,
                static_cast<long long>(s.length_samples));
  else
    std::printf("length: unknown\n");
  std::printf("gapless: %lld samples cut at the start, %lld at the end\n", static_cast<long long>(s.start_trim),
              static_cast<long long>(s.end_trim));

  const plumo::TMP3Info& info = d.Source().Info();
  static const struct {
    plumo::TMP3InfoType kind;
    const char* name;
  } kinds[] = {{plumo::mitMacBin, "MacBinary"}, {plumo::mitRiff, "RIFF INFO"}, {plumo::mitID3V2, "ID3v2"},
               {plumo::mitApe, "APEv2"}, {plumo::mitID3V1, "ID3v1"}, {plumo::mitLyrics, "Lyrics3"}};
  for (const auto& k : kinds) {
    if (!info.Found().Contains(k.kind)) continue;
    std::printf("[%s]\n", k.name);
    if (k.kind == plumo::mitMacBin)
      std::printf("  data fork: %lld bytes, resource fork: %lld bytes\n", static_cast<long long>(info.MacDataSize()),
                  static_cast<long long>(info.MacResSize()));
    for (const std::string& line : info.Lines(k.kind)) std::printf("  %s\n", plumo::TerminalText(line).c_str());
  }
  const plumo::TReplayGain gain = d.Source().ReplayGain();
  if (!gain.Empty()) {
    const auto show = [](const std::optional<double>& v, const char* format) {
      char text[32] = "-";
      if (v) std::snprintf(text, sizeof text, format, *v);
      return std::string(text);
    };
    std::printf("replaygain: track %s (peak %s), album %s (peak %s)\n", show(gain.TrackGain, "%+.2f dB").c_str(),
                show(gain.TrackPeak, "%.6f").c_str(), show(gain.AlbumGain, "%+.2f dB").c_str(),
                show(gain.AlbumPeak, "%.6f").c_str());
  }
  const plumo::TPicture& picture = info.Picture();
  if (!picture.Data.empty()) {
    const std::string_view kind = plumo::PictureKind(picture.Data);
    std::printf("picture: %s, %zu bytes, picture type %d%s\n", kind.empty() ? "unknown type" : std::string(kind).c_str(),
                picture.Data.size(), picture.Type, picture.Type == 3 ? " (front cover)" : "");
  }
  // A live stream names its station and what it plays now; without a title tag the player shows
  // the file's name.
  std::string title = live ? live->StreamTitle() : std::string();
  if (live) std::printf("station: %s\n", plumo::TerminalText(live->StationName()).c_str());
  // A sheet's track: its own texts first.
  const plumo::TTrackSpan& track = d.Source().Track();
  if (title.empty()) title = track.Title;
  if (title.empty()) title = info.Title();
  if (title.empty() && !live) title = file_name.substr(file_name.find_last_of('/') + 1);
  std::printf("title: %s\n", plumo::TerminalText(title).c_str());
  std::printf("artist: %s\n", plumo::TerminalText(track.Artist.empty() ? info.Artist() : track.Artist).c_str());
  std::printf("album: %s\n", plumo::TerminalText(track.Album.empty() ? info.Album() : track.Album).c_str());
  std::printf("kernels: %s\n", plumo::ProcessDecoder().KernelReport().c_str());
}

// A failure that belongs to one file: reported as "plumo-decode: FILE: message".
class EFileError : public std::runtime_error {
 public:
  EFileError(std::string file, const std::string& message) : std::runtime_error(message), FFile(std::move(file)) {}
  const std::string& File() const { return FFile; }

 private:
  std::string FFile;
};

// Where the decoded output goes. A regular file (or a new one) is written under a temporary name
// beside it and renamed over it when complete, so that a failed decode never leaves a partial
// file; anything else (a pipe, a FIFO, a terminal, /dev/null) is written as the data comes.
class Output {
 public:
  Output(const std::string& name, const std::string& input) : FName(name) {
    Open(name, input);
    // A file, or a device such as /dev/null, takes the PCM of many frames in one write, straight
    // from the decoder's batch rather than through stdio's buffer (smaller than one frame's PCM).
    // Pipes, FIFOs and terminals (standard output among them) get each frame as it comes.
    struct stat out_stat {};
    if (FFile != stdout && ::fstat(::fileno(FFile), &out_stat) == 0 &&
        (S_ISREG(out_stat.st_mode) || (S_ISCHR(out_stat.st_mode) && !::isatty(::fileno(FFile)))) &&
        std::setvbuf(FFile, nullptr, _IONBF, 0) == 0)
      FBatchBytes = 64 * 1024;
  }
  Output(const Output&) = delete;
  Output& operator=(const Output&) = delete;
  ~Output() {
    if (FFile && FFile != stdout) std::fclose(FFile);
    if (!FTemporary.empty()) ::unlink(FTemporary.c_str());
  }

  // The PCM bytes to give each Write (0: a frame's at a time).
  size_t BatchBytes() const { return FBatchBytes; }

 private:
  void Open(const std::string& name, const std::string& input) {
    if (name == "-") {
      FFile = stdout;
      return;
    }
    struct stat in_stat {}, out_stat {};
    const bool exists = ::stat(name.c_str(), &out_stat) == 0;
    if (exists && ::stat(input.c_str(), &in_stat) == 0 && in_stat.st_dev == out_stat.st_dev &&
        in_stat.st_ino == out_stat.st_ino)
      throw EFileError(name, "is the input file; it is not overwritten");
    if (exists && !S_ISREG(out_stat.st_mode)) {
      FFile = std::fopen(name.c_str(), "wb");
      if (!FFile) Fail();
      return;
    }
    // A link is followed: the file it names is replaced, the link stays.
    std::string target = name;
    if (exists) {
      char* real = ::realpath(name.c_str(), nullptr);
      if (real) {
        target = real;
        std::free(real);
      }
    }
    FTarget = target;
    FTemporary = target.substr(0, target.find_last_of('/') + 1) + ".plumo-decode." +
                 target.substr(target.find_last_of('/') + 1) + ".XXXXXX";
    const int fd = ::mkstemp(FTemporary.data());
    if (fd < 0) {
      FTemporary.clear();
      Fail();
    }
    // The permissions a new file would get (mkstemp makes it private), or those of the file replaced.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(fd, exists ? out_stat.st_mode & 07777 : 0666 & ~mask);
    FFile = ::fdopen(fd, "wb");
    if (!FFile) {
      ::close(fd);
      Fail();
    }
  }

 public:
  std::FILE* File() const { return FFile; }
  // Whether the data can be gone back over (a WAV header completed at the end).
  bool Seekable() const { return FFile != stdout && std::ftell(FFile) >= 0 && std::fseek(FFile, 0, SEEK_CUR) == 0; }

  void Write(const void* data, size_t size) {
    if (std::fwrite(data, 1, size, FFile) != size) Fail();
  }
  void Rewrite(const std::string& header) {
    if (std::fseek(FFile, 0, SEEK_SET) != 0) Fail();
    Write(header.data(), header.size());
  }

  // Everything is written: the data reaches its file, which takes the output's name.
  void Complete() {
    if (std::fflush(FFile) != 0) Fail();
    if (FFile == stdout) return;
    std::FILE* file = FFile;
    FFile = nullptr;
    if (std::fclose(file) != 0) Fail();
    if (!FTemporary.empty()) {
      if (std::rename(FTemporary.c_str(), FTarget.c_str()) != 0) Fail();
      FTemporary.clear();
    }
  }

 private:
  [[noreturn]] void Fail() const { throw EFileError(FName, std::string("cannot write: ") + std::strerror(errno)); }

  std::string FName;
  std::string FTarget;
  std::string FTemporary;
  size_t FBatchBytes = 0;
  std::FILE* FFile = nullptr;
};

// A sheet's tracks, each with its exact start sample in its file and its length.
void PrintSheet(const plumo::TCueSheet& sheet) {
  std::printf("sheet: %s / %s\n", plumo::TerminalText(sheet.Title).c_str(), plumo::TerminalText(sheet.Performer).c_str());
  for (size_t i = 0; i < sheet.Tracks.size(); ++i) {
    const plumo::TCueTrack& t = sheet.Tracks[i];
    std::printf("track %zu: ", i + 1);
    try {
      plumo::TFileStream file(t.File);
      plumo::StreamDecoder stream(plumo::ProcessDecoder(), file, true, {});
      stream.SetTrack(plumo::CueTrackSpan(sheet, t));
      const plumo::TMP3Source& s = stream.Source();
      const int64_t length = s.LengthSamples();
      std::printf("start %lld, length %lld samples (%.2f s)", static_cast<long long>(s.TrackFirstSample()),
                  static_cast<long long>(length), static_cast<double>(length) / std::max(1, s.SampleRate()));
    } catch (const std::exception& e) {
      std::printf("%s", plumo::TerminalText(e.what()).c_str());
    }
    std::printf(", %s / %s, %s\n", plumo::TerminalText(t.Title).c_str(), plumo::TerminalText(t.Performer).c_str(),
                plumo::TerminalText(t.File).c_str());
  }
}

// A network stream connected; a playlist behind the address leads to its first station (through
// at most a few playlists).
std::unique_ptr<plumo::THttpStream> ConnectStation(const std::string& address) {
  std::string next = address;
  for (int depth = 0;; ++depth) {
    plumo::THttpOptions options;
    // A recording ends where the station ends it; a fault is connected again.
    options.ReconnectAfterEnd = false;
    auto stream = std::make_unique<plumo::THttpStream>(next, options);
    stream->WaitReady();
    if (!stream->IsPlaylist()) return stream;
    std::vector<std::string> entries;
    plumo::ReadAddressPlaylist(stream->PlaylistText(), next, entries);
    const auto station = std::find_if(entries.begin(), entries.end(), [](const std::string& e) { return plumo::IsStreamAddress(e); });
    if (station == entries.end() || depth == 3)
      throw std::runtime_error(plumo::WithoutCredentials(next) + ": the playlist names no station");
    next = *station;
  }
}

int Run(Options o) {
  plumo::TTrackSpan track;
  if (plumo::IsCueSheet(o.in)) {
    const plumo::TCueSheet sheet = plumo::ReadCueSheet(o.in);
    if (o.info && o.track == 0) {
      PrintSheet(sheet);
      return 0;
    }
    if (o.track < 1 || static_cast<size_t>(o.track) > sheet.Tracks.size())
      throw std::runtime_error(o.track == 0 ? "a sheet is decoded a track at a time (--track N)"
                                            : "the sheet has no track " + std::to_string(o.track));
    const plumo::TCueTrack& t = sheet.Tracks[static_cast<size_t>(o.track - 1)];
    track = plumo::CueTrackSpan(sheet, t);
    o.in = t.File;
  } else if (o.track != 0) {
    throw std::runtime_error("--track needs a .cue sheet");
  }
  // A file, a pipe (which cannot seek) or a network stream, opened as the player opens them.
  plumo::TNamedStream named;
  if (plumo::IsStreamAddress(o.in))
    named = plumo::FileOrStation(ConnectStation(o.in));
  else
    named = plumo::OpenNamedStream(o.in);
  plumo::TStream& in = *named.Stream;
  auto* live = dynamic_cast<plumo::THttpStream*>(named.Stream.get());
  plumo::Decoder& decoder = plumo::ProcessDecoder();
  // The decoder's own variants, in the form asked for; nothing reselects them afterwards.
  if (o.kernels) decoder.SelectKernelSet(plumo::ChooseKernels(plumo::SelectionFlags(plumo::DetectCpu())), *o.kernels);
  plumo::DecodeOptions decode = o.decode;
  decode.live = live != nullptr;
  plumo::StreamDecoder stream(decoder, in, named.Seekable, decode);
  if (!track.Whole()) stream.SetTrack(track);
  if (o.info) {
    // The description gives the exact length: every frame is counted.
    stream.CompleteIndex();
    PrintInfo(stream, o.in, live);
    return 0;
  }

  const bool raw = o.out == "-" || EndsWith(o.out, ".pcm") || EndsWith(o.out, ".raw");
  Output out(o.out, o.in);
  const plumo::OutputFormat format = stream.Info().format;
  // A WAV header that cannot be completed at the end (a pipe) gives no sizes: the streaming form.
  const bool streaming = !raw && !out.Seekable();
  if (!raw) {
    const std::string header = WavHeader(format, streaming ? kStreamingSize : 0);
    out.Write(header.data(), header.size());
  }
  uint64_t data_bytes = 0;
  try {
    // Times to samples, rounded to the nearest.
    const auto samples = [&](double seconds) { return static_cast<int64_t>(seconds * format.sample_rate + 0.5); };
    const int64_t start = samples(o.start);
    // A file on a server is fetched as far as the start first, so that the start is exact (the
    // player estimates a place not yet fetched instead).
    if (start > 0 && dynamic_cast<plumo::THttpFileStream*>(named.Stream.get())) stream.CompleteIndex();
    if (start > 0) stream.Seek(start);
    stream.Decode(
        [&](std::span<const uint8_t> pcm) {
          out.Write(pcm.data(), pcm.size());
          data_bytes += pcm.size();
        },
        o.length < 0 ? -1 : samples(o.length), out.BatchBytes());
  } catch (const EFileError&) {
    throw;
  } catch (const std::exception& e) {
    throw EFileError(o.in, e.what());
  }
  if (!raw && !streaming)
    out.Rewrite(WavHeader(format, static_cast<uint32_t>(std::min<uint64_t>(data_bytes, 0xFFFFFFDBu))));
  out.Complete();
  // What a live stream brought is kept; a stream that broke off says why.
  if (live && !live->EndMessage().empty()) throw std::runtime_error(live->EndMessage());
  if (live && stream.Source().NoAudio())
    throw std::runtime_error(plumo::WithoutCredentials(o.in) + ": no MPEG audio in the stream");
  return 0;
}

// Measures files one by one and all together; 0 when every file could be measured.
int Loudness(const std::vector<std::string>& files) {
  std::vector<std::unique_ptr<plumo::TLoudnessMeter>> meters;
  std::vector<plumo::TMeasuredFile> measured;
  std::vector<std::string> names;
  int status = 0;
  for (const std::string& file : files) {
    try {
      std::unique_ptr<plumo::TLoudnessMeter> meter;
      measured.push_back(plumo::MeasureFile(plumo::ProcessDecoder(), file, nullptr, &meter));
      meters.push_back(std::move(meter));
      names.push_back(file);
    } catch (const std::exception& e) {
      std::fprintf(stderr, "plumo-decode: %s: %s\n", file.c_str(), e.what());
      status = 1;
    }
  }
  std::vector<plumo::TLoudnessMeter*> all;
  double peak = 0;
  for (size_t i = 0; i < meters.size(); ++i) {
    all.push_back(meters[i].get());
    peak = std::max(peak, measured[i].Loudness.TruePeak);
  }
  const double album = plumo::TLoudnessMeter::Integrated(all);
  const auto lufs = [](double v) { return v > -70 ? v : -HUGE_VAL; };
  const auto db = [](double v) { return v > 0 ? 20 * std::log10(v) : -HUGE_VAL; };
  const double album_gain = album > -70 ? plumo::kReferenceLoudness - album : 0;
  std::printf("integrated LUFS\trange LU\ttrue peak dBTP\ttrack gain dB\talbum gain dB\tfile\n");
  for (size_t i = 0; i < measured.size(); ++i) {
    const plumo::TLoudness& l = measured[i].Loudness;
    std::printf("%.2f\t%.2f\t%.2f\t%+.2f\t%+.2f\t%s\n", lufs(l.Integrated), l.Range, db(l.TruePeak), l.Gain(),
                album_gain, plumo::TerminalText(names[i]).c_str());
  }
  if (!meters.empty())
    std::printf("%.2f\t%.2f\t%.2f\t%+.2f\t%+.2f\t(all)\n", lufs(album), plumo::TLoudnessMeter::Range(all), db(peak),
                album_gain, album_gain);
  return status;
}

// "plumo-decode: FILE: message"; a network stream's messages name their address already.
void Report(const std::string& name, const std::string& message) {
  const std::string file = plumo::WithoutCredentials(name);
  if (message.compare(0, file.size() + 2, file + ": ") == 0)
    std::fprintf(stderr, "plumo-decode: %s\n", message.c_str());
  else
    std::fprintf(stderr, "plumo-decode: %s: %s\n", file.c_str(), message.c_str());
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  bool loudness = false;
  std::vector<std::string> files;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--info") {
      o.info = true;
    } else if (a == "--loudness") {
      loudness = true;
    } else if (a == "--invert") {
      o.decode.invert_polarity = true;
    } else if (a == "--channels" && i + 1 < argc) {
      const std::string c = argv[++i];
      if (c == "stereo") o.decode.channel_choice = plumo::kChannelsBoth;
      else if (c == "mix") o.decode.channel_choice = plumo::kChannelsMix;
      else if (c == "left") o.decode.channel_choice = plumo::kChannelsLeft;
      else if (c == "right") o.decode.channel_choice = plumo::kChannelsRight;
      else {
        std::fprintf(stderr, "plumo-decode: unknown channel choice '%s'\n%s", c.c_str(), kUsage);
        return 2;
      }
    } else if (a == "--eq" && i + 1 < argc) {
      std::string list = argv[++i];
      o.decode.eq_levels.clear();
      for (size_t start = 0; start <= list.size();) {
        const size_t comma = std::min(list.find(',', start), list.size());
        const std::string item = list.substr(start, comma - start);
        char* end = nullptr;
        const long level = std::strtol(item.c_str(), &end, 10);
        if (item.empty() || *end != '\0' || level < plumo::kEqualizerLevelMin || level > plumo::kEqualizerLevelMax || o.decode.eq_levels.size() == 32) {
          std::fprintf(stderr, "plumo-decode: bad equalizer levels '%s'\n%s", list.c_str(), kUsage);
          return 2;
        }
        o.decode.eq_levels.push_back(static_cast<int32_t>(level));
        start = comma + 1;
      }
    } else if (a == "--eq-mode" && i + 1 < argc) {
      const std::string m = argv[++i];
      if (m == "subband") o.decode.eq_mode = plumo::memSubBand;
      else if (m == "freq") o.decode.eq_mode = plumo::memFreq;
      else {
        std::fprintf(stderr, "plumo-decode: unknown equalizer mode '%s'\n%s", m.c_str(), kUsage);
        return 2;
      }
    } else if (a == "--kernels" && i + 1 < argc) {
      const std::string k = argv[++i];
      if (k == "auto") o.kernels.reset();
      else if (k == "scalar") o.kernels = plumo::KernelForm::kScalar;
      else if (k == "avx2") o.kernels = plumo::KernelForm::kAvx2;
      else if (k == "avx512") o.kernels = plumo::KernelForm::kAvx512;
      else {
        std::fprintf(stderr, "plumo-decode: unknown kernel form '%s'\n%s", k.c_str(), kUsage);
        return 2;
      }
      // A narrower form stands in for a missing one inside the decoder; asked for by name, it is refused.
      if (o.kernels && *o.kernels > plumo::BestKernelForm()) {
        std::fprintf(stderr, "plumo-decode: --kernels %s: this processor has no %s\n", k.c_str(),
                     plumo::KernelFormName(*o.kernels));
        return 1;
      }
    } else if ((a == "--start" || a == "--length") && i + 1 < argc) {
      double seconds = 0;
      if (!ParseSeconds(argv[++i], seconds)) {
        std::fprintf(stderr, "plumo-decode: bad time '%s' for %s\n%s", argv[i], a.c_str(), kUsage);
        return 2;
      }
      (a == "--start" ? o.start : o.length) = seconds;
    } else if (a == "--track" && i + 1 < argc) {
      const std::string n = argv[++i];
      char* end = nullptr;
      const long value = std::strtol(n.c_str(), &end, 10);
      if (n.empty() || *end != '\0' || value < 1 || value > 9999) {
        std::fprintf(stderr, "plumo-decode: bad track number '%s'\n%s", n.c_str(), kUsage);
        return 2;
      }
      o.track = static_cast<int>(value);
    } else if (a == "--no-gapless") {
      o.decode.gapless = false;
    } else if (a == "--help" || a == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (a == "--version" || a == "-V") {
      std::printf("%s %s\n", "plumo-decode", PLUMO_VERSION);
      return 0;
    } else if (a.size() > 1 && a[0] == '-' && a != "-") {
      std::fprintf(stderr, "plumo-decode: unknown option '%s'\n%s", a.c_str(), kUsage);
      return 2;
    } else {
      files.push_back(a);
    }
  }
  if (loudness && !files.empty()) return Loudness(files);
  if (files.empty() || files.size() > 2 || (!o.info && files.size() != 2)) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  o.in = files[0];
  if (files.size() == 2) o.out = files[1];
  if (o.info && !o.out.empty()) std::fprintf(stderr, "plumo-decode: %s: ignored with --info\n", o.out.c_str());
  try {
    return Run(o);
  } catch (const EFileError& e) {
    Report(e.File(), e.what());
  } catch (const std::exception& e) {
    // Opening and reading the input.
    Report(o.in, e.what());
  }
  return 1;
}

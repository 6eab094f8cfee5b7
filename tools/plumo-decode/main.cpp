// plumo-decode: decodes an MPEG audio file to WAV, raw PCM or standard output, or describes it.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "file_stream.h"
#include "stream_decode.h"
#include "text_conversion.h"

namespace {

constexpr const char* kUsage =
    "usage: plumo-decode [--info] [--channels stereo|mix|left|right] [--invert]\n"
    "                    [--eq LEVELS [--eq-mode subband|freq]] IN [OUT]\n"
    "  LEVELS: comma-separated band levels in 0.2 dB steps, -100 .. 100 (100 = +20 dB), band 0 first;\n"
    "  subband mode (default): band i is sub-band i; freq mode: the bands spread from 60 Hz to 16 kHz.\n"
    "  OUT ending in .pcm or .raw: raw 16-bit little-endian PCM; '-': raw PCM on standard output;\n"
    "  anything else: a WAV file.\n";

struct Options {
  bool info = false;
  plumo::DecodeOptions decode;
  std::string in, out;
};

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

std::string WavHeader(const plumo::OutputFormat& f, uint32_t data_bytes) {
  std::string h = "RIFF";
  PutLe(h, 36 + data_bytes, 4);
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

void PrintInfo(const plumo::StreamDecoder& d, const std::string& file_name) {
  const plumo::StreamInfo s = d.Info();
  const plumo::FrameHeader& h = s.header;
  const int version = plumo::MpegVersionTimes10(h);
  std::printf("version: MPEG-%d%s\n", version / 10, version == 25 ? ".5" : "");
  std::printf("layer: %d\n", plumo::LayerNumber(h));
  std::printf("sample rate: %d Hz\n", s.format.sample_rate);
  std::printf("channels: %d (%s)\n", plumo::HeaderChannels(h), ModeName(h.mode));
  const int samples_per_channel = s.format.samples_per_frame / std::max(1, s.format.channels);
  double seconds = 0;
  if (s.vbr != plumo::TVbrHeader::None && s.vbr_frames > 0 && s.format.sample_rate > 0) {
    seconds = static_cast<double>(s.vbr_frames) * samples_per_channel / s.format.sample_rate;
    std::printf("bit rate: VBR (%s header, average %.0f kbit/s)\n", s.vbr == plumo::TVbrHeader::Xing ? "Xing" : "VBRI",
                seconds > 0 ? static_cast<double>(s.data_length) * 8 / seconds / 1000 : 0.0);
  } else {
    std::printf("bit rate: %d kbit/s\n", s.bitrate / 1000);
    if (s.bitrate > 0) seconds = static_cast<double>(s.data_length) * 8.0 / s.bitrate;
  }
  std::printf("audio: %lld bytes from offset %lld\n", static_cast<long long>(s.data_length),
              static_cast<long long>(s.data_start));
  std::printf("length: %.2f s\n", seconds);

  const plumo::TMP3Info& info = d.Source().Info();
  static const struct {
    plumo::TMP3InfoType kind;
    const char* name;
  } kinds[] = {{plumo::mitMacBin, "MacBinary"}, {plumo::mitRiff, "RIFF INFO"}, {plumo::mitID3V2, "ID3v2"},
               {plumo::mitID3V1, "ID3v1"}, {plumo::mitLyrics, "Lyrics3"}};
  for (const auto& k : kinds) {
    if (!info.Found().Contains(k.kind)) continue;
    std::printf("[%s]\n", k.name);
    if (k.kind == plumo::mitMacBin)
      std::printf("  data fork: %lld bytes, resource fork: %lld bytes\n", static_cast<long long>(info.MacDataSize()),
                  static_cast<long long>(info.MacResSize()));
    for (const std::string& line : info.Lines(k.kind)) std::printf("  %s\n", plumo::TerminalText(line).c_str());
  }
  // Without a title tag the player shows the file's name.
  std::string title = info.Title();
  if (title.empty()) title = file_name.substr(file_name.find_last_of('/') + 1);
  std::printf("title: %s\n", plumo::TerminalText(title).c_str());
  std::printf("artist: %s\n", plumo::TerminalText(info.Artist()).c_str());
  std::printf("album: %s\n", plumo::TerminalText(info.Album()).c_str());
  std::printf("kernels: %s\n", plumo::ProcessDecoder().KernelReport().c_str());
}

// A regular file can seek; a pipe or a terminal cannot.
bool IsSeekable(plumo::TStream& stream) {
  try {
    stream.Size();
    return true;
  } catch (const plumo::EStreamError&) {
    return false;
  }
}

int Run(const Options& o) {
  plumo::TFileStream in(o.in);
  plumo::Decoder& decoder = plumo::ProcessDecoder();
  plumo::StreamDecoder stream(decoder, in, IsSeekable(in), o.decode);
  if (o.info) {
    PrintInfo(stream, o.in);
    return 0;
  }

  const bool to_stdout = o.out == "-";
  const bool raw = to_stdout || EndsWith(o.out, ".pcm") || EndsWith(o.out, ".raw");
  std::FILE* out = to_stdout ? stdout : std::fopen(o.out.c_str(), "wb");
  if (!out) throw std::runtime_error("cannot write " + o.out + ": " + std::strerror(errno));
  bool write_failed = false;
  uint64_t data_bytes = 0;
  const plumo::OutputFormat format = stream.Info().format;
  if (!raw) {
    const std::string header = WavHeader(format, 0);
    write_failed |= std::fwrite(header.data(), 1, header.size(), out) != header.size();
  }
  stream.DecodeAll([&](std::span<const uint8_t> pcm) {
    write_failed |= std::fwrite(pcm.data(), 1, pcm.size(), out) != pcm.size();
    data_bytes += pcm.size();
  });
  if (!raw && !write_failed) {
    const std::string header = WavHeader(format, static_cast<uint32_t>(std::min<uint64_t>(data_bytes, 0xFFFFFFDBu)));
    write_failed |= std::fseek(out, 0, SEEK_SET) != 0;
    write_failed |= std::fwrite(header.data(), 1, header.size(), out) != header.size();
  }
  write_failed |= std::fflush(out) != 0;
  if (!to_stdout) write_failed |= std::fclose(out) != 0;
  if (write_failed) throw std::runtime_error("cannot write " + o.out);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  std::vector<std::string> files;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--info") {
      o.info = true;
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
        return 1;
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
          return 1;
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
        return 1;
      }
    } else if (a == "--help" || a == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (a.size() > 1 && a[0] == '-' && a != "-") {
      std::fprintf(stderr, "plumo-decode: unknown option '%s'\n%s", a.c_str(), kUsage);
      return 1;
    } else {
      files.push_back(a);
    }
  }
  if (files.empty() || files.size() > 2 || (!o.info && files.size() != 2)) {
    std::fputs(kUsage, stderr);
    return 1;
  }
  o.in = files[0];
  if (files.size() == 2) o.out = files[1];
  try {
    return Run(o);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
}

#include "replay_gain.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <string>

namespace plumo {

namespace {

// Gains beyond this many dB either way are taken as damage, not as a level.
constexpr double kMaxGain = 64;

bool SameName(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return (x >= 'a' && x <= 'z' ? x - 32 : x) == (y >= 'a' && y <= 'z' ? y - 32 : y);
         });
}

// The number at the start of text ("-6.02 dB", "+1.5", "0.988"), blanks before it passed over.
std::optional<double> Number(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  double value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end == text.data() || !std::isfinite(value)) return std::nullopt;
  return value;
}

std::optional<double> Gain(std::string_view text) {
  const std::optional<double> g = Number(text);
  if (!g || std::fabs(*g) > kMaxGain) return std::nullopt;
  return g;
}

std::optional<double> Peak(std::string_view text) {
  const std::optional<double> p = Number(text);
  if (!p || *p <= 0 || *p > 1000) return std::nullopt;
  return p;
}

void Keep(std::optional<double>& slot, std::optional<double> value) {
  if (!slot) slot = value;
}

uint32_t Be32(const uint8_t* p) { return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3]; }

}  // namespace

bool TakeReplayGainItem(TReplayGain& gain, std::string_view name, std::string_view value) {
  if (SameName(name, "REPLAYGAIN_TRACK_GAIN"))
    Keep(gain.TrackGain, Gain(value));
  else if (SameName(name, "REPLAYGAIN_TRACK_PEAK"))
    Keep(gain.TrackPeak, Peak(value));
  else if (SameName(name, "REPLAYGAIN_ALBUM_GAIN"))
    Keep(gain.AlbumGain, Gain(value));
  else if (SameName(name, "REPLAYGAIN_ALBUM_PEAK"))
    Keep(gain.AlbumPeak, Peak(value));
  else
    return false;
  return true;
}

void TakeRva2(TReplayGain& gain, const uint8_t* body, size_t size) {
  const auto* text = reinterpret_cast<const char*>(body);
  const size_t nul = std::string_view(text, size).find('\0');
  if (nul == std::string_view::npos) return;
  const std::string_view id(text, nul);
  const bool track = SameName(id, "track");
  if (!track && !SameName(id, "album")) return;
  // Channel records: type, 16-bit volume adjustment in 1/512 dB, peak width in bits, peak.
  for (size_t at = nul + 1; at + 4 <= size;) {
    const uint8_t channel = body[at];
    const auto adjustment = static_cast<int16_t>(body[at + 1] << 8 | body[at + 2]);
    const unsigned bits = body[at + 3];
    const size_t peakBytes = (bits + 7) / 8;
    if (at + 4 + peakBytes > size) return;
    if (channel == 1) {
      const double g = adjustment / 512.0;
      std::optional<double> peak;
      // The peak is a fixed-point fraction with bits - 1 bits after the point; only its first
      // 32 bits count.
      if (bits > 0) {
        double value = 0;
        const size_t used = std::min<size_t>(peakBytes, 4);
        for (size_t i = 0; i < used; ++i) value = value * 256 + body[at + 4 + i];
        const double scale = std::ldexp(1.0, static_cast<int>(bits) - 1 - static_cast<int>(8 * (peakBytes - used)));
        if (value > 0) peak = value / scale;
      }
      Keep(track ? gain.TrackGain : gain.AlbumGain, g);
      Keep(track ? gain.TrackPeak : gain.AlbumPeak, peak);
      return;
    }
    at += 4 + peakBytes;
  }
}

TReplayGain LameReplayGain(const uint8_t* t, size_t size) {
  TReplayGain gain;
  // The LAME tag: a 9-byte encoder name, revision and method, lowpass, the peak (fixed point,
  // 23 bits after the point), then the track ("radio") and album ("audiophile") gains.
  if (size < 19) return gain;
  const uint32_t peak = Be32(t + 11);
  // Each gain: name code (3 bits: 1 track, 2 album), originator (3 bits), sign, 9 bits of tenths of a dB.
  for (const size_t offset : {size_t{15}, size_t{17}}) {
    const unsigned word = unsigned{t[offset]} << 8 | t[offset + 1];
    const unsigned name = word >> 13;
    const unsigned originator = (word >> 10) & 7;
    if (originator == 0) continue;
    const double value = ((word & 0x1FF) / 10.0) * ((word & 0x200) ? -1 : 1);
    if (name == 1) gain.TrackGain = value;
    if (name == 2) gain.AlbumGain = value;
  }
  if (peak > 0 && gain.TrackGain) gain.TrackPeak = peak / 8388608.0;
  return gain;
}

TReplayGain MergeReplayGain(const TReplayGain& tags, const TReplayGain& lame) {
  TReplayGain merged = tags;
  if (!tags.TrackGain) {
    merged.TrackGain = lame.TrackGain;
    merged.TrackPeak = lame.TrackGain ? lame.TrackPeak : tags.TrackPeak;
  }
  if (!tags.AlbumGain && !tags.AlbumPeak) {
    merged.AlbumGain = lame.AlbumGain;
    if (lame.AlbumGain) merged.AlbumPeak = lame.TrackPeak;
  }
  return merged;
}

double ReplayGainFactor(const TReplayGain& gain, TReplayGainMode mode, double preamp) {
  if (mode == rgmOff) return 1;
  const bool album = mode == rgmAlbum ? gain.AlbumGain.has_value() : !gain.TrackGain.has_value();
  const std::optional<double> g = album ? gain.AlbumGain : gain.TrackGain;
  if (!g) return 1;
  std::optional<double> peak = album ? gain.AlbumPeak : gain.TrackPeak;
  if (!peak) peak = album ? gain.TrackPeak : gain.AlbumPeak;
  double factor = std::pow(10.0, (*g + preamp) / 20);
  // Lowered, never limited sample by sample: the music keeps its shape.
  if (peak && *peak > 0)
    factor = std::min(factor, kPeakCeiling / *peak);
  else
    factor = std::min(factor, 1.0);
  return factor;
}

}  // namespace plumo

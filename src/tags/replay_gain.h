// ReplayGain: the level a track (or its album) should be played at, as taggers store it, and the
// factor the player scales the samples by.
//
// Values come from ID3v2 TXXX frames and APEv2 items named REPLAYGAIN_TRACK_GAIN, _TRACK_PEAK,
// _ALBUM_GAIN, _ALBUM_PEAK (any letter case, "-6.02 dB"), from ID3v2.4 RVA2 frames ("track" or
// "album", master volume channel) and from the LAME tag of the first frame.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace plumo {

// Auto: the album gain while an album plays in order, else the track gain (the player decides).
enum TReplayGainMode : uint8_t { rgmOff, rgmTrack, rgmAlbum, rgmAuto };

// The pre-amplification range, dB.
inline constexpr double kMinPreamp = -6;
inline constexpr double kMaxPreamp = 6;
// No gain lets the (true) peak exceed this fraction of full scale: -1 dBTP.
inline constexpr double kPeakCeiling = 0.8912509381337456;

struct TReplayGain {
  std::optional<double> TrackGain;  // dB
  std::optional<double> TrackPeak;  // fraction of full scale
  std::optional<double> AlbumGain;
  std::optional<double> AlbumPeak;

  bool Empty() const { return !TrackGain && !TrackPeak && !AlbumGain && !AlbumPeak; }
  friend bool operator==(const TReplayGain&, const TReplayGain&) = default;
};

// Takes one named value (a TXXX description or APEv2 key) when it is a ReplayGain name with a
// number; a value already held is kept (the first one found wins). True when the name was one.
bool TakeReplayGainItem(TReplayGain& gain, std::string_view name, std::string_view value);

// Takes an RVA2 frame body (identification, NUL, then channel records).
void TakeRva2(TReplayGain& gain, const uint8_t* body, size_t size);

// The track and album values of a LAME tag (the extension after a "Xing" or "Info" table, its
// encoder name already recognised); tag points at the encoder name, size bytes readable.
TReplayGain LameReplayGain(const uint8_t* tag, size_t size);

// The explicit tags' values, and the LAME tag's track values where the tags give no track gain.
TReplayGain MergeReplayGain(const TReplayGain& tags, const TReplayGain& lame);

// The amplitude factor for a mode (Auto counts as Track): Album takes the album gain, else the
// track gain; Track the track gain, else the album gain; preamp dB are added. The factor is
// lowered so that the matching peak stays at or below -1 dBTP; without any peak it is at most 1.
// 1 for Off or without any gain.
double ReplayGainFactor(const TReplayGain& gain, TReplayGainMode mode, double preamp = 0);

}  // namespace plumo

// The player's equalizer settings and their translation into the decoder's gain tables: in
// sub-band mode band i is sub-band i; in frequency mode each sub-band (Layers I and II) or
// frequency line (Layer III) takes the gain of the band whose centre frequency is nearest.
#pragma once

#include <array>
#include <cstdint>

#include "decoder.h"

namespace plumo {

enum TMP3EqualizerMode : uint8_t { memSubBand, memFreq };

inline constexpr int kEqualizerBands = 32;
// Band levels lie in -100 .. 100 (-20 dB .. +20 dB); levels outside are taken as the nearer end.
inline constexpr int32_t kEqualizerLevelMin = -100;
inline constexpr int32_t kEqualizerLevelMax = 100;

struct TEqualizerSettings {
  bool enabled = false;
  int32_t count = 6;
  TMP3EqualizerMode mode = memSubBand;
  // Level l is the amplitude gain 10^(l / 100): 100 is +20 dB, one unit 0.2 dB.
  std::array<int32_t, kEqualizerBands> levels{};
  // Band centre frequencies in Hz.
  std::array<int32_t, kEqualizerBands> frequencies{};
};

// Spreads the bands' centre frequencies from low to high Hz, geometrically. Ignored (false)
// unless the mode is memFreq and 0 < low <= high <= 24000.
bool SetEqualizerRange(TEqualizerSettings& settings, int32_t low, int32_t high);

// Writes the decoder's gain tables and switches for a stream of sample_rate Hz and the given
// layer (1..3). In sub-band mode the band frequencies become the sub-bands' centres. gain (the
// ReplayGain factor) scales every sub-band on top of the equalizer: the synthesis is linear, so
// the PCM is scaled in floating point before its 16-bit conversion.
void RebuildEqualizer(TEqualizerSettings& settings, int sample_rate, int layer, Decoder& decoder, float gain = 1.0f);

// The gain of a level, the level first clamped to kEqualizerLevelMin .. kEqualizerLevelMax.
float EqualizerGain(int32_t level);

}  // namespace plumo

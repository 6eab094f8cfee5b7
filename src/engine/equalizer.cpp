#include "equalizer.h"

#include <algorithm>
#include <cmath>

#include "assertion.h"

namespace plumo {

float EqualizerGain(int32_t level) {
  level = std::clamp(level, kEqualizerLevelMin, kEqualizerLevelMax);
  return static_cast<float>(std::pow(10.0, level / 100.0));
}

bool SetEqualizerRange(TEqualizerSettings& settings, int32_t low, int32_t high) {
  if (settings.mode != memFreq || low <= 0 || low > high || high > 24000) return false;
  const int n = std::clamp(settings.count, 1, kEqualizerBands);
  auto& f = settings.frequencies;
  f[0] = low;
  for (int i = 1; i <= n - 2; ++i) {
    // Each step spreads the remaining ratio evenly over the bands still to place.
    const double next = std::round(f[i - 1] * std::pow(static_cast<double>(high) / f[i - 1], 1.0 / (n - i)));
    f[i] = std::max(f[i - 1], static_cast<int32_t>(next));
  }
  f[n - 1] = high;
  return true;
}

namespace {

// The band whose centre is nearest to c Hz by ratio; the first wins a tie, 0 Hz counts as 1 Hz.
int NearestBand(const TEqualizerSettings& settings, double c) {
  const int n = std::clamp(settings.count, 1, kEqualizerBands);
  int best = 0;
  double best_ratio = 0;
  for (int b = 0; b < n; ++b) {
    double r = std::max(settings.frequencies[b], 1) / c;
    if (r < 1) r = 1 / r;
    if (b == 0 || r < best_ratio) best = b, best_ratio = r;
  }
  return best;
}

// Centre of part i of n equal parts of the band 0 .. fs/2.
double Centre(int sample_rate, int parts, int i) {
  Assert(sample_rate > 0 && i >= 0 && i < parts, "Assertion failure");
  return std::round(static_cast<double>(sample_rate) / (2.0 * parts) * (i + 0.5));
}

}  // namespace

void RebuildEqualizer(TEqualizerSettings& settings, int sample_rate, int layer, Decoder& decoder, float gain) {
  float* subband = decoder.SubbandGains();
  float* line = decoder.LineGains();
  const bool scaled = gain != 1.0f;
  if (settings.mode == memSubBand) {
    decoder.SetSubbandEqualizerOn(settings.enabled || scaled);
    decoder.SetLineEqualizerOn(false);
    for (int i = 0; i < kEqualizerBands; ++i) subband[i] = (settings.enabled ? EqualizerGain(settings.levels[i]) : 1.0f) * gain;
    if (sample_rate > 0)
      for (int i = 0; i < kEqualizerBands; ++i) settings.frequencies[i] = static_cast<int32_t>(Centre(sample_rate, 32, i));
    return;
  }
  if (layer != 3) {
    decoder.SetSubbandEqualizerOn(settings.enabled || scaled);
    decoder.SetLineEqualizerOn(false);
    for (int d = 0; d < 32; ++d)
      subband[d] = (settings.enabled ? EqualizerGain(settings.levels[NearestBand(settings, Centre(sample_rate, 32, d))]) : 1.0f) * gain;
    return;
  }
  decoder.SetSubbandEqualizerOn(scaled);
  decoder.SetLineEqualizerOn(settings.enabled);
  for (int i = 0; i < 32; ++i) subband[i] = gain;
  if (settings.enabled)
    for (int k = 0; k < 576; ++k) line[k] = EqualizerGain(settings.levels[NearestBand(settings, Centre(sample_rate, 576, k))]);
}

}  // namespace plumo

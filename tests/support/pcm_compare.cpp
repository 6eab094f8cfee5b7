#include "pcm_compare.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace plumo::test {
namespace {

constexpr int kTaps = 255;
constexpr double kCutoff = 0.43;  // in units of the sampling rate
constexpr double kBeta = 10.0;    // about 100 dB stop-band attenuation

double BesselI0(double x) {
  double sum = 1.0, term = 1.0;
  for (int k = 1; k < 64; ++k) {
    term *= (x / (2.0 * k)) * (x / (2.0 * k));
    sum += term;
    if (term < 1e-17 * sum) break;
  }
  return sum;
}

const std::vector<double>& Taps() {
  static const std::vector<double> taps = [] {
    std::vector<double> h(kTaps);
    const int mid = kTaps / 2;
    double sum = 0.0;
    for (int n = 0; n < kTaps; ++n) {
      const double m = n - mid;
      const double sinc = m == 0 ? 2.0 * kCutoff : std::sin(2.0 * std::numbers::pi * kCutoff * m) / (std::numbers::pi * m);
      const double r = m / mid;
      const double w = BesselI0(kBeta * std::sqrt(std::max(0.0, 1.0 - r * r))) / BesselI0(kBeta);
      h[n] = sinc * w;
      sum += h[n];
    }
    for (double& v : h) v /= sum;  // unity gain at DC
    return h;
  }();
  return taps;
}

}  // namespace

std::vector<double> LowPass(const std::vector<int16_t>& interleaved, int channels, int channel, size_t frames) {
  const std::vector<double>& h = Taps();
  const int mid = kTaps / 2;
  std::vector<double> out(frames, 0.0);
  for (size_t i = 0; i < frames; ++i) {
    double acc = 0.0;
    for (int k = 0; k < kTaps; ++k) {
      const long j = static_cast<long>(i) + k - mid;
      if (j < 0 || static_cast<size_t>(j) >= frames) continue;
      acc += h[k] * interleaved[static_cast<size_t>(j) * channels + channel];
    }
    out[i] = acc;
  }
  return out;
}

PcmComparison CompareLowPassed(const std::vector<int16_t>& ours, const std::vector<int16_t>& reference, int channels,
                               size_t frames) {
  frames = std::min({frames, ours.size() / channels, reference.size() / channels});
  PcmComparison result;
  result.frames = frames;
  if (frames == 0) return result;
  double squared = 0.0;
  for (int c = 0; c < channels; ++c) {
    const std::vector<double> a = LowPass(ours, channels, c, frames);
    const std::vector<double> b = LowPass(reference, channels, c, frames);
    for (size_t i = 0; i < frames; ++i) {
      const double d = a[i] - b[i];
      squared += d * d;
      result.max_difference = std::max(result.max_difference, std::fabs(d));
    }
  }
  const double mse = squared / static_cast<double>(frames * channels);
  result.psnr_db = mse == 0.0 ? 200.0 : 10.0 * std::log10(32767.0 * 32767.0 / mse);
  return result;
}

}  // namespace plumo::test

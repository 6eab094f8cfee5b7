#include "loudness_meter.h"

#include <ebur128.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <map>
#include <stdexcept>

namespace plumo {

namespace {

constexpr double kAbsoluteGate = -70;  // LUFS
constexpr double kRelativeGate = -10;  // LU below the absolute-gated mean
constexpr double kBinsPerLu = 10;

// Short-term loudness of 3 s windows, one every 100 ms, for the loudness range (EBU Tech 3342).
constexpr size_t kShortTermSteps = 30;
constexpr double kRangeGate = -20;  // LU below the absolute-gated mean of the short-term values

// True peak: the signal 4x oversampled by a polyphase low-pass (a Kaiser-windowed sinc of 64
// taps, 16 per phase, cut at the original Nyquist frequency), the largest magnitude of all
// phases. Phase 0 is the sample itself (its peak is the sample peak).
class TTruePeak {
 public:
  static constexpr int kPhases = 4;
  static constexpr int kTaps = 16;

  explicit TTruePeak(int channels)
      : FChannels(channels), FHistory(static_cast<size_t>(channels) * (kTaps - 1), 0.0f), FWork(kChunk + kTaps - 1), FOut(kChunk) {
    const auto bessel0 = [](double x) {
      double sum = 1, term = 1;
      for (int k = 1; k < 30; ++k) {
        term *= (x / (2 * k)) * (x / (2 * k));
        sum += term;
      }
      return sum;
    };
    constexpr double kBeta = 7;
    constexpr double kPi = 3.14159265358979323846;
    constexpr int kLength = kPhases * kTaps;
    for (int p = 0; p < kPhases; ++p) {
      double sum = 0;
      for (int k = 0; k < kTaps; ++k) {
        // Tap k of phase p weighs the sample k steps back; the filter is centred between taps 7 and 8.
        const double t = (k * kPhases + (kPhases - p)) - kLength / 2.0;
        const double x = t / kPhases;
        const double sinc = x == 0 ? 1 : std::sin(kPi * x) / (kPi * x);
        const double r = t / (kLength / 2.0);
        const double window = std::fabs(r) >= 1 ? 0 : bessel0(kBeta * std::sqrt(1 - r * r)) / bessel0(kBeta);
        FTaps[k][p] = static_cast<float>(sinc * window);
        sum += FTaps[k][p];
      }
      for (int k = 0; k < kTaps; ++k) FTaps[k][p] = static_cast<float>(FTaps[k][p] / sum);
    }
  }

  void Add(const int16_t* samples, size_t frames) {
    const size_t channels = static_cast<size_t>(FChannels);
    while (frames > 0) {
      const size_t n = std::min(frames, kChunk);
      for (size_t c = 0; c < channels; ++c) {
        // The channel's last kTaps - 1 samples, then the new ones.
        float* history = FHistory.data() + c * (kTaps - 1);
        std::copy(history, history + kTaps - 1, FWork.begin());
        for (size_t i = 0; i < n; ++i) FWork[kTaps - 1 + i] = samples[i * channels + c] * (1.0f / 32768);
        std::copy(FWork.begin() + static_cast<std::ptrdiff_t>(n), FWork.begin() + static_cast<std::ptrdiff_t>(n + kTaps - 1), history);
        // Phase 0 is the sample itself: the sample peak covers it.
        for (int p = 1; p < kPhases; ++p) {
          std::fill(FOut.begin(), FOut.begin() + static_cast<std::ptrdiff_t>(n), 0.0f);
          for (int k = 0; k < kTaps; ++k) {
            const float tap = FTaps[k][p];
            const float* x = FWork.data() + (kTaps - 1 - k);
            float* out = FOut.data();
            for (size_t i = 0; i < n; ++i) out[i] += tap * x[i];
          }
          // Lane-wise maxima, which the compiler keeps in vector registers.
          for (size_t i = 0; i + kLanes <= n; i += kLanes)
            for (size_t j = 0; j < kLanes; ++j) FLanes[j] = std::max(FLanes[j], std::fabs(FOut[i + j]));
          for (size_t i = n / kLanes * kLanes; i < n; ++i) FLanes[0] = std::max(FLanes[0], std::fabs(FOut[i]));
        }
      }
      samples += n * channels;
      frames -= n;
    }
  }

  double Peak() const { return *std::max_element(FLanes.begin(), FLanes.end()); }


 private:
  int FChannels;
  static constexpr size_t kChunk = 2048;
  static constexpr size_t kLanes = 16;
  std::vector<float> FHistory;
  std::vector<float> FWork;
  std::vector<float> FOut;
  float FTaps[kTaps][kPhases] = {};
  std::array<float, kLanes> FLanes{};
};

// Tech 3342's range of short-term values: gated, then from the 10th to the 95th percentile.
double RangeOf(std::vector<double> values) {
  double energy = 0;
  size_t count = 0;
  for (const double v : values)
    if (v > -70) {
      energy += std::pow(10.0, v / 10);
      ++count;
    }
  if (count == 0) return 0;
  const double gate = 10 * std::log10(energy / static_cast<double>(count)) + kRangeGate;
  std::erase_if(values, [&](double v) { return !(v > -70 && v >= gate); });
  if (values.size() < 2) return 0;
  std::sort(values.begin(), values.end());
  const auto at = [&](double q) { return values[static_cast<size_t>(std::lround(q * static_cast<double>(values.size() - 1)))]; };
  return at(0.95) - at(0.10);
}

struct TStateFree {
  void operator()(ebur128_state* s) const { ebur128_destroy(&s); }
};

// BS.1770: loudness = -0.691 + 10 log10(mean square of the weighted channels, summed).
double Energy(double lufs) { return std::pow(10.0, (lufs + 0.691) / 10); }
double Lufs(double energy) { return energy > 0 ? 10 * std::log10(energy) - 0.691 : -HUGE_VAL; }

}  // namespace

struct TLoudnessMeter::TState {
  std::unique_ptr<ebur128_state, TStateFree> meter;
  int channels = 0;
  // Frames in one 100 ms step (the block hop) and those added since the last step ended.
  size_t step = 0;
  size_t into_step = 0;
  size_t steps = 0;
  std::array<double, kShortTermSteps> energies{};
  std::map<int32_t, uint32_t> blocks;
  std::vector<double> short_term;
  std::unique_ptr<TTruePeak> true_peak;
};

TLoudnessMeter::TLoudnessMeter(int channels, int rate) : FState(std::make_unique<TState>()) {
  if ((channels != 1 && channels != 2) || rate < 8000 || rate > 48000)
    throw std::invalid_argument("no loudness meter for this format");
  FState->meter.reset(ebur128_init(static_cast<unsigned>(channels), static_cast<unsigned long>(rate),
                                   EBUR128_MODE_I | EBUR128_MODE_SAMPLE_PEAK));
  if (!FState->meter) throw std::runtime_error("loudness meter: out of memory");
  FState->channels = channels;
  FState->true_peak = std::make_unique<TTruePeak>(channels);
  // libebur128's own block hop.
  FState->step = static_cast<size_t>((rate + 5) / 10);
}

TLoudnessMeter::~TLoudnessMeter() = default;

void TLoudnessMeter::Add(const int16_t* samples, size_t frames) {
  TState& s = *FState;
  // Fed up to each 100 ms boundary, where the momentary loudness is the block just completed.
  while (frames > 0) {
    const size_t n = std::min(frames, s.step - s.into_step);
    AddBlockedPart(samples, n);
    samples += n * static_cast<size_t>(s.channels);
    frames -= n;
  }
}

void TLoudnessMeter::AddBlockedPart(const int16_t* samples, size_t frames) {
  TState& s = *FState;
  ebur128_add_frames_short(s.meter.get(), samples, frames);
  s.true_peak->Add(samples, frames);
  s.into_step += frames;
  if (s.into_step < s.step) return;
  s.into_step = 0;
  // The energy of the step just completed; a block is the last four steps, a short-term window
  // the last thirty.
  double step = 0;
  if (ebur128_loudness_window(s.meter.get(), 100, &step) != EBUR128_SUCCESS) return;
  s.energies[s.steps % kShortTermSteps] = Energy(step);
  ++s.steps;
  const auto mean = [&](size_t n) {
    double sum = 0;
    for (size_t k = 1; k <= n; ++k) sum += s.energies[(s.steps - k) % kShortTermSteps];
    return Lufs(sum / static_cast<double>(n));
  };
  if (s.steps >= kShortTermSteps) s.short_term.push_back(mean(kShortTermSteps));
  if (s.steps < 4) return;
  const double block = mean(4);
  if (block > kAbsoluteGate) ++s.blocks[static_cast<int32_t>(std::lround(block * kBinsPerLu))];
}

TLoudness TLoudnessMeter::Result() const {
  TState& s = *FState;
  TLoudness r;
  double value = 0;
  if (ebur128_loudness_global(s.meter.get(), &value) == EBUR128_SUCCESS && std::isfinite(value)) r.Integrated = value;
  r.Range = RangeOf(s.short_term);
  for (int c = 0; c < s.channels; ++c) {
    if (ebur128_sample_peak(s.meter.get(), static_cast<unsigned>(c), &value) == EBUR128_SUCCESS)
      r.SamplePeak = std::max(r.SamplePeak, value);
  }
  r.TruePeak = std::max(s.true_peak->Peak(), r.SamplePeak);
  r.TruePeak = std::max(r.TruePeak, r.SamplePeak);
  r.Blocks.assign(s.blocks.begin(), s.blocks.end());
  return r;
}

double TLoudnessMeter::Integrated(std::span<TLoudnessMeter* const> meters) {
  std::vector<ebur128_state*> states;
  for (TLoudnessMeter* m : meters) states.push_back(m->FState->meter.get());
  double value = -HUGE_VAL;
  if (states.empty() || ebur128_loudness_global_multiple(states.data(), states.size(), &value) != EBUR128_SUCCESS)
    return -HUGE_VAL;
  return value;
}

double TLoudnessMeter::Range(std::span<TLoudnessMeter* const> meters) {
  std::vector<double> values;
  for (TLoudnessMeter* m : meters) values.insert(values.end(), m->FState->short_term.begin(), m->FState->short_term.end());
  return RangeOf(std::move(values));
}

double CombinedLoudness(std::span<const TLoudness* const> parts) {
  // The two gates of BS.1770 over all blocks together.
  const auto mean = [&](double gate) {
    double energy = 0;
    double count = 0;
    for (const TLoudness* p : parts)
      for (const auto& [bin, n] : p->Blocks) {
        const double lufs = bin / kBinsPerLu;
        if (lufs <= gate) continue;
        energy += Energy(lufs) * n;
        count += n;
      }
    return count > 0 ? energy / count : 0.0;
  };
  const double ungated = mean(kAbsoluteGate);
  if (ungated <= 0) return -HUGE_VAL;
  return Lufs(mean(std::max(kAbsoluteGate, Lufs(ungated) + kRelativeGate)));
}

}  // namespace plumo

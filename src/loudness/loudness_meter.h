// A loudness meter after ITU-R BS.1770-4 and EBU R128 over 16-bit PCM: integrated loudness
// (K-weighting, 400 ms blocks with 75 % overlap, absolute gate -70 LUFS, relative gate -10 LU),
// loudness range (EBU Tech 3342, short-term values every 100 ms), sample peak and true peak (4x
// oversampling).
//
// K-weighting and the loudness blocks are libebur128's: a small, well-kept library made for exactly this, in
// every distribution. The meter also keeps the gating blocks' loudness as a histogram (0.1 LU
// steps), so that the loudness of an album can be computed later from its tracks' measurements
// alone (the cache keeps them) with the same gates as over the album's audio in one piece.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <utility>
#include <vector>

namespace plumo {

// ReplayGain 2.0 plays everything at this loudness.
inline constexpr double kReferenceLoudness = -18.0;  // LUFS

struct TLoudness {
  double Integrated = -1e9;  // LUFS; at or below -70 (the absolute gate) for silence
  double Range = 0;          // LU
  double TruePeak = 0;       // fraction of full scale
  double SamplePeak = 0;     // fraction of full scale
  // Gating blocks above the absolute gate: (loudness in 0.1 LU steps, number of blocks), by
  // loudness.
  std::vector<std::pair<int32_t, uint32_t>> Blocks;

  bool Silent() const { return Integrated <= -70; }
  // The ReplayGain 2.0 gain in dB (0 for silence).
  double Gain() const { return Silent() ? 0 : kReferenceLoudness - Integrated; }
};

class TLoudnessMeter {
 public:
  // channels 1 or 2, rate 8000 .. 48000; raises std::invalid_argument for others.
  TLoudnessMeter(int channels, int rate);
  ~TLoudnessMeter();
  TLoudnessMeter(const TLoudnessMeter&) = delete;
  TLoudnessMeter& operator=(const TLoudnessMeter&) = delete;

  // Interleaved 16-bit samples, frames of `channels` samples each.
  void Add(const int16_t* samples, size_t frames);
  TLoudness Result() const;

  // Integrated loudness and loudness range of several meters' audio taken as one.
  static double Integrated(std::span<TLoudnessMeter* const> meters);
  static double Range(std::span<TLoudnessMeter* const> meters);

 private:
  void AddBlockedPart(const int16_t* samples, size_t frames);

  struct TState;
  std::unique_ptr<TState> FState;
};

// The integrated loudness of several measurements' audio taken as one, from their gating blocks.
double CombinedLoudness(std::span<const TLoudness* const> parts);

}  // namespace plumo

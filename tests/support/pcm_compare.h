// Accuracy of decoded PCM against a reference: both signals pass the same linear-phase low-pass
// (a 255-tap Kaiser-windowed sinc at 0.43 x the sampling rate), then the PSNR and the largest
// difference of the filtered signals are measured. The low-pass keeps the comparison away from the
// top sub-band, which the decoder never synthesises.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace plumo::test {

struct PcmComparison {
  double psnr_db = 0;        // 10 log10(32767^2 / mean squared difference); 200 when identical
  double max_difference = 0; // largest absolute difference of the low-passed signals
  size_t frames = 0;         // sample frames compared (per channel)
};

// Compares the first `frames` sample frames of two interleaved signals with `channels` channels.
PcmComparison CompareLowPassed(const std::vector<int16_t>& ours, const std::vector<int16_t>& reference, int channels,
                               size_t frames);

// Low-passes one channel of an interleaved signal (exposed for tests of the comparison itself).
std::vector<double> LowPass(const std::vector<int16_t>& interleaved, int channels, int channel, size_t frames);

}  // namespace plumo::test

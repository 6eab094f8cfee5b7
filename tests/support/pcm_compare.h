// Accuracy of decoded PCM against a reference, over the full band: the PSNR and the largest
// difference of the samples themselves.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace plumo::test {

struct PcmComparison {
  double psnr_db = 0;        // 10 log10(32767^2 / mean squared difference); 200 when identical
  double max_difference = 0; // largest absolute difference of two samples
  size_t frames = 0;         // sample frames compared (per channel)
};

// Compares the first `frames` sample frames of two interleaved signals with `channels` channels.
PcmComparison ComparePcm(const std::vector<int16_t>& ours, const std::vector<int16_t>& reference, int channels,
                         size_t frames);

}  // namespace plumo::test

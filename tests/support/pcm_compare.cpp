#include "pcm_compare.h"

#include <algorithm>
#include <cmath>

namespace plumo::test {

PcmComparison ComparePcm(const std::vector<int16_t>& ours, const std::vector<int16_t>& reference, int channels,
                         size_t frames) {
  frames = std::min({frames, ours.size() / channels, reference.size() / channels});
  PcmComparison result;
  result.frames = frames;
  if (frames == 0) return result;
  double squared = 0.0;
  for (size_t i = 0; i < frames * static_cast<size_t>(channels); ++i) {
    const double d = static_cast<double>(ours[i]) - reference[i];
    squared += d * d;
    result.max_difference = std::max(result.max_difference, std::fabs(d));
  }
  const double mse = squared / static_cast<double>(frames * channels);
  result.psnr_db = mse == 0.0 ? 200.0 : 10.0 * std::log10(32767.0 * 32767.0 / mse);
  return result;
}

}  // namespace plumo::test

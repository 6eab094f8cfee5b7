#include "decoded_stream.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

#include "memory_stream.h"
#include "test_files.h"

namespace plumo::test {

namespace {

// Opens the stream, lets `prepare` adjust the decoder (opening rebuilds its equalizer tables from
// the options) and decodes every frame.
Decoded DecodeWith(Decoder& decoder, std::vector<uint8_t> bytes, const DecodeOptions& options,
                   const std::function<void(Decoder&)>& prepare = {}) {
  TMemoryStream stream(std::move(bytes));
  StreamDecoder opened(decoder, stream, true, options);
  if (prepare) prepare(decoder);
  Decoded d;
  d.frames = opened.DecodeAll([&](std::span<const uint8_t> pcm) {
    for (size_t i = 0; i + 1 < pcm.size(); i += 2) d.pcm.push_back(static_cast<int16_t>(pcm[i] | pcm[i + 1] << 8));
  });
  d.info = opened.Info();
  return d;
}

}  // namespace

Decoded DecodeBytes(const std::vector<uint8_t>& bytes, DecodeOptions options, std::optional<uint32_t> kernel_flags) {
  Decoder decoder;
  if (kernel_flags) decoder.SelectKernels(*kernel_flags);
  return DecodeWith(decoder, bytes, options);
}

Decoded DecodeFileWith(const std::string& path, const std::function<void(Decoder&)>& prepare,
                       DecodeOptions options) {
  Decoder decoder;
  return DecodeWith(decoder, ReadFile(path), options, prepare);
}

Decoded DecodeFile(const std::string& path, DecodeOptions options, std::optional<uint32_t> kernel_flags) {
  return DecodeBytes(ReadFile(path), options, kernel_flags);
}

size_t BestOffset(const std::vector<int16_t>& ours, const std::vector<int16_t>& reference, int channels, size_t step,
                  size_t max_offset) {
  const size_t start = 4608, span = 8192;
  const size_t ch = static_cast<size_t>(channels);
  size_t best = 0;
  double best_error = -1.0;
  for (size_t off = 0; off <= max_offset; off += step) {
    if ((start + off + span) * ch > ours.size() || (start + span) * ch > reference.size()) break;
    double e = 0.0;
    for (size_t i = start * ch; i < (start + span) * ch; ++i) {
      const double d = static_cast<double>(ours[off * ch + i]) - reference[i];
      e += d * d;
    }
    if (best_error < 0 || e < best_error) best_error = e, best = off;
  }
  return best;
}

PcmComparison CompareFrom(const std::vector<int16_t>& ours, const std::vector<int16_t>& reference, int channels,
                          size_t offset, size_t settle) {
  const size_t ch = static_cast<size_t>(channels);
  const size_t skip_ours = std::min(ours.size(), (offset + settle) * ch);
  const size_t skip_ref = std::min(reference.size(), settle * ch);
  const std::vector<int16_t> a(ours.begin() + static_cast<long>(skip_ours), ours.end());
  const std::vector<int16_t> b(reference.begin() + static_cast<long>(skip_ref), reference.end());
  return ComparePcm(a, b, channels, std::min(a.size(), b.size()) / ch);
}

void PrintFullBandRow(const std::string& name, const PcmComparison& c) {
  std::printf("full band: %-22s %7.2f dB  max %g  (%zu sample frames)\n", name.c_str(), c.psnr_db, c.max_difference,
              c.frames);
}

void ExpectMonoChoicesAreMeanLeftAndRight(const std::vector<uint8_t>& bytes, double mix_tolerance) {
  const Decoded stereo = DecodeBytes(bytes);
  ASSERT_EQ(stereo.info.format.channels, 2);
  const Decoded mix = DecodeBytes(bytes, WithChannels(kChannelsMix));
  const Decoded left = DecodeBytes(bytes, WithChannels(kChannelsLeft));
  const Decoded right = DecodeBytes(bytes, WithChannels(kChannelsRight));
  ASSERT_EQ(mix.pcm.size() * 2, stereo.pcm.size());
  ASSERT_EQ(left.pcm.size() * 2, stereo.pcm.size());
  ASSERT_EQ(right.pcm.size() * 2, stereo.pcm.size());
  for (size_t i = 0; i < mix.pcm.size(); ++i) {
    const int l = stereo.pcm[2 * i], r = stereo.pcm[2 * i + 1];
    ASSERT_NEAR(left.pcm[i], l, 1) << i;
    ASSERT_NEAR(right.pcm[i], r, 1) << i;
    ASSERT_NEAR(mix.pcm[i], (l + r) / 2.0, mix_tolerance) << i;
  }
}

}  // namespace plumo::test

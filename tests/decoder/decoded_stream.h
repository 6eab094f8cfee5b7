// Decoding whole test streams into memory and lining their PCM up with a reference decode.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "pcm_compare.h"
#include "stream_decode.h"

namespace plumo::test {

struct Decoded {
  StreamInfo info;
  std::vector<int16_t> pcm;
  int frames = 0;
};

// Decode options with one field changed.
inline DecodeOptions WithChannels(int channel_choice) {
  DecodeOptions o;
  o.channel_choice = channel_choice;
  return o;
}
inline DecodeOptions WithInvertedPolarity() {
  DecodeOptions o;
  o.invert_polarity = true;
  return o;
}

// Decodes a whole stream with a decoder of its own, its kernels selected for this processor or,
// with kernel_flags, for that CpuFlags word.
Decoded DecodeBytes(const std::vector<uint8_t>& bytes, DecodeOptions options = {},
                    std::optional<uint32_t> kernel_flags = std::nullopt);
Decoded DecodeFile(const std::string& path, DecodeOptions options = {},
                   std::optional<uint32_t> kernel_flags = std::nullopt);
// Decodes with a decoder that `prepare` adjusts once the stream is open (to install kernels or
// equalizer gains, say: opening rebuilds the equalizer tables from the options).
Decoded DecodeFileWith(const std::string& path, const std::function<void(Decoder&)>& prepare,
                       DecodeOptions options = {});

// The offset in sample frames, a multiple of `step` up to `max_offset`, at which `ours` best matches
// the reference, measured on a window away from the start (where a decoder that dropped frames has
// settled).
size_t BestOffset(const std::vector<int16_t>& ours, const std::vector<int16_t>& reference, int channels, size_t step,
                  size_t max_offset);

// Full-band comparison of `ours` from offset + settle against the reference from settle.
PcmComparison CompareFrom(const std::vector<int16_t>& ours, const std::vector<int16_t>& reference, int channels,
                          size_t offset, size_t settle);

// Prints one row of the full-band accuracy table ("full band: NAME PSNR dB max N").
void PrintFullBandRow(const std::string& name, const PcmComparison& c);

// Decodes a two-channel stream with each channel choice and checks that left and right are the
// two channels (within 1 LSB) and mix is their mean (within mix_tolerance LSB).
void ExpectMonoChoicesAreMeanLeftAndRight(const std::vector<uint8_t>& bytes, double mix_tolerance);

}  // namespace plumo::test

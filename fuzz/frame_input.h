// Shared by the small-input decoder targets: one decoder set-up followed by a few frames, each
// with header fields of its own, as a stream whose mode or bit rate changes from frame to frame.
//
// Input: 3 bytes that complete the set-up header after its 0xFF sync byte (the top three bits of
// the first are forced to 1), 1 options byte (see ApplyOptions; its low two bits are the channel
// choice), then per frame
// 2 bytes that replace the frame header's last two bytes (the sampling frequency stays the
// set-up's, as the player's same-stream check keeps it; the lowest bit of the second byte sets
// the protection bit), followed by the frame's body as long as that header's frame length (the
// set-up length for free format), zero-filled past the input's end.
//
// Frames and PCM live in heap blocks of their exact size, so every read or write past them is
// seen by AddressSanitizer; the decoder's own buffers are separate blocks in this build.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "cpu.h"
#include "decoder.h"

namespace plumo::fuzz {

constexpr int kMaxFrames = 4;

// The kernel sets an input chooses from: this processor's selection, the exact variants in each
// instruction-set form (a form the processor lacks runs as the widest it has), the Pentium and
// conditional-move scalar forms, and the single-precision 3DNow! sets.
inline void SelectKernelSet(Decoder& d, int n) {
  using V = KernelVariant;
  auto all = [](V v) { return KernelChoice{v, v, v, v, v, v}; };
  switch (n & 7) {
    case 0: d.SelectKernels(DetectCpu()); break;
    case 1: d.SelectKernelSet(all(V::kX87), KernelForm::kScalar); break;
    case 2: d.SelectKernelSet(all(V::kX87), KernelForm::kAvx2); break;
    case 3: d.SelectKernelSet(all(V::kX87), KernelForm::kAvx512); break;
    case 4: d.SelectKernelSet({V::kX87, V::kPentium, V::kPentium, V::kPentium, V::kCmov, V::kPentium}, KernelForm::kScalar); break;
    case 5: d.SelectKernelSet(all(V::k3DNow), KernelForm::kScalar); break;
    case 6: d.SelectKernelSet(all(V::kEnhanced3DNow), KernelForm::kScalar); break;
    default: d.SelectKernelSet({V::k3DNow, V::kX87, V::kX87, V::kX87, V::k3DNow, V::k3DNow}, KernelForm::kAvx512); break;
  }
}

// Applies an options byte: bits 4-2 the kernel set, bit 5 polarity inversion, bits 6 and 7 the
// sub-band and line equalizers, with gains from 1/8 to 4 in a pattern `seed` varies (bits 1-0,
// the channel choice, are the caller's).
inline void ApplyOptions(Decoder& d, uint8_t options, uint8_t seed) {
  SelectKernelSet(d, options >> 2);
  d.SetPolarity((options & 0x20) != 0);
  float* sub = d.SubbandGains();
  for (int i = 0; i < 32; ++i) sub[i] = static_cast<float>(1 + (i * 7 + seed) % 32) / 8.0f;
  float* lines = d.LineGains();
  for (int i = 0; i < 576; ++i) lines[i] = static_cast<float>(1 + (i * 13 + seed) % 32) / 8.0f;
  d.SetSubbandEqualizerOn((options & 0x40) != 0);
  d.SetLineEqualizerOn((options & 0x80) != 0);
}

// fixed_mask/fixed_bits: bits of the second header byte forced off and on (to fix the layer).
inline void DecodeFramesFromInput(const uint8_t* data, size_t size, uint8_t fixed_mask, uint8_t fixed_bits) {
  if (size < 4) return;
  const uint8_t b1 = static_cast<uint8_t>(((0xE0 | data[0]) & ~fixed_mask) | fixed_bits);
  const uint8_t setup_header[4] = {0xFF, b1, data[1], data[2]};
  const int output_mode = data[3] & 3;
  FrameHeader h;
  const int setup_length = ParseFrameHeader(setup_header, 0, h);
  // Free format (bit-rate index 0) is measured from the stream; here it takes a fixed length.
  const int length = h.bitrate_index == 0 && h.layer_code != 0 ? 417 : setup_length;
  if (length <= 0) return;
  Decoder decoder;
  ApplyOptions(decoder, data[3], data[2]);
  if (!decoder.Setup(h, length, 0, 0, output_mode, 24000)) return;
  const size_t pcm_bytes = static_cast<size_t>(decoder.PcmBytesPerFrame());
  std::vector<uint8_t> pcm(pcm_bytes);

  size_t at = 4;
  for (int n = 0; n < kMaxFrames && at + 2 <= size; ++n) {
    const uint8_t b2 = static_cast<uint8_t>((data[at] & ~0x0C) | (setup_header[2] & 0x0C));
    const uint8_t b3 = data[at + 1];
    const uint8_t header[4] = {0xFF, static_cast<uint8_t>((b1 & 0xFE) | (b3 & 1)), b2, b3};
    at += 2;
    FrameHeader fh;
    int frame_length = ParseFrameHeader(header, 0, fh);
    if (frame_length <= 0) frame_length = length;
    const size_t padded = static_cast<size_t>(PaddedFrameLength(fh, frame_length));
    std::vector<uint8_t> frame(padded);
    std::copy(header, header + 4, frame.begin());
    const size_t body = std::min(padded - 4, size - at);
    std::copy(data + at, data + at + body, frame.begin() + 4);
    at += body;
    const DecodeResult r = decoder.DecodeFrame(frame.data(), frame.size(), pcm.data());
    if (r.consumed < 0 || r.produced < 0 || static_cast<size_t>(r.produced) > pcm_bytes) __builtin_trap();
    if (r.consumed > 0 && static_cast<size_t>(r.produced) != pcm_bytes) __builtin_trap();
  }
}

}  // namespace plumo::fuzz

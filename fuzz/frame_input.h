// Shared by the small-input decoder targets: one decoder set-up followed by a few frames, each
// with header fields of its own, as a stream whose mode or bit rate changes from frame to frame.
//
// Input: 3 bytes that complete the set-up header after its 0xFF sync byte (the top three bits of
// the first are forced to 1), 1 byte whose low two bits are the channel choice, then per frame
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

#include "decoder.h"

namespace plumo::fuzz {

constexpr int kMaxFrames = 4;

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

// One set-up from a fuzzed header and options byte (as in frame_input.h), then the rest of the
// input as consecutive frames of the length that header gives (so a Layer III reservoir builds up
// across them). The PCM block has exactly the size one frame may fill, so AddressSanitizer sees
// any write past it.
#include <cstddef>
#include <algorithm>
#include <cstdint>
#include <vector>

#include "decoder.h"
#include "frame_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 6) return 0;
  uint8_t header[4] = {0xFF, static_cast<uint8_t>(0xE0 | data[0]), data[1], data[2]};
  const int output_mode = data[3] & 3;
  const uint8_t options = data[3];
  data += 4;
  size -= 4;
  plumo::FrameHeader h;
  const int length = plumo::ParseFrameHeader(header, 0, h);
  if (length <= 0) return 0;
  plumo::Decoder decoder;
  plumo::fuzz::ApplyOptions(decoder, options, header[2]);
  if (!decoder.Setup(h, length, 0, 0, output_mode, 24000)) return 0;
  const size_t pcm_bytes = static_cast<size_t>(decoder.PcmBytesPerFrame());
  std::vector<uint8_t> pcm(pcm_bytes);
  const size_t frame = static_cast<size_t>(plumo::PaddedFrameLength(h, length));
  if (frame <= 4) return 0;
  // The frames carry the set-up header, as a stream's frames do; their bodies are fuzzed.
  std::vector<uint8_t> buffer(frame);
  for (size_t at = 0; at < size; at += frame - 4) {
    const size_t n = std::min(frame - 4, size - at);
    std::copy(header, header + 4, buffer.begin());
    std::copy(data + at, data + at + n, buffer.begin() + 4);
    std::fill(buffer.begin() + 4 + static_cast<std::ptrdiff_t>(n), buffer.end(), 0);
    const plumo::DecodeResult r = decoder.DecodeFrame(buffer.data(), buffer.size(), pcm.data());
    if (r.consumed < 0 || r.produced < 0 || static_cast<size_t>(r.produced) > pcm_bytes) __builtin_trap();
  }
  return 0;
}

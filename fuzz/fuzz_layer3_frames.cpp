// One Layer III set-up (MPEG-1, MPEG-2 or MPEG-2.5) and up to four frames from a small input (see
// frame_input.h): the side information, the main-data reservoir across frames, scale factors,
// Huffman data, stereo processing and the channel stages.
#include "frame_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Layer bits of the second header byte forced to 01 (Layer III).
  plumo::fuzz::DecodeFramesFromInput(data, size, 0x06, 0x02);
  return 0;
}

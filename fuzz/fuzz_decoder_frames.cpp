// One decoder set-up and up to four frames of any layer from a small input (see frame_input.h).
#include "frame_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  plumo::fuzz::DecodeFramesFromInput(data, size, 0, 0);
  return 0;
}

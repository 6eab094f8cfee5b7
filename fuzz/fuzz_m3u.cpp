// The .m3u reader on fuzzed playlist text.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

#include "playlist.h"

namespace {
// One scratch file per fuzzing process, rewritten for every input.
const std::string& ScratchFile() {
  static const std::string name = "/tmp/plumo-fuzz-m3u-" + std::to_string(getpid()) + ".m3u";
  return name;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::FILE* f = std::fopen(ScratchFile().c_str(), "wb");
  if (!f) return 0;
  std::fwrite(data, 1, size, f);
  std::fclose(f);
  std::vector<std::string> playlist;
  try {
    plumo::ReadM3u(ScratchFile(), "/music/folder", playlist);
  } catch (const std::runtime_error&) {
  }
  // One entry per line at most: a line ends at CR or LF.
  if (playlist.size() > size + 1) __builtin_trap();
  for (const std::string& entry : playlist) (void)plumo::HasDrivePart(entry), (void)plumo::LowerExtension(entry);
  return 0;
}

// The .m3u reader on fuzzed playlist text.
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "playlist.h"
#include "scratch_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string file = plumo::fuzz::WriteScratchFile(".m3u", data, size);
  if (file.empty()) return 0;
  std::vector<std::string> playlist;
  try {
    plumo::ReadM3u(file, "/music/folder", playlist);
  } catch (const std::runtime_error&) {
  }
  // One entry per line at most: a line ends at CR or LF.
  if (playlist.size() > size + 1) __builtin_trap();
  for (const std::string& entry : playlist) (void)plumo::HasDrivePart(entry), (void)plumo::LowerExtension(entry);
  return 0;
}

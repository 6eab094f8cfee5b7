// The .m3u/.m3u8 reader on fuzzed playlist text.
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "memory_stream.h"
#include "playlist.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  plumo::TMemoryStream stream(std::vector<uint8_t>(data, data + size));
  std::vector<std::string> playlist;
  try {
    plumo::ReadPlaylist(stream, "/music/folder/list.m3u8", playlist);
  } catch (const std::runtime_error&) {
  }
  // One entry per line at most: a line ends at CR or LF.
  if (playlist.size() > size + 1) __builtin_trap();
  for (const std::string& entry : playlist) {
    // Comments and empty lines give no entry; every entry names something.
    if (entry.empty() || entry[0] == '#') __builtin_trap();
    (void)plumo::HasDrivePart(entry), (void)plumo::LowerExtension(entry), (void)plumo::IsAudioFile(entry);
  }
  return 0;
}

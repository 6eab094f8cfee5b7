// The .pls reader on fuzzed playlist text.
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
  plumo::TEntryTitles titles;
  try {
    plumo::ReadPlaylist(stream, "/music/radio/station.pls", playlist, &titles);
  } catch (const std::runtime_error&) {
  }
  // One entry per "FileN=" key at most, each at least six bytes and a line end.
  if (playlist.size() > size / 6 + 1) __builtin_trap();
  for (const std::string& entry : playlist) {
    if (entry.empty()) __builtin_trap();
    (void)plumo::HasDrivePart(entry), (void)plumo::LowerExtension(entry), (void)plumo::IsUrlOrShare(entry);
  }
  // A title belongs to an entry that was taken.
  for (const auto& [entry, title] : titles) {
    bool found = false;
    for (const std::string& e : playlist) found = found || e == entry;
    if (!found || title.empty()) __builtin_trap();
  }
  return 0;
}

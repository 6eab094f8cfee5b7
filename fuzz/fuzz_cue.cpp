// The CUE sheet reader on fuzzed sheet text.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "cue_sheet.h"
#include "text_conversion.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const plumo::TCueSheet sheet = plumo::ParseCueSheet(text, "/music/album");
  // A track needs at least a TRACK and an INDEX line.
  if (sheet.Tracks.size() > size / 16 + 1) __builtin_trap();
  if (!plumo::IsValidUtf8(sheet.Title) || !plumo::IsValidUtf8(sheet.Performer)) __builtin_trap();
  for (size_t i = 0; i < sheet.Tracks.size(); ++i) {
    const plumo::TCueTrack& t = sheet.Tracks[i];
    if (t.Start < 0 || t.Pregap < 0 || t.Postgap < 0 || t.File.empty()) __builtin_trap();
    // A track ends after it starts, where the next track of its file starts.
    if (t.End >= 0 && (t.End <= t.Start || i + 1 >= sheet.Tracks.size() || sheet.Tracks[i + 1].Start != t.End))
      __builtin_trap();
    if (!plumo::IsValidUtf8(t.Title) || !plumo::IsValidUtf8(t.Performer)) __builtin_trap();
    if (plumo::CueFramesToSamples(t.Start, 96000) < 0) __builtin_trap();
    std::string name;
    int32_t track = 0;
    if (!plumo::SplitCueEntry(plumo::CueEntry("/music/album/a.cue", static_cast<int32_t>(i + 1)), name, track) ||
        track != static_cast<int32_t>(i + 1))
      __builtin_trap();
  }
  return 0;
}

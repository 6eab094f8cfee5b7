// The ICY demultiplexer on a fuzzed stream cut into fuzzed pieces: the audio is exactly the bytes
// outside the metadata blocks, whatever the pieces; every step moves on; titles are clean UTF-8
// without direction overrides.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "icy_demux.h"

namespace {

// Well-formed UTF-8 without control characters.
bool IsCleanText(std::string_view s) {
  for (size_t i = 0; i < s.size();) {
    const auto b = static_cast<unsigned char>(s[i]);
    if (b < 0x20 || b == 0x7F) return false;
    const int n = b < 0x80 ? 0 : (b & 0xE0) == 0xC0 ? 1 : (b & 0xF0) == 0xE0 ? 2 : (b & 0xF8) == 0xF0 ? 3 : -1;
    if (n < 0 || s.size() - i <= static_cast<size_t>(n)) return false;
    uint32_t c = n == 0 ? b : b & (0x3F >> n);
    for (int k = 1; k <= n; ++k) {
      const auto t = static_cast<unsigned char>(s[i + k]);
      if ((t & 0xC0) != 0x80) return false;
      c = c << 6 | (t & 0x3F);
    }
    if (n == 1 && c < 0xA0) return false;  // overlong, or a C1 control
    if ((n == 2 && c < 0x800) || (n == 3 && (c < 0x10000 || c > 0x10FFFF)) || (c >= 0xD800 && c <= 0xDFFF)) return false;
    // Marks and overrides that turn the text's direction never pass.
    if (c == 0x200E || c == 0x200F || (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069)) return false;
    i += n + 1;
  }
  return true;
}

struct TResult {
  std::string Audio;
  std::vector<std::string> Titles;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  // Two bytes choose the interval (all ones: none), one the cuts; the rest is the stream.
  const int64_t metaInt = data[0] == 0xFF && data[1] == 0xFF ? 0 : 1 + ((data[0] | data[1] << 8) % 4096);
  uint32_t cuts = data[2] * 2654435761u + 1;
  const std::span<const uint8_t> raw(data + 3, size - 3);

  // What the audio must be: the bytes outside the blocks.
  std::string expected;
  for (size_t i = 0; i < raw.size();) {
    const size_t n = metaInt ? std::min<size_t>(metaInt, raw.size() - i) : raw.size();
    expected.append(reinterpret_cast<const char*>(raw.data() + i), n);
    i += n;
    if (metaInt && i < raw.size()) i += 1 + raw[i] * 16;
  }

  TResult results[2];
  for (int pass = 0; pass < 2; ++pass) {
    plumo::TIcyDemux demux(metaInt);
    std::vector<uint8_t> out(raw.size() + 1);
    for (size_t pos = 0; pos < raw.size();) {
      // Pass 0 feeds everything at once, pass 1 in pieces into small outputs.
      cuts = cuts * 1103515245u + 12345u;
      const size_t piece = pass == 0 ? raw.size() - pos : std::min<size_t>(raw.size() - pos, 1 + (cuts >> 8) % 5000);
      const size_t room = pass == 0 ? out.size() : 1 + (cuts >> 20) % 700;
      const plumo::TIcyDemux::TStep step = demux.Feed(raw.subspan(pos, piece), std::span(out.data(), room));
      if (step.Consumed > piece || step.Audio > room || step.Audio > step.Consumed) __builtin_trap();
      if (step.Consumed == 0 && !step.Title) __builtin_trap();  // no progress
      results[pass].Audio.append(reinterpret_cast<const char*>(out.data()), step.Audio);
      if (step.Title) {
        if (!IsCleanText(demux.Title())) __builtin_trap();
        results[pass].Titles.push_back(demux.Title());
      }
      pos += step.Consumed;
    }
    if (results[pass].Audio != expected) __builtin_trap();
  }
  if (results[0].Titles != results[1].Titles) __builtin_trap();

  const std::string_view text(reinterpret_cast<const char*>(raw.data()), raw.size());
  if (!IsCleanText(plumo::IcyText(text))) __builtin_trap();
  const int64_t parsed = plumo::ParseIcyMetaInt(text.substr(0, 16));
  if (parsed < 0 || parsed > plumo::TIcyDemux::kMaxMetaInt) __builtin_trap();
  return 0;
}

#include "icy_demux.h"

#include <algorithm>
#include <cstring>

#include "text_conversion.h"

namespace plumo {

int64_t ParseIcyMetaInt(std::string_view value) {
  while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) value.remove_prefix(1);
  while (!value.empty() && (value.back() == ' ' || value.back() == '\t' || value.back() == '\r')) value.remove_suffix(1);
  if (value.empty() || value.size() > 9) return 0;
  int64_t n = 0;
  for (char c : value) {
    if (c < '0' || c > '9') return 0;
    n = n * 10 + (c - '0');
  }
  return n <= TIcyDemux::kMaxMetaInt ? n : 0;
}

std::string IcyText(std::string_view bytes) {
  // The tags' 8-bit rule: UTF-8, else CP932 when plausibly Japanese, else Windows-1252.
  const std::string text = AnsiToUtf8(bytes);
  // Control characters (C0, DEL and the C1 range in UTF-8) never reach a display, nor do the
  // marks and overrides that would turn the text's direction (U+200E/F, U+202A-202E, U+2066-2069).
  std::string clean;
  clean.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const auto b = static_cast<unsigned char>(text[i]);
    if (b < 0x20 || b == 0x7F) continue;
    if (b == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) < 0xA0) {
      ++i;
      continue;
    }
    if (b == 0xE2 && i + 2 < text.size()) {
      const auto b1 = static_cast<unsigned char>(text[i + 1]), b2 = static_cast<unsigned char>(text[i + 2]);
      if ((b1 == 0x80 && (b2 == 0x8E || b2 == 0x8F || (b2 >= 0xAA && b2 <= 0xAE))) || (b1 == 0x81 && b2 >= 0xA6 && b2 <= 0xA9)) {
        i += 2;
        continue;
      }
    }
    clean.push_back(text[i]);
  }
  const size_t first = clean.find_first_not_of(' ');
  if (first == std::string::npos) return {};
  return clean.substr(first, clean.find_last_not_of(' ') - first + 1);
}

TIcyDemux::TStep TIcyDemux::Feed(std::span<const uint8_t> in, std::span<uint8_t> out) {
  TStep step;
  if (FMetaInt == 0) {
    step.Consumed = step.Audio = std::min(in.size(), out.size());
    if (step.Audio > 0) std::memcpy(out.data(), in.data(), step.Audio);
    return step;
  }
  if (FAudioLeft < 0) FAudioLeft = FMetaInt;
  while (step.Consumed < in.size()) {
    const size_t left = in.size() - step.Consumed;
    if (FBlockLeft < 0 && FAudioLeft > 0) {
      const size_t n = std::min({left, out.size() - step.Audio, static_cast<size_t>(FAudioLeft)});
      if (n == 0) break;  // the output is full
      std::memcpy(out.data() + step.Audio, in.data() + step.Consumed, n);
      step.Consumed += n;
      step.Audio += n;
      FAudioLeft -= static_cast<int64_t>(n);
    } else if (FBlockLeft < 0) {
      FBlockLeft = in[step.Consumed++] * 16;
      FBlock.clear();
      if (FBlockLeft == 0) {
        FBlockLeft = -1;
        FAudioLeft = FMetaInt;
      }
    } else {
      const size_t n = std::min(left, static_cast<size_t>(FBlockLeft));
      FBlock.append(reinterpret_cast<const char*>(in.data() + step.Consumed), n);
      step.Consumed += n;
      FBlockLeft -= static_cast<int32_t>(n);
      if (FBlockLeft == 0) {
        FBlockLeft = -1;
        FAudioLeft = FMetaInt;
        if (EndBlock()) {
          step.Title = true;
          break;
        }
      }
    }
  }
  return step;
}

bool TIcyDemux::EndBlock() {
  // The text ends at the padding; a value ends at "';" (titles may hold apostrophes) or, in a
  // block cut short of it, at the last quote. A NUL inside the value ends the title there.
  const std::string_view block(FBlock);
  constexpr std::string_view kKey = "StreamTitle='";
  const size_t key = block.substr(0, block.find('\0')).find(kKey);
  if (key == std::string_view::npos) return false;
  std::string_view rest = block.substr(key + kKey.size());
  size_t end = rest.find("';");
  if (end == std::string_view::npos) end = rest.rfind('\'');
  if (end == std::string_view::npos) return false;
  rest = rest.substr(0, end);
  FTitle = IcyText(rest.substr(0, rest.find('\0')));
  return true;
}

}  // namespace plumo

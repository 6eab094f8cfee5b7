#include "icy_demux.h"

#include <algorithm>
#include <cstring>

namespace plumo {

namespace {

// Windows-1252 code points of 0x80..0x9F (0 where the code page leaves them unassigned).
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out.push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (c >> 6)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xE0 | (c >> 12)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

// Well-formed UTF-8: no overlong forms, surrogates or values above U+10FFFF.
bool IsUtf8(std::string_view s) {
  for (size_t i = 0; i < s.size();) {
    const auto b = static_cast<unsigned char>(s[i]);
    int n;
    char32_t c, min;
    if (b < 0x80) {
      ++i;
      continue;
    } else if ((b & 0xE0) == 0xC0) {
      n = 1, c = b & 0x1F, min = 0x80;
    } else if ((b & 0xF0) == 0xE0) {
      n = 2, c = b & 0x0F, min = 0x800;
    } else if ((b & 0xF8) == 0xF0) {
      n = 3, c = b & 0x07, min = 0x10000;
    } else {
      return false;
    }
    if (s.size() - i <= static_cast<size_t>(n)) return false;
    for (int k = 1; k <= n; ++k) {
      const auto t = static_cast<unsigned char>(s[i + k]);
      if ((t & 0xC0) != 0x80) return false;
      c = c << 6 | (t & 0x3F);
    }
    if (c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return false;
    i += n + 1;
  }
  return true;
}

}  // namespace

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
  std::string text;
  if (IsUtf8(bytes)) {
    text.assign(bytes);
  } else {
    for (char ch : bytes) {
      const auto b = static_cast<unsigned char>(ch);
      if (b >= 0x80 && b < 0xA0)
        AppendUtf8(text, kCp1252High[b - 0x80] ? kCp1252High[b - 0x80] : 0xFFFD);
      else
        AppendUtf8(text, b);
    }
  }
  // Control characters (C0, DEL and the C1 range in UTF-8) never reach a display.
  std::string clean;
  clean.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const auto b = static_cast<unsigned char>(text[i]);
    if (b < 0x20 || b == 0x7F) continue;
    if (b == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) < 0xA0) {
      ++i;
      continue;
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
  // block cut short of it, at the last quote.
  std::string_view block(FBlock);
  block = block.substr(0, block.find('\0'));
  constexpr std::string_view kKey = "StreamTitle='";
  const size_t key = block.find(kKey);
  if (key == std::string_view::npos) return false;
  const std::string_view rest = block.substr(key + kKey.size());
  size_t end = rest.find("';");
  if (end == std::string_view::npos) end = rest.rfind('\'');
  if (end == std::string_view::npos) return false;
  FTitle = IcyText(rest.substr(0, end));
  return true;
}

}  // namespace plumo

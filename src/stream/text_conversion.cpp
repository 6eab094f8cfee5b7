#include "text_conversion.h"

#include <iconv.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>

namespace plumo {

namespace {

void AppendCodePoint(std::string& out, uint32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// iconv descriptor owned for the length of one conversion.
class IconvHandle {
 public:
  IconvHandle(const char* to, const char* from) : FHandle(iconv_open(to, from)) {}
  IconvHandle(const IconvHandle&) = delete;
  IconvHandle& operator=(const IconvHandle&) = delete;
  ~IconvHandle() {
    if (Valid()) iconv_close(FHandle);
  }
  bool Valid() const { return FHandle != reinterpret_cast<iconv_t>(-1); }
  iconv_t Get() const { return FHandle; }

 private:
  iconv_t FHandle;
};

// Converts with iconv into UTF-8. Strict: false on any invalid or incomplete sequence. Lenient:
// each byte that cannot be converted becomes U+FFFD.
bool IconvToUtf8(const char* from, std::string_view bytes, bool lenient, std::string& out) {
  IconvHandle cd("UTF-8", from);
  if (!cd.Valid()) return false;
  // Every input byte becomes at most three UTF-8 bytes in the code pages used here.
  std::string result(bytes.size() * 3 + 4, '\0');
  char* in = const_cast<char*>(bytes.data());
  size_t inLeft = bytes.size();
  char* dst = result.data();
  size_t outLeft = result.size();
  while (inLeft > 0 && iconv(cd.Get(), &in, &inLeft, &dst, &outLeft) == static_cast<size_t>(-1)) {
    if (!lenient || errno == E2BIG || outLeft < 3) return false;
    std::memcpy(dst, "\xEF\xBF\xBD", 3);
    dst += 3;
    outLeft -= 3;
    ++in;
    --inLeft;
  }
  if (iconv(cd.Get(), nullptr, nullptr, &dst, &outLeft) == static_cast<size_t>(-1)) return false;
  result.resize(result.size() - outLeft);
  out = std::move(result);
  return true;
}

bool IsAsciiLetter(uint32_t c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool IsKana(uint32_t c) { return c >= 0x3041 && c <= 0x30FF; }
bool IsKanji(uint32_t c) {
  return c == 0x3005 || (c >= 0x3400 && c <= 0x4DBF) || (c >= 0x4E00 && c <= 0x9FFF) || (c >= 0xF900 && c <= 0xFAFF);
}
bool IsHalfWidthKana(uint32_t c) { return c >= 0xFF61 && c <= 0xFF9F; }
bool IsPrivateUse(uint32_t c) { return c >= 0xE000 && c <= 0xF8FF; }

// Next code point of valid UTF-8 text at i; kEndOfText past the end.
constexpr uint32_t kEndOfText = 0xFFFFFFFF;
uint32_t NextCodePoint(std::string_view s, size_t& i) {
  if (i >= s.size()) return kEndOfText;
  const uint8_t c = static_cast<uint8_t>(s[i++]);
  if (c < 0x80) return c;
  const int extra = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : 1;
  uint32_t cp = c & (0x3Fu >> extra);
  for (int k = 0; k < extra && i < s.size(); ++k) cp = (cp << 6) | (static_cast<uint8_t>(s[i++]) & 0x3F);
  return cp;
}

// What the CP932 reading of a tag's fields shows.
struct TJapaneseSigns {
  bool Impossible = false;       // a private-use character, or kana or kanji between two ASCII letters
  bool FullWidthKana = false;
  bool Kanji = false;
  bool MostlyHalfWidth = false;  // a field made mostly of half-width katakana
};

void ScanCp932Reading(std::string_view utf8, TJapaneseSigns& signs) {
  size_t i = 0;
  size_t halfWidth = 0;
  size_t nonBlank = 0;
  uint32_t prev = kEndOfText;
  uint32_t cur = NextCodePoint(utf8, i);
  while (cur != kEndOfText) {
    const uint32_t next = NextCodePoint(utf8, i);
    const bool japanese = IsKana(cur) || IsKanji(cur) || IsHalfWidthKana(cur);
    if (IsPrivateUse(cur) || (japanese && IsAsciiLetter(prev) && IsAsciiLetter(next))) signs.Impossible = true;
    signs.FullWidthKana |= IsKana(cur);
    signs.Kanji |= IsKanji(cur);
    if (IsHalfWidthKana(cur)) ++halfWidth;
    if (cur > 0x20 && cur != 0x3000) ++nonBlank;
    prev = cur;
    cur = next;
  }
  if (halfWidth * 2 > nonBlank) signs.MostlyHalfWidth = true;
}

// Windows-1252 letters of the Western languages.
bool IsLatinUpper(uint8_t b) { return (b >= 0xC0 && b <= 0xDE && b != 0xD7) || b == 0x8C; }
bool IsLatinLower(uint8_t b) { return (b >= 0xDF && b != 0xF7) || b == 0x9C; }
bool IsAsciiUpper(uint8_t b) { return b >= 'A' && b <= 'Z'; }
bool IsAsciiLower(uint8_t b) { return b >= 'a' && b <= 'z'; }
// Windows-1252 signs that Western titles carry: euro, ellipsis, quotes, bullet, dashes, trade
// mark, and the symbols from U+00A0 to U+00BF.
bool IsLatinSign(uint8_t b) {
  return b == 0x80 || b == 0x85 || (b >= 0x91 && b <= 0x97) || b == 0x99 || (b >= 0xA0 && b <= 0xBF);
}

// The Windows-1252 reading of bytes with non-ASCII codes looks like Western words: every accented
// letter stands in a word beside an ASCII letter (a small letter is not followed by a capital, a
// capital does not follow a small letter), an apostrophe (U+2019) stands inside a word, the other
// codes are common signs, and there is at least one accented letter or apostrophe. Two bytes
// alone are one kanji rather than a word.
bool ReadsAsWesternWords(std::string_view bytes) {
  if (bytes.size() <= 2) return false;
  bool letters = false;
  for (size_t i = 0; i < bytes.size(); ++i) {
    const uint8_t b = static_cast<uint8_t>(bytes[i]);
    if (b < 0x80) continue;
    const uint8_t prev = i > 0 ? static_cast<uint8_t>(bytes[i - 1]) : 0;
    const uint8_t next = i + 1 < bytes.size() ? static_cast<uint8_t>(bytes[i + 1]) : 0;
    if (IsLatinLower(b)) {
      if (IsAsciiUpper(next) || !(IsAsciiLetter(prev) || IsAsciiLower(next))) return false;
      letters = true;
    } else if (IsLatinUpper(b)) {
      if (IsAsciiLower(prev) || !(IsAsciiUpper(prev) || IsAsciiLetter(next))) return false;
      letters = true;
    } else if (b == 0x92 && IsAsciiLetter(prev) && IsAsciiLetter(next)) {
      letters = true;
    } else if (!IsLatinSign(b)) {
      return false;
    }
  }
  return letters;
}

bool HoldsNonAscii(std::string_view bytes) {
  return std::any_of(bytes.begin(), bytes.end(), [](char c) { return static_cast<uint8_t>(c) >= 0x80; });
}

// Codes that Windows-1252 leaves unassigned: text holding them is not Windows-1252.
bool HoldsUnassigned1252(std::string_view bytes) {
  return bytes.find_first_of(std::string_view("\x81\x8D\x8F\x90\x9D", 5)) != std::string_view::npos;
}

}  // namespace

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(text[i])) != prefix[i]) return false;
  return true;
}

bool IsValidUtf8(std::string_view bytes) {
  size_t i = 0;
  const size_t n = bytes.size();
  while (i < n) {
    const uint8_t c = static_cast<uint8_t>(bytes[i]);
    if (c < 0x80) {
      ++i;
      continue;
    }
    size_t len;
    uint32_t cp;
    if (c >= 0xC2 && c <= 0xDF) {
      len = 2;
      cp = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
      len = 3;
      cp = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      len = 4;
      cp = c & 0x07;
    } else {
      return false;
    }
    if (n - i < len) return false;
    for (size_t k = 1; k < len; ++k) {
      const uint8_t t = static_cast<uint8_t>(bytes[i + k]);
      if ((t & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (t & 0x3F);
    }
    if ((len == 3 && cp < 0x800) || (len == 4 && (cp < 0x10000 || cp > 0x10FFFF)) ||
        (cp >= 0xD800 && cp <= 0xDFFF))
      return false;
    i += len;
  }
  return true;
}

std::string_view WithoutCutUtf8Character(std::string_view bytes) {
  const size_t n = bytes.size();
  size_t start = n;
  for (size_t k = 1; k <= std::min<size_t>(3, n); ++k) {
    if ((static_cast<uint8_t>(bytes[n - k]) & 0xC0) != 0x80) {
      start = n - k;
      break;
    }
  }
  if (start == n) return bytes;
  const uint8_t lead = static_cast<uint8_t>(bytes[start]);
  const size_t length = lead >= 0xC2 && lead <= 0xDF ? 2 : lead >= 0xE0 && lead <= 0xEF ? 3 : lead >= 0xF0 && lead <= 0xF4 ? 4 : 0;
  if (length <= n - start) return bytes;
  // The second byte's range, narrower after some lead bytes (no overlong forms, surrogates or values
  // above U+10FFFF).
  if (n - start >= 2) {
    const uint8_t second = static_cast<uint8_t>(bytes[start + 1]);
    const uint8_t low = lead == 0xE0 ? 0xA0 : lead == 0xF0 ? 0x90 : 0x80;
    const uint8_t high = lead == 0xED ? 0x9F : lead == 0xF4 ? 0x8F : 0xBF;
    if (second < low || second > high) return bytes;
  }
  return bytes.substr(0, start);
}

std::string Windows1252ToUtf8(std::string_view bytes) {
  std::string out;
  if (IconvToUtf8("WINDOWS-1252", bytes, true, out)) return out;
  // Without the code page in the system's iconv: ISO-8859-1, the codes 0x80 to 0x9F unknown.
  out.clear();
  for (const char ch : bytes) {
    const uint8_t c = static_cast<uint8_t>(ch);
    AppendCodePoint(out, c >= 0x80 && c < 0xA0 ? 0xFFFD : c);
  }
  return out;
}

bool Cp932ToUtf8(std::string_view bytes, std::string& out) { return IconvToUtf8("CP932", bytes, false, out); }

TEightBitCharset EightBitCharset(std::span<const std::string_view> fields) {
  if (std::all_of(fields.begin(), fields.end(), [](std::string_view f) { return IsValidUtf8(f); }))
    return TEightBitCharset::Utf8;
  TJapaneseSigns signs;
  bool not1252 = false;
  bool western = true;  // every field with non-ASCII codes reads as Western words
  std::string reading;
  for (const std::string_view field : fields) {
    if (!Cp932ToUtf8(field, reading)) return TEightBitCharset::Windows1252;
    ScanCp932Reading(reading, signs);
    if (signs.Impossible) return TEightBitCharset::Windows1252;
    not1252 |= HoldsUnassigned1252(field);
    if (HoldsNonAscii(field) && !ReadsAsWesternWords(field)) western = false;
  }
  if (not1252) return TEightBitCharset::Cp932;
  if (!signs.FullWidthKana && !signs.Kanji && !signs.MostlyHalfWidth) return TEightBitCharset::Windows1252;
  // An accented Western letter pairs with the next byte into a kanji ("Jo" + kanji from "Jo\xE3o"),
  // never into full-width kana.
  if (!signs.FullWidthKana && western) return TEightBitCharset::Windows1252;
  return TEightBitCharset::Cp932;
}

std::string EightBitToUtf8(std::string_view bytes, TEightBitCharset charset) {
  std::string out;
  switch (charset) {
    case TEightBitCharset::Utf8: return std::string(bytes);
    case TEightBitCharset::Cp932:
      if (Cp932ToUtf8(bytes, out)) return out;
      break;
    case TEightBitCharset::Windows1252:
      if (IsValidUtf8(bytes)) return std::string(bytes);
      break;
  }
  return Windows1252ToUtf8(bytes);
}

std::string AnsiToUtf8(std::string_view bytes) {
  const std::string_view field[] = {bytes};
  return EightBitToUtf8(bytes, EightBitCharset(field));
}

std::string TerminalText(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const uint8_t c = static_cast<uint8_t>(text[i]);
    const bool c1 = c == 0xC2 && i + 1 < text.size() && static_cast<uint8_t>(text[i + 1]) < 0xA0;
    if (c < 0x20 || c == 0x7F || c1) {
      out += "\xEF\xBF\xBD";
      if (c1) ++i;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

std::string Utf16ToUtf8(const uint8_t* bytes, size_t units, bool bigEndian) {
  std::string out;
  size_t i = 0;
  auto unit = [&](size_t k) -> uint32_t {
    const uint8_t a = bytes[2 * k];
    const uint8_t b = bytes[2 * k + 1];
    return bigEndian ? static_cast<uint32_t>((a << 8) | b) : static_cast<uint32_t>((b << 8) | a);
  };
  if (units > 0) {
    if (bytes[0] == 0xFF && bytes[1] == 0xFE) {
      bigEndian = false;
      i = 1;
    } else if (bytes[0] == 0xFE && bytes[1] == 0xFF) {
      bigEndian = true;
      i = 1;
    }
  }
  out.reserve((units - i) * 3);
  for (; i < units; ++i) {
    const uint32_t u = unit(i);
    if (u == 0) break;
    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units) {
      const uint32_t low = unit(i + 1);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        AppendCodePoint(out, 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00));
        ++i;
        continue;
      }
    }
    AppendCodePoint(out, u >= 0xD800 && u <= 0xDFFF ? 0xFFFD : u);
  }
  return out;
}

size_t Utf8Length(std::string_view text) {
  size_t count = 0;
  for (const char ch : text)
    if ((static_cast<uint8_t>(ch) & 0xC0) != 0x80) ++count;
  return count;
}

}  // namespace plumo

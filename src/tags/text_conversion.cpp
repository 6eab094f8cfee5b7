#include "text_conversion.h"

#include <iconv.h>

#include <array>
#include <cerrno>

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

// Whole-input conversion; false when any byte sequence is invalid or incomplete.
bool Cp932ToUtf8(std::string_view bytes, std::string& out) {
  IconvHandle cd("UTF-8", "CP932");
  if (!cd.Valid()) return false;
  std::string result(bytes.size() * 3 + 4, '\0');  // a CP932 character is at most 3 UTF-8 bytes
  char* in = const_cast<char*>(bytes.data());
  size_t inLeft = bytes.size();
  char* dst = result.data();
  size_t outLeft = result.size();
  if (iconv(cd.Get(), &in, &inLeft, &dst, &outLeft) == static_cast<size_t>(-1) || inLeft != 0) return false;
  if (iconv(cd.Get(), nullptr, nullptr, &dst, &outLeft) == static_cast<size_t>(-1)) return false;
  result.resize(result.size() - outLeft);
  out = std::move(result);
  return true;
}

constexpr std::array<uint16_t, 32> kWindows1252High = {
    0x20AC, 0xFFFD, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0xFFFD, 0x017D, 0xFFFD, 0xFFFD, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0xFFFD, 0x017E, 0x0178};

}  // namespace

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

std::string Windows1252ToUtf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size() * 2);
  for (const char ch : bytes) {
    const uint8_t c = static_cast<uint8_t>(ch);
    AppendCodePoint(out, c >= 0x80 && c < 0xA0 ? kWindows1252High[c - 0x80] : c);
  }
  return out;
}

std::string AnsiToUtf8(std::string_view bytes) {
  if (IsValidUtf8(bytes)) return std::string(bytes);
  std::string out;
  if (Cp932ToUtf8(bytes, out)) return out;
  return Windows1252ToUtf8(bytes);
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

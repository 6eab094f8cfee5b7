// Conversion of tag text to UTF-8.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace plumo {

// True when the bytes are well-formed UTF-8 (no overlong forms, surrogates or values above
// U+10FFFF).
bool IsValidUtf8(std::string_view bytes);

// 8-bit tag text to UTF-8: valid UTF-8 stays as it is; otherwise the bytes are decoded as CP932
// (Shift-JIS) when that succeeds, else as Windows-1252.
std::string AnsiToUtf8(std::string_view bytes);

// Windows-1252 to UTF-8 (the five unassigned codes become U+FFFD).
std::string Windows1252ToUtf8(std::string_view bytes);

// UTF-16 text of `units` code units at `bytes` to UTF-8. A leading byte-order mark is dropped and
// selects the byte order; without one, bigEndian decides. The text ends at the first NUL unit;
// unpaired surrogates become U+FFFD.
std::string Utf16ToUtf8(const uint8_t* bytes, size_t units, bool bigEndian = false);

// Number of code points in UTF-8 text.
size_t Utf8Length(std::string_view text);

}  // namespace plumo

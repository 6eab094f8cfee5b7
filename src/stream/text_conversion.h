// Conversion of tag and network text to UTF-8, and the ASCII comparisons their parsers share.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace plumo {

// True when text begins with prefix, ASCII letters compared without case; prefix is lower case.
bool StartsWithNoCase(std::string_view text, std::string_view prefix);

// True when the bytes are well-formed UTF-8 (no overlong forms, surrogates or values above
// U+10FFFF).
bool IsValidUtf8(std::string_view bytes);

// The bytes without a UTF-8 character cut short at their very end (a lead byte followed by fewer
// continuation bytes than it announces); the bytes as they are when they do not end so.
std::string_view WithoutCutUtf8Character(std::string_view bytes);

// How the 8-bit text fields of one tag are read.
enum class TEightBitCharset : uint8_t { Utf8, Cp932, Windows1252 };

// The charset of one tag's 8-bit text fields, decided over all of them together: UTF-8 when every
// field is valid UTF-8; else CP932 (Shift-JIS) when every field decodes as CP932 and the text is
// plausibly Japanese; else Windows-1252.
TEightBitCharset EightBitCharset(std::span<const std::string_view> fields);

// One field in the tag's charset. Under Windows-1252 a field that is valid UTF-8 stays as it is:
// Western 8-bit text is practically never valid UTF-8 once it holds a non-ASCII character.
std::string EightBitToUtf8(std::string_view bytes, TEightBitCharset charset);

// A field that is a tag of its own: EightBitToUtf8 with the charset decided for it alone.
std::string AnsiToUtf8(std::string_view bytes);

// Windows-1252 to UTF-8 (the five unassigned codes become U+FFFD).
std::string Windows1252ToUtf8(std::string_view bytes);

// CP932 to UTF-8; false when any byte sequence is invalid or incomplete.
bool Cp932ToUtf8(std::string_view bytes, std::string& out);

// Text for a terminal: control characters (C0, DEL and C1) become U+FFFD, so that no tag moves
// the cursor, changes the terminal's state or starts a line of its own.
std::string TerminalText(std::string_view text);

// UTF-16 text of `units` code units at `bytes` to UTF-8. A leading byte-order mark is dropped and
// selects the byte order; without one, bigEndian decides. The text ends at the first NUL unit;
// unpaired surrogates become U+FFFD.
std::string Utf16ToUtf8(const uint8_t* bytes, size_t units, bool bigEndian = false);

// Number of code points in UTF-8 text.
size_t Utf8Length(std::string_view text);

}  // namespace plumo
